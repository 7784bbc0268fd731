#include "audio/sound_description.h"

#include <cstring>

#include "movie/atom_walker.h"
#include "movie/four_cc.h"

namespace qtm {
namespace {

template <typename T>
T Native(const uint8_t* p) {
  T v;
  memcpy(&v, p, sizeof v);
  return v;
}

// Length of an MPEG-4 descriptor: up to four 7-bit groups.
bool DescriptorLength(const uint8_t*& p, const uint8_t* end, uint32_t* length) {
  *length = 0;
  for (int i = 0; i < 4; ++i) {
    if (p >= end) return false;
    uint8_t b = *p++;
    *length = (*length << 7) | (b & 0x7F);
    if (!(b & 0x80)) return true;
  }
  return true;
}

// Audio object type of the AudioSpecificConfig inside an 'esds' payload
// (ISO/IEC 14496-1 ES_Descriptor, DecoderConfigDescriptor, DecoderSpecificInfo).
int AacObjectType(const uint8_t* p, const uint8_t* end) {
  p += 4;  // version and flags
  while (p + 2 <= end) {
    uint8_t tag = *p++;
    uint32_t length = 0;
    if (!DescriptorLength(p, end, &length)) return 0;
    if (tag == 0x03) {
      if (p + 3 > end) return 0;
      uint8_t flags = p[2];
      p += 3;
      if (flags & 0x80) p += 2;
      if (flags & 0x40) {
        if (p >= end) return 0;
        p += 1 + *p;
      }
      if (flags & 0x20) p += 2;
    } else if (tag == 0x04) {
      p += 13;
    } else if (tag == 0x05) {
      if (p >= end || length == 0) return 0;
      int type = p[0] >> 3;
      if (type == 31 && p + 1 < end) type = 32 + (((p[0] & 7) << 3) | (p[1] >> 5));
      return type;
    } else {
      p += length;
    }
  }
  return 0;
}

// The 'esds' atom among the extension atoms (possibly inside a 'wave' atom).
int FindAacObjectType(const uint8_t* p, const uint8_t* end, int depth = 0) {
  if (depth >= 4 || p >= end) return 0;
  for (const AtomBytes& atom : ChildAtoms(p, static_cast<size_t>(end - p))) {
    if (atom.type == FourCC("esds")) return AacObjectType(atom.body, atom.body + atom.size);
    if (atom.type == FourCC("wave")) {
      if (int t = FindAacObjectType(atom.body, atom.body + atom.size, depth + 1)) return t;
    }
  }
  return 0;
}

// The linear PCM formats whose layout the format alone says.
struct PcmFormat {
  OSType format;
  uint32_t bits;  // 0: the description's sample size
  uint32_t flags;
};
constexpr uint32_t kBigSigned = kAudioFormatFlagIsBigEndian | kAudioFormatFlagIsSignedInteger;
constexpr uint32_t kBigFloat = kAudioFormatFlagIsBigEndian | kAudioFormatFlagIsFloat;
constexpr PcmFormat kPcmFormats[] = {
    {FourCC("sowt"), 0, kAudioFormatFlagIsSignedInteger},
    {FourCC("raw "), 8, 0},
    {FourCC("NONE"), 0, kBigSigned},
    {FourCC("in24"), 24, kBigSigned},
    {FourCC("in32"), 32, kBigSigned},
    {FourCC("fl32"), 32, kBigFloat},
    {FourCC("fl64"), 64, kBigFloat},
};

const PcmFormat* FindPcmFormat(OSType format) {
  for (const PcmFormat& f : kPcmFormats)
    if (f.format == format) return &f;
  return nullptr;
}

}  // namespace

bool StreamFormatOfSoundDescription(const uint8_t* desc, size_t size, AudioStreamBasicDescription* out) {
  if (!desc || size < sizeof(SoundDescription)) return false;
  memset(out, 0, sizeof *out);
  OSType format = Native<uint32_t>(desc + 4);
  int16_t version = Native<int16_t>(desc + 16);
  uint32_t channels = static_cast<uint16_t>(Native<int16_t>(desc + 24));
  uint32_t sample_size = static_cast<uint16_t>(Native<int16_t>(desc + 26));
  double rate = Native<uint32_t>(desc + 32) / 65536.0;
  uint32_t frames_per_packet = 0, v2_bits = 0, v2_flags = 0, v2_packet_bytes = 0;
  size_t fixed = sizeof(SoundDescription);
  if (version == 1 && size >= sizeof(SoundDescriptionV1)) {
    frames_per_packet = Native<uint32_t>(desc + 36);
    fixed = sizeof(SoundDescriptionV1);
  } else if (version == 2 && size >= 72) {
    rate = Native<double>(desc + 40);
    channels = Native<uint32_t>(desc + 48);
    v2_bits = Native<uint32_t>(desc + 56);
    v2_flags = Native<uint32_t>(desc + 60);
    v2_packet_bytes = Native<uint32_t>(desc + 64);
    frames_per_packet = Native<uint32_t>(desc + 68);
    fixed = 72;
  }
  out->mSampleRate = rate;
  out->mChannelsPerFrame = channels;

  uint32_t bits = 0, flags = 0;
  bool pcm = true;
  if (format == FourCC("twos")) {
    bits = sample_size;
    flags = kAudioFormatFlagIsSignedInteger | (sample_size > 8 ? kAudioFormatFlagIsBigEndian : 0);
  } else if (format == FourCC("lpcm")) {
    bits = v2_bits ? v2_bits : sample_size;
    flags = v2_flags;
  } else if (const PcmFormat* f = FindPcmFormat(format)) {
    bits = f->bits ? f->bits : sample_size;
    flags = f->flags;
  } else {
    pcm = false;
  }
  if (pcm) {
    out->mFormatID = kAudioFormatLinearPCM;
    out->mFormatFlags = flags | kAudioFormatFlagIsPacked;
    out->mBitsPerChannel = bits;
    out->mFramesPerPacket = 1;
    out->mBytesPerFrame = out->mBytesPerPacket = (bits + 7) / 8 * channels;
    return true;
  }
  switch (format) {
    case FourCC("mp4a"): {
      int type = FindAacObjectType(desc + fixed, desc + size);
      switch (type) {
        case 5:
          format = FourCC("aach");
          break;
        case 23:
          format = FourCC("aacl");
          break;
        case 29:
          format = FourCC("aacp");
          break;
        default:
          format = FourCC("aac ");
          break;
      }
      if (!frames_per_packet) frames_per_packet = 1024;
      break;
    }
    case 0x6D730055:
      format = FourCC(".mp3");
      break;  // 'ms' 0x0055: MP3 under its wave tag
    default:
      break;
  }
  out->mFormatID = format;
  out->mFramesPerPacket = frames_per_packet;
  out->mBytesPerPacket = v2_packet_bytes;
  return true;
}

}  // namespace qtm
