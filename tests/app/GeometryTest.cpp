// The picture fit and the file-name rule, against the worked examples of the window's layout.
#include <gtest/gtest.h>

#include "WindowGeometry.h"

namespace velora {
namespace {

// The wide, tall and square pictures are drawn where they fit by the window's test.
TEST(FitPicture, ExtremeShapesStayInsideTheFrame) {
    EXPECT_EQ(FitPicture(1, 1), QRect(154, 174, 462, 463));
    // 4000 x 3: 463 / 1333.33 = 0.347, so the strip is drawn 0 pixels high at row 405.
    EXPECT_EQ(FitPicture(4000, 3), QRect(154, 405, 462, 0));
    EXPECT_EQ(FitPicture(1, 2000), QRect(385, 174, 0, 462));
    EXPECT_TRUE(FitPicture(0, 10).isNull());
    for (unsigned w = 1; w <= 64; ++w) {
        for (unsigned h = 1; h <= 64; ++h) {
            const QRect r = FitPicture(w * 37, h * 23);
            ASSERT_GE(r.left(), 154) << w << "x" << h;
            ASSERT_GE(r.top(), 174) << w << "x" << h;
            ASSERT_LE(r.left() + r.width(), 154 + 463) << w << "x" << h;
            ASSERT_LE(r.top() + r.height(), 174 + 463) << w << "x" << h;
        }
    }
}

TEST(FileName, ShownWhenShorterThanNineteenBytes) {
    EXPECT_EQ(FileNameToShow("abcdefghijklmn.jpg"), "abcdefghijklmn.jpg");  // 18
    EXPECT_EQ(FileNameToShow("abcdefghijklmno.jpg"), FileNameTooLongText);  // 19
    EXPECT_EQ(FileNameToShow(""), "");
}

TEST(FileName, KoreanSyllablesCountTwoBytes) {
    const QString nine = QString::fromUtf8("가나다라마바사아자");
    const QString ten = QString::fromUtf8("가나다라마바사아자차");
    EXPECT_EQ(DoubleByteLength(nine), 18);
    EXPECT_EQ(FileNameToShow(nine), nine);
    EXPECT_EQ(FileNameToShow(ten), FileNameTooLongText);
    // Mixed: four syllables and ".jpg" plus six digits make 8 + 10 = 18 bytes.
    const QString mixed = QString::fromUtf8("제주여행123456.jpg");
    EXPECT_EQ(DoubleByteLength(mixed), 18);
    EXPECT_EQ(FileNameToShow(mixed), mixed);
    EXPECT_EQ(FileNameToShow(mixed + "x"), FileNameTooLongText);
}

TEST(PlaceOnScreen, CentredWhereItFitsAtTheEdgeWhereNot) {
    const QSize window(1000, 800);
    // Room on both axes: centred in the free area, whose origin need not be the screen's.
    EXPECT_EQ(PlaceOnScreen(QRect(0, 0, 1920, 1080), window), QPoint(460, 140));
    EXPECT_EQ(PlaceOnScreen(QRect(1920, 32, 1920, 1048), window), QPoint(2380, 156));
    // A laptop's 1366 x 768 with a 32-pixel panel: wide enough, too low.
    EXPECT_EQ(PlaceOnScreen(QRect(0, 32, 1366, 736), window), QPoint(183, 32));
    EXPECT_EQ(PlaceOnScreen(QRect(0, 0, 800, 600), window), QPoint(0, 0));
    // Exactly as large as the area.
    EXPECT_EQ(PlaceOnScreen(QRect(10, 20, 1000, 800), window), QPoint(10, 20));
}

}  // namespace
}  // namespace velora
