// Which of a movie's tracks the filter plays: the video track, and the
// tracks that only serve another (chapter lists, chapter pictures).
#ifndef KESTREL_MOVIE_MOVIE_TRACKS_H
#define KESTREL_MOVIE_MOVIE_TRACKS_H

#include "qtmedia.h"

namespace kestrel {

// True when some track of the movie names track in its chapter reference
// ('chap'): a chapter text track, or a track of chapter pictures.
bool IsChapterTrack(Movie movie, Track track);

// The video track the movie plays: the first enabled video track that is
// not a still, else (no video track enabled) the first that is not a still;
// none when every video track is a still. A still is a track of chapter
// pictures, or the one picture of an audio file's cover (.m4a, .m4b: a
// video track of one sample beside sound). path is the file's path.
Track PlayedVideoTrack(Movie movie, const wchar_t* path);

}  // namespace kestrel

#endif
