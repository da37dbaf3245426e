#include "Orientation.h"

namespace velora {

int NormalOrientation(int tag) {
    return tag >= 1 && tag <= 8 ? tag : 1;
}

bool SwapsSides(int orientation) {
    return NormalOrientation(orientation) >= 5;
}

PixelPoint ShownSize(int orientation, int storedWidth, int storedHeight) {
    return SwapsSides(orientation) ? PixelPoint{storedHeight, storedWidth}
                                   : PixelPoint{storedWidth, storedHeight};
}

PixelPoint StoredPixel(int orientation, int storedWidth, int storedHeight, int shownX, int shownY) {
    const int w = storedWidth;
    const int h = storedHeight;
    const int x = shownX;
    const int y = shownY;
    switch (NormalOrientation(orientation)) {
        case 2:
            return {w - 1 - x, y};
        case 3:
            return {w - 1 - x, h - 1 - y};
        case 4:
            return {x, h - 1 - y};
        case 5:
            return {y, x};
        case 6:
            return {y, h - 1 - x};
        case 7:
            return {w - 1 - y, h - 1 - x};
        case 8:
            return {w - 1 - y, x};
        default:
            return {x, y};
    }
}

}  // namespace velora
