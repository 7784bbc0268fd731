// Imports the registered kinds that are not QuickTime or ISO files (AIFF,
// CAF, ADTS AAC, DV, GSM, AMR, Sound Designer II ...) through libavformat:
// one track per audio or video stream, a sample per packet at the packet's
// file position, sample descriptions made up from the codec.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

#include "movie/descriptions.h"
#include "movie/format_input.h"
#include "movie/four_cc.h"
#include "movie/movie_model.h"
#include "movie/mul_div.h"
#include "movie/sample_table.h"

namespace qtm {

namespace {

constexpr int32_t kImportedMovieScale = 600;
// Packet times are kept below 2^61, so that sums of their differences fit.
constexpr int64_t kMaxPacketTime = int64_t{1} << 61;

struct Packet {
  int64_t dts;
  int64_t duration;
  int64_t pos;
  uint32_t size;
  bool key;
};

// libavcodec's sound codecs and the formats QuickTime names them by.
struct SoundCodec {
  AVCodecID id;
  OSType format;
};
constexpr SoundCodec kSoundCodecs[] = {
    {AV_CODEC_ID_PCM_S16BE, FourCC("twos")},    {AV_CODEC_ID_PCM_S8, FourCC("twos")},
    {AV_CODEC_ID_PCM_S16LE, FourCC("sowt")},    {AV_CODEC_ID_PCM_U8, FourCC("raw ")},
    {AV_CODEC_ID_PCM_S24BE, FourCC("in24")},    {AV_CODEC_ID_PCM_S24LE, FourCC("in24")},
    {AV_CODEC_ID_PCM_S32BE, FourCC("in32")},    {AV_CODEC_ID_PCM_S32LE, FourCC("in32")},
    {AV_CODEC_ID_PCM_F32BE, FourCC("fl32")},    {AV_CODEC_ID_PCM_F32LE, FourCC("fl32")},
    {AV_CODEC_ID_PCM_F64BE, FourCC("fl64")},    {AV_CODEC_ID_PCM_F64LE, FourCC("fl64")},
    {AV_CODEC_ID_PCM_ALAW, FourCC("alaw")},     {AV_CODEC_ID_PCM_MULAW, FourCC("ulaw")},
    {AV_CODEC_ID_ADPCM_IMA_QT, FourCC("ima4")}, {AV_CODEC_ID_MACE3, FourCC("MAC3")},
    {AV_CODEC_ID_MACE6, FourCC("MAC6")},        {AV_CODEC_ID_AAC, FourCC("mp4a")},
    {AV_CODEC_ID_GSM, FourCC("agsm")},          {AV_CODEC_ID_AMR_NB, FourCC("samr")},
    {AV_CODEC_ID_AMR_WB, FourCC("sawb")},       {AV_CODEC_ID_ALAC, FourCC("alac")},
    {AV_CODEC_ID_MP3, FourCC(".mp3")},          {AV_CODEC_ID_QDM2, FourCC("QDM2")},
    {AV_CODEC_ID_AC3, FourCC("ac-3")},
};

OSType SoundFormat(const AVCodecParameters& p) {
  for (const SoundCodec& c : kSoundCodecs)
    if (c.id == p.codec_id) return c.format;
  if (p.codec_tag) return p.codec_tag;
  return FourCC("NONE");
}

// ISO 14496-1 descriptor length, four bytes as QuickTime writes it.
void PutDescriptor(std::vector<uint8_t>* out, uint8_t tag, const std::vector<uint8_t>& body) {
  out->push_back(tag);
  uint32_t n = static_cast<uint32_t>(body.size());
  out->push_back(uint8_t(0x80 | ((n >> 21) & 0x7F)));
  out->push_back(uint8_t(0x80 | ((n >> 14) & 0x7F)));
  out->push_back(uint8_t(0x80 | ((n >> 7) & 0x7F)));
  out->push_back(uint8_t(n & 0x7F));
  out->insert(out->end(), body.begin(), body.end());
}

// 'esds' for AAC: the decoder configuration around libavformat's AudioSpecificConfig.
std::vector<uint8_t> MakeEsds(const AVCodecParameters& p) {
  std::vector<uint8_t> specific(p.extradata, p.extradata + p.extradata_size);
  std::vector<uint8_t> config = {0x40, 0x15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  if (!specific.empty()) PutDescriptor(&config, 0x05, specific);
  std::vector<uint8_t> es = {0, 0, 0};  // ES_ID, flags
  PutDescriptor(&es, 0x04, config);
  PutDescriptor(&es, 0x06, {0x02});
  std::vector<uint8_t> payload = {0, 0, 0, 0};  // version, flags
  PutDescriptor(&payload, 0x03, es);
  return MakeAtom(FourCC("esds"), payload);
}

std::vector<uint8_t> VideoDescription(const AVCodecParameters& p) {
  OSType codec = p.codec_tag ? p.codec_tag : FourCC("NONE");
  std::string name;
  if (p.codec_id == AV_CODEC_ID_DVVIDEO) {
    bool pal = p.height == 576 || p.height == 288;
    codec = pal ? FourCC("dvcp") : FourCC("dvc ");
    name = pal ? "DV - PAL" : "DV - NTSC";
  } else if (const AVCodecDescriptor* d = avcodec_descriptor_get(p.codec_id)) {
    name = d->long_name ? d->long_name : d->name;
  }
  return MakeImageDescription(codec, p.width, p.height, 24, name, {});
}

bool IsLinearPcm(OSType format) {
  for (OSType f :
       {FourCC("twos"), FourCC("sowt"), FourCC("raw "), FourCC("in24"), FourCC("in32"), FourCC("fl32"), FourCC("fl64")})
    if (format == f) return true;
  return false;
}

// The depth the sound is delivered at, carried as the description's sample
// size (the extractor delivers it in whole bytes): linear PCM at its own
// depth; lossless coding (ALAC, FLAC) at the source's real depth, the
// stream's raw bits per sample; every other compressed source (companded,
// ADPCM, GSM, AMR, perceptual) at 16 bits, what its decoder gives.
int SourceDepth(const AVCodecParameters& p, OSType format) {
  if (IsLinearPcm(format)) {
    int bits = p.bits_per_coded_sample ? p.bits_per_coded_sample : av_get_bits_per_sample(p.codec_id);
    return bits > 0 ? bits : 16;
  }
  const AVCodecDescriptor* d = avcodec_descriptor_get(p.codec_id);
  if (d && (d->props & AV_CODEC_PROP_LOSSLESS) && p.bits_per_raw_sample > 0) return p.bits_per_raw_sample;
  return 16;
}

void SetReason(OpenFailure* failure, std::string reason) {
  if (failure) failure->reason = std::move(reason);
}

std::vector<uint8_t> SoundDescriptionOf(const AVCodecParameters& p) {
  OSType format = SoundFormat(p);
  std::vector<uint8_t> ext;
  if (p.codec_id == AV_CODEC_ID_AAC) ext = MakeEsds(p);
  return MakeSoundDescription(format, p.ch_layout.nb_channels, SourceDepth(p, format), p.sample_rate, ext);
}

}  // namespace

bool IsImportedKind(const char* demuxer) {
  // AIFF covers AIFF-C and CD audio files.
  static const char* const kKinds[] = {"aiff", "caf",   "dv",    "aac", "gsm",
                                       "amr",  "amrnb", "amrwb", "sdp", "mov,mp4,m4a,3gp,3g2,mj2"};
  for (const char* k : kKinds)
    if (demuxer && std::strcmp(demuxer, k) == 0) return true;
  return false;
}

namespace {

// The reader for a file of an imported kind, its streams probed.
OSErr OpenImportedInput(const std::shared_ptr<DataSource>& source, const std::string& path,
                        std::unique_ptr<FormatInput>* input, OpenFailure* failure) {
  if (!source) {
    SetReason(failure, "file does not open");
    return fnfErr;
  }
  if (source->Size() == 0) {
    SetReason(failure, "empty file");
    return eofErr;
  }
  *input = FormatInput::Open(source, path);
  if (!*input) {
    SetReason(failure, "not a movie file");
    return badFileFormat;
  }
  AVFormatContext* fmt = (*input)->context();
  if (!IsImportedKind(fmt->iformat->name)) {
    SetReason(failure, "not a kind Kestrel opens");
    return badFileFormat;
  }
  if (avformat_find_stream_info(fmt, nullptr) < 0) {
    SetReason(failure, "streams unreadable");
    return invalidMovie;
  }
  return noErr;
}

// A track for each audio or video stream with a usable time base;
// track_of maps a stream's index to its track, or -1.
OSErr AddImportedTracks(const AVFormatContext& fmt, MovieModel* movie, std::vector<int>* track_of,
                        OpenFailure* failure) {
  track_of->assign(fmt.nb_streams, -1);
  for (unsigned i = 0; i < fmt.nb_streams; ++i) {
    const AVStream* st = fmt.streams[i];
    const AVCodecParameters& p = *st->codecpar;
    if (p.codec_type != AVMEDIA_TYPE_VIDEO && p.codec_type != AVMEDIA_TYPE_AUDIO) continue;
    if (st->time_base.num <= 0 || st->time_base.den <= 0) continue;
    auto t = std::make_unique<TrackModel>();
    t->track_id = static_cast<uint32_t>(movie->tracks.size() + 1);
    t->source_stream = static_cast<int>(i);
    t->timescale = st->time_base.den;
    if (p.codec_type == AVMEDIA_TYPE_VIDEO) {
      t->media_type = VideoMediaType;
      t->handler_name = "Video Media Handler";
      t->width = p.width;
      t->height = p.height;
      t->descriptions.push_back(VideoDescription(p));
    } else {
      t->media_type = SoundMediaType;
      t->handler_name = "Sound Media Handler";
      t->descriptions.push_back(SoundDescriptionOf(p));
    }
    (*track_of)[i] = static_cast<int>(movie->tracks.size());
    movie->tracks.push_back(std::move(t));
  }
  if (movie->tracks.empty()) {
    SetReason(failure, "no audio or video stream");
    if (failure) failure->no_streams = true;
    return invalidMovie;
  }
  return noErr;
}

// Every packet of the tracks' streams, in file order, times in time-base
// units of 1/den.
OSErr ReadImportedPackets(AVFormatContext* fmt, const std::vector<int>& track_of,
                          std::vector<std::vector<Packet>>* packets) {
  AVPacket* pkt = av_packet_alloc();
  if (!pkt) return memFullErr;
  while (av_read_frame(fmt, pkt) >= 0) {
    int t = pkt->stream_index >= 0 && unsigned(pkt->stream_index) < fmt->nb_streams ? track_of[pkt->stream_index] : -1;
    if (t >= 0 && pkt->size > 0) {
      int64_t num = fmt->streams[pkt->stream_index]->time_base.num;
      int64_t dts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
      (*packets)[t].push_back({dts == AV_NOPTS_VALUE ? -1 : std::min(MulDiv64(dts, num, 1), kMaxPacketTime),
                               MulDiv64(pkt->duration, num, 1), pkt->pos, static_cast<uint32_t>(pkt->size),
                               (pkt->flags & AV_PKT_FLAG_KEY) != 0});
    }
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  return noErr;
}

// A track's sample table from its packets, one sample a chunk, and its
// durations; the packets are released.
OSErr BuildImportedTable(const AVStream& st, std::vector<Packet>* packets, const std::shared_ptr<SampleBudget>& budget,
                         TrackModel* track, OpenFailure* failure) {
  std::vector<Packet>& list = *packets;
  auto table = std::make_unique<CompactSampleTable>(budget);
  bool all_key = std::all_of(list.begin(), list.end(), [](const Packet& p) { return p.key; });
  if (!all_key) table->MarkSyncList();
  int64_t first = list.empty() || list[0].dts < 0 ? 0 : list[0].dts;
  int64_t next_time = first;
  // Where the stream says it ends, from the first packet, or -1.
  int64_t end = -1;
  if (st.duration != AV_NOPTS_VALUE && st.duration > 0) {
    int64_t start = st.start_time != AV_NOPTS_VALUE ? st.start_time * st.time_base.num : first;
    end = start + st.duration * st.time_base.num - first;
  }
  int64_t previous_duration = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    Packet& p = list[i];
    int64_t dts = p.dts >= 0 ? p.dts - first : next_time;
    int64_t duration = p.duration;
    if (duration <= 0 && i + 1 < list.size() && list[i + 1].dts >= 0) duration = list[i + 1].dts - first - dts;
    // A last packet without a duration (CAF) lasts to the stream's end,
    // or as long as the one before.
    if (duration <= 0 && i + 1 == list.size()) duration = end > dts ? end - dts : previous_duration;
    previous_duration = duration;
    if (duration < 0) duration = 0;
    if (duration > 0x7FFFFFFF) duration = 0x7FFFFFFF;
    // Each packet is a chunk of one sample.
    if (!table->AddTimes(1, static_cast<uint32_t>(duration), dts) || !table->AddSizes(1, p.size) ||
        !table->AddChunkRun(static_cast<uint32_t>(i), 1, 1)) {
      SetReason(failure, "more packets than the file can hold");
      return invalidMovie;
    }
    table->AddChunkOffset(p.pos >= 0 ? static_cast<uint64_t>(p.pos) : UINT64_MAX);
    if (!all_key && p.key) table->AddSync(static_cast<uint32_t>(i));
    next_time = std::max(dts, table->TimeEnd());
  }
  std::vector<Packet>().swap(list);
  if (!table->Finish()) {
    SetReason(failure, "sample tables contradict each other");
    return invalidMovie;
  }
  track->media_duration = table->TotalDuration();
  track->samples = std::move(table);
  if (track->timescale > 0)
    track->track_duration = MulDiv64(track->media_duration, kImportedMovieScale, track->timescale);
  return noErr;
}

}  // namespace

OSErr ImportMovie(std::shared_ptr<DataSource> source, const std::string& path, std::unique_ptr<MovieModel>* out,
                  OpenFailure* failure) {
  if (!out) return paramErr;
  if (failure) failure->imported = true;
  std::unique_ptr<FormatInput> input;
  OSErr err = OpenImportedInput(source, path, &input, failure);
  if (err != noErr) return err;
  AVFormatContext* fmt = input->context();

  auto movie = std::make_unique<MovieModel>();
  movie->path = path;
  movie->imported = true;
  movie->format_name = fmt->iformat->name;
  movie->timescale = kImportedMovieScale;
  movie->source = source;
  std::vector<int> track_of;
  if ((err = AddImportedTracks(*fmt, movie.get(), &track_of, failure)) != noErr) return err;

  std::vector<std::vector<Packet>> packets(movie->tracks.size());
  if ((err = ReadImportedPackets(fmt, track_of, &packets)) != noErr) return err;

  // All tracks together hold at most a sample for each byte of the file.
  auto budget = std::make_shared<SampleBudget>(source->Size());
  for (size_t t = 0; t < movie->tracks.size(); ++t) {
    TrackModel& track = *movie->tracks[t];
    err = BuildImportedTable(*fmt->streams[track.source_stream], &packets[t], budget, &track, failure);
    if (err != noErr) return err;
    movie->duration = std::max(movie->duration, track.track_duration);
  }
  const AVDictionaryEntry* tag = nullptr;
  while ((tag = av_dict_get(fmt->metadata, "", tag, AV_DICT_IGNORE_SUFFIX))) {
    movie->container_tags.emplace_back(tag->key, tag->value);
  }
  *out = std::move(movie);
  return noErr;
}

namespace {

bool HasReaderExtension(const std::string& path) {
  static const char* const kExtensions[] = {".mov", ".qt",  ".mqv", ".mp4",  ".m4v", ".m4a",
                                            ".m4b", ".m4p", ".3gp", ".3gpp", ".3g2", ".3gp2"};
  size_t dot = path.find_last_of('.');
  size_t slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = path.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const char* e : kExtensions)
    if (ext == e) return true;
  return false;
}

}  // namespace

OSErr OpenMovieModel(std::shared_ptr<DataSource> source, const std::string& path, std::unique_ptr<MovieModel>* out,
                     OpenFailure* failure) {
  if (!out) return paramErr;
  if (!HasReaderExtension(path)) return ImportMovie(std::move(source), path, out, failure);
  if (!source) {
    SetReason(failure, "file does not open");
    return fnfErr;
  }
  std::unique_ptr<MovieModel> movie;
  OSErr err = ReadMovie(source, &movie, failure ? &failure->reason : nullptr, failure ? &failure->atom : nullptr);
  if (err) return err;
  movie->path = path;
  *out = std::move(movie);
  return noErr;
}

OSErr OpenMovieModel(const std::string& path, std::unique_ptr<MovieModel>* out, OpenFailure* failure) {
  return OpenMovieModel(OpenFileSource(path, failure ? &failure->file : nullptr), path, out, failure);
}

}  // namespace qtm
