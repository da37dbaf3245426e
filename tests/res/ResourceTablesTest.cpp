// The dialog layouts, their conversion to pixels and the string table, against the pixel
// positions and texts the window is designed around.
#include "Resources.h"

#include <QtTest>

using namespace velora;

namespace {

QRect PixelsOf(int id) {
    const DialogItem* item = FindDialogTemplate(IDD_MAIN_DIALOG)->Find(id);
    return item ? DialogUnitsToPixels(item->Units) : QRect();
}

}  // namespace

class ResourceTablesTest : public QObject {
    Q_OBJECT
  private slots:
    void conversionDropsFractionsPerComponent();
    void mainLayoutLandsOnItsPixels_data();
    void mainLayoutLandsOnItsPixels();
    void mainTemplateItems();
    void aboutTemplate();
    void strings();
};

void ResourceTablesTest::conversionDropsFractionsPerComponent() {
    // 1.75 per unit: 1 -> 1.75, 2 -> 3.5, 3 -> 5.25, 4 -> 7, 87 -> 152.25.
    QCOMPARE(DialogUnitsToPixels(0), 0);
    QCOMPARE(DialogUnitsToPixels(1), 1);
    QCOMPARE(DialogUnitsToPixels(2), 3);
    QCOMPARE(DialogUnitsToPixels(3), 5);
    QCOMPARE(DialogUnitsToPixels(4), 7);
    // Width and height are scaled on their own, not derived from the scaled right and bottom
    // edges (that would make the height 476 - 323 = 153 here).
    QCOMPARE(DialogUnitsToPixels(QRect(56, 185, 16, 87)), QRect(98, 323, 28, 152));
    QCOMPARE(DialogUnitsToPixels(QRect(422, 101, 50, 14)).topLeft(), QPoint(738, 176));
    // The whole template, 567 x 368 units.
    QCOMPARE(DialogUnitsToPixels(QRect(0, 0, 567, 368)).size(), QSize(992, 644));
}

void ResourceTablesTest::mainLayoutLandsOnItsPixels_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QPoint>("topLeft");
    QTest::addColumn<QSize>("size");  // invalid: not part of the published layout
    QTest::newRow("Open") << 1002 << QPoint(738, 176) << QSize();
    QTest::newRow("Save") << 1003 << QPoint(771, 217) << QSize();
    QTest::newRow("Start") << 1004 << QPoint(792, 257) << QSize();
    QTest::newRow("Cancel") << 1000 << QPoint(806, 295) << QSize();
    QTest::newRow("Exit") << 1 << QPoint(812, 337) << QSize();
    QTest::newRow("progress bar") << 1001 << QPoint(98, 323) << QSize(28, 152);
    QTest::newRow("Gray Contrast") << 1008 << QPoint(794, 458) << QSize();
    QTest::newRow("Reddish Film") << 1009 << QPoint(820, 495) << QSize(14, 14);
    QTest::newRow("Blueish Film") << 1010 << QPoint(820, 518) << QSize(14, 14);
    QTest::newRow("Color slider") << 1013 << QPoint(840, 395) << QSize();
    QTest::newRow("Gray slider") << 1014 << QPoint(840, 423) << QSize();
}

void ResourceTablesTest::mainLayoutLandsOnItsPixels() {
    QFETCH(int, id);
    QFETCH(QPoint, topLeft);
    QFETCH(QSize, size);
    const QRect r = PixelsOf(id);
    QVERIFY2(r.isValid(), "control missing from template 102");
    QCOMPARE(r.topLeft(), topLeft);
    if (size.isValid()) {
        QCOMPARE(r.size(), size);
    }
}

void ResourceTablesTest::mainTemplateItems() {
    const DialogTemplate* dialog = FindDialogTemplate(IDD_MAIN_DIALOG);
    QVERIFY(dialog != nullptr);
    QCOMPARE(dialog->WidthUnits, 567);
    QCOMPARE(dialog->HeightUnits, 368);
    QVERIFY(!dialog->HasCaptionBar);
    QCOMPARE(QString::fromUtf8(dialog->FontName), QStringLiteral("MS Shell Dlg"));
    QCOMPARE(dialog->FontPoints, 9);

    // Template order matters: the first tab stop gets the focus after initialisation.
    QList<int> order;
    for (const DialogItem& item : *dialog) {
        order << item.Id;
    }
    QCOMPARE(order, (QList<int>{1002, 1003, 1004, 1000, 1, 1006, 1001, 1007, 1008, 1009, 1010, 1013,
                                1014, 1015}));

    // Captions keep their inner blanks.
    const auto caption = [&](int id) { return QString::fromUtf8(dialog->Find(id)->Caption); };
    QCOMPARE(caption(1002), QString::fromUtf8("열  기"));
    QCOMPARE(caption(1003), QString::fromUtf8("저  장"));
    QCOMPARE(caption(1004), QString::fromUtf8("변환시작"));
    QCOMPARE(caption(1000), QString::fromUtf8("변환취소"));
    QCOMPARE(caption(1), QString::fromUtf8("종  료"));

    // Button kinds: push 0, default push 1, automatic check box 3; only Exit is the default.
    for (int id : {1002, 1003, 1004, 1000}) {
        QCOMPARE(int(dialog->Find(id)->ButtonStyle), 0);
        QCOMPARE(dialog->Find(id)->Style & (kVisible | kTabStop | kDefaultButton),
                 std::uint32_t(kVisible | kTabStop));
    }
    QCOMPARE(int(dialog->Find(1)->ButtonStyle), 1);
    QVERIFY(dialog->Find(1)->Style & kDefaultButton);
    for (int id : {1006, 1007, 1008, 1009, 1010}) {
        QCOMPARE(dialog->Find(id)->Class, DialogItemClass::CheckBox);
        QCOMPARE(int(dialog->Find(id)->ButtonStyle), 3);
        QVERIFY(dialog->Find(id)->Style & kTabStop);
    }

    // Hidden for the whole run: 1006, 1007 and 1015; everything else is visible.
    for (const DialogItem& item : *dialog) {
        const bool hidden = item.Id == 1006 || item.Id == 1007 || item.Id == 1015;
        QCOMPARE(bool(item.Style & kVisible), !hidden);
    }

    const DialogItem* progress = dialog->Find(1001);
    QCOMPARE(progress->Class, DialogItemClass::ProgressBar);
    QVERIFY(progress->Style & kVertical);
    QVERIFY(progress->Style & kBorder);

    // Slider hosts: notify statics carrying the empty track, not tab stops, 57 x 11 units.
    for (int id : {1013, 1014, 1015}) {
        const DialogItem* host = dialog->Find(id);
        QCOMPARE(host->Class, DialogItemClass::Static);
        QCOMPARE(host->BitmapId, 143);
        QVERIFY(host->Style & kNotify);
        QVERIFY(!(host->Style & kTabStop));
        QCOMPARE(host->Units.size(), QSize(57, 11));
    }
    QCOMPARE(dialog->Find(1015)->Units.topLeft(), QPoint(419, 319));
    QVERIFY(dialog->Find(4242) == nullptr);
}

void ResourceTablesTest::aboutTemplate() {
    const DialogTemplate* about = FindDialogTemplate(IDD_ABOUTBOX);
    QVERIFY(about != nullptr);
    QCOMPARE(QString::fromUtf8(about->Caption), QString::fromUtf8("Velora 정보"));
    QCOMPARE(about->WidthUnits, 159);
    QCOMPARE(about->HeightUnits, 315);
    QVERIFY(about->HasCaptionBar);
    QCOMPARE(int(about->ItemCount), 4);

    const DialogItem& icon = about->Items[0];
    QVERIFY(icon.Style & kIcon);
    QCOMPARE(icon.BitmapId, 128);
    QCOMPARE(icon.Units, QRect(22, 17, 20, 20));
    const DialogItem& name = about->Items[1];
    QCOMPARE(QString::fromUtf8(name.Caption), QStringLiteral("Velora"));
    QCOMPARE(name.Units, QRect(57, 10, 60, 8));

    const DialogItem* version = about->Find(1009);
    QVERIFY(version != nullptr);
    QCOMPARE(version->Class, DialogItemClass::Edit);
    QCOMPARE(version->Units, QRect(7, 130, 63, 13));
    QCOMPARE(version->Style & (kReadOnly | kCentred | kBorder),
             std::uint32_t(kReadOnly | kCentred | kBorder));

    const DialogItem* ok = about->Find(1);
    QVERIFY(ok != nullptr);
    QCOMPARE(QString::fromUtf8(ok->Caption), QString::fromUtf8("확    인"));
    QCOMPARE(ok->Units, QRect(7, 292, 145, 16));
    QCOMPARE(int(ok->ButtonStyle), 1);
    QVERIFY(ok->Style & kDefaultButton);

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
