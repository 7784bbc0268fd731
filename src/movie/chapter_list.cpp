#include "movie/chapter_list.h"

#include <new>

#include "movie/engine_ref.h"
#include "movie/media_text.h"
#include "movie/media_time.h"

namespace kestrel {
namespace {

constexpr OSType kNeroChapters = 0x6368706C;  // 'chpl'

uint64_t ReadBE(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
  return v;
}

// The text track the movie's chapter references name: the last track that
// has such a reference names it first (as ffprobe reads them), and it must
// be a text track.
Track ChapterTextTrack(Movie movie) {
  Track chapters = nullptr;
  const int32_t tracks = GetMovieTrackCount(movie);
  for (int32_t i = 1; i <= tracks; ++i) {
    Track owner = GetMovieIndTrack(movie, i);
    if (!owner || GetTrackReferenceCount(owner, kTrackReferenceChapterList) < 1) continue;
    if (Track named = GetTrackReference(owner, kTrackReferenceChapterList, 1)) chapters = named;
  }
  Media media = chapters ? GetTrackMedia(chapters) : nullptr;
  OSType type = 0;
  if (media) GetMediaHandlerDescription(media, &type, nullptr, nullptr);
  return type == TextMediaType ? chapters : nullptr;
}

// A chapter per sample of the text track, at its decode time.
void ReadTrackChapters(Track track, std::vector<Chapter>* chapters) {
  Media media = GetTrackMedia(track);
  const TimeScale scale = media ? GetMediaTimeScale(media) : 0;
  if (scale <= 0) return;
  constexpr ByteCount kMaxSample = 64 * 1024;  // far more than a title needs
  std::vector<uint8_t> sample(kMaxSample);
  TimeValue64 time = 0;
  int16_t flags = nextTimeMediaSample | nextTimeEdgeOK;
  for (;;) {
    TimeValue64 next = -1;
    GetMediaNextInterestingDecodeTime(media, flags, time, fixed1, &next, nullptr);
    if (next < 0) break;
    flags = nextTimeMediaSample;
    time = next;
    ByteCount size = 0, count = 0;
    TimeValue64 decode_time = 0;
    if (GetMediaSample2(media, sample.data(), kMaxSample, &size, time, &decode_time, nullptr, nullptr, nullptr, nullptr,
                        1, &count, nullptr) != noErr) {
      continue;  // too large or unreadable: no chapter of it
    }
    Chapter chapter;
    if (!TextSampleName(sample.data(), size, &chapter.name)) continue;
    chapter.start = MovieToMediaTime(decode_time, scale);
    chapters->push_back(std::move(chapter));
  }
}

}  // namespace

std::vector<Chapter> ParseNeroChapters(const uint8_t* payload, size_t size) {
  std::vector<Chapter> chapters;
  if (!payload || size < 5) return chapters;
  size_t at = payload[0] != 0 ? 8 : 4;  // version 1 has four more bytes
  if (at >= size) return chapters;
  const size_t count = payload[at++];
  for (size_t i = 0; i < count; ++i) {
    if (size - at < 9) break;
    Chapter chapter;
    chapter.start = static_cast<int64_t>(ReadBE(payload + at, 8));
    const size_t length = payload[at + 8];
    at += 9;
    if (size - at < length) break;
    chapter.name = WideFromMediaText(payload + at, length);
    at += length;
    chapters.push_back(std::move(chapter));
  }
  return chapters;
}

bool TextSampleName(const uint8_t* sample, size_t size, std::wstring* name) {
  if (!sample || size < 2) return false;
  const size_t length = ReadBE(sample, 2);
  if (length > size - 2) return false;
  *name = WideFromMediaText(sample + 2, length);
  return true;
}

HRESULT ReadChapters(Movie movie, std::vector<Chapter>* chapters) {
  if (!chapters) return E_POINTER;
  chapters->clear();
  if (!movie) return S_OK;
  try {
    if (UserData user_data = GetMovieUserData(movie)) {
      HandleHolder list(NewHandle(0));
      if (!list) return E_OUTOFMEMORY;
      if (GetUserData(user_data, list.Get(), kNeroChapters, 1) == noErr) {
        HLock(list.Get());
        *chapters = ParseNeroChapters(reinterpret_cast<const uint8_t*>(*list.Get()),
                                      static_cast<size_t>(GetHandleSize(list.Get())));
        HUnlock(list.Get());
      }
    }
    if (Track track = ChapterTextTrack(movie)) {
      std::vector<Chapter> from_track;
      ReadTrackChapters(track, &from_track);
      for (size_t i = 0; i < from_track.size(); ++i) {
        if (i < chapters->size()) {
          (*chapters)[i] = std::move(from_track[i]);
        } else {
          chapters->push_back(std::move(from_track[i]));
        }
      }
    }
  } catch (const std::bad_alloc&) {
    chapters->clear();
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace kestrel
