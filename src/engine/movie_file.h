// Opening a movie from a file path, the way every movie of the filter is
// opened (the session's, the audio side's and the user-data reader's).
#ifndef KESTREL_ENGINE_MOVIE_FILE_H
#define KESTREL_ENGINE_MOVIE_FILE_H

#include <windows.h>

#include "qtmedia.h"

namespace kestrel {

// Longest path the length-prefixed file name can carry.
constexpr size_t kMaxMoviePathBytes = 255;

// Opens path (ANSI code page) as an active movie. On failure *movie is none.
// S_OK, or E_FAIL (path too long, file not a movie, engine missing).
HRESULT OpenMovieFromPath(const char* path, Movie* movie);

// Disposes of *movie when there is one and clears it.
void DisposeMovieRef(Movie* movie);

}  // namespace kestrel

#endif
