// Shared by the window's test groups: a UserInteraction that answers from a script and records
// what the window asked, pictures written at test time, and a shown window with a scripted
// person in front of it.
#pragma once

#include <QDialog>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>
#include <QWidget>
#include <QtTest>

#include <deque>
#include <functional>
#include <vector>

#include "MainDialog.h"
#include "Resources.h"
#include "UserInteraction.h"
#include "WorkerPictures.h"
#include "WorkingBitmap.h"

namespace velora {

constexpr int EndingTimeoutMs = 120000;

class ScriptedInteraction : public UserInteraction {
  public:
    struct Message {
        QWidget* Owner = nullptr;
        QString Caption;
        QString Text;
    };

    // Answers for the next file dialogs, in order; an empty string stands for Cancel.
    std::deque<QString> FileAnswers;
    std::vector<FileRequest> FileRequests;
    std::vector<QWidget*> FileOwners;
    std::vector<Message> Messages;
    // Answers for the next questions, in order; with none left the answer is No.
    std::deque<bool> YesNoAnswers;
    std::vector<Message> Questions;
    std::vector<QUrl> OpenedUrls;
    // Called with every dialog run modally, while it exists.
    std::function<void(QDialog&)> OnModal;
    int ModalRuns = 0;
    // What the desktop answers when a drag is handed over, and how often it was.
    bool SystemMoveOffered = false;
    int SystemMoves = 0;

    QString AskForFile(QWidget* owner, const FileRequest& request) override {
        FileRequests.push_back(request);
        FileOwners.push_back(owner);
        return Next(FileAnswers, QString());
    }
    void ShowMessage(QWidget* owner, const QString& caption, const QString& text) override {
        Messages.push_back(Message{owner, caption, text});
    }
    bool AskYesNo(QWidget* owner, const QString& caption, const QString& text) override {
        Questions.push_back(Message{owner, caption, text});
        return Next(YesNoAnswers, false);
    }
    void RunModal(QDialog& dialog) override {
        ++ModalRuns;
        if (OnModal) {
            OnModal(dialog);
        }
    }
    bool BrowserStarts = true;
    void OpenUrl(const QUrl& url, std::function<void()> failed) override {
        OpenedUrls.push_back(url);
        if (!BrowserStarts) {
            failed();
        }
    }
    bool StartSystemMove(QWindow* window) override {
        SystemMoves += window != nullptr ? 1 : 0;
        return window != nullptr && SystemMoveOffered;
    }

  private:
    // The first of the scripted answers, taken from the script; `none` once it is used up.
    template <typename T>
    static T Next(std::deque<T>& answers, T none) {
        if (!answers.empty()) {
            none = answers.front();
            answers.pop_front();
        }
        return none;
    }
};

// Counts the events of one type for one key that reach the objects it watches.
class KeyCounter : public QObject {
  public:
    KeyCounter(QEvent::Type type, int key) : Type(type), Key(key) {}
    int Count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        Count += event->type() == Type && static_cast<QKeyEvent*>(event)->key() == Key ? 1 : 0;
        return false;
    }

  private:
    QEvent::Type Type;
    int Key;
};

inline Argb Rgb(int r, int g, int b) {
    return 0xFF000000u | (static_cast<Argb>(r) << 16) | (static_cast<Argb>(g) << 8) |
           static_cast<Argb>(b);
}

// A picture whose every pixel tells its own position: red = x mod 256, green = y mod 256,
// blue = 128 + 4 * (x / 256) + (y / 256). Blue is never 0, so black means "no pixel read".
inline Argb PositionColour(int x, int y) {
    return Rgb(x % 256, y % 256, 128 + 4 * (x / 256) + (y / 256));
}

inline QString Described(Argb c) {
    return QStringLiteral("(%1, %2, %3)").arg((c >> 16) & 0xFF).arg((c >> 8) & 0xFF).arg(c & 0xFF);
}

// Writes pictures into a temporary folder with the toolkit's own encoders, so what the window
// reads does not depend on our writer; returns the full path, or an empty string on failure.
class PictureFolder {
  public:
    bool IsValid() const { return Folder.isValid(); }
    QString Path(const QString& name) const { return Folder.filePath(name); }
    // The format follows the name's suffix; PNG is lossless, so its pixels read back exactly.
    QString Write(const QString& name, int width, int height,
                  const std::function<Argb(int, int)>& colour);
    QString Write(const QString& name, int width, int height, Argb uniform) {
        return Write(name, width, height, [uniform](int, int) { return uniform; });
    }
    QString WriteText(const QString& name, const QByteArray& bytes);

  private:
    QTemporaryDir Folder;
};

// The pictures the window's tests open, each written once on first use: a grey and a warm
// colour whose conversions are worked examples, one whose every pixel tells its position, and a
// large one whose pass lasts long enough to act while it runs. Empty when it cannot be written.
class TestPictures : public PictureFolder {
  public:
    const QString& Grey() { return Once(GreyPath, "grey.png", 64, 48, Rgb(128, 128, 128)); }
    const QString& Warm() { return Once(WarmPath, "warm.png", 80, 60, Rgb(200, 150, 120)); }
    const QString& Positions() { return Once(PositionsPath, "positions.png", 300, 200, 0); }
    const QString& Big() { return Once(BigPath, "big.png", 3000, 2000, 0); }

  private:
    // A uniform `colour`, or with 0 the colours that tell positions.
    const QString& Once(QString& path, const char* name, int width, int height, Argb colour) {
        if (path.isEmpty()) {
            path = colour != 0 ? Write(QLatin1String(name), width, height, colour)
                               : Write(QLatin1String(name), width, height, PositionColour);
        }
        return path;
    }
    QString GreyPath, WarmPath, PositionsPath, BigPath;
};

// True when every pixel of the two pictures is equal (sizes included).
inline bool SamePixels(WorkingBitmap& a, WorkingBitmap& b) {
    return testing::DifferingPixels(a, b) == 0;
}
// The number of pixels equal to `colour`.
inline long CountPixels(WorkingBitmap& picture, Argb colour) {
    long count = 0;
    testing::ForEachPixel(picture, [&](int, int, Argb c) { count += c == colour ? 1 : 0; });
    return count;
}
inline bool AllPixelsAre(WorkingBitmap& picture, Argb colour) {
    return picture.Width() > 0 &&
           CountPixels(picture, colour) == long(picture.Width()) * long(picture.Height());
}

// `value(x, y)` added up over the points of `area`: with a yes or no, how often it holds.
template <typename Value>
long SumOver(const QRect& area, Value value) {
    long sum = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            sum += static_cast<long>(value(x, y));
        }
    }
    return sum;
}

// The whole file, or nothing when it cannot be read.
inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Pixels of the bar's chunk, whose colour is the palette's (blue) highlight.
int ChunkPixels(QProgressBar& bar);

// Compares the enabled states, FilmOptionsAvailable and the progress bar with the row of the
// control-state table; returns a description of every difference (empty when all agree). The
// film boxes are compared after a paint, which is what turns them on. `progressValue` -1 leaves
// the progress bar unchecked.
QString StateDifferences(MainDialog& dialog, ControlState state, int progressValue);

#define VELORA_VERIFY_STATE(dialog, state, progressValue)                           \
    do {                                                                            \
        const QString differences = StateDifferences(dialog, state, progressValue); \
        QVERIFY2(differences.isEmpty(), qPrintable(differences));                   \
    } while (false)

struct WindowSession {
    ScriptedInteraction Ui;
    MainDialog Dialog{Ui};
    bool Exposed = false;
    WindowSession() {
        Dialog.show();
        Exposed = QTest::qWaitForWindowExposed(&Dialog);
    }
    bool Open(const QString& path) {
        Ui.FileAnswers.push_back(path);
        Dialog.OnOpen();
        return WaitForOpen() && Dialog.IsPictureLoaded();
    }
    // The picture is read on a thread of its own: waits until the Open has ended.
    bool WaitForOpen() {
        return testing::SpinUntil([this] { return !Dialog.IsOpening(); });
    }
    // An Open whose dialog is cancelled: what the window asked.
    const FileRequest& CancelledOpen() {
        Ui.FileAnswers.push_back(QString());
        Dialog.OnOpen();
        return Ui.FileRequests.back();
    }
    // Save, answering the file dialog with `path` (empty: Cancel).
    void Save(const QString& path) {
        Ui.FileAnswers.push_back(path);
        Dialog.OnSave();
    }
    // The texts of the messages shown, each marked where it is not the window's own: titled
    // other than "Velora" or owned by another window.
    QStringList Said() const {
        QStringList texts;
        for (const ScriptedInteraction::Message& m : Ui.Messages) {
            const bool own = m.Caption == QLatin1String("Velora") && m.Owner == &Dialog;
            texts << (own ? m.Text
                          : QStringLiteral("[not the window's: %1] %2").arg(m.Caption, m.Text));
        }
        return texts;
    }
    // Runs Start and waits for whichever ending comes.
    bool Convert() {
        Dialog.OnStartConversion();
        return WaitForEnding();
    }
    bool WaitForEnding() {
        return testing::SpinUntil([this] { return !Dialog.Worker().IsRunning(); });
    }
    Argb PixelAt(int x, int y) {
        Argb colour = 0;
        Dialog.Working()->GetPixel(x, y, &colour);
        return colour;
    }
    void SetGrayContrast(bool on) {
        if ((Dialog.Button(IDC_GRAY_CONTRAST).GetCheck() != 0) != on) {
            QTest::mouseClick(&Dialog.Button(IDC_GRAY_CONTRAST), Qt::LeftButton);
        }
    }
    void Click(QPoint at) { QTest::mouseClick(&Dialog, Qt::LeftButton, Qt::NoModifier, at); }
};

// Qt's helper threads (the picture scaling pool) would otherwise run glib's event loop, whose
// uninstrumented allocator ThreadSanitizer reports as racing with itself.
#define VELORA_WINDOW_TEST_MAIN(TestClass)      \
    int main(int argc, char** argv) {           \
        qputenv("QT_NO_GLIB", "1");             \
        QApplication app(argc, argv);           \
        TestClass test;                         \
        return QTest::qExec(&test, argc, argv); \
    }

}  // namespace velora
