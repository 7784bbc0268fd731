// The calls about a movie's other tracks, on the fixtures: languages (media
// header and 'elng'), alternate groups, enabling, track names (track user
// data), track references and the Nero chapter list; the extraction takes
// the enabled track; sound formats of the realistic fixtures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio_test_support.h"
#include "open_movie.h"
#include "qtmedia.h"

namespace {

constexpr OSType Code(const char (&s)[5]) {
  return (OSType(uint8_t(s[0])) << 24) | (OSType(uint8_t(s[1])) << 16) | (OSType(uint8_t(s[2])) << 8) | uint8_t(s[3]);
}

uint16_t PackedIso(const char (&s)[4]) {
  return static_cast<uint16_t>((s[0] - 0x60) << 10 | (s[1] - 0x60) << 5 | (s[2] - 0x60));
}

struct MovieCloser {
  void operator()(MovieRecord* m) const { DisposeMovie(m); }
};
using MoviePtr = std::unique_ptr<MovieRecord, MovieCloser>;

MoviePtr Open(const std::string& name) {
  Movie movie = qtm::support::OpenMovieAt(qtm::test::Fixture(name));
  EXPECT_NE(movie, nullptr) << name;
  return MoviePtr(movie);
}

Track Sound(Movie movie, int index) { return GetMovieIndTrackType(movie, index, SoundMediaType, movieTrackMediaType); }

std::string UserDataBytes(UserData list, OSType type, int32_t index, OSErr* status = nullptr) {
  Handle h = NewHandle(0);
  OSErr err = GetUserData(list, h, type, index);
  std::string bytes = err == noErr ? std::string(*h, static_cast<size_t>(GetHandleSize(h))) : "";
  DisposeHandle(h);
  if (status) *status = err;
  return bytes;
}

TEST(MovieTracks, LanguagesNamesGroupsAndEnabledFlagsOfAnMp4) {
  MoviePtr movie = Open("trk_lang.mp4");
  ASSERT_TRUE(movie);
  Track a[3] = {Sound(movie.get(), 1), Sound(movie.get(), 2), Sound(movie.get(), 3)};
  ASSERT_TRUE(a[0] && a[1] && a[2]);
  EXPECT_EQ(Sound(movie.get(), 4), nullptr);
  // ISO files pack three letters in the media header.
  EXPECT_EQ(static_cast<uint16_t>(GetMediaLanguage(GetTrackMedia(a[0]))), PackedIso("eng"));
  EXPECT_EQ(static_cast<uint16_t>(GetMediaLanguage(GetTrackMedia(a[1]))), PackedIso("ger"));
  // ffmpeg enables the default track alone.
  EXPECT_EQ(GetTrackEnabled(a[0]), 0);
  EXPECT_EQ(GetTrackEnabled(a[1]), 1);
  EXPECT_EQ(GetTrackEnabled(a[2]), 0);
  // One alternate group: each names the next, the last the first.
  EXPECT_EQ(GetTrackAlternate(a[0]), a[1]);
  EXPECT_EQ(GetTrackAlternate(a[1]), a[2]);
  EXPECT_EQ(GetTrackAlternate(a[2]), a[0]);
  Track video = GetMovieIndTrackType(movie.get(), 1, VideoMediaType, movieTrackMediaType);
  EXPECT_EQ(GetTrackAlternate(video), video);  // in no group
  // The track names are raw text in the track's user data.
  EXPECT_EQ(UserDataBytes(GetTrackUserData(a[1]), Code("name"), 1), "Deutsch");
  EXPECT_EQ(UserDataBytes(GetTrackUserData(a[2]), Code("name"), 1), "Commentary");
  OSErr err = noErr;
  UserDataBytes(GetTrackUserData(a[0]), Code("name"), 1, &err);
  EXPECT_EQ(err, userDataItemNotFound);
  EXPECT_EQ(GetTrackID(a[1]), 3);
  EXPECT_EQ(GetMovieIndTrack(movie.get(), 3), a[1]);
  EXPECT_EQ(GetMovieIndTrack(movie.get(), 5), nullptr);
  char tag[16];
  EXPECT_EQ(qtm_GetMediaExtendedLanguageTag(GetTrackMedia(a[1]), tag, sizeof tag), userDataItemNotFound);
  EXPECT_STREQ(tag, "");
}

TEST(MovieTracks, MacLanguageCodesGroupsAndTheExtendedTagOfAQuickTimeMovie) {
  MoviePtr movie = Open("trk_groups.mov");
  ASSERT_TRUE(movie);
  Track a[3] = {Sound(movie.get(), 1), Sound(movie.get(), 2), Sound(movie.get(), 3)};
  // QuickTime movies from ffmpeg carry Macintosh codes: English 0, French 1,
  // German 2.
  EXPECT_EQ(GetMediaLanguage(GetTrackMedia(a[0])), 0);
  EXPECT_EQ(GetMediaLanguage(GetTrackMedia(a[1])), 1);
  EXPECT_EQ(GetMediaLanguage(GetTrackMedia(a[2])), 2);
  EXPECT_EQ(GetTrackAlternate(a[0]), a[0]);
  EXPECT_EQ(GetTrackAlternate(a[1]), a[2]);
  EXPECT_EQ(GetTrackAlternate(a[2]), a[1]);
  char tag[16];
  ASSERT_EQ(qtm_GetMediaExtendedLanguageTag(GetTrackMedia(a[2]), tag, sizeof tag), noErr);
  EXPECT_STREQ(tag, "de-CH");
  ASSERT_EQ(qtm_GetMediaExtendedLanguageTag(GetTrackMedia(a[2]), tag, 3), noErr);  // cut to the room
  EXPECT_STREQ(tag, "de");
  EXPECT_EQ(qtm_GetMediaExtendedLanguageTag(nullptr, tag, sizeof tag), paramErr);
}

TEST(MovieTracks, ChapterReferencesAndTheNeroList) {
  MoviePtr movie = Open("cover_art.m4a");
  ASSERT_TRUE(movie);
  Track sound = Sound(movie.get(), 1);
  Track text = GetMovieIndTrackType(movie.get(), 1, TextMediaType, movieTrackMediaType);
  ASSERT_TRUE(sound && text);
  EXPECT_EQ(GetTrackReferenceCount(sound, kTrackReferenceChapterList), 1);
  EXPECT_EQ(GetTrackReference(sound, kTrackReferenceChapterList, 1), text);
  EXPECT_EQ(GetTrackReference(sound, kTrackReferenceChapterList, 2), nullptr);
  EXPECT_EQ(GetTrackReferenceCount(text, kTrackReferenceChapterList), 0);
  EXPECT_EQ(GetTrackReferenceCount(sound, Code("tmcd")), 0);
  // The Nero list as stored: version 1, flags, four reserved bytes, three
  // chapters, the first at 0 named "Intro".
  std::string chpl = UserDataBytes(GetMovieUserData(movie.get()), Code("chpl"), 1);
  ASSERT_GE(chpl.size(), 9u + 9 + 5);
  EXPECT_EQ(chpl[0], 1);
  EXPECT_EQ(chpl[8], 3);
  EXPECT_EQ(chpl.substr(18, 5), "Intro");
  OSErr err = noErr;
  UserDataBytes(GetMovieUserData(movie.get()), Code("chpl"), 2, &err);
  EXPECT_EQ(err, userDataItemNotFound);
}

// Every frame of a session in the given format, a tenth of a second a fill.
std::vector<uint8_t> ExtractAll(MovieAudioExtractionRef session, const AudioStreamBasicDescription& f) {
  std::vector<uint8_t> out, buffer(4800 * f.mBytesPerFrame);
  for (int i = 0; i < 100000; ++i) {
    uint32_t frames = 4800, flags = 0;
    AudioBufferList list{};
    list.mNumberBuffers = 1;
    list.mBuffers[0].mNumberChannels = f.mChannelsPerFrame;
    list.mBuffers[0].mDataByteSize = static_cast<uint32_t>(buffer.size());
    list.mBuffers[0].mData = buffer.data();
    if (MovieAudioExtractionFillBuffer(session, &frames, &list, &flags) != noErr || frames == 0) break;
    out.insert(out.end(), buffer.begin(), buffer.begin() + list.mBuffers[0].mDataByteSize);
    if (flags & kQTMovieAudioExtractionComplete) break;
  }
  return out;
}

TEST(MovieTracks, TheExtractionTakesTheEnabledTrack) {
  MoviePtr movie = Open("trk_lang.mp4");
  ASSERT_TRUE(movie);
  for (int chosen = 0; chosen < 3; ++chosen) {
    SCOPED_TRACE(chosen);
    for (int i = 0; i < 3; ++i) SetTrackEnabled(Sound(movie.get(), i + 1), i == chosen);
    MovieAudioExtractionRef session = nullptr;
    ASSERT_EQ(MovieAudioExtractionBegin(movie.get(), 0, &session), noErr);
    AudioStreamBasicDescription f = qtm::test::PcmFormat(48000, chosen == 1 ? 6 : 2, 16);
    ASSERT_EQ(MovieAudioExtractionSetProperty(session, kQTPropertyClass_MovieAudioExtraction_Audio,
                                              kQTMovieAudioExtractionAudioPropertyID_AudioStreamBasicDescription,
                                              sizeof f, &f),
              noErr);
    std::vector<uint8_t> pcm = ExtractAll(session, f);
    MovieAudioExtractionEnd(session);
    std::vector<uint8_t> expected =
        qtm::test::ReadAll(qtm::test::Fixture("trk_lang.mp4.a" + std::to_string(chosen) + ".s16le"));
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(pcm == expected) << pcm.size() << " bytes, expected " << expected.size();
  }
}

AudioStreamBasicDescription FirstFormat(Movie movie) {
  Media media = GetTrackMedia(Sound(movie, 1));
  Handle h = NewHandle(4);
  GetMediaSampleDescription(media, 1, reinterpret_cast<SampleDescriptionHandle>(h));
  AudioStreamBasicDescription f{};
  EXPECT_EQ(
      QTSoundDescriptionGetProperty(reinterpret_cast<SoundDescriptionHandle>(h), kQTPropertyClass_SoundDescription,
                                    kQTSoundDescriptionPropertyID_AudioStreamBasicDescription, sizeof f, &f, nullptr),
      noErr);
  DisposeHandle(h);
  return f;
}

TEST(MovieTracks, SoundFormatsOfRealisticFilesTellTheirKindChannelsAndDepth) {
  struct Case {
    const char* file;
    OSType format;
    uint32_t channels;
    uint32_t bits;  // 0: compressed, no depth of its own
    double rate;
  } cases[] = {
      // ISO files say 2 channels for AC-3 and E-AC-3 whatever they carry.
      {"snd_ac3_51.mp4", Code("ac-3"), 6, 0, 48000},
      {"snd_eac3_51.mp4", Code("ec-3"), 6, 0, 48000},
      {"snd_opus.mp4", Code("opus"), 2, 0, 48000},
      {"snd_flac16.mp4", Code("flac"), 2, 16, 44100},
      {"snd_flac24_71.mp4", Code("flac"), 8, 24, 48000},
      {"snd_mp3.mp4", Code(".mp3"), 2, 0, 44100},
      {"snd_alac24_51.m4a", Code("alac"), 6, 24, 48000},
      {"snd_lpcm24.mov", kAudioFormatLinearPCM, 2, 24, 96000},
      {"snd_lpcmf32.mov", kAudioFormatLinearPCM, 2, 32, 96000},
      {"snd_ipcm24be.mp4", kAudioFormatLinearPCM, 2, 24, 48000},
      {"snd_ipcm16le.mp4", kAudioFormatLinearPCM, 2, 16, 48000},
      {"snd_fl64.mov", kAudioFormatLinearPCM, 2, 64, 48000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    MoviePtr movie = Open(c.file);
    ASSERT_TRUE(movie);
    AudioStreamBasicDescription f = FirstFormat(movie.get());
    EXPECT_EQ(f.mFormatID, c.format);
    EXPECT_EQ(f.mChannelsPerFrame, c.channels);
    EXPECT_EQ(f.mBitsPerChannel, c.bits);
    EXPECT_EQ(f.mSampleRate, c.rate);
  }
  // Byte order and kind from the formats' own flags.
  MoviePtr le = Open("snd_ipcm16le.mp4"), be = Open("snd_ipcm24be.mp4"), flt = Open("snd_lpcmf32.mov");
  EXPECT_EQ(FirstFormat(le.get()).mFormatFlags & kAudioFormatFlagIsBigEndian, 0u);
  EXPECT_NE(FirstFormat(be.get()).mFormatFlags & kAudioFormatFlagIsBigEndian, 0u);
  EXPECT_NE(FirstFormat(flt.get()).mFormatFlags & kAudioFormatFlagIsFloat, 0u);
}

}  // namespace
