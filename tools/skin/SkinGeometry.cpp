#include "SkinGeometry.h"

#include "Resources.h"

#include <algorithm>
#include <cmath>

namespace velora::skin {

namespace {

// Centre and radius of the arc that the push buttons step along; its outer edge is the window's
// right edge, so each button keeps about the same distance from it.
constexpr double ArcCx = 496.0;
constexpr double ArcCy = 400.0;
constexpr double ArcRadius = 430.0;

double RoundBox(QPointF p, double left, double top, double right, double bottom, double radius) {
    const double cx = (left + right) / 2, cy = (top + bottom) / 2;
    const double hx = (right - left) / 2 - radius, hy = (bottom - top) / 2 - radius;
    const double qx = std::abs(p.x() - cx) - hx, qy = std::abs(p.y() - cy) - hy;
    const double ox = std::max(qx, 0.0), oy = std::max(qy, 0.0);
    return std::hypot(ox, oy) + std::min(std::max(qx, qy), 0.0) - radius;
}

double Circle(QPointF p, double cx, double cy, double r) {
    return std::hypot(p.x() - cx, p.y() - cy) - r;
}

// Polynomial smooth minimum: a union whose seam is rounded over about k pixels.
double SmoothMin(double a, double b, double k) {
    const double h = std::max(k - std::abs(a - b), 0.0) / k;
    return std::min(a, b) - h * h * k * 0.25;
}

double SmoothMax(double a, double b, double k) {
    return -SmoothMin(-a, -b, k);
}

}  // namespace

std::vector<PlacedLabel> PanelLabels() {
    return {{QStringLiteral("Color"), {795, 398}},
            {QStringLiteral("Gray"), {795, 426}},
            {QStringLiteral("Gray Contrast"), {823, 461}},
            {QStringLiteral("Reddish Film"), {843, 493}},
            {QStringLiteral("Blueish Film"), {843, 517}}};
}

namespace {

QRect Placed(int id, QSize ownSize) {
    const DialogItem* item = FindDialogTemplate(IDD_MAIN_DIALOG)->Find(id);
    QRect r = DialogUnitsToPixels(item->Units);
    if (ownSize.isValid()) {
        r.setSize(ownSize);
    }
    return r;
}

}  // namespace

std::vector<PlacedControl> PushButtons() {
    std::vector<PlacedControl> out;
    for (int id : {IDC_OPEN, IDC_SAVE, IDC_START, IDC_CANCEL_CONVERSION, IDOK}) {
        out.push_back({id, Placed(id, PushFaceSize)});
    }
    return out;
}

QRect ProgressBarRect() {
    return Placed(IDC_PROGRESS, QSize());
}

std::vector<PlacedControl> PanelControls() {
    return {{IDC_GRAY_CONTRAST, Placed(IDC_GRAY_CONTRAST, CheckFaceSize)},
            {IDC_REDDISH_FILM, Placed(IDC_REDDISH_FILM, QSize())},
            {IDC_BLUEISH_FILM, Placed(IDC_BLUEISH_FILM, QSize())},
            {IDC_SLIDER_COLOR, Placed(IDC_SLIDER_COLOR, TrackSize)},
            {IDC_SLIDER_GRAY, Placed(IDC_SLIDER_GRAY, TrackSize)}};
}

double ShapeDistance(QPointF p) {
    const double body = RoundBox(p, 40, 88, 700, 732, 72);
    // The arc, cut to the body's height with rounded corners where it meets top and bottom.
    // Body and arc share their top and bottom lines, so they are joined hard: a smooth join
    // would bulge along the shared line.
    const double slab = std::abs(p.y() - 410.0) - 322.0;
    const double arc = SmoothMax(Circle(p, ArcCx, ArcCy, ArcRadius), slab, 70);
    const double pod = RoundBox(p, 756, 368, 980, 568, 34);
    return SmoothMin(std::min(body, arc), pod, 56);
}

double RailDistance(QPointF p) {
    constexpr double CentreRadius = 357.0;
    constexpr double HalfWidth = 60.0;
    constexpr double StartAngle = -0.72;  // centre of the round cap above Open
    const double dx = p.x() - ArcCx, dy = p.y() - ArcCy;
    double d;
    if (std::atan2(dy, dx) < StartAngle) {
        const double cx = CentreRadius * std::cos(StartAngle);
        const double cy = CentreRadius * std::sin(StartAngle);
        d = std::hypot(dx - cx, dy - cy) - HalfWidth;
    } else {
        d = std::abs(std::hypot(dx, dy) - CentreRadius) - HalfWidth;
    }
    // The lower end is cut level just under Exit, clear of the option panel.
    return SmoothMax(d, p.y() - 376.0, 16);
}

double PanelDistance(QPointF p) {
    return RoundBox(p, 776, 384, 966, 552, 16);
}

double FrameWellDistance(QPointF p) {
    return RoundBox(p, 134, 154, 638, 658, 18);
}

double ProgressWellDistance(QPointF p) {
    const QRect r = ProgressBarRect();
    return RoundBox(p, r.left() - 9, r.top() - 9, r.right() + 10, r.bottom() + 10, 12);
}

double Coverage(double d) {
    return std::clamp(0.5 - d, 0.0, 1.0);
}

}  // namespace velora::skin
