#include "diagnosis/movie_diagnosis.h"

#include <cstring>
#include <memory>

#include "audio/audio_extraction.h"
#include "audio/sound_description.h"
#include "diagnosis/first_bytes.h"
#include "icm/codec_setup.h"
#include "movie/byte_reader.h"
#include "movie/four_cc.h"
#include "movie/movie_model.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace qtm {
namespace {

constexpr uint32_t kEncryptedVideo = FourCC("encv");
constexpr uint32_t kEncryptedSound = FourCC("enca");

std::string Quoted(uint32_t code) { return "'" + FourCCText(code) + "'"; }

// " (the 'stsz' atom at offset 1234)", or nothing when the place is unknown.
std::string PlaceText(const AtomPlace& place) {
  if (!place.known) return {};
  std::string where = " (the ";
  where += place.type ? Quoted(place.type) + " atom" : std::string("atom header");
  return where + " at offset " + std::to_string(place.offset) + ")";
}

std::string PlaceText(uint32_t type, uint64_t offset) {
  return offset ? PlaceText(AtomPlace{true, type, offset}) : std::string();
}

// The system's words without their closing full stop and line break.
std::string Trimmed(std::string words) {
  while (!words.empty() && (words.back() == '.' || words.back() == ' ' || words.back() == '\n' || words.back() == '\r'))
    words.pop_back();
  return words;
}

// libavcodec's name of the codec QuickTime calls code, or empty.
std::string CodecName(uint32_t code, bool video) {
  // libavformat's tags hold the first character in the low byte.
  uint32_t tag = (code >> 24) | ((code >> 8) & 0xFF00) | ((code << 8) & 0xFF0000) | (code << 24);
  const AVCodecTag* const tables[] = {video ? avformat_get_mov_video_tags() : avformat_get_mov_audio_tags(), nullptr};
  const AVCodecDescriptor* d = avcodec_descriptor_get(av_codec_get_id(tables, tag));
  if (!d) return {};
  return d->long_name ? d->long_name : d->name;
}

// "'avc1' (H.264 / AVC ...)", or the code alone.
std::string CodecText(uint32_t code, bool video, const std::string& fallback_name = {}) {
  std::string name = CodecName(code, video);
  if (name.empty() && !fallback_name.empty()) name = "\"" + fallback_name + "\"";
  return Quoted(code) + (name.empty() ? "" : " (" + name + ")");
}

// The format a protected sample entry stands for: its 'sinf' > 'frma'
// (ISO/IEC 14496-12, 8.12), or 0.
uint32_t OriginalFormat(const std::vector<uint8_t>& description) {
  static const uint8_t kFrma[] = {0, 0, 0, 12, 'f', 'r', 'm', 'a'};
  for (size_t i = 0; i + sizeof kFrma + 4 <= description.size(); ++i) {
    if (std::memcmp(description.data() + i, kFrma, sizeof kFrma) == 0) return ReadBE32(description.data() + i + 8);
  }
  return 0;
}

std::string EncryptedText(const char* stream, uint32_t code, const std::vector<uint8_t>& description, bool video) {
  std::string text = std::string("The ") + stream + " samples are encrypted (" + Quoted(code);
  if (uint32_t original = OriginalFormat(description)) text += ", protecting " + CodecText(original, video);
  return text + "): Kestrel plays no protected media.";
}

uint32_t DataFormat(const std::vector<uint8_t>& description) {
  SampleDescription head;
  std::memcpy(&head, description.data(), sizeof head);
  return static_cast<uint32_t>(head.dataFormat);
}

void Refuse(StreamDiagnosis* s, int32_t verdict, std::string reason) {
  s->verdict = verdict;
  s->reason = std::move(reason);
}

void DiagnoseVideo(const TrackModel& track, StreamDiagnosis* s) {
  s->present = true;
  const std::string place = PlaceText(FourCC("stsd"), track.stsd_offset);
  if (track.descriptions.empty() || track.descriptions[0].size() < sizeof(ImageDescription)) {
    Refuse(s, qtmDamaged, "The video track's sample description is damaged" + place + ".");
    return;
  }
  const std::vector<uint8_t>& record = track.descriptions[0];
  ImageDescription id;
  std::memcpy(&id, record.data(), sizeof id);
  const uint32_t code = static_cast<uint32_t>(id.cType);
  const std::string stated_name(reinterpret_cast<const char*>(id.name + 1), std::min<size_t>(id.name[0], 31));
  s->format = CodecText(code, true, stated_name) + ", " + std::to_string(id.width) + "x" + std::to_string(id.height);
  if (track.timescale <= 0) {
    Refuse(s, qtmDamaged,
           track.mdhd_offset ? "The video track's time scale is 0" + PlaceText(FourCC("mdhd"), track.mdhd_offset) + "."
                             : std::string("The video track's time scale is 0: it has no media header ('mdhd')."));
    return;
  }
  if (code == kEncryptedVideo) {
    Refuse(s, qtmEncrypted, EncryptedText("video", code, record, true));
    return;
  }
  CodecSetup setup;
  OSErr err = ParseImageDescription(record.data(), record.size(), &setup);
  if (err == noCodecErr) {
    Refuse(s, qtmUnsupportedCodec,
           "The video codec " + CodecText(code, true, stated_name) + " is not one this build of Kestrel decodes.");
    return;
  }
  if (err != noErr) {
    Refuse(s, qtmDamaged, "The video track's sample description is damaged" + place + ".");
    return;
  }
  const AVCodec* codec = avcodec_find_decoder(setup.codec_id);
  AVCodecContext* ctx = codec ? NewDecoderContext(setup, codec) : nullptr;
  bool opens = ctx && avcodec_open2(ctx, codec, nullptr) >= 0;
  avcodec_free_context(&ctx);
  if (!opens) {
    Refuse(
        s, qtmDamaged,
        "The " + CodecName(code, true) + " decoder does not take the video track's sample description" + place + ".");
  }
}

void DiagnoseSound(const MovieModel& movie, StreamDiagnosis* s) {
  AudioExtraction::Source source;
  if (!AudioExtraction::SourceOfMovie(movie, &source)) {
    Refuse(s, qtmNoPlayableStream, "Every sound track of the movie is disabled.");
    return;
  }
  const TrackModel* track = nullptr;
  for (const auto& t : movie.tracks) {
    if (t->media_type == SoundMediaType && t->enabled && !track) track = t.get();
  }
  const std::string place = PlaceText(FourCC("stsd"), track->stsd_offset);
  if (track->descriptions.empty() || track->descriptions[0].size() < sizeof(SoundDescription)) {
    Refuse(s, qtmDamaged, "The sound track's sample description is damaged" + place + ".");
    return;
  }
  const std::vector<uint8_t>& record = track->descriptions[0];
  const uint32_t code = DataFormat(record);
  s->format = CodecText(code, false);
  AudioStreamBasicDescription asbd = {};
  if (StreamFormatOfSoundDescription(record.data(), record.size(), &asbd)) {
    s->format += ", " + std::to_string(static_cast<long long>(asbd.mSampleRate)) + " Hz, " +
                 std::to_string(asbd.mChannelsPerFrame) + (asbd.mChannelsPerFrame == 1 ? " channel" : " channels");
  }
  if (code == kEncryptedSound) {
    Refuse(s, qtmEncrypted, EncryptedText("sound", code, record, false));
    return;
  }
  // The sound's times are movie times: without a movie time scale there are none.
  if (movie.timescale <= 0) {
    Refuse(s, qtmDamaged,
           movie.mvhd_offset ? "The movie's time scale is 0" + PlaceText(FourCC("mvhd"), movie.mvhd_offset) + "."
                             : std::string("The movie's time scale is 0: it has no movie header ('mvhd')."));
    return;
  }
  std::unique_ptr<AudioExtraction> extraction;
  switch (AudioExtraction::Open(source, &extraction)) {
    case noErr:
      break;
    case noCodecErr:
      Refuse(s, qtmUnsupportedCodec,
             "The sound codec " + CodecText(code, false) + " is not one this build of Kestrel decodes.");
      break;
    case memFullErr:
      Refuse(s, qtmDamaged, "The sound track needs more memory than there is.");
      break;
    case couldNotResolveDataRef:
      Refuse(s, qtmDamaged, "The sound track cannot be read: the file does not open as a movie for its sound.");
      break;
    case invalidTrack:
      Refuse(s, qtmDamaged, "The sound track cannot be read: no sound stream of the file answers to it.");
      break;
    case badFileFormat:
      Refuse(s, qtmDamaged, "The sound track cannot be read: its rate and channels are not found.");
      break;
    default:
      Refuse(s, qtmDamaged, "The sound track cannot be read.");
      break;
  }
}

// Why the file did not open as a movie.
void DiagnoseOpenFailure(const std::string& path, OSErr err, const OpenFailure& failure, MovieDiagnosis* d) {
  switch (failure.file.kind) {
    case FileOpenError::kNotFound:
      d->verdict = qtmNotFound;
      d->reason = "There is no such file.";
      return;
    case FileOpenError::kIsDirectory:
      d->verdict = qtmIsDirectory;
      d->reason = "It is a folder, not a movie file.";
      return;
    case FileOpenError::kUnreadable:
      d->verdict = qtmUnreadable;
      d->reason = "The file cannot be read: " + Trimmed(failure.file.message) + ".";
      return;
    case FileOpenError::kNone:
      break;
  }
  if (err == fnfErr) {  // no native path for it
    d->verdict = qtmNotFound;
    d->reason = "There is no such file.";
  } else if (err == eofErr) {
    d->verdict = qtmEmpty;
    d->reason = "The file is empty.";
  } else if (err == badFileFormat) {
    std::shared_ptr<DataSource> source = OpenFileSource(path);
    FirstBytes first = source ? ReadFirstBytes(*source) : FirstBytes();
    const bool ours = IsImportedKind(first.demuxer.c_str());
    uint8_t head[8] = {};
    const uint32_t type = source && source->ReadAt(0, head, sizeof head) ? ReadBE32(head + 4) : 0;
    d->verdict = qtmNotAMovie;
    if (!failure.imported && (IsTopLevelAtomType(type) || (ours && first.demuxer.find("mov") == 0))) {
      // A movie's first atom, or libavformat sees a movie, where the reader
      // refused the start of the file.
      d->verdict = qtmDamaged;
      d->reason = "The movie is damaged: its first atom's header is broken" +
                  PlaceText(AtomPlace{true, IsTopLevelAtomType(type) ? type : 0, 0}) + ".";
    } else if (ours && !failure.imported) {
      d->reason = "It is " + first.kind + ", not the QuickTime or MPEG-4 movie its name says.";
    } else if (ours) {
      d->verdict = qtmDamaged;
      d->reason = "The file is damaged: it begins as " + first.kind + " but does not open.";
    } else if (!first.kind.empty()) {
      d->reason = "It is not a movie of a kind Kestrel opens: by its first bytes, " + first.kind + ".";
    } else {
      d->reason = "It is not a movie of a kind Kestrel opens: its first bytes are " + first.hex + ".";
    }
  } else if (failure.no_streams) {
    d->verdict = qtmNoPlayableStream;
    d->reason = "The file has no video or sound stream.";
  } else if (err == memFullErr) {
    d->verdict = qtmDamaged;
    d->reason = "The movie needs more memory than there is to open.";
  } else {
    d->verdict = qtmDamaged;
    d->reason = "The movie is damaged: " + (failure.reason.empty() ? std::string("it does not open") : failure.reason) +
                PlaceText(failure.atom) + ".";
  }
}

}  // namespace

MovieDiagnosis DiagnoseMovie(const std::string& path) {
  MovieDiagnosis d;
  std::unique_ptr<MovieModel> movie;
  OpenFailure failure;
  OSErr err = path.empty() ? OSErr(fnfErr) : OpenMovieModel(path, &movie, &failure);
  if (err != noErr) {
    DiagnoseOpenFailure(path, err, failure, &d);
    return d;
  }
  for (const auto& t : movie->tracks) {
    if (t->media_type == VideoMediaType) {
      DiagnoseVideo(*t, &d.video);
      break;
    }
  }
  for (const auto& t : movie->tracks) d.sound.present = d.sound.present || t->media_type == SoundMediaType;
  if (d.sound.present) DiagnoseSound(*movie, &d.sound);
  if (!d.video.present && !d.sound.present) {
    d.verdict = qtmNoPlayableStream;
    d.reason = "The movie has no video or sound track.";
  }
  return d;
}

}  // namespace qtm
