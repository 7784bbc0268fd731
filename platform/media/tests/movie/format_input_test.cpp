// libavformat's view of a movie for the sound path: the other tracks read
// as free space, the sound unchanged.
#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstring>

#include "audio/audio_extraction.h"
#include "audio_test_support.h"
#include "movie/format_input.h"
#include "movie/movie_model.h"

namespace qtm::test {
namespace {

std::unique_ptr<MovieModel> Movie(const std::string& name) {
  std::unique_ptr<MovieModel> movie;
  EXPECT_EQ(OpenMovieModel(Fixture(name), &movie), noErr);
  return movie;
}

TEST(FormatInput, TheSoundPathSeesOnlyItsTrack) {
  for (const char* name : {"aud_aac.mp4", "h264_bframes.mov", "costly/edits-20k.mov"}) {
    SCOPED_TRACE(name);
    std::unique_ptr<MovieModel> movie = Movie(name);
    ASSERT_TRUE(movie);
    AudioExtraction::Source source;
    ASSERT_TRUE(AudioExtraction::SourceOfMovie(*movie, &source));
    ASSERT_EQ(source.other_tracks.size(), movie->tracks.size() - 1);
    std::unique_ptr<FormatInput> input = FormatInput::Open(source.data, source.path, source.other_tracks);
    ASSERT_TRUE(input);
    AVFormatContext* format = input->context();
    ASSERT_EQ(format->nb_streams, 1u);
    EXPECT_EQ(format->streams[0]->codecpar->codec_type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(static_cast<uint32_t>(format->streams[0]->id), source.track_id);

    // Each hidden type reads 'free' however a read falls across it; every
    // other byte is the file's.
    std::vector<uint8_t> file = ReadAll(Fixture(name));
    for (uint64_t trak : source.other_tracks) {
      ASSERT_EQ(std::memcmp(file.data() + trak + 4, "trak", 4), 0);
      for (int64_t from = static_cast<int64_t>(trak) + 1; from <= static_cast<int64_t>(trak) + 8; ++from) {
        ASSERT_EQ(avio_seek(format->pb, from, SEEK_SET), from);
        uint8_t got[6];
        ASSERT_EQ(avio_read(format->pb, got, sizeof got), static_cast<int>(sizeof got));
        for (int i = 0; i < 6; ++i) {
          uint64_t at = static_cast<uint64_t>(from + i);
          bool in_type = at >= trak + 4 && at < trak + 8;
          EXPECT_EQ(got[i], in_type ? "free"[at - trak - 4] : file[at]) << "byte " << at;
        }
      }
    }
  }
}

struct Packet {
  int64_t pts, dts, duration;
  std::vector<uint8_t> data;
  bool operator==(const Packet&) const = default;
};

std::vector<Packet> SoundPackets(AVFormatContext* format, uint32_t track_id) {
  std::vector<Packet> packets;
  AVPacket* packet = av_packet_alloc();
  while (av_read_frame(format, packet) >= 0) {
    if (static_cast<uint32_t>(format->streams[packet->stream_index]->id) == track_id)
      packets.push_back({packet->pts, packet->dts, packet->duration,
                         std::vector<uint8_t>(packet->data, packet->data + packet->size)});
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  return packets;
}

TEST(FormatInput, TheSoundTrackReadsTheSameWithTheOthersHidden) {
  // Fragments, chapters in a text track, edit lists, B-frames beside the sound.
  // (libavformat warns of each fragment of a hidden track.)
  av_log_set_level(AV_LOG_ERROR);
  for (const char* name : {"fragmented.mp4", "frag_base.mp4", "chap_track.mov", "long_av.mov", "h263_aac.3gp"}) {
    SCOPED_TRACE(name);
    std::unique_ptr<MovieModel> movie = Movie(name);
    ASSERT_TRUE(movie);
    AudioExtraction::Source source;
    ASSERT_TRUE(AudioExtraction::SourceOfMovie(*movie, &source));
    ASSERT_FALSE(source.other_tracks.empty());
    std::unique_ptr<FormatInput> whole = FormatInput::Open(source.data, source.path);
    std::unique_ptr<FormatInput> sound = FormatInput::Open(source.data, source.path, source.other_tracks);
    ASSERT_TRUE(whole && sound);
    EXPECT_LT(sound->context()->nb_streams, whole->context()->nb_streams);
    std::vector<Packet> expected = SoundPackets(whole->context(), source.track_id);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(SoundPackets(sound->context(), source.track_id) == expected);
  }
}

TEST(FormatInput, OnlyATrakIsHidden) {
  // An offset that names no track atom changes nothing.
  std::unique_ptr<MovieModel> movie = Movie("aud_aac.mp4");
  ASSERT_TRUE(movie);
  std::unique_ptr<FormatInput> input = FormatInput::Open(movie->source, movie->path, {0});
  ASSERT_TRUE(input);
  EXPECT_EQ(input->context()->nb_streams, 2u);
}

}  // namespace
}  // namespace qtm::test
