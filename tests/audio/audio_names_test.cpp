// The two display-name tables and the output layout chosen per channel count.
#include <gtest/gtest.h>

#include "audio/audio_extractor.h"

namespace kestrel {
namespace {

constexpr OSType Code(const char (&s)[5]) {
  return (OSType(uint8_t(s[0])) << 24) | (OSType(uint8_t(s[1])) << 16) | (OSType(uint8_t(s[2])) << 8) | uint8_t(s[3]);
}

TEST(AudioNames, FormatNamesByIdentifier) {
  EXPECT_STREQ(AudioFormatNameOf(Code("aac ")), L"MPEG-4 Low Complexity AAC");
  EXPECT_STREQ(AudioFormatNameOf(Code("aac_")), L"Unknown");
  EXPECT_STREQ(AudioFormatNameOf(Code("apvs")), L"Float32");
  EXPECT_STREQ(AudioFormatNameOf(Code("ulaw")), L"\u00B5Law 2:1");
  EXPECT_STREQ(AudioFormatNameOf(Code(".mp3")), L"MPEG-1/2, Layer 3");
  EXPECT_STREQ(AudioFormatNameOf(Code("aacp")), L"MPEG-4 High Efficiency AAC Version 2");
  EXPECT_STREQ(AudioFormatNameOf(Code("twvq")), L"MPEG-4 TwinVQ");
  EXPECT_STREQ(AudioFormatNameOf(Code("sowt")), L"Unknown");
}

TEST(AudioNames, TheFormatsOfTodaysFilesHaveNames) {
  EXPECT_STREQ(AudioFormatNameOf(Code("ec-3")), L"Enhanced AC-3");
  EXPECT_STREQ(AudioFormatNameOf(Code("flac")), L"Free Lossless Audio Codec");
  EXPECT_STREQ(AudioFormatNameOf(Code("opus")), L"Opus");
}

// The depth the pin delivers: PCM and the lossless formats at their own,
// every other compressed format at 16 bits.
TEST(AudioNames, OutputDepthPerFormat) {
  EXPECT_EQ(OutputBits(Code("lpcm"), 24, 16), 24u);
  EXPECT_EQ(OutputBits(Code("lpcm"), 8, 8), 8u);
  EXPECT_EQ(OutputBits(Code("lpcm"), 64, 16), 32u);  // 64-bit float
  EXPECT_EQ(OutputBits(Code("lpcm"), 20, 16), 24u);
  EXPECT_EQ(OutputBits(Code("alac"), 24, 16), 24u);
  EXPECT_EQ(OutputBits(Code("alac"), 0, 24), 24u);  // stated by the sample size only
  EXPECT_EQ(OutputBits(Code("flac"), 16, 24), 16u);
  EXPECT_EQ(OutputBits(Code("ac-3"), 0, 24), 16u);
  EXPECT_EQ(OutputBits(Code("aac "), 0, 16), 16u);
  EXPECT_EQ(OutputBits(Code("ulaw"), 0, 8), 16u);
  EXPECT_EQ(OutputBits(0, 0, 0), 16u);
}

TEST(AudioNames, LayoutNamesByTag) {
  EXPECT_STREQ(ChannelLayoutNameOf(0x640001), L"Mono");
  EXPECT_STREQ(ChannelLayoutNameOf(0x660002), L"Stereo (L R)");
  EXPECT_STREQ(ChannelLayoutNameOf(0x6F0008),
               L"Octagonal (front left, front right, rear left, rear right, front center, rear center, side left, "
               L"side right)");
  EXPECT_STREQ(ChannelLayoutNameOf(0x8E0007), L"6.1 (C L R Ls Rs Cs Lfe)");
  EXPECT_STREQ(ChannelLayoutNameOf(0x900008), L"Octagonal (C L R Ls Rs Rls Rrs Cs)");
  // Bitmap, descriptions, unknown: no name.
  EXPECT_STREQ(ChannelLayoutNameOf(0x10000), L"Unknown");
  EXPECT_STREQ(ChannelLayoutNameOf(0), L"Unknown");
  EXPECT_STREQ(ChannelLayoutNameOf(0xFFFF0002), L"Unknown");
}

TEST(AudioNames, EveryCountUpToEightGetsItsWaveOrderLayout) {
  const AudioChannelLayoutTag expected[] = {0,        0x640001, 0x650002, 0x710003, 0x6C0004,
                                            0x750005, 0x790006, 0x7D0007, 0x800008, 0};
  for (uint32_t n = 0; n <= 9; ++n) EXPECT_EQ(WaveOrderLayoutTag(n), expected[n]) << n;
  EXPECT_STREQ(ChannelLayoutNameOf(WaveOrderLayoutTag(8)), L"7.1 (L R C LFE Ls Rs Rls Rrs)");
}

}  // namespace
}  // namespace kestrel
