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

// What an 'esds' payload (ISO/IEC 14496-1 ES_Descriptor) says of its
// stream: the DecoderConfigDescriptor's object type indication, and the
// audio object type of its AudioSpecificConfig (0 when absent).
struct DecoderConfig {
  int object_type_indication = 0;
  int audio_object_type = 0;
};

DecoderConfig ReadEsds(const uint8_t* p, const uint8_t* end) {
  DecoderConfig config;
  p += 4;  // version and flags
  while (p + 2 <= end) {
    uint8_t tag = *p++;
    uint32_t length = 0;
    if (!DescriptorLength(p, end, &length)) return config;
    if (tag == 0x03) {
      if (p + 3 > end) return config;
      uint8_t flags = p[2];
      p += 3;
      if (flags & 0x80) p += 2;
      if (flags & 0x40) {
        if (p >= end) return config;
        p += 1 + *p;
      }
      if (flags & 0x20) p += 2;
    } else if (tag == 0x04) {
      if (p >= end) return config;
      config.object_type_indication = p[0];
      p += 13;
    } else if (tag == 0x05) {
      if (p >= end || length == 0) return config;
      int type = p[0] >> 3;
      if (type == 31 && p + 1 < end) type = 32 + (((p[0] & 7) << 3) | (p[1] >> 5));
      config.audio_object_type = type;
      return config;
    } else {
      p += length;
    }
  }
  return config;
}

// The first extension atom of a type (possibly inside a 'wave' atom, as
// QuickTime files keep them), or none.
const AtomBytes* FindExtension(const std::vector<AtomBytes>& atoms, OSType type, AtomBytes* found, int depth = 0) {
  for (const AtomBytes& atom : atoms) {
    if (atom.type == type) {
      *found = atom;
      return found;
    }
    if (atom.type == FourCC("wave") && depth < 4) {
      if (FindExtension(ChildAtoms(atom.body, atom.size), type, found, depth + 1)) return found;
    }
  }
  return nullptr;
}

// Big-endian bits of a byte string, from the first.
class BitReader {
 public:
  BitReader(const uint8_t* p, size_t size) : p_(p), size_(size) {}
  uint32_t Bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++at_) {
      int bit = at_ / 8 < size_ ? (p_[at_ / 8] >> (7 - at_ % 8)) & 1 : 0;
      v = v << 1 | static_cast<uint32_t>(bit);
    }
    return v;
  }
  bool ok() const { return at_ <= size_ * 8; }

 private:
  const uint8_t* p_;
  size_t size_;
  size_t at_ = 0;
};

// Full-bandwidth channels of an AC-3 audio coding mode (ETSI TS 102 366).
uint32_t AcmodChannels(uint32_t acmod) {
  static const uint8_t kChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};
  return kChannels[acmod & 7];
}

// 'dac3' (ETSI TS 102 366, F.4): fscod, bsid, bsmod, acmod, lfeon.
uint32_t Ac3Channels(const AtomBytes& dac3) {
  BitReader b(dac3.body, dac3.size);
  b.Bits(2 + 5 + 3);
  uint32_t acmod = b.Bits(3);
  uint32_t lfe = b.Bits(1);
  return b.ok() ? AcmodChannels(acmod) + lfe : 0;
}

// 'dec3' (ETSI TS 102 366, F.6): the first independent substream, with the
// channels its dependent substreams add (chan_loc: pairs and singles).
uint32_t Eac3Channels(const AtomBytes& dec3) {
  BitReader b(dec3.body, dec3.size);
  b.Bits(13 + 3);             // data_rate, num_ind_sub
  b.Bits(2 + 5 + 1 + 1 + 3);  // fscod, bsid, reserved, asvc, bsmod  // fscod, bsid, reserved, asvc, bsmod
  uint32_t acmod = b.Bits(3);
  uint32_t lfe = b.Bits(1);
  b.Bits(3);
  uint32_t dependents = b.Bits(4);
  uint32_t channels = AcmodChannels(acmod) + lfe;
  if (dependents > 0) {
    // From the field's last bit: LFE2, Cvh, Lvh/Rvh, Lw/Rw, Lsd/Rsd, Ts, Cs,
    // Lrs/Rrs, Lc/Rc.
    static const uint8_t kLocationChannels[9] = {1, 1, 2, 2, 2, 1, 1, 2, 2};
    uint32_t chan_loc = b.Bits(9);
    for (int bit = 0; bit < 9; ++bit)
      if (chan_loc & (1u << bit)) channels += kLocationChannels[bit];
  }
  return b.ok() ? channels : 0;
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
  } else if (format == FourCC("ipcm")) {
    // ISO/IEC 23003-5 integer PCM: 'pcmC' gives the byte order (flag 1:
    // little-endian) and the sample size.
    bits = sample_size;
    bool little = false;
    AtomBytes pcmc;
    if (FindExtension(ChildAtoms(desc + fixed, size - fixed), FourCC("pcmC"), &pcmc) && pcmc.size >= 6) {
      little = (pcmc.body[4] & 1) != 0;
      bits = pcmc.body[5];
    }
    flags = kAudioFormatFlagIsSignedInteger | (little ? 0 : kAudioFormatFlagIsBigEndian);
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
  const std::vector<AtomBytes> extensions = ChildAtoms(desc + fixed, size - fixed);
  AtomBytes config;
  switch (format) {
    case FourCC("mp4a"): {
      DecoderConfig esds;
      if (FindExtension(extensions, FourCC("esds"), &config)) esds = ReadEsds(config.body, config.body + config.size);
      if (esds.object_type_indication == 0x69 || esds.object_type_indication == 0x6B) {
        format = FourCC(".mp3");  // MPEG-1 and MPEG-2 audio in an MPEG-4 file
        if (!frames_per_packet) frames_per_packet = 1152;
        break;
      }
      switch (esds.audio_object_type) {
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
    case FourCC("ac-3"):
      // ISO files give 2 channels whatever the stream has: 'dac3' tells.
      if (FindExtension(extensions, FourCC("dac3"), &config)) out->mChannelsPerFrame = Ac3Channels(config);
      frames_per_packet = 1536;
      break;
    case FourCC("ec-3"):
      if (FindExtension(extensions, FourCC("dec3"), &config)) out->mChannelsPerFrame = Eac3Channels(config);
      frames_per_packet = 1536;
      break;
    case FourCC("Opus"):
      // 'dOps': version, output channel count, ...; Opus decodes at 48 kHz.
      format = FourCC("opus");
      if (FindExtension(extensions, FourCC("dOps"), &config) && config.size >= 2)
        out->mChannelsPerFrame = config.body[1];
      out->mSampleRate = 48000.0;
      break;
    case FourCC("fLaC"):
      // 'dfLa': version and flags, then metadata blocks, STREAMINFO first:
      // 20 bits of rate, 3 of channels - 1, 5 of bits - 1. The depth it was
      // coded at is kept as the bits per channel.
      format = FourCC("flac");
      if (FindExtension(extensions, FourCC("dfLa"), &config) && config.size >= 4 + 4 + 18 &&
          (config.body[4] & 0x7F) == 0) {
        BitReader b(config.body + 8 + 10, 8);
        b.Bits(20);
        out->mChannelsPerFrame = b.Bits(3) + 1;
        out->mBitsPerChannel = b.Bits(5) + 1;
      }
      break;
    case FourCC("alac"):
      // The ALAC specific config: version and flags, frame length, version,
      // bit depth, three tuning bytes, channels. Its depth is kept too.
      if (FindExtension(extensions, FourCC("alac"), &config) && config.size >= 4 + 4 + 6) {
        out->mBitsPerChannel = config.body[9];
        out->mChannelsPerFrame = config.body[13];
      }
      break;
    default:
      break;
  }
  out->mFormatID = format;
  out->mFramesPerPacket = frames_per_packet;
  out->mBytesPerPacket = v2_packet_bytes;
  return true;
}

}  // namespace qtm
