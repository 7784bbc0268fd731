#include "movie_calls.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "api/records.h"
#include "icm/codec_setup.h"
#include "movie/four_cc.h"
#include "qtmedia.h"
#include "timecode/time_code_handler.h"

namespace qtm::fuzz {
namespace {

constexpr int kMaxSteps = 64;
constexpr int kMaxDescriptions = 4;
constexpr ByteCount kMaxSampleBytes = 1 << 20;
constexpr Fixed kBackward = static_cast<Fixed>(0xFFFF0000);

void ExerciseSamples(Media media, TimeValue64 end) {
  std::vector<uint8_t> buffer;
  TimeValue64 t = 0;
  int16_t flags = nextTimeMediaSample | nextTimeEdgeOK;
  for (int step = 0; step < kMaxSteps && t >= 0; ++step) {
    ByteCount size = 0, count = 0, index = 0;
    MediaSampleFlags sample_flags = 0;
    TimeValue64 decode = 0, duration = 0, offset = 0;
    if (GetMediaSample2(media, nullptr, 0, &size, t, &decode, &duration, &offset, nullptr, &index, 4, &count,
                        &sample_flags) == noErr &&
        size <= kMaxSampleBytes) {
      buffer.resize(size);
      GetMediaSample2(media, buffer.data(), size, &size, t, nullptr, nullptr, nullptr, nullptr, nullptr, 4, &count,
                      nullptr);
    }
    int64_t number = 0;
    TimeValue64 sample_time = 0, sample_duration = 0, display = 0, display_duration = 0;
    MediaDecodeTimeToSampleNum(media, t, &number, &sample_time, &sample_duration);
    SampleNumToMediaDisplayTime(media, number, &display, &display_duration);
    TimeValue64 next = -1;
    GetMediaNextInterestingDecodeTime(media, flags, t, fixed1, &next, nullptr);
    t = next;
    flags = nextTimeMediaSample;
  }
  // Sync samples from the end backwards, as a seek finds them.
  t = end;
  for (int step = 0; step < kMaxSteps / 4 && t >= 0; ++step) {
    TimeValue64 sync = -1;
    GetMediaNextInterestingDecodeTime(media, nextTimeSyncSample | nextTimeEdgeOK, t, kBackward, &sync, nullptr);
    if (sync < 0 || sync > t) break;
    t = sync - 1;
  }
}

// Every segment of the track's edit list, as the filter walks it when it
// loads a movie: the next edit, the media time and the rate of each.
void ExerciseEdits(Track track) {
  TimeValue time = 0;
  for (int step = 0; step < (1 << 20); ++step) {
    TimeValue start = -1, duration = 0;
    GetTrackNextInterestingTime(track, nextTimeTrackEdit | nextTimeEdgeOK, time, fixed1, &start, &duration);
    if (start < 0 || duration <= 0) break;
    TrackTimeToMediaDisplayTime(start, track);
    GetTrackEditRate64(track, start);
    if (static_cast<int64_t>(start) + duration > INT32_MAX) break;
    time = start + duration;
  }
  TimeValue last = -1;
  GetTrackNextInterestingTime(track, nextTimeTrackEdit, INT32_MAX, kBackward, &last, nullptr);
}

void ExerciseUserData(Movie movie) {
  UserData list = GetMovieUserData(movie);
  if (!list) return;
  std::vector<OSType> types = {FourCC("\xA9nam"),
                               FourCC("\xA9"
                                      "cmt"),
                               FourCC("\xA9"
                                      "cpy"),
                               FourCC("\xA9"
                                      "des"),
                               FourCC("\xA9swr"),
                               FourCC("\xA9"
                                      "com"),
                               FourCC("\xA9"
                                      "day"),
                               FourCC("\xA9"
                                      "ART")};
  for (const auto& item : movie->model->user_data) {
    if (types.size() >= 24) break;
    if (std::find(types.begin(), types.end(), item.type) == types.end()) types.push_back(item.type);
  }
  Handle text = NewHandle(0);
  if (!text) return;
  const int16_t regions[] = {verUS, verFrance, verGermany, verJapan, 99};
  for (OSType type : types) {
    for (int16_t region : regions) {
      for (int32_t index = 1; index <= 2; ++index) GetUserDataText(list, text, type, index, region);
    }
  }
  DisposeHandle(text);
}

}  // namespace

void AskTimeCodes(MediaHandler handler, std::initializer_list<int64_t> times) {
  if (!handler) return;
  for (int64_t at : times) {
    int32_t frame = 0;
    TimeCodeDef definition;
    TimeCodeRecord record;
    UserData source = nullptr;
    TCGetTimeCodeAtTime(handler, static_cast<TimeValue>(std::clamp<int64_t>(at, INT32_MIN, INT32_MAX)), &frame,
                        &definition, &record, &source);
  }
}

void ExerciseDescription(OSType media_type, Handle description) {
  if (!description || !*description) return;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(*description);
  size_t size = static_cast<size_t>(GetHandleSize(description));
  if (media_type == VideoMediaType) {
    CodecSetup setup;
    ParseImageDescription(bytes, size, &setup);
  } else if (media_type == SoundMediaType) {
    AudioStreamBasicDescription format;
    QTSoundDescriptionGetProperty(
        reinterpret_cast<SoundDescriptionHandle>(description), kQTPropertyClass_SoundDescription,
        kQTSoundDescriptionPropertyID_AudioStreamBasicDescription, sizeof format, &format, nullptr);
  } else if (media_type == TimeCodeMediaType) {
    TimeCodeDef definition;
    if (ReadTimeCodeDef(std::vector<uint8_t>(bytes, bytes + size), &definition) == noErr) {
      TimeCodeRecord record;
      for (int64_t frame : {int64_t{0}, int64_t{1}, int64_t{-1}, int64_t{107892}, int64_t{INT32_MAX}})
        TimeCodeOfFrame(definition, frame, &record);
    }
  }
}

void ExerciseMovie(Movie movie) {
  if (!movie) return;
  GetMovieTimeScale(movie);
  GetMovieDuration(movie);
  GetMoviePreferredRate(movie);
  Handle description = NewHandle(0);
  if (!description) return;
  for (auto& track : movie->tracks) {
    Media media = GetTrackMedia(track.get());
    OSType type = 0;
    GetMediaHandlerDescription(media, &type, nullptr, nullptr);
    GetMediaTimeScale(media);
    GetMediaDuration(media);
    GetMediaSampleCount(media);
    TimeValue64 end = GetMediaDecodeDuration(media);
    int32_t descriptions = GetMediaSampleDescriptionCount(media);
    for (int32_t i = 0; i <= std::min(descriptions, kMaxDescriptions); ++i) {
      GetMediaSampleDescription(media, i, reinterpret_cast<SampleDescriptionHandle>(description));
      if (GetMoviesError() == noErr) ExerciseDescription(type, description);
    }
    ExerciseSamples(media, end);
    ExerciseEdits(track.get());
    if (type == TimeCodeMediaType) AskTimeCodes(GetMediaHandler(media), {0, 1, end / 2, end - 1, end, end + 1, -1});
    // The track's language, group, references and user data.
    GetMediaLanguage(media);
    char tag[32];
    qtm_GetMediaExtendedLanguageTag(media, tag, sizeof tag);
    GetTrackAlternate(track.get());
    for (int32_t i = 0; i <= GetTrackReferenceCount(track.get(), kTrackReferenceChapterList) && i < 8; ++i)
      GetTrackReference(track.get(), kTrackReferenceChapterList, i);
    GetUserData(GetTrackUserData(track.get()), description, FourCC("name"), 1);
  }
  GetUserData(GetMovieUserData(movie), description, FourCC("chpl"), 1);
  DisposeHandle(description);
  ExerciseUserData(movie);
}

}  // namespace qtm::fuzz
