// A small QuickTime/ISO movie writer for the reader tests: builds movies
// byte by byte in memory, with the features and the faults a test asks for.
#ifndef QTMEDIA_TESTS_MOVIE_WRITER_H
#define QTMEDIA_TESTS_MOVIE_WRITER_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace testmovie {

using Bytes = std::vector<uint8_t>;

inline void Put8(Bytes& b, uint32_t v) { b.push_back(uint8_t(v)); }
inline void Put16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v >> 8));
  b.push_back(uint8_t(v));
}
inline void Put32(Bytes& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void Put64(Bytes& b, uint64_t v) {
  for (int i = 7; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void PutType(Bytes& b, const char* t) { b.insert(b.end(), t, t + 4); }
inline void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

inline Bytes Atom(const char* type, const Bytes& payload) {
  Bytes b;
  Put32(b, uint32_t(payload.size() + 8));
  PutType(b, type);
  Append(b, payload);
  return b;
}

// With a 64-bit size field.
inline Bytes Atom64(const char* type, const Bytes& payload) {
  Bytes b;
  Put32(b, 1);
  PutType(b, type);
  Put64(b, payload.size() + 16);
  Append(b, payload);
  return b;
}

inline Bytes FullAtom(const char* type, uint8_t version, uint32_t flags, const Bytes& payload) {
  Bytes b;
  Put8(b, version);
  Put8(b, flags >> 16);
  Put16(b, flags);
  Append(b, payload);
  return Atom(type, b);
}

struct Sample {
  uint32_t duration = 1;
  uint32_t size = 4;
  bool sync = true;
  uint8_t sdtp = 0;  // 0: no dependency information
  int32_t display_offset = 0;
};

struct EditEntry {
  uint32_t segment_duration;
  int32_t media_time;
};

struct TrackSpec {
  std::string media_type = "vide";
  std::string codec = "avc1";
  uint32_t timescale = 600;
  uint16_t width = 64, height = 48;
  std::string compressor = "Test";
  std::vector<Sample> samples;
  std::vector<EditEntry> edits;
  uint32_t samples_per_chunk = 1;
  Bytes extensions;  // atoms after the fixed part of the sample entry
};

struct MovieSpec {
  uint32_t timescale = 600;
  std::vector<TrackSpec> tracks;
  bool co64 = false;
  bool with_sdtp = false;
  bool big_mdat = false;    // mdat with a 64-bit size
  bool fragmented = false;  // samples in moof/traf/trun, one fragment per 4 samples
  // With fragmented: one moof holds the next 4 samples of every track, each
  // traf without a base offset (its base is where the one before ended).
  bool shared_fragments = false;
};

// Sample k of track t holds bytes (t * 16 + k) & 0xFF.
inline uint8_t SampleByte(size_t track, size_t k) { return uint8_t(track * 16 + k); }

inline Bytes SampleEntry(const TrackSpec& t) {
  Bytes e;
  for (int i = 0; i < 6; ++i) Put8(e, 0);
  Put16(e, 1);  // data reference index
  if (t.media_type == "vide") {
    Put16(e, 0);
    Put16(e, 0);
    PutType(e, "appl");
    Put32(e, 0);
    Put32(e, 512);
    Put16(e, t.width);
    Put16(e, t.height);
    Put32(e, 72 << 16);
    Put32(e, 72 << 16);
    Put32(e, 0);
    Put16(e, 1);
    uint8_t name[32] = {};
    name[0] = uint8_t(t.compressor.size());
    std::memcpy(name + 1, t.compressor.data(), std::min<size_t>(t.compressor.size(), 31));
    e.insert(e.end(), name, name + 32);
    Put16(e, 24);
    Put16(e, 0xFFFF);
  } else if (t.media_type == "soun") {
    Put16(e, 0);
    Put16(e, 0);
    Put32(e, 0);
    Put16(e, 2);
    Put16(e, 16);
    Put16(e, 0);
    Put16(e, 0);
    Put32(e, t.timescale << 16);
  }
  Append(e, t.extensions);
  return Atom(t.codec.c_str(), e);
}

inline Bytes SampleTables(const TrackSpec& t, const std::vector<uint64_t>& chunk_offsets, const MovieSpec& m,
                          bool with_samples) {
  Bytes stsd;
  Put32(stsd, 1);
  Append(stsd, SampleEntry(t));
  Bytes stbl = FullAtom("stsd", 0, 0, stsd);
  std::vector<Sample> none;
  const std::vector<Sample>& s = with_samples ? t.samples : none;
  Bytes stts, ctts, stss, sdtp, stsz, stsc, stco;
  uint32_t runs = 0;
  for (size_t i = 0; i < s.size();) {
    size_t j = i;
    while (j < s.size() && s[j].duration == s[i].duration) ++j;
    Put32(stts, uint32_t(j - i));
    Put32(stts, s[i].duration);
    ++runs;
    i = j;
  }
  Bytes stts_full;
  Put32(stts_full, runs);
  Append(stts_full, stts);
  Append(stbl, FullAtom("stts", 0, 0, stts_full));
  bool any_offset = false, all_sync = true;
  for (const Sample& x : s) {
    any_offset |= x.display_offset != 0;
    all_sync &= x.sync;
  }
  if (any_offset) {
    Put32(ctts, uint32_t(s.size()));
    for (const Sample& x : s) {
      Put32(ctts, 1);
      Put32(ctts, uint32_t(x.display_offset));
    }
    Append(stbl, FullAtom("ctts", 0, 0, ctts));
  }
  if (!all_sync) {
    uint32_t n = 0;
    Bytes list;
    for (size_t i = 0; i < s.size(); ++i)
      if (s[i].sync) {
        Put32(list, uint32_t(i + 1));
        ++n;
      }
    Put32(stss, n);
    Append(stss, list);
    Append(stbl, FullAtom("stss", 0, 0, stss));
  }
  if (m.with_sdtp && !s.empty()) {
    for (const Sample& x : s) Put8(sdtp, x.sdtp);
    Append(stbl, FullAtom("sdtp", 0, 0, sdtp));
  }
  Put32(stsc, s.empty() ? 0 : 1);
  if (!s.empty()) {
    Put32(stsc, 1);
    Put32(stsc, t.samples_per_chunk);
    Put32(stsc, 1);
  }
  Append(stbl, FullAtom("stsc", 0, 0, stsc));
  Put32(stsz, 0);
  Put32(stsz, uint32_t(s.size()));
  for (const Sample& x : s) Put32(stsz, x.size);
  Append(stbl, FullAtom("stsz", 0, 0, stsz));
  Put32(stco, uint32_t(chunk_offsets.size()));
  for (uint64_t o : chunk_offsets) {
    if (m.co64) {
      Put64(stco, o);
    } else {
      Put32(stco, uint32_t(o));
    }
  }
  Append(stbl, FullAtom(m.co64 ? "co64" : "stco", 0, 0, stco));
  return Atom("stbl", stbl);
}

inline uint64_t MediaDuration(const TrackSpec& t) {
  uint64_t d = 0;
  for (const Sample& s : t.samples) d += s.duration;
  return d;
}

inline Bytes Trak(const TrackSpec& t, size_t index, const std::vector<uint64_t>& chunks, const MovieSpec& m) {
  Bytes tkhd;
  Put32(tkhd, 0);
  Put32(tkhd, 0);
  Put32(tkhd, uint32_t(index + 1));
  Put32(tkhd, 0);
  Put32(tkhd, uint32_t(MediaDuration(t) * m.timescale / t.timescale));
  for (int i = 0; i < 8 + 2 + 2 + 2 + 2; ++i) Put8(tkhd, 0);
  for (int i = 0; i < 9; ++i) Put32(tkhd, i % 4 == 0 ? 0x10000 : 0);
  Put32(tkhd, uint32_t(t.width) << 16);
  Put32(tkhd, uint32_t(t.height) << 16);
  Bytes trak = FullAtom("tkhd", 0, 1, tkhd);
  if (!t.edits.empty()) {
    Bytes elst;
    Put32(elst, uint32_t(t.edits.size()));
    for (const EditEntry& e : t.edits) {
      Put32(elst, e.segment_duration);
      Put32(elst, uint32_t(e.media_time));
      Put32(elst, 0x10000);
    }
    Append(trak, Atom("edts", FullAtom("elst", 0, 0, elst)));
  }
  Bytes mdhd;
  Put32(mdhd, 0);
  Put32(mdhd, 0);
  Put32(mdhd, t.timescale);
  Put32(mdhd, m.fragmented ? 0 : uint32_t(MediaDuration(t)));
  Put16(mdhd, 0);
  Put16(mdhd, 0);
  Bytes hdlr;
  PutType(hdlr, "mhlr");
  PutType(hdlr, t.media_type.c_str());
  for (int i = 0; i < 12; ++i) Put8(hdlr, 0);
  std::string name = "Test Media Handler";
  Put8(hdlr, uint32_t(name.size()));
  hdlr.insert(hdlr.end(), name.begin(), name.end());
  Bytes minf = SampleTables(t, chunks, m, !m.fragmented);
  Bytes mdia = FullAtom("mdhd", 0, 0, mdhd);
  Append(mdia, FullAtom("hdlr", 0, 0, hdlr));
  Append(mdia, Atom("minf", minf));
  Append(trak, Atom("mdia", mdia));
  return Atom("trak", trak);
}

inline Bytes Mvhd(const MovieSpec& m) {
  uint64_t duration = 0;
  for (const TrackSpec& t : m.tracks) duration = std::max(duration, MediaDuration(t) * m.timescale / t.timescale);
  Bytes mvhd;
  Put32(mvhd, 0);
  Put32(mvhd, 0);
  Put32(mvhd, m.timescale);
  Put32(mvhd, m.fragmented ? 0 : uint32_t(duration));
  Put32(mvhd, 0x10000);
  Put16(mvhd, 0x100);
  for (int i = 0; i < 10; ++i) Put8(mvhd, 0);
  for (int i = 0; i < 9; ++i) Put32(mvhd, i % 4 == 0 ? 0x10000 : 0);
  for (int i = 0; i < 6; ++i) Put32(mvhd, 0);
  Put32(mvhd, uint32_t(m.tracks.size() + 1));
  return FullAtom("mvhd", 0, 0, mvhd);
}

// Fragments whose moof holds a traf for every track, in track order, then
// one mdat with their data in the same order. No tfhd gives a base: the
// first traf's trun points into the mdat from the start of the moof, every
// later trun gives no data offset (its data follows the traf before).
inline Bytes SharedFragments(const MovieSpec& m) {
  Bytes out;
  size_t longest = 0;
  for (const TrackSpec& t : m.tracks) longest = std::max(longest, t.samples.size());
  std::vector<uint64_t> decode(m.tracks.size(), 0);
  for (size_t first = 0, number = 1; first < longest; first += 4, ++number) {
    Bytes mfhd;
    Put32(mfhd, uint32_t(number));
    Bytes moof_payload = FullAtom("mfhd", 0, 0, mfhd);
    size_t offset_at = 0;  // of the first trun's data offset, in moof_payload
    Bytes data;
    for (size_t t = 0; t < m.tracks.size(); ++t) {
      const TrackSpec& tr = m.tracks[t];
      if (first >= tr.samples.size()) continue;
      size_t n = std::min<size_t>(4, tr.samples.size() - first);
      bool first_traf = data.empty();
      Bytes tfhd, tfdt, trun;
      Put32(tfhd, uint32_t(t + 1));
      Put64(tfdt, decode[t]);
      Put32(trun, uint32_t(n));
      if (first_traf) Put32(trun, 0);
      for (size_t k = first; k < first + n; ++k) {
        const Sample& s = tr.samples[k];
        Put32(trun, s.duration);
        Put32(trun, s.size);
        Put32(trun, (s.sync ? 0 : 0x10000) | (uint32_t(s.sdtp) << 20));
        Put32(trun, uint32_t(s.display_offset));
        data.insert(data.end(), s.size, SampleByte(t, k));
        decode[t] += s.duration;
      }
      Bytes traf = FullAtom("tfhd", 0, 0, tfhd);
      Append(traf, FullAtom("tfdt", 1, 0, tfdt));
      if (first_traf) offset_at = moof_payload.size() + 8 + traf.size() + 8 + 4 + 4;
      Append(traf, FullAtom("trun", 0, first_traf ? 0x000F01 : 0x000F00, trun));
      Append(moof_payload, Atom("traf", traf));
    }
    Bytes moof = Atom("moof", moof_payload);
    uint32_t offset = uint32_t(moof.size() + 8);
    for (int i = 0; i < 4; ++i) moof[8 + offset_at + i] = uint8_t(offset >> (24 - 8 * i));
    Append(out, moof);
    Append(out, Atom("mdat", data));
  }
  return out;
}

// ftyp, mdat with every sample, then moov (and the fragments).
inline Bytes Write(const MovieSpec& m, const Bytes& udta = {}) {
  Bytes out = Atom("ftyp", Bytes{'q', 't', ' ', ' ', 0, 0, 2, 0, 'q', 't', ' ', ' '});
  std::vector<std::vector<uint64_t>> chunks(m.tracks.size());
  if (!m.fragmented) {
    Bytes data;
    size_t header = m.big_mdat ? 16 : 8;
    uint64_t base = out.size() + header;
    for (size_t t = 0; t < m.tracks.size(); ++t) {
      const TrackSpec& tr = m.tracks[t];
      for (size_t k = 0; k < tr.samples.size(); ++k) {
        if (k % tr.samples_per_chunk == 0) chunks[t].push_back(base + data.size());
        data.insert(data.end(), tr.samples[k].size, SampleByte(t, k));
      }
    }
    Append(out, m.big_mdat ? Atom64("mdat", data) : Atom("mdat", data));
  }
  Bytes moov = Mvhd(m);
  for (size_t t = 0; t < m.tracks.size(); ++t) Append(moov, Trak(m.tracks[t], t, chunks[t], m));
  if (m.fragmented) {
    Bytes mvex;
    for (size_t t = 0; t < m.tracks.size(); ++t) {
      Bytes trex;
      Put32(trex, uint32_t(t + 1));
      Put32(trex, 1);
      Put32(trex, 0);
      Put32(trex, 0);
      Put32(trex, 0x10000);  // default: not sync
      Append(mvex, FullAtom("trex", 0, 0, trex));
    }
    Append(moov, Atom("mvex", mvex));
  }
  if (!udta.empty()) Append(moov, Atom("udta", udta));
  Append(out, Atom("moov", moov));
  if (m.fragmented && m.shared_fragments) {
    Append(out, SharedFragments(m));
  } else if (m.fragmented) {
    for (size_t t = 0; t < m.tracks.size(); ++t) {
      const TrackSpec& tr = m.tracks[t];
      uint64_t decode = 0;
      for (size_t first = 0; first < tr.samples.size(); first += 4) {
        size_t n = std::min<size_t>(4, tr.samples.size() - first);
        Bytes tfhd;
        Put32(tfhd, uint32_t(t + 1));
        Bytes tfdt;
        Put64(tfdt, decode);
        Bytes trun;
        Put32(trun, uint32_t(n));
        size_t data_offset_at = trun.size();
        Put32(trun, 0);
        Bytes data;
        for (size_t k = first; k < first + n; ++k) {
          const Sample& s = tr.samples[k];
          Put32(trun, s.duration);
          Put32(trun, s.size);
          uint32_t flags = (s.sync ? 0 : 0x10000) | (uint32_t(s.sdtp) << 20);
          Put32(trun, flags);
          Put32(trun, uint32_t(s.display_offset));
          data.insert(data.end(), s.size, SampleByte(t, k));
          decode += s.duration;
        }
        Bytes traf = FullAtom("tfhd", 0, 0x020000, tfhd);
        Append(traf, FullAtom("tfdt", 1, 0, tfdt));
        Bytes trun_atom = FullAtom("trun", 0, 0x000F01, trun);
        size_t trun_at = traf.size();
        Append(traf, trun_atom);
        Bytes mfhd;
        Put32(mfhd, uint32_t(first / 4 + 1));
        Bytes moof_payload = FullAtom("mfhd", 0, 0, mfhd);
        size_t traf_at = moof_payload.size();
        Append(moof_payload, Atom("traf", traf));
        Bytes moof = Atom("moof", moof_payload);
        // data offset: from the start of moof to the first byte of mdat's payload
        uint32_t offset = uint32_t(moof.size() + 8);
        size_t at = 8 + traf_at + 8 + trun_at + 8 + 4 + data_offset_at;
        moof[at] = uint8_t(offset >> 24);
        moof[at + 1] = uint8_t(offset >> 16);
        moof[at + 2] = uint8_t(offset >> 8);
        moof[at + 3] = uint8_t(offset);
        Append(out, moof);
        Append(out, Atom("mdat", data));
      }
    }
  }
  return out;
}

}  // namespace testmovie

#endif
