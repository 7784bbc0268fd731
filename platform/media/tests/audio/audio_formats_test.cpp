// Sound description stream formats and Core Audio channel layouts.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "audio/channel_layout.h"
#include "audio/sound_description.h"
#include "qtmedia.h"

namespace qtm {
namespace {

constexpr OSType Code(const char (&s)[5]) {
  return (OSType(uint8_t(s[0])) << 24) | (OSType(uint8_t(s[1])) << 16) | (OSType(uint8_t(s[2])) << 8) | uint8_t(s[3]);
}

std::vector<uint8_t> Description(OSType format, int16_t version, int16_t channels, int16_t bits, uint32_t rate) {
  std::vector<uint8_t> d(version == 1 ? sizeof(SoundDescriptionV1) : sizeof(SoundDescription));
  SoundDescription s{};
  s.descSize = static_cast<int32_t>(d.size());
  s.dataFormat = format;
  s.version = version;
  s.numChannels = channels;
  s.sampleSize = bits;
  s.sampleRate = rate << 16;
  memcpy(d.data(), &s, sizeof s);
  return d;
}

void AppendAtom(std::vector<uint8_t>* d, const char (&type)[5], const std::vector<uint8_t>& payload) {
  uint32_t size = static_cast<uint32_t>(8 + payload.size());
  uint8_t head[8] = {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size),
                     uint8_t(type[0]),    uint8_t(type[1]),    uint8_t(type[2]),   uint8_t(type[3])};
  d->insert(d->end(), head, head + 8);
  d->insert(d->end(), payload.begin(), payload.end());
  int32_t total = static_cast<int32_t>(d->size());
  memcpy(d->data(), &total, 4);
}

AudioStreamBasicDescription Asbd(const std::vector<uint8_t>& d) {
  AudioStreamBasicDescription f{};
  std::vector<uint8_t> copy = d;
  Ptr p = reinterpret_cast<Ptr>(copy.data());
  SoundDescriptionHandle h = reinterpret_cast<SoundDescriptionHandle>(&p);
  ByteCount used = 0;
  EXPECT_EQ(
      QTSoundDescriptionGetProperty(h, kQTPropertyClass_SoundDescription,
                                    kQTSoundDescriptionPropertyID_AudioStreamBasicDescription, sizeof f, &f, &used),
      noErr);
  EXPECT_EQ(used, 40u);
  return f;
}

TEST(SoundDescription, UncompressedCodesAreLinearPcmWithTheirDepth) {
  AudioStreamBasicDescription f = Asbd(Description(Code("sowt"), 0, 2, 16, 44100));
  EXPECT_EQ(f.mFormatID, Code("lpcm"));
  EXPECT_EQ(f.mSampleRate, 44100.0);
  EXPECT_EQ(f.mChannelsPerFrame, 2u);
  EXPECT_EQ(f.mBitsPerChannel, 16u);
  EXPECT_EQ(f.mFormatFlags, 0xCu);
  EXPECT_EQ(f.mBytesPerFrame, 4u);
  f = Asbd(Description(Code("twos"), 0, 1, 16, 22050));
  EXPECT_EQ(f.mFormatFlags, 0xEu);  // big-endian signed packed
  f = Asbd(Description(Code("in24"), 1, 2, 16, 48000));
  EXPECT_EQ(f.mBitsPerChannel, 24u);
  f = Asbd(Description(Code("raw "), 0, 1, 8, 11025));
  EXPECT_EQ(f.mBitsPerChannel, 8u);
  EXPECT_EQ(f.mFormatFlags, 0x8u);  // unsigned
}

TEST(SoundDescription, CompressedFormatsHaveNoBitDepthAndTheirKind) {
  std::vector<uint8_t> aac = Description(Code("mp4a"), 0, 2, 16, 44100);
  AudioStreamBasicDescription f = Asbd(aac);
  EXPECT_EQ(f.mFormatID, Code("aac "));
  EXPECT_EQ(f.mBitsPerChannel, 0u);
  EXPECT_EQ(f.mFramesPerPacket, 1024u);
  // An esds naming object type 5 (SBR): high efficiency.
  std::vector<uint8_t> he = aac;
  AppendAtom(&he, "esds", {0, 0, 0, 0, 0x03, 0x19, 0, 1, 0, 0x04, 0x11, 0x40, 0x15, 0,
                           0, 0, 0, 0, 0,    0,    0, 0, 0, 0,    0x05, 0x02, 0x2B, 0x92});
  EXPECT_EQ(Asbd(he).mFormatID, Code("aach"));
  EXPECT_EQ(Asbd(Description(Code("alac"), 0, 2, 16, 44100)).mFormatID, Code("alac"));
  EXPECT_EQ(Asbd(Description(Code("alac"), 0, 2, 16, 44100)).mBitsPerChannel, 0u);
  EXPECT_EQ(Asbd(Description(0x6D730055, 0, 2, 16, 44100)).mFormatID, Code(".mp3"));
  EXPECT_EQ(Asbd(Description(Code("ima4"), 1, 1, 16, 22050)).mFormatID, Code("ima4"));
}

TEST(SoundDescription, VersionTwoCarriesRateAndChannelsOfItsOwn) {
  std::vector<uint8_t> d(72);
  SoundDescription s{};
  s.descSize = 72;
  s.dataFormat = Code("lpcm");
  s.version = 2;
  memcpy(d.data(), &s, sizeof s);
  double rate = 96000;
  uint32_t channels = 6, bits = 24, flags = 0xC;
  memcpy(&d[40], &rate, 8);
  memcpy(&d[48], &channels, 4);
  memcpy(&d[56], &bits, 4);
  memcpy(&d[60], &flags, 4);
  AudioStreamBasicDescription f = Asbd(d);
  EXPECT_EQ(f.mSampleRate, 96000.0);
  EXPECT_EQ(f.mChannelsPerFrame, 6u);
  EXPECT_EQ(f.mBitsPerChannel, 24u);
  EXPECT_EQ(f.mBytesPerFrame, 18u);
}

TEST(SoundDescription, BadCallsAreRefused) {
  AudioStreamBasicDescription f{};
  EXPECT_EQ(QTSoundDescriptionGetProperty(nullptr, kQTPropertyClass_SoundDescription,
                                          kQTSoundDescriptionPropertyID_AudioStreamBasicDescription, 40, &f, nullptr),
            paramErr);
  std::vector<uint8_t> d = Description(Code("sowt"), 0, 2, 16, 44100);
  Ptr p = reinterpret_cast<Ptr>(d.data());
  SoundDescriptionHandle h = reinterpret_cast<SoundDescriptionHandle>(&p);
  EXPECT_EQ(QTSoundDescriptionGetProperty(h, kQTPropertyClass_SoundDescription,
                                          kQTSoundDescriptionPropertyID_AudioStreamBasicDescription, 39, &f, nullptr),
            kQTPropertyBadValueSizeErr);
  EXPECT_EQ(QTSoundDescriptionGetProperty(h, Code("xaud"), Code("asbd"), 40, &f, nullptr), kQTPropertyNotSupportedErr);
}

std::vector<AVChannel> Channels(AudioChannelLayoutTag tag, uint64_t source_mask) {
  AVChannelLayout source{};
  av_channel_layout_from_mask(&source, source_mask);
  CoreAudioLayout layout;
  layout.tag = tag;
  std::vector<AVChannel> out;
  EXPECT_TRUE(ChannelsOfLayout(layout, source, &out)) << std::hex << tag;
  return out;
}

TEST(ChannelLayout, WaveOrderTagsMapToWaveSpeakers) {
  using V = std::vector<AVChannel>;
  EXPECT_EQ(Channels(0x710003, AV_CH_LAYOUT_SURROUND),
            (V{AV_CHAN_FRONT_LEFT, AV_CHAN_FRONT_RIGHT, AV_CHAN_FRONT_CENTER}));
  EXPECT_EQ(Channels(0x6C0004, AV_CH_LAYOUT_QUAD),
            (V{AV_CHAN_FRONT_LEFT, AV_CHAN_FRONT_RIGHT, AV_CHAN_BACK_LEFT, AV_CHAN_BACK_RIGHT}));
  EXPECT_EQ(Channels(0x790006, AV_CH_LAYOUT_5POINT1_BACK),
            (V{AV_CHAN_FRONT_LEFT, AV_CHAN_FRONT_RIGHT, AV_CHAN_FRONT_CENTER, AV_CHAN_LOW_FREQUENCY, AV_CHAN_BACK_LEFT,
               AV_CHAN_BACK_RIGHT}));
  // A source with side surrounds keeps them.
  EXPECT_EQ(Channels(0x790006, AV_CH_LAYOUT_5POINT1)[4], AV_CHAN_SIDE_LEFT);
  EXPECT_EQ(Channels(0x7D0007, AV_CH_LAYOUT_6POINT1_BACK)[6], AV_CHAN_BACK_CENTER);
  EXPECT_EQ(Channels(0x800008, AV_CH_LAYOUT_7POINT1),
            (V{AV_CHAN_FRONT_LEFT, AV_CHAN_FRONT_RIGHT, AV_CHAN_FRONT_CENTER, AV_CHAN_LOW_FREQUENCY, AV_CHAN_SIDE_LEFT,
               AV_CHAN_SIDE_RIGHT, AV_CHAN_BACK_LEFT, AV_CHAN_BACK_RIGHT}));
}

TEST(ChannelLayout, SourcesAreNamedByTagThenBitmapThenUnknown) {
  auto tag = [](uint64_t mask, AVCodecID codec) {
    AVChannelLayout l{};
    av_channel_layout_from_mask(&l, mask);
    return LayoutOfSource(l, codec);
  };
  EXPECT_EQ(tag(AV_CH_LAYOUT_MONO, AV_CODEC_ID_PCM_S16LE).tag, 0x640001u);
  EXPECT_EQ(tag(AV_CH_LAYOUT_STEREO, AV_CODEC_ID_AAC).tag, 0x650002u);
  EXPECT_EQ(tag(AV_CH_LAYOUT_5POINT1_BACK, AV_CODEC_ID_AAC).tag, 0x7C0006u);
  EXPECT_EQ(tag(AV_CH_LAYOUT_5POINT1_BACK, AV_CODEC_ID_PCM_S16LE).tag, 0x790006u);
  EXPECT_EQ(tag(AV_CH_LAYOUT_7POINT1_WIDE_BACK, AV_CODEC_ID_AAC).tag, 0x7F0008u);
  CoreAudioLayout odd = tag(AV_CH_FRONT_LEFT | AV_CH_LOW_FREQUENCY, AV_CODEC_ID_PCM_S16LE);
  EXPECT_EQ(odd.tag, static_cast<uint32_t>(kAudioChannelLayoutTag_UseChannelBitmap));
  EXPECT_EQ(odd.bitmap, 0x9u);
  AVChannelLayout unspec{};
  unspec.order = AV_CHANNEL_ORDER_UNSPEC;
  unspec.nb_channels = 9;
  EXPECT_EQ(LayoutOfSource(unspec, AV_CODEC_ID_PCM_S16LE).tag, 0xFFFF0009u);
}

TEST(ChannelLayout, RecordsRoundTrip) {
  CoreAudioLayout layout;
  layout.tag = kAudioChannelLayoutTag_UseChannelDescriptions;
  layout.labels = {2, 1, 3};
  std::vector<uint8_t> bytes(LayoutRecordSize(layout));
  EXPECT_EQ(bytes.size(), 12u + 3 * 20);
  WriteLayoutRecord(layout, bytes.data());
  CoreAudioLayout back;
  ASSERT_TRUE(ParseLayoutRecord(bytes.data(), bytes.size(), &back));
  EXPECT_EQ(back.labels, layout.labels);
  EXPECT_FALSE(ParseLayoutRecord(bytes.data(), bytes.size() - 1, &back));
  CoreAudioLayout tagged;
  tagged.tag = 0x650002;
  EXPECT_EQ(LayoutRecordSize(tagged), 32u);
}

}  // namespace
}  // namespace qtm
