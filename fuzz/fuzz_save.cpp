// The save for libFuzzer: a picture that loads is saved the way velora-batch saves it (as a
// JPEG carrying the opened file's metadata onto the converted copy, and as a PNG) into a folder of
// its own, then read back. A save that reports success but does not read back whole at the same
// size aborts, as does any crash, leak, hang or sanitizer report.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzBudget.h"
#include "ImageFile.h"

namespace {

// Pictures past this many pixels are only loaded: saving them would slow the search down without
// reaching other code.
constexpr std::uint64_t MaxSavedPixels = 4u * 1024 * 1024;

std::string g_folder;

void RemoveFolder() {
    if (!g_folder.empty()) {
        ::rmdir(g_folder.c_str());
    }
}

const std::string& Folder() {
    if (g_folder.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/velora-fuzz-save-XXXXXX";
        if (::mkdtemp(&pattern[0]) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        g_folder = pattern;
        std::atexit(RemoveFolder);
    }
    return g_folder;
}

void CheckSaved(const velora::SaveResult& saved, const std::string& path, unsigned width,
                unsigned height, const char* kind) {
    if (saved.Ok) {
        const velora::LoadResult back = velora::LoadBitmapFromFile(path, FuzzLoadOptions());
        if (!back.Bitmap || back.Damaged || back.Bitmap->Width() != width ||
            back.Bitmap->Height() != height) {
            std::fprintf(stderr, "a %s save reported done does not read back at %ux%u: %s%s\n",
                         kind, width, height, back.Message.c_str(), back.DamageReason.c_str());
            std::abort();
        }
    } else if (saved.Message.empty()) {
        std::fprintf(stderr, "a %s save failed without saying why\n", kind);
        std::abort();
    }
    ::unlink(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velora::LoadResult opened = velora::LoadBitmapFromMemory(data, size, FuzzLoadOptions());
    if (!opened.Bitmap) {
        return 0;
    }
    const unsigned width = opened.Bitmap->Width();
    const unsigned height = opened.Bitmap->Height();
    if (static_cast<std::uint64_t>(width) * height > MaxSavedPixels) {
        return 0;
    }
    // The converted copy the save writes; the opened picture lends it its metadata.
    velora::BitmapRef working =
        opened.Bitmap->Clone(0, 0, static_cast<int>(width), static_cast<int>(height));
    if (!working) {
        return 0;
    }
    const std::string jpeg = Folder() + "/out.jpg";
    CheckSaved(velora::SaveConvertedPicture(*working, *opened.Bitmap, jpeg,
                                            velora::ExistingTarget::Replace),
               jpeg, width, height, "JPEG");
    const std::string png = Folder() + "/out.png";
    CheckSaved(velora::SavePng(*working, png, velora::ExistingTarget::Replace), png, width, height,
               "PNG");
    return 0;
}
