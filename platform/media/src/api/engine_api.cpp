// The engine's own calls (qtmedia/engine.h), beside QuickTime's: its
// interface version, wide paths, the atom dump, why a movie does not play,
// a picture converted straight into the caller's memory, and a media's
// extended language tag.
#include <algorithm>
#include <cstring>

#include "api/api_state.h"
#include "api/export.h"
#include "api/records.h"
#include "diagnosis/movie_diagnosis.h"
#include "icm/pixel_buffer.h"
#include "movie/data_source.h"
#include "movie/movie_model.h"
#include "qtmedia.h"

namespace {

// Copies text into a record's field, cut at a character boundary.
void CopyText(const std::string& text, char (&field)[QTM_DIAGNOSIS_TEXT_BYTES]) {
  size_t n = text.size();
  if (n >= sizeof field) {
    n = sizeof field - 1;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;  // a UTF-8 continuation byte
  }
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

void CopyStream(const qtm::StreamDiagnosis& from, QtmStreamDiagnosis* to) {
  to->present = from.present ? 1 : 0;
  to->verdict = from.verdict;
  CopyText(from.reason, to->reason);
  CopyText(from.format, to->format);
}

}  // namespace

QTM_EXPORT int32_t qtm_GetInterfaceVersion() { return QTM_INTERFACE_VERSION; }

QTM_EXPORT OSErr qtm_OpenMovieFileW(const UniChar* path, int16_t* resRefNum) {
  if (resRefNum) *resRefNum = 0;
  if (!path || !resRefNum) return qtm::SetMoviesError(paramErr);
  return qtm::OpenMovieFilePath(qtm::PathFromUtf16(path), resRefNum);
}

QTM_EXPORT OSErr qtm_DumpAtoms(const UniChar* path, Handle* text) {
  if (!path || !text) return paramErr;
  *text = nullptr;
  std::string utf8 = qtm::PathFromUtf16(path);
  std::shared_ptr<qtm::DataSource> source = utf8.empty() ? nullptr : qtm::OpenFileSource(utf8);
  if (!source) return fnfErr;
  std::string dump;
  OSErr err = qtm::DumpAtoms(std::move(source), &dump);
  Handle h = NewHandle(static_cast<Size>(dump.size()));
  if (!h) return memFullErr;
  std::memcpy(*h, dump.data(), dump.size());
  *text = h;
  return err;
}

QTM_EXPORT OSErr qtm_DiagnoseMovie(const UniChar* path, QtmMovieDiagnosis* diagnosis) {
  if (!path || !diagnosis) return paramErr;
  std::memset(diagnosis, 0, sizeof *diagnosis);
  qtm::MovieDiagnosis d = qtm::DiagnoseMovie(qtm::PathFromUtf16(path));
  diagnosis->verdict = d.verdict;
  CopyText(d.reason, diagnosis->reason);
  CopyStream(d.video, &diagnosis->video);
  CopyStream(d.sound, &diagnosis->sound);
  return noErr;
}

QTM_EXPORT CVReturn qtm_PixelBufferConvertInto(CVPixelBufferRef buffer, void* base, size_t bytes_per_row, size_t size) {
  QtmPixelBuffer* b = qtm::ValidPixelBuffer(buffer);
  if (!b) return kCVReturnInvalidArgument;
  return qtm::ConvertPendingPictureInto(b, static_cast<uint8_t*>(base), bytes_per_row, size) ? kCVReturnSuccess
                                                                                             : kCVReturnError;
}

QTM_EXPORT OSErr qtm_GetMediaExtendedLanguageTag(Media theMedia, char* tag, size_t size) {
  if (!theMedia || !tag || size == 0) return paramErr;
  tag[0] = '\0';
  const std::string& text = theMedia->track->extended_language;
  if (text.empty()) return userDataItemNotFound;
  size_t n = std::min(text.size(), size - 1);
  std::memcpy(tag, text.data(), n);
  tag[n] = '\0';
  return noErr;
}
