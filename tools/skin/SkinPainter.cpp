#include "SkinPainter.h"

#include "Palette.h"
#include "Resources.h"
#include "SkinGeometry.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <functional>

namespace velora::skin {

namespace {

using Field = std::function<double(QPointF)>;

QRgb Mix(QRgb under, const QColor& over, double alpha) {
    alpha = std::clamp(alpha, 0.0, 1.0);
    const auto ch = [alpha](int a, int b) {
        return static_cast<int>(std::lround(a + (b - a) * alpha));
    };
    return qRgb(ch(qRed(under), over.red()), ch(qGreen(under), over.green()),
                ch(qBlue(under), over.blue()));
}

// Visits every pixel centre within `reach` pixels outside the field's zero line, over `bounds`.
void ForEachNear(QImage& image, const QRect& bounds, const Field& field, double reach,
                 const std::function<void(QRgb&, double, QPointF)>& visit) {
    const QRect r = bounds.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = r.left(); x <= r.right(); ++x) {
            const QPointF p(x + 0.5, y + 0.5);
            const double d = field(p);
            if (d < reach) {
                visit(row[x], d, p);
            }
        }
    }
}

// Outward unit normal of a field at p, by central differences.
QPointF Normal(const Field& field, QPointF p) {
    const double dx = field(p + QPointF(0.5, 0)) - field(p - QPointF(0.5, 0));
    const double dy = field(p + QPointF(0, 0.5)) - field(p - QPointF(0, 0.5));
    const double len = std::hypot(dx, dy);
    return len > 1e-9 ? QPointF(dx / len, dy / len) : QPointF(0, 0);
}

// How much an edge with outward normal n faces the light, which comes from the upper left.
double Lit(QPointF n) {
    return -(n.x() + n.y()) * 0.70710678;
}

void Fill(QImage& image, const QRect& bounds, const Field& field, const QColor& colour) {
    ForEachNear(image, bounds, field, 0.5,
                [&](QRgb& px, double d, QPointF) { px = Mix(px, colour, Coverage(d)); });
}

// A raised rim: light on the edges that face the light, shade on the others.
void Bevel(QImage& image, const QRect& bounds, const Field& field, double width, double light,
           double shade) {
    ForEachNear(image, bounds, field, 0.0, [&](QRgb& px, double d, QPointF p) {
        if (d < -width) {
            return;
        }
        const double falloff = 1.0 - (-d / width);
        const double lit = Lit(Normal(field, p));
        if (lit > 0) {
            px = Mix(px, RimLight, lit * light * falloff);
        } else {
            px = Mix(px, Edge, -lit * shade * falloff);
        }
    });
}

// A recess: its inner edge is shaded where the rim faces the light and lit opposite.
// The rim's profile is measured in skin pixels, d / scale, so a finer drawing keeps its width.
void Inset(QImage& image, const QRect& bounds, const Field& field, const QColor& lightEdge,
           double scale) {
    ForEachNear(image, bounds, field, 0.5, [&](QRgb& px, double d, QPointF p) {
        const double skinD = d / scale;
        if (skinD < -2.0) {
            return;
        }
        const double edge = std::clamp(1.5 - std::abs(skinD + 0.75), 0.0, 1.0) * Coverage(d);
        const double lit = Lit(Normal(field, p));
        px = lit < 0 ? Mix(px, lightEdge, -lit * edge) : Mix(px, Edge, lit * 0.6 * edge);
    });
}

void DropShadow(QImage& image, const QRect& bounds, const Field& field, double spread) {
    ForEachNear(image, bounds, field, spread, [&](QRgb& px, double d, QPointF) {
        if (d > 0) {
            px = Mix(px, Edge, 0.45 * std::pow(1.0 - d / spread, 2));
        }
    });
}

// The painted parts draw in skin pixels; the painter scales them to the image.
void DrawBody(QImage& image, double scale) {
    QPainter p(&image);
    p.scale(scale, scale);
    QLinearGradient body(0, 88, 0, 732);
    body.setColorAt(0, BodyTop);
    body.setColorAt(1, BodyBottom);
    const QRect skin(0, 0, SkinWidth, SkinHeight);
    p.fillRect(skin, body);
    // A broad sheen from the upper left keeps the large dark areas from looking flat.
    QRadialGradient sheen(QPointF(260, 120), 620);
    sheen.setColorAt(0, QColor(255, 255, 255, 26));
    sheen.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(skin, sheen);
}

void DrawWordmark(QImage& image, double scale) {
    QPainter p(&image);
    p.scale(scale, scale);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont mark(QStringLiteral("NanumSquare"));
    mark.setBold(true);
    mark.setPixelSize(26);
    mark.setLetterSpacing(QFont::AbsoluteSpacing, 7);
    p.setFont(mark);
    p.setPen(Ink);
    p.drawText(QRect(150, 100, 300, 34), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("VELORA"));
    QFont sub(QStringLiteral("NanumSquare"));
    sub.setPixelSize(10);
    sub.setLetterSpacing(QFont::AbsoluteSpacing, 3.2);
    p.setFont(sub);
    p.setPen(InkDim);
    p.drawText(QRect(152, 134, 300, 14), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("PHOTO RESTYLER"));
    // The accent lamp beside the name.
    p.setPen(Qt::NoPen);
    QRadialGradient lamp(QPointF(137, 118), 6);
    lamp.setColorAt(0, AccentLight);
    lamp.setColorAt(0.6, Accent);
    lamp.setColorAt(1, AccentDark);
    p.setBrush(lamp);
    p.drawEllipse(QPointF(137, 118), 4.5, 4.5);
}

// Grip ridges in the top band: this is where the window is dragged.
void DrawGrip(QImage& image, double scale) {
    QPainter p(&image);
    p.scale(scale, scale);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 16; ++col) {
            const QPointF c(486 + col * 9 + (row % 2) * 4.5, 112 + row * 8);
            p.setBrush(QColor(0, 0, 0, 150));
            p.drawEllipse(c, 1.7, 1.7);
            p.setBrush(QColor(255, 255, 255, 40));
            p.drawEllipse(c + QPointF(0.6, 0.8), 1.1, 1.1);
        }
    }
}

// A quiet foot: the model mark and a short engraved line under the picture.
void DrawFoot(QImage& image, double scale) {
    QPainter p(&image);
    p.scale(scale, scale);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont mark(QStringLiteral("NanumSquare"));
    mark.setBold(true);
    mark.setPixelSize(11);
    mark.setLetterSpacing(QFont::AbsoluteSpacing, 3);
    p.setFont(mark);
    const QRect text(436, 676, 200, 16);
    p.setPen(QColor(0, 0, 0, 140));
    p.drawText(text.translated(0, -1), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("VLR 3"));
    p.setPen(QColor(255, 255, 255, 46));
    p.drawText(text.translated(0, 1), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("VLR 3"));
    p.setPen(InkDim);
    p.drawText(text, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("VLR 3"));
    p.setPen(QPen(QColor(0, 0, 0, 130), 1.0));
    p.drawLine(QPointF(150, 683.5), QPointF(566, 683.5));
    p.setPen(QPen(QColor(255, 255, 255, 30), 1.0));
    p.drawLine(QPointF(150, 684.5), QPointF(566, 684.5));
}

void KeyOutside(QImage& image, int scale) {
    const QColor key(static_cast<QRgb>(SkinKeyRgb));  // opaque
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            // The window's shape is cut at its own size, so a finer drawing keys exactly the
            // blocks of the skin pixels that are keyed, never a part of one that is shown.
            const QPointF skinCentre(x / scale + 0.5, y / scale + 0.5);
            if (Coverage(ShapeDistance(skinCentre)) <= 0.0) {
                row[x] = key.rgb();
                continue;
            }
            const double d = scale * ShapeDistance(QPointF((x + 0.5) / scale, (y + 0.5) / scale));
            const double cover = Coverage(d);
            // The last pixel and a half darken into the outline colour, and the partly covered
            // pixels blend with it too, never with the key, so no pink fringe appears.
            const double inner = std::clamp(-d / (1.5 * scale), 0.0, 1.0);
            row[x] = Mix(Mix(row[x], Edge, 1.0 - inner), Edge, 1.0 - cover);
        }
    }
}

// A field of the skin as distances in image pixels of a drawing `scale` times as fine.
Field Scaled(double (*field)(QPointF), double scale) {
    return [field, scale](QPointF p) { return scale * field(p / scale); };
}

QRect ScaledRect(const QRect& r, int scale) {
    return QRect(r.topLeft() * scale, r.size() * scale);
}

}  // namespace

QImage DrawSkin(int scale) {
    QImage image(SkinWidth * scale, SkinHeight * scale, QImage::Format_RGB32);
    const QRect all = image.rect();
    DrawBody(image, scale);
    Bevel(image, all, Scaled(ShapeDistance, scale), 7.0 * scale, 0.55, 0.5);

    const QRect frameBounds = ScaledRect(QRect(120, 140, 540, 540), scale);
    const Field frameWell = Scaled(FrameWellDistance, scale);
    Fill(image, frameBounds, frameWell, Well);
    Inset(image, frameBounds, frameWell, WellEdge, scale);
    const QRect progressBounds = ScaledRect(QRect(70, 300, 90, 200), scale);
    const Field progressWell = Scaled(ProgressWellDistance, scale);
    Fill(image, progressBounds, progressWell, Well);
    Inset(image, progressBounds, progressWell, WellEdge, scale);

    const QRect railBounds = ScaledRect(QRect(680, 90, 280, 300), scale);
    const Field rail = Scaled(RailDistance, scale);
    Fill(image, railBounds, rail, Rail);
    Inset(image, railBounds, rail, RailEdge, scale);

    const QRect panelBounds = ScaledRect(QRect(756, 370, 230, 200), scale);
    const Field panel = Scaled(PanelDistance, scale);
    DropShadow(image, panelBounds, panel, 7.0 * scale);
    Fill(image, panelBounds, panel, Panel);
    ForEachNear(image, panelBounds, panel, 0.5, [scale](QRgb& px, double d, QPointF) {
        const double edge = std::clamp(1.2 - std::abs(d / scale + 0.6), 0.0, 1.0) * Coverage(d);
        px = Mix(px, PanelEdge, edge);
    });

    DrawWordmark(image, scale);
    DrawGrip(image, scale);
    DrawFoot(image, scale);
    KeyOutside(image, scale);
    return image.convertToFormat(QImage::Format_RGB888);
}

}  // namespace velora::skin
