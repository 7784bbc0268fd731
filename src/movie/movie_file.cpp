#include "movie/movie_file.h"

#include <new>

namespace kestrel {

static_assert(sizeof(wchar_t) == sizeof(UniChar), "the engine's wide paths are UTF-16");

MoviePath::MoviePath(const char* ansi_path) {
  if (!ansi_path) return;
  int chars = MultiByteToWideChar(CP_ACP, 0, ansi_path, -1, nullptr, 0);
  if (chars <= 0) return;
  converted_.reset(new (std::nothrow) wchar_t[static_cast<size_t>(chars)]);
  if (!converted_ || MultiByteToWideChar(CP_ACP, 0, ansi_path, -1, converted_.get(), chars) != chars) return;
  path_ = converted_.get();
}

void DisposeMovieRef(Movie* movie) {
  if (*movie) {
    DisposeMovie(*movie);
    *movie = nullptr;
  }
}

HRESULT OpenMovieFromPath(const MoviePath& path, Movie* movie) {
  DisposeMovieRef(movie);
  if (!path.get()) return E_FAIL;
  int16_t ref = 0;
  if (qtm_OpenMovieFileW(reinterpret_cast<const UniChar*>(path.get()), &ref) != noErr) return E_FAIL;
  Movie made = nullptr;
  OSErr err = NewMovieFromFile(&made, ref, nullptr, nullptr, newMovieActive, nullptr);
  CloseMovieFile(ref);
  if (err != noErr || !made) {
    if (made) DisposeMovie(made);
    return E_FAIL;
  }
  *movie = made;
  return S_OK;
}

}  // namespace kestrel
