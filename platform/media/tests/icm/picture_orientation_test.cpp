// Pictures turned and mirrored against libavfilter's transpose, hflip and
// vflip (the filters the ffmpeg tool's autorotation inserts), on pictures
// of noise in the layouts decoders give: 8 and 10 bits, 4:2:0, 4:2:2 (which
// libavfilter converts before a transposition), 4:4:4 with alpha, packed
// RGB, odd sizes and sizes with and without whole 8-pixel blocks.
#include "icm/picture_orientation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace qtm {
namespace {

AVFrame* NoisePicture(AVPixelFormat format, int width, int height, std::mt19937* random) {
  AVFrame* frame = av_frame_alloc();
  frame->format = format;
  frame->width = width;
  frame->height = height;
  EXPECT_EQ(av_frame_get_buffer(frame, 0), 0);
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int p = 0; p < av_pix_fmt_count_planes(format); ++p) {
    int rows = p == 1 || p == 2 ? AV_CEIL_RSHIFT(height, d->log2_chroma_h) : height;
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < frame->linesize[p]; ++x)
        frame->data[p][y * frame->linesize[p] + x] = static_cast<uint8_t>(byte(*random));
  }
  // Samples above 10 bits are out of range for the converters.
  if (d->comp[0].depth == 10) {
    for (int p = 0; p < av_pix_fmt_count_planes(format); ++p) {
      int rows = p == 1 || p == 2 ? AV_CEIL_RSHIFT(height, d->log2_chroma_h) : height;
      for (int y = 0; y < rows; ++y) {
        auto* row = reinterpret_cast<uint16_t*>(frame->data[p] + y * frame->linesize[p]);
        for (int x = 0; x < frame->linesize[p] / 2; ++x) row[x] &= 0x3FF;
      }
    }
  }
  return frame;
}

// What libavfilter's chain for an orientation makes of frame, with the
// scaler flags of a conversion it inserts.
AVFrame* FilteredBy(const char* chain, const AVFrame* frame, const char* sws_flags) {
  AVFilterGraph* graph = avfilter_graph_alloc();
  graph->nb_threads = 1;
  graph->scale_sws_opts = av_strdup(sws_flags);
  char args[256];
  snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=1/25:pixel_aspect=1/1", frame->width,
           frame->height, frame->format);
  AVFilterContext *source = nullptr, *sink = nullptr;
  EXPECT_GE(avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "in", args, nullptr, graph), 0);
  EXPECT_GE(avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr, graph), 0);
  AVFilterInOut* outputs = avfilter_inout_alloc();
  AVFilterInOut* inputs = avfilter_inout_alloc();
  outputs->name = av_strdup("in");
  outputs->filter_ctx = source;
  inputs->name = av_strdup("out");
  inputs->filter_ctx = sink;
  EXPECT_GE(avfilter_graph_parse_ptr(graph, chain, &inputs, &outputs, nullptr), 0);
  avfilter_inout_free(&inputs);
  avfilter_inout_free(&outputs);
  EXPECT_GE(avfilter_graph_config(graph, nullptr), 0);
  AVFrame* in = av_frame_clone(frame);
  EXPECT_GE(av_buffersrc_add_frame(source, in), 0);
  av_frame_free(&in);
  AVFrame* out = av_frame_alloc();
  EXPECT_GE(av_buffersink_get_frame(sink, out), 0);
  avfilter_graph_free(&graph);
  return out;
}

// Bytes of the picture's planes, rows tight.
std::vector<uint8_t> PlaneBytes(const AVFrame* frame) {
  auto format = static_cast<AVPixelFormat>(frame->format);
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  std::vector<uint8_t> bytes;
  int line_sizes[4] = {};
  av_image_fill_linesizes(line_sizes, format, frame->width);
  for (int p = 0; p < av_pix_fmt_count_planes(format); ++p) {
    int rows = p == 1 || p == 2 ? AV_CEIL_RSHIFT(frame->height, d->log2_chroma_h) : frame->height;
    for (int y = 0; y < rows; ++y) {
      const uint8_t* row = frame->data[p] + static_cast<ptrdiff_t>(y) * frame->linesize[p];
      bytes.insert(bytes.end(), row, row + line_sizes[p]);
    }
  }
  return bytes;
}

TEST(PictureOrienter, EveryOrientationAsLibavfiltersFilters) {
  // The filters ffmpeg's autorotation inserts for each orientation.
  const char* const kChains[] = {nullptr,           "null",
                                 "hflip",           "hflip,vflip",
                                 "vflip",           "transpose=cclock_flip",
                                 "transpose=clock", "transpose=clock_flip",
                                 "transpose=cclock"};
  const AVPixelFormat kFormats[] = {AV_PIX_FMT_YUV420P,      AV_PIX_FMT_YUVJ420P,    AV_PIX_FMT_YUV420P10LE,
                                    AV_PIX_FMT_YUV422P,      AV_PIX_FMT_YUV422P10LE, AV_PIX_FMT_YUV444P,
                                    AV_PIX_FMT_YUVA444P10LE, AV_PIX_FMT_RGB24,       AV_PIX_FMT_BGRA,
                                    AV_PIX_FMT_UYVY422,      AV_PIX_FMT_GRAY8};
  const std::pair<int, int> kSizes[] = {{100, 60}, {99, 61}, {16, 8}, {7, 3}, {1, 1}, {64, 130}};
  std::mt19937 random(24);
  for (AVPixelFormat format : kFormats) {
    for (auto [width, height] : kSizes) {
      const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
      if ((width & ((1 << d->log2_chroma_w) - 1)) && d->comp[0].plane == d->comp[1].plane) continue;  // packed
      AVFrame* frame = NoisePicture(format, width, height, &random);
      for (int orientation = 2; orientation <= 8; ++orientation) {
        for (const char* flags : {"flags=neighbor", "flags=bicubic"}) {
          SCOPED_TRACE(testing::Message() << av_get_pix_fmt_name(format) << " " << width << "x" << height << " "
                                          << kChains[orientation] << " " << flags);
          AVFrame* expected = FilteredBy(kChains[orientation], frame, flags);
          PictureOrienter orienter(orientation);
          AVPixelFormat shape_format = AV_PIX_FMT_NONE;
          int shape_width = 0, shape_height = 0;
          orienter.Shape(frame, &shape_format, &shape_width, &shape_height);
          const AVFrame* got = orienter.Orient(frame, strstr(flags, "neighbor") ? SWS_POINT : SWS_BICUBIC);
          ASSERT_NE(got, nullptr);
          EXPECT_EQ(got->format, expected->format);
          EXPECT_EQ(shape_format, expected->format);
          EXPECT_EQ(got->width, expected->width);
          EXPECT_EQ(got->height, expected->height);
          EXPECT_EQ(shape_width, expected->width);
          EXPECT_EQ(shape_height, expected->height);
          if (got->format == expected->format && got->width == expected->width && got->height == expected->height)
            EXPECT_TRUE(PlaneBytes(got) == PlaneBytes(expected));
          orienter.Forget();
          av_frame_free(&expected);
        }
      }
      av_frame_free(&frame);
    }
  }
}

TEST(PictureOrienter, QuarterTurnsInBandsAreTheWholeTurnsRows) {
  std::mt19937 random(5);
  const std::pair<int, int> kSizes[] = {{100, 60}, {64, 130}, {16, 8}, {2, 2}, {38, 22}};
  for (auto [width, height] : kSizes) {
    AVFrame* frame = NoisePicture(AV_PIX_FMT_YUV420P, width, height, &random);
    for (int orientation = 5; orientation <= 8; ++orientation) {
      PictureOrienter orienter(orientation);
      ASSERT_TRUE(orienter.TurnsInBands(frame));
      const AVFrame* whole = orienter.Orient(frame, SWS_POINT);
      ASSERT_NE(whole, nullptr);
      // Bands of 16 rows with a shorter last one, and of 2.
      for (int band_rows : {16, 2}) {
        SCOPED_TRACE(testing::Message() << width << "x" << height << " orientation " << orientation << " bands of "
                                        << band_rows);
        const int up_width = height, up_height = width;
        std::vector<uint8_t> planes[3] = {std::vector<uint8_t>(band_rows * up_width),
                                          std::vector<uint8_t>(band_rows / 2 * up_width / 2),
                                          std::vector<uint8_t>(band_rows / 2 * up_width / 2)};
        uint8_t* const band[3] = {planes[0].data(), planes[1].data(), planes[2].data()};
        const int strides[3] = {up_width, up_width / 2, up_width / 2};
        bool same = true;
        for (int first = 0; first < up_height; first += band_rows) {
          int rows = std::min(band_rows, up_height - first);
          orienter.OrientBand(frame, first, rows, band, strides);
          for (int p = 0; p < 3; ++p) {
            int shift = p == 0 ? 0 : 1;
            for (int y = 0; y < rows >> shift; ++y)
              same &= memcmp(band[p] + y * strides[p],
                             whole->data[p] + static_cast<ptrdiff_t>((first >> shift) + y) * whole->linesize[p],
                             up_width >> shift) == 0;
          }
        }
        EXPECT_TRUE(same);
      }
      orienter.Forget();
    }
    // Odd sizes, mirrors and other layouts are turned whole.
    EXPECT_FALSE(PictureOrienter(2).TurnsInBands(frame));
    av_frame_free(&frame);
  }
  AVFrame* odd = NoisePicture(AV_PIX_FMT_YUV420P, 99, 60, &random);
  AVFrame* ten = NoisePicture(AV_PIX_FMT_YUV420P10LE, 100, 60, &random);
  EXPECT_FALSE(PictureOrienter(6).TurnsInBands(odd));
  EXPECT_FALSE(PictureOrienter(6).TurnsInBands(ten));
  av_frame_free(&odd);
  av_frame_free(&ten);
}

TEST(PictureOrienter, UprightIsThePictureItself) {
  std::mt19937 random(1);
  AVFrame* frame = NoisePicture(AV_PIX_FMT_YUV420P, 32, 16, &random);
  PictureOrienter upright(1), out_of_range(9);
  EXPECT_EQ(upright.Orient(frame, SWS_POINT), frame);
  EXPECT_EQ(out_of_range.Orient(frame, SWS_POINT), frame);
  EXPECT_FALSE(SwapsSides(4));
  EXPECT_TRUE(SwapsSides(5));
  EXPECT_TRUE(SwapsSides(8));
  EXPECT_FALSE(IsOrientation(0));
  EXPECT_FALSE(IsOrientation(9));
  av_frame_free(&frame);
}

}  // namespace
}  // namespace qtm
