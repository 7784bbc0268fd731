#include "icm/codec_setup.h"

#include <cstring>

#include "movie/atom_walker.h"
#include "movie/byte_reader.h"
#include "movie/four_cc.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

namespace qtm {
namespace {

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
  uint32_t kind = ReadBE32(p);
  if (kind != FourCC("nclc") && kind != FourCC("nclx")) return;
  out->primaries = CodePoint(ReadBE16(p + 4), AVCOL_PRI_NB, av_color_primaries_name, AVCOL_PRI_UNSPECIFIED);
  out->transfer = CodePoint(ReadBE16(p + 6), AVCOL_TRC_NB, av_color_transfer_name, AVCOL_TRC_UNSPECIFIED);
  out->colorspace = CodePoint(ReadBE16(p + 8), AVCOL_SPC_NB, av_color_space_name, AVCOL_SPC_UNSPECIFIED);
  if (kind == FourCC("nclx") && size >= 11) out->range = (p[10] & 0x80) ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
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

AVCodecContext* NewDecoderContext(const CodecSetup& setup, const AVCodec* codec) {
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  if (!ctx) return nullptr;
  ctx->codec_tag = setup.codec_tag;
  ctx->width = ctx->coded_width = setup.width;
  ctx->height = ctx->coded_height = setup.height;
  ctx->bits_per_coded_sample = setup.depth;
  ctx->colorspace = setup.colorspace;
  ctx->color_primaries = setup.primaries;
  ctx->color_trc = setup.transfer;
  ctx->color_range = setup.range;
  if (!setup.extradata.empty()) {
    ctx->extradata = static_cast<uint8_t*>(av_mallocz(setup.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!ctx->extradata) {
      avcodec_free_context(&ctx);
      return nullptr;
    }
    memcpy(ctx->extradata, setup.extradata.data(), setup.extradata.size());
    ctx->extradata_size = static_cast<int>(setup.extradata.size());
  }
  return ctx;
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
  for (const AtomBytes& atom : ChildAtoms(desc + sizeof(ImageDescription), size - sizeof(ImageDescription))) {
    const uint8_t* body = atom.body;
    size_t body_size = atom.size;
    switch (atom.type) {
      case FourCC("avcC"):
      case FourCC("hvcC"):
      case FourCC("glbl"):
      case FourCC("av1C"):
      case FourCC("dvcC"):
        if (out->extradata.empty()) out->extradata.assign(body, body + body_size);
        break;
      case FourCC("esds"):
        if (out->extradata.empty() && body_size > 4) out->extradata = EsdsDecoderSpecificInfo(body + 4, body_size - 4);
        break;
      case FourCC("SMI "):
        // SVQ3 looks for its SEQH header inside the whole atom.
        if (out->extradata.empty()) out->extradata.assign(atom.atom, atom.atom + atom.AtomSize());
        break;
      case FourCC("colr"):
        ApplyColr(body, body_size, out);
        break;
      case FourCC("fiel"):
        if (body_size >= 1) out->field_count = body[0];
        break;
      default:
        break;
    }
  }

  if (out->codec_id == AV_CODEC_ID_NONE || !avcodec_find_decoder(out->codec_id)) return noCodecErr;
  return noErr;
}

}  // namespace qtm
