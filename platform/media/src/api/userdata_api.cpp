// QuickTime's user data calls over the movie's and tracks' user data, and
// the time-code call (both in userdata.h).
#include <cstring>
#include <string>

#include "api/export.h"
#include "api/records.h"
#include "qtmedia.h"
#include "timecode/time_code_handler.h"
#include "userdata/user_data.h"

QTM_EXPORT UserData GetMovieUserData(Movie theMovie) {
  if (!theMovie || !theMovie->model) return nullptr;
  if (!theMovie->user_data.movie) theMovie->user_data = {theMovie->model.get(), &theMovie->model->user_data};
  return reinterpret_cast<UserData>(&theMovie->user_data);
}

QTM_EXPORT UserData GetTrackUserData(Track theTrack) {
  if (!theTrack) return nullptr;
  if (!theTrack->user_data.items) theTrack->user_data.items = &theTrack->track->user_data;
  return reinterpret_cast<UserData>(&theTrack->user_data);
}

QTM_EXPORT OSErr GetUserDataText(UserData theUserData, Handle data, OSType udType, int32_t index,
                                 int16_t itlRegionTag) {
  if (!theUserData) return paramErr;
  if (!data) return nilHandleErr;
  const auto* list = reinterpret_cast<const UserDataRecord*>(theUserData);
  std::string text;
  OSErr err = list->movie   ? qtm::FindUserDataText(*list->movie, udType, index, itlRegionTag, &text)
              : list->items ? qtm::FindUserDataText(*list->items, udType, index, itlRegionTag, &text)
                            : userDataItemNotFound;
  if (err != noErr) return err;
  return PtrAndHand(text.data(), data, static_cast<Size>(text.size()));
}

// The payload of the index-th (from 1) item of a type, as stored: the
// handle is sized to it.
QTM_EXPORT OSErr GetUserData(UserData theUserData, Handle data, OSType udType, int32_t index) {
  if (!theUserData) return paramErr;
  if (!data) return nilHandleErr;
  const auto* list = reinterpret_cast<const UserDataRecord*>(theUserData);
  if (!list->items || index < 1) return userDataItemNotFound;
  int32_t seen = 0;
  for (const auto& item : *list->items) {
    if (item.type != udType || ++seen != index) continue;
    SetHandleSize(data, static_cast<Size>(item.payload.size()));
    if (OSErr err = MemError()) return err;
    if (!item.payload.empty()) std::memcpy(*data, item.payload.data(), item.payload.size());
    return noErr;
  }
  return userDataItemNotFound;
}

// The engine runs with the United States region: the texts it hands out are
// Windows-1252 whatever the host's locale.
QTM_EXPORT int32_t GetScriptManagerVariable(int16_t selector) { return selector == smRegionCode ? verUS : 0; }

// The source identification (the tape name) is not given: *srcRefH is none.
QTM_EXPORT HandlerError TCGetTimeCodeAtTime(MediaHandler mh, TimeValue mediaTime, int32_t* frameNum, TimeCodeDef* tcdef,
                                            TimeCodeRecord* tcrec, UserData* srcRefH) {
  if (srcRefH) *srcRefH = nullptr;
  const auto* handler = dynamic_cast<const qtm::TimeCodeHandler*>(mh);
  if (!handler) return paramErr;
  return handler->TimeCodeAtTime(mediaTime, frameNum, tcdef, tcrec);
}
