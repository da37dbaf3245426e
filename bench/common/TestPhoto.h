// A photo-like test picture of any size, made without any file to start from.
#pragma once

#include <string>

namespace velora::bench {

// Writes a width x height JPEG (quality 92) with smooth gradients, fine noise, hard edges and a
// few thousand distinct colours per area, as a camera photo has. False when it cannot be written.
bool WriteTestPhoto(const std::string& path, int width, int height);

}  // namespace velora::bench
