// The colour probe's geometry and text: where a click on the window lands in the picture fitted
// into the frame, and the seven readout lines drawn for the colour found there. Plain functions
// of their arguments, so the window only draws what they return.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velora {

struct ProbeHit {
    bool Inside = false;
    int PixelX = 0;
    int PixelY = 0;
};

// The hit test and pixel mapping of a click (client x, y) on a picture of w x h in the frame.
// An accepted click on the last row or column of the drawn area may map one pixel past the
// picture; the caller's pixel read fails there and the readout shows black.
ProbeHit ProbeHitTest(int x, int y, int pictureWidth, int pictureHeight);

// The seven readout lines with their printf formats for an ARGB colour, the "Color" slider
// position and the hidden slider 1015's position; drawn at x 450, y 430 + 20 * i.
std::vector<std::string> ReadoutLines(std::uint32_t argb, int colorSlider, int hiddenSlider);

constexpr int ReadoutX = 450, ReadoutY = 430, ReadoutStep = 20;

}  // namespace velora
