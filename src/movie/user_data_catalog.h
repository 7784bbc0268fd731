// UserDataCatalog: the movie's user-data texts gathered into a fixed table of
// 31 named entries (album, artist, comment ...). Each catalogue holds the
// values of its own movie (a filter's, under that filter's lock); only the
// types and names are shared.
#ifndef KESTREL_MOVIE_USER_DATA_CATALOG_H
#define KESTREL_MOVIE_USER_DATA_CATALOG_H

#include <windows.h>

#include <cstddef>

#include "movie/movie_file.h"
#include "qtmedia.h"

namespace kestrel {

class UserDataCatalog {
 public:
  static constexpr int kEntryCount = 31;
  // Names and values: 260 wide characters with the terminator.
  static constexpr size_t kTextChars = 260;

  // Clears every value.
  UserDataCatalog();

  // Fills the values from the movie at path. S_OK, or
  // E_FAIL when the movie or its user-data list cannot be had (all values
  // empty then). Missing items leave empty values; a text longer than 259
  // characters is cut at a character boundary; carriage returns become spaces.
  HRESULT ReadUserData(const MoviePath& path);

  int GetEntryCount() const { return kEntryCount; }

  // index 0 to 30: E_INVALIDARG outside, E_POINTER for a missing out-pointer.
  HRESULT GetEntryType(int index, OSType* type) const;
  HRESULT GetEntryName(int index, wchar_t* name) const;    // kTextChars
  HRESULT GetEntryValue(int index, wchar_t* value) const;  // kTextChars

  // The constant display name; null outside 0 to 30.
  static const wchar_t* EntryName(int index);

 private:
  wchar_t m_values[kEntryCount][kTextChars] = {};
};

}  // namespace kestrel

#endif
