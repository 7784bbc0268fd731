// From a QuickTime image description to a libavcodec decoder: the codec of
// the four-character type, the extradata of its extension atoms ('avcC',
// 'hvcC', 'esds', 'glbl', 'SMI ' ...) and the colour facts of 'colr'/'fiel'.
#ifndef QTMEDIA_ICM_CODEC_SETUP_H
#define QTMEDIA_ICM_CODEC_SETUP_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "qtmedia.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace qtm {

struct CodecSetup {
  AVCodecID codec_id = AV_CODEC_ID_NONE;
  uint32_t codec_tag = 0;  // libavcodec order (first character in the low byte)
  int width = 0, height = 0, depth = 0;
  std::vector<uint8_t> extradata;
  AVColorSpace colorspace = AVCOL_SPC_UNSPECIFIED;
  AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
  AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
  AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
  int field_count = 0;  // from 'fiel': 1 progressive, 2 interlaced, 0 unknown
};

// Reads the description (size bytes: the 86-byte fixed part in native order,
// then big-endian atoms). badImageDescription when it is malformed,
// noCodecErr when no decoder is known for its type.
OSErr ParseImageDescription(const uint8_t* desc, size_t size, CodecSetup* out);

// A context of codec (the decoder of setup.codec_id) with the setup's
// tag, size, depth, colour facts and extradata; not opened. Null when out
// of memory.
AVCodecContext* NewDecoderContext(const CodecSetup& setup, const AVCodec* codec);

// The DecoderSpecificInfo of an 'esds' payload (after version and flags),
// or empty.
std::vector<uint8_t> EsdsDecoderSpecificInfo(const uint8_t* data, size_t size);

}  // namespace qtm

#endif
