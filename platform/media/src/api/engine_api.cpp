// The engine's own call that says why a movie does not play, over the
// diagnosis of the movie at a path.
#include <cstring>

#include "api/export.h"
#include "diagnosis/movie_diagnosis.h"
#include "movie/data_source.h"
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
