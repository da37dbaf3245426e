#include "ConvertAndSharpen.h"

#include <algorithm>
#include <new>

namespace velora {

void RowConversion::Start(int width, int height, const ConversionOptions& options) {
    Width = std::max(width, 0);
    Taken = 0;
    Given = 0;
    Options = options;
    Cached = static_cast<long long>(width) * height >= detail::CachedPassMinPixels;
    Converter = std::make_unique<PixelConverter>(options, Cached);
    Aside.reset();
    Sharpening = Filter.Start(width, height, FinalSharpening::Sigma, FinalSharpening::Amount,
                              FinalSharpening::Channels);
    if (!Sharpening) {
        try {
            Waiting.assign(3 * static_cast<std::size_t>(Width), 0);
        } catch (const std::bad_alloc&) {
            Width = 0;  // nothing can pass; every Push is refused
        }
    }
}

void RowConversion::ConvertRow(std::uint8_t* row) {
    Converter->ConvertRow(row, row, Width);
}

void RowConversion::ConvertRowAside(std::uint8_t* row) {
    if (!Aside) {
        Aside = std::make_unique<PixelConverter>(Options, Cached);
    }
    Aside->ConvertRow(row, row, Width);
}

bool RowConversion::Push(const std::uint8_t* row) {
    if (Sharpening) {
        return Filter.Push(row);
    }
    if (Width == 0 || Taken > Given) {
        return false;
    }
    std::copy(row, row + 3 * static_cast<std::size_t>(Width), Waiting.begin());
    ++Taken;
    return true;
}

bool RowConversion::PushBorrowed(const std::uint8_t* row) {
    return Sharpening ? Filter.PushBorrowed(row) : Push(row);
}

bool RowConversion::OutputReady() const {
    return Sharpening ? Filter.OutputReady() : Taken > Given;
}

void RowConversion::Emit(std::uint8_t* out) {
    if (Sharpening) {
        Filter.Emit(out);
    } else if (Taken > Given) {
        std::copy(Waiting.begin(), Waiting.end(), out);
        ++Given;
    }
}

int RowConversion::NextOutputRow() const {
    return Sharpening ? Filter.NextOutputRow() : Given;
}

}  // namespace velora
