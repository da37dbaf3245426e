// The dialog layouts, their conversion to pixels and the string table, against the pixel
// positions and texts the window is designed around.
#include "Resources.h"

#include <QtTest>

using namespace velora;

class ResourceTablesTest : public QObject {
    Q_OBJECT
  private slots:
    void conversionDropsFractionsPerComponent();
    void mainTemplate();
    void aboutTemplate();
    void strings();
};

void ResourceTablesTest::conversionDropsFractionsPerComponent() {
    // 1.75 per unit: 1 -> 1.75, 2 -> 3.5, 3 -> 5.25, 4 -> 7.
    QCOMPARE(DialogUnitsToPixels(0), 0);
    QCOMPARE(DialogUnitsToPixels(1), 1);
    QCOMPARE(DialogUnitsToPixels(2), 3);
    QCOMPARE(DialogUnitsToPixels(3), 5);
    QCOMPARE(DialogUnitsToPixels(4), 7);
    // Width and height are scaled on their own, not derived from the scaled right and bottom
    // edges (that would make the height 476 - 323 = 153 here).
    QCOMPARE(DialogUnitsToPixels(QRect(56, 185, 16, 87)), QRect(98, 323, 28, 152));
    // The whole template, 567 x 368 units.
    QCOMPARE(DialogUnitsToPixels(QRect(0, 0, 567, 368)).size(), QSize(992, 644));
}

void ResourceTablesTest::mainTemplate() {
    const DialogTemplate* dialog = FindDialogTemplate(IDD_MAIN_DIALOG);
    QVERIFY(dialog != nullptr);
    QCOMPARE(dialog->WidthUnits, 567);
    QCOMPARE(dialog->HeightUnits, 368);
    QVERIFY(!dialog->HasCaptionBar);

    // Every item in template order (the first tab stop gets the focus after initialisation):
    // its class, caption, button kind (push 0, default push 1, automatic check box 3; -1: not a
    // button), the style bits it must have and must not have, and where it lands in pixels (an
    // empty size: only the position is part of the published layout).
    using C = DialogItemClass;
    const std::uint32_t V = StyleVisible, T = StyleTabStop, D = StyleDefaultButton;
    struct Item {
        int Id;
        C Class;
        const char* Caption;
        int ButtonStyle;
        std::uint32_t On, Off;
        QPoint At;
        QSize Size;
    };
    const Item expected[] = {
        {1002, C::PushButton, "열  기", 0, V | T, D, {738, 176}, {}},
        {1003, C::PushButton, "저  장", 0, V | T, D, {771, 217}, {}},
        {1004, C::PushButton, "변환시작", 0, V | T, D, {792, 257}, {}},
        {1000, C::PushButton, "변환취소", 0, V | T, D, {806, 295}, {}},
        {1, C::PushButton, "종  료", 1, V | D, 0, {812, 337}, {}},
        {1006, C::CheckBox, nullptr, 3, T, V, {}, {}},
        {1001,
         C::ProgressBar,
         nullptr,
         -1,
         V | StyleVertical | StyleBorder,
         0,
         {98, 323},
         {28, 152}},
        {1007, C::CheckBox, nullptr, 3, T, V, {}, {}},
        {1008, C::CheckBox, nullptr, 3, V | T, 0, {794, 458}, {}},
        {1009, C::CheckBox, nullptr, 3, V | T, 0, {820, 495}, {14, 14}},
        {1010, C::CheckBox, nullptr, 3, V | T, 0, {820, 518}, {14, 14}},
        // Slider hosts: notify statics carrying the empty track, not tab stops.
        {1013, C::Static, nullptr, -1, V | StyleNotify, T, {840, 395}, {}},
        {1014, C::Static, nullptr, -1, V | StyleNotify, T, {840, 423}, {}},
        {1015, C::Static, nullptr, -1, StyleNotify, V | T, {}, {}},
    };
    QCOMPARE(dialog->ItemCount, std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const Item& want = expected[i];
        const DialogItem& item = dialog->Items[i];
        const QByteArray id = QByteArray::number(want.Id);
        const char* where = id.constData();
        QVERIFY2(item.Id == want.Id, where);
        QVERIFY2(dialog->Find(want.Id) == &item, where);
        QVERIFY2(item.Class == want.Class, where);
        if (want.Caption) {
            QCOMPARE(QString::fromUtf8(item.Caption), QString::fromUtf8(want.Caption));
        }
        if (want.ButtonStyle >= 0) {
            QVERIFY2(item.ButtonStyle == want.ButtonStyle, where);
        }
        QVERIFY2((item.Style & want.On) == want.On, where);
        QVERIFY2((item.Style & want.Off) == 0, where);
        const QRect pixels = DialogUnitsToPixels(item.Units);
        QVERIFY2(want.At.isNull() || pixels.topLeft() == want.At, where);
        QVERIFY2(!want.Size.isValid() || pixels.size() == want.Size, where);
        if (want.Class == C::Static) {
            QVERIFY2(item.BitmapId == IDB_SLIDER_CHANNEL && item.Units.size() == QSize(57, 11),
                     where);
        }
    }
    QCOMPARE(dialog->Find(1015)->Units.topLeft(), QPoint(419, 319));
    QVERIFY(dialog->Find(4242) == nullptr);
}

void ResourceTablesTest::aboutTemplate() {
    const DialogTemplate* about = FindDialogTemplate(IDD_ABOUTBOX);
    QVERIFY(about != nullptr);
    QCOMPARE(QString::fromUtf8(about->Caption), QString::fromUtf8("Velora 정보"));
    QCOMPARE(QSize(about->WidthUnits, about->HeightUnits), QSize(159, 315));
    QVERIFY(about->HasCaptionBar);
    QCOMPARE(int(about->ItemCount), 4);

    const DialogItem& icon = about->Items[0];
    QVERIFY(icon.Style & StyleIcon);
    QCOMPARE(icon.BitmapId, 128);
    QCOMPARE(QString::fromUtf8(about->Items[1].Caption), QStringLiteral("Velora"));

    const DialogItem* version = about->Find(1009);
    QVERIFY(version != nullptr);
    QCOMPARE(version->Class, DialogItemClass::Edit);
    QCOMPARE(version->Style & (StyleReadOnly | StyleCentred | StyleBorder),
             std::uint32_t(StyleReadOnly | StyleCentred | StyleBorder));

    const DialogItem* ok = about->Find(1);
    QVERIFY(ok != nullptr);
    QCOMPARE(QString::fromUtf8(ok->Caption), QString::fromUtf8("확    인"));
    QCOMPARE(int(ok->ButtonStyle), 1);
    QVERIFY(ok->Style & StyleDefaultButton);

    QVERIFY(FindDialogTemplate(101) == nullptr);
    QVERIFY(FindDialogTemplate(0) == nullptr);
}

void ResourceTablesTest::strings() {
    QCOMPARE(LoadResourceString(101), QString::fromUtf8("Velora 정보(&A)..."));
    QCOMPARE(LoadResourceString(103), QString::fromUtf8("Windows 소켓을 초기화하지 못했습니다."));
    // Korean must arrive as characters, not as the bytes of the source file.
    QCOMPARE(LoadResourceString(103).count(QChar(0xC18C)), 1);  // 소
    for (int missing : {0, -1, 100, 102, 104, 130}) {
        QVERIFY(LoadResourceString(missing).isEmpty());
    }
    QCOMPARE(BitmapResourcePath(130), QStringLiteral(":/bitmaps/130.png"));
    QCOMPARE(IconResourcePath(128), QStringLiteral(":/icons/128.png"));
}

QTEST_GUILESS_MAIN(ResourceTablesTest)
#include "ResourceTablesTest.moc"
