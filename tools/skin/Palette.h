// One palette for the skin, the faces, the tracks and the icon: graphite body, pale warm control
// panel, silver keys and an amber accent.
#pragma once

#include <QColor>

namespace velora::skin {

inline const QColor kEdge(16, 19, 23);  // anti-aliased outline, blends to this
inline const QColor kBodyTop(52, 60, 71);
inline const QColor kBodyBottom(29, 34, 41);
inline const QColor kRimLight(96, 108, 122);  // highlight just inside the outline
inline const QColor kRail(22, 26, 32);        // flat ground under the push buttons
inline const QColor kRailEdge(70, 80, 93);
inline const QColor kWell(14, 17, 21);  // recess round the picture and the progress bar
inline const QColor kWellEdge(78, 88, 101);
inline const QColor kPanel(232, 228, 219);  // light ground of the labels and options
inline const QColor kPanelEdge(170, 164, 152);
inline const QColor kAccent(242, 163, 58);  // amber
inline const QColor kAccentDark(196, 116, 24);
inline const QColor kAccentLight(255, 214, 150);
inline const QColor kInk(232, 236, 240);  // wordmark on the body
inline const QColor kInkDim(128, 139, 152);

}  // namespace velora::skin
