// BitmapButton: the face shown in each state, the mask as shape and transparency, the check
// state under mouse and keyboard, radio groups and the LoadFaces rules. Faces are solid colours
// written to a temporary folder, read back from grabbed frames.
#include "BitmapButton.h"
#include "ControlEvents.h"
#include "ControlTestSupport.h"

#include <QPainter>
#include <QSignalSpy>
#include <QtTest>

#include <initializer_list>
#include <map>
#include <memory>

using velora::BitmapButton;
using velora::ButtonBehaviour;
using velora_test::Shown;
using velora_test::ShownPixel;

namespace {

enum Ids {
    Normal = 132,
    Mask = 133,
    Hover = 134,
    Disabled = 135,
    Pressed = 136,
    CheckHover = 137,
    CheckPressed = 138,
    CheckNormal = 139,
    CheckDisabled = 140,
    CheckMask = 141,
    Focus = 150,
    HalfMask = 151,
    Coded = 152,
    Missing = 999,
};

const QColor NormalColour(200, 0, 0);
const QColor HoverColour(0, 0, 200);
const QColor DisabledColour(90, 90, 90);
const QColor PressedColour(0, 200, 0);
const QColor FocusColour(200, 200, 0);
const QColor ParentColour(0, 120, 120);

// 4 x 3 face whose every pixel encodes its own position.
QColor CodedColour(int x, int y) {
    return QColor(40 + 50 * x, 30 + 60 * y, 77);
}

constexpr unsigned PushStyle = 0x50010000;
constexpr unsigned CheckStyle = 0x50010003;
constexpr unsigned RadioStyle = 0x50010009;

// Delivers what the window system sends when the pointer moves in a widget without a button.
void PointerMoves(QWidget* w, QPoint at) {
    QMouseEvent move(QEvent::MouseMove, QPointF(at), w->mapToGlobal(QPointF(at)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &move);
}

// ... and when it enters the widget there.
void PointerEnters(QWidget* w, QPoint at) {
    QEnterEvent enter{QPointF(at), QPointF(at), w->mapToGlobal(QPointF(at))};
    QCoreApplication::sendEvent(w, &enter);
    PointerMoves(w, at);
}

void PointerLeaves(QWidget* w) {
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(w, &leave);
}

// Counts the group-uncheck posts each button receives.
class UncheckCounter : public QObject {
  public:
    std::map<QObject*, int> Count;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == velora::WM_GROUP_UNCHECK) {
            ++Count[watched];
        }
        return false;
    }
};

}  // namespace

class BitmapButtonTest : public QObject {
    Q_OBJECT
  private:
    std::unique_ptr<velora_test::BitmapFolder> Folder;
    std::unique_ptr<QWidget> Parent;

    BitmapButton* MakeButton(unsigned style, QPoint at = QPoint(10, 10)) {
        auto* button = new BitmapButton(Parent.get());
        button->PreSubclassWindow(style);
        button->move(at);
        button->show();
        return button;
    }
    BitmapButton* MakePush() {
        BitmapButton* b = MakeButton(PushStyle);
        b->LoadFaces(Normal, Pressed, Hover, Disabled, Focus, Mask, 0, 0, 0);
        return b;
    }
    BitmapButton* MakeCheck(QPoint at = QPoint(10, 10)) {
        BitmapButton* b = MakeButton(CheckStyle, at);
        b->LoadFaces(CheckNormal, CheckPressed, CheckHover, CheckDisabled, 0, CheckMask, 0, 0, 0);
        return b;
    }
    static QColor Face(BitmapButton* b) { return Shown(b, 3, 3); }

  private slots:
    void initTestCase() {
        Folder = std::make_unique<velora_test::BitmapFolder>();
        QVERIFY(Folder->IsValid());
        // Push faces 80 x 30, check faces 20 x 20 (without a focus face), in the same colours.
        const struct {
            int Push, Check;
            QColor Colour;
        } solids[] = {{Normal, CheckNormal, NormalColour},
                      {Hover, CheckHover, HoverColour},
                      {Disabled, CheckDisabled, DisabledColour},
                      {Pressed, CheckPressed, PressedColour},
                      {Mask, CheckMask, Qt::black}};
        for (const auto& solid : solids) {
            Folder->WriteSolid(solid.Push, 80, 30, solid.Colour);
            Folder->WriteSolid(solid.Check, 20, 20, solid.Colour);
        }
        Folder->WriteSolid(Focus, 80, 30, FocusColour);
        QImage half(80, 30, QImage::Format_RGB32);  // the right half is key white
        half.fill(Qt::black);
        QPainter(&half).fillRect(40, 0, 40, 30, Qt::white);
        Folder->Write(HalfMask, half);
        QImage coded(4, 3, QImage::Format_RGB32);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 4; ++x) {
                coded.setPixel(x, y, CodedColour(x, y).rgb());
            }
        }
        Folder->Write(Coded, coded);
    }
    void cleanupTestCase() { Folder.reset(); }

    void init() {
        Parent = velora_test::MakeParent(QSize(300, 200), ParentColour);
        QVERIFY(velora_test::ShowActive(Parent.get()));
    }
    void cleanup() { Parent.reset(); }

    void BehaviourFromTheButtonType() {
        const std::pair<unsigned, ButtonBehaviour> cases[] = {
            {0, ButtonBehaviour::Push},
            {1, ButtonBehaviour::Push},
            {3, ButtonBehaviour::CheckBox},
            {9, ButtonBehaviour::Radio},
            {CheckStyle, ButtonBehaviour::CheckBox},
            {RadioStyle, ButtonBehaviour::Radio},
            {0x0B, ButtonBehaviour::CheckBox},
            {0x109, ButtonBehaviour::Radio}};
        for (const auto& [style, behaviour] : cases) {
            BitmapButton button;
            button.PreSubclassWindow(style);
            QVERIFY2(button.Behaviour() == behaviour, qPrintable(QString::number(style, 16)));
        }
    }

    void FaceTable() {
        BitmapButton* b = MakePush();
        QCOMPARE(b->size(), QSize(80, 30));
        QCOMPARE(Face(b), NormalColour);
        b->setFocus();
        QVERIFY(b->hasFocus());
        QCOMPARE(Face(b), FocusColour);
        PointerEnters(b, QPoint(5, 5));
        QVERIFY(b->IsHover());
        QCOMPARE(Face(b), HoverColour);  // hover wins over focus
        b->SetState(true);
        QCOMPARE(Face(b), PressedColour);
        b->setEnabled(false);
        QCOMPARE(Face(b), DisabledColour);  // disabled wins over pushed
        b->setEnabled(true);
        b->SetState(false);
        PointerLeaves(b);
        QVERIFY(!b->IsHover());
        b->setFocus();
        QCOMPARE(Face(b), FocusColour);
        b->clearFocus();
        QCOMPARE(Face(b), NormalColour);
    }

    void MissingFacesFallBackToButtonFace() {
        BitmapButton* b = MakeButton(PushStyle);
        b->LoadFaces(Missing, Missing, Hover, Disabled, 0, Mask, 0, 0, 0);
        const QColor buttonFace = b->palette().color(QPalette::Active, QPalette::Button);
        // Without a normal face even the hover face is not used.
        PointerEnters(b, QPoint(5, 5));
        QCOMPARE(Face(b), buttonFace);
        b->SetState(true);
        QCOMPARE(Face(b), buttonFace);
        b->setEnabled(false);
        QCOMPARE(Face(b), DisabledColour);
    }

    void CheckedAndDisabledCheckBox() {
        BitmapButton* b = MakeCheck();
        QCOMPARE(b->size(), QSize(20, 20));
        b->SetCheck(1);
        QCOMPARE(Face(b), PressedColour);
        b->setEnabled(false);
        // Checked, it keeps showing so: the pressed face's grey (qGray 100) halfway to the
        // disabled face's 90. Unchecked, the disabled face.
        QCOMPARE(Face(b), QColor(95, 95, 95));
        QCOMPARE(b->GetCheck(), 1);
        b->SetCheck(0);
        QCOMPARE(Face(b), DisabledColour);
        // Disabled identifier 0 shows the normal face.
        b->LoadFaces(CheckNormal, CheckPressed, CheckHover, 0, 0, CheckMask, 0, 0, 0);
        QCOMPARE(Face(b), NormalColour);
    }

    void ClicksToggleACheckBoxBeforeTheNotification() {
        // A push button never checks, by call or by click.
        BitmapButton* push = MakePush();
        push->SetCheck(1);
        QCOMPARE(push->GetCheck(), 0);
        QSignalSpy pushClicks(push, &QAbstractButton::clicked);
        QTest::mouseClick(push, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(pushClicks.count(), 1);
        QCOMPARE(push->GetCheck(), 0);
        // A check box shows its new state to the click's receiver. A double click comes as press,
        // release, double click, release: two presses, two toggles, two clicks.
        BitmapButton* b = MakeCheck(QPoint(100, 10));
        QList<int> seenAtClick;
        connect(b, &QAbstractButton::clicked, this, [&] { seenAtClick << b->GetCheck(); });
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mousePress(b, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseDClick(b, Qt::LeftButton, {}, QPoint(10, 10));
        QVERIFY(b->GetState());
        QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(seenAtClick, QList<int>({1, 0, 1, 0}));
    }

    void PressDragOutAndBack() {
        BitmapButton* b = MakeCheck();
        QSignalSpy clicks(b, &QAbstractButton::clicked);
        QTest::mousePress(b, Qt::LeftButton, {}, QPoint(10, 10));
        QVERIFY(b->GetState());
        QCOMPARE(Face(b), PressedColour);
        QTest::mouseMove(b, QPoint(60, 10));
        QVERIFY(!b->GetState());
        QCOMPARE(Face(b), NormalColour);
        QTest::mouseMove(b, QPoint(12, 8));
        QVERIFY(b->GetState());
        QCOMPARE(Face(b), PressedColour);
        QTest::mouseMove(b, QPoint(-5, 10));
        QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(-5, 10));
        QCOMPARE(b->GetCheck(), 0);
        QCOMPARE(clicks.count(), 0);
        // A press back inside ends in a toggle and one click.
        QTest::mousePress(b, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseMove(b, QPoint(60, 10));
        QTest::mouseMove(b, QPoint(10, 10));
        QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(b->GetCheck(), 1);
        QCOMPARE(clicks.count(), 1);
    }

    void PressedStateFollowsTheShape() {
        BitmapButton* b = MakeButton(PushStyle);
        b->LoadFaces(Normal, Pressed, Hover, Disabled, 0, HalfMask, 1, 0, 0);
        QCOMPARE(b->mask(), QRegion(0, 0, 40, 30));
        // Where the mask is white the parent shows through.
        QCOMPARE(Shown(b, 60, 10), ParentColour);
        QCOMPARE(Shown(b, 39, 10), NormalColour);
        QSignalSpy clicks(b, &QAbstractButton::clicked);
        QTest::mousePress(b, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseMove(b, QPoint(60, 10));  // inside the rectangle, outside the shape
        QVERIFY(!b->GetState());
        QTest::mouseMove(b, QPoint(30, 10));
        QVERIFY(b->GetState());
        QCOMPARE(Shown(b, 30, 10), PressedColour);
        QTest::mouseMove(b, QPoint(60, 10));
        QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(60, 10));
        QCOMPARE(clicks.count(), 0);
    }

    void SpaceTogglesOncePerKeyDown() {
        BitmapButton* b = MakeCheck();
        b->setFocus();
        QSignalSpy clicks(b, &QAbstractButton::clicked);
        QTest::keyPress(b, Qt::Key_Space);
        for (int i = 0; i < 2; ++i) {
            QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "),
                             true);
            QCoreApplication::sendEvent(b, &repeat);
        }
        QCOMPARE(b->GetCheck(), 1);  // three key-downs
        QCOMPARE(clicks.count(), 0);
        QTest::keyRelease(b, Qt::Key_Space);
        QCOMPARE(clicks.count(), 1);
        QTest::keyClick(b, Qt::Key_Space);
        QCOMPARE(b->GetCheck(), 0);
        QCOMPARE(clicks.count(), 2);
    }

    void RadioGroups() {
        auto* counter = new UncheckCounter;
        counter->setParent(Parent.get());
        BitmapButton* r1 = MakeButton(RadioStyle);
        BitmapButton* r2 = MakeButton(RadioStyle);
        auto* other = new QWidget(Parent.get());  // not a button: neither member nor boundary
        BitmapButton* r3 = MakeButton(RadioStyle);
        BitmapButton* s1 = MakeButton(RadioStyle);
        s1->SetGroupStart(true);
        BitmapButton* s2 = MakeButton(RadioStyle);
        QWidget elsewhere;
        BitmapButton outsider(&elsewhere);
        outsider.PreSubclassWindow(RadioStyle);
        for (QObject* o : std::initializer_list<QObject*>{r1, r2, other, r3, s1, s2, &outsider}) {
            o->installEventFilter(counter);
        }
        QCOMPARE(r2->GroupMembers(), (std::vector<BitmapButton*>{r3, r1}));
        QCOMPARE(s2->GroupMembers(), (std::vector<BitmapButton*>{s1}));

        r1->SetCheck(1);
        s1->SetCheck(1);
        outsider.SetCheck(1);
        QCoreApplication::sendPostedEvents();
        counter->Count.clear();
        r2->SetCheck(1);
        QVERIFY(counter->Count.empty());  // posted, not sent
        QCoreApplication::sendPostedEvents();
        QCOMPARE(counter->Count, (std::map<QObject*, int>{{r1, 1}, {r3, 1}}));
        QCOMPARE(r1->GetCheck(), 0);
        QCOMPARE(r2->GetCheck(), 1);
        QCOMPARE(s1->GetCheck(), 1);
        QCOMPARE(outsider.GetCheck(), 1);

        counter->Count.clear();
        r2->SetCheck(0);
        QCoreApplication::sendPostedEvents();
        QVERIFY(counter->Count.empty());

        // A click checks the radio and unchecks the rest of its group.
        QTest::mouseClick(s2, Qt::LeftButton, {}, QPoint(5, 5));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(s2->GetCheck(), 1);
        QCOMPARE(s1->GetCheck(), 0);
        QTest::mouseClick(s2, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(s2->GetCheck(), 1);  // a radio stays checked
    }

    void PressEndsHoverUntilTheNextMove() {
        BitmapButton* b = MakeButton(PushStyle);
        b->LoadFaces(Normal, Pressed, Hover, Disabled, 0, Mask, 0, 0, 0);  // no focus face
        PointerEnters(b, QPoint(5, 5));
        QCOMPARE(Face(b), HoverColour);
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!b->IsHover());
        QCOMPARE(Face(b), NormalColour);
        PointerMoves(b, QPoint(6, 6));
        QCOMPARE(Face(b), HoverColour);
        // A move that arrives without the pointer having entered starts no hover.
        PointerLeaves(b);
        PointerMoves(b, QPoint(6, 6));
        QVERIFY(!b->IsHover());
    }

    void FocusLossEndsAHeldPress() {
        BitmapButton* b = MakePush();
        QSignalSpy clicks(b, &QAbstractButton::clicked);
        QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(b->GetState());
        b->clearFocus();
        QVERIFY(!b->GetState());
        QTest::mouseMove(b, QPoint(6, 6));
        QVERIFY(!b->GetState());
        QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(6, 6));
        QCOMPARE(clicks.count(), 0);
    }

    void LoadFacesClamping() {
        // Draw mode 5 tiles: a 4 x 3 face repeats from the top-left corner, without the mask.
        BitmapButton* tiled = MakeButton(PushStyle);
        tiled->resize(10, 7);
        tiled->LoadFaces(Coded, 0, 0, 0, 0, 0, 5, 0, 0);
        for (const QPoint p : {QPoint(0, 0), QPoint(5, 4), QPoint(9, 6), QPoint(7, 2)}) {
            QCOMPARE(QColor(ShownPixel(tiled, p)), CodedColour(p.x() % 4, p.y() % 3));
        }
        // Draw mode -3 is natural size; without a mask the control keeps its size, and beyond
        // the face the parent shows.
        BitmapButton* natural = MakeButton(PushStyle, QPoint(100, 10));
        natural->resize(10, 7);
        natural->LoadFaces(Coded, 0, 0, 0, 0, 0, -3, 0, -1);
        QCOMPARE(natural->Margin(), 0);
        QCOMPARE(natural->size(), QSize(10, 7));
        QCOMPARE(Shown(natural, 3, 2), CodedColour(3, 2));
        QCOMPARE(Shown(natural, 5, 5), ParentColour);
        // Stretch draws the face scaled to the control.
        BitmapButton* stretched = MakeButton(PushStyle, QPoint(200, 10));
        stretched->resize(8, 6);
        stretched->LoadFaces(Coded, 0, 0, 0, 0, 0, 1, 0, 0);
        QCOMPARE(Shown(stretched, 7, 5), CodedColour(3, 2));
        QCOMPARE(Shown(stretched, 2, 0), CodedColour(1, 0));
        // With a mask, natural mode takes the mask's size; stretch keeps the control's.
        stretched->LoadFaces(Normal, 0, 0, 0, 0, Mask, 1, 0, 0);
        QCOMPARE(stretched->size(), QSize(8, 6));
        natural->LoadFaces(Normal, 0, 0, 0, 0, Mask, 0, 0, 0);
        QCOMPARE(natural->size(), QSize(80, 30));
        // A mask that does not load leaves shape and size alone.
        natural->resize(33, 11);
        natural->LoadFaces(Normal, 0, 0, 0, 0, Missing, 0, 0, 0);
        QCOMPARE(natural->size(), QSize(33, 11));
    }

    void FocusRectangleOnlyWithAMargin() {
        BitmapButton* b = MakePush();
        b->setFocus();
        const QColor inverted = velora_test::Inverted(FocusColour);
        for (int x = 0; x < 80; ++x) {
            QCOMPARE(Shown(b, x, 0), FocusColour);
        }
        b->LoadFaces(Normal, Pressed, Hover, Disabled, Focus, Mask, 0, 0, 3);
        QCOMPARE(Shown(b, 3, 3), inverted);
        QCOMPARE(Shown(b, 4, 3), FocusColour);
        QCOMPARE(Shown(b, 76, 26), inverted);
        QCOMPARE(Shown(b, 2, 2), FocusColour);
    }

    void CaptionCentredShiftedAndEmbossed() {
        BitmapButton* b = MakePush();
        QFont font = b->font();
        font.setPixelSize(16);
        font.setBold(true);
        b->setFont(font);
        b->setText(QStringLiteral("열기"));
        b->SetTextColour(QColor(255, 255, 255));
        // The box around every pixel that is not the face colour.
        const auto captionBox = [b](QColor face) {
            QRect box;
            for (int y = 0; y < 30; ++y) {
                for (int x = 0; x < 80; ++x) {
                    if (Shown(b, x, y) != face) {
                        box |= QRect(x, y, 1, 1);
                    }
                }
            }
            return box;
        };
        const QRect normal = captionBox(NormalColour);
        QVERIFY(!normal.isEmpty());
        QVERIFY(qAbs(normal.center().x() - 40) <= 2);
        QVERIFY(qAbs(normal.center().y() - 15) <= 2);
        b->SetState(true);
        QCOMPARE(captionBox(PressedColour), normal.translated(1, 1));
        b->SetState(false);
        b->setEnabled(false);
        // The highlight copy at the caption's place and the grey one up and to the left.
        QCOMPARE(captionBox(DisabledColour), normal.adjusted(-1, -1, 0, 0));
    }
};

QTEST_MAIN(BitmapButtonTest)
#include "BitmapButtonTest.moc"
