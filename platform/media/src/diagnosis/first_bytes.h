// What a file that is not a movie of a kind the engine opens is, read from
// its first bytes: the signatures of common kinds the engine's libavformat
// leaves out (AVI, Matroska, MPEG-PS, WAV ...), then libavformat's probes
// for the kinds it has; plain text is told by its characters. Nothing is
// taken from the file's name.
#ifndef QTMEDIA_DIAGNOSIS_FIRST_BYTES_H
#define QTMEDIA_DIAGNOSIS_FIRST_BYTES_H

#include <string>

#include "movie/data_source.h"

namespace qtm {

struct FirstBytes {
  std::string kind;     // "AVI (Audio Video Interleaved)", "text" ..., or empty
  std::string demuxer;  // libavformat's short name of the kind ("avi", "mov,mp4,..."), or empty
  std::string hex;      // the first bytes (up to 8) in hexadecimal
};

FirstBytes ReadFirstBytes(const DataSource& source);

}  // namespace qtm

#endif
