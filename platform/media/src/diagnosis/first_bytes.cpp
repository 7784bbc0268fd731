#include "diagnosis/first_bytes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace qtm {
namespace {

// Bytes handed to the probes: enough for the kinds that look at a few
// packets (MPEG-PS), far less than a file.
constexpr size_t kProbeBytes = 64 * 1024;
// Characters looked at to call a file text.
constexpr size_t kTextBytes = 4096;

// Printable ASCII, white space and the bytes of UTF-8 sequences; no
// control character.
bool LooksLikeText(const uint8_t* p, size_t size) {
  if (size == 0) return false;
  for (size_t i = 0; i < size; ++i) {
    uint8_t c = p[i];
    if (c >= 0x20 && c != 0x7F) continue;
    if (c == '\t' || c == '\n' || c == '\r' || c == '\f') continue;
    return false;
  }
  return true;
}

// Kinds known by a few fixed bytes: what libavformat's probes would call
// them, so the sentence is the same whichever demuxers the build has.
struct Signature {
  size_t offset;
  const char* bytes;
  size_t size;
  const char* demuxer;
  const char* kind;
};
constexpr Signature kSignatures[] = {
    {8, "AVI ", 4, "avi", "AVI (Audio Video Interleaved)"},
    {8, "WAVE", 4, "wav", "WAV / WAVE (Waveform Audio)"},
    {0, "\x1A\x45\xDF\xA3", 4, "matroska,webm", "Matroska / WebM"},
    {0, "\x00\x00\x01\xBA", 4, "mpeg", "MPEG-PS (MPEG-2 Program Stream)"},
    {0, "\x00\x00\x01\xB3", 4, "mpegvideo", "raw MPEG video"},
    {0, "OggS", 4, "ogg", "Ogg"},
    {0, "fLaC", 4, "flac", "raw FLAC"},
    {0, "ID3", 3, "mp3", "MP2/3 (MPEG audio layer 2/3)"},
    {0, "FLV\x01", 4, "flv", "FLV (Flash Video)"},
    {0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11", 8, "asf", "ASF (Advanced / Active Streaming Format)"},
    {0, ".RMF", 4, "rm", "RealMedia"},
};

const Signature* MatchSignature(const uint8_t* p, size_t size) {
  for (const Signature& s : kSignatures) {
    if (s.offset == 8 && (size < 12 || std::memcmp(p, "RIFF", 4) != 0)) continue;
    if (s.offset + s.size <= size && std::memcmp(p + s.offset, s.bytes, s.size) == 0) return &s;
  }
  return nullptr;
}

// An MPEG transport stream: a sync byte every 188 bytes.
bool LooksLikeTransportStream(const uint8_t* p, size_t size) {
  if (size < 188 * 3) return false;
  for (size_t at = 0; at < 188 * 3; at += 188)
    if (p[at] != 0x47) return false;
  return true;
}

}  // namespace

FirstBytes ReadFirstBytes(const DataSource& source) {
  FirstBytes out;
  size_t size = static_cast<size_t>(std::min<uint64_t>(source.Size(), kProbeBytes));
  // The probes read up to AVPROBE_PADDING_SIZE bytes past the data: zeros.
  std::vector<uint8_t> bytes(size + AVPROBE_PADDING_SIZE, 0);
  if (size == 0 || !source.ReadAt(0, bytes.data(), size)) return out;
  for (size_t i = 0; i < std::min<size_t>(size, 8); ++i) {
    char hex[4];
    snprintf(hex, sizeof hex, i ? " %02X" : "%02X", bytes[i]);
    out.hex += hex;
  }
  // Text first: some probes claim any text (a teletype page).
  if (LooksLikeText(bytes.data(), std::min(size, kTextBytes))) {
    out.kind = "text";
    return out;
  }
  if (const Signature* signature = MatchSignature(bytes.data(), size)) {
    out.demuxer = signature->demuxer;
    out.kind = signature->kind;
    return out;
  }
  if (LooksLikeTransportStream(bytes.data(), size)) {
    out.demuxer = "mpegts";
    out.kind = "MPEG-TS (MPEG-2 Transport Stream)";
    return out;
  }
  AVProbeData probe = {};
  probe.filename = "";
  probe.buf = bytes.data();
  probe.buf_size = static_cast<int>(size);
  // Only a probe sure enough to be followed by libavformat itself.
  int score = AVPROBE_SCORE_RETRY;
  if (const AVInputFormat* format = av_probe_input_format2(&probe, 1, &score)) {
    out.demuxer = format->name;
    out.kind = format->long_name ? format->long_name : format->name;
  }
  return out;
}

}  // namespace qtm
