// The conversion worker seen from the window: both endings, the cancel rules, the progress
// sequence, the option snapshot, readers during a pass, destruction and many Start/Cancel cycles.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <thread>
#include <vector>

#include "ConversionWorker.h"
#include "WorkerPictures.h"

using namespace velora;
using namespace velora::testing;

namespace {

constexpr int EndingTimeoutMs = 60000;

// Runs the event loop until `done` holds, waking at least every millisecond to look; false on
// timeout. (QTRY_* polls in 50 ms steps, which would dominate the many short cycles below.)
bool SpinUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    QTimer tick;
    tick.start(1);
    while (!done()) {
        if (clock.elapsed() > EndingTimeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Everything the worker reported, and whether each report arrived on the user-interface thread.
struct Recorder {
    explicit Recorder(ConversionWorker& worker) {
        QObject::connect(&worker, &ConversionWorker::ProgressRange, &Context, [this](int maximum) {
            Check();
            Ranges.push_back(maximum);
            RangeBeforeColumns = RangeBeforeColumns && Columns.empty();
        });
        QObject::connect(&worker, &ConversionWorker::Progress, &Context, [this](int column) {
            Check();
            Columns.push_back(column);
        });
        QObject::connect(&worker, &ConversionWorker::Completed, &Context, [this](BitmapRef r) {
            Check();
            Results.push_back(std::move(r));
        });
        QObject::connect(&worker, &ConversionWorker::Cancelled, &Context, [this] {
            Check();
            ++CancelledCount;
        });
    }
    void Check() { OnUiThread = OnUiThread && QThread::currentThread() == qApp->thread(); }
    int Endings() const { return static_cast<int>(Results.size()) + CancelledCount; }

    QObject Context;
    std::vector<int> Ranges;
    std::vector<int> Columns;
    std::vector<BitmapRef> Results;
    int CancelledCount = 0;
    bool OnUiThread = true;
    bool RangeBeforeColumns = true;
};

ConversionOptions ContrastOptions() {
    ConversionOptions options;
    options.ColorStrength = 60;
    options.GrayStrength = 20;
    options.GrayContrast = true;
    options.ReddishFilm = true;
    return options;
}

}  // namespace

class ConversionWorkerTest : public QObject {
    Q_OBJECT
  private slots:
    void completedEndingGivesSharpenedConversion();
    void filterWithoutResultKeepsTheConvertedPicture();
    void progressFollowsTheColumnsFromTheRight();
    void optionsAreASnapshot();
    void cancelDuringPassEndsCancelled();
    void cancelRightAfterStartIsNeverLost();
    void cancelAfterThePassBeforeDeliveryEndsCancelled();
    void readersSeeWholePixelsDuringThePass();
    void destructionDuringPassJoins();
    void startWhileRunningReplacesTheRun();
    void manyStartCancelCycles();
};

void ConversionWorkerTest::completedEndingGivesSharpenedConversion() {
    const ConversionOptions options = ContrastOptions();
    BitmapRef picture = MakePatternPicture(203, 117);
    const BitmapRef original = CopyOf(*picture);
    const BitmapRef converted = ConvertedPixelByPixel(*original, options);
    const BitmapRef expected = UnsharpMaskFilter().UnsharpMask(*converted, 0.4f, 0.3f, 7);
    QVERIFY(expected);

    ConversionWorker worker;
    Recorder recorder(worker);
    QElapsedTimer clock;
    clock.start();
    worker.Start(picture, options);
    QVERIFY(worker.IsRunning());
    QVERIFY(SpinUntil([&] { return !worker.IsRunning(); }));
    QVERIFY(clock.elapsed() >= ConversionWorker::PauseMilliseconds);

    QCOMPARE(recorder.CancelledCount, 0);
    QCOMPARE(recorder.Results.size(), size_t{1});
    const BitmapRef result = recorder.Results.front();
    QVERIFY(result && result != picture);
    QCOMPARE(DifferingPixels(*result, *expected), 0LL);
    // The pass worked in place on the caller's picture; the sharpened one is a new bitmap.
    QCOMPARE(DifferingPixels(*picture, *converted), 0LL);
    QVERIFY(recorder.OnUiThread);
    // Nothing more arrives later.
    QTest::qWait(50);
    QCOMPARE(recorder.Endings(), 1);
}

void ConversionWorkerTest::filterWithoutResultKeepsTheConvertedPicture() {
    // A bitmap without a raster: the pass has nothing to convert and the filter can make no
    // picture, so the ending must hand back the picture itself rather than nothing.
    BitmapRef empty = WorkingBitmap::CreateBlank(0, 0);
    QVERIFY(!empty->HasImage());
    ConversionWorker worker;
    Recorder recorder(worker);
    worker.Start(empty, ConversionOptions{});
    QVERIFY(SpinUntil([&] { return !worker.IsRunning(); }));
    QCOMPARE(recorder.CancelledCount, 0);
    QCOMPARE(recorder.Results.size(), size_t{1});
    QCOMPARE(recorder.Results.front(), empty);

    // No picture at all ends at once as cancelled.
    worker.Start(nullptr, ConversionOptions{});
    QVERIFY(SpinUntil([&] { return !worker.IsRunning(); }));
    QCOMPARE(recorder.CancelledCount, 1);
}

void ConversionWorkerTest::progressFollowsTheColumnsFromTheRight() {
    struct Case {
        int Width;
        int Height;
    };
    for (const Case c : {Case{37, 5}, Case{1, 9}, Case{9, 1}, Case{1, 1}}) {
        ConversionWorker worker;
        Recorder recorder(worker);
        worker.Start(MakePatternPicture(c.Width, c.Height), ConversionOptions{});
        QVERIFY(SpinUntil([&] { return !worker.IsRunning(); }));
        std::vector<int> expected;
        for (int x = c.Width - 1; x >= 0; --x) {
            expected.push_back(x);
        }
        expected.push_back(0);
        QCOMPARE(recorder.Ranges, std::vector<int>{c.Width});
        QVERIFY(recorder.RangeBeforeColumns);
        QCOMPARE(recorder.Columns, expected);
        QCOMPARE(recorder.Results.size(), size_t{1});
        QVERIFY(recorder.OnUiThread);
    }
}

void ConversionWorkerTest::optionsAreASnapshot() {
    ConversionOptions options = ContrastOptions();
    BitmapRef picture = MakePatternPicture(640, 480);
    const BitmapRef expected = ConvertedPixelByPixel(*picture, options);
    ConversionWorker worker;
    Recorder recorder(worker);
    worker.Start(picture, options);
    // What the window does when a slider or a check box moves during the pass.
    options.ColorStrength = 100;
    options.GrayStrength = 0;
    options.GrayContrast = false;
    options.ReddishFilm = false;
    options.BlueishFilm = true;
    QVERIFY(SpinUntil([&] { return !worker.IsRunning(); }));
    QCOMPARE(recorder.Results.size(), size_t{1});
    QCOMPARE(DifferingPixels(*picture, *expected), 0LL);
}

void ConversionWorkerTest::cancelDuringPassEndsCancelled() {
    BitmapRef picture = MakePatternPicture(2400, 1600);
    ConversionWorker worker;
    Recorder recorder(worker);
    worker.Start(picture, ContrastOptions());
    QVERIFY(SpinUntil([&] { return !recorder.Columns.empty(); }));
    worker.RequestCancel();
    QVERIFY(worker.IsRunning());  // the ending is still to come
    QVERIFY(SpinUntil([&] { return !worker.IsRunning(); }));
    QCOMPARE(recorder.CancelledCount, 1);
    QVERIFY(recorder.Results.empty());
    // Neither a late Completed nor a second ending follows, not even after the pause would end.
    QTest::qWait(ConversionWorker::PauseMilliseconds + 100);
    QCOMPARE(recorder.Endings(), 1);
    QVERIFY(recorder.OnUiThread);
}

void ConversionWorkerTest::cancelRightAfterStartIsNeverLost() {
    // A pass over this picture takes far longer than the step from Start to RequestCancel. Were
    // the flag cleared by the worker thread itself, a Cancel issued before the thread got going
    // would be wiped out and every pixel converted.
    const int width = 1600;
    const int height = 1200;
    const BitmapRef original = MakePatternPicture(width, height);
    ConversionWorker worker;
    Recorder recorder(worker);
    for (int i = 0; i < 8; ++i) {
        BitmapRef picture = CopyOf(*original);
        worker.Start(picture, ContrastOptions());
        worker.RequestCancel();
        QVERIFY(SpinUntil([&] { return !worker.IsRunning(); }));
        QCOMPARE(recorder.CancelledCount, i + 1);
        QVERIFY(recorder.Results.empty());
        const long long changed = DifferingPixels(*picture, *original);
        QVERIFY2(changed < static_cast<long long>(width) * height / 2,
                 qPrintable(QString("%1 pixels converted in cycle %2").arg(changed).arg(i)));
    }
}

void ConversionWorkerTest::cancelAfterThePassBeforeDeliveryEndsCancelled() {
    // The thread has finished everything, the pause included, and its Completed waits in the
    // queue: a Cancel now must still win.
    {
        ConversionWorker worker;
        Recorder recorder(worker);
        worker.Start(MakePatternPicture(64, 48), ContrastOptions());
        worker.Wait();
        QVERIFY(worker.IsRunning());
        worker.RequestCancel();
        QVERIFY(SpinUntil([&] { return !worker.IsRunning(); }));
        QCOMPARE(recorder.CancelledCount, 1);
        QVERIFY(recorder.Results.empty());
    }
    // Cancel once the pass has ended (the closing Progress 0 arrived), during filter or pause.
    {
        ConversionWorker worker;
        Recorder recorder(worker);
        const int width = 500;
        worker.Start(MakePatternPicture(width, 400), ContrastOptions());
        QVERIFY(SpinUntil([&] { return recorder.Columns.size() == size_t(width + 1); }));
        worker.RequestCancel();
        QVERIFY(SpinUntil([&] { return !worker.IsRunning(); }));
        QCOMPARE(recorder.CancelledCount, 1);
        QVERIFY(recorder.Results.empty());
    }
}

void ConversionWorkerTest::readersSeeWholePixelsDuringThePass() {
    const ConversionOptions options = ContrastOptions();
    const int width = 1600;
    const int height = 1200;
    BitmapRef picture = MakePatternPicture(width, height);
    ConversionWorker worker;
    Recorder recorder(worker);
    worker.Start(picture, options);
    // The window paints and probes the picture while the pass rewrites it: every pixel read is
    // either the original or its converted value, never a mixture.
    long long reads = 0;
    int clones = 0;
    while (worker.IsRunning()) {
        for (int i = 0; i < 64; ++i, ++reads) {
            const int x = static_cast<int>((reads * 7919) % width);
            const int y = static_cast<int>((reads * 104729) % height);
            Argb colour = 0;
            QCOMPARE(picture->GetPixel(x, y, &colour), Status::Ok);
            const Argb before = PatternColour(x, y);
            QVERIFY(colour == before || colour == ConvertPixel(before, options));
        }
        if (clones < 20) {
            const BitmapRef copy = picture->Clone(0, 0, width, height);
            QVERIFY(copy && copy->Width() == unsigned(width));
            ++clones;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    QCOMPARE(recorder.Results.size(), size_t{1});
    QVERIFY(reads > 0);
}

void ConversionWorkerTest::destructionDuringPassJoins() {
    BitmapRef picture = MakePatternPicture(2400, 1600);
    auto worker = std::make_unique<ConversionWorker>();
    Recorder recorder(*worker);
    worker->Start(picture, ContrastOptions());
    QVERIFY(SpinUntil([&] { return !recorder.Columns.empty(); }));
    QVERIFY(picture.use_count() > 1);  // the worker holds its own reference
    worker.reset();
    // The thread is gone: it released its reference and writes nothing more.
    QCOMPARE(picture.use_count(), 1L);
    const BitmapRef snapshot = CopyOf(*picture);
    QTest::qWait(50);
    QCOMPARE(DifferingPixels(*picture, *snapshot), 0LL);
    QCOMPARE(recorder.Endings(), 0);
}

void ConversionWorkerTest::startWhileRunningReplacesTheRun() {
    const ConversionOptions options = ContrastOptions();
    BitmapRef first = MakePatternPicture(900, 600);
    BitmapRef second = MakePatternPicture(70, 30);
    const BitmapRef expected = ConvertedPixelByPixel(*second, options);
    ConversionWorker worker;
    Recorder recorder(worker);
    worker.Start(first, options);
    worker.Start(second, options);  // no events in between: nothing of the first was delivered
    QVERIFY(SpinUntil([&] { return !worker.IsRunning(); }));
    QTest::qWait(50);
    QCOMPARE(recorder.Ranges, std::vector<int>{70});
    QCOMPARE(recorder.Columns.size(), size_t{71});
    QCOMPARE(recorder.Endings(), 1);
    QCOMPARE(recorder.Results.size(), size_t{1});
    QCOMPARE(DifferingPixels(*second, *expected), 0LL);
}

void ConversionWorkerTest::manyStartCancelCycles() {
    const BitmapRef original = MakePatternPicture(120, 80);
    ConversionWorker worker;
    Recorder recorder(worker);
    for (int cycle = 0; cycle < 200; ++cycle) {
        worker.Start(CopyOf(*original), ContrastOptions());
        // Cancel at different moments: at once, after a first delivery, or after the pass.
        switch (cycle % 4) {
            case 0:
                break;
            case 1:
                QCoreApplication::processEvents();
                break;
            case 2:
                QVERIFY(SpinUntil([&] { return !recorder.Columns.empty(); }));
                break;
            case 3:
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                break;
        }
        worker.RequestCancel();
        QVERIFY(SpinUntil([&] { return !worker.IsRunning(); }));
        QCOMPARE(recorder.Endings(), cycle + 1);
        recorder.Columns.clear();
    }
    QCOMPARE(recorder.CancelledCount, 200);
    QVERIFY(recorder.Results.empty());
    QVERIFY(recorder.OnUiThread);
}

QTEST_GUILESS_MAIN(ConversionWorkerTest)
#include "ConversionWorkerTest.moc"
