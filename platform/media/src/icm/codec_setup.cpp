#include "icm/codec_setup.h"

#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

namespace qtm {
namespace {

uint32_t Be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }
uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

constexpr uint32_t Fourcc(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 | uint32_t(uint8_t(s[2])) << 8 |
         uint32_t(uint8_t(s[3]));
}

// An MPEG-4 descriptor length: up to four bytes of 7 bits each.
bool ReadDescriptorLength(const uint8_t*& p, const uint8_t* end, size_t* length) {
  size_t value = 0;
  for (int i = 0; i < 4; ++i) {
    if (p >= end) return false;
    uint8_t b = *p++;
    value = value << 7 | (b & 0x7F);
    if (!(b & 0x80)) {
      *length = value;
      return true;
    }
  }
  *length = value;
  return true;
}

// A colour code point (ISO/IEC 23091-2) as libavutil's value, or unspecified
// when libavutil has none: a file may hold any 16-bit number there.
template <typename Enum>
Enum CodePoint(uint16_t value, Enum count, const char* (*name)(Enum), Enum unspecified) {
  if (value >= static_cast<unsigned>(count)) return unspecified;
  Enum e = static_cast<Enum>(value);
  return name(e) ? e : unspecified;
}

void ApplyColr(const uint8_t* p, size_t size, CodecSetup* out) {
  if (size < 10) return;
  uint32_t kind = Be32(p);
  if (kind != Fourcc("nclc") && kind != Fourcc("nclx")) return;
  out->primaries = CodePoint(Be16(p + 4), AVCOL_PRI_NB, av_color_primaries_name, AVCOL_PRI_UNSPECIFIED);
  out->transfer = CodePoint(Be16(p + 6), AVCOL_TRC_NB, av_color_transfer_name, AVCOL_TRC_UNSPECIFIED);
  out->colorspace = CodePoint(Be16(p + 8), AVCOL_SPC_NB, av_color_space_name, AVCOL_SPC_UNSPECIFIED);
  if (kind == Fourcc("nclx") && size >= 11) out->range = (p[10] & 0x80) ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
}

}  // namespace

std::vector<uint8_t> EsdsDecoderSpecificInfo(const uint8_t* data, size_t size) {
  const uint8_t* p = data;
  const uint8_t* end = data + size;
  // ES_Descriptor (3) > DecoderConfigDescriptor (4) > DecoderSpecificInfo (5).
  while (p < end) {
    uint8_t tag = *p++;
    size_t length = 0;
    if (!ReadDescriptorLength(p, end, &length)) return {};
    if (length > static_cast<size_t>(end - p)) length = static_cast<size_t>(end - p);
    const uint8_t* body = p;
    if (tag == 3) {
      if (length < 3) return {};
      uint8_t flags = body[2];
      size_t skip = 3;
      if (flags & 0x80) skip += 2;
      if (flags & 0x40) {
        if (skip >= length) return {};
        skip += 1 + body[skip];
      }
      if (flags & 0x20) skip += 2;
      if (skip > length) return {};
      p = body + skip;
      end = body + length;
      continue;
    }
    if (tag == 4) {
      if (length < 13) return {};
      p = body + 13;
      end = body + length;
      continue;
    }
    if (tag == 5) return std::vector<uint8_t>(body, body + length);
    p = body + length;
  }
  return {};
}

OSErr ParseImageDescription(const uint8_t* desc, size_t size, CodecSetup* out) {
  if (!desc || size < sizeof(ImageDescription)) return badImageDescription;
  ImageDescription id;
  memcpy(&id, desc, sizeof(id));
  if (id.idSize < static_cast<int32_t>(sizeof(ImageDescription))) return badImageDescription;
  if (static_cast<size_t>(id.idSize) < size) size = static_cast<size_t>(id.idSize);
  if (id.width <= 0 || id.height <= 0) return badImageDescription;

  *out = CodecSetup{};
  out->width = id.width;
  out->height = id.height;
  out->depth = id.depth;
  uint32_t type = id.cType;
  // libavcodec's tags hold the first character in the low byte.
  out->codec_tag = (type >> 24) | ((type >> 8) & 0xFF00) | ((type << 8) & 0xFF0000) | (type << 24);

  const AVCodecTag* const tables[] = {avformat_get_mov_video_tags(), nullptr};
  out->codec_id = av_codec_get_id(tables, out->codec_tag);

  // Extension atoms.
  const uint8_t* p = desc + sizeof(ImageDescription);
  const uint8_t* end = desc + size;
  while (end - p >= 8) {
    uint32_t atom_size = Be32(p);
    uint32_t atom_type = Be32(p + 4);
    if (atom_size == 0) atom_size = static_cast<uint32_t>(end - p);  // to the end
    if (atom_size < 8 || atom_size > static_cast<size_t>(end - p)) break;
    const uint8_t* body = p + 8;
    size_t body_size = atom_size - 8;
    switch (atom_type) {
      case Fourcc("avcC"):
      case Fourcc("hvcC"):
      case Fourcc("glbl"):
      case Fourcc("av1C"):
      case Fourcc("dvcC"):
        if (out->extradata.empty()) out->extradata.assign(body, body + body_size);
        break;
      case Fourcc("esds"):
        if (out->extradata.empty() && body_size > 4) out->extradata = EsdsDecoderSpecificInfo(body + 4, body_size - 4);
        break;
      case Fourcc("SMI "):
        // SVQ3 looks for its SEQH header inside the whole atom.
        if (out->extradata.empty()) out->extradata.assign(p, p + atom_size);
        break;
      case Fourcc("colr"):
        ApplyColr(body, body_size, out);
        break;
      case Fourcc("fiel"):
        if (body_size >= 1) out->field_count = body[0];
        break;
      default:
        break;
    }
    p += atom_size;
  }

  if (out->codec_id == AV_CODEC_ID_NONE || !avcodec_find_decoder(out->codec_id)) return noCodecErr;
  return noErr;
}

}  // namespace qtm
