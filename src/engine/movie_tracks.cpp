#include "engine/movie_tracks.h"

#include <cctype>
#include <cstring>

namespace kestrel {
namespace {

// The file's extension is one of an audio file.
bool IsAudioFilePath(const char* path) {
  const char* dot = path ? strrchr(path, '.') : nullptr;
  if (!dot) return false;
  char ext[5] = {};
  for (int i = 0; i < 4 && dot[i + 1]; ++i) ext[i] = static_cast<char>(tolower(static_cast<unsigned char>(dot[i + 1])));
  return strcmp(ext, "m4a") == 0 || strcmp(ext, "m4b") == 0;
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

Track PlayedVideoTrack(Movie movie, const char* path) {
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
