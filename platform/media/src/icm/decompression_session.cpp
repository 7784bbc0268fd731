#include "icm/decompression_session.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "icm/cf_objects.h"
#include "icm/picture_orientation.h"

namespace qtm {

void RetainOptions(ICMDecompressionSessionOptionsRef options) {
  if (options) options->refs.fetch_add(1, std::memory_order_relaxed);
}

void ReleaseOptions(ICMDecompressionSessionOptionsRef options) {
  if (options && options->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    options->magic = 0;
    delete options;
  }
}

DecompressionSession::~DecompressionSession() {
  magic = 0;
  avcodec_free_context(&ctx_);
  av_packet_free(&packet_);
  av_frame_free(&frame_);
  av_buffer_unref(&last_data_);
  av_buffer_pool_uninit(&packet_pool_);
  ReleasePixelBuffer(last_picture_);
  ReleaseOptions(options_);
}

OSStatus DecompressionSession::Create(const uint8_t* desc, size_t desc_size, ICMDecompressionSessionOptionsRef options,
                                      CFDictionaryRef attributes,
                                      const ICMDecompressionTrackingCallbackRecord* tracking,
                                      DecompressionSession** out) {
  CodecSetup setup;
  OSErr err = ParseImageDescription(desc, desc_size, &setup);
  if (err != noErr) return err;

  int64_t orientation = qtmOrientationUpright;
  if (attributes) DictionaryNumber(attributes, "Orientation", &orientation);
  if (!IsOrientation(orientation)) return paramErr;
  const bool swap = SwapsSides(static_cast<int32_t>(orientation));
  int64_t width = swap ? setup.height : setup.width, height = swap ? setup.width : setup.height;
  int64_t format = k2vuyPixelFormat;
  if (attributes) {
    DictionaryNumber(attributes, "Width", &width);
    DictionaryNumber(attributes, "Height", &height);
    DictionaryNumber(attributes, "PixelFormatType", &format);
  }
  if (AvFormatOf(static_cast<OSType>(format)) == AV_PIX_FMT_NONE || width <= 0 || height <= 0 || width > 16384 ||
      height > 16384)
    return paramErr;

  std::unique_ptr<DecompressionSession> session(new (std::nothrow) DecompressionSession());
  if (!session) return memFullErr;
  session->format_ = static_cast<OSType>(format);
  session->out_width_ = static_cast<int>(width);
  session->out_height_ = static_cast<int>(height);
  if (options) {
    RetainOptions(options);
    session->options_ = options;
  }
  if (tracking) session->tracking_ = *tracking;
  session->pixels_.Configure(session->format_, session->out_width_, session->out_height_);
  try {
    session->converter_ = std::make_shared<PictureConverter>(
        session->format_, session->out_width_, session->out_height_, setup, static_cast<int32_t>(orientation));
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  err = static_cast<OSErr>(session->Open(setup));
  if (err != noErr) return err;
  *out = session.release();
  return noErr;
}

OSStatus DecompressionSession::Open(const CodecSetup& setup) {
  setup_ = setup;
  const AVCodec* codec = avcodec_find_decoder(setup.codec_id);
  if (!codec) return noCodecErr;
  ctx_ = NewDecoderContext(setup, codec);
  packet_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  if (!ctx_ || !packet_ || !frame_) return memFullErr;
  // Frame threading with libavcodec's automatic count (cores + 1, as the
  // ffmpeg tool uses; 2, 3 and 4 threads measured alike on two cores); the
  // delay it adds is drained by Flush.
  ctx_->thread_count = 0;
  ctx_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  ctx_->pkt_timebase = AVRational{1, 1};
  // A PNG sample is a whole picture. libavcodec's PNG decoder adds a frame
  // that is not marked as a key frame to the picture before it (an old
  // inter-frame use of PNG), which would let the previous picture show
  // through transparent pixels.
  whole_pictures_ = setup.codec_id == AV_CODEC_ID_PNG;

  // The accuracy (QuickTime's codec quality; the filter's QT_VIDEO_QUALITY
  // values pass unchanged) sets up the decoder and the conversion:
  //   accuracy          decoder                      conversion (ScalerFlagsFor)
  //   min, low          loop filter skipped, fast    fast: swscale's unscaled converters,
  //                                                  chroma rows repeated (ffmpeg -sws_flags
  //                                                  neighbor), on the decoding thread
  //   normal (default)  full                         fast
  //   high              full                         interpolating: bicubic (ffmpeg's
  //                                                  default), sliced over every core
  //   max, lossless     full, bit-exact              bicubic, accurate rounding, bit-exact
  // The decoder's part follows the options at every frame (ApplyAccuracy),
  // bit-exactness only at creation; the conversion follows them at every
  // picture.
  int32_t accuracy = options_ ? options_->accuracy.load() : codecNormalQuality;
  if (accuracy >= codecMaxQuality) ctx_->flags |= AV_CODEC_FLAG_BITEXACT;
  ApplyAccuracy(accuracy);
  if (avcodec_open2(ctx_, codec, nullptr) < 0) return codecErr;
  return noErr;
}

void DecompressionSession::ApplyAccuracy(int32_t accuracy) {
  if (accuracy == applied_accuracy_) return;
  applied_accuracy_ = accuracy;
  if (accuracy < codecNormalQuality) {
    ctx_->skip_loop_filter = AVDISCARD_ALL;
    ctx_->flags2 |= AV_CODEC_FLAG2_FAST;
  } else {
    ctx_->skip_loop_filter = AVDISCARD_DEFAULT;
    ctx_->flags2 &= ~AV_CODEC_FLAG2_FAST;
  }
}

void DecompressionSession::ReportRelease(void* source_ref, OSStatus status) {
  if (tracking_.decompressionTrackingCallback)
    tracking_.decompressionTrackingCallback(tracking_.decompressionTrackingRefCon, status,
                                            kICMDecompressionTracking_ReleaseSourceData, nullptr, 0, 0, 0, nullptr,
                                            source_ref);
}

void DecompressionSession::Emit(QtmPixelBuffer* picture, int64_t display_time, int64_t display_duration,
                                bool duration_valid) {
  if (!tracking_.decompressionTrackingCallback) return;
  ICMValidTimeFlags valid = kICMValidTime_DisplayTimeStampIsValid;
  if (duration_valid) valid |= kICMValidTime_DisplayDurationIsValid;
  tracking_.decompressionTrackingCallback(tracking_.decompressionTrackingRefCon, noErr,
                                          kICMDecompressionTracking_EmittingFrame, picture, display_time,
                                          display_duration, valid, nullptr, nullptr);
}

// The frame's bytes into a padded, reference-counted packet buffer from a
// pool, so steady decoding allocates nothing.
OSStatus DecompressionSession::CopyToPacket(const uint8_t* data, size_t size) {
  size_t needed = size + AV_INPUT_BUFFER_PADDING_SIZE;
  if (!packet_pool_ || needed > packet_pool_size_) {
    av_buffer_pool_uninit(&packet_pool_);
    packet_pool_size_ = std::max<size_t>(needed * 2, 64 * 1024);
    packet_pool_ = av_buffer_pool_init(packet_pool_size_, nullptr);
    if (!packet_pool_) {
      packet_pool_size_ = 0;
      return memFullErr;
    }
  }
  AVBufferRef* buffer = av_buffer_pool_get(packet_pool_);
  if (!buffer) return memFullErr;
  memcpy(buffer->data, data, size);
  memset(buffer->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  av_packet_unref(packet_);
  packet_->buf = buffer;
  packet_->data = buffer->data;
  packet_->size = static_cast<int>(size);
  return noErr;
}

OSStatus DecompressionSession::Decode(const uint8_t* data, ByteCount size, const ICMFrameTimeRecord* time,
                                      void* source_ref) {
  if ((!data && size) || size > 0x7FFFFFF0u) {
    ReportRelease(source_ref, paramErr);
    return paramErr;
  }
  int64_t decode_time = time ? time->value : 0;
  bool display_times = time && (time->flags & icmFrameTimeHasDisplayTimes);
  bool emit = !(time && (time->flags & icmFrameTimeDoNotDisplay));

  // The frame decoded last, handed over again: never fed twice.
  if (last_data_ && last_size_ == size && last_value_ == decode_time && memcmp(last_data_->data, data, size) == 0) {
    ReportRelease(source_ref, noErr);
    if (!emit) return noErr;
    if (last_picture_ && last_picture_seq_ == last_seq_) {
      Emit(last_picture_, last_picture_time_, last_picture_duration_, last_picture_duration_valid_);
    } else {
      FrameInfo& info = infos_[static_cast<size_t>(last_seq_) % kFrameInfos];
      if (info.seq == last_seq_) info.emit = true;  // comes out in its turn
    }
    return noErr;
  }

  // An empty packet would start libavcodec's drain: an empty frame is
  // dropped instead.
  if (size == 0) {
    ReportRelease(source_ref, noErr);
    return noErr;
  }

  OSStatus status = CopyToPacket(data, size);
  ReportRelease(source_ref, status);  // the bytes are ours now
  if (status != noErr) return status;

  if (options_) ApplyAccuracy(options_->accuracy.load(std::memory_order_relaxed));

  int64_t seq = next_seq_++;
  FrameInfo& info = infos_[static_cast<size_t>(seq) % kFrameInfos];
  info.seq = seq;
  info.display_time = display_times ? decode_time + time->displayOffset : decode_time;
  info.display_duration = display_times ? time->displayDuration : 0;
  info.duration_valid = display_times;
  info.emit = emit;

  packet_->pts = info.display_time;
  packet_->dts = decode_time;
  packet_->duration = info.display_duration;
  packet_->pos = seq;
  packet_->flags = whole_pictures_ ? AV_PKT_FLAG_KEY : 0;

  av_buffer_unref(&last_data_);
  last_data_ = av_buffer_ref(packet_->buf);
  last_size_ = last_data_ ? size : 0;
  last_value_ = decode_time;
  last_seq_ = seq;

  return SendAndDrain(packet_);
}

OSStatus DecompressionSession::SendAndDrain(AVPacket* packet) {
  int ret = avcodec_send_packet(ctx_, packet);
  if (ret == AVERROR(EAGAIN)) {
    OSStatus drained = Drain();
    if (drained != noErr) return drained;
    ret = avcodec_send_packet(ctx_, packet);
  }
  if (packet) av_packet_unref(packet);
  if (ret == AVERROR(ENOMEM)) return memFullErr;
  // Damaged data is the decoder's to conceal or drop; decoding goes on.
  if (ret < 0 && ret != AVERROR_EOF && tracking_.decompressionTrackingCallback) {
    tracking_.decompressionTrackingCallback(tracking_.decompressionTrackingRefCon, codecErr,
                                            kICMDecompressionTracking_FrameDropped, nullptr, 0, 0, 0, nullptr, nullptr);
  }
  return Drain();
}

OSStatus DecompressionSession::Drain() {
  int failures = 0;  // in a row
  for (;;) {
    int ret = avcodec_receive_frame(ctx_, frame_);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return noErr;
    if (ret == AVERROR(ENOMEM)) return memFullErr;
    if (ret < 0) {
      // One damaged picture; the next may be fine. A decoder that answers
      // nothing but failures is broken, and asking it again would never end.
      if (++failures > kMaxFailuresInARow) return codecErr;
      continue;
    }
    failures = 0;
    EmitDecoded(frame_);
    av_frame_unref(frame_);
  }
}

void DecompressionSession::EmitDecoded(AVFrame* frame) {
  FrameInfo found;
  const FrameInfo& slot = infos_[static_cast<size_t>(frame->pkt_pos >= 0 ? frame->pkt_pos : 0) % kFrameInfos];
  if (frame->pkt_pos >= 0 && slot.seq == frame->pkt_pos) {
    found = slot;
  } else {
    found.seq = -1;
    found.display_time = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
    found.display_duration = frame->pkt_duration;
    found.duration_valid = frame->pkt_duration > 0;
  }
  if (!found.emit) return;

  // Converted when its base address is first locked: a picture nobody
  // looks at is never converted.
  ConversionSettings settings;
  settings.accuracy = applied_accuracy_;
  settings.field_mode = options_ ? options_->field_mode.load(std::memory_order_relaxed) : kICMFieldMode_BothFields;
  if (!converter_->Prepare(frame, settings)) return;
  QtmPixelBuffer* picture = pixels_.Take();
  if (!picture) return;
  SetPendingPicture(picture, frame, converter_, settings);
  Emit(picture, found.display_time, found.display_duration, found.duration_valid);
  ReleasePixelBuffer(last_picture_);
  last_picture_ = picture;  // keeps the caller's reference
  last_picture_seq_ = found.seq;
  last_picture_time_ = found.display_time;
  last_picture_duration_ = found.display_duration;
  last_picture_duration_valid_ = found.duration_valid;
}

OSStatus DecompressionSession::Flush() {
  OSStatus status = SendAndDrain(nullptr);
  avcodec_flush_buffers(ctx_);  // ready for more frames after the drain
  // The decoder holds no references any more: a frame handed over next is
  // fed, even the one decoded last.
  av_buffer_unref(&last_data_);
  last_size_ = 0;
  return status;
}

}  // namespace qtm
