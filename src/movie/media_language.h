// The language of a track's media: the three-letter code and the Windows
// locale identifier, from the media header's code or, where the media
// carries one, its extended language tag ('elng', BCP 47).
#ifndef KESTREL_MOVIE_MEDIA_LANGUAGE_H
#define KESTREL_MOVIE_MEDIA_LANGUAGE_H

#include <windows.h>

#include <cstdint>

#include "qtmedia.h"

namespace kestrel {

struct MediaLanguage {
  // ISO 639-2 code, "und" when the file says none. The media header's code
  // as it stands (bibliographic "ger" stays "ger"); a Macintosh language
  // code as its ISO 639-2/T code; from an extended tag, Windows' code of its
  // language.
  wchar_t code[4] = L"und";
  // The language's neutral locale, or from an extended tag the tag's own
  // ("de-CH" 0x0807); 0 when Windows knows no locale of the language.
  LCID lcid = 0;
};

// The three-letter code of a media header's language field: a Macintosh
// language code (below 0x400) or three packed letters; "und" for the
// unspecified code 0x7FFF, Mac codes without an ISO 639-2 language, and
// letters out of range.
void LanguageCodeOfField(uint16_t field, wchar_t code[4]);

// The locale of an ISO 639-2 code (bibliographic or terminological): the
// language's neutral one (English 0x0009), or 0.
LCID LocaleOfLanguageCode(const wchar_t* code);

MediaLanguage LanguageOfMedia(Media media);

}  // namespace kestrel

#endif
