// One palette for the skin, the faces, the tracks and the icon: graphite body, pale warm control
// panel, silver keys and an amber accent.
#pragma once

#include <QColor>

namespace velora::skin {

inline const QColor Edge(16, 19, 23);  // anti-aliased outline, blends to this
inline const QColor BodyTop(52, 60, 71);
inline const QColor BodyBottom(29, 34, 41);
inline const QColor RimLight(96, 108, 122);  // highlight just inside the outline
inline const QColor Rail(22, 26, 32);        // flat ground under the push buttons
inline const QColor RailEdge(70, 80, 93);
inline const QColor Well(14, 17, 21);  // recess round the picture and the progress bar
inline const QColor WellEdge(78, 88, 101);
inline const QColor Panel(232, 228, 219);  // light ground of the labels and options
inline const QColor PanelEdge(170, 164, 152);
inline const QColor Accent(242, 163, 58);  // amber
inline const QColor AccentDark(196, 116, 24);
inline const QColor AccentLight(255, 214, 150);
inline const QColor Ink(232, 236, 240);  // wordmark on the body
inline const QColor InkDim(128, 139, 152);

}  // namespace velora::skin
