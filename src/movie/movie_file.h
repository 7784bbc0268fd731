// Opening a movie from a file path, the way every movie of the filter is
// opened (the session's, the audio side's and the user-data reader's).
#ifndef KESTREL_MOVIE_MOVIE_FILE_H
#define KESTREL_MOVIE_MOVIE_FILE_H

#include <windows.h>

#include <cstddef>
#include <memory>

#include "qtmedia.h"

namespace kestrel {

// A movie's path as the filter's classes take it: wide, as IFileSourceFilter
// gives it (borrowed, it must outlive this), or in the ANSI code page
// (converted). Any length: the engine opens it through its wide entry
// point, not through FSSpec's 255 bytes. Null when given none, or when the
// conversion fails.
class MoviePath {
 public:
  MoviePath(std::nullptr_t) {}
  MoviePath(const wchar_t* path) : path_(path) {}
  MoviePath(const char* ansi_path);
  const wchar_t* get() const { return path_; }

 private:
  const wchar_t* path_ = nullptr;
  std::unique_ptr<wchar_t[]> converted_;
};

// Opens path as an active movie. On failure *movie is none.
// S_OK, or E_FAIL (no path, file not a movie, engine missing).
HRESULT OpenMovieFromPath(const MoviePath& path, Movie* movie);

// Disposes of *movie when there is one and clears it.
void DisposeMovieRef(Movie* movie);

}  // namespace kestrel

#endif
