// The square in which the window shows the picture, in client pixels. The painting fits the
// picture into its inner square and the colour probe inverts that fit, so both read the one
// definition here.
#pragma once

namespace velora {

struct PictureFrame {
    static constexpr int Left = 150;
    static constexpr int Top = 170;
    static constexpr int Side = 471;
    static constexpr int Margin = 4;
    static constexpr int InnerLeft = Left + Margin;      // 154
    static constexpr int InnerTop = Top + Margin;        // 174
    static constexpr int InnerSide = Side - 2 * Margin;  // 463
    // The column and row on which a picture narrower or lower than the square is centred.
    static constexpr int CentreColumn = (InnerSide + 2 * InnerLeft) / 2;  // 385
    static constexpr int CentreRow = (InnerSide + 2 * InnerTop) / 2;      // 405
};

}  // namespace velora
