// The conversion worker seen from the window: both endings, the cancel rules, the progress
// sequence, readers during a pass, destruction and many Start/Cancel cycles. (That a pass keeps
// the options it started with is the window's conversion test.)
#include <QThread>
#include <QtTest>

#include <vector>

#include "ConversionWorker.h"
#include "WorkerPictures.h"

using namespace velora;
using namespace velora::testing;

namespace {

// A worker and everything it reported, and whether each report arrived on the user-interface
// thread.
struct Recorded {
    ConversionWorker Worker;
    QObject Context;
    std::vector<int> Ranges;
    std::vector<int> Columns;
    std::vector<BitmapRef> Results;
    int CancelledCount = 0;
    bool OnUiThread = true;
    bool RangeBeforeColumns = true;

    Recorded() {
        QObject::connect(&Worker, &ConversionWorker::ProgressRange, &Context, [this](int maximum) {
            Check();
            Ranges.push_back(maximum);
            RangeBeforeColumns = RangeBeforeColumns && Columns.empty();
        });
        QObject::connect(&Worker, &ConversionWorker::Progress, &Context, [this](int column) {
            Check();
            Columns.push_back(column);
        });
        QObject::connect(&Worker, &ConversionWorker::Completed, &Context, [this](BitmapRef r) {
            Check();
            Results.push_back(std::move(r));
        });
        QObject::connect(&Worker, &ConversionWorker::Cancelled, &Context, [this] {
            Check();
            ++CancelledCount;
        });
    }
    void Check() { OnUiThread = OnUiThread && QThread::currentThread() == qApp->thread(); }
    int Endings() const { return static_cast<int>(Results.size()) + CancelledCount; }
    bool Finish() {
        return SpinUntil([this] { return !Worker.IsRunning(); });
    }
    bool FirstColumn() {
        return SpinUntil([this] { return !Columns.empty(); });
    }
    // Joins the thread and delivers whatever it posted: nothing more can arrive after this.
    void Settle() {
        Worker.Wait();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
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
    const BitmapRef converted = ConvertedPixelByPixel(*picture, options);
    const BitmapRef expected = UnsharpMaskFilter().UnsharpMask(
        *converted, FinalSharpening::Sigma, FinalSharpening::Amount, FinalSharpening::Channels);
    QVERIFY(expected);

    Recorded r;
    QElapsedTimer clock;
    clock.start();
    r.Worker.Start(picture, options);
    QVERIFY(r.Worker.IsRunning());
    QVERIFY(r.Finish());
    QVERIFY(clock.elapsed() >= ConversionWorker::PauseMilliseconds);
    QCOMPARE(r.CancelledCount, 0);
    QCOMPARE(r.Results.size(), size_t{1});
    const BitmapRef result = r.Results.front();
    QVERIFY(result && result != picture);
    QCOMPARE(DifferingPixels(*result, *expected), 0LL);
    // The pass worked in place on the caller's picture; the sharpened one is a new bitmap.
    QCOMPARE(DifferingPixels(*picture, *converted), 0LL);
    QVERIFY(r.OnUiThread);
    // Nothing more arrives later.
    r.Settle();
    QCOMPARE(r.Endings(), 1);
}

void ConversionWorkerTest::filterWithoutResultKeepsTheConvertedPicture() {
    // A bitmap without a raster: the pass has nothing to convert and the filter can make no
    // picture, so the ending must hand back the picture itself rather than nothing.
    BitmapRef empty = WorkingBitmap::CreateBlank(0, 0);
    QVERIFY(!empty->HasImage());
    Recorded r;
    r.Worker.Start(empty, ConversionOptions{});
    QVERIFY(r.Finish());
    QCOMPARE(r.CancelledCount, 0);
    QCOMPARE(r.Results, std::vector<BitmapRef>{empty});
    // No picture at all ends at once as cancelled.
    r.Worker.Start(nullptr, ConversionOptions{});
    QVERIFY(r.Finish());
    QCOMPARE(r.CancelledCount, 1);
}

void ConversionWorkerTest::progressFollowsTheColumnsFromTheRight() {
    for (const QSize size : {QSize(37, 5), QSize(1, 9), QSize(9, 1), QSize(1, 1)}) {
        Recorded r;
        r.Worker.Start(MakePatternPicture(size.width(), size.height()), ConversionOptions{});
        QVERIFY(r.Finish());
        // Every column from the right, then 0 once more at the end of the pass.
        std::vector<int> expected;
        for (int x = size.width() - 1; x >= 0; --x) {
            expected.push_back(x);
        }
        expected.push_back(0);
        QCOMPARE(r.Ranges, std::vector<int>{size.width()});
        QVERIFY(r.RangeBeforeColumns);
        QCOMPARE(r.Columns, expected);
        QCOMPARE(r.Results.size(), size_t{1});
        QVERIFY(r.OnUiThread);
    }
}

void ConversionWorkerTest::cancelRightAfterStartIsNeverLost() {
    // A pass over this picture takes far longer than the step from Start to RequestCancel. Were
    // the flag cleared by the worker thread itself, a Cancel issued before the thread got going
    // would be wiped out and every pixel converted.
    const BitmapRef original = MakePatternPicture(1600, 1200);
    Recorded r;
    for (int i = 0; i < 8; ++i) {
        BitmapRef picture = CopyOf(*original);
        r.Worker.Start(picture, ContrastOptions());
        r.Worker.RequestCancel();
        QVERIFY(r.Finish());
        QCOMPARE(r.CancelledCount, i + 1);
        QVERIFY(r.Results.empty());
        const long long changed = DifferingPixels(*picture, *original);
        QVERIFY2(changed < 1600LL * 1200 / 2,
                 qPrintable(QString("%1 pixels converted in cycle %2").arg(changed).arg(i)));
    }
}

void ConversionWorkerTest::cancelAfterThePassBeforeDeliveryEndsCancelled() {
    // The thread has finished everything, the pause included, and its Completed waits in the
    // queue: a Cancel now must still win. (A Cancel during the filter or the pause is one of the
    // moments the Start/Cancel cycles below choose.)
    Recorded r;
    r.Worker.Start(MakePatternPicture(64, 48), ContrastOptions());
    r.Worker.Wait();
    QVERIFY(r.Worker.IsRunning());
    r.Worker.RequestCancel();
    QVERIFY(r.Finish());
    QCOMPARE(r.CancelledCount, 1);
    QVERIFY(r.Results.empty());
}

void ConversionWorkerTest::readersSeeWholePixelsDuringThePass() {
    const ConversionOptions options = ContrastOptions();
    const int width = 1600;
    const int height = 1200;
    BitmapRef picture = MakePatternPicture(width, height);
    Recorded r;
    r.Worker.Start(picture, options);
    // The window paints and probes the picture while the pass rewrites it: every pixel read is
    // either the original or its converted value, never a mixture.
    long long reads = 0;
    int clones = 0;
    while (r.Worker.IsRunning()) {
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
    QCOMPARE(r.Results.size(), size_t{1});
    QVERIFY(reads > 0);
}

void ConversionWorkerTest::destructionDuringPassJoins() {
    BitmapRef picture = MakePatternPicture(2400, 1600);
    auto r = std::make_unique<Recorded>();
    // Outlives the worker, to see that its destruction delivers no ending.
    QObject watcher;
    int endings = 0;
    QObject::connect(&r->Worker, &ConversionWorker::Completed, &watcher, [&] { ++endings; });
    QObject::connect(&r->Worker, &ConversionWorker::Cancelled, &watcher, [&] { ++endings; });
    r->Worker.Start(picture, ContrastOptions());
    QVERIFY(r->FirstColumn());
    QVERIFY(picture.use_count() > 1);  // the worker holds its own reference
    r.reset();
    // The thread is gone: it released its reference and writes nothing more.
    QCOMPARE(picture.use_count(), 1L);
    const BitmapRef snapshot = CopyOf(*picture);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    QCOMPARE(DifferingPixels(*picture, *snapshot), 0LL);
    QCOMPARE(endings, 0);
}

void ConversionWorkerTest::startWhileRunningReplacesTheRun() {
    const ConversionOptions options = ContrastOptions();
    BitmapRef second = MakePatternPicture(70, 30);
    const BitmapRef expected = ConvertedPixelByPixel(*second, options);
    Recorded r;
    r.Worker.Start(MakePatternPicture(900, 600), options);
    r.Worker.Start(second, options);  // no events in between: nothing of the first was delivered
    QVERIFY(r.Finish());
    r.Settle();
    QCOMPARE(r.Ranges, std::vector<int>{70});
    QCOMPARE(r.Columns.size(), size_t{71});
    QCOMPARE(r.Endings(), 1);
    QCOMPARE(r.Results.size(), size_t{1});
    QCOMPARE(DifferingPixels(*second, *expected), 0LL);
}

void ConversionWorkerTest::manyStartCancelCycles() {
    const BitmapRef original = MakePatternPicture(120, 80);
    Recorded r;
    // A pause that outlasts any cancel, so that every cycle ends cancelled however slow the test.
    r.Worker.SetPauseMilliseconds(24 * 3600 * 1000);
    for (int cycle = 0; cycle < 200; ++cycle) {
        r.Worker.Start(CopyOf(*original), ContrastOptions());
        // Cancel at different moments: at once, after a first delivery, or after the pass.
        if (cycle % 4 == 1) {
            QCoreApplication::processEvents();
        } else if (cycle % 4 == 2) {
            QVERIFY(r.FirstColumn());
        } else if (cycle % 4 == 3) {
            // Every column and the pass's closing 0 delivered: the pause or the filter runs.
            QVERIFY(SpinUntil([&r] { return r.Columns.size() == 121; }));
        }
        r.Worker.RequestCancel();
        QVERIFY(r.Finish());
        QCOMPARE(r.Endings(), cycle + 1);
        r.Columns.clear();
    }
    QCOMPARE(r.CancelledCount, 200);
    QVERIFY(r.Results.empty());
    QVERIFY(r.OnUiThread);
}

QTEST_GUILESS_MAIN(ConversionWorkerTest)
#include "ConversionWorkerTest.moc"
