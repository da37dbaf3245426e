// Reading pictures into WorkingBitmap objects and writing them out. Paths are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "WorkingBitmap.h"

namespace velora {

// The file a picture will be saved as, for the size limit it sets.
enum class SaveFormat { Any, Jpeg, Png };

// The one size rule for every picture taken in: no side over 65535 pixels, at most 250
// megapixels, and what the file it will be saved as can hold (a JPEG file at most 65500 pixels a
// side). Checked on the declared size, before anything is allocated; false with the reason in
// words.
bool PictureSizeAllowed(std::uint64_t width, std::uint64_t height, SaveFormat savedAs,
                        std::string& reason);

struct LoadOptions {
    SaveFormat SavedAs = SaveFormat::Any;
    // Runs once the declared size has passed the limits, before the picture's memory is taken,
    // on the loading thread (velora-batch waits there for room in its memory budget), with the
    // bytes the decoder's own library will hold beside the picture's rows at the most. false
    // gives the load up.
    std::function<bool(unsigned width, unsigned height, std::uint64_t decoderBytes)>
        BeforeAllocation;
};

struct LoadResult {
    BitmapRef Bitmap;  // nullptr on failure
    Status Code = Status::Ok;
    std::string Message;                // why it failed, in words a user understands
    std::vector<std::string> Warnings;  // what the decoder stepped over or left out
    // The file is damaged: the decoder met missing or corrupt data (a file cut short or still
    // being written, a corrupt scan, short pixel data) and Bitmap holds only what could be read,
    // the rest filled in. DamageReason says what it met.
    bool Damaged = false;
    std::string DamageReason;
};

// Decodes JPEG (every kind libjpeg-turbo reads), PNG and the other cheap formats into a 24-bit
// bitmap carrying the file's metadata as property items. Never throws, never crashes on bad input.
LoadResult LoadBitmapFromFile(const std::string& path, const LoadOptions& options = {});

// The same for a file already in memory (the fuzz target's door).
LoadResult LoadBitmapFromMemory(const std::uint8_t* data, std::size_t size,
                                const LoadOptions& options = {});

// Where a save failed: the picture could not be encoded, no file could be made in the target's
// folder, or writing it (or putting it in the target's place) failed.
enum class SaveStep { None, Picture, Folder, Writing };

struct SaveResult {
    bool Ok = false;
    std::string Message;  // the reason, when it failed
    SaveStep FailedStep = SaveStep::None;
    int SystemError = 0;  // the operating system's error number there, 0 when none applies
    // Failed because the target exists and was not to be replaced (it may have appeared while
    // the picture was being written).
    bool TargetExists = false;
    // Metadata the file could not hold, by name ("UserComment", "XMP"): a JPEG file keeps its
    // EXIF in one segment of 64 KB. The file was written without it.
    std::vector<std::string> LeftOut;
};

// What a save does when its target exists: the window has asked the person already; velora-batch
// replaces results only when told to.
enum class ExistingTarget { Replace, Keep };

enum class PictureFormat { Jpeg, Png };

// Writes `bitmap` as a JPEG of the given quality (4:4:4 chroma) with its property items as EXIF,
// its ICC profile and XMP. The file appears complete or not at all: it is written beside the
// target and renamed onto it only when finished.
SaveResult SaveJpeg(WorkingBitmap& bitmap, const std::string& path, int quality = 97,
                    ExistingTarget existing = ExistingTarget::Replace);

// Lossless output of the same pixels with the same metadata (EXIF as eXIf, the ICC profile as
// iCCP, XMP as iTXt), same safety rules.
SaveResult SavePng(WorkingBitmap& bitmap, const std::string& path,
                   ExistingTarget existing = ExistingTarget::Replace);

// The save of the window and of velora-batch: the metadata of `opened` (without the
// thumbnail and the quantisation tables) copied onto `working`, ", vlr3" appended to the camera
// model, and `working` written as a JPEG of quality 97, or for velora-batch --format png as a
// PNG with the same metadata.
SaveResult SaveConvertedPicture(WorkingBitmap& working, WorkingBitmap& opened,
                                const std::string& path,
                                ExistingTarget existing = ExistingTarget::Replace,
                                PictureFormat format = PictureFormat::Jpeg);

// Temporaries in `folder` that a save stopped midway (power loss, a killed program) left behind,
// as full paths; one that a living save still writes (in this process or another) is not among
// them. They never hold a finished picture and may be deleted.
std::vector<std::string> LeftoverTemporaries(const std::string& folder);

// The name of a converted picture: "_vlr" before the first "." of `fileName`, or in front of a
// name that has none (photo.jpg -> photo_vlr.jpg, a.b.jpg -> a_vlr.b.jpg, photo -> _vlrphoto).
std::string InsertVlrSuffix(const std::string& fileName);

}  // namespace velora
