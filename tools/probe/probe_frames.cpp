// --frames N --format UYVY|YUY2|RGB32|ARGB32 [--seek S] [--stride B] [--flip 0|1]
// --out DIR FILE: the frames the frame source delivers, each as
// DIR\frame_NNNN.raw (rows as copied, stride bytes apart), and
// DIR\times.txt with one "start stop" line per frame (100 ns, media time).
#include <windows.h>
// after windows.h
#include <uuids.h>

#include <cstdio>
#include <string>
#include <vector>

#include "probe/probe.h"
#include "video/pixel_format_table.h"

namespace kestrel::probe {
namespace {

const GUID* SubtypeOf(const std::string& format) {
  if (format == "UYVY") return &MEDIASUBTYPE_UYVY;
  if (format == "YUY2") return &MEDIASUBTYPE_YUY2;
  if (format == "RGB32") return &MEDIASUBTYPE_RGB32;
  if (format == "ARGB32") return &MEDIASUBTYPE_ARGB32;
  return nullptr;
}

bool WriteAll(const std::string& path, const void* data, size_t size) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(data, 1, size, f) == size;
  return fclose(f) == 0 && ok;
}

}  // namespace

int WriteFrames(MovieSession& session, const Options& options) {
  int32_t has_video = 0;
  session.HasVideo(&has_video);
  if (!has_video) {
    fprintf(stderr, "kestrel-probe: no video track\n");
    return 1;
  }
  const GUID* subtype = SubtypeOf(options.format);
  if (!subtype) {
    fprintf(stderr, "kestrel-probe: unknown format %s\n", options.format.c_str());
    return 2;
  }
  OSType quicktime_format = PixelFormatTable::QuickTimeFormatOf(*subtype);
  HRESULT hr = session.CreateDecoder(quicktime_format);
  if (FAILED(hr)) {
    fprintf(stderr, "kestrel-probe: CreateDecoder failed (0x%08lx)\n", static_cast<unsigned long>(hr));
    return 1;
  }
  int32_t width = 0, height = 0;
  session.GetDimensions(&width, &height);
  size_t row_bytes = static_cast<size_t>(width) * PixelFormatTable::BitsPerPixelOf(quicktime_format) / 8;
  size_t stride = options.stride > 0 ? static_cast<size_t>(options.stride) : row_bytes;
  size_t size = stride * static_cast<size_t>(height);
  session.SetStride(static_cast<int32_t>(stride));
  session.SetFlip(options.flip);
  if (options.seek_seconds >= 0) session.SeekTo(static_cast<int64_t>(options.seek_seconds * 1e7 + 0.5));

  CreateDirectoryA(options.frames_out.c_str(), nullptr);
  std::string times;
  std::vector<uint8_t> frame(size);
  int written = 0;
  for (; written < options.frames; ++written) {
    int64_t start = 0, stop = 0;
    hr = session.ProduceFrame(frame.data(), frame.size(), &start, &stop);
    if (hr == S_FALSE) break;
    if (FAILED(hr)) {
      fprintf(stderr, "kestrel-probe: ProduceFrame failed (0x%08lx) at frame %d\n", static_cast<unsigned long>(hr),
              written);
      return 1;
    }
    char name[32];
    snprintf(name, sizeof(name), "\\frame_%04d.raw", written);
    if (!WriteAll(options.frames_out + name, frame.data(), frame.size())) {
      fprintf(stderr, "kestrel-probe: cannot write %s%s\n", options.frames_out.c_str(), name);
      return 1;
    }
    times += std::to_string(start) + " " + std::to_string(stop) + "\r\n";
  }
  if (!WriteAll(options.frames_out + "\\times.txt", times.data(), times.size())) return 1;
  printf("%d frames, %dx%d %s, stride %u\n", written, width, height, options.format.c_str(),
         static_cast<unsigned>(stride));
  return 0;
}

}  // namespace kestrel::probe
