#include "WorkingBitmap.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace velora {

namespace {

std::int32_t StrideFor(int width) {
    // Rows of three bytes a pixel, padded to a multiple of four as the platform's bitmaps are.
    return static_cast<std::int32_t>((static_cast<std::int64_t>(width) * 3 + 3) & ~std::int64_t{3});
}

bool RectInside(const Rect& r, int width, int height) {
    return r.X >= 0 && r.Y >= 0 && r.Width > 0 && r.Height > 0 && r.X <= width - r.Width &&
           r.Y <= height - r.Height;
}

}  // namespace

bool WorkingBitmap::SizeAllowed(std::uint64_t width, std::uint64_t height) {
    return width > 0 && height > 0 && width <= MaxSide && height <= MaxSide &&
           width * height <= MaxPixels;
}

std::shared_ptr<WorkingBitmap> WorkingBitmap::CreateBlank(int width, int height) {
    auto bitmap = std::make_shared<WorkingBitmap>();
    if (width <= 0 || height <= 0 ||
        !SizeAllowed(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height))) {
        bitmap->LastStatusCode = Status::InvalidParameter;
        return bitmap;
    }
    const std::int32_t stride = StrideFor(width);
    try {
        bitmap->Pixels.assign(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height),
                              0);
    } catch (const std::bad_alloc&) {
        bitmap->LastStatusCode = Status::OutOfMemory;
        return bitmap;
    }
    bitmap->PixelWidth = width;
    bitmap->PixelHeight = height;
    bitmap->RowStride = stride;
    bitmap->Image = true;
    return bitmap;
}

bool WorkingBitmap::HasImage() const {
    std::lock_guard<std::mutex> lock(Mutex);
    return Image;
}

Status WorkingBitmap::Record(Status status) {
    if (status != Status::Ok) {
        LastStatusCode = status;
    }
    return status;
}

void WorkingBitmap::RecordStatus(Status status) {
    std::lock_guard<std::mutex> lock(Mutex);
    Record(status);
}

unsigned WorkingBitmap::Width() {
    std::lock_guard<std::mutex> lock(Mutex);
    if (!Image) {
        Record(Status::InvalidParameter);
        return 0;
    }
    return static_cast<unsigned>(PixelWidth);
}

unsigned WorkingBitmap::Height() {
    std::lock_guard<std::mutex> lock(Mutex);
    if (!Image) {
        Record(Status::InvalidParameter);
        return 0;
    }
    return static_cast<unsigned>(PixelHeight);
}

std::int32_t WorkingBitmap::Stride() const {
    std::lock_guard<std::mutex> lock(Mutex);
    return RowStride;
}

bool WorkingBitmap::InsideLocked(int x, int y) const {
    return Image && x >= 0 && y >= 0 && x < PixelWidth && y < PixelHeight;
}

Status WorkingBitmap::GetPixel(int x, int y, Argb* colour) {
    std::lock_guard<std::mutex> lock(Mutex);
    if (colour == nullptr || !InsideLocked(x, y)) {
        return Record(Status::InvalidParameter);
    }
    const std::uint8_t* p = Pixels.data() + static_cast<std::size_t>(y) * RowStride + 3u * x;
    *colour = 0xFF000000u | (Argb{p[2]} << 16) | (Argb{p[1]} << 8) | Argb{p[0]};
    return Status::Ok;
}

Status WorkingBitmap::SetPixel(int x, int y, Argb colour) {
    std::lock_guard<std::mutex> lock(Mutex);
    if (!InsideLocked(x, y)) {
        return Record(Status::InvalidParameter);
    }
    std::uint8_t* p = Pixels.data() + static_cast<std::size_t>(y) * RowStride + 3u * x;
    p[0] = static_cast<std::uint8_t>(colour);
    p[1] = static_cast<std::uint8_t>(colour >> 8);
    p[2] = static_cast<std::uint8_t>(colour >> 16);
    return Status::Ok;
}

std::shared_ptr<WorkingBitmap> WorkingBitmap::Clone(int x, int y, int width, int height) {
    std::lock_guard<std::mutex> lock(Mutex);
    const Rect area{x, y, width, height};
    if (!Image || !RectInside(area, PixelWidth, PixelHeight)) {
        LastStatusCode = Status::InvalidParameter;
        return nullptr;
    }
    std::shared_ptr<WorkingBitmap> copy;
    try {
        copy = std::make_shared<WorkingBitmap>();
        const std::int32_t stride = StrideFor(width);
        copy->Pixels.resize(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));
        for (int row = 0; row < height; ++row) {
            std::memcpy(copy->Pixels.data() + static_cast<std::size_t>(row) * stride,
                        Pixels.data() + static_cast<std::size_t>(y + row) * RowStride + 3u * x,
                        3u * static_cast<unsigned>(width));
        }
        copy->PixelWidth = width;
        copy->PixelHeight = height;
        copy->RowStride = stride;
        copy->Image = true;
        copy->Items = Items;
        copy->Extra = Extra;
    } catch (const std::bad_alloc&) {
        LastStatusCode = Status::OutOfMemory;
        return nullptr;
    }
    LastStatusCode = Status::Ok;
    return copy;
}

Status WorkingBitmap::LockBits(const Rect& rect, unsigned mode, std::int32_t pixelFormat,
                               BitmapData* data) {
    std::lock_guard<std::mutex> lock(Mutex);
    if (data == nullptr || pixelFormat != PixelFormat24bppRGB ||
        (mode & (ImageLockModeRead | ImageLockModeWrite)) == 0) {
        return Record(Status::InvalidParameter);
    }
    if (!Image || !RectInside(rect, PixelWidth, PixelHeight)) {
        return Record(Status::InvalidParameter);
    }
    if (data->Locked) {
        return Record(Status::WrongState);
    }
    const std::size_t rowBytes = 3u * static_cast<std::size_t>(rect.Width);
    if (mode & ImageLockModeUserInputBuf) {
        if (data->Scan0 == nullptr ||
            static_cast<std::size_t>(data->Stride < 0 ? -data->Stride : data->Stride) < rowBytes) {
            return Record(Status::InvalidParameter);
        }
        if (mode & ImageLockModeRead) {
            for (int row = 0; row < rect.Height; ++row) {
                std::memcpy(data->Scan0 + static_cast<std::ptrdiff_t>(row) * data->Stride,
                            Pixels.data() + static_cast<std::size_t>(rect.Y + row) * RowStride +
                                3u * rect.X,
                            rowBytes);
            }
        }
    } else {
        data->Stride = RowStride;
        data->Scan0 = Pixels.data() + static_cast<std::size_t>(rect.Y) * RowStride + 3u * rect.X;
    }
    data->Width = static_cast<std::uint32_t>(rect.Width);
    data->Height = static_cast<std::uint32_t>(rect.Height);
    data->PixelFormat = PixelFormat24bppRGB;
    data->LockedRect = rect;
    data->LockedMode = mode;
    data->Locked = true;
    return Status::Ok;
}

Status WorkingBitmap::UnlockBits(BitmapData* data) {
    std::lock_guard<std::mutex> lock(Mutex);
    if (data == nullptr || !data->Locked) {
        return Record(Status::WrongState);
    }
    data->Locked = false;
    const Rect& rect = data->LockedRect;
    if ((data->LockedMode & ImageLockModeUserInputBuf) && (data->LockedMode & ImageLockModeWrite)) {
        // The picture may have been replaced meanwhile; write back only what still fits.
        if (!Image || !RectInside(rect, PixelWidth, PixelHeight)) {
            return Record(Status::WrongState);
        }
        const std::size_t rowBytes = 3u * static_cast<std::size_t>(rect.Width);
        for (int row = 0; row < rect.Height; ++row) {
            std::memcpy(
                Pixels.data() + static_cast<std::size_t>(rect.Y + row) * RowStride + 3u * rect.X,
                data->Scan0 + static_cast<std::ptrdiff_t>(row) * data->Stride, rowBytes);
        }
    }
    return Status::Ok;
}

Status WorkingBitmap::GetLastStatus() {
    std::lock_guard<std::mutex> lock(Mutex);
    const Status status = LastStatusCode;
    LastStatusCode = Status::Ok;
    return status;
}

Status WorkingBitmap::LastStatus() const {
    std::lock_guard<std::mutex> lock(Mutex);
    return LastStatusCode;
}

unsigned WorkingBitmap::GetPropertyCount() {
    std::lock_guard<std::mutex> lock(Mutex);
    return static_cast<unsigned>(Items.size());
}

std::vector<std::uint32_t> WorkingBitmap::GetPropertyIdList() {
    std::lock_guard<std::mutex> lock(Mutex);
    std::vector<std::uint32_t> ids;
    ids.reserve(Items.size());
    for (const PropertyItem& item : Items) {
        ids.push_back(item.id);
    }
    return ids;
}

unsigned WorkingBitmap::GetPropertyItemSize(std::uint32_t id) {
    std::lock_guard<std::mutex> lock(Mutex);
    for (const PropertyItem& item : Items) {
        if (item.id == id) {
            return static_cast<unsigned>(sizeof(PropertyItem) + item.value.size());
        }
    }
    Record(Status::PropertyNotFound);
    return 0;
}

Status WorkingBitmap::GetPropertyItem(std::uint32_t id, PropertyItem* item) {
    std::lock_guard<std::mutex> lock(Mutex);
    if (item == nullptr) {
        return Record(Status::InvalidParameter);
    }
    for (const PropertyItem& candidate : Items) {
        if (candidate.id == id) {
            *item = candidate;
            return Status::Ok;
        }
    }
    return Record(Status::PropertyNotFound);
}

Status WorkingBitmap::SetPropertyItem(const PropertyItem& item) {
    std::lock_guard<std::mutex> lock(Mutex);
    auto found = std::find_if(Items.begin(), Items.end(),
                              [&](const PropertyItem& p) { return p.id == item.id; });
    if (found != Items.end()) {
        *found = item;
    } else {
        Items.push_back(item);
    }
    return Status::Ok;
}

Status WorkingBitmap::RemovePropertyItem(std::uint32_t id) {
    std::lock_guard<std::mutex> lock(Mutex);
    auto found =
        std::find_if(Items.begin(), Items.end(), [&](const PropertyItem& p) { return p.id == id; });
    if (found == Items.end()) {
        return Record(Status::PropertyNotFound);
    }
    Items.erase(found);
    return Status::Ok;
}

ExtraMetadata WorkingBitmap::GetExtraMetadata() const {
    std::lock_guard<std::mutex> lock(Mutex);
    return Extra;
}

void WorkingBitmap::SetExtraMetadata(ExtraMetadata extra) {
    std::lock_guard<std::mutex> lock(Mutex);
    Extra = std::move(extra);
}

}  // namespace velora
