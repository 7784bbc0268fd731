#include "icm_test_support.h"

#include <cstdlib>
#include <cstring>
#include <fstream>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/md5.h>
}

namespace qtm::test {
namespace {

void PutBe32(std::vector<uint8_t>* v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v->push_back(static_cast<uint8_t>(x >> s));
}

void Atom(std::vector<uint8_t>* v, const char* type, const uint8_t* body, size_t size) {
  PutBe32(v, static_cast<uint32_t>(size + 8));
  v->insert(v->end(), type, type + 4);
  v->insert(v->end(), body, body + size);
}

// esds payload: version/flags, ES_Descriptor > DecoderConfig > DecSpecificInfo.
std::vector<uint8_t> Esds(const uint8_t* dsi, size_t size) {
  std::vector<uint8_t> d5 = {5, static_cast<uint8_t>(size)};
  d5.insert(d5.end(), dsi, dsi + size);
  std::vector<uint8_t> d4 = {4, static_cast<uint8_t>(13 + d5.size()), 0x20, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  d4.insert(d4.end(), d5.begin(), d5.end());
  std::vector<uint8_t> d3 = {3, static_cast<uint8_t>(3 + d4.size()), 0, 1, 0};
  d3.insert(d3.end(), d4.begin(), d4.end());
  std::vector<uint8_t> out = {0, 0, 0, 0};
  out.insert(out.end(), d3.begin(), d3.end());
  return out;
}

void QTM_CALLBACK Track(void* refcon, OSStatus result, ICMDecompressionTrackingFlags flags, CVPixelBufferRef pb,
                        TimeValue64 time, TimeValue64 duration, ICMValidTimeFlags valid, void*, void* source) {
  auto* r = static_cast<Recorder*>(refcon);
  if (flags & kICMDecompressionTracking_ReleaseSourceData) ++r->releases[source];
  if (flags & kICMDecompressionTracking_FrameDropped) ++r->dropped;
  if (!(flags & kICMDecompressionTracking_EmittingFrame) || !pb) return;
  if (r->keep_unlocked) {
    r->unlocked.push_back(CVPixelBufferRetain(pb));
    return;
  }
  Emitted e;
  CVPixelBufferLockBaseAddress(pb, 0);
  const uint8_t* base = static_cast<const uint8_t*>(CVPixelBufferGetBaseAddress(pb));
  e.width = static_cast<int>(CVPixelBufferGetWidth(pb));
  e.height = static_cast<int>(CVPixelBufferGetHeight(pb));
  e.format = CVPixelBufferGetPixelFormatType(pb);
  size_t stride = CVPixelBufferGetBytesPerRow(pb);
  size_t row = static_cast<size_t>(e.width) * (e.format == k32BGRAPixelFormat ? 4 : 2);
  std::vector<uint8_t> tight;
  tight.reserve(row * e.height);
  for (int y = 0; y < e.height; ++y) tight.insert(tight.end(), base + y * stride, base + y * stride + row);
  CVPixelBufferUnlockBaseAddress(pb, 0);
  e.md5 = Md5(tight.data(), tight.size());
  if (r->keep_rows) e.rows = std::move(tight);
  e.time = time;
  e.duration = duration;
  e.valid = valid;
  r->pictures.push_back(std::move(e));
}

}  // namespace

std::string Fixture(const std::string& name) {
  const char* dir = getenv("KESTREL_FIXTURES");
  return std::string(dir ? dir : ".") + "/" + name;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string Md5(const uint8_t* data, size_t size) {
  uint8_t digest[16];
  av_md5_sum(digest, data, size);
  char hex[33];
  for (int i = 0; i < 16; ++i) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  return hex;
}

bool LoadStream(const std::string& path, Stream* out) {
  AVFormatContext* fmt = nullptr;
  AVDictionary* opts = nullptr;
  av_dict_set(&opts, "ignore_editlist", "1", 0);
  int ret = avformat_open_input(&fmt, path.c_str(), nullptr, &opts);
  av_dict_free(&opts);
  if (ret < 0) return false;
  bool ok = false;
  if (avformat_find_stream_info(fmt, nullptr) >= 0) {
    int index = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index >= 0) {
      AVCodecParameters* par = fmt->streams[index]->codecpar;
      ImageDescription id = {};
      uint32_t tag = par->codec_tag;
      id.cType = (tag & 0xFF) << 24 | (tag & 0xFF00) << 8 | (tag >> 8 & 0xFF00) | tag >> 24;
      id.width = static_cast<int16_t>(par->width);
      id.height = static_cast<int16_t>(par->height);
      id.depth = static_cast<int16_t>(par->bits_per_coded_sample ? par->bits_per_coded_sample : 24);
      std::vector<uint8_t> atoms;
      if (par->extradata_size > 0) {
        const uint8_t* x = par->extradata;
        size_t n = static_cast<size_t>(par->extradata_size);
        if (par->codec_id == AV_CODEC_ID_H264)
          Atom(&atoms, "avcC", x, n);
        else if (par->codec_id == AV_CODEC_ID_HEVC)
          Atom(&atoms, "hvcC", x, n);
        else if (par->codec_id == AV_CODEC_ID_MPEG4) {
          std::vector<uint8_t> esds = Esds(x, n);
          Atom(&atoms, "esds", esds.data(), esds.size());
        } else
          Atom(&atoms, "glbl", x, n);
      }
      id.idSize = static_cast<int32_t>(sizeof(id) + atoms.size());
      out->description.resize(sizeof(id));
      memcpy(out->description.data(), &id, sizeof(id));
      out->description.insert(out->description.end(), atoms.begin(), atoms.end());
      out->width = par->width;
      out->height = par->height;
      AVPacket* pkt = av_packet_alloc();
      while (av_read_frame(fmt, pkt) >= 0) {
        if (pkt->stream_index == index) {
          Packet p;
          p.data.assign(pkt->data, pkt->data + pkt->size);
          p.dts = pkt->dts;
          p.pts = pkt->pts;
          p.duration = pkt->duration;
          p.key = pkt->flags & AV_PKT_FLAG_KEY;
          out->packets.push_back(std::move(p));
        }
        av_packet_unref(pkt);
      }
      av_packet_free(&pkt);
      ok = !out->packets.empty();
    }
  }
  avformat_close_input(&fmt);
  return ok;
}

ICMDecompressionTrackingCallbackRecord Recorder::Record() { return {Track, this}; }

ICMDecompressionSessionRef MakeSession(const Stream& stream, OSType format, Recorder* recorder, OSStatus* err,
                                       ICMDecompressionSessionOptionsRef options, int width, int height) {
  CFMutableDictionaryRef attrs = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                                           &kCFTypeDictionaryValueCallBacks);
  int32_t w = width ? width : stream.width, h = height ? height : stream.height, f = static_cast<int32_t>(format);
  for (auto [key, value] : {std::pair{"Width", &w}, {"Height", &h}, {"PixelFormatType", &f}}) {
    CFNumberRef n = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, value);
    CFDictionarySetValue(attrs, __CFStringMakeConstantString(key), n);
    CFRelease(n);
  }
  CFDictionarySetValue(attrs, __CFStringMakeConstantString("CGImageCompatibility"), kCFBooleanTrue);
  std::vector<uint8_t> desc = stream.description;
  Ptr p = reinterpret_cast<Ptr>(desc.data());
  ImageDescriptionHandle handle = reinterpret_cast<ImageDescriptionHandle>(&p);
  ICMDecompressionTrackingCallbackRecord record = recorder->Record();
  ICMDecompressionSessionRef session = nullptr;
  *err = ICMDecompressionSessionCreate(kCFAllocatorDefault, handle, options, attrs, &record, &session);
  CFRelease(attrs);
  return session;
}

ICMFrameTimeRecord TimeOf(const Packet& p, int32_t flags) {
  ICMFrameTimeRecord t = {};
  t.value = p.dts;
  t.scale = 0;
  t.rate = fixed1;
  t.recordSize = sizeof(t);
  t.flags = flags | icmFrameTimeHasDisplayTimes;
  t.displayOffset = p.pts - p.dts;
  t.displayDuration = p.duration;
  return t;
}

}  // namespace qtm::test
