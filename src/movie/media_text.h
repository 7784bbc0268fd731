// Text stored in a movie as Unicode (track names, chapter titles): UTF-8,
// or UTF-16 after a byte-order mark.
#ifndef KESTREL_MOVIE_MEDIA_TEXT_H
#define KESTREL_MOVIE_MEDIA_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel {

// The text of size bytes: UTF-16 (either byte order) after its byte-order
// mark, else UTF-8, else (bytes that are not UTF-8) Windows-1252. Ends at
// the first zero character.
std::wstring WideFromMediaText(const uint8_t* text, size_t size);

}  // namespace kestrel

#endif
