// The decoder set-up read from an image description's extension atoms.
#include "icm/codec_setup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "movie_writer.h"

namespace {

using testmovie::Bytes;

// A 'jpeg' description of 64 x 48 followed by the atoms.
Bytes Description(const Bytes& atoms) {
  ImageDescription d{};
  d.cType = 0x6A706567;  // 'jpeg'
  d.width = 64;
  d.height = 48;
  d.depth = 24;
  Bytes out(sizeof d);
  memcpy(out.data(), &d, sizeof d);
  testmovie::Append(out, atoms);
  reinterpret_cast<ImageDescription*>(out.data())->idSize = static_cast<int32_t>(out.size());
  return out;
}

Bytes Colr(const char* kind, uint16_t primaries, uint16_t transfer, uint16_t matrix, int full_range = -1) {
  Bytes b;
  testmovie::PutType(b, kind);
  testmovie::Put16(b, primaries);
  testmovie::Put16(b, transfer);
  testmovie::Put16(b, matrix);
  if (full_range >= 0) testmovie::Put8(b, full_range ? 0x80 : 0);
  return testmovie::Atom("colr", b);
}

// Code points libavutil knows are taken as they are; any other 16-bit
// number a file holds (gaps, values past the last) is unspecified.
TEST(CodecSetup, ColourCodePointsOnlyAsLibavutilKnowsThem) {
  qtm::CodecSetup setup;
  Bytes d = Description(Colr("nclx", 9, 16, 9, 1));
  ASSERT_EQ(qtm::ParseImageDescription(d.data(), d.size(), &setup), noErr);
  EXPECT_EQ(setup.primaries, AVCOL_PRI_BT2020);
  EXPECT_EQ(setup.transfer, AVCOL_TRC_SMPTE2084);
  EXPECT_EQ(setup.colorspace, AVCOL_SPC_BT2020_NCL);
  EXPECT_EQ(setup.range, AVCOL_RANGE_JPEG);

  d = Description(Colr("nclc", 13, 1, 1));  // primaries 13 to 21 are not assigned
  ASSERT_EQ(qtm::ParseImageDescription(d.data(), d.size(), &setup), noErr);
  EXPECT_EQ(setup.primaries, AVCOL_PRI_UNSPECIFIED);
  EXPECT_EQ(setup.transfer, AVCOL_TRC_BT709);
  for (uint16_t unknown : {uint16_t{200}, uint16_t{896}, uint16_t{0xFFFF}}) {
    SCOPED_TRACE(unknown);
    d = Description(Colr("nclc", unknown, unknown, unknown));
    setup = qtm::CodecSetup();
    ASSERT_EQ(qtm::ParseImageDescription(d.data(), d.size(), &setup), noErr);
    EXPECT_EQ(setup.primaries, AVCOL_PRI_UNSPECIFIED);
    EXPECT_EQ(setup.transfer, AVCOL_TRC_UNSPECIFIED);
    EXPECT_EQ(setup.colorspace, AVCOL_SPC_UNSPECIFIED);
  }
}

}  // namespace
