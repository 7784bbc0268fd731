#include "icm/picture_converter.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "icm/pixel_buffer.h"

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace qtm {
namespace {

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

bool OneField(AVPixelFormat format, int height, int32_t field_mode) {
  return (field_mode == kICMFieldMode_TopFieldOnly || field_mode == kICMFieldMode_BottomFieldOnly) && height >= 2 &&
         !(av_pix_fmt_desc_get(format)->flags & AV_PIX_FMT_FLAG_PAL);
}

// Odd rows of a field picture: copies of the even rows above them.
void DoubleLines(uint8_t* data, size_t bytes_per_row, size_t row, int height) {
  for (int y = 1; y < height; y += 2) memcpy(data + y * bytes_per_row, data + (y - 1) * bytes_per_row, row);
}

// Odd rows replaced by the mean of the rows above and below (the bottom
// field interpolated from the top one). Every byte of the packed formats is
// one component, so bytes average independently.
void InterpolateOddLines(uint8_t* data, size_t bytes_per_row, size_t row, int height) {
  for (int y = 1; y < height; y += 2) {
    uint8_t* dst = data + y * bytes_per_row;
    const uint8_t* above = dst - bytes_per_row;
    if (y + 1 >= height) {
      memcpy(dst, above, row);
      continue;
    }
    const uint8_t* below = dst + bytes_per_row;
    for (size_t i = 0; i < row; ++i) dst[i] = static_cast<uint8_t>((above[i] + below[i] + 1) >> 1);
  }
}

bool Sliced(int flags) { return flags != SWS_POINT; }

// A 10-bit sample as swscale's fast conversion makes it 8 bits: rounded,
// saturated (its 15-bit intermediate, then (v + 64) >> 7).
inline uint8_t Narrow(uint16_t v) { return static_cast<uint8_t>(std::min((v + 2) >> 2, 255)); }
inline uint8_t Narrow(uint8_t v) { return v; }

#if defined(__SSE2__)
// 16 samples from p as bytes.
inline __m128i Load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline __m128i Load16(const uint16_t* p) {
  const __m128i two = _mm_set1_epi16(2);
  __m128i lo = _mm_srli_epi16(_mm_adds_epu16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), two), 2);
  __m128i hi = _mm_srli_epi16(_mm_adds_epu16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)), two), 2);
  return _mm_packus_epi16(lo, hi);
}
// 8 samples from p as the low 8 bytes.
inline __m128i Load8(const uint8_t* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
inline __m128i Load8(const uint16_t* p) {
  __m128i v =
      _mm_srli_epi16(_mm_adds_epu16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_set1_epi16(2)), 2);
  return _mm_packus_epi16(v, v);
}
#endif

// Each row of a planar picture (8-bit, or 10-bit in 16-bit samples) with its
// chroma row (row >> chroma_shift) into packed 4:2:2: what swscale's fast
// conversions do for 4:2:0 and 4:2:2, byte for byte, 16 pixels at a time.
// Writes width * 2 bytes a row.
template <typename Sample>
void Interleave(const uint8_t* const src[3], const int src_stride[3], int chroma_shift, int width, int height,
                bool uyvy, uint8_t* dst, int dst_stride) {
  for (int y = 0; y < height; ++y) {
    const auto* luma = reinterpret_cast<const Sample*>(src[0] + static_cast<ptrdiff_t>(y) * src_stride[0]);
    const auto* u = reinterpret_cast<const Sample*>(src[1] + static_cast<ptrdiff_t>(y >> chroma_shift) * src_stride[1]);
    const auto* v = reinterpret_cast<const Sample*>(src[2] + static_cast<ptrdiff_t>(y >> chroma_shift) * src_stride[2]);
    uint8_t* out = dst + static_cast<ptrdiff_t>(y) * dst_stride;
    int x = 0;
#if defined(__SSE2__)
    for (; x + 16 <= width; x += 16) {
      __m128i l = Load16(luma + x);
      __m128i uv = _mm_unpacklo_epi8(Load8(u + x / 2), Load8(v + x / 2));
      __m128i lo = uyvy ? _mm_unpacklo_epi8(uv, l) : _mm_unpacklo_epi8(l, uv);
      __m128i hi = uyvy ? _mm_unpackhi_epi8(uv, l) : _mm_unpackhi_epi8(l, uv);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * x), lo);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * x + 16), hi);
    }
#endif
    for (; x + 1 < width; x += 2) {
      uint8_t* o = out + 2 * x;
      uint8_t y0 = Narrow(luma[x]), y1 = Narrow(luma[x + 1]), cb = Narrow(u[x / 2]), cr = Narrow(v[x / 2]);
      if (uyvy) {
        o[0] = cb, o[1] = y0, o[2] = cr, o[3] = y1;
      } else {
        o[0] = y0, o[1] = cb, o[2] = y1, o[3] = cr;
      }
    }
  }
}

// The fast conversion that is only interleaving, unscaled (same size, even
// width), video range: 8-bit 4:2:0 to UYVY or YUYV (swscale's unscaled
// converters); 10-bit little-endian 4:2:0 to UYVY at an even height
// (swscale's scaler in plain C; its YUYV output has vector code that
// truncates, and at an odd height it takes other chroma rows).
bool InterleavesOnly(AVPixelFormat src, AVPixelFormat dst, int flags, bool src_full, bool unscaled, int height) {
  if (!unscaled || Sliced(flags) || src_full) return false;
  if (src == AV_PIX_FMT_YUV420P) return dst == AV_PIX_FMT_UYVY422 || dst == AV_PIX_FMT_YUYV422;
  return src == AV_PIX_FMT_YUV420P10LE && dst == AV_PIX_FMT_UYVY422 && height % 2 == 0;
}

// swscale writes UYVY through its generic vertical scaler in plain C (YUYV
// has vector code of its own), while planar output has vector code.
// Scaling the chroma of an 8-bit 4:2:0 picture into planar 4:2:2 with
// accurate rounding (the vector code then rounds as the C code does) and
// interleaving the planes gives the same bytes as the one-step conversion
// at less than half its cost. Only where that was checked: unscaled (same
// size, even width), 16 rows or more (pictures 7 and 8 rows high come out
// otherwise), UYVY out.
bool InTwoSteps(AVPixelFormat src, AVPixelFormat dst, int flags, bool unscaled, int height) {
  return unscaled && Sliced(flags) && (src == AV_PIX_FMT_YUV420P || src == AV_PIX_FMT_YUVJ420P) &&
         dst == AV_PIX_FMT_UYVY422 && height >= 16;
}

SwsContext* NewScaler(int src_width, int src_height, AVPixelFormat src_format, int dst_width, int dst_height,
                      AVPixelFormat dst_format, int flags, int threads) {
  SwsContext* sws = sws_alloc_context();
  if (!sws) return nullptr;
  av_opt_set_int(sws, "srcw", src_width, 0);
  av_opt_set_int(sws, "srch", src_height, 0);
  av_opt_set_int(sws, "src_format", src_format, 0);
  av_opt_set_int(sws, "dstw", dst_width, 0);
  av_opt_set_int(sws, "dsth", dst_height, 0);
  av_opt_set_int(sws, "dst_format", dst_format, 0);
  av_opt_set_int(sws, "sws_flags", flags, 0);
  av_opt_set_int(sws, "threads", threads, 0);
  if (sws_init_context(sws, nullptr, nullptr) < 0) {
    sws_freeContext(sws);
    return nullptr;
  }
  return sws;
}

}  // namespace

int ScalerFlagsFor(int32_t accuracy) {
  if (accuracy < codecHighQuality) return SWS_POINT;
  if (accuracy < codecMaxQuality) return SWS_BICUBIC;
  return SWS_BICUBIC | SWS_ACCURATE_RND | SWS_BITEXACT;
}

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

PictureConverter::PictureConverter(OSType format, int width, int height, const CodecSetup& setup)
    : PictureConverter(format, width, height, setup, 1) {}

PictureConverter::PictureConverter(OSType format, int width, int height, const CodecSetup& setup, int32_t orientation)
    : format_(format),
      width_(width),
      height_(height),
      colorspace_(setup.colorspace),
      range_(setup.range),
      orienter_(orientation) {}

PictureConverter::~PictureConverter() {
  sws_freeContext(sws_);
  av_frame_free(&src_);
  av_frame_free(&dst_);
  av_frame_free(&planes_);
  ReleasePixelBuffer(stored_picture_);
  av_frame_free(&stored_view_);
}

// A picture whose layout the orientation does not take, going to a format
// it takes (BGRA for a quarter turn of 4:2:2): libavfilter's negotiation
// converts it first, at its stored size, and turns the converted picture.
bool PictureConverter::ConvertsFirst(const AVFrame* frame) const {
  return !orienter_.Upright() && !orienter_.Takes(static_cast<AVPixelFormat>(frame->format)) &&
         orienter_.Takes(AvFormatOf(format_));
}

bool PictureConverter::PrepareStored(const AVFrame* frame, const ConversionSettings& settings) {
  if (!stored_) {
    const bool swap = SwapsSides(orienter_.orientation());
    CodecSetup setup;
    setup.colorspace = colorspace_;
    setup.range = range_;
    try {
      stored_ = std::make_unique<PictureConverter>(format_, swap ? height_ : width_, swap ? width_ : height_, setup);
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  return stored_->Prepare(frame, settings);
}

bool PictureConverter::ConvertStoredFirst(const AVFrame* frame, const ConversionSettings& settings, uint8_t* data,
                                          size_t bytes_per_row) {
  if (!stored_picture_) stored_picture_ = NewPixelBuffer(format_, stored_->width_, stored_->height_);
  if (!stored_view_) stored_view_ = av_frame_alloc();
  if (!stored_picture_ || !stored_view_ || !stored_->Convert(frame, settings, stored_picture_)) return false;
  stored_view_->format = AvFormatOf(format_);
  stored_view_->width = stored_->width_;
  stored_view_->height = stored_->height_;
  stored_view_->data[0] = stored_picture_->data;
  stored_view_->linesize[0] = static_cast<int>(stored_picture_->bytes_per_row);
  stored_view_->buf[0] = av_buffer_ref(stored_picture_->memory);
  const AVFrame* turned =
      stored_view_->buf[0] ? orienter_.Orient(stored_view_, ScalerFlagsFor(settings.accuracy)) : nullptr;
  if (turned) {
    const size_t row = static_cast<size_t>(width_) * PackedBytesPerPixel(format_);
    for (int y = 0; y < height_; ++y)
      memcpy(data + y * bytes_per_row, turned->data[0] + static_cast<ptrdiff_t>(y) * turned->linesize[0], row);
  }
  orienter_.Forget();
  av_frame_unref(stored_view_);
  return turned != nullptr;
}

bool PictureConverter::Prepare(const AVFrame* frame, const ConversionSettings& settings) {
  std::lock_guard<std::mutex> guard(lock_);
  return PrepareLocked(frame, settings);
}

bool PictureConverter::PrepareLocked(const AVFrame* frame, const ConversionSettings& settings) {
  if (frame->format == AV_PIX_FMT_NONE || frame->width <= 0 || frame->height <= 0) return false;
  convert_first_ = ConvertsFirst(frame);
  if (convert_first_) return PrepareStored(frame, settings);
  // The picture the scaler gets: turned upright first.
  AVPixelFormat src_format = AV_PIX_FMT_NONE;
  int src_width = 0, upright_height = 0;
  orienter_.Shape(frame, &src_format, &src_width, &upright_height);
  if (src_format == AV_PIX_FMT_NONE) return false;
  bool one_field = OneField(src_format, upright_height, settings.field_mode);
  int src_height = one_field ? upright_height / 2 : upright_height;
  int dst_height = one_field ? (height_ + 1) / 2 : height_;
  int flags = ScalerFlagsFor(settings.accuracy);

  AVColorSpace cs = frame->colorspace != AVCOL_SPC_UNSPECIFIED ? frame->colorspace : colorspace_;
  AVColorRange range = frame->color_range != AVCOL_RANGE_UNSPECIFIED ? frame->color_range : range_;
  int src_full = (range == AVCOL_RANGE_JPEG || IsFullRangeFormat(src_format)) ? 1 : 0;
  int matrix = SwsColorspace(cs, frame->height);

  int key[6] = {src_format, src_width, src_height, dst_height, flags, matrix * 2 + src_full};
  if (memcmp(key, key_, sizeof(key)) == 0) return true;  // set up for these already
  if ((!src_ && !(src_ = av_frame_alloc())) || (!dst_ && !(dst_ = av_frame_alloc()))) return false;
  sws_freeContext(sws_);
  sws_ = nullptr;
  memset(key_, -1, sizeof(key_));
  AVPixelFormat dst_format = AvFormatOf(format_);
  const bool unscaled = src_width == width_ && src_height == dst_height && src_width % 2 == 0;
  interleave_only_ = InterleavesOnly(src_format, dst_format, flags, src_full, unscaled, dst_height);
  two_steps_ = InTwoSteps(src_format, dst_format, flags, unscaled, dst_height);
  if (interleave_only_) {
    memcpy(key_, key, sizeof(key));  // no scaler needed
    return true;
  }
  if (two_steps_) {
    if (!PrepareTwoSteps(dst_height)) return false;
    dst_format = AV_PIX_FMT_YUV422P;
    flags |= SWS_ACCURATE_RND;
  }
  // The fast conversion costs less than handing it to other threads; the
  // interpolating one is sliced over every core.
  sws_ = NewScaler(src_width, src_height, src_format, width_, dst_height, dst_format, flags,
                   Sliced(flags) ? std::clamp(av_cpu_count(), 1, 16) : 1);
  if (!sws_) return false;
  const int* coefficients = sws_getCoefficients(matrix);
  sws_setColorspaceDetails(sws_, coefficients, src_full, coefficients, 0, 0, 1 << 16, 1 << 16);
  memcpy(key_, key, sizeof(key));
  return true;
}

// The planar 4:2:2 picture between the steps.
bool PictureConverter::PrepareTwoSteps(int height) {
  if (!planes_ || planes_->height != height) {
    av_frame_free(&planes_);
    planes_ = av_frame_alloc();
    if (!planes_) return false;
    planes_->format = AV_PIX_FMT_YUV422P;
    planes_->width = width_;
    planes_->height = height;
    if (av_frame_get_buffer(planes_, 0) < 0) {
      av_frame_free(&planes_);
      return false;
    }
  }
  return true;
}

bool PictureConverter::Convert(const AVFrame* frame, const ConversionSettings& settings, QtmPixelBuffer* out) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!out || out->format != format_ || out->width != width_ || out->height != height_ || !out->memory ||
      !PrepareLocked(frame, settings))
    return false;
  return ConvertLocked(frame, settings, out->data, out->bytes_per_row, out->memory);
}

bool PictureConverter::ConvertInto(const AVFrame* frame, const ConversionSettings& settings, uint8_t* data,
                                   size_t bytes_per_row) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!data || settings.field_mode != kICMFieldMode_BothFields || bytes_per_row > INT_MAX ||
      !PrepareLocked(frame, settings))
    return false;
  // The sliced scaler writes into frames of its own memory; the two steps
  // pack on this thread. The interleaving loops write each row exactly;
  // swscale's vector stores write whole 64-byte blocks at a row's end.
  if (!convert_first_) {
    if (Sliced(ScalerFlagsFor(settings.accuracy)) && !two_steps_) return false;
    if (!interleave_only_ && !two_steps_ && static_cast<size_t>(width_) * PackedBytesPerPixel(format_) % 64 != 0)
      return false;
  }
  return ConvertLocked(frame, settings, data, bytes_per_row, nullptr);
}

bool PictureConverter::ConvertLocked(const AVFrame* decoded, const ConversionSettings& settings, uint8_t* data,
                                     size_t bytes_per_row, AVBufferRef* memory) {
  if (convert_first_) return ConvertStoredFirst(decoded, settings, data, bytes_per_row);
  const AVFrame* frame = orienter_.Orient(decoded, ScalerFlagsFor(settings.accuracy));
  if (!frame) return false;
  bool ok = ConvertUpright(frame, settings, data, bytes_per_row, memory);
  orienter_.Forget();
  return ok;
}

bool PictureConverter::ConvertUpright(const AVFrame* frame, const ConversionSettings& settings, uint8_t* data,
                                      size_t bytes_per_row, AVBufferRef* memory) {
  bool one_field = OneField(static_cast<AVPixelFormat>(frame->format), frame->height, settings.field_mode);
  int bottom = settings.field_mode == kICMFieldMode_BottomFieldOnly ? 1 : 0;
  int dst_height = one_field ? (height_ + 1) / 2 : height_;
  int dst_stride = static_cast<int>(bytes_per_row * (one_field ? 2 : 1));
  bool ok;
  if (!Sliced(ScalerFlagsFor(settings.accuracy))) {
    // On this thread, straight from the picture's planes (one field: every
    // other row).
    const uint8_t* src[4] = {};
    int src_stride[4] = {};
    for (int i = 0; i < 4 && frame->data[i]; ++i) {
      src[i] = frame->data[i];
      src_stride[i] = frame->linesize[i];
      if (one_field && i < 3) {
        src[i] += bottom * frame->linesize[i];
        src_stride[i] *= 2;
      }
    }
    uint8_t* dst[4] = {data, nullptr, nullptr, nullptr};
    int dst_strides[4] = {dst_stride, 0, 0, 0};
    int rows = one_field ? frame->height / 2 : frame->height;
    if (interleave_only_) {
      bool uyvy = format_ == k2vuyPixelFormat;
      if (frame->format == AV_PIX_FMT_YUV420P10LE)
        Interleave<uint16_t>(src, src_stride, 1, width_, rows, uyvy, data, dst_stride);
      else
        Interleave<uint8_t>(src, src_stride, 1, width_, rows, uyvy, data, dst_stride);
      ok = true;
    } else {
      ok = sws_scale(sws_, src, src_stride, 0, rows, dst, dst_strides) > 0;
    }
  } else {
    // Sliced: the scaler takes frames, views of the picture and of the
    // buffer sharing their memory.
    if (av_frame_ref(src_, frame) < 0) return false;
    if (one_field) {
      for (int i = 0; i < 3 && src_->data[i]; ++i) {
        src_->data[i] += bottom * src_->linesize[i];
        src_->linesize[i] *= 2;
      }
      src_->height = frame->height / 2;
    }
    if (two_steps_) {
      ok = sws_scale_frame(sws_, planes_, src_) >= 0;
      if (ok) Interleave<uint8_t>(planes_->data, planes_->linesize, 0, width_, dst_height, true, data, dst_stride);
    } else {
      dst_->format = AvFormatOf(format_);
      dst_->width = width_;
      dst_->height = dst_height;
      dst_->data[0] = data;
      dst_->linesize[0] = dst_stride;
      dst_->buf[0] = memory ? av_buffer_ref(memory) : nullptr;
      ok = dst_->buf[0] && sws_scale_frame(sws_, dst_, src_) >= 0;
      av_frame_unref(dst_);
    }
    av_frame_unref(src_);
  }
  if (!ok) return false;
  size_t row = static_cast<size_t>(width_) * PackedBytesPerPixel(format_);
  if (one_field)
    DoubleLines(data, bytes_per_row, row, height_);
  else if (settings.field_mode == kICMFieldMode_DeinterlaceFields)
    InterpolateOddLines(data, bytes_per_row, row, height_);
  return true;
}

}  // namespace qtm
