#include "AppTestSupport.h"

#include <QFile>

#include <cstring>

#include "ImageFile.h"
#include "Resources.h"

namespace velora {

namespace {

BitmapRef MakePicture(int width, int height, const std::function<Argb(int, int)>& colour) {
    BitmapRef picture = WorkingBitmap::CreateBlank(width, height);
    BitmapData data;
    const Rect whole{0, 0, width, height};
    if (picture->LockBits(whole, ImageLockModeRead | ImageLockModeWrite, PixelFormat24bppRGB,
                          &data) != Status::Ok) {
        return picture;
    }
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = data.Scan0 + static_cast<std::ptrdiff_t>(y) * data.Stride;
        for (int x = 0; x < width; ++x) {
            const Argb c = colour(x, y);
            row[3 * x] = static_cast<std::uint8_t>(c);
            row[3 * x + 1] = static_cast<std::uint8_t>(c >> 8);
            row[3 * x + 2] = static_cast<std::uint8_t>(c >> 16);
        }
    }
    picture->UnlockBits(&data);
    return picture;
}

}  // namespace

Argb PositionColour(int x, int y) {
    return Rgb(x % 256, y % 256, 128 + 4 * (x / 256) + (y / 256));
}

PictureFolder::PictureFolder() = default;

QString PictureFolder::WritePng(const QString& name, int width, int height,
                                const std::function<Argb(int, int)>& colour) {
    const QString path = Path(name);
    BitmapRef picture = MakePicture(width, height, colour);
    return SavePng(*picture, path.toStdString()).Ok ? path : QString();
}

QString PictureFolder::WriteJpeg(const QString& name, int width, int height,
                                 const std::function<Argb(int, int)>& colour) {
    const QString path = Path(name);
    BitmapRef picture = MakePicture(width, height, colour);
    return SaveJpeg(*picture, path.toStdString()).Ok ? path : QString();
}

QString PictureFolder::WriteText(const QString& name, const QByteArray& bytes) {
    const QString path = Path(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        return QString();
    }
    return path;
}

bool SamePixels(WorkingBitmap& a, WorkingBitmap& b) {
    const int w = static_cast<int>(a.Width());
    const int h = static_cast<int>(a.Height());
    if (w != static_cast<int>(b.Width()) || h != static_cast<int>(b.Height())) {
        return false;
    }
    // Private copies, so a thread still writing either picture does not matter here.
    BitmapRef ca = a.Clone(0, 0, w, h);
    BitmapRef cb = b.Clone(0, 0, w, h);
    if (!ca || !cb) {
        return false;
    }
    BitmapData da;
    BitmapData db;
    const Rect whole{0, 0, w, h};
    if (ca->LockBits(whole, ImageLockModeRead, PixelFormat24bppRGB, &da) != Status::Ok ||
        cb->LockBits(whole, ImageLockModeRead, PixelFormat24bppRGB, &db) != Status::Ok) {
        return false;
    }
    bool same = true;
    for (int y = 0; y < h && same; ++y) {
        same = std::memcmp(da.Scan0 + static_cast<std::ptrdiff_t>(y) * da.Stride,
                           db.Scan0 + static_cast<std::ptrdiff_t>(y) * db.Stride,
                           static_cast<std::size_t>(w) * 3) == 0;
    }
    ca->UnlockBits(&da);
    cb->UnlockBits(&db);
    return same;
}

long CountPixels(WorkingBitmap& picture, Argb colour) {
    long count = 0;
    const unsigned w = picture.Width();
    const unsigned h = picture.Height();
    for (unsigned y = 0; y < h; ++y) {
        for (unsigned x = 0; x < w; ++x) {
            Argb p = 0;
            if (picture.GetPixel(x, y, &p) == Status::Ok && p == colour) {
                ++count;
            }
        }
    }
    return count;
}

QString StateDifferences(MainDialog& dialog, ControlState state, int progressValue) {
    struct Row {
        bool Open, Save, Start, Cancel, Exit, Checks, Films;
    };
    // The control-state table, one row per state.
    Row row{};
    switch (state) {
        case ControlState::NoPicture:
            row = {true, false, false, false, true, false, false};
            break;
        case ControlState::Ready:
            row = {true, false, true, false, true, true, true};
            break;
        case ControlState::Converting:
            row = {false, false, false, true, false, false, false};
            break;
        case ControlState::Converted:
            row = {true, true, false, true, true, false, false};
            break;
    }
    QStringList out;
    const auto expect = [&](int id, bool enabled) {
        if (dialog.Control(id)->isEnabled() != enabled) {
            out << QStringLiteral("control %1 is %2").arg(id).arg(enabled ? "off" : "on");
        }
    };
    expect(IDC_OPEN, row.Open);
    expect(IDC_SAVE, row.Save);
    expect(IDC_START, row.Start);
    expect(IDC_CANCEL_CONVERSION, row.Cancel);
    expect(IDOK, row.Exit);
    expect(IDC_CHECK_1006, row.Checks);
    expect(IDC_CHECK_1007, row.Checks);
    expect(IDC_GRAY_CONTRAST, row.Checks);
    // The hidden controls stay hidden in every state.
    for (int id : {IDC_CHECK_1006, IDC_CHECK_1007, IDC_SLIDER_1015}) {
        if (dialog.Control(id)->isVisible()) {
            out << QStringLiteral("control %1 is shown").arg(id);
        }
    }
    if (dialog.AreFilmOptionsAvailable() != row.Films) {
        out << QStringLiteral("FilmOptionsAvailable is %1").arg(dialog.AreFilmOptionsAvailable());
    }
    dialog.repaint();
    expect(IDC_REDDISH_FILM, row.Films);
    expect(IDC_BLUEISH_FILM, row.Films);
    if (progressValue >= 0 && dialog.Progress().value() != progressValue) {
        out << QStringLiteral("progress at %1").arg(dialog.Progress().value());
    }
    if (state != ControlState::Converted && progressValue >= 0 &&
        (dialog.Progress().minimum() != 0 || dialog.Progress().maximum() != 10)) {
        out << QStringLiteral("progress range %1-%2")
                   .arg(dialog.Progress().minimum())
                   .arg(dialog.Progress().maximum());
    }
    return out.join(QStringLiteral("; "));
}

}  // namespace velora
