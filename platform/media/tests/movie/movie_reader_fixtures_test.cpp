// The reader against ffprobe on every fixture movie: tracks, sizes, sample
// counts, time scales, durations, sync samples, codecs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "movie/movie_model.h"
#include "qtmedia.h"

extern "C" {
#include <libavutil/md5.h>
}

namespace {

struct ProbeStream {
  int index = 0;
  std::string type, tag;
  int width = 0, height = 0;
  uint32_t packets = 0;
  int64_t tb_num = 0, tb_den = 0;
  std::string duration_ts;
  uint32_t keys = 0;
};

std::string FixturePath(const std::string& name) {
  const char* dir = std::getenv("KESTREL_FIXTURES");
  return std::string(dir ? dir : "fixtures") + "/" + name;
}

std::vector<ProbeStream> ReadOracle(const std::string& name) {
  std::ifstream in(FixturePath(name + ".reader.txt"));
  std::vector<ProbeStream> out;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ss(line);
    ProbeStream s;
    std::string tb;
    ss >> s.index >> s.type >> s.tag >> s.width >> s.height >> s.packets >> tb >> s.duration_ts >> s.keys;
    size_t slash = tb.find('/');
    s.tb_num = std::atoll(tb.substr(0, slash).c_str());
    s.tb_den = std::atoll(tb.substr(slash + 1).c_str());
    out.push_back(s);
  }
  return out;
}

std::string FourCCText(uint32_t v) {
  std::string s;
  for (int i = 3; i >= 0; --i) {
    char c = static_cast<char>((v >> (8 * i)) & 0xFF);
    s += c == ' ' ? '_' : c;
  }
  return s;
}

class FixtureFacts : public ::testing::TestWithParam<const char*> {};

TEST_P(FixtureFacts, MatchFfprobe) {
  std::string name = GetParam();
  std::vector<ProbeStream> oracle = ReadOracle(name);
  ASSERT_FALSE(oracle.empty()) << "no oracle for " << name;
  std::unique_ptr<qtm::MovieModel> movie;
  qtm::OpenFailure failure;
  ASSERT_EQ(qtm::OpenMovieModel(FixturePath(name), &movie, &failure), noErr) << failure.reason;
  ASSERT_EQ(movie->tracks.size(), oracle.size());
  for (size_t i = 0; i < oracle.size(); ++i) {
    SCOPED_TRACE(name + " stream " + std::to_string(i));
    const ProbeStream& p = oracle[i];
    const qtm::TrackModel& t = *movie->tracks[i];
    EXPECT_EQ(t.media_type, p.type == "video" ? uint32_t(VideoMediaType) : uint32_t(SoundMediaType));
    ASSERT_TRUE(t.samples);
    EXPECT_EQ(t.samples->Count(), p.packets);
    EXPECT_EQ(t.samples->SyncCount(), p.keys);
    ASSERT_EQ(p.tb_num, 1);
    EXPECT_EQ(t.timescale, p.tb_den);
    // ffprobe gives the duration after a single edit that skips the start
    // (AAC priming); the media keeps those units. For raw ADTS it only
    // estimates from the bit rate: there every packet is 1024 frames.
    int64_t skipped =
        t.media_type == SoundMediaType && t.edits.size() == 1 && t.edits[0].media_time > 0 ? t.edits[0].media_time : 0;
    if (movie->format_name == "aac") {
      EXPECT_EQ(t.media_duration, int64_t{p.packets} * 1024 * (p.tb_den / 44100));
    } else if (p.duration_ts != "N/A") {
      EXPECT_EQ(t.media_duration - skipped, std::atoll(p.duration_ts.c_str()));
    }
    ASSERT_FALSE(t.descriptions.empty());
    const auto* head = reinterpret_cast<const SampleDescription*>(t.descriptions[0].data());
    EXPECT_EQ(head->descSize, static_cast<int32_t>(t.descriptions[0].size()));
    // Little-endian linear PCM is QuickTime's 'sowt'.
    std::string tag = p.tag == "lpcm" ? "sowt" : p.tag;
    if (tag.find('[') == std::string::npos) EXPECT_EQ(FourCCText(head->dataFormat), tag);
    if (p.type == "video") {
      ASSERT_GE(t.descriptions[0].size(), sizeof(ImageDescription));
      const auto* d = reinterpret_cast<const ImageDescription*>(t.descriptions[0].data());
      EXPECT_EQ(d->width, p.width);
      EXPECT_EQ(d->height, p.height);
      EXPECT_LE(d->name[0], 31);
    }
    // Every sample lies in the file, in decode order without gaps.
    qtm::SampleInfo s, prev;
    for (uint32_t k = 0; k < t.samples->Count(); ++k) {
      ASSERT_TRUE(t.samples->Get(k, &s));
      ASSERT_LE(s.offset + s.size, movie->source->Size());
      if (k > 0) ASSERT_EQ(s.decode_time, prev.decode_time + prev.duration);
      prev = s;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Movies, FixtureFacts,
                         ::testing::Values("h264_bframes.mov", "h264_bframes.mp4", "mpeg4.mp4", "mjpeg.mov",
                                           "prores.mov", "dv.dv", "dv.mov", "raw2vuy.mov", "h263.3gp", "frames250.mov",
                                           "audio.m4a", "audio16.aif", "audio.caf", "audio.aac", "fragmented.mp4",
                                           "delayed.mov", "audio24.aif", "aud_alac24.caf", "frag_base.mp4",
                                           "frag_implicit.mp4"),
                         [](const auto& info) {
                           std::string n = info.param;
                           for (char& c : n)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

// Every sample of every track against ffmpeg's packets: decode and display
// times, size and the md5 of the bytes read at the sample's offset.
class FixturePackets : public ::testing::TestWithParam<const char*> {};

TEST_P(FixturePackets, MatchFfmpegsDemuxer) {
  std::string name = GetParam();
  std::ifstream in(FixturePath(name + ".packets.txt"));
  std::vector<std::vector<std::string>> expected;  // per stream: "dts pts size md5"
  for (std::string line; std::getline(in, line);) {
    std::istringstream ss(line);
    size_t stream = 0;
    std::string dts, pts, size, md5;
    ss >> stream >> dts >> pts >> size >> md5;
    if (expected.size() <= stream) expected.resize(stream + 1);
    expected[stream].push_back(dts + " " + pts + " " + size + " " + md5);
  }
  ASSERT_FALSE(expected.empty()) << "no oracle for " << name;
  std::unique_ptr<qtm::MovieModel> movie;
  ASSERT_EQ(qtm::OpenMovieModel(FixturePath(name), &movie), noErr);
  ASSERT_EQ(movie->tracks.size(), expected.size());
  std::vector<uint8_t> bytes;
  for (size_t t = 0; t < expected.size(); ++t) {
    SCOPED_TRACE(name + " stream " + std::to_string(t));
    const qtm::SampleTable& table = *movie->tracks[t]->samples;
    ASSERT_EQ(table.Count(), expected[t].size());
    qtm::SampleInfo s;
    for (uint32_t k = 0; k < table.Count(); ++k) {
      ASSERT_TRUE(table.Get(k, &s));
      bytes.resize(s.size);
      ASSERT_TRUE(movie->source->ReadAt(s.offset, bytes.data(), s.size)) << k;
      uint8_t digest[16];
      av_md5_sum(digest, bytes.data(), static_cast<int>(s.size));
      char hex[33];
      for (int i = 0; i < 16; ++i) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
      std::string got = std::to_string(s.decode_time) + " " + std::to_string(s.decode_time + s.display_offset) + " " +
                        std::to_string(s.size) + " " + hex;
      ASSERT_EQ(got, expected[t][k]) << "sample " << k;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Movies, FixturePackets,
                         ::testing::Values("h264_bframes.mp4", "fragmented.mp4", "frag_base.mp4", "frag_implicit.mp4"),
                         [](const auto& info) {
                           std::string n = info.param;
                           for (char& c : n)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

TEST(FixtureFacts, CompressorNamesAndImportedCodecs) {
  std::unique_ptr<qtm::MovieModel> movie;
  ASSERT_EQ(qtm::OpenMovieModel(FixturePath("dv.dv"), &movie), noErr);
  const auto* dv = reinterpret_cast<const ImageDescription*>(movie->tracks[0]->descriptions[0].data());
  EXPECT_EQ(dv->cType, 0x64766370u);  // 'dvcp': PAL
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(dv->name + 1), dv->name[0]), "DV - PAL");
  EXPECT_EQ(movie->tracks[0]->source_stream, 0);
  EXPECT_TRUE(movie->imported);

  ASSERT_EQ(qtm::OpenMovieModel(FixturePath("audio16.aif"), &movie), noErr);
  const auto* aif = reinterpret_cast<const SoundDescription*>(movie->tracks[0]->descriptions[0].data());
  EXPECT_EQ(aif->dataFormat, 0x74776F73u);  // 'twos'
  EXPECT_EQ(aif->numChannels, 1);
  EXPECT_EQ(aif->sampleSize, 16);
  EXPECT_EQ(aif->sampleRate, 44100u << 16);

  ASSERT_EQ(qtm::OpenMovieModel(FixturePath("audio.caf"), &movie), noErr);
  const auto* caf = reinterpret_cast<const SoundDescription*>(movie->tracks[0]->descriptions[0].data());
  EXPECT_EQ(caf->dataFormat, 0x736F7774u);  // 'sowt'

  // Imported sound carries the depth it is delivered at: a lossless
  // source's real depth, 16 for other compressed ones.
  struct {
    const char* file;
    uint32_t format;
    int16_t bits;
  } depths[] = {{"aud_alac24.caf", 0x616C6163u, 24},  // 'alac'
                {"aud_s24.caf", 0x696E3234u, 24},     // 'in24'
                {"aud_ulaw.caf", 0x756C6177u, 16},    // 'ulaw', 8 bits coded
                {"aud_ima4.aifc", 0x696D6134u, 16},   // 'ima4', 4 bits coded
                {"aud_gsm.gsm", 0x6167736Du, 16}};    // 'agsm'
  for (const auto& d : depths) {
    SCOPED_TRACE(d.file);
    ASSERT_EQ(qtm::OpenMovieModel(FixturePath(d.file), &movie), noErr);
    const auto* sound = reinterpret_cast<const SoundDescription*>(movie->tracks[0]->descriptions[0].data());
    EXPECT_EQ(sound->dataFormat, d.format);
    EXPECT_EQ(sound->sampleSize, d.bits);
  }

  // The H.264 movie keeps its avcC after the 86-byte record, big-endian as in the file.
  ASSERT_EQ(qtm::OpenMovieModel(FixturePath("h264_bframes.mov"), &movie), noErr);
  const auto& rec = movie->tracks[0]->descriptions[0];
  ASSERT_GT(rec.size(), sizeof(ImageDescription) + 8);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(rec.data() + 86 + 4), 4), "avcC");
  const auto* h264 = reinterpret_cast<const ImageDescription*>(rec.data());
  EXPECT_EQ(h264->depth, 24);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(h264->name + 1), h264->name[0]), "Lavc libx264");
}

}  // namespace
