// The movie reader for QuickTime and ISO base media files (ISO/IEC 14496-12,
// QuickTime File Format). The container walker reads every atom tree; a table
// maps each four-character code and the parent it belongs in to its handler.
// Nothing of the media data is read: sample tables are taken over in their
// run-length form.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <type_traits>

#include "movie/atom_walker.h"
#include "movie/byte_reader.h"
#include "movie/descriptions.h"
#include "movie/four_cc.h"
#include "movie/movie_model.h"
#include "movie/mul_div.h"
#include "movie/sample_table.h"

namespace qtm {

namespace {

// An atom whose payload is held in memory (descriptions, names, edit lists,
// user data items) larger than this is refused.
constexpr uint64_t kMaxLeafBytes = 256u << 20;
// The movie atom and each fragment ('moof') are many small atoms: up to
// this size they are read at once and walked in memory.
constexpr uint64_t kMaxWindow = 16u << 20;
// A dump shows this many entries of a table.
constexpr uint32_t kShownEntries = 6;

// The first entries of a table, for a dump; inactive when not dumping.
class EntryText {
 public:
  explicit EntryText(bool active) : active_(active) {}
  bool Wants() const { return active_ && shown_ < kShownEntries; }
  template <typename... Parts>
  void Add(Parts... parts) {
    text_ += shown_++ ? " " : "";
    const char* sep = "";
    ((text_ += sep + std::to_string(parts), sep = ":"), ...);
  }
  std::string Text(uint64_t count) const {
    return std::to_string(count) + " [" + text_ + (count > shown_ ? " ..." : "") + "]";
  }

 private:
  bool active_;
  uint32_t shown_ = 0;
  std::string text_;
};

std::string Hex(uint32_t v) {
  char text[12];
  snprintf(text, sizeof text, "0x%X", v);
  return text;
}

std::string FixedText(int32_t v) {  // 16.16
  char text[24];
  snprintf(text, sizeof text, "%g", v / 65536.0);
  return text;
}

// The nine values of a matrix; the dump shows them only when they are not
// the identity's, as "a b u c d v x y w" (16.16 and 2.30 as numbers).
Matrix ReadMatrix(ByteReader& r) {
  Matrix m;
  for (Fixed& v : m) v = r.S32();
  return m;
}

std::string MatrixText(const Matrix& m) {
  std::string text;
  for (size_t i = 0; i < m.size(); ++i) {
    char value[24];
    snprintf(value, sizeof value, "%g", m[i] / (i % 3 == 2 ? 1073741824.0 : 65536.0));
    text += (i ? " " : "") + std::string(value);
  }
  return text;
}

struct TrackDefaults {  // 'trex'
  uint32_t description_index = 1;
  uint32_t duration = 0;
  uint32_t size = 0;
  uint32_t flags = 0;
};

struct TrackState {
  uint64_t start = 0;  // of its 'trak'
  std::unique_ptr<TrackModel> model;
  std::unique_ptr<CompactSampleTable> table;
  std::vector<std::vector<uint8_t>> entries;  // raw 'stsd' entries
  int64_t mdhd_duration = 0;
  bool fragmented = false;
  uint32_t next_sample = 0;  // sample count seen in fragments
  bool described = false;    // a 'tkhd', 'mdhd' or 'hdlr' was read
};

struct FragmentState {  // one 'traf'
  uint64_t moof_start = 0;
  TrackState* track = nullptr;
  uint64_t base_offset = 0;
  uint64_t next_offset = 0;
  uint32_t description_index = 1;
  uint32_t duration = 0;
  uint32_t size = 0;
  uint32_t flags = 0;
  int64_t decode_time = -1;
};

class Reader {
 public:
  // With dumping, every atom walked adds a line (type, size, offset), and
  // the atoms the reader understands add their fields to it.
  Reader(std::shared_ptr<DataSource> source, bool dumping)
      : source_(std::move(source)),
        file_size_(source_->Size()),
        budget_(std::make_shared<SampleBudget>(file_size_)),
        dumping_(dumping) {}

  OSErr Run(std::unique_ptr<MovieModel>* out);
  const std::string& reason() const { return reason_; }
  // The atom the reader refused, when the refusal has one.
  const AtomPlace& refused() const { return refused_; }
  std::string Dump() const;

 private:
  // Every handler: noErr, or a failure with its reason kept; a handler that
  // finds its atom shorter than its fields and counts say fails. A handler
  // is called only for its atom inside the parent its entry names.
  using Handler = OSErr (Reader::*)(const Atom&);
  struct Entry {
    uint32_t type;
    uint32_t parent;
    Handler handler;
  };
  static const Entry kHandlers[];

  // A refusal of the atom being read, or of the one given.
  OSErr Fail(const char* why) { return reading_ ? FailAt(why, reading_->type, reading_->start) : FailAt(why, 0, 0); }
  OSErr FailAt(const char* why, uint32_t type, uint64_t offset) {
    if (reason_.empty()) {
      reason_ = why;
      if (type != 0 || offset != 0) refused_ = {true, type, offset};
    }
    return invalidMovie;
  }
  // Every child of parent through the table.
  OSErr Walk(const Atom& parent);
  OSErr Dispatch(const Atom& atom);
  // A reader of the atom's payload, straight from the source.
  ByteReader Payload(const Atom& a) const { return ByteReader(*source_, a.payload, a.PayloadSize()); }
  OSErr FinishTrack(TrackState& t);

  // The dump: a line for an atom, a line of text at a depth, a field of the
  // atom whose line was written last.
  void Line(const Atom& a);
  void Line(int depth, const std::string& text);
  void Show(const char* name, const std::string& value) {
    if (dump_) *dump_ += std::string(" ") + name + "=" + value;
  }
  template <typename T, typename = std::enable_if_t<std::is_integral_v<T>>>
  void Show(const char* name, T value) {
    if (dump_) Show(name, std::to_string(value));
  }
  void ShowCode(const char* name, uint32_t code) {
    if (dump_) Show(name, "'" + FourCCText(code) + "'");
  }

  // Walk, with the atom read into memory first when it is not too large.
  OSErr WalkHeld(const Atom& a);
  OSErr ReadContainer(const Atom& a) { return Walk(a); }
  OSErr ReadMvhd(const Atom& a);
  OSErr ReadTrak(const Atom& a);
  OSErr ReadTkhd(const Atom& a);
  OSErr ReadElst(const Atom& a);
  OSErr ReadMdhd(const Atom& a);
  OSErr ReadHdlr(const Atom& a);
  OSErr ReadElng(const Atom& a);
  OSErr ReadTref(const Atom& a);
  OSErr ReadStsd(const Atom& a);
  OSErr ReadStts(const Atom& a);
  OSErr ReadCtts(const Atom& a);
  OSErr ReadStss(const Atom& a);
  OSErr ReadSdtp(const Atom& a);
  OSErr ReadStsc(const Atom& a);
  OSErr ReadStsz(const Atom& a);
  OSErr ReadStz2(const Atom& a);
  OSErr ReadChunkOffsets(const Atom& a);
  OSErr ReadUdta(const Atom& a);
  OSErr ReadTrex(const Atom& a);
  OSErr ReadMoof(const Atom& a);
  OSErr ReadTraf(const Atom& a);
  OSErr ReadTfhd(const Atom& a);
  OSErr ReadTfdt(const Atom& a);
  OSErr ReadTrun(const Atom& a);

  TrackState* TrackById(uint32_t id) {
    for (auto& t : tracks_)
      if (t->model->track_id == id) return t.get();
    return nullptr;
  }

  std::shared_ptr<DataSource> source_;
  uint64_t file_size_;
  // The sample entries of every track together: one for each byte of the file.
  std::shared_ptr<SampleBudget> budget_;
  std::string reason_;
  AtomPlace refused_;
  const Atom* reading_ = nullptr;  // the atom whose handler runs
  std::unique_ptr<MovieModel> movie_;
  std::vector<std::unique_ptr<TrackState>> tracks_;
  TrackState* track_ = nullptr;  // the 'trak' being read
  std::map<uint32_t, TrackDefaults> defaults_;
  FragmentState* fragment_ = nullptr;
  uint64_t moof_start_ = 0;
  // Where the data of the 'moof' being read ended so far: the base of a
  // track fragment that gives none (ISO/IEC 14496-12, 8.8.7).
  uint64_t implicit_base_ = 0;
  bool dumping_;
  std::deque<std::string> blocks_;  // the dump, a block per top-level atom
  std::string* dump_ = nullptr;     // the block being written
};

// The top level ('moov', 'moof') is read by Run. A track's atoms are read
// only inside a 'trak' of the movie atom and a fragment's only inside a
// 'traf', so their handlers always have a track or a fragment to fill.
const Reader::Entry Reader::kHandlers[] = {
    {FourCC("mvhd"), FourCC("moov"), &Reader::ReadMvhd},
    {FourCC("trak"), FourCC("moov"), &Reader::ReadTrak},
    {FourCC("udta"), FourCC("moov"), &Reader::ReadUdta},
    {FourCC("mvex"), FourCC("moov"), &Reader::ReadContainer},
    {FourCC("trex"), FourCC("mvex"), &Reader::ReadTrex},
    {FourCC("tkhd"), FourCC("trak"), &Reader::ReadTkhd},
    {FourCC("udta"), FourCC("trak"), &Reader::ReadUdta},
    {FourCC("tref"), FourCC("trak"), &Reader::ReadTref},
    {FourCC("edts"), FourCC("trak"), &Reader::ReadContainer},
    {FourCC("elst"), FourCC("edts"), &Reader::ReadElst},
    {FourCC("mdia"), FourCC("trak"), &Reader::ReadContainer},
    {FourCC("mdhd"), FourCC("mdia"), &Reader::ReadMdhd},
    {FourCC("hdlr"), FourCC("mdia"), &Reader::ReadHdlr},
    {FourCC("elng"), FourCC("mdia"), &Reader::ReadElng},
    {FourCC("minf"), FourCC("mdia"), &Reader::ReadContainer},
    {FourCC("stbl"), FourCC("minf"), &Reader::ReadContainer},
    {FourCC("stsd"), FourCC("stbl"), &Reader::ReadStsd},
    {FourCC("stts"), FourCC("stbl"), &Reader::ReadStts},
    {FourCC("ctts"), FourCC("stbl"), &Reader::ReadCtts},
    {FourCC("stss"), FourCC("stbl"), &Reader::ReadStss},
    {FourCC("sdtp"), FourCC("stbl"), &Reader::ReadSdtp},
    {FourCC("stsc"), FourCC("stbl"), &Reader::ReadStsc},
    {FourCC("stsz"), FourCC("stbl"), &Reader::ReadStsz},
    {FourCC("stz2"), FourCC("stbl"), &Reader::ReadStz2},
    {FourCC("stco"), FourCC("stbl"), &Reader::ReadChunkOffsets},
    {FourCC("co64"), FourCC("stbl"), &Reader::ReadChunkOffsets},
    {FourCC("traf"), FourCC("moof"), &Reader::ReadTraf},
    {FourCC("tfhd"), FourCC("traf"), &Reader::ReadTfhd},
    {FourCC("tfdt"), FourCC("traf"), &Reader::ReadTfdt},
    {FourCC("trun"), FourCC("traf"), &Reader::ReadTrun},
};

}  // namespace

bool IsTopLevelAtomType(uint32_t type) {
  static const uint32_t kTopLevel[] = {FourCC("ftyp"), FourCC("moov"), FourCC("mdat"), FourCC("free"),
                                       FourCC("skip"), FourCC("wide"), FourCC("pnot"), FourCC("uuid"),
                                       FourCC("styp"), FourCC("junk"), FourCC("pdin"), FourCC("moof")};
  return std::find(std::begin(kTopLevel), std::end(kTopLevel), type) != std::end(kTopLevel);
}

namespace {

bool PlausibleType(uint32_t type) {
  for (int i = 0; i < 4; ++i) {
    uint8_t c = uint8_t(type >> (24 - 8 * i));
    if (c < 0x20 || c > 0x7E) {
      if (c != 0xA9) return false;  // '©' as in QuickTime user data
    }
  }
  return true;
}

void Reader::Line(int depth, const std::string& text) {
  if (!dump_) return;
  if (!dump_->empty()) *dump_ += '\n';
  *dump_ += std::string(2 * std::max(depth, 0), ' ') + text;
}

void Reader::Line(const Atom& a) {
  Line(a.depth, FourCCText(a.type) + " " + std::to_string(a.end - a.start) + " @" + std::to_string(a.start) +
                    (a.clamped ? " (held to its parent)" : ""));
}

std::string Reader::Dump() const {
  std::string text;
  for (const std::string& block : blocks_) text += block + "\n";
  return text;
}

OSErr Reader::Walk(const Atom& parent) {
  const char* why = nullptr;
  uint64_t next = parent.payload;  // where the next child's header is
  OSErr err = WalkAtoms(
      *source_, parent,
      [&](const Atom& child) {
        Line(child);
        next = child.end;
        return Dispatch(child);
      },
      &why);
  if (err && why) {
    // The header the walker refused (nesting too deep: the parent itself).
    if (parent.depth + 1 > kMaxAtomDepth) return FailAt(why, parent.type, parent.start);
    uint8_t type[4];
    return FailAt(why, source_->ReadAt(next + 4, type, 4) ? ReadBE32(type) : 0, next);
  }
  return err;
}

OSErr Reader::Dispatch(const Atom& atom) {
  for (const Entry& e : kHandlers) {
    if (e.type != atom.type || e.parent != atom.parent) continue;
    const Atom* outer = reading_;
    reading_ = &atom;
    OSErr err = (this->*e.handler)(atom);
    reading_ = outer;
    return err;
  }
  return noErr;
}

OSErr Reader::ReadMvhd(const Atom& a) {
  ByteReader r = Payload(a);
  uint8_t version = r.U8();
  r.Skip(3);
  if (version == 1) {
    r.Skip(16);
    movie_->timescale = r.S32();
    movie_->duration = r.S64();
  } else {
    r.Skip(8);
    movie_->timescale = r.S32();
    movie_->duration = r.U32();
  }
  movie_->preferred_rate = r.S32();
  if (!r.ok()) return Fail("mvhd too short");
  // The matrix after the volume and ten reserved bytes; a movie atom cut
  // before it keeps the identity.
  Matrix matrix = kIdentityMatrix;
  if (r.remaining() >= 12 + 36) {
    r.Skip(12);
    matrix = ReadMatrix(r);
  }
  movie_->matrix = matrix;
  movie_->mvhd_offset = a.start;
  Show("version", version);
  Show("timescale", movie_->timescale);
  Show("duration", movie_->duration);
  Show("rate", FixedText(movie_->preferred_rate));
  if (matrix != kIdentityMatrix) Show("matrix", MatrixText(matrix));
  if (movie_->duration < 0) movie_->duration = 0;
  if (movie_->timescale < 0) movie_->timescale = 0;
  return noErr;
}

OSErr Reader::ReadTrak(const Atom& a) {
  auto t = std::make_unique<TrackState>();
  t->start = a.start;
  t->model = std::make_unique<TrackModel>();
  t->model->trak_offset = a.start;
  t->table = std::make_unique<CompactSampleTable>(budget_);
  track_ = t.get();
  tracks_.push_back(std::move(t));
  OSErr err = Walk(a);
  // A track atom with neither a header nor a media is no track: nothing is
  // kept of it (a movie of many empty ones holds no memory for them).
  if (!err && !track_->described) tracks_.pop_back();
  track_ = nullptr;
  return err;
}

OSErr Reader::ReadTkhd(const Atom& a) {
  ByteReader r = Payload(a);
  uint8_t version = r.U8();
  uint32_t flags = r.U24();
  TrackModel& m = *track_->model;
  m.enabled = (flags & 1) != 0;
  if (version == 1) {
    r.Skip(16);
    m.track_id = r.U32();
    r.Skip(4);
    m.track_duration = r.S64();
  } else {
    r.Skip(8);
    m.track_id = r.U32();
    r.Skip(4);
    m.track_duration = r.U32();
  }
  r.Skip(8 + 2);  // reserved, layer
  m.alternate_group = r.S16();
  r.Skip(2 + 2);  // volume, reserved
  m.matrix = ReadMatrix(r);
  m.width = r.S32() >> 16;
  m.height = r.S32() >> 16;
  if (!r.ok()) return Fail("tkhd too short");
  track_->described = true;
  Show("version", version);
  Show("flags", Hex(flags));
  Show("track", m.track_id);
  Show("duration", m.track_duration);
  if (m.alternate_group) Show("group", m.alternate_group);
  Show("width", m.width);
  Show("height", m.height);
  if (m.matrix != kIdentityMatrix) Show("matrix", MatrixText(m.matrix));
  if (m.track_duration < 0) m.track_duration = 0;
  return noErr;
}

OSErr Reader::ReadElst(const Atom& a) {
  ByteReader r = Payload(a);
  uint8_t version = r.U8();
  r.Skip(3);
  uint32_t count = r.U32();
  size_t entry = version == 1 ? 20 : 12;
  if (!r.ok() || count > r.remaining() / entry) return Fail("elst entry count exceeds the atom");
  auto& edits = track_->model->edits;
  edits.clear();
  edits.reserve(count);
  EntryText shown(dump_ != nullptr);
  for (uint32_t i = 0; i < count; ++i) {
    Edit e;
    if (version == 1) {
      e.segment_duration = r.S64();
      e.media_time = r.S64();
    } else {
      e.segment_duration = r.U32();
      e.media_time = r.S32();
    }
    e.rate = r.S32();
    if (shown.Wants()) shown.Add(e.segment_duration, e.media_time, e.rate);
    edits.push_back(e);
  }
  if (!r.ok()) return Fail("elst too short");
  Show("version", version);
  Show("entries", shown.Text(count));
  return noErr;
}

OSErr Reader::ReadMdhd(const Atom& a) {
  ByteReader r = Payload(a);
  uint8_t version = r.U8();
  r.Skip(3);
  TrackModel& m = *track_->model;
  if (version == 1) {
    r.Skip(16);
    m.timescale = r.S32();
    track_->mdhd_duration = r.S64();
  } else {
    r.Skip(8);
    m.timescale = r.S32();
    uint32_t d = r.U32();
    track_->mdhd_duration = d == 0xFFFFFFFFu ? 0 : d;
  }
  if (!r.ok()) return Fail("mdhd too short");
  // A header cut before its language leaves the language unspecified.
  uint16_t language = r.U16();
  if (r.ok()) m.language = language;
  m.mdhd_offset = a.start;
  track_->described = true;
  Show("version", version);
  Show("timescale", m.timescale);
  Show("duration", track_->mdhd_duration);
  Show("language", Hex(m.language));
  if (m.timescale < 0) m.timescale = 0;
  if (track_->mdhd_duration < 0) track_->mdhd_duration = 0;
  return noErr;
}

OSErr Reader::ReadHdlr(const Atom& a) {
  if (a.PayloadSize() > kMaxLeafBytes) return Fail("table atom too large");
  ByteReader r = Payload(a);
  r.Skip(4 + 4);  // version, flags, component type
  uint32_t subtype = r.U32();
  r.Skip(12);
  if (!r.ok()) return Fail("hdlr too short");
  track_->described = true;
  track_->model->media_type = subtype;
  // QuickTime writes a Pascal string, ISO files a C string.
  std::vector<uint8_t> rest = r.Rest();
  const char* p = reinterpret_cast<const char*>(rest.data());
  size_t n = rest.size();
  std::string name;
  if (n > 0 && uint8_t(p[0]) == n - 1) {
    name.assign(p + 1, n - 1);
  } else {
    name.assign(p, strnlen(p, n));
  }
  track_->model->handler_name = name;
  ShowCode("subtype", subtype);
  Show("name", "\"" + name + "\"");
  return noErr;
}

// The extended language tag (QuickTime File Format; ISO/IEC 14496-12,
// 8.4.6): version and flags, then a zero-terminated BCP 47 tag.
OSErr Reader::ReadElng(const Atom& a) {
  if (a.PayloadSize() > 4 + 256) return noErr;  // no language tag is that long
  ByteReader r = Payload(a);
  r.Skip(4);
  if (!r.ok()) return Fail("elng too short");
  std::vector<uint8_t> rest = r.Rest();
  const char* p = reinterpret_cast<const char*>(rest.data());
  std::string tag(p, strnlen(p, rest.size()));
  for (char c : tag) {
    if (!(isalnum(static_cast<unsigned char>(c)) || c == '-')) return noErr;  // not a tag: ignored
  }
  track_->model->extended_language = tag;
  Show("tag", "\"" + tag + "\"");
  return noErr;
}

// Track references (ISO/IEC 14496-12, 8.3.3): each child a type and the
// track IDs it names. A child cut short ends the list.
OSErr Reader::ReadTref(const Atom& a) {
  const char* why = nullptr;
  OSErr err = WalkAtoms(
      *source_, a,
      [this](const Atom& child) {
        Line(child);
        ByteReader r = Payload(child);
        uint64_t count = r.remaining() / 4;
        if (count > 4096) return OSErr(noErr);  // more tracks than a movie has: ignored
        TrackReference ref;
        ref.type = child.type;
        EntryText shown(dump_ != nullptr);
        for (uint64_t i = 0; i < count; ++i) {
          ref.track_ids.push_back(r.U32());
          if (shown.Wants()) shown.Add(ref.track_ids.back());
        }
        Show("tracks", shown.Text(count));
        track_->model->references.push_back(std::move(ref));
        return OSErr(noErr);
      },
      &why);
  return why ? OSErr(noErr) : err;
}

OSErr Reader::ReadStsd(const Atom& a) {
  if (a.PayloadSize() > kMaxLeafBytes) return Fail("table atom too large");
  ByteReader r = Payload(a);
  r.Skip(4);
  uint32_t count = r.U32();
  if (!r.ok() || count > r.remaining() / 16) return Fail("stsd entry count exceeds the atom");
  track_->entries.clear();
  for (uint32_t i = 0; i < count; ++i) {
    if (r.remaining() < 16) return Fail("stsd entry cut short");
    uint32_t size = r.U32();
    if (size < 16 || size - 4 > r.remaining()) return Fail("stsd entry size out of range");
    std::vector<uint8_t> entry(size);
    for (int k = 0; k < 4; ++k) entry[k] = uint8_t(size >> (24 - 8 * k));
    r.Read(entry.data() + 4, size - 4);
    track_->entries.push_back(std::move(entry));
  }
  if (!r.ok()) return Fail("stsd too short");
  track_->model->stsd_offset = a.start;
  Show("entries", count);
  for (const auto& e : track_->entries) {
    if (!dump_) break;
    size_t extensions = e.size();
    Line(a.depth + 1, DescribeEntry(track_->model->media_type, e.data(), e.size(), &extensions));
    for (const AtomBytes& x : ChildAtoms(e.data() + extensions, e.size() - extensions))
      Line(a.depth + 2, FourCCText(x.type) + " " + std::to_string(x.AtomSize()));
  }
  return noErr;
}

OSErr Reader::ReadStts(const Atom& a) {
  ByteReader r = Payload(a);
  r.Skip(4);
  uint32_t count = r.U32();
  if (!r.ok() || count > r.remaining() / 8) return Fail("stts entry count exceeds the atom");
  EntryText shown(dump_ != nullptr);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t n = r.U32();
    uint32_t delta = r.U32();
    if (delta > 0x7FFFFFFFu) delta = 0;  // a negative delta as some writers leave it
    if (!track_->table->AddTimes(n, delta)) return Fail("more samples than the file can hold");
    if (shown.Wants()) shown.Add(n, delta);
  }
  Show("entries", shown.Text(count));
  return noErr;
}

OSErr Reader::ReadCtts(const Atom& a) {
  ByteReader r = Payload(a);
  r.Skip(4);
  uint32_t count = r.U32();
  if (!r.ok() || count > r.remaining() / 8) return Fail("ctts entry count exceeds the atom");
  EntryText shown(dump_ != nullptr);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t n = r.U32();
    int32_t offset = r.S32();
    if (!track_->table->AddDisplayOffsets(n, offset)) return Fail("more samples than the file can hold");
    if (shown.Wants()) shown.Add(n, offset);
  }
  Show("entries", shown.Text(count));
  return noErr;
}

OSErr Reader::ReadStss(const Atom& a) {
  ByteReader r = Payload(a);
  r.Skip(4);
  uint32_t count = r.U32();
  if (!r.ok() || count > r.remaining() / 4) return Fail("stss entry count exceeds the atom");
  EntryText shown(dump_ != nullptr);
  if (count > 0) track_->table->MarkSyncList();  // an empty list: every sample is sync
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t number = r.U32();
    if (number > 0) track_->table->AddSync(number - 1);
    if (shown.Wants()) shown.Add(number);
  }
  Show("entries", shown.Text(count));
  return noErr;
}

OSErr Reader::ReadSdtp(const Atom& a) {
  ByteReader r = Payload(a);
  r.Skip(4);
  if (!r.ok()) return Fail("sdtp too short");
  uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(r.remaining(), 0x7FFFFFFF));
  for (uint32_t i = 0; i < n; ++i) track_->table->AddDependency(i, r.U8());
  Show("samples", n);
  return noErr;
}

OSErr Reader::ReadStsc(const Atom& a) {
  ByteReader r = Payload(a);
  r.Skip(4);
  uint32_t count = r.U32();
  if (!r.ok() || count > r.remaining() / 12) return Fail("stsc entry count exceeds the atom");
  EntryText shown(dump_ != nullptr);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t first = r.U32();
    uint32_t per_chunk = r.U32();
    uint32_t description = r.U32();
    if (first == 0 || !track_->table->AddChunkRun(first - 1, per_chunk, description))
      return Fail("stsc entries out of order");
    if (shown.Wants()) shown.Add(first, per_chunk, description);
  }
  Show("entries", shown.Text(count));
  return noErr;
}

OSErr Reader::ReadStsz(const Atom& a) {
  ByteReader r = Payload(a);
  r.Skip(4);
  uint32_t size = r.U32();
  uint32_t count = r.U32();
  if (!r.ok()) return Fail("stsz too short");
  Show("size", size);
  if (size != 0) {
    if (!track_->table->AddSizes(count, size)) return Fail("more samples than the file can hold");
    Show("samples", count);
    return noErr;
  }
  if (count > r.remaining() / 4) return Fail("stsz entry count exceeds the atom");
  EntryText shown(dump_ != nullptr);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t sample_size = r.U32();
    track_->table->AddSizes(1, sample_size);
    if (shown.Wants()) shown.Add(sample_size);
  }
  Show("samples", shown.Text(count));
  return noErr;
}

OSErr Reader::ReadStz2(const Atom& a) {
  ByteReader r = Payload(a);
  r.Skip(4 + 3);
  uint8_t field = r.U8();
  uint32_t count = r.U32();
  uint8_t pair = 0;  // two 4-bit sizes a byte
  if (!r.ok() || (field != 4 && field != 8 && field != 16)) return Fail("stz2 field size invalid");
  if (count > r.remaining() * 8 / field) return Fail("stz2 entry count exceeds the atom");
  EntryText shown(dump_ != nullptr);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t size;
    if (field == 16) {
      size = r.U16();
    } else if (field == 8) {
      size = r.U8();
    } else {
      if (!(i & 1)) pair = r.U8();
      size = (i & 1) ? (pair & 0x0F) : (pair >> 4);
    }
    track_->table->AddSizes(1, size);
    if (shown.Wants()) shown.Add(size);
  }
  Show("field", field);
  Show("samples", shown.Text(count));
  return noErr;
}

// 'stco' and 'co64': chunk offsets of 32 and 64 bits.
OSErr Reader::ReadChunkOffsets(const Atom& a) {
  const bool wide = a.type == FourCC("co64");
  ByteReader r = Payload(a);
  r.Skip(4);
  uint32_t count = r.U32();
  if (!r.ok() || count > r.remaining() / (wide ? 8 : 4))
    return Fail(wide ? "co64 entry count exceeds the atom" : "stco entry count exceeds the atom");
  EntryText shown(dump_ != nullptr);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t offset = wide ? r.U64() : r.U32();
    track_->table->AddChunkOffset(offset);
    if (shown.Wants()) shown.Add(offset);
  }
  Show("chunks", shown.Text(count));
  return noErr;
}

OSErr Reader::ReadUdta(const Atom& a) {
  // User data is kept raw, item by item: the movie's, or the track's. A
  // broken item header ends the list and the movie opens with the items
  // before it.
  std::vector<UserDataItem>& items = a.parent == FourCC("trak") ? track_->model->user_data : movie_->user_data;
  const char* why = nullptr;
  OSErr err = WalkAtoms(
      *source_, a,
      [this, &items](const Atom& child) {
        Line(child);
        if (child.PayloadSize() > kMaxLeafBytes) return Fail("user data item too large");
        ByteReader r = Payload(child);
        UserDataItem item;
        item.type = child.type;
        item.payload = r.Rest();
        if (!r.ok()) return Fail("user data cut short");
        items.push_back(std::move(item));
        return OSErr(noErr);
      },
      &why);
  return why ? OSErr(noErr) : err;
}

OSErr Reader::ReadTrex(const Atom& a) {
  ByteReader r = Payload(a);
  r.Skip(4);
  uint32_t id = r.U32();
  TrackDefaults d;
  d.description_index = r.U32();
  d.duration = r.U32();
  d.size = r.U32();
  d.flags = r.U32();
  if (!r.ok()) return Fail("trex too short");
  defaults_[id] = d;
  Show("track", id);
  Show("description", d.description_index);
  Show("duration", d.duration);
  Show("size", d.size);
  Show("flags", Hex(d.flags));
  return noErr;
}

OSErr Reader::WalkHeld(const Atom& a) {
  std::shared_ptr<DataSource> file = source_;
  uint64_t size = a.end - a.start;
  if (size <= kMaxWindow) {
    std::vector<uint8_t> bytes(size);
    if (file->ReadAt(a.start, bytes.data(), size)) source_ = MakeWindowSource(file, a.start, std::move(bytes));
  }
  OSErr err = Walk(a);
  source_ = file;
  return err;
}

OSErr Reader::ReadMoof(const Atom& a) {
  moof_start_ = a.start;
  implicit_base_ = a.start;
  return WalkHeld(a);
}

OSErr Reader::ReadTraf(const Atom& a) {
  FragmentState f;
  f.moof_start = moof_start_;
  fragment_ = &f;
  OSErr err = Walk(a);
  fragment_ = nullptr;
  if (f.track) implicit_base_ = f.next_offset;
  return err;
}

OSErr Reader::ReadTfhd(const Atom& a) {
  ByteReader r = Payload(a);
  uint32_t flags = r.U32() & 0xFFFFFF;
  uint32_t id = r.U32();
  FragmentState& f = *fragment_;
  f.track = TrackById(id);
  TrackDefaults d;
  auto it = defaults_.find(id);
  if (it != defaults_.end()) d = it->second;
  // The base: given; the 'moof' (default-base-is-moof); or, given neither,
  // the 'moof' for its first track fragment and the end of the data of the
  // one before for every later one.
  f.base_offset = (flags & 0x020000) ? f.moof_start : implicit_base_;
  if (flags & 0x000001) f.base_offset = r.U64();
  f.description_index = (flags & 0x000002) ? r.U32() : d.description_index;
  f.duration = (flags & 0x000008) ? r.U32() : d.duration;
  f.size = (flags & 0x000010) ? r.U32() : d.size;
  f.flags = (flags & 0x000020) ? r.U32() : d.flags;
  if (!r.ok()) return Fail("tfhd too short");
  f.next_offset = f.base_offset;
  Show("flags", Hex(flags));
  Show("track", id);
  Show("base", f.base_offset);
  Show("description", f.description_index);
  Show("duration", f.duration);
  Show("size", f.size);
  Show("sample_flags", Hex(f.flags));
  return noErr;
}

OSErr Reader::ReadTfdt(const Atom& a) {
  ByteReader r = Payload(a);
  uint8_t version = r.U8();
  r.Skip(3);
  int64_t t = version == 1 ? r.S64() : int64_t(r.U32());
  if (!r.ok()) return Fail("tfdt too short");
  fragment_->decode_time = t;
  Show("version", version);
  Show("decode_time", t);
  return noErr;
}

OSErr Reader::ReadTrun(const Atom& a) {
  if (!fragment_->track) return noErr;  // a fragment of a track the movie does not have
  FragmentState& f = *fragment_;
  TrackState& t = *f.track;
  CompactSampleTable& table = *t.table;
  ByteReader r = Payload(a);
  uint32_t flags = r.U32() & 0xFFFFFF;
  uint32_t count = r.U32();
  uint64_t offset = f.next_offset;
  if (flags & 0x000001) offset = f.base_offset + static_cast<int64_t>(r.S32());
  uint32_t first_flags = (flags & 0x000004) ? r.U32() : f.flags;
  if (!r.ok()) return Fail("trun too short");
  size_t per_sample = 4 * (((flags >> 8) & 1) + ((flags >> 9) & 1) + ((flags >> 10) & 1) + ((flags >> 11) & 1));
  if (per_sample ? count > r.remaining() / per_sample : count > budget_->Left())
    return Fail(per_sample ? "trun sample count exceeds the atom" : "more samples than the file can hold");
  Show("flags", Hex(flags));
  Show("data", offset);
  if (count == 0) return noErr;
  if (!t.fragmented) {
    t.fragmented = true;
    t.next_sample = static_cast<uint32_t>(std::min<uint64_t>(table.TimeTotal(), 0x7FFFFFFF));
    table.KeepSyncPrefix(t.next_sample);
  }
  // Each run of samples is one chunk.
  if (!table.AddChunkRun(static_cast<uint32_t>(table.ChunkCount()), count, f.description_index))
    return Fail("trun chunk out of order");
  table.AddChunkOffset(offset);
  int64_t start = f.decode_time;
  f.decode_time = -1;  // only the first run of a fragment starts there
  uint64_t bytes_total = 0;
  EntryText shown(dump_ != nullptr);
  if (per_sample == 0) {
    // Every sample as the defaults say, but the first one's flags: runs.
    if (!table.AddTimes(1, f.duration, start) || !table.AddTimes(count - 1, f.duration) ||
        !table.AddSizes(count, f.size) || !table.AddDisplayOffsets(count, 0))
      return Fail("more samples than the file can hold");
    uint32_t index = t.next_sample;
    if (!(first_flags & 0x10000)) table.AddSync(index);
    if (!(f.flags & 0x10000)) table.AddSync(index + 1, count - 1);
    table.AddDependency(index, static_cast<uint8_t>(first_flags >> 20));
    table.AddDependency(index + 1, static_cast<uint8_t>(f.flags >> 20), count - 1);
    t.next_sample += count;
    for (uint32_t i = 0; i < count && shown.Wants(); ++i) shown.Add(f.duration, f.size, 0);
    f.next_offset = offset + uint64_t{count} * f.size;
    Show("samples", shown.Text(count));
    return noErr;
  }
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t duration = (flags & 0x000100) ? r.U32() : f.duration;
    uint32_t size = (flags & 0x000200) ? r.U32() : f.size;
    uint32_t sample_flags = (flags & 0x000400) ? r.U32() : (i == 0 ? first_flags : f.flags);
    int32_t cto = (flags & 0x000800) ? r.S32() : 0;
    if (!table.AddTimes(1, duration, i == 0 ? start : -1) || !table.AddSizes(1, size) ||
        !table.AddDisplayOffsets(1, cto))
      return Fail("more samples than the file can hold");
    uint32_t index = t.next_sample++;
    if (!(sample_flags & 0x10000)) table.AddSync(index);
    table.AddDependency(index, static_cast<uint8_t>(sample_flags >> 20));
    bytes_total += size;
    if (shown.Wants()) shown.Add(duration, size, cto);
  }
  f.next_offset = offset + bytes_total;
  if (!r.ok()) return Fail("trun too short");
  Show("samples", shown.Text(count));
  return noErr;
}

OSErr Reader::FinishTrack(TrackState& t) {
  TrackModel& m = *t.model;
  for (const auto& e : t.entries) {
    m.descriptions.push_back(DescriptionFromEntry(m.media_type, e.data(), e.size()));
  }
  if (!t.table->Finish()) return FailAt("sample tables contradict each other", FourCC("trak"), t.start);
  m.media_duration = t.fragmented || t.mdhd_duration == 0 ? t.table->TotalDuration() : t.mdhd_duration;
  m.samples = std::move(t.table);
  return noErr;
}

OSErr Reader::Run(std::unique_ptr<MovieModel>* out) {
  if (file_size_ == 0) {
    reason_ = "empty file";
    return eofErr;
  }
  movie_ = std::make_unique<MovieModel>();
  movie_->source = source_;
  movie_->timescale = 0;
  // The first atom tells a movie from anything else.
  const Atom file = WholeSource(file_size_);
  const char* why = nullptr;
  Atom first;
  bool header_ok = ReadAtomHeader(*source_, file, 0, &first, &why) == noErr;
  if (!header_ok || !PlausibleType(first.type) || (first.clamped && !IsTopLevelAtomType(first.type))) {
    reason_ = "not a movie file";
    return badFileFormat;
  }
  // Top level: moov first (fragments need its defaults), then the fragments.
  // A dump keeps the file's order: a block of lines per top-level atom.
  struct Fragment {
    Atom atom;
    std::string* block;
  };
  std::vector<Fragment> moofs;
  bool have_moov = false;
  why = nullptr;
  AtomPlace cut;  // a top-level atom the end of the file cut short
  OSErr err = WalkAtoms(
      *source_, file,
      [&](const Atom& atom) {
        if (dumping_) dump_ = &blocks_.emplace_back();
        Line(atom);
        if (atom.clamped) cut = {true, atom.type, atom.start};
        if (atom.type == FourCC("moov") && !have_moov) {
          if (atom.clamped) return FailAt("movie atom cut short", atom.type, atom.start);
          const Atom* outer = reading_;
          reading_ = &atom;
          OSErr e = WalkHeld(atom);
          reading_ = outer;
          if (e) return e;
          have_moov = true;
        } else if (atom.type == FourCC("moof")) {
          moofs.push_back({atom, dump_});
        }
        return OSErr(noErr);
      },
      &why);
  // A broken header at the top level ends the file; what came before stands.
  if (err && !why) return err;
  if (!have_moov && cut.known) return FailAt("file cut short before its movie atom", cut.type, cut.offset);
  if (!have_moov) return Fail(why ? why : "no movie atom");
  for (const Fragment& m : moofs) {
    dump_ = m.block;
    reading_ = &m.atom;
    OSErr e = ReadMoof(m.atom);
    reading_ = nullptr;
    if (e) return e;
  }
  dump_ = nullptr;
  for (auto& t : tracks_) {
    if (OSErr err = FinishTrack(*t)) return err;
    movie_->tracks.push_back(std::move(t->model));
  }
  if (movie_->duration == 0 && movie_->timescale > 0) {
    for (const auto& t : movie_->tracks) {
      if (t->timescale <= 0) continue;
      int64_t d = MulDiv64(t->media_duration, movie_->timescale, t->timescale);
      movie_->duration = std::max(movie_->duration, d);
    }
  }
  *out = std::move(movie_);
  return noErr;
}

}  // namespace

OSErr ReadMovie(std::shared_ptr<DataSource> source, std::unique_ptr<MovieModel>* out, std::string* reason,
                AtomPlace* refused) {
  if (!source || !out) return paramErr;
  Reader reader(std::move(source), false);
  OSErr err = reader.Run(out);
  if (reason) *reason = err ? reader.reason() : std::string();
  if (refused) *refused = err ? reader.refused() : AtomPlace();
  return err;
}

OSErr DumpAtoms(std::shared_ptr<DataSource> source, std::string* text) {
  if (!source || !text) return paramErr;
  Reader reader(std::move(source), true);
  std::unique_ptr<MovieModel> movie;
  OSErr err = reader.Run(&movie);
  *text = reader.Dump();
  if (err) *text += "failed: " + reader.reason() + "\n";
  return err;
}

}  // namespace qtm
