#include <atomic>
#include <climits>
#include <thread>

#include "TestSupport.h"

namespace velora {
namespace {

using test::PatternBitmap;
using test::PatternColour;

TEST(WorkingBitmap, LastStatusKeepsTheLastFailureUntilRead) {
    BitmapRef bitmap = WorkingBitmap::CreateBlank(4, 3);
    ASSERT_TRUE(bitmap->HasImage());
    EXPECT_EQ(bitmap->LastStatus(), Status::Ok);
    Argb colour = 0;
    EXPECT_EQ(bitmap->GetPixel(4, 0, &colour), Status::InvalidParameter);
    // A later success does not wipe the failure out.
    EXPECT_EQ(bitmap->GetPixel(0, 0, &colour), Status::Ok);
    EXPECT_EQ(bitmap->LastStatus(), Status::InvalidParameter);
    EXPECT_EQ(bitmap->GetLastStatus(), Status::InvalidParameter);
    EXPECT_EQ(bitmap->GetLastStatus(), Status::Ok);

    // Clone stores its own result in the source, success included.
    bitmap->RecordStatus(Status::GenericError);
    EXPECT_NE(bitmap->Clone(0, 0, 4, 3), nullptr);
    EXPECT_EQ(bitmap->LastStatus(), Status::Ok);
    EXPECT_EQ(bitmap->Clone(1, 1, 4, 3), nullptr);
    EXPECT_EQ(bitmap->LastStatus(), Status::InvalidParameter);
}

TEST(WorkingBitmap, CreateBlankRefusesBadSizesWithoutARaster) {
    for (auto [w, h] : {std::pair{0, 5}, {5, -1}, {70000, 10}, {20000, 20000}}) {
        BitmapRef bitmap = WorkingBitmap::CreateBlank(w, h);
        ASSERT_NE(bitmap, nullptr);
        EXPECT_FALSE(bitmap->HasImage()) << w << "x" << h;
        EXPECT_NE(bitmap->LastStatus(), Status::Ok);
        EXPECT_EQ(bitmap->Width(), 0u);
        Argb colour = 0x12345678;
        EXPECT_NE(bitmap->GetPixel(0, 0, &colour), Status::Ok);
        EXPECT_EQ(colour, 0x12345678u);
    }
    test::ExpectPixels(*WorkingBitmap::CreateBlank(3, 2), [](int, int) { return 0xFF000000u; });
}

TEST(WorkingBitmap, PixelsOutsideThePictureGiveAStatusAndTouchNothing) {
    BitmapRef bitmap = PatternBitmap(5, 4);
    for (auto [x, y] :
         {std::pair{-1, 0}, {0, -1}, {5, 0}, {0, 4}, {INT_MAX, INT_MAX}, {INT_MIN, 2}}) {
        Argb colour = 7;
        EXPECT_EQ(bitmap->GetPixel(x, y, &colour), Status::InvalidParameter);
        EXPECT_EQ(colour, 7u);
        EXPECT_EQ(bitmap->SetPixel(x, y, 0xFFFFFFFF), Status::InvalidParameter);
    }
    EXPECT_EQ(bitmap->GetPixel(0, 0, nullptr), Status::InvalidParameter);
    test::ExpectPixels(*bitmap, PatternColour);
}

TEST(WorkingBitmap, CloneOfAnAreaCopiesPixelsItemsAndExtraIndependently) {
    BitmapRef source = PatternBitmap(9, 7);
    PropertyItem model{0x0110, PropertyTagTypeASCII, {'M', 0}, false};
    source->SetPropertyItem(model);
    ExtraMetadata extra;
    extra.Xmp = "<x:xmpmeta/>";
    extra.Segments.push_back({0xED, {1, 2, 3}});
    source->SetExtraMetadata(extra);

    BitmapRef clone = source->Clone(3, 2, 5, 4);
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->LastStatus(), Status::Ok);
    ASSERT_EQ(clone->Width(), 5u);
    ASSERT_EQ(clone->Height(), 4u);
    EXPECT_EQ(clone->Stride() % 4, 0);
    EXPECT_GE(clone->Stride(), 15);
    test::ExpectPixels(*clone, [](int x, int y) { return PatternColour(x + 3, y + 2); });
    PropertyItem copied;
    ASSERT_EQ(clone->GetPropertyItem(0x0110, &copied), Status::Ok);
    EXPECT_EQ(copied.value, model.value);
    EXPECT_EQ(clone->GetExtraMetadata().Xmp, extra.Xmp);
    ASSERT_EQ(clone->GetExtraMetadata().Segments.size(), 1u);

    clone->SetPixel(0, 0, 0xFF010203);
    clone->SetPropertyItem({0x0110, PropertyTagTypeASCII, {'N', 0}, false});
    Argb colour = 0;
    source->GetPixel(3, 2, &colour);
    EXPECT_EQ(colour, PatternColour(3, 2));
    source->GetPropertyItem(0x0110, &copied);
    EXPECT_EQ(copied.value, model.value);
}

TEST(WorkingBitmap, PropertyItemsReplaceInPlaceAndReportMissingOnes) {
    BitmapRef bitmap = WorkingBitmap::CreateBlank(1, 1);
    bitmap->SetPropertyItem({0x010F, PropertyTagTypeASCII, {'A', 0}, false});
    bitmap->SetPropertyItem({0x0110, PropertyTagTypeASCII, {'B', 0}, false});
    bitmap->SetPropertyItem({0x010F, PropertyTagTypeASCII, {'C', 'C', 0}, false});
    EXPECT_EQ(bitmap->GetPropertyIdList(), (std::vector<std::uint32_t>{0x010F, 0x0110}));
    EXPECT_EQ(bitmap->GetPropertyItemSize(0x010F), sizeof(PropertyItem) + 3);
    EXPECT_EQ(bitmap->GetPropertyItemSize(0x9999), 0u);
    EXPECT_EQ(bitmap->GetLastStatus(), Status::PropertyNotFound);
    EXPECT_EQ(bitmap->RemovePropertyItem(0x010F), Status::Ok);
    EXPECT_EQ(bitmap->RemovePropertyItem(0x010F), Status::PropertyNotFound);
    EXPECT_EQ(bitmap->GetPropertyCount(), 1u);
}

TEST(WorkingBitmap, BadLockRequestsGiveAStatus) {
    BitmapRef bitmap = PatternBitmap(6, 5);
    const std::int32_t f = PixelFormat24bppRGB;
    BitmapData data;
    const Rect bad[] = {{-1, 0, 2, 2},      {0, 0, 0, 2},       {0, 0, 7, 1},       {5, 4, 2, 1},
                        {0, 0, INT_MAX, 1}, {INT_MAX, 0, 1, 1}, {1, INT_MAX, 1, 1}, {2, 2, -1, -1}};
    for (const Rect& r : bad) {
        EXPECT_EQ(bitmap->LockBits(r, ImageLockModeRead, f, &data), Status::InvalidParameter)
            << r.X << "," << r.Y << " " << r.Width << "x" << r.Height;
        EXPECT_FALSE(data.Locked);
    }
    const Rect all{0, 0, 6, 5};
    EXPECT_EQ(bitmap->LockBits(all, ImageLockModeRead, 0x26200A, &data), Status::InvalidParameter);
    EXPECT_EQ(bitmap->LockBits(all, 0, f, &data), Status::InvalidParameter);
    EXPECT_EQ(bitmap->LockBits(all, ImageLockModeRead, f, nullptr), Status::InvalidParameter);
    EXPECT_EQ(bitmap->UnlockBits(&data), Status::WrongState);
    ASSERT_EQ(bitmap->LockBits(all, ImageLockModeRead, f, &data), Status::Ok);
    EXPECT_EQ(bitmap->LockBits(all, ImageLockModeRead, f, &data), Status::WrongState);
    EXPECT_EQ(bitmap->UnlockBits(&data), Status::Ok);
    EXPECT_EQ(bitmap->UnlockBits(&data), Status::WrongState);
    EXPECT_EQ(bitmap->GetLastStatus(), Status::WrongState);
}

// A lock hands out a rectangle's rows in blue, green, red order: straight from the picture, where
// a write lands at once, or copied into the caller's buffer at the caller's stride, where nothing
// beyond a row is touched and the writes reach the picture at the unlock.
TEST(WorkingBitmap, LocksHandOutRowsInBlueGreenRedOrderAndWriteThemBack) {
    BitmapRef bitmap;
    std::vector<std::uint8_t> buffer;
    const int stride = 40;  // wider than the 4 * 3 bytes of a locked row
    for (const bool userBuffer : {false, true}) {
        SCOPED_TRACE(userBuffer ? "user buffer" : "direct");
        bitmap = PatternBitmap(7, 6);
        buffer.assign(static_cast<std::size_t>(stride) * 3, 0xEE);
        BitmapData data;
        data.Stride = userBuffer ? stride : 0;
        data.Scan0 = userBuffer ? buffer.data() : nullptr;
        const unsigned mode =
            WorkingBitmap::ReadWriteMode | (userBuffer ? unsigned{ImageLockModeUserInputBuf} : 0u);
        ASSERT_EQ(bitmap->LockBits({2, 1, 4, 3}, mode, PixelFormat24bppRGB, &data), Status::Ok);
        EXPECT_EQ(data.Width, 4u);
        EXPECT_EQ(data.Height, 3u);
        EXPECT_EQ(data.Scan0 == buffer.data(), userBuffer);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 4; ++x) {
                std::uint8_t* p = data.Scan0 + y * data.Stride + 3 * x;
                const Argb c = PatternColour(x + 2, y + 1);
                EXPECT_EQ(p[0], c & 0xFF);
                EXPECT_EQ(p[1], (c >> 8) & 0xFF);
                EXPECT_EQ(p[2], (c >> 16) & 0xFF);
                p[0] = static_cast<std::uint8_t>(x);
                p[1] = static_cast<std::uint8_t>(y);
                p[2] = 0x80;
            }
            EXPECT_EQ(buffer[y * stride + 12], 0xEE);  // beyond the row: untouched
        }
        Argb colour = 0;
        bitmap->GetPixel(2, 1, &colour);
        EXPECT_EQ(colour, userBuffer ? PatternColour(2, 1) : 0xFF800000u);
        ASSERT_EQ(bitmap->UnlockBits(&data), Status::Ok);
        test::ExpectPixels(*bitmap, [](int x, int y) {
            const bool inside = x >= 2 && x < 6 && y >= 1 && y < 4;
            return inside ? 0xFF800000u | (static_cast<Argb>(y - 1) << 8) | static_cast<Argb>(x - 2)
                          : PatternColour(x, y);
        });
    }

    // A caller's buffer too short for 4 pixels, or none.
    for (const auto& [stride, scan0] : {std::pair{11, buffer.data()}, {100, nullptr}}) {
        BitmapData small;
        small.Stride = stride;
        small.Scan0 = scan0;
        EXPECT_EQ(bitmap->LockBits({0, 0, 4, 1}, ImageLockModeRead | ImageLockModeUserInputBuf,
                                   PixelFormat24bppRGB, &small),
                  Status::InvalidParameter)
            << stride;
    }
}

// One thread writes grey pixels while others read single pixels, whole-row copies and clones; each
// reader sees only whole pixels (the three channels equal) and ThreadSanitizer sees no race.
TEST(WorkingBitmap, ConcurrentReaderAndWriterSeeWholePixels) {
    const int w = 64, h = 32;
    BitmapRef bitmap = WorkingBitmap::CreateBlank(w, h);
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread writer([&] {
        for (int round = 1; round <= 40; ++round) {
            const Argb grey = 0xFF000000u | (static_cast<Argb>(round) * 0x010101u);
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    bitmap->SetPixel(x, y, grey);
                }
            }
        }
        done = true;
    });
    auto isGrey = [](const std::uint8_t* p) { return p[0] == p[1] && p[1] == p[2]; };
    auto pixelGrey = [](Argb c) { return ((c ^ (c >> 8)) & 0xFFFF) == 0; };
    std::thread reader([&] {
        std::vector<std::uint8_t> row(3 * w);
        while (!done) {
            Argb c = 0;
            bitmap->GetPixel(w / 2, h / 2, &c);
            torn += pixelGrey(c) ? 0 : 1;
            BitmapData data;
            data.Stride = 3 * w;
            data.Scan0 = row.data();
            if (bitmap->LockBits({0, 5, w, 1}, ImageLockModeRead | ImageLockModeUserInputBuf,
                                 PixelFormat24bppRGB, &data) == Status::Ok) {
                bitmap->UnlockBits(&data);
                for (int x = 0; x < w; ++x) {
                    if (!isGrey(&row[3 * x])) {
                        ++torn;
                    }
                }
            }
            BitmapRef copy = bitmap->Clone(0, 0, w, h);
            Argb corner = 0;
            if (copy != nullptr && copy->GetPixel(w - 1, h - 1, &corner) == Status::Ok) {
                torn += pixelGrey(corner) ? 0 : 1;
            }
        }
    });
    writer.join();
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    Argb last = 0;
    bitmap->GetPixel(0, 0, &last);
    EXPECT_EQ(last, 0xFF282828u);
}

}  // namespace
}  // namespace velora
