#include "icm/picture_orientation.h"

#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace qtm {
namespace {

enum Operation { kNone, kMirror, kMirrorAndFlip, kFlip, kTranspose };

Operation OperationOf(int32_t orientation) {
  switch (orientation) {
    case 2:
      return kMirror;
    case 3:
      return kMirrorAndFlip;
    case 4:
      return kFlip;
    case 5:
    case 6:
    case 7:
    case 8:
      return kTranspose;
    default:
      return kNone;
  }
}

// The transposition's direction as libavfilter's transpose numbers it: bit 0
// reads the source bottom-up, bit 1 writes the rows bottom-up.
int DirectionOf(int32_t orientation) {
  switch (orientation) {
    case 6:
      return 1;  // clock
    case 7:
      return 3;  // clock_flip
    case 8:
      return 2;  // cclock
    default:
      return 0;  // cclock_flip: the plain transposition
  }
}

// Whether libavfilter's filter for the operation takes the format (their
// format lists; a palette is converted for every operation here).
bool OperationTakes(Operation op, const AVPixFmtDescriptor* d) {
  if (d->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BAYER))
    return false;
  switch (op) {
    case kTranspose:
      return d->log2_chroma_w == d->log2_chroma_h;
    case kMirror:
    case kMirrorAndFlip:
      return !(d->log2_chroma_w != d->log2_chroma_h && d->comp[0].plane == d->comp[1].plane);
    default:
      return true;
  }
}

// Rows of a plane, in bytes: start, bytes from one row to the next.
struct PlaneView {
  uint8_t* data;
  ptrdiff_t stride;
};

// dst[y][x] = src[x][y] for an 8 x 8 block of step-byte elements.
template <int step>
void TransposeBlockC(const uint8_t* src, ptrdiff_t src_stride, uint8_t* dst, ptrdiff_t dst_stride, int w, int h) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) memcpy(dst + y * dst_stride + x * step, src + x * src_stride + y * step, step);
}

#if defined(__SSE2__)
void Transpose8x8Bytes(const uint8_t* src, ptrdiff_t src_stride, uint8_t* dst, ptrdiff_t dst_stride) {
  __m128i a[8];
  for (int i = 0; i < 8; ++i) a[i] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + i * src_stride));
  __m128i t0 = _mm_unpacklo_epi8(a[0], a[1]), t1 = _mm_unpacklo_epi8(a[2], a[3]);
  __m128i t2 = _mm_unpacklo_epi8(a[4], a[5]), t3 = _mm_unpacklo_epi8(a[6], a[7]);
  __m128i u0 = _mm_unpacklo_epi16(t0, t1), u1 = _mm_unpackhi_epi16(t0, t1);
  __m128i u2 = _mm_unpacklo_epi16(t2, t3), u3 = _mm_unpackhi_epi16(t2, t3);
  const __m128i rows[4] = {_mm_unpacklo_epi32(u0, u2), _mm_unpackhi_epi32(u0, u2), _mm_unpacklo_epi32(u1, u3),
                           _mm_unpackhi_epi32(u1, u3)};
  for (int i = 0; i < 4; ++i) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + (2 * i) * dst_stride), rows[i]);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + (2 * i + 1) * dst_stride), _mm_srli_si128(rows[i], 8));
  }
}

void Transpose8x8Words(const uint8_t* src, ptrdiff_t src_stride, uint8_t* dst, ptrdiff_t dst_stride) {
  __m128i a[8];
  for (int i = 0; i < 8; ++i) a[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i * src_stride));
  __m128i t[8];
  for (int i = 0; i < 4; ++i) {
    t[2 * i] = _mm_unpacklo_epi16(a[2 * i], a[2 * i + 1]);
    t[2 * i + 1] = _mm_unpackhi_epi16(a[2 * i], a[2 * i + 1]);
  }
  // u[k]: columns 2k and 2k + 1 of rows 0-3; u[4 + k] the same of rows 4-7.
  __m128i u[8];
  for (int half = 0; half < 2; ++half) {
    const __m128i* s = t + 4 * half;
    u[4 * half + 0] = _mm_unpacklo_epi32(s[0], s[2]);
    u[4 * half + 1] = _mm_unpackhi_epi32(s[0], s[2]);
    u[4 * half + 2] = _mm_unpacklo_epi32(s[1], s[3]);
    u[4 * half + 3] = _mm_unpackhi_epi32(s[1], s[3]);
  }
  for (int k = 0; k < 4; ++k) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + (2 * k) * dst_stride), _mm_unpacklo_epi64(u[k], u[4 + k]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + (2 * k + 1) * dst_stride), _mm_unpackhi_epi64(u[k], u[4 + k]));
  }
}
#endif

template <int step>
void TransposePlaneOf(PlaneView src, PlaneView dst, int out_width, int out_height) {
  int y = 0;
  for (; y + 8 <= out_height; y += 8) {
    int x = 0;
    for (; x + 8 <= out_width; x += 8) {
      const uint8_t* s = src.data + x * src.stride + y * step;
      uint8_t* d = dst.data + y * dst.stride + x * step;
#if defined(__SSE2__)
      if constexpr (step == 1) {
        Transpose8x8Bytes(s, src.stride, d, dst.stride);
        continue;
      } else if constexpr (step == 2) {
        Transpose8x8Words(s, src.stride, d, dst.stride);
        continue;
      }
#endif
      TransposeBlockC<step>(s, src.stride, d, dst.stride, 8, 8);
    }
    if (x < out_width)
      TransposeBlockC<step>(src.data + x * src.stride + y * step, src.stride, dst.data + y * dst.stride + x * step,
                            dst.stride, out_width - x, 8);
  }
  if (y < out_height)
    TransposeBlockC<step>(src.data + y * step, src.stride, dst.data + y * dst.stride, dst.stride, out_width,
                          out_height - y);
}

bool TransposePlane(int step, PlaneView src, PlaneView dst, int out_width, int out_height) {
  switch (step) {
    case 1:
      TransposePlaneOf<1>(src, dst, out_width, out_height);
      return true;
    case 2:
      TransposePlaneOf<2>(src, dst, out_width, out_height);
      return true;
    case 3:
      TransposePlaneOf<3>(src, dst, out_width, out_height);
      return true;
    case 4:
      TransposePlaneOf<4>(src, dst, out_width, out_height);
      return true;
    case 6:
      TransposePlaneOf<6>(src, dst, out_width, out_height);
      return true;
    case 8:
      TransposePlaneOf<8>(src, dst, out_width, out_height);
      return true;
    default:
      return false;
  }
}

void MirrorRow(const uint8_t* src, uint8_t* dst, int width, int step) {
  const uint8_t* s = src + static_cast<ptrdiff_t>(width - 1) * step;
  if (step == 1) {
    for (int x = 0; x < width; ++x) dst[x] = s[-x];
    return;
  }
  for (int x = 0; x < width; ++x, s -= step, dst += step) memcpy(dst, s, step);
}

// Planes of a format: count, bytes per element, and the subsampling shifts.
struct Planes {
  int count = 0;
  int steps[4] = {};
  int hsub = 0, vsub = 0;
};

Planes PlanesOf(AVPixelFormat format) {
  Planes p;
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  p.count = av_pix_fmt_count_planes(format);
  av_image_fill_max_pixsteps(p.steps, nullptr, d);
  p.hsub = d->log2_chroma_w;
  p.vsub = d->log2_chroma_h;
  return p;
}

int PlaneSize(int size, int plane, int shift) { return plane == 1 || plane == 2 ? AV_CEIL_RSHIFT(size, shift) : size; }

void CopyColourFacts(const AVFrame* from, AVFrame* to) {
  to->color_range = from->color_range;
  to->colorspace = from->colorspace;
  to->color_primaries = from->color_primaries;
  to->color_trc = from->color_trc;
  to->chroma_location = from->chroma_location;
}

}  // namespace

bool IsOrientation(int64_t value) { return value >= 1 && value <= 8; }

bool SwapsSides(int32_t orientation) { return orientation >= 5 && orientation <= 8; }

PictureOrienter::PictureOrienter(int32_t orientation) : orientation_(IsOrientation(orientation) ? orientation : 1) {}

PictureOrienter::~PictureOrienter() {
  av_frame_free(&converted_);
  av_frame_free(&turned_);
  av_frame_free(&view_);
  sws_freeContext(sws_);
}

bool PictureOrienter::Takes(AVPixelFormat format) const {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  return d && OperationTakes(OperationOf(orientation_), d);
}

// The best of the formats the operation takes, as libavfilter picks one for
// a conversion it inserts: every format in the list order, each weighed
// against the source by av_find_best_pix_fmt_of_2.
AVPixelFormat PictureOrienter::WorkingFormat(AVPixelFormat format) const {
  Operation op = OperationOf(orientation_);
  const AVPixFmtDescriptor* source = av_pix_fmt_desc_get(format);
  if (!source || OperationTakes(op, source)) return format;
  int has_alpha = source->nb_components % 2 == 0;
  AVPixelFormat best = AV_PIX_FMT_NONE;
  for (const AVPixFmtDescriptor* d = av_pix_fmt_desc_next(nullptr); d; d = av_pix_fmt_desc_next(d)) {
    AVPixelFormat candidate = av_pix_fmt_desc_get_id(d);
    if (!OperationTakes(op, d) || !(sws_isSupportedOutput(candidate) || sws_isSupportedEndiannessConversion(candidate)))
      continue;
    best = av_find_best_pix_fmt_of_2(best, candidate, format, has_alpha, nullptr);
  }
  return best;
}

void PictureOrienter::Shape(const AVFrame* frame, AVPixelFormat* format, int* width, int* height) const {
  auto source = static_cast<AVPixelFormat>(frame->format);
  *format = Upright() ? source : WorkingFormat(source);
  bool swap = SwapsSides(orientation_);
  *width = swap ? frame->height : frame->width;
  *height = swap ? frame->width : frame->height;
}

bool PictureOrienter::Allocate(AVFrame** frame, AVPixelFormat format, int width, int height) {
  if (*frame && (*frame)->format == format && (*frame)->width == width && (*frame)->height == height &&
      av_frame_is_writable(*frame))
    return true;
  av_frame_free(frame);
  *frame = av_frame_alloc();
  if (!*frame) return false;
  (*frame)->format = format;
  (*frame)->width = width;
  (*frame)->height = height;
  if (av_frame_get_buffer(*frame, 0) < 0) {
    av_frame_free(frame);
    return false;
  }
  return true;
}

const AVFrame* PictureOrienter::Convert(const AVFrame* frame, AVPixelFormat format, int sws_flags) {
  int key[5] = {frame->format, frame->width, frame->height, format, sws_flags};
  if (memcmp(key, sws_key_, sizeof(key)) != 0) {
    sws_freeContext(sws_);
    memset(sws_key_, -1, sizeof(sws_key_));
    sws_ = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
                          frame->height, format, sws_flags, nullptr, nullptr, nullptr);
    if (!sws_) return nullptr;
    memcpy(sws_key_, key, sizeof(key));
  }
  if (!Allocate(&converted_, format, frame->width, frame->height)) return nullptr;
  if (sws_scale(sws_, frame->data, frame->linesize, 0, frame->height, converted_->data, converted_->linesize) <= 0)
    return nullptr;
  CopyColourFacts(frame, converted_);
  return converted_;
}

void PictureOrienter::Forget() {
  if (view_) av_frame_unref(view_);
}

const AVFrame* PictureOrienter::Orient(const AVFrame* frame, int sws_flags) {
  if (Upright()) return frame;
  auto format = static_cast<AVPixelFormat>(frame->format);
  AVPixelFormat working = WorkingFormat(format);
  if (working == AV_PIX_FMT_NONE) return nullptr;
  if (working != format) {
    frame = Convert(frame, working, sws_flags);
    if (!frame) return nullptr;
  }
  const Planes planes = PlanesOf(working);
  const Operation op = OperationOf(orientation_);

  if (op == kMirror || op == kMirrorAndFlip) {
    if (!Allocate(&turned_, working, frame->width, frame->height)) return nullptr;
    for (int p = 0; p < planes.count; ++p) {
      int width = PlaneSize(frame->width, p, planes.hsub), height = PlaneSize(frame->height, p, planes.vsub);
      for (int y = 0; y < height; ++y)
        MirrorRow(frame->data[p] + static_cast<ptrdiff_t>(y) * frame->linesize[p],
                  turned_->data[p] + static_cast<ptrdiff_t>(y) * turned_->linesize[p], width, planes.steps[p]);
    }
    CopyColourFacts(frame, turned_);
    if (op == kMirror) return turned_;
    frame = turned_;
  }

  if (op == kFlip || op == kMirrorAndFlip) {
    // Upside down without a copy: each plane from its last row up.
    if (!view_ && !(view_ = av_frame_alloc())) return nullptr;
    av_frame_unref(view_);
    if (av_frame_ref(view_, frame) < 0) return nullptr;
    for (int p = 0; p < planes.count; ++p) {
      int height = PlaneSize(frame->height, p, planes.vsub);
      view_->data[p] += static_cast<ptrdiff_t>(height - 1) * view_->linesize[p];
      view_->linesize[p] = -view_->linesize[p];
    }
    return view_;
  }

  // Transposed: dst[y][x] = src[x][y], the source read bottom-up and the
  // rows written bottom-up as the direction says.
  if (!Allocate(&turned_, working, frame->height, frame->width)) return nullptr;
  const int direction = DirectionOf(orientation_);
  for (int p = 0; p < planes.count; ++p) {
    int in_height = PlaneSize(frame->height, p, planes.vsub);
    int out_width = PlaneSize(turned_->width, p, planes.hsub), out_height = PlaneSize(turned_->height, p, planes.vsub);
    PlaneView src = {frame->data[p], frame->linesize[p]};
    PlaneView dst = {turned_->data[p], turned_->linesize[p]};
    if (direction & 1) {
      src.data += (in_height - 1) * src.stride;
      src.stride = -src.stride;
    }
    if (direction & 2) {
      dst.data += (out_height - 1) * dst.stride;
      dst.stride = -dst.stride;
    }
    if (!TransposePlane(planes.steps[p], src, dst, out_width, out_height)) return nullptr;
  }
  CopyColourFacts(frame, turned_);
  return turned_;
}

}  // namespace qtm
