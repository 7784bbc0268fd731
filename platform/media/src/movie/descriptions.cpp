#include "movie/descriptions.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "movie/byte_reader.h"
#include "movie/four_cc.h"

namespace qtm {

namespace {

// Appends native-order fields to a record.
class RecordWriter {
 public:
  explicit RecordWriter(std::vector<uint8_t>* out) : out_(out) {}
  template <typename T>
  void Put(T value) {
    size_t at = out_->size();
    out_->resize(at + sizeof(T));
    std::memcpy(out_->data() + at, &value, sizeof(T));
  }
  void Bytes(const uint8_t* p, size_t n) { out_->insert(out_->end(), p, p + n); }
  // Whatever the reader has left, as it is.
  void Rest(ByteReader& r) {
    std::vector<uint8_t> rest = r.Rest();
    Bytes(rest.data(), rest.size());
  }

 private:
  std::vector<uint8_t>* out_;
};

void PutHead(ByteReader& r, RecordWriter& w) {
  w.Put<int32_t>(r.S32());  // size, fixed up at the end
  w.Put<uint32_t>(r.U32());
  w.Put<int32_t>(r.S32());
  w.Put<int16_t>(r.S16());
  w.Put<int16_t>(r.S16());
}

void FixSize(std::vector<uint8_t>* record) {
  int32_t size = static_cast<int32_t>(record->size());
  std::memcpy(record->data(), &size, sizeof size);
}

std::vector<uint8_t> Generic(const uint8_t* entry, size_t size) {
  std::vector<uint8_t> out;
  ByteReader r(entry, size);
  RecordWriter w(&out);
  PutHead(r, w);
  w.Rest(r);
  FixSize(&out);
  return out;
}

}  // namespace

std::vector<uint8_t> DescriptionFromEntry(OSType media_type, const uint8_t* entry, size_t size) {
  std::vector<uint8_t> out;
  out.reserve(size);
  ByteReader r(entry, size);
  RecordWriter w(&out);
  if (media_type == VideoMediaType && size >= sizeof(ImageDescription)) {
    PutHead(r, w);
    w.Put<int16_t>(r.S16());   // version
    w.Put<int16_t>(r.S16());   // revisionLevel
    w.Put<uint32_t>(r.U32());  // vendor
    w.Put<uint32_t>(r.U32());  // temporalQuality
    w.Put<uint32_t>(r.U32());  // spatialQuality
    w.Put<int16_t>(r.S16());   // width
    w.Put<int16_t>(r.S16());   // height
    w.Put<int32_t>(r.S32());   // hRes
    w.Put<int32_t>(r.S32());   // vRes
    w.Put<int32_t>(r.S32());   // dataSize
    w.Put<int16_t>(r.S16());   // frameCount
    uint8_t name[32];
    r.Read(name, 32);
    if (name[0] > 31) name[0] = 31;
    w.Bytes(name, 32);
    w.Put<int16_t>(r.S16());  // depth
    w.Put<int16_t>(r.S16());  // clutID
  } else if (media_type == SoundMediaType && size >= sizeof(SoundDescription)) {
    PutHead(r, w);
    int16_t version = r.S16();
    w.Put<int16_t>(version);
    w.Put<int16_t>(r.S16());   // revlevel
    w.Put<int32_t>(r.S32());   // vendor
    w.Put<int16_t>(r.S16());   // numChannels
    w.Put<int16_t>(r.S16());   // sampleSize
    w.Put<int16_t>(r.S16());   // compressionID
    w.Put<int16_t>(r.S16());   // packetSize
    w.Put<uint32_t>(r.U32());  // sampleRate
    if (version == 1 && r.remaining() >= 16) {
      for (int i = 0; i < 4; ++i) w.Put<int32_t>(r.S32());
    } else if (version == 2 && r.remaining() >= 36) {
      w.Put<int32_t>(r.S32());  // sizeOfStructOnly
      uint64_t bits = r.U64();
      double rate;
      std::memcpy(&rate, &bits, sizeof rate);
      w.Put<double>(rate);  // audioSampleRate
      for (int i = 0; i < 6; ++i) w.Put<uint32_t>(r.U32());
    }
  } else if (media_type == TimeCodeMediaType && size >= 34) {
    PutHead(r, w);
    w.Put<int32_t>(r.S32());  // reserved
    w.Put<int32_t>(r.S32());  // flags
    w.Put<int32_t>(r.S32());  // timeScale
    w.Put<int32_t>(r.S32());  // frameDuration
    w.Put<uint8_t>(r.U8());   // numFrames
    w.Put<uint8_t>(r.U8());   // padding
  } else if (size >= sizeof(SampleDescription)) {
    return Generic(entry, size);
  } else {
    return {};
  }
  w.Rest(r);
  FixSize(&out);
  return out;
}

std::string DescribeEntry(OSType media_type, const uint8_t* entry, size_t size, size_t* extensions) {
  ByteReader r(entry, size);
  r.Skip(4);
  std::string text = "entry format='" + FourCCText(r.U32()) + "'";
  r.Skip(6);
  text += " data_reference=" + std::to_string(r.U16());
  auto field = [&text](const char* name, int64_t value) {
    text += std::string(" ") + name + "=" + std::to_string(value);
  };
  *extensions = size;
  if (media_type == VideoMediaType && size >= sizeof(ImageDescription)) {
    r.Skip(2 + 2 + 4 + 4 + 4);  // version, revision, vendor, qualities
    field("width", r.S16());
    field("height", r.S16());
    r.Skip(4 + 4 + 4);  // resolutions, data size
    field("frames", r.S16());
    uint8_t name[32];
    r.Read(name, 32);
    field("depth", r.S16());
    text += " name=\"" + std::string(reinterpret_cast<const char*>(name + 1), std::min<uint8_t>(name[0], 31)) + "\"";
    *extensions = sizeof(ImageDescription);
  } else if (media_type == SoundMediaType && size >= sizeof(SoundDescription)) {
    int16_t version = r.S16();
    r.Skip(2 + 4);  // revision, vendor
    field("version", version);
    field("channels", r.S16());
    field("bits", r.S16());
    r.Skip(2 + 2);  // compression ID, packet size
    field("rate", r.U32() >> 16);
    *extensions = sizeof(SoundDescription);
    if (version == 1 && size >= sizeof(SoundDescription) + 16) *extensions += 16;
    if (version == 2 && size >= sizeof(SoundDescription) + 36) *extensions += 36;
  } else if (media_type == TimeCodeMediaType && size >= 34) {
    r.Skip(4);  // reserved
    text += " flags=" + std::to_string(r.U32());
    field("timescale", r.S32());
    field("frame_duration", r.S32());
    field("frames", r.U8());
    *extensions = 34;
  }
  return text;
}

std::vector<uint8_t> MakeImageDescription(OSType codec, int width, int height, int depth, const std::string& name,
                                          const std::vector<uint8_t>& extensions) {
  ImageDescription d{};
  d.cType = codec;
  d.dataRefIndex = 1;
  d.vendor = 0x6170706C;  // 'appl'
  d.temporalQuality = 0;
  d.spatialQuality = 0x200;
  d.width = static_cast<int16_t>(width);
  d.height = static_cast<int16_t>(height);
  d.hRes = d.vRes = 72 << 16;
  d.frameCount = 1;
  size_t n = name.size() < 31 ? name.size() : 31;
  d.name[0] = static_cast<uint8_t>(n);
  std::memcpy(d.name + 1, name.data(), n);
  d.depth = static_cast<int16_t>(depth);
  d.clutID = -1;
  std::vector<uint8_t> out(sizeof d);
  std::memcpy(out.data(), &d, sizeof d);
  out.insert(out.end(), extensions.begin(), extensions.end());
  FixSize(&out);
  return out;
}

std::vector<uint8_t> MakeSoundDescription(OSType format, int channels, int bits, double rate,
                                          const std::vector<uint8_t>& extensions) {
  SoundDescription d{};
  d.dataFormat = format;
  d.dataRefIndex = 1;
  d.numChannels = static_cast<int16_t>(channels);
  d.sampleSize = static_cast<int16_t>(bits ? bits : 16);
  d.sampleRate = rate > 0 && rate < 65536.0 ? static_cast<uint32_t>(std::lround(rate * 65536.0)) : 0;
  std::vector<uint8_t> out(sizeof d);
  std::memcpy(out.data(), &d, sizeof d);
  out.insert(out.end(), extensions.begin(), extensions.end());
  FixSize(&out);
  return out;
}

std::vector<uint8_t> MakeAtom(OSType type, const std::vector<uint8_t>& payload) {
  uint32_t size = static_cast<uint32_t>(payload.size() + 8);
  std::vector<uint8_t> out = {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size),
                              uint8_t(type >> 24), uint8_t(type >> 16), uint8_t(type >> 8), uint8_t(type)};
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

}  // namespace qtm
