#include "AppTestSupport.h"

#include <QFile>
#include <QImage>

namespace velora {

QString PictureFolder::Write(const QString& name, int width, int height,
                             const std::function<Argb(int, int)>& colour) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            row[x] = colour(x, y);
        }
    }
    const QString path = Path(name);
    return image.save(path, nullptr, 100) ? path : QString();
}

QString PictureFolder::WriteText(const QString& name, const QByteArray& bytes) {
    const QString path = Path(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        return QString();
    }
    return path;
}

int ChunkPixels(QProgressBar& bar) {
    const QImage shot = bar.grab().toImage();
    return int(SumOver(shot.rect(), [&shot](int x, int y) {
        const QColor c = shot.pixelColor(x, y);
        return c.blue() > c.red() + 40;
    }));
}

QString StateDifferences(MainDialog& dialog, ControlState state, int progressValue) {
    // The control-state table, one row per state in the order of ControlState.
    struct Row {
        bool Open, Save, Start, Cancel, Exit, Checks, Films;
    };
    constexpr Row Rows[] = {{true, false, false, false, true, false, false},
                            {true, false, true, false, true, true, true},
                            {false, false, false, true, false, false, false},
                            {true, true, false, true, true, false, false}};
    const Row& row = Rows[static_cast<int>(state)];
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
    QProgressBar& progress = dialog.Progress();
    // Empty means empty: a bar at its minimum shows no sliver of the chunk.
    if (progress.value() <= progress.minimum()) {
        const int chunk = ChunkPixels(progress);
        if (chunk > 0) {
            out << QStringLiteral("the empty progress bar shows %1 chunk pixels").arg(chunk);
        }
    }
    if (progressValue >= 0 && progress.value() != progressValue) {
        out << QStringLiteral("progress at %1").arg(progress.value());
    }
    if (state != ControlState::Converted && progressValue >= 0 &&
        (progress.minimum() != 0 || progress.maximum() != 10)) {
        out << QStringLiteral("progress range %1-%2")
                   .arg(progress.minimum())
                   .arg(progress.maximum());
    }
    return out.join(QStringLiteral("; "));
}

}  // namespace velora
