// The EXIF orientation of a picture: how its stored rows and columns must be turned or mirrored to
// stand upright. The window shows pictures upright and maps clicks back to stored pixels through
// the same turn; the stored pixels themselves are never changed.
#pragma once

namespace velora {

// Values 1 to 8 as the Orientation tag (0x0112) gives them: 1 upright, 2 mirrored left to right,
// 3 turned half round, 4 mirrored top to bottom, 5 mirrored along the main diagonal, 6 to be
// turned a quarter clockwise, 7 mirrored along the other diagonal, 8 to be turned a quarter
// anticlockwise. Anything else counts as 1.
int NormalOrientation(int tag);

// True for 5 to 8, where the upright picture is as wide as the stored one is high.
bool SwapsSides(int orientation);

struct PixelPoint {
    int X = 0;
    int Y = 0;
};

// The size of the upright picture of a stored width x height.
PixelPoint ShownSize(int orientation, int storedWidth, int storedHeight);

// The stored pixel shown at (shownX, shownY) of the upright picture. The mapping is the same
// affine one outside the picture, so a point one past an edge of the upright picture maps one
// past an edge of the stored one.
PixelPoint StoredPixel(int orientation, int storedWidth, int storedHeight, int shownX, int shownY);

}  // namespace velora
