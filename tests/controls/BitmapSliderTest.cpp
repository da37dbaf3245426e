// BitmapSlider: the value/pixel mappings, pointer and keys with the notifications the parent
// receives, and what a painted frame shows.
#include "BitmapSlider.h"
#include "ControlEvents.h"
#include "ControlTestSupport.h"

#include <QtTest>

#include <climits>
#include <memory>

using velora::BitmapSlider;
using velora::WM_SLIDER_DONE;
using velora::WM_SLIDER_TRACK;
using velora_test::Notification;

namespace {

constexpr int Channel = 143;
constexpr int Active = 144;
constexpr int Missing = 999;
constexpr int ControlId = 1013;
const QColor Key(252, 252, 252);
const QColor ChannelColour(60, 70, 80);
const QColor ActiveColour(220, 120, 20);
const QColor ParentColour(0, 160, 0);

// 100 x 20 tracks with the key colour only at (0, 0), as the program's tracks are made.
QImage Track(QColor colour) {
    QImage image(100, 20, QImage::Format_RGB32);
    image.fill(colour);
    image.setPixel(0, 0, Key.rgb());
    return image;
}

// What the parent was posted, as "track 0 done 35"; another control's identifier would show.
QString Posted(velora_test::NotificationRecorder* recorder) {
    QStringList parts;
    for (const Notification& n : recorder->Take()) {
        parts << (n.Type == WM_SLIDER_TRACK  ? QStringLiteral("track")
                  : n.Type == WM_SLIDER_DONE ? QStringLiteral("done")
                                             : QStringLiteral("event %1").arg(n.Type));
        if (n.ControlId != ControlId) {
            parts << QStringLiteral("from %1").arg(n.ControlId);
        }
        parts << QString::number(n.Position);
    }
    return parts.join(' ');
}

}  // namespace

class BitmapSliderTest : public QObject {
    Q_OBJECT
  private:
    std::unique_ptr<velora_test::BitmapFolder> Folder;
    std::unique_ptr<QWidget> Parent;
    BitmapSlider* Slider = nullptr;
    velora_test::NotificationRecorder* Recorder = nullptr;

    bool Load(int channel, int active, bool transparent = true,
              quint32 key = BitmapSlider::KeyFromPixel, int keyX = 0) {
        return Slider->SetChannelBitmaps(channel, active, transparent, key, keyX, 0);
    }

  private slots:
    void initTestCase() {
        Folder = std::make_unique<velora_test::BitmapFolder>();
        QVERIFY(Folder->IsValid());
        Folder->Write(Channel, Track(ChannelColour));
        Folder->Write(Active, Track(ActiveColour));
    }
    void cleanupTestCase() { Folder.reset(); }

    // The program's own set-up: transparent tracks keyed by pixel (0, 0), range 0 to 100 at 35,
    // margins 8 and 8, page step 25.
    void init() {
        Parent = velora_test::MakeParent(QSize(200, 60), ParentColour);
        Slider = new BitmapSlider(ControlId, Parent.get());
        Slider->move(30, 20);
        QVERIFY(Load(Channel, Active));
        Slider->SetRange(0, 100, false);
        Slider->SetPosition(35);
        Slider->MarginLeft = 8;
        Slider->MarginRight = 8;
        QCOMPARE(Slider->SetPageStep(25), 20);
        Recorder = new velora_test::NotificationRecorder(Parent.get());
        QVERIFY(velora_test::ShowActive(Parent.get()));
        Recorder->Take();
    }
    void cleanup() { Parent.reset(); }

    void MappingsOfTheProgramsSliders() {
        QCOMPARE(Slider->size(), QSize(100, 20));  // sized to the channel, where it was put
        QCOMPARE(Slider->pos(), QPoint(30, 20));
        const struct {
            int Maximum, Position, Pixel;
        } toPixel[] = {{100, 0, 8},    {100, 35, 37}, {100, 50, 50}, {100, 99, 91},
                       {100, 100, 92}, {90, 41, 46},  {90, 90, 92}};
        for (const auto& c : toPixel) {
            Slider->SetRange(0, c.Maximum, false);
            QCOMPARE(Slider->PositionToPixel(c.Position), c.Pixel);
        }
        Slider->SetRange(0, 100, false);
        QCOMPARE(Slider->PixelToPosition(37), 34);
        QCOMPARE(Slider->PixelToPosition(38), 35);
    }

    void MappingEdges() {
        // Min above max: SetPosition lowers to max first, then raises to min.
        Slider->SetRange(50, 10, false);
        Slider->SetPosition(30);
        QCOMPARE(Slider->Position(), 50);
        // An empty range has a single pixel and a single value instead of a division by zero.
        Slider->SetRange(7, 7, false);
        QCOMPARE(Slider->PositionToPixel(7), 8);
        QCOMPARE(Slider->PixelToPosition(60), 7);
        // The widest range keeps both ends and stays within int.
        Slider->SetRange(INT_MIN, INT_MAX, false);
        QCOMPARE(Slider->PositionToPixel(INT_MIN), 8);
        QCOMPARE(Slider->PositionToPixel(INT_MAX), 92);
        QCOMPARE(Slider->PixelToPosition(8), INT_MIN);
        QCOMPARE(Slider->PixelToPosition(92), INT_MAX);
        // A negative range start is added before the truncation.
        Slider->SetRange(-10, 90, false);
        QCOMPARE(Slider->PixelToPosition(37), 24);
        // -10 + 5.95... = -4.05 truncates toward zero to -4 (truncating first would give -5).
        QCOMPARE(Slider->PixelToPosition(13), -4);
        QCOMPARE(Slider->PositionToPixel(-10), 8);
    }

    void PressAndDragPostTrackThenDone() {
        // A press at the current pixel moves nothing: only the release posts.
        QTest::mousePress(Slider, Qt::LeftButton, {}, QPoint(37, 10));
        QCOMPARE(Posted(Recorder), QString());
        QVERIFY(Slider->hasFocus());
        QTest::mouseRelease(Slider, Qt::LeftButton, {}, QPoint(37, 10));
        QCOMPARE(Posted(Recorder), QStringLiteral("done 35"));
        // Left of the track the pointer is raised to its start.
        QTest::mousePress(Slider, Qt::LeftButton, {}, QPoint(3, 10));
        QCOMPARE(Posted(Recorder), QStringLiteral("track 0"));
        // Pixel 38 gives 35, drawn at 37: every move there posts the same value again.
        for (int i = 0; i < 3; ++i) {
            QTest::mouseMove(Slider, QPoint(38, 10));
        }
        QCOMPARE(Posted(Recorder), QStringLiteral("track 35 track 35 track 35"));
        // Right of the track, lowered to its end; far below the control, y is not used.
        QTest::mouseMove(Slider, QPoint(99, 10));
        QTest::mouseMove(Slider, QPoint(50, 400));
        QCOMPARE(Posted(Recorder), QStringLiteral("track 100 track 50"));
        QTest::mouseRelease(Slider, Qt::LeftButton, {}, QPoint(-40, 400));
        QCOMPARE(Posted(Recorder), QStringLiteral("done 50"));
        QCOMPARE(Slider->Position(), 50);
        // Without a press, moves change nothing.
        QTest::mouseMove(Slider, QPoint(80, 10));
        QCOMPARE(Posted(Recorder), QString());
        QCOMPARE(Slider->Position(), 50);
    }

    void NavigationKeys() {
        struct Step {
            int Key;
            int Expected;
        };
        // From 35 with page step 25 on 0..100; the ends still post their DONE.
        const Step steps[] = {{Qt::Key_PageDown, 60}, {Qt::Key_PageUp, 35},    {Qt::Key_Right, 36},
                              {Qt::Key_Down, 37},     {Qt::Key_Up, 36},        {Qt::Key_Left, 35},
                              {Qt::Key_End, 100},     {Qt::Key_PageDown, 100}, {Qt::Key_Right, 100},
                              {Qt::Key_Home, 0},      {Qt::Key_Home, 0},       {Qt::Key_Left, 0},
                              {Qt::Key_PageUp, 0}};
        Slider->setFocus();
        for (const Step& step : steps) {
            QTest::keyClick(Slider, static_cast<Qt::Key>(step.Key));
            QCOMPARE(Posted(Recorder), QStringLiteral("done %1").arg(step.Expected));
            QCOMPARE(Slider->Position(), step.Expected);
        }
        // Auto-repeated key-downs count one by one.
        for (int i = 0; i < 4; ++i) {
            QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), true);
            QCoreApplication::sendEvent(Slider, &repeat);
        }
        QCOMPARE(Posted(Recorder), QStringLiteral("done 1 done 2 done 3 done 4"));
        // Other keys post nothing.
        QTest::keyClick(Slider, Qt::Key_A);
        QCOMPARE(Posted(Recorder), QString());
    }

    void FrameShowsBothTracksAndTheParent() {
        // Value 35 is drawn at 37: columns left of it filled, from 37 on empty.
        QCOMPARE(velora_test::Shown(Slider, 36, 10), ActiveColour);
        QCOMPARE(velora_test::Shown(Slider, 37, 10), ChannelColour);
        QCOMPARE(velora_test::Shown(Slider, 1, 0), ActiveColour);
        QCOMPARE(velora_test::Shown(Slider, 99, 19), ChannelColour);
        // The key pixel shows the parent.
        QCOMPARE(velora_test::Shown(Slider, 0, 0), ParentColour);
        Slider->SetPosition(100);
        QCOMPARE(velora_test::Shown(Slider, 91, 5), ActiveColour);
        QCOMPARE(velora_test::Shown(Slider, 92, 5), ChannelColour);
    }

    void OpaqueTracksShowTheKeyColour() {
        QVERIFY(Load(Channel, Active, false));
        QCOMPARE(velora_test::Shown(Slider, 0, 0), Key);
        // An explicit key colour (COLORREF) works like the pixel's colour.
        QVERIFY(Load(Channel, Active, true, 0xFCFCFC));
        QCOMPARE(velora_test::Shown(Slider, 0, 0), ParentColour);
    }

    void FocusRectangleComesAndGoes() {
        const QPoint dot(2, 0);  // on the dotted outline
        Slider->setFocus();
        QVERIFY(Slider->hasFocus());
        QCOMPARE(QColor(velora_test::ShownPixel(Slider, dot)), velora_test::Inverted(ActiveColour));
        QCOMPARE(velora_test::Shown(Slider, 1, 0), ActiveColour);
        QCOMPARE(velora_test::Shown(Slider, 50, 10), ChannelColour);
        Slider->clearFocus();
        QCOMPARE(QColor(velora_test::ShownPixel(Slider, dot)), ActiveColour);
    }

    void FailedLoadLeavesNoTrack() {
        QVERIFY(!Load(Channel, Missing));
        QVERIFY(!Slider->ChannelLoaded());
        QCOMPARE(velora_test::Shown(Slider, 50, 10), ParentColour);
        QVERIFY(!Load(Missing, Active));
        QVERIFY(!Slider->ChannelLoaded());
        // Channel 0 unloads and succeeds; a channel alone is drawn whole.
        QVERIFY(Load(0, 0));
        QVERIFY(Load(Channel, 0));
        QCOMPARE(velora_test::Shown(Slider, 5, 10), ChannelColour);
        // A key pixel outside the bitmap keys nothing out.
        QVERIFY(Load(Channel, Active, true, BitmapSlider::KeyFromPixel, 500));
        QCOMPARE(velora_test::Shown(Slider, 0, 0), Key);
    }

    void PositionOutsideItsRangeIsDrawnAtTheEnd() {
        Slider->SetRange(0, 20, true);  // position 35 stays, beyond the new maximum
        QCOMPARE(Slider->Position(), 35);
        QCOMPARE(velora_test::Shown(Slider, 99, 10), ActiveColour);
    }
};

QTEST_MAIN(BitmapSliderTest)
#include "BitmapSliderTest.moc"
