// The sound tracks of a movie as the filter offers them for selection: a
// track's language, name, format, channels, rate and the PCM depth the
// audio pin delivers it at, and which one plays by default.
#ifndef KESTREL_AUDIO_AUDIO_TRACKS_H
#define KESTREL_AUDIO_AUDIO_TRACKS_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "movie/media_language.h"
#include "qtmedia.h"

namespace kestrel {

struct AudioTrack {
  Track track = nullptr;  // of the movie the list was read from
  bool enabled = false;   // as the file has it
  MediaLanguage language;
  std::wstring name;  // the track's user-data name, else its handler's name
  OSType format = 0;  // the stream format's identifier ('aac ', 'ac-3', 'lpcm' ...)
  uint32_t channels = 0;
  uint32_t rate = 0;
  uint32_t bits = 0;  // the depth of the PCM delivered (OutputBits)
};

// The PCM depth delivered for a source of format (a stream format's
// identifier), stated depth (its bits per channel) and sample size (the
// sound description's): linear PCM and the lossless formats (Apple
// Lossless, FLAC) at their depth in whole bytes, 8 to 32 bits (float as 32,
// a lossless one that states none at its sample size); every other
// compressed format at 16 bits.
uint32_t OutputBits(OSType format, uint32_t stated_bits, int32_t sample_size);

// The movie's sound tracks in track order. S_OK (none is no failure);
// E_OUTOFMEMORY.
HRESULT ReadAudioTracks(Movie movie, std::vector<AudioTrack>* tracks);

// The position of the track that plays by default: where an alternate
// group holds several sound tracks, the first enabled member of the first
// such group; else the first enabled sound track; else the first. -1 for
// an empty list.
int DefaultAudioTrack(const std::vector<AudioTrack>& tracks);

// The name the stream selection shows: the name, with the language code in
// brackets after it when the file gives one ("Deutsch [ger]").
std::wstring DisplayName(const AudioTrack& track);

}  // namespace kestrel

#endif
