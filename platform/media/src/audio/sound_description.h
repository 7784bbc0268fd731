// The stream format of a sound description, as Core Audio would state it.
#ifndef QTMEDIA_AUDIO_SOUND_DESCRIPTION_H
#define QTMEDIA_AUDIO_SOUND_DESCRIPTION_H

#include <cstddef>
#include <cstdint>

#include "qtmedia.h"

namespace qtm {

// Reads a SoundDescription (version 0, 1 or 2, in memory: fixed part native,
// extension atoms big-endian) of size bytes. Uncompressed QuickTime codes
// ('twos', 'sowt', 'in24', 'fl32' ...) become linear PCM with their flags;
// 'mp4a' becomes the AAC kind its decoder configuration names; compressed
// formats have 0 bits per channel. False when the record is short.
bool StreamFormatOfSoundDescription(const uint8_t* desc, size_t size, AudioStreamBasicDescription* out);

}  // namespace qtm

#endif
