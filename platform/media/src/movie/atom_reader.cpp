// The movie reader for QuickTime and ISO base media files (ISO/IEC 14496-12,
// QuickTime File Format). One container walker reads every atom tree; a table
// maps each four-character code to its handler. Nothing of the media data is
// read: sample tables are taken over in their run-length form.
#include <algorithm>
#include <cstring>
#include <map>

#include "movie/byte_reader.h"
#include "movie/descriptions.h"
#include "movie/movie_model.h"
#include "movie/mul_div.h"
#include "movie/sample_table.h"

namespace qtm {

namespace {

constexpr uint32_t FourCC(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) | (uint32_t(uint8_t(s[2])) << 8) |
         uint32_t(uint8_t(s[3]));
}

constexpr int kMaxDepth = 16;
// A leaf atom's payload is read into memory; sample tables of a few million
// entries fit, anything larger than this is refused.
constexpr uint64_t kMaxLeafBytes = 256u << 20;
// A fragment ('moof') up to this size is read at once and walked in memory.
constexpr uint64_t kMaxFragmentWindow = 16u << 20;

struct Atom {
  uint32_t type = 0;
  uint32_t parent = 0;  // type of the enclosing atom, 0 at the top
  uint64_t start = 0;   // offset of the header
  uint64_t payload = 0;
  uint64_t end = 0;  // one past the last byte
  bool clamped = false;  // its size said more than its parent holds
  uint64_t PayloadSize() const { return end - payload; }
};

struct TrackDefaults {  // 'trex'
  uint32_t description_index = 1;
  uint32_t duration = 0;
  uint32_t size = 0;
  uint32_t flags = 0;
};

struct TrackState {
  std::unique_ptr<TrackModel> model;
  std::unique_ptr<CompactSampleTable> table;
  std::vector<std::vector<uint8_t>> entries;  // raw 'stsd' entries
  int64_t mdhd_duration = 0;
  bool fragmented = false;
  uint32_t next_sample = 0;  // sample count seen in fragments
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
  explicit Reader(std::shared_ptr<DataSource> source) : source_(std::move(source)), file_size_(source_->Size()) {}

  OSErr Run(std::unique_ptr<MovieModel>* out);
  const std::string& reason() const { return reason_; }

 private:
  using Handler = OSErr (Reader::*)(const Atom&);
  struct Entry {
    uint32_t type;
    Handler handler;
  };
  static const Entry kHandlers[];

  OSErr Fail(const char* why) {
    if (reason_.empty()) reason_ = why;
    return invalidMovie;
  }
  // Reads the header at offset inside [offset, end).
  OSErr ReadHeader(uint64_t offset, uint64_t end, uint32_t parent, bool clamp, Atom* atom);
  // The container walker: every child of [begin, end) through the table.
  OSErr Walk(const Atom& parent);
  OSErr Dispatch(const Atom& atom);
  OSErr Load(const Atom& atom, std::vector<uint8_t>* bytes);
  OSErr FinishTrack(TrackState& t);

  OSErr ReadContainer(const Atom& a) { return Walk(a); }
  OSErr ReadMoov(const Atom& a);
  OSErr ReadMvhd(const Atom& a);
  OSErr ReadTrak(const Atom& a);
  OSErr ReadTkhd(const Atom& a);
  OSErr ReadElst(const Atom& a);
  OSErr ReadMdhd(const Atom& a);
  OSErr ReadHdlr(const Atom& a);
  OSErr ReadStsd(const Atom& a);
  OSErr ReadStts(const Atom& a);
  OSErr ReadCtts(const Atom& a);
  OSErr ReadStss(const Atom& a);
  OSErr ReadSdtp(const Atom& a);
  OSErr ReadStsc(const Atom& a);
  OSErr ReadStsz(const Atom& a);
  OSErr ReadStz2(const Atom& a);
  OSErr ReadStco(const Atom& a);
  OSErr ReadCo64(const Atom& a);
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
  std::string reason_;
  std::unique_ptr<MovieModel> movie_;
  std::vector<std::unique_ptr<TrackState>> tracks_;
  TrackState* track_ = nullptr;  // the 'trak' being read
  std::map<uint32_t, TrackDefaults> defaults_;
  FragmentState* fragment_ = nullptr;
  uint64_t moof_start_ = 0;
  // Where the data of the 'moof' being read ended so far: the base of a
  // track fragment that gives none (ISO/IEC 14496-12, 8.8.7).
  uint64_t implicit_base_ = 0;
  bool seen_mvhd_ = false;
  int depth_ = 0;
};

const Reader::Entry Reader::kHandlers[] = {
    {FourCC("moov"), &Reader::ReadMoov},      {FourCC("mvhd"), &Reader::ReadMvhd},
    {FourCC("trak"), &Reader::ReadTrak},      {FourCC("tkhd"), &Reader::ReadTkhd},
    {FourCC("edts"), &Reader::ReadContainer}, {FourCC("elst"), &Reader::ReadElst},
    {FourCC("mdia"), &Reader::ReadContainer}, {FourCC("mdhd"), &Reader::ReadMdhd},
    {FourCC("hdlr"), &Reader::ReadHdlr},      {FourCC("minf"), &Reader::ReadContainer},
    {FourCC("stbl"), &Reader::ReadContainer}, {FourCC("stsd"), &Reader::ReadStsd},
    {FourCC("stts"), &Reader::ReadStts},      {FourCC("ctts"), &Reader::ReadCtts},
    {FourCC("stss"), &Reader::ReadStss},      {FourCC("sdtp"), &Reader::ReadSdtp},
    {FourCC("stsc"), &Reader::ReadStsc},      {FourCC("stsz"), &Reader::ReadStsz},
    {FourCC("stz2"), &Reader::ReadStz2},      {FourCC("stco"), &Reader::ReadStco},
    {FourCC("co64"), &Reader::ReadCo64},      {FourCC("udta"), &Reader::ReadUdta},
    {FourCC("mvex"), &Reader::ReadContainer}, {FourCC("trex"), &Reader::ReadTrex},
    {FourCC("moof"), &Reader::ReadMoof},      {FourCC("traf"), &Reader::ReadTraf},
    {FourCC("tfhd"), &Reader::ReadTfhd},      {FourCC("tfdt"), &Reader::ReadTfdt},
    {FourCC("trun"), &Reader::ReadTrun},
};

bool PlausibleType(uint32_t type) {
  for (int i = 0; i < 4; ++i) {
    uint8_t c = uint8_t(type >> (24 - 8 * i));
    if (c < 0x20 || c > 0x7E) {
      if (c != 0xA9) return false;  // '©' as in QuickTime user data
    }
  }
  return true;
}

OSErr Reader::ReadHeader(uint64_t offset, uint64_t end, uint32_t parent, bool clamp, Atom* atom) {
  uint8_t h[16];
  if (end - offset < 8 || !source_->ReadAt(offset, h, 8)) return Fail("atom header cut short");
  uint64_t size = ReadBE32(h);
  atom->type = ReadBE32(h + 4);
  atom->parent = parent;
  atom->start = offset;
  uint64_t header = 8;
  if (size == 1) {
    if (end - offset < 16 || !source_->ReadAt(offset + 8, h + 8, 8)) return Fail("64-bit atom size cut short");
    size = (uint64_t(ReadBE32(h + 8)) << 32) | ReadBE32(h + 12);
    header = 16;
  } else if (size == 0) {
    size = end - offset;  // extends to the end of its parent
  }
  if (size < header) return Fail("atom size smaller than its header");
  if (size > end - offset) {
    if (!clamp) return Fail("atom overruns its parent");
    size = end - offset;
    atom->clamped = true;
  }
  atom->payload = offset + header;
  atom->end = offset + size;
  return noErr;
}

OSErr Reader::Walk(const Atom& parent) {
  if (++depth_ > kMaxDepth) {
    --depth_;
    return Fail("atoms nested too deep");
  }
  OSErr err = noErr;
  uint64_t pos = parent.payload;
  while (parent.end - pos >= 8) {
    Atom child;
    err = ReadHeader(pos, parent.end, parent.type, false, &child);
    if (err) break;
    err = Dispatch(child);
    if (err) break;
    pos = child.end;  // whatever the handler did not read is skipped
  }
  --depth_;
  return err;
}

OSErr Reader::Dispatch(const Atom& atom) {
  for (const Entry& e : kHandlers) {
    if (e.type == atom.type) return (this->*e.handler)(atom);
  }
  return noErr;
}

OSErr Reader::Load(const Atom& atom, std::vector<uint8_t>* bytes) {
  uint64_t n = atom.PayloadSize();
  if (n > kMaxLeafBytes) return Fail("table atom too large");
  bytes->resize(n);
  if (!source_->ReadAt(atom.payload, bytes->data(), n)) return Fail("atom cut short");
  return noErr;
}

// Every handler: noErr, or a failure with its reason kept; a handler that
// finds its atom shorter than its fields and counts say fails.
#define STREAM(atom)                                                        \
  auto stream_ = std::make_unique<StreamReader<DataSource>>(*source_, (atom).payload, (atom).PayloadSize()); \
  StreamReader<DataSource>& r = *stream_

#define LOAD_OR_FAIL(atom, bytes)          \
  std::vector<uint8_t> bytes;              \
  if (OSErr e_ = Load(atom, &bytes)) return e_; \
  ByteReader r(bytes.data(), bytes.size())

// The top level reads the first 'moov' itself; one found anywhere else is
// not part of the movie.
OSErr Reader::ReadMoov(const Atom&) { return noErr; }

OSErr Reader::ReadMvhd(const Atom& a) {
  if (a.parent != FourCC("moov")) return noErr;
  LOAD_OR_FAIL(a, bytes);
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
  if (movie_->duration < 0) movie_->duration = 0;
  if (movie_->timescale < 0) movie_->timescale = 0;
  seen_mvhd_ = true;
  return noErr;
}

OSErr Reader::ReadTrak(const Atom& a) {
  if (a.parent != FourCC("moov")) return noErr;
  auto t = std::make_unique<TrackState>();
  t->model = std::make_unique<TrackModel>();
  t->table = std::make_unique<CompactSampleTable>(file_size_);
  track_ = t.get();
  tracks_.push_back(std::move(t));
  OSErr err = Walk(a);
  track_ = nullptr;
  return err;
}

OSErr Reader::ReadTkhd(const Atom& a) {
  if (!track_ || a.parent != FourCC("trak")) return noErr;
  LOAD_OR_FAIL(a, bytes);
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
  r.Skip(8 + 2 + 2 + 2 + 2 + 36);
  m.width = r.S32() >> 16;
  m.height = r.S32() >> 16;
  if (!r.ok()) return Fail("tkhd too short");
  if (m.track_duration < 0) m.track_duration = 0;
  return noErr;
}

OSErr Reader::ReadElst(const Atom& a) {
  if (!track_) return noErr;
  LOAD_OR_FAIL(a, bytes);
  uint8_t version = r.U8();
  r.Skip(3);
  uint32_t count = r.U32();
  size_t entry = version == 1 ? 20 : 12;
  if (!r.ok() || count > r.remaining() / entry) return Fail("elst entry count exceeds the atom");
  auto& edits = track_->model->edits;
  edits.clear();
  edits.reserve(count);
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
    edits.push_back(e);
  }
  return r.ok() ? OSErr(noErr) : Fail("elst too short");
}

OSErr Reader::ReadMdhd(const Atom& a) {
  if (!track_ || a.parent != FourCC("mdia")) return noErr;
  LOAD_OR_FAIL(a, bytes);
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
  if (m.timescale < 0) m.timescale = 0;
  if (track_->mdhd_duration < 0) track_->mdhd_duration = 0;
  return noErr;
}

OSErr Reader::ReadHdlr(const Atom& a) {
  if (!track_ || a.parent != FourCC("mdia")) return noErr;
  LOAD_OR_FAIL(a, bytes);
  r.Skip(4 + 4);  // version, flags, component type
  uint32_t subtype = r.U32();
  r.Skip(12);
  if (!r.ok()) return Fail("hdlr too short");
  track_->model->media_type = subtype;
  // QuickTime writes a Pascal string, ISO files a C string.
  const char* p = reinterpret_cast<const char*>(r.here());
  size_t n = r.remaining();
  std::string name;
  if (n > 0 && uint8_t(p[0]) == n - 1) {
    name.assign(p + 1, n - 1);
  } else {
    name.assign(p, strnlen(p, n));
  }
  track_->model->handler_name = name;
  return noErr;
}

OSErr Reader::ReadStsd(const Atom& a) {
  if (!track_ || a.parent != FourCC("stbl")) return noErr;
  LOAD_OR_FAIL(a, bytes);
  r.Skip(4);
  uint32_t count = r.U32();
  if (!r.ok() || count > r.remaining() / 16) return Fail("stsd entry count exceeds the atom");
  track_->entries.clear();
  for (uint32_t i = 0; i < count; ++i) {
    if (r.remaining() < 16) return Fail("stsd entry cut short");
    uint32_t size = ReadBE32(r.here());
    if (size < 16 || size > r.remaining()) return Fail("stsd entry size out of range");
    track_->entries.emplace_back(r.here(), r.here() + size);
    r.Skip(size);
  }
  return noErr;
}

OSErr Reader::ReadStts(const Atom& a) {
  if (!track_ || a.parent != FourCC("stbl")) return noErr;
  STREAM(a);
  r.Skip(4);
  uint32_t count = r.U32();
  if (!r.ok() || count > r.remaining() / 8) return Fail("stts entry count exceeds the atom");
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t n = r.U32();
    uint32_t delta = r.U32();
    if (delta > 0x7FFFFFFFu) delta = 0;  // a negative delta as some writers leave it
    if (!track_->table->AddTimes(n, delta)) return Fail("more samples than the file can hold");
  }
  return noErr;
}

OSErr Reader::ReadCtts(const Atom& a) {
  if (!track_ || a.parent != FourCC("stbl")) return noErr;
  STREAM(a);
  r.Skip(4);
  uint32_t count = r.U32();
  if (!r.ok() || count > r.remaining() / 8) return Fail("ctts entry count exceeds the atom");
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t n = r.U32();
    int32_t offset = r.S32();
    if (!track_->table->AddDisplayOffsets(n, offset)) return Fail("more samples than the file can hold");
  }
  return noErr;
}

OSErr Reader::ReadStss(const Atom& a) {
  if (!track_ || a.parent != FourCC("stbl")) return noErr;
  STREAM(a);
  r.Skip(4);
  uint32_t count = r.U32();
  if (!r.ok() || count > r.remaining() / 4) return Fail("stss entry count exceeds the atom");
  if (count == 0) return noErr;  // an empty list: every sample is sync
  track_->table->MarkSyncList();
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t number = r.U32();
    if (number > 0) track_->table->AddSync(number - 1);
  }
  return noErr;
}

OSErr Reader::ReadSdtp(const Atom& a) {
  if (!track_ || a.parent != FourCC("stbl")) return noErr;
  STREAM(a);
  r.Skip(4);
  if (!r.ok()) return Fail("sdtp too short");
  uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(r.remaining(), 0x7FFFFFFF));
  for (uint32_t i = 0; i < n; ++i) track_->table->AddDependency(i, r.U8());
  return noErr;
}

OSErr Reader::ReadStsc(const Atom& a) {
  if (!track_ || a.parent != FourCC("stbl")) return noErr;
  STREAM(a);
  r.Skip(4);
  uint32_t count = r.U32();
  if (!r.ok() || count > r.remaining() / 12) return Fail("stsc entry count exceeds the atom");
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t first = r.U32();
    uint32_t per_chunk = r.U32();
    uint32_t description = r.U32();
    if (first == 0 || !track_->table->AddChunkRun(first - 1, per_chunk, description))
      return Fail("stsc entries out of order");
  }
  return noErr;
}

OSErr Reader::ReadStsz(const Atom& a) {
  if (!track_ || a.parent != FourCC("stbl")) return noErr;
  STREAM(a);
  r.Skip(4);
  uint32_t size = r.U32();
  uint32_t count = r.U32();
  if (!r.ok()) return Fail("stsz too short");
  if (size != 0) {
    if (!track_->table->AddSizes(count, size)) return Fail("more samples than the file can hold");
    return noErr;
  }
  if (count > r.remaining() / 4) return Fail("stsz entry count exceeds the atom");
  for (uint32_t i = 0; i < count; ++i) track_->table->AddSizes(1, r.U32());
  return noErr;
}

OSErr Reader::ReadStz2(const Atom& a) {
  if (!track_ || a.parent != FourCC("stbl")) return noErr;
  LOAD_OR_FAIL(a, bytes);
  r.Skip(4 + 3);
  uint8_t field = r.U8();
  uint32_t count = r.U32();
  if (!r.ok() || (field != 4 && field != 8 && field != 16)) return Fail("stz2 field size invalid");
  if (count > r.remaining() * 8 / field) return Fail("stz2 entry count exceeds the atom");
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t size;
    if (field == 16) {
      size = r.U16();
    } else if (field == 8) {
      size = r.U8();
    } else {
      uint8_t b = r.here()[0];
      size = (i & 1) ? (b & 0x0F) : (b >> 4);
      if (i & 1) r.Skip(1);
    }
    track_->table->AddSizes(1, size);
  }
  return noErr;
}

OSErr Reader::ReadStco(const Atom& a) {
  if (!track_ || a.parent != FourCC("stbl")) return noErr;
  STREAM(a);
  r.Skip(4);
  uint32_t count = r.U32();
  if (!r.ok() || count > r.remaining() / 4) return Fail("stco entry count exceeds the atom");
  for (uint32_t i = 0; i < count; ++i) track_->table->AddChunkOffset(r.U32());
  return noErr;
}

OSErr Reader::ReadCo64(const Atom& a) {
  if (!track_ || a.parent != FourCC("stbl")) return noErr;
  STREAM(a);
  r.Skip(4);
  uint32_t count = r.U32();
  if (!r.ok() || count > r.remaining() / 8) return Fail("co64 entry count exceeds the atom");
  for (uint32_t i = 0; i < count; ++i) track_->table->AddChunkOffset(r.U64());
  return noErr;
}

OSErr Reader::ReadUdta(const Atom& a) {
  if (a.parent != FourCC("moov")) return noErr;
  // User data is kept raw, child by child; a child that overruns is cut to
  // what is there, and a trailing 32-bit zero ends the list.
  uint64_t pos = a.payload;
  while (a.end - pos >= 8) {
    Atom child;
    if (ReadHeader(pos, a.end, a.type, true, &child) != noErr) {
      reason_.clear();
      break;
    }
    UserDataItem item;
    item.type = child.type;
    uint64_t n = child.PayloadSize();
    if (n > kMaxLeafBytes) return Fail("user data item too large");
    item.payload.resize(n);
    if (!source_->ReadAt(child.payload, item.payload.data(), n)) return Fail("user data cut short");
    movie_->user_data.push_back(std::move(item));
    pos = child.end;
  }
  return noErr;
}

OSErr Reader::ReadTrex(const Atom& a) {
  if (a.parent != FourCC("mvex")) return noErr;
  LOAD_OR_FAIL(a, bytes);
  r.Skip(4);
  uint32_t id = r.U32();
  TrackDefaults d;
  d.description_index = r.U32();
  d.duration = r.U32();
  d.size = r.U32();
  d.flags = r.U32();
  if (!r.ok()) return Fail("trex too short");
  defaults_[id] = d;
  return noErr;
}

OSErr Reader::ReadMoof(const Atom& a) {
  if (a.parent != 0) return noErr;
  moof_start_ = a.start;
  implicit_base_ = a.start;
  // A fragment is many small atoms: it is read at once and walked in memory.
  std::shared_ptr<DataSource> file = source_;
  uint64_t size = a.end - a.start;
  if (size <= kMaxFragmentWindow) {
    std::vector<uint8_t> bytes(size);
    if (file->ReadAt(a.start, bytes.data(), size)) source_ = MakeWindowSource(file, a.start, std::move(bytes));
  }
  OSErr err = Walk(a);
  source_ = file;
  return err;
}

OSErr Reader::ReadTraf(const Atom& a) {
  if (a.parent != FourCC("moof")) return noErr;
  FragmentState f;
  f.moof_start = moof_start_;
  fragment_ = &f;
  OSErr err = Walk(a);
  fragment_ = nullptr;
  if (f.track) implicit_base_ = f.next_offset;
  return err;
}

OSErr Reader::ReadTfhd(const Atom& a) {
  if (!fragment_) return noErr;
  LOAD_OR_FAIL(a, bytes);
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
  return noErr;
}

OSErr Reader::ReadTfdt(const Atom& a) {
  if (!fragment_) return noErr;
  LOAD_OR_FAIL(a, bytes);
  uint8_t version = r.U8();
  r.Skip(3);
  int64_t t = version == 1 ? r.S64() : int64_t(r.U32());
  if (!r.ok()) return Fail("tfdt too short");
  fragment_->decode_time = t;
  return noErr;
}

OSErr Reader::ReadTrun(const Atom& a) {
  if (!fragment_ || !fragment_->track) return noErr;
  FragmentState& f = *fragment_;
  TrackState& t = *f.track;
  CompactSampleTable& table = *t.table;
  STREAM(a);
  uint32_t flags = r.U32() & 0xFFFFFF;
  uint32_t count = r.U32();
  uint64_t offset = f.next_offset;
  if (flags & 0x000001) offset = f.base_offset + static_cast<int64_t>(r.S32());
  uint32_t first_flags = (flags & 0x000004) ? r.U32() : f.flags;
  if (!r.ok()) return Fail("trun too short");
  size_t per_sample = 4 * (((flags >> 8) & 1) + ((flags >> 9) & 1) + ((flags >> 10) & 1) + ((flags >> 11) & 1));
  if (per_sample ? count > r.remaining() / per_sample : count > file_size_)
    return Fail("trun sample count exceeds the atom");
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
  }
  f.next_offset = offset + bytes_total;
  return r.ok() ? OSErr(noErr) : Fail("trun too short");
}

OSErr Reader::FinishTrack(TrackState& t) {
  TrackModel& m = *t.model;
  for (const auto& e : t.entries) {
    m.descriptions.push_back(DescriptionFromEntry(m.media_type, e.data(), e.size()));
  }
  if (!t.table->Finish()) return Fail("sample tables contradict each other");
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
  Atom first;
  static const uint32_t kTopLevel[] = {FourCC("ftyp"), FourCC("moov"), FourCC("mdat"), FourCC("free"),
                                       FourCC("skip"), FourCC("wide"), FourCC("pnot"), FourCC("uuid"),
                                       FourCC("styp"), FourCC("junk"), FourCC("pdin"), FourCC("moof")};
  bool header_ok = ReadHeader(0, file_size_, 0, true, &first) == noErr;
  bool known = std::find(std::begin(kTopLevel), std::end(kTopLevel), first.type) != std::end(kTopLevel);
  if (!header_ok || !PlausibleType(first.type) || (first.clamped && !known)) {
    reason_ = "not a movie file";
    return badFileFormat;
  }
  // Top level: moov first (fragments need its defaults), then the fragments.
  std::vector<Atom> moofs;
  bool have_moov = false;
  uint64_t pos = 0;
  while (file_size_ - pos >= 8) {
    Atom atom;
    if (ReadHeader(pos, file_size_, 0, true, &atom) != noErr) break;
    if (atom.type == FourCC("moov") && !have_moov) {
      if (atom.clamped) return Fail("movie atom cut short");
      OSErr err = Walk(atom);
      if (err) return err;
      have_moov = true;
    } else if (atom.type == FourCC("moof")) {
      moofs.push_back(atom);
    }
    pos = atom.end;
  }
  if (!have_moov) {
    if (reason_.empty()) reason_ = "no movie atom";
    return invalidMovie;
  }
  for (const Atom& m : moofs) {
    if (OSErr err = ReadMoof(m)) return err;
  }
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

#undef LOAD_OR_FAIL
#undef STREAM

}  // namespace

OSErr ReadMovie(std::shared_ptr<DataSource> source, std::unique_ptr<MovieModel>* out, std::string* reason) {
  if (!source || !out) return paramErr;
  Reader reader(std::move(source));
  OSErr err = reader.Run(out);
  if (reason) *reason = err ? reader.reason() : std::string();
  return err;
}

}  // namespace qtm
