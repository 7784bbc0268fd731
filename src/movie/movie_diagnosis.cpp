#include "movie/movie_diagnosis.h"

#include <memory>
#include <new>

#include "qtmedia.h"

namespace kestrel {
namespace {

// Each reason: the engine's verdict for it (none for what only a pin finds)
// and the name the tools print.
struct ReasonRow {
  PlayReason reason;
  int32_t verdict;
  const char* code;
};
constexpr int32_t kNoVerdict = -1;
constexpr ReasonRow kReasons[] = {
    {PlayReason::kNotFound, qtmNotFound, "not_found"},
    {PlayReason::kIsDirectory, qtmIsDirectory, "is_directory"},
    {PlayReason::kUnreadable, qtmUnreadable, "unreadable"},
    {PlayReason::kEmpty, qtmEmpty, "empty"},
    {PlayReason::kNotAMovie, qtmNotAMovie, "not_a_movie"},
    {PlayReason::kDamaged, qtmDamaged, "damaged"},
    {PlayReason::kUnsupportedCodec, qtmUnsupportedCodec, "unsupported_codec"},
    {PlayReason::kEncrypted, qtmEncrypted, "encrypted"},
    {PlayReason::kMediaTypeRefused, kNoVerdict, "media_type_refused"},
    {PlayReason::kNoPlayableStream, qtmNoPlayableStream, "no_playable_stream"},
};

// A verdict this side does not know is taken as damage.
PlayReason ReasonOfVerdict(int32_t verdict) {
  if (verdict == qtmPlays) return PlayReason::kNone;
  for (const ReasonRow& row : kReasons)
    if (row.verdict == verdict) return row.reason;
  return PlayReason::kDamaged;
}

void CopyStream(const QtmStreamDiagnosis& from, StreamDiagnosis* to) {
  to->present = from.present != 0;
  to->reason = to->present ? ReasonOfVerdict(from.verdict) : PlayReason::kNone;
  to->text = from.reason;
  to->format = from.format;
}

}  // namespace

const char* PlayReasonCode(PlayReason reason) {
  for (const ReasonRow& row : kReasons)
    if (row.reason == reason) return row.code;
  return nullptr;
}

HRESULT DiagnoseMovie(const MoviePath& path, MovieDiagnosis* out) {
  if (!out) return E_POINTER;
  if (!path.get()) return E_FAIL;
  try {
    *out = MovieDiagnosis();
    // Five texts of 512 bytes: off the stack.
    auto record = std::make_unique<QtmMovieDiagnosis>();
    if (qtm_DiagnoseMovie(reinterpret_cast<const UniChar*>(path.get()), record.get()) != noErr) return E_FAIL;
    out->reason = ReasonOfVerdict(record->verdict);
    out->text = record->reason;
    CopyStream(record->video, &out->video);
    CopyStream(record->sound, &out->sound);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

PlayReason WhyLoadFails(const MovieDiagnosis& d, std::string* text) {
  if (d.reason != PlayReason::kNone) {
    *text = d.text;
    return d.reason;
  }
  for (const StreamDiagnosis* s : {&d.video, &d.sound}) {
    if (s->present && s->reason != PlayReason::kNone) {
      *text = s->text;
      return s->reason;
    }
  }
  std::string streams;
  if (d.video.present) streams = "video " + d.video.format;
  if (d.sound.present) streams += (streams.empty() ? "sound " : "; sound ") + d.sound.format;
  *text = "Kestrel cannot deliver the movie's streams as they are (" + streams + ").";
  return PlayReason::kMediaTypeRefused;
}

}  // namespace kestrel
