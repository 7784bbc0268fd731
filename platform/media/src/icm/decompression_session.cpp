#include "icm/decompression_session.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <thread>

#include "icm/cf_objects.h"

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace qtm {
namespace {

AVPixelFormat AvFormatOf(OSType format) {
  switch (format) {
    case k2vuyPixelFormat:
      return AV_PIX_FMT_UYVY422;
    case kYUVSPixelFormat:
      return AV_PIX_FMT_YUYV422;
    case k32BGRAPixelFormat:
      return AV_PIX_FMT_BGRA;
    default:
      return AV_PIX_FMT_NONE;
  }
}

int SwsColorspace(AVColorSpace cs, int height) {
  switch (cs) {
    case AVCOL_SPC_BT709:
      return SWS_CS_ITU709;
    case AVCOL_SPC_FCC:
      return SWS_CS_FCC;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
      return SWS_CS_ITU601;
    case AVCOL_SPC_SMPTE240M:
      return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
      return SWS_CS_BT2020;
    default:
      return height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;  // none declared: SD 601, HD 709
  }
}

bool IsFullRangeFormat(AVPixelFormat f) {
  return f == AV_PIX_FMT_YUVJ420P || f == AV_PIX_FMT_YUVJ422P || f == AV_PIX_FMT_YUVJ444P || f == AV_PIX_FMT_YUVJ440P ||
         f == AV_PIX_FMT_YUVJ411P;
}

// Odd rows of a field picture: copies of the even rows above them.
void DoubleLines(QtmPixelBuffer* out) {
  size_t row = static_cast<size_t>(out->width) * PackedBytesPerPixel(out->format);
  for (int y = 1; y < out->height; y += 2)
    memcpy(out->data + y * out->bytes_per_row, out->data + (y - 1) * out->bytes_per_row, row);
}

// Odd rows replaced by the mean of the rows above and below (the bottom
// field interpolated from the top one). Every byte of the packed formats is
// one component, so bytes average independently.
void InterpolateOddLines(QtmPixelBuffer* out) {
  size_t row = static_cast<size_t>(out->width) * PackedBytesPerPixel(out->format);
  for (int y = 1; y < out->height; y += 2) {
    uint8_t* dst = out->data + y * out->bytes_per_row;
    const uint8_t* above = dst - out->bytes_per_row;
    if (y + 1 >= out->height) {
      memcpy(dst, above, row);
      continue;
    }
    const uint8_t* below = dst + out->bytes_per_row;
    for (size_t i = 0; i < row; ++i) dst[i] = static_cast<uint8_t>((above[i] + below[i] + 1) >> 1);
  }
}

}  // namespace

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
  sws_freeContext(sws_);
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

  int64_t width = setup.width, height = setup.height, format = k2vuyPixelFormat;
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
  err = static_cast<OSErr>(session->Open(setup));
  if (err != noErr) return err;
  *out = session.release();
  return noErr;
}

OSStatus DecompressionSession::Open(const CodecSetup& setup) {
  setup_ = setup;
  const AVCodec* codec = avcodec_find_decoder(setup.codec_id);
  if (!codec) return noCodecErr;
  ctx_ = avcodec_alloc_context3(codec);
  packet_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  if (!ctx_ || !packet_ || !frame_) return memFullErr;

  ctx_->codec_tag = setup.codec_tag;
  ctx_->width = ctx_->coded_width = setup.width;
  ctx_->height = ctx_->coded_height = setup.height;
  ctx_->bits_per_coded_sample = setup.depth;
  ctx_->colorspace = setup.colorspace;
  ctx_->color_primaries = setup.primaries;
  ctx_->color_trc = setup.transfer;
  ctx_->color_range = setup.range;
  if (!setup.extradata.empty()) {
    ctx_->extradata = static_cast<uint8_t*>(av_mallocz(setup.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!ctx_->extradata) return memFullErr;
    memcpy(ctx_->extradata, setup.extradata.data(), setup.extradata.size());
    ctx_->extradata_size = static_cast<int>(setup.extradata.size());
  }
  // Frame threading on every core (libavcodec's automatic count, as the
  // ffmpeg tool uses); the delay it adds is drained by Flush.
  ctx_->thread_count = 0;
  ctx_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  ctx_->pkt_timebase = AVRational{1, 1};
  // A PNG sample is a whole picture. libavcodec's PNG decoder adds a frame
  // that is not marked as a key frame to the picture before it (an old
  // inter-frame use of PNG), which would let the previous picture show
  // through transparent pixels.
  whole_pictures_ = setup.codec_id == AV_CODEC_ID_PNG;

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

  QtmPixelBuffer* picture = pixels_.Take();
  if (!picture) return;
  if (Convert(frame, picture)) {
    Emit(picture, found.display_time, found.display_duration, found.duration_valid);
    ReleasePixelBuffer(last_picture_);
    last_picture_ = picture;  // keeps the caller's reference
    last_picture_seq_ = found.seq;
    last_picture_time_ = found.display_time;
    last_picture_duration_ = found.display_duration;
    last_picture_duration_valid_ = found.duration_valid;
    return;
  }
  ReleasePixelBuffer(picture);
}

bool DecompressionSession::Convert(AVFrame* frame, QtmPixelBuffer* out) {
  auto src_format = static_cast<AVPixelFormat>(frame->format);
  if (src_format == AV_PIX_FMT_NONE || frame->width <= 0 || frame->height <= 0) return false;
  int field_mode = options_ ? options_->field_mode.load(std::memory_order_relaxed) : kICMFieldMode_BothFields;
  bool one_field = (field_mode == kICMFieldMode_TopFieldOnly || field_mode == kICMFieldMode_BottomFieldOnly) &&
                   frame->height >= 2 && !(av_pix_fmt_desc_get(src_format)->flags & AV_PIX_FMT_FLAG_PAL);

  int src_height = one_field ? frame->height / 2 : frame->height;
  int dst_height = one_field ? (out->height + 1) / 2 : out->height;
  int sws_flags = applied_accuracy_ < codecNormalQuality ? SWS_FAST_BILINEAR : SWS_BICUBIC;
  if (applied_accuracy_ >= codecMaxQuality) sws_flags |= SWS_ACCURATE_RND | SWS_BITEXACT;

  AVColorSpace cs = frame->colorspace != AVCOL_SPC_UNSPECIFIED ? frame->colorspace : setup_.colorspace;
  AVColorRange range = frame->color_range != AVCOL_RANGE_UNSPECIFIED ? frame->color_range : setup_.range;
  int src_full = (range == AVCOL_RANGE_JPEG || IsFullRangeFormat(src_format)) ? 1 : 0;
  int matrix = SwsColorspace(cs, frame->height);

  int key[6] = {src_format, frame->width, src_height, dst_height, sws_flags, matrix * 2 + src_full};
  if (!sws_ || memcmp(key, sws_key_, sizeof(key)) != 0) {
    // Sliced over every core, as the ffmpeg tool's scaler does.
    sws_freeContext(sws_);
    sws_ = sws_alloc_context();
    if (!sws_) return false;
    av_opt_set_int(sws_, "srcw", frame->width, 0);
    av_opt_set_int(sws_, "srch", src_height, 0);
    av_opt_set_int(sws_, "src_format", src_format, 0);
    av_opt_set_int(sws_, "dstw", out->width, 0);
    av_opt_set_int(sws_, "dsth", dst_height, 0);
    av_opt_set_int(sws_, "dst_format", AvFormatOf(out->format), 0);
    av_opt_set_int(sws_, "sws_flags", sws_flags, 0);
    av_opt_set_int(sws_, "threads", std::clamp(av_cpu_count(), 1, 16), 0);
    if (sws_init_context(sws_, nullptr, nullptr) < 0) {
      sws_freeContext(sws_);
      sws_ = nullptr;
      return false;
    }
    const int* coefficients = sws_getCoefficients(matrix);
    sws_setColorspaceDetails(sws_, coefficients, src_full, coefficients, 0, 0, 1 << 16, 1 << 16);
    memcpy(sws_key_, key, sizeof(key));
  }

  const uint8_t* src[4] = {};
  int src_stride[4] = {};
  int bottom = field_mode == kICMFieldMode_BottomFieldOnly ? 1 : 0;
  for (int i = 0; i < 4 && frame->data[i]; ++i) {
    src[i] = frame->data[i];
    src_stride[i] = frame->linesize[i];
    if (one_field && i < 3) {
      src[i] += bottom * frame->linesize[i];
      src_stride[i] *= 2;
    }
  }
  uint8_t* dst[4] = {out->data, nullptr, nullptr, nullptr};
  int dst_stride[4] = {static_cast<int>(out->bytes_per_row * (one_field ? 2 : 1)), 0, 0, 0};
  if (sws_scale(sws_, src, src_stride, 0, src_height, dst, dst_stride) <= 0) return false;
  if (one_field)
    DoubleLines(out);
  else if (field_mode == kICMFieldMode_DeinterlaceFields)
    InterpolateOddLines(out);
  return true;
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
