#include "play/bitmap_file.h"

#include <windows.h>

#include <cstdio>

namespace kestrel::play {

bool WriteBitmap32(const std::string& path, const uint8_t* rows, int width, int height, size_t stride) {
  if (!rows || width <= 0 || height <= 0) return false;
  const size_t row = static_cast<size_t>(width) * 4;
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof(info);
  info.biWidth = width;
  info.biHeight = height;  // bottom-up, as the rows are
  info.biPlanes = 1;
  info.biBitCount = 32;
  info.biCompression = BI_RGB;
  info.biSizeImage = static_cast<DWORD>(row * height);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(file) + sizeof(info);
  file.bfSize = file.bfOffBits + info.biSizeImage;
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(&file, sizeof(file), 1, f) == 1 && fwrite(&info, sizeof(info), 1, f) == 1;
  for (int y = 0; ok && y < height; ++y) ok = fwrite(rows + y * stride, 1, row, f) == row;
  return (fclose(f) == 0) && ok;
}

}  // namespace kestrel::play
