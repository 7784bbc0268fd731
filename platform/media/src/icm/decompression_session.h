// A decompression session on libavcodec: compressed frames in decode order
// in, pictures in display order out through the tracking callback, converted
// by libswscale to the pixel format and size the destination attributes ask
// for (without a size, the size the decoder gives each picture; a size
// asked for beyond the decoder's limits is refused with paramErr).
//
// Emission rules the callers rely on:
// - each picture is emitted with kICMDecompressionTracking_EmittingFrame,
//   the display time and duration of its frame's time record, both valid;
// - each decode call reports the release of its source data exactly once,
//   also when it fails;
// - a frame marked icmFrameTimeDoNotDisplay is decoded but never emitted;
// - handing over again the frame decoded last (same time, same bytes) does
//   not feed it twice: its picture is emitted again when it has come out
//   already, or comes out in its turn otherwise;
// - Flush emits every picture the decoder still holds and resets it, so
//   the next frame is fed whatever it is.
#ifndef QTMEDIA_ICM_DECOMPRESSION_SESSION_H
#define QTMEDIA_ICM_DECOMPRESSION_SESSION_H

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "icm/codec_setup.h"
#include "icm/picture_converter.h"
#include "icm/pixel_buffer.h"
#include "qtmedia.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

struct OpaqueICMDecompressionSessionOptions {
  static constexpr uint32_t kMagic = 0x4944534F;  // 'IDSO'
  uint32_t magic = kMagic;
  std::atomic<int> refs{1};
  std::atomic<int32_t> accuracy{codecNormalQuality};
  std::atomic<int32_t> field_mode{kICMFieldMode_BothFields};
};

namespace qtm {

void RetainOptions(ICMDecompressionSessionOptionsRef options);
void ReleaseOptions(ICMDecompressionSessionOptionsRef options);

class DecompressionSession {
 public:
  static constexpr uint32_t kMagic = 0x49434D44;  // 'ICMD'

  ~DecompressionSession();
  static OSStatus Create(const uint8_t* desc, size_t desc_size, ICMDecompressionSessionOptionsRef options,
                         CFDictionaryRef attributes, const ICMDecompressionTrackingCallbackRecord* tracking,
                         DecompressionSession** out);

  OSStatus Decode(const uint8_t* data, ByteCount size, const ICMFrameTimeRecord* time, void* source_ref);
  OSStatus Flush();

  uint32_t magic = kMagic;

 private:
  struct FrameInfo {
    int64_t seq = -1;
    int64_t display_time = 0;
    int64_t display_duration = 0;
    bool duration_valid = false;
    bool emit = true;
  };
  static constexpr size_t kFrameInfos = 64;
  // Receive failures in a row that end a drain with codecErr: more than a
  // decoder can hold pictures (frame threads and reorder delay), each of
  // which may fail once.
  static constexpr int kMaxFailuresInARow = static_cast<int>(kFrameInfos);

  DecompressionSession() = default;
  OSStatus Open(const CodecSetup& setup);
  void ApplyAccuracy(int32_t accuracy);
  void ReportRelease(void* source_ref, OSStatus status);
  OSStatus SendAndDrain(AVPacket* packet);
  OSStatus Drain();
  void EmitDecoded(AVFrame* frame);
  void Emit(QtmPixelBuffer* picture, int64_t display_time, int64_t display_duration, bool duration_valid);
  OSStatus CopyToPacket(const uint8_t* data, size_t size);

  AVCodecContext* ctx_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVBufferPool* packet_pool_ = nullptr;
  size_t packet_pool_size_ = 0;
  std::shared_ptr<PictureConverter> converter_;

  OSType format_ = 0;
  int out_width_ = 0, out_height_ = 0;
  bool follow_decoded_size_ = false;  // no size asked for: each picture's own
  int32_t orientation_ = 1;           // TIFF value: how each picture is turned upright
  CodecSetup setup_;
  ICMDecompressionSessionOptionsRef options_ = nullptr;
  int32_t applied_accuracy_ = -1;
  bool whole_pictures_ = false;  // every frame is fed as a key frame
  ICMDecompressionTrackingCallbackRecord tracking_ = {};
  PixelBufferPool pixels_;

  std::array<FrameInfo, kFrameInfos> infos_;
  int64_t next_seq_ = 0;

  // The frame fed last: its bytes (a pool buffer), decode time and sequence.
  AVBufferRef* last_data_ = nullptr;
  size_t last_size_ = 0;
  int64_t last_value_ = 0;
  int64_t last_seq_ = -1;
  // The picture emitted last and the frame it came from.
  QtmPixelBuffer* last_picture_ = nullptr;
  int64_t last_picture_seq_ = -1;
  int64_t last_picture_time_ = 0, last_picture_duration_ = 0;
  bool last_picture_duration_valid_ = false;
};

}  // namespace qtm

#endif
