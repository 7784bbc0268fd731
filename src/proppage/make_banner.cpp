// Draws the page's banner into a Windows 3 bitmap (24-bit, bottom-up rows),
// for the module's resources. Built and run on the build machine.
//   make_banner OUT.bmp WIDTH HEIGHT
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "proppage/banner_art.h"

namespace {

void PutLittleEndian(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv) {
  const int width = argc == 4 ? atoi(argv[2]) : 0, height = argc == 4 ? atoi(argv[3]) : 0;
  if (width <= 0 || height <= 0 || width > 8192 || height > 8192) {
    fprintf(stderr, "usage: make_banner OUT.bmp WIDTH HEIGHT\n");
    return 2;
  }
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
  std::vector<uint8_t> pixels(stride * height);
  kestrel::DrawBanner(width, height, pixels.data(), stride);

  const uint32_t headers = 14 + 40, image = static_cast<uint32_t>(pixels.size());
  std::vector<uint8_t> file;
  // BITMAPFILEHEADER, then BITMAPINFOHEADER: 24 bits, uncompressed, 96 DPI.
  file.push_back('B');
  file.push_back('M');
  PutLittleEndian(file, headers + image, 4);
  PutLittleEndian(file, 0, 4);
  PutLittleEndian(file, headers, 4);
  PutLittleEndian(file, 40, 4);
  PutLittleEndian(file, static_cast<uint32_t>(width), 4);
  PutLittleEndian(file, static_cast<uint32_t>(height), 4);
  PutLittleEndian(file, 1, 2);
  PutLittleEndian(file, 24, 2);
  PutLittleEndian(file, 0, 4);
  PutLittleEndian(file, image, 4);
  PutLittleEndian(file, 3780, 4);  // pixels a metre
  PutLittleEndian(file, 3780, 4);
  PutLittleEndian(file, 0, 4);
  PutLittleEndian(file, 0, 4);
  for (int y = height - 1; y >= 0; --y)
    file.insert(file.end(), pixels.begin() + static_cast<ptrdiff_t>(y * stride),
                pixels.begin() + static_cast<ptrdiff_t>((y + 1) * stride));

  FILE* out = fopen(argv[1], "wb");
  if (!out) {
    perror(argv[1]);
    return 1;
  }
  const bool written = fwrite(file.data(), 1, file.size(), out) == file.size();
  if (fclose(out) != 0 || !written) {
    perror(argv[1]);
    return 1;
  }
  return 0;
}
