// The dialog layouts' conversion to pixels, their lookup, and the string table.
#include "Resources.h"

#include <QtTest>

using namespace velora;

class ResourceTablesTest : public QObject {
    Q_OBJECT
  private slots:
    void conversionDropsFractionsPerComponent();
    void templates();
    void strings();
};

void ResourceTablesTest::conversionDropsFractionsPerComponent() {
    // 1.75 per unit: 1 -> 1.75, 2 -> 3.5, 3 -> 5.25, 4 -> 7.
    for (int units = 0; units <= 4; ++units) {
        QCOMPARE(DialogUnitsToPixels(units), units * 7 / 4);
    }
    // Width and height are scaled on their own, not derived from the scaled right and bottom
    // edges (that would make the height 476 - 323 = 153 here).
    QCOMPARE(DialogUnitsToPixels(QRect(56, 185, 16, 87)), QRect(98, 323, 28, 152));
    // The whole template, 567 x 368 units.
    QCOMPARE(DialogUnitsToPixels(QRect(0, 0, 567, 368)).size(), QSize(992, 644));
}

// What each item of the two layouts is and where it lands is seen in the window's own tests, on
// the controls built from them; here only the lookups.
void ResourceTablesTest::templates() {
    const DialogTemplate* dialog = FindDialogTemplate(IDD_MAIN_DIALOG);
    QVERIFY(dialog != nullptr);
    QVERIFY(!dialog->HasCaptionBar);
    QVERIFY(dialog->Find(IDOK) != nullptr && dialog->Find(IDOK)->Id == IDOK);
    QVERIFY(dialog->Find(4242) == nullptr);
    QVERIFY(FindDialogTemplate(IDD_ABOUTBOX) != nullptr);
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
