// The chapters of a movie: a chapter track (a text track that another
// track names in its 'chap' reference, a sample a chapter) and the Nero
// chapter list in the movie's user data ('chpl'). Where both give the n-th
// chapter, the chapter track's stands (so ffprobe -show_chapters lists
// them); a longer list keeps the chapters beyond.
#ifndef KESTREL_MOVIE_CHAPTER_LIST_H
#define KESTREL_MOVIE_CHAPTER_LIST_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qtmedia.h"

namespace kestrel {

struct Chapter {
  std::wstring name;
  int64_t start = 0;  // media time (100 ns) from the movie's start
};

// The chapters of a 'chpl' payload (version, flags, four more bytes from
// version 1, a count, then per chapter its start in 100 ns, a name length
// and the name in UTF-8). A chapter cut short ends the list.
std::vector<Chapter> ParseNeroChapters(const uint8_t* payload, size_t size);

// The name in a text sample: a 16-bit length, then UTF-8, or UTF-16 after
// a byte-order mark. False when the length exceeds the sample.
bool TextSampleName(const uint8_t* sample, size_t size, std::wstring* name);

// S_OK with the movie's chapters in *chapters (none is no failure);
// E_POINTER; E_OUTOFMEMORY.
HRESULT ReadChapters(Movie movie, std::vector<Chapter>* chapters);

}  // namespace kestrel

#endif
