// How long the window's user-interface thread stays blocked while a 54-megapixel photo is
// opened, while a conversion of it is cancelled half-way, and while the picture is probed. The
// real window runs offscreen with a scripted person in front of it who presses the real buttons;
// a 1 ms heartbeat timer on the user-interface thread records the longest gap between its ticks,
// which is the longest time any input would have waited. Every action is posted into the event
// loop and measured until its effects (the picture shown, the worker's ending delivered, the
// paint after it) have passed.
//
//   bench_app_responsiveness [--rounds N] [--width W --height H]
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "MainDialog.h"
#include "Resources.h"
#include "TestPhoto.h"
#include "UserInteraction.h"

namespace {

using namespace velora;

constexpr double GoalMs = 100.0;
// Long enough for the paint that follows a change to run inside the measured time.
constexpr int SettleMs = 150;
constexpr int EndingTimeoutMs = 120000;

// Answers every Open dialog with the one photo; any message means the run went wrong.
class ScriptedPerson : public UserInteraction {
  public:
    QString Photo;
    std::vector<QString> Messages;

    QString AskForFile(QWidget*, const FileRequest& request) override {
        return request.Kind == FileRequest::Mode::Open ? Photo : QString();
    }
    void ShowMessage(QWidget*, const QString&, const QString& text) override {
        Messages.push_back(text);
    }
    bool AskYesNo(QWidget*, const QString&, const QString&) override { return false; }
    void RunModal(QDialog&) override {}
    void OpenUrl(const QUrl&, std::function<void()>) override {}
    bool StartSystemMove(QWindow*) override { return false; }
};

// A 1 ms timer on the user-interface thread; the longest gap between two ticks since the last
// Restart is how long that thread was busy at a stretch.
class Heartbeat {
  public:
    Heartbeat() {
        Ticker.setTimerType(Qt::PreciseTimer);
        Ticker.setInterval(1);
        QObject::connect(&Ticker, &QTimer::timeout, [this] { Tick(); });
        Clock.start();
        Ticker.start();
    }
    void Restart() {
        LastTickNs = Clock.nsecsElapsed();
        LongestNs = 0;
    }
    // Includes the stretch still running, so an action that never yields is not missed.
    double LongestMs() const {
        const qint64 current = Clock.nsecsElapsed() - LastTickNs;
        return static_cast<double>(std::max(LongestNs, current)) / 1e6;
    }

  private:
    void Tick() {
        const qint64 now = Clock.nsecsElapsed();
        LongestNs = std::max(LongestNs, now - LastTickNs);
        LastTickNs = now;
    }
    QTimer Ticker;
    QElapsedTimer Clock;
    qint64 LastTickNs = 0;
    qint64 LongestNs = 0;
};

// Runs the event loop until `done` holds (checked after every event batch), then SettleMs more.
// False when the deadline passed first.
bool RunUntil(const std::function<bool()>& done) {
    QElapsedTimer deadline;
    deadline.start();
    while (!done()) {
        if (deadline.elapsed() > EndingTimeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < SettleMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// Posts `action` so that it runs from the event loop, as a click would, with the heartbeat
// restarted just before it.
void Post(Heartbeat& heartbeat, const std::function<void()>& action) {
    QTimer::singleShot(0, [&heartbeat, action] {
        heartbeat.Restart();
        action();
    });
}

void Press(QWidget& control) {
    QTest::mouseClick(&control, Qt::LeftButton);
}

struct Figures {
    const char* Name;
    std::vector<double> Ms;
};

void PrintRow(const Figures& row, bool hasGoal) {
    std::vector<double> sorted = row.Ms;
    std::sort(sorted.begin(), sorted.end());
    if (sorted.empty()) {
        std::printf("%-34s  (no runs)\n", row.Name);
        return;
    }
    const double median = sorted.size() % 2 == 1
                              ? sorted[sorted.size() / 2]
                              : (sorted[sorted.size() / 2 - 1] + sorted[sorted.size() / 2]) / 2;
    const double most = sorted.back();
    std::printf("%-34s %9.1f %9.1f  ", row.Name, median, most);
    if (hasGoal) {
        std::printf("< %.0f %s", GoalMs, most < GoalMs ? "met" : "NOT met");
    } else {
        std::printf("(for reference)");
    }
    std::printf("   runs:");
    for (double ms : row.Ms) {
        std::printf(" %.1f", ms);
    }
    std::printf("\n");
}

int IntArgument(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) {
            return std::max(1, std::atoi(argv[i + 1]));
        }
    }
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int rounds = IntArgument(argc, argv, "--rounds", 5);
    const int width = IntArgument(argc, argv, "--width", 9000);
    const int height = IntArgument(argc, argv, "--height", 6000);

    QTemporaryDir folder;
    const QString photo = folder.filePath(QStringLiteral("large.jpg"));
    if (!folder.isValid() || !bench::WriteTestPhoto(photo.toStdString(), width, height)) {
        std::fprintf(stderr, "could not write the %dx%d test photo\n", width, height);
        return 1;
    }

    ScriptedPerson person;
    person.Photo = photo;
    MainDialog dialog(person);
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog)) {
        std::fprintf(stderr, "the window was never shown\n");
        return 1;
    }
    Heartbeat heartbeat;
    const auto failed = [&](const char* what) {
        std::fprintf(stderr, "%s\n", what);
        for (const QString& message : person.Messages) {
            std::fprintf(stderr, "  message: %s\n", qPrintable(message));
        }
        return 1;
    };

    // The heartbeat's own floor: an idle window.
    Figures idle{"idle window", {}};
    for (int i = 0; i < rounds; ++i) {
        heartbeat.Restart();
        RunUntil([] { return true; });
        idle.Ms.push_back(heartbeat.LongestMs());
    }

    Figures open{"Open until the picture is shown", {}};
    for (int i = 0; i < rounds; ++i) {
        bool shown = false;
        const auto connection =
            QObject::connect(&dialog, &MainDialog::OpenFinished, [&](bool ok) { shown = ok; });
        bool finished = false;
        const auto ended =
            QObject::connect(&dialog, &MainDialog::OpenFinished, [&](bool) { finished = true; });
        Post(heartbeat, [&] { Press(dialog.Button(IDC_OPEN)); });
        const bool inTime = RunUntil([&] { return finished; });
        open.Ms.push_back(heartbeat.LongestMs());
        QObject::disconnect(connection);
        QObject::disconnect(ended);
        if (!inTime || !shown) {
            return failed("Open did not show the picture");
        }
    }

    // Clicks spread over the drawn picture, each a fresh probe.
    Figures probe{"probe click", {}};
    for (int i = 0; i < rounds; ++i) {
        const QPoint at(250 + 40 * i, 330 + 20 * i);
        Post(heartbeat, [&] { QTest::mouseClick(&dialog, Qt::LeftButton, Qt::NoModifier, at); });
        RunUntil([] { return true; });
        probe.Ms.push_back(heartbeat.LongestMs());
        if (!dialog.IsProbeShown()) {
            return failed("the probe click showed no readout");
        }
    }

    Figures start{"Start, pass running until Cancel", {}};
    Figures cancel{"Cancel half-way until ready", {}};
    for (int i = 0; i < rounds; ++i) {
        int maximum = 0;
        bool cancelPosted = false;
        bool ended = false;
        double startMs = 0.0;
        QList<QMetaObject::Connection> connections;
        connections << QObject::connect(&dialog.Worker(), &ConversionWorker::ProgressRange,
                                        [&](int m) { maximum = m; });
        connections << QObject::connect(
            &dialog.Worker(), &ConversionWorker::Progress, [&](int column) {
                if (cancelPosted || maximum == 0 || column < maximum / 2) {
                    return;
                }
                cancelPosted = true;
                startMs = heartbeat.LongestMs();
                Post(heartbeat, [&] { Press(dialog.Button(IDC_CANCEL_CONVERSION)); });
            });
        connections << QObject::connect(&dialog.Worker(), &ConversionWorker::Cancelled,
                                        [&] { ended = true; });
        connections << QObject::connect(&dialog.Worker(), &ConversionWorker::Completed,
                                        [&](const BitmapRef&) { ended = true; });
        Post(heartbeat, [&] { Press(dialog.Button(IDC_START)); });
        const bool inTime = RunUntil([&] { return ended; });
        const double cancelMs = heartbeat.LongestMs();
        for (const auto& connection : connections) {
            QObject::disconnect(connection);
        }
        if (!inTime || !cancelPosted) {
            return failed("the conversion was not cancelled half-way");
        }
        // Cancel puts back the opened picture and the ready state: Start is offered again.
        if (dialog.Working() != dialog.Opened() || !dialog.Control(IDC_START)->isEnabled()) {
            return failed("Cancel did not bring back the opened picture in the ready state");
        }
        start.Ms.push_back(startMs);
        cancel.Ms.push_back(cancelMs);
    }

    std::printf("User-interface thread blocked, %dx%d JPEG (%.1f MP), offscreen, %d rounds\n",
                width, height, width * double(height) / 1e6, rounds);
    std::printf("(longest gap between ticks of a 1 ms heartbeat, in ms)\n");
    std::printf("%-34s %9s %9s  %s\n", "", "median", "max", "goal");
    PrintRow(open, true);
    PrintRow(cancel, true);
    PrintRow(probe, true);
    PrintRow(start, false);
    PrintRow(idle, false);
    return 0;
}
