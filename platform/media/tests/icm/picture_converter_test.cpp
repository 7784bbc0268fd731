// The converter's own paths (interleaving alone at normal quality, 8 and 10
// bits, two steps to UYVY at high quality) against libswscale's one-step
// conversion with the
// flags the ffmpeg tool uses for the same quality, on pictures of noise (no
// smooth content to hide a rounding difference) and widths with and without
// a whole number of 16-pixel blocks.
#include "icm/picture_converter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "icm/pixel_buffer.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace qtm {
namespace {

AVFrame* NoisePicture(int width, int height, AVPixelFormat format, std::mt19937* random) {
  AVFrame* frame = av_frame_alloc();
  frame->format = format;
  frame->width = width;
  frame->height = height;
  EXPECT_EQ(av_frame_get_buffer(frame, 0), 0);
  std::uniform_int_distribution<int> byte(0, 255);
  int chroma_height = (height + 1) / 2;
  // 10-bit samples: two bytes, the top six bits clear.
  const bool ten_bits = format == AV_PIX_FMT_YUV420P10LE;
  for (int plane = 0; plane < 3; ++plane) {
    int rows = plane == 0 ? height : chroma_height;
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < frame->linesize[plane]; ++x)
        frame->data[plane][y * frame->linesize[plane] + x] =
            static_cast<uint8_t>(byte(*random) & (ten_bits && x % 2 ? 3 : 255));
  }
  return frame;
}

// libswscale in one step, tight rows.
std::vector<uint8_t> Oracle(const AVFrame* frame, AVPixelFormat out, int flags) {
  SwsContext* sws = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
                                   frame->height, out, flags, nullptr, nullptr, nullptr);
  EXPECT_NE(sws, nullptr);
  int row = frame->width * (out == AV_PIX_FMT_BGRA ? 4 : 2);
  // swscale's vector stores may run past a row's end: room after the last.
  std::vector<uint8_t> bytes(static_cast<size_t>(row) * frame->height + 4096);
  uint8_t* dst[4] = {bytes.data(), nullptr, nullptr, nullptr};
  int stride[4] = {row, 0, 0, 0};
  const int* coefficients = sws_getCoefficients(frame->height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601);
  sws_setColorspaceDetails(sws, coefficients, 0, coefficients, 0, 0, 1 << 16, 1 << 16);
  sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, stride);
  sws_freeContext(sws);
  bytes.resize(static_cast<size_t>(row) * frame->height);
  return bytes;
}

std::vector<uint8_t> Converted(const AVFrame* frame, OSType format, int32_t accuracy) {
  PictureConverter converter(format, frame->width, frame->height, CodecSetup{});
  QtmPixelBuffer* out = NewPixelBuffer(format, frame->width, frame->height);
  EXPECT_NE(out, nullptr);
  ConversionSettings settings;
  settings.accuracy = accuracy;
  EXPECT_TRUE(converter.Convert(frame, settings, out));
  size_t row = static_cast<size_t>(frame->width) * PackedBytesPerPixel(format);
  std::vector<uint8_t> bytes;
  for (int y = 0; y < frame->height; ++y)
    bytes.insert(bytes.end(), out->data + y * out->bytes_per_row, out->data + y * out->bytes_per_row + row);
  ReleasePixelBuffer(out);
  return bytes;
}

TEST(PictureConverter, NoisePicturesConvertAsSwscaleInOneStep) {
  std::mt19937 random(16);
  struct Case {
    OSType format;
    AVPixelFormat av;
    int32_t accuracy;
    int flags;
  };
  const Case cases[] = {
      {k2vuyPixelFormat, AV_PIX_FMT_UYVY422, codecNormalQuality, SWS_POINT},
      {kYUVSPixelFormat, AV_PIX_FMT_YUYV422, codecNormalQuality, SWS_POINT},
      {k2vuyPixelFormat, AV_PIX_FMT_UYVY422, codecHighQuality, SWS_BICUBIC},
      {k2vuyPixelFormat, AV_PIX_FMT_UYVY422, codecMaxQuality, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_BITEXACT},
  };
  std::vector<std::pair<int, int>> sizes = {{854, 480}, {1920, 1080}};
  for (int height = 1; height <= 40; ++height) {
    sizes.push_back({36, height});  // two 16-pixel blocks and a tail
    sizes.push_back({35, height});  // odd: the scaler's own way
  }
  for (auto [width, height] : sizes) {
    for (AVPixelFormat source : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P10LE}) {
      AVFrame* frame = NoisePicture(width, height, source, &random);
      for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << av_get_pix_fmt_name(source) << " " << width << "x" << height << " accuracy "
                                        << c.accuracy << " " << av_get_pix_fmt_name(c.av));
        std::vector<uint8_t> expected = Oracle(frame, c.av, c.flags);
        std::vector<uint8_t> got = Converted(frame, c.format, c.accuracy);
        ASSERT_EQ(got.size(), expected.size());
        size_t differ = 0;
        for (size_t i = 0; i < got.size(); ++i) differ += got[i] != expected[i];
        EXPECT_EQ(differ, 0u);
      }
      av_frame_free(&frame);
    }
  }
}

}  // namespace
}  // namespace qtm
