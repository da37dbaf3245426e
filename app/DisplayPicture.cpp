#include "DisplayPicture.h"

#include <QTransform>

#include <cmath>

#include "ImageProperties.h"
#include "Orientation.h"
#include "WindowGeometry.h"

namespace velora {

namespace {

constexpr std::uint32_t OrientationTag = 0x0112;

// The stored picture (already scaled) turned and mirrored to stand upright; every pixel moves
// whole, nothing is resampled.
QImage Upright(const QImage& stored, int orientation) {
    const auto quarter = [&stored](int degrees) {
        return stored.transformed(QTransform().rotate(degrees), Qt::FastTransformation);
    };
    switch (orientation) {
        case 2:
            return stored.mirrored(true, false);
        case 3:
            return stored.mirrored(true, true);
        case 4:
            return stored.mirrored(false, true);
        case 5:
            return quarter(90).mirrored(true, false);
        case 6:
            return quarter(90);
        case 7:
            return quarter(90).mirrored(false, true);
        case 8:
            return quarter(270);
        default:
            return stored;
    }
}

QSize DeviceSize(const QSize& logical, qreal ratio) {
    return QSize(static_cast<int>(std::lround(logical.width() * ratio)),
                 static_cast<int>(std::lround(logical.height() * ratio)));
}

}  // namespace

QRect DisplayPicture::Target() const {
    return HasPicture()
               ? FitPicture(static_cast<unsigned>(ShownWidth), static_cast<unsigned>(ShownHeight))
               : QRect();
}

bool DisplayPicture::IsFor(qreal devicePixelRatio) const {
    return Image.isNull() || Image.size() == DeviceSize(Target().size(), devicePixelRatio);
}

int PictureOrientation(WorkingBitmap& picture) {
    const std::unique_ptr<PropertyItem> item = ImageProperties(picture).GetItem(OrientationTag);
    if (!item || item->type != PropertyTagTypeShort || item->value.size() < 2) {
        return 1;
    }
    const int value = item->bigEndian ? (item->value[0] << 8) | item->value[1]
                                      : item->value[0] | (item->value[1] << 8);
    return NormalOrientation(value);
}

DisplayPicture MakeDisplayPicture(WorkingBitmap& picture, int orientation, qreal devicePixelRatio) {
    DisplayPicture shown;
    const int width = static_cast<int>(picture.Width());
    const int height = static_cast<int>(picture.Height());
    if (width <= 0 || height <= 0) {
        return shown;
    }
    shown.Orientation = NormalOrientation(orientation);
    shown.StoredWidth = width;
    shown.StoredHeight = height;
    const PixelPoint upright = ShownSize(shown.Orientation, width, height);
    shown.ShownWidth = upright.X;
    shown.ShownHeight = upright.Y;
    const QSize device = DeviceSize(shown.Target().size(), devicePixelRatio);
    if (device.isEmpty()) {
        return shown;  // a strip too thin to be drawn at all
    }
    BitmapData data;
    const Rect whole{0, 0, width, height};
    if (picture.LockBits(whole, ImageLockModeRead, PixelFormat24bppRGB, &data) != Status::Ok) {
        return shown;
    }
    const QImage view(data.Scan0, width, height, data.Stride, QImage::Format_BGR888);
    const QSize stored = SwapsSides(shown.Orientation) ? device.transposed() : device;
    // A picture that needs no scaling is copied, so nothing refers to the bitmap's rows later.
    QImage scaled = stored == view.size()
                        ? view.copy()
                        : view.scaled(stored, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    picture.UnlockBits(&data);
    shown.Image = Upright(scaled, shown.Orientation);
    shown.Image.setDevicePixelRatio(devicePixelRatio);
    return shown;
}

}  // namespace velora
