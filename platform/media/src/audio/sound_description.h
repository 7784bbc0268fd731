// The stream format of a sound description, as Core Audio would state it.
#ifndef QTMEDIA_AUDIO_SOUND_DESCRIPTION_H
#define QTMEDIA_AUDIO_SOUND_DESCRIPTION_H

#include <cstddef>
#include <cstdint>

#include "qtmedia.h"

namespace qtm {

// Reads a SoundDescription (version 0, 1 or 2, in memory: fixed part native,
// extension atoms big-endian) of size bytes. Uncompressed QuickTime codes
// ('twos', 'sowt', 'in24', 'fl32', 'lpcm' ...) and ISO 'ipcm' become linear
// PCM with their flags; 'mp4a' becomes the AAC kind its
// decoder configuration names, or MP3; ISO 'Opus' and 'fLaC' become Core
// Audio's 'opus' and 'flac'. The channel count comes from the codec's
// configuration where ISO files leave the description's at 2 (AC-3,
// E-AC-3) or it may differ (Opus, FLAC, ALAC). Compressed formats have 0
// bits per channel, except the lossless ones (FLAC, ALAC): the depth they
// were coded at. False when the record is short.
bool StreamFormatOfSoundDescription(const uint8_t* desc, size_t size, AudioStreamBasicDescription* out);

}  // namespace qtm

#endif
