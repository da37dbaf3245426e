// What assistive technology (screen readers, AT-SPI) learns of the skinned controls: a
// BitmapButton as a push button, check box or radio button with its check state and its caption
// as name; a BitmapSlider as a slider with its value and range.
#pragma once

namespace velora {

// Installs the controls' accessible interfaces; later calls do nothing. The controls call it
// themselves when they are made.
void InstallAccessibleControls();

}  // namespace velora
