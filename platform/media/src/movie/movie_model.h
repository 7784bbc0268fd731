// The engine's in-memory movie: what the movie reader (QuickTime and ISO base
// media files) or the importer (other kinds, through libavformat) builds at
// open, and what every QuickTime operation of the engine works from.
#ifndef QTMEDIA_MOVIE_MODEL_H
#define QTMEDIA_MOVIE_MODEL_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "movie/data_source.h"
#include "qtmedia.h"

namespace qtm {

// One media sample, as the sample tables give it. Times are media time units.
struct SampleInfo {
  int64_t decode_time = 0;
  int64_t display_offset = 0;  // display time = decode_time + display_offset
  int64_t duration = 0;
  uint64_t offset = 0;  // file offset of the data
  uint32_t size = 0;
  uint32_t description_index = 1;  // 1-based
  bool sync = true;
  bool droppable = false;
  // ISO 14496-12 'sdtp' byte (is_leading, depends_on, is_depended_on,
  // has_redundancy, two bits each); 0 when the file says nothing.
  uint8_t dependency = 0;
};

// Media-level sample table, kept compact (run-length where the file is).
class SampleTable {
 public:
  virtual ~SampleTable() = default;
  virtual uint32_t Count() const = 0;
  // index is 0-based; false when out of range.
  virtual bool Get(uint32_t index, SampleInfo* out) const = 0;
  // The sample whose decode interval [decode_time, decode_time + duration)
  // holds t; -1 when none does.
  virtual int64_t IndexAtDecodeTime(int64_t t) const = 0;
  // Sum of all durations.
  virtual int64_t TotalDuration() const = 0;
  // The last sample whose decode time is at or before t; -1 when none.
  virtual int64_t LastStartAtOrBefore(int64_t t) const = 0;
  // First sync sample at or after index, last one at or before it; -1 when none.
  virtual int64_t NextSync(int64_t index) const = 0;
  virtual int64_t PreviousSync(int64_t index) const = 0;
  virtual uint32_t SyncCount() const = 0;
  // Bytes of memory held by the table.
  virtual size_t MemoryBytes() const = 0;
};

// A transformation matrix as the file holds it (ISO/IEC 14496-12 8.3.2,
// QuickTime's MatrixRecord): a b u / c d v / x y w, row by row; u, v and w
// in 2.30 fixed point, the others in 16.16.
using Matrix = std::array<Fixed, 9>;
constexpr Matrix kIdentityMatrix = {fixed1, 0, 0, 0, fixed1, 0, 0, 0, 1 << 30};

// One edit list entry. media_time -1 is an empty edit.
struct Edit {
  int64_t segment_duration = 0;  // movie time scale
  int64_t media_time = 0;        // media time scale
  Fixed rate = fixed1;
};

// One moov/udta or trak/udta child, payload as stored (big-endian).
struct UserDataItem {
  OSType type = 0;
  std::vector<uint8_t> payload;
};

// The tracks one 'tref' child names.
struct TrackReference {
  OSType type = 0;  // 'chap', 'tmcd', 'hint' ...
  std::vector<uint32_t> track_ids;
};

struct TrackModel {
  uint32_t track_id = 0;
  OSType media_type = 0;  // 'vide', 'soun', 'tmcd' ...
  bool enabled = true;
  int16_t alternate_group = 0;  // tkhd; 0: in no group
  // mdhd: a Mac language code (below 0x400, or 0x7FFF unspecified) or an
  // ISO 639-2/T code packed in three 5-bit letters.
  uint16_t language = 0x7FFF;
  std::string extended_language;        // 'elng': a BCP 47 tag, or empty
  std::vector<UserDataItem> user_data;  // trak/udta children in file order
  std::vector<TrackReference> references;
  int32_t timescale = 0;       // media time scale
  int64_t media_duration = 0;  // media time scale
  int64_t track_duration = 0;  // movie time scale
  std::vector<Edit> edits;
  // Sample descriptions as QuickTime's in-memory records (ImageDescription,
  // SoundDescription ...): fixed part in native byte order, then the
  // extension atoms as in the file.
  std::vector<std::vector<uint8_t>> descriptions;
  std::unique_ptr<SampleTable> samples;
  int source_stream = -1;         // libavformat stream index, for imported movies
  std::string handler_name;       // from the media's 'hdlr'
  int32_t width = 0, height = 0;  // tkhd track size, integer part
  // The track's matrix (tkhd).
  Matrix matrix = kIdentityMatrix;
  // Where the media header and the sample descriptions are (offsets of
  // their atoms), to say where a fault lies; 0 for imported movies.
  uint64_t mdhd_offset = 0, stsd_offset = 0;
  uint64_t trak_offset = 0;  // of the track atom; 0 for imported movies
};

struct MovieModel {
  std::string path;         // UTF-8 path the movie was opened from
  bool imported = false;    // built by the libavformat importer
  std::string format_name;  // libavformat's name for imported movies
  int32_t timescale = 0;    // movie time scale
  int64_t duration = 0;     // movie time scale
  Fixed preferred_rate = fixed1;
  Matrix matrix = kIdentityMatrix;  // mvhd
  std::vector<std::unique_ptr<TrackModel>> tracks;
  std::vector<UserDataItem> user_data;                              // moov/udta children in file order
  std::vector<std::pair<std::string, std::string>> container_tags;  // imported movies
  std::shared_ptr<DataSource> source;
  uint64_t mvhd_offset = 0;  // where its movie header is; 0 when none
};

// An atom of a file: its type and the offset of its header.
struct AtomPlace {
  bool known = false;
  uint32_t type = 0;  // 0 when its header could not be read
  uint64_t offset = 0;
};

// Why a movie did not open: the file, or what the reader or the importer
// refused and where.
struct OpenFailure {
  FileOpenError file;       // kind kNone when the file itself opened
  std::string reason;       // the reader's or the importer's words
  AtomPlace atom;           // the atom the reader refused, when it names one
  bool no_streams = false;  // an imported kind with no sound or video stream
  bool imported = false;    // the importer refused it, not the movie reader
};

// Opens a movie from a file's bytes and its path (UTF-8): the movie reader
// for QuickTime and ISO base media files, the importer for the other
// registered kinds. Returns noErr or a QuickTime error, with why it failed
// when failure is given; *out is set only on success.
OSErr OpenMovieModel(std::shared_ptr<DataSource> source, const std::string& path, std::unique_ptr<MovieModel>* out,
                     OpenFailure* failure = nullptr);

// The same, opening the file at path first (failure->file says why it did
// not open).
OSErr OpenMovieModel(const std::string& path, std::unique_ptr<MovieModel>* out, OpenFailure* failure = nullptr);

// Whether a file may begin with an atom of this type ('ftyp', 'moov',
// 'mdat', 'free', 'wide' ...).
bool IsTopLevelAtomType(uint32_t type);

// Runs the movie reader (QuickTime and ISO base media files) on any source.
// A refusal gives its reason and, when it lies in one atom, that atom.
OSErr ReadMovie(std::shared_ptr<DataSource> source, std::unique_ptr<MovieModel>* out, std::string* reason = nullptr,
                AtomPlace* refused = nullptr);

// The atom tree of a QuickTime or ISO base media file as the movie reader
// walks it: a line per atom (type, size, "@" offset) indented two spaces a
// level, with the fields of the atoms the reader understands, and a last
// line "failed: REASON" when the reader refuses the file. Returns what
// ReadMovie would.
OSErr DumpAtoms(std::shared_ptr<DataSource> source, std::string* text);

// Whether a libavformat demuxer (its short name) reads one of the registered
// kinds the importer takes: AIFF, CAF, DV, ADTS AAC, GSM, AMR, SDP, and
// QuickTime or MPEG-4 files under other names ("mov,mp4,...").
bool IsImportedKind(const char* demuxer);

// Imports the other registered kinds through libavformat (badFileFormat
// for any kind libavformat knows that is not one of them).
OSErr ImportMovie(std::shared_ptr<DataSource> source, const std::string& path, std::unique_ptr<MovieModel>* out,
                  OpenFailure* failure = nullptr);

}  // namespace qtm

#endif
