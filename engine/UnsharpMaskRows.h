// UnsharpMask for a picture that arrives a row at a time and leaves a row at a time: the same blur
// and the same sharpening, to the byte, holding only the rows the kernel spans (three for the
// final sharpening's kernel 1, 23, 1). Row y can be made once source row y + h is in (h the
// kernel's half-width), or the picture has ended.
#pragma once

#include <cstdint>
#include <vector>

#include "UnsharpMaskFilter.h"

namespace velora {

class UnsharpMaskRows {
  public:
    // Output rows [firstRow, lastRow) of a `width` × `height` picture; the source rows pushed
    // then start at FirstSourceRow() and end at LastSourceRow(). False, as UnsharpMask gives no
    // picture, when the kernel cannot be built or the amount is out of range, and when memory is
    // short.
    bool Start(int width, int height, float sigma, float amount, unsigned channels,
               int firstRow = 0, int lastRow = -1);

    int FirstSourceRow() const { return SourceBegin; }
    int LastSourceRow() const { return SourceEnd; }

    // Takes the next source row (3 × width bytes: blue, green, red): a copy of it, or with
    // PushBorrowed the row itself, which must then stay as it is until Kernel-size rows later.
    // Every output row that is ready must have been made first; false, taking nothing, when one
    // is waiting or every source row is in.
    bool Push(const std::uint8_t* row);
    bool PushBorrowed(const std::uint8_t* row);
    // The next output row can be made.
    bool OutputReady() const;
    // Makes the next output row in `out` (3 × width bytes); its number is NextOutputRow() before
    // the call.
    void Emit(std::uint8_t* out);
    int NextOutputRow() const { return NextOut; }
    // How many rows the output lags behind the rows pushed: the kernel's half-width.
    int Lag() const { return Half; }
    bool Done() const { return NextOut >= OutEnd; }

  private:
    std::uint8_t* Slot(std::vector<std::uint8_t>& ring, int row) {
        return ring.data() + static_cast<std::size_t>(row % Span) * RowBytes;
    }
    bool PushRow(const std::uint8_t* row, bool copy);

    UnsharpMaskFilter Filter;
    std::int32_t K = 0;
    unsigned Channels = 7;
    int Width = 0;
    int Height = 0;
    int Half = 0;
    int Span = 1;  // rows held: the kernel's length
    std::size_t RowBytes = 0;
    int SourceBegin = 0;
    int SourceEnd = 0;
    int NextIn = 0;
    int NextOut = 0;
    int OutEnd = 0;
    std::vector<std::uint8_t> Copies;             // the last Span source rows, when copied
    std::vector<const std::uint8_t*> SourceRows;  // where each of them is
    std::vector<std::uint8_t> Blurred;            // the same rows after the horizontal pass
};

}  // namespace velora
