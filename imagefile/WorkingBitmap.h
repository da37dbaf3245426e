// WorkingBitmap: the one raster type of the program. An owned 24-bit BGR picture (three bytes per
// pixel in the order blue, green, red; rows Stride bytes apart, Stride a multiple of 4), the
// metadata property items that came with it, and the status of the last failed call made on it.
//
// Nothing here throws. A failing call records its status in LastStatus and the caller goes on.
//
// Threads: one thread may write pixels (SetPixel, or a lock with UserInputBuf) while another reads
// them (GetPixel, Clone, locks with UserInputBuf); every such call takes the bitmap's own mutex
// for its short copy. A direct lock (without UserInputBuf) hands out the bitmap's rows themselves
// and is for a thread that owns the bitmap alone, or for readers while nobody writes.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace velora {

using Argb = std::uint32_t;

// Status codes of the imaging calls. The program only tells Ok from anything else; the other
// values name the cause for messages and tests.
enum class Status : int {
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    ObjectBusy = 4,
    InsufficientBuffer = 5,
    NotImplemented = 6,
    Win32Error = 7,
    WrongState = 8,
    Aborted = 9,
    FileNotFound = 10,
    ValueOverflow = 11,
    AccessDenied = 12,
    UnknownImageFormat = 13,
    PropertyNotFound = 19,
    PropertyNotSupported = 20,
};

constexpr std::int32_t PixelFormat24bppRGB = 0x21808;

// Lock modes, combinable: read, write, and a caller-supplied buffer.
enum ImageLockMode : unsigned {
    ImageLockModeRead = 1,
    ImageLockModeWrite = 2,
    ImageLockModeUserInputBuf = 4,
};

struct Rect {
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
};

// The lock record. For a direct lock Scan0 points at the bitmap's own rows; with
// ImageLockModeUserInputBuf the caller fills Stride and Scan0 with its own buffer before locking.
struct BitmapData {
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::int32_t Stride = 0;
    std::int32_t PixelFormat = 0;
    std::uint8_t* Scan0 = nullptr;
    // Kept by LockBits for UnlockBits.
    Rect LockedRect;
    unsigned LockedMode = 0;
    bool Locked = false;
};

// Property item types as in TIFF/EXIF.
enum PropertyTagType : std::uint16_t {
    PropertyTagTypeByte = 1,
    PropertyTagTypeASCII = 2,
    PropertyTagTypeShort = 3,
    PropertyTagTypeLong = 4,
    PropertyTagTypeRational = 5,
    PropertyTagTypeSByte = 6,
    PropertyTagTypeUndefined = 7,
    PropertyTagTypeSShort = 8,
    PropertyTagTypeSLong = 9,
    PropertyTagTypeSRational = 10,
    PropertyTagTypeFloat = 11,
    PropertyTagTypeDouble = 12,
};

// One metadata item in the flat model: tag number, value type and the value bytes.
struct PropertyItem {
    std::uint32_t id = 0;
    std::uint16_t type = 0;
    std::vector<std::uint8_t> value;
    // Byte order of multi-byte values inside `value`; items read from a file keep the file's.
    bool bigEndian = false;

    std::uint32_t length() const { return static_cast<std::uint32_t>(value.size()); }
};

// The JFIF header's version and pixel density (unit 0: an aspect ratio only, 1: dots per inch,
// 2: dots per centimetre).
struct JfifHeader {
    bool Present = false;
    std::uint8_t Major = 1;
    std::uint8_t Minor = 1;
    std::uint8_t Unit = 0;
    std::uint16_t X = 1;
    std::uint16_t Y = 1;
};

// Metadata that is no property item but still travels with the picture to the saved file.
struct ExtraMetadata {
    std::string Xmp;  // the XMP packet, as found
    // Other application segments to keep (marker byte, payload without the length field).
    struct Segment {
        std::uint8_t Marker = 0;
        std::vector<std::uint8_t> Payload;
    };
    std::vector<Segment> Segments;
    // The EXIF block (TIFF structure) as the file had it. The items stay the truth for every
    // value; the writer keeps this block's layout wherever they agree with it, so that offsets
    // counted from its start (a maker note's) keep pointing at the same data.
    std::vector<std::uint8_t> Exif;
    JfifHeader Jfif;
    // Metadata appended after the picture's end (AFCP, FotoStation, PhotoMechanic, Samsung).
    std::vector<std::uint8_t> Trailer;
    // The permission bits of the file the picture was read from (-1: not from a file). A new
    // file saved from it is never readable by more people than that one.
    int SourcePermissions = -1;
    // A PNG's own chunks about the picture (texts, pixel density, the time of its last change)
    // as they were, and its profile's name: a PNG it is saved to gets them back.
    struct PngChunk {
        std::string Type;
        std::vector<std::uint8_t> Data;
    };
    std::vector<PngChunk> PngChunks;
    std::string PngProfileName;
};

class WorkingBitmap {
  public:
    // Names through which the engine's bitmap algorithms (written against any raster of this
    // shape) reach the lock interface.
    using LockRecord = BitmapData;
    using RectType = Rect;
    static constexpr unsigned ReadMode = ImageLockModeRead;
    static constexpr unsigned ReadWriteMode = ImageLockModeRead | ImageLockModeWrite;
    static constexpr unsigned UserBufferMode = ImageLockModeUserInputBuf;
    static constexpr std::int32_t Format24 = PixelFormat24bppRGB;
    static bool Succeeded(Status status) { return status == Status::Ok; }

    WorkingBitmap() = default;
    WorkingBitmap(const WorkingBitmap&) = delete;
    WorkingBitmap& operator=(const WorkingBitmap&) = delete;

    // A new 24-bit picture of the given size, all black. The object is always made; when the size
    // is invalid or the memory cannot be had, it holds no raster and its LastStatus says why.
    static std::shared_ptr<WorkingBitmap> CreateBlank(int width, int height);

    // True when the object holds a raster.
    bool HasImage() const;

    // Width and height in pixels; 0 (and a recorded failure) when there is no raster.
    unsigned Width();
    unsigned Height();
    std::int32_t Stride() const;

    // Single pixels as ARGB (alpha always 255). GetPixel leaves *colour untouched on failure.
    Status GetPixel(int x, int y, Argb* colour);
    Status SetPixel(int x, int y, Argb colour);

    // A new 24-bit copy of the area with a copy of every property item and the extra metadata.
    // The source's LastStatus is set to the result either way; nullptr on failure.
    std::shared_ptr<WorkingBitmap> Clone(int x, int y, int width, int height);

    Status LockBits(const Rect& rect, unsigned mode, std::int32_t pixelFormat, BitmapData* data);
    Status UnlockBits(BitmapData* data);

    // Returns LastStatus and resets it to Ok.
    Status GetLastStatus();
    Status LastStatus() const;
    // Records a failure that happened on the caller's side of this bitmap.
    void RecordStatus(Status status);

    // Property items, in the order they were set.
    unsigned GetPropertyCount();
    std::vector<std::uint32_t> GetPropertyIdList();
    // Size of the item in bytes (record plus value), 0 and PropertyNotFound when absent.
    unsigned GetPropertyItemSize(std::uint32_t id);
    Status GetPropertyItem(std::uint32_t id, PropertyItem* item);
    // Adds the item, or replaces the item of the same id in place.
    Status SetPropertyItem(const PropertyItem& item);
    Status RemovePropertyItem(std::uint32_t id);

    ExtraMetadata GetExtraMetadata() const;
    void SetExtraMetadata(ExtraMetadata extra);

    // Largest accepted picture: no side above 65535 and at most 250 megapixels.
    static constexpr unsigned MaxSide = 65535;
    static constexpr std::uint64_t MaxPixels = 250ull * 1000 * 1000;
    static bool SizeAllowed(std::uint64_t width, std::uint64_t height);

  private:
    bool InsideLocked(int x, int y) const;
    Status Record(Status status);

    mutable std::mutex Mutex;
    std::vector<std::uint8_t> Pixels;
    int PixelWidth = 0;
    int PixelHeight = 0;
    std::int32_t RowStride = 0;
    bool Image = false;
    Status LastStatusCode = Status::Ok;
    std::vector<PropertyItem> Items;
    ExtraMetadata Extra;
};

using BitmapRef = std::shared_ptr<WorkingBitmap>;

}  // namespace velora
