// Media handlers: what GetMediaHandler hands out. Every media gets one; a
// media type with operations of its own (time code) makes a handler derived
// from ComponentInstanceRecord in CreateMediaHandler.
#ifndef QTMEDIA_API_MEDIA_HANDLER_H
#define QTMEDIA_API_MEDIA_HANDLER_H

#include "api/records.h"
#include "qtmedia.h"

struct ComponentInstanceRecord {
  explicit ComponentInstanceRecord(MediaRecord* m) : media(m) {}
  virtual ~ComponentInstanceRecord() = default;
  MediaRecord* media;
};

namespace qtm {

// The handler for a media of a type that has one of its own, or nullptr:
// the caller then makes a plain ComponentInstanceRecord. Called once per
// media, on its first GetMediaHandler; the media record owns the result.
MediaHandler CreateMediaHandler(MediaRecord* media);

}  // namespace qtm

#endif
