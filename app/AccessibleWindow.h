// What assistive technology learns of the main window: the controls a person can see (the
// template's hidden ones are left out) and the picture, named by its file.
#pragma once

namespace velora {

// The object name of the window's stand-in for the picture, which the window paints itself.
inline constexpr const char* PictureObjectName = "picture";

// Installs the window's accessible interfaces; later calls do nothing.
void InstallAccessibleWindow();

}  // namespace velora
