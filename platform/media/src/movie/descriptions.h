// Sample descriptions as QuickTime keeps them in memory: the fixed part of
// the record in native byte order, then the extension atoms exactly as in
// the file (big-endian).
#ifndef QTMEDIA_MOVIE_DESCRIPTIONS_H
#define QTMEDIA_MOVIE_DESCRIPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

#include "qtmedia.h"

namespace qtm {

// From one 'stsd' entry (its size and format fields included) of a media of
// the given type: ImageDescription for 'vide', SoundDescription (V0, V1,
// V2) for 'soun', TimeCodeDescription for 'tmcd', the common head alone for
// anything else or for an entry too short for its record.
std::vector<uint8_t> DescriptionFromEntry(OSType media_type, const uint8_t* entry, size_t size);

// One 'stsd' entry's fields as text for a dump: format, data reference, and
// for video, sound and time code the fields of their records; *extensions is
// where the extension atoms start (the entry's size when it has none).
std::string DescribeEntry(OSType media_type, const uint8_t* entry, size_t size, size_t* extensions);

// Records made for imported movies. extensions are appended as they are.
std::vector<uint8_t> MakeImageDescription(OSType codec, int width, int height, int depth, const std::string& name,
                                          const std::vector<uint8_t>& extensions);
std::vector<uint8_t> MakeSoundDescription(OSType format, int channels, int bits, double rate,
                                          const std::vector<uint8_t>& extensions);

// An atom of the given type around payload, big-endian header.
std::vector<uint8_t> MakeAtom(OSType type, const std::vector<uint8_t>& payload);

}  // namespace qtm

#endif
