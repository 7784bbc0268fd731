// One sample description entry as 'stsd' holds it, made into the engine's
// record, read by its consumers, and a decompression session made from a
// picture description that decodes the bytes after it as one frame.
//
// Input: a media kind (0 picture, 1 sound, 2 time code, 3 text), the
// entry's length (16 bits, big-endian), the entry, then the frame's bytes.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz_targets.h"
#include "movie/descriptions.h"
#include "movie_calls.h"
#include "qtmedia.h"

namespace qtm::fuzz {
namespace {

// Reads every row of each picture the session emits, so that a buffer
// smaller than it says is caught.
void QTM_CALLBACK OnFrame(void* sum, OSStatus, ICMDecompressionTrackingFlags flags, CVPixelBufferRef buffer,
                          TimeValue64, TimeValue64, ICMValidTimeFlags, void*, void*) {
  if (!(flags & kICMDecompressionTracking_EmittingFrame) || !buffer) return;
  if (CVPixelBufferLockBaseAddress(buffer, 0) != kCVReturnSuccess) return;
  const auto* base = static_cast<const uint8_t*>(CVPixelBufferGetBaseAddress(buffer));
  size_t rows = CVPixelBufferGetHeight(buffer), stride = CVPixelBufferGetBytesPerRow(buffer);
  if (base) {
    uint8_t total = 0;
    for (size_t i = 0; i < rows * stride; ++i) total = static_cast<uint8_t>(total + base[i]);
    *static_cast<uint8_t*>(sum) += total;
  }
  CVPixelBufferUnlockBaseAddress(buffer, 0);
}

void DecodeOneFrame(Handle description, const uint8_t* frame, size_t size) {
  uint8_t sum = 0;
  ICMDecompressionTrackingCallbackRecord tracking = {OnFrame, &sum};
  ICMDecompressionSessionRef session = nullptr;
  if (ICMDecompressionSessionCreate(nullptr, reinterpret_cast<ImageDescriptionHandle>(description), nullptr, nullptr,
                                    &tracking, &session) != noErr ||
      !session)
    return;
  ICMFrameTimeRecord time = {};
  time.value = 0;
  time.scale = 600;
  time.rate = fixed1;
  time.recordSize = sizeof time;
  time.flags = icmFrameTimeHasDisplayTimes;
  time.displayDuration = 20;
  ICMDecompressionSessionDecodeFrame(session, frame, size, nullptr, &time, nullptr);
  ICMDecompressionSessionFlush(session);
  ICMDecompressionSessionRelease(session);
}

}  // namespace

int FuzzDescription(const uint8_t* data, size_t size) {
  static const OSType kKinds[] = {VideoMediaType, SoundMediaType, TimeCodeMediaType, 0x74657874 /* 'text' */};
  if (size < 3) return 0;
  StartEngineOnce();
  const OSType kind = kKinds[data[0] % 4];
  size_t length = std::min<size_t>(size_t{data[1]} << 8 | data[2], size - 3);
  if (length < 16) return 0;
  // The reader hands over entries whose size field is their length.
  std::vector<uint8_t> entry(data + 3, data + 3 + length);
  for (int i = 0; i < 4; ++i) entry[i] = static_cast<uint8_t>(length >> (24 - 8 * i));
  std::vector<uint8_t> record = DescriptionFromEntry(kind, entry.data(), entry.size());
  if (record.empty()) return 0;
  Handle description = NewHandle(static_cast<Size>(record.size()));
  if (!description) return 0;
  memcpy(*description, record.data(), record.size());
  ExerciseDescription(kind, description);
  if (kind == VideoMediaType) DecodeOneFrame(description, data + 3 + length, size - 3 - length);
  DisposeHandle(description);
  return 0;
}

}  // namespace qtm::fuzz
