// Draws every bitmap and the icon of the program into a folder:
//   velora-skin-generator <out-dir> [--preview <file.png>]
// writes <out-dir>/bitmaps/<id>.png and <id>@2x.png, <out-dir>/icons/128*.png and the icon theme's
// <out-dir>/hicolor/<n>x<n>/apps/velora.png, ready to replace res/.
#include "FacePainter.h"
#include "IconPainter.h"
#include "Preview.h"
#include "Resources.h"
#include "SkinGeometry.h"
#include "SkinPainter.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <map>

namespace {

bool Save(const QImage& image, const QString& path) {
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s %dx%d\n", qPrintable(path), image.width(), image.height());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2 && !(args.size() == 4 && args[2] == QLatin1String("--preview"))) {
        std::fprintf(stderr, "usage: velora-skin-generator <out-dir> [--preview <file.png>]\n");
        return 2;
    }
    const QDir out(args[1]);
    if (!out.mkpath(QStringLiteral("bitmaps")) || !out.mkpath(QStringLiteral("icons"))) {
        std::fprintf(stderr, "cannot create folders in %s\n", qPrintable(args[1]));
        return 1;
    }

    using velora::skin::FaceState;
    namespace skin = velora::skin;
    // Each bitmap at its own size, and again with twice the pixels each way as "<id>@2x.png",
    // which Qt picks on screens with a device pixel ratio above 1.
    const auto drawAll = [](int scale) {
        std::map<int, QImage> bitmaps;
        bitmaps[velora::IDB_SKIN] = skin::DrawSkin(scale);
        bitmaps[velora::IDB_PUSH_NORMAL] = skin::DrawPushFace(FaceState::Normal, scale);
        bitmaps[velora::IDB_PUSH_MASK] = skin::DrawBlackMask(skin::PushFaceSize * scale);
        bitmaps[velora::IDB_PUSH_HOVER] = skin::DrawPushFace(FaceState::Hover, scale);
        bitmaps[velora::IDB_PUSH_DISABLED] = skin::DrawPushFace(FaceState::Disabled, scale);
        bitmaps[velora::IDB_PUSH_PRESSED] = skin::DrawPushFace(FaceState::Pressed, scale);
        bitmaps[velora::IDB_CHECK_HOVER] = skin::DrawCheckFace(FaceState::Hover, scale);
        bitmaps[velora::IDB_CHECK_PRESSED] = skin::DrawCheckFace(FaceState::Pressed, scale);
        bitmaps[velora::IDB_CHECK_NORMAL] = skin::DrawCheckFace(FaceState::Normal, scale);
        bitmaps[velora::IDB_CHECK_DISABLED] = skin::DrawCheckFace(FaceState::Disabled, scale);
        bitmaps[velora::IDB_CHECK_MASK] = skin::DrawBlackMask(skin::CheckFaceSize * scale);
        bitmaps[velora::IDB_SLIDER_CHANNEL] = skin::DrawTrack(false, scale);
        bitmaps[velora::IDB_SLIDER_ACTIVE] = skin::DrawTrack(true, scale);
        return bitmaps;
    };
    std::map<int, QImage> bitmaps = drawAll(1);
    std::map<int, QImage> doubled = drawAll(2);

    bool ok = true;
    for (auto& [id, image] : bitmaps) {
        // Every bitmap is 24-bit: PNG colour type 2, no alpha.
        image = image.convertToFormat(QImage::Format_RGB888);
        ok = Save(image, out.filePath(QStringLiteral("bitmaps/%1.png").arg(id))) && ok;
    }
    for (auto& [id, image] : doubled) {
        ok = Save(image.convertToFormat(QImage::Format_RGB888),
                  out.filePath(QStringLiteral("bitmaps/%1@2x.png").arg(id))) &&
             ok;
    }
    ok = Save(skin::DrawIcon(256),
              out.filePath(QStringLiteral("icons/%1.png").arg(velora::IDR_MAINFRAME))) &&
         ok;
    for (int size : {16, 32, 48}) {
        ok = Save(skin::DrawIcon(size),
                  out.filePath(
                      QStringLiteral("icons/%1-%2.png").arg(velora::IDR_MAINFRAME).arg(size))) &&
             ok;
    }
    // The desktop's icon theme: the same drawing at each size that menus, docks and file
    // managers ask for.
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
        const QString folder = QStringLiteral("hicolor/%1x%1/apps").arg(size);
        ok = out.mkpath(folder) &&
             Save(skin::DrawIcon(size), out.filePath(folder + QStringLiteral("/velora.png"))) && ok;
    }
    if (args.size() == 4) {
        ok = Save(skin::ComposePreview(bitmaps), args[3]) && ok;
    }
    return ok ? 0 : 1;
}
