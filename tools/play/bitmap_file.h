// A 32-bit bitmap file (BI_RGB, bottom-up rows) from a picture as the video
// pin delivers RGB32.
#ifndef KESTREL_TOOLS_PLAY_BITMAP_FILE_H
#define KESTREL_TOOLS_PLAY_BITMAP_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel::play {

// rows bottom-up, each width x 4 bytes, stride bytes apart. False when the
// file cannot be written.
bool WriteBitmap32(const std::string& path, const uint8_t* rows, int width, int height, size_t stride);

}  // namespace kestrel::play

#endif
