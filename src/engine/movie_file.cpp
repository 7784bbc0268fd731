#include "engine/movie_file.h"

#include <cstring>

namespace kestrel {

void DisposeMovieRef(Movie* movie) {
  if (*movie) {
    DisposeMovie(*movie);
    *movie = nullptr;
  }
}

HRESULT OpenMovieFromPath(const char* path, Movie* movie) {
  DisposeMovieRef(movie);
  if (!path) return E_FAIL;
  size_t length = strlen(path);
  // One length byte carries the count: longer paths are refused rather than
  // cut or overrun.
  if (length > kMaxMoviePathBytes) return E_FAIL;

  unsigned char name[259] = {};
  name[0] = static_cast<unsigned char>(length);
  memcpy(name + 1, path, length);

  FSSpec file_spec = {};
  FSMakeFSSpec(0, 0, name, &file_spec);

  int16_t ref = 0;
  if (OpenMovieFile(&file_spec, &ref, fsRdPerm) != noErr) {
    DisposeMovieRef(movie);
    return E_FAIL;
  }
  Movie made = nullptr;
  OSErr err = NewMovieFromFile(&made, ref, nullptr, nullptr, newMovieActive, nullptr);
  CloseMovieFile(ref);
  if (err != noErr || !made) {
    if (made) DisposeMovie(made);
    DisposeMovieRef(movie);
    return E_FAIL;
  }
  *movie = made;
  return S_OK;
}

}  // namespace kestrel
