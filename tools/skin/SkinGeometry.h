// Geometry of the skin: where the window puts its controls and texts, and the window's outline
// and panels as signed distance fields (negative inside), so that every edge can be
// anti-aliased by exact coverage and the outside keyed hard.
#pragma once

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <QString>

#include <vector>

namespace velora::skin {

constexpr int SkinWidth = 1000;
constexpr int SkinHeight = 800;
constexpr QSize PushFaceSize(80, 30);
constexpr QSize CheckFaceSize(20, 20);
constexpr QSize TrackSize(100, 20);
constexpr int TrackLeft = 8;    // pixel of the lowest value
constexpr int TrackRight = 92;  // pixel of the highest value

struct PlacedLabel {
    QString Text;
    QPoint TopLeft;
};
// Labels drawn black on the light panel, and the file name drawn in the frame.
std::vector<PlacedLabel> PanelLabels();
constexpr QPoint FileNamePoint(415, 610);

struct PlacedControl {
    int Id;
    QRect Pixels;  // as the window places it: dialog units x 1.75, then the face's own size
};
// The five push buttons in order Open, Save, Start, Cancel, Exit.
std::vector<PlacedControl> PushButtons();
// Check button 1008, check boxes 1009 and 1010, sliders 1013 and 1014, the progress bar.
std::vector<PlacedControl> PanelControls();
QRect ProgressBarRect();

// Signed distance, in pixels, of p to the window's outline (negative inside).
double ShapeDistance(QPointF p);
// The dark rail that carries the push buttons along the curved right edge.
double RailDistance(QPointF p);
// The light panel under the labels, check boxes and sliders.
double PanelDistance(QPointF p);
// The recess round the picture frame and round the progress bar.
double FrameWellDistance(QPointF p);
double ProgressWellDistance(QPointF p);

// Area coverage of a pixel centred at distance d from an edge: 1 deep inside, 0 outside.
double Coverage(double d);

}  // namespace velora::skin
