#include "movie/movie_tracks.h"

#include <cwchar>
#include <cwctype>

namespace kestrel {
namespace {

// The file's extension is one of an audio file.
bool IsAudioFilePath(const wchar_t* path) {
  const wchar_t* dot = path ? wcsrchr(path, L'.') : nullptr;
  if (!dot) return false;
  wchar_t ext[5] = {};
  for (int i = 0; i < 4 && dot[i + 1]; ++i) ext[i] = static_cast<wchar_t>(towlower(dot[i + 1]));
  return wcscmp(ext, L"m4a") == 0 || wcscmp(ext, L"m4b") == 0;
}

bool IsStill(Movie movie, Track track, bool audio_file) {
  if (IsChapterTrack(movie, track)) return true;
  if (!audio_file || !GetMovieIndTrackType(movie, 1, SoundMediaType, movieTrackMediaType)) return false;
  Media media = GetTrackMedia(track);
  return media && GetMediaSampleCount(media) == 1;
}

}  // namespace

bool IsChapterTrack(Movie movie, Track track) {
  if (!movie || !track) return false;
  const int32_t tracks = GetMovieTrackCount(movie);
  for (int32_t i = 1; i <= tracks; ++i) {
    Track owner = GetMovieIndTrack(movie, i);
    const int32_t refs = owner ? GetTrackReferenceCount(owner, kTrackReferenceChapterList) : 0;
    for (int32_t k = 1; k <= refs; ++k)
      if (GetTrackReference(owner, kTrackReferenceChapterList, k) == track) return true;
  }
  return false;
}

Track PlayedVideoTrack(Movie movie, const wchar_t* path) {
  if (!movie) return nullptr;
  const bool audio_file = IsAudioFilePath(path);
  Track fallback = nullptr;
  for (int32_t i = 1;; ++i) {
    Track track = GetMovieIndTrackType(movie, i, VideoMediaType, movieTrackMediaType);
    if (!track) break;
    if (IsStill(movie, track, audio_file)) continue;
    if (GetTrackEnabled(track)) return track;
    if (!fallback) fallback = track;
  }
  return fallback;
}

}  // namespace kestrel
