// The user-data catalogue and the time code at the first frame position.
#include <cstdio>

#include "common/json_writer.h"
#include "common/movie_json.h"
#include "movie/user_data_catalog.h"
#include "probe/probe.h"

namespace kestrel::probe {

// {display name: value} for every non-empty entry; null when the catalogue
// could not be read.
Section ProbeUserData(const Options& options) {
  Section s;
  UserDataCatalog catalog;
  if (FAILED(catalog.ReadUserData(options.file.c_str()))) {
    s.lines.push_back("user data: none (E_FAIL)");
    return s;
  }
  JsonObject object;
  for (int i = 0; i < catalog.GetEntryCount(); ++i) {
    wchar_t value[UserDataCatalog::kTextChars];
    if (FAILED(catalog.GetEntryValue(i, value)) || !value[0]) continue;
    std::string name = Utf8(UserDataCatalog::EntryName(i));
    object.Add(name, JsonString(value));
    s.lines.push_back("user data: " + name + ": " + Utf8(value));
  }
  s.json = object.Text();
  return s;
}

// {"drop_frame", "hours", "minutes", "seconds", "frames"}, or null without a
// time code.
Section ProbeTimeCode(MovieSession& session) {
  Section s;
  int32_t drop_frame = 0;
  uint8_t hours = 0, minutes = 0, seconds = 0, frames = 0;
  HRESULT hr = session.GetTimeCode(&drop_frame, &hours, &minutes, &seconds, &frames);
  if (hr != S_OK) {
    s.lines.push_back(hr == S_FALSE ? "timecode: none" : "timecode: error");
    return s;
  }
  s.json = tools::TimeCodeJson({drop_frame, hours, minutes, seconds, frames});
  char line[64];
  snprintf(line, sizeof line, "timecode: %02u:%02u:%02u%c%02u", hours, minutes, seconds, drop_frame ? ';' : ':',
           frames);
  s.lines.push_back(line);
  return s;
}

}  // namespace kestrel::probe
