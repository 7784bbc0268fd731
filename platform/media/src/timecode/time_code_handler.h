// The 'tmcd' media handler behind TCGetTimeCodeAtTime. GetMediaHandler makes
// one for a time-code media (CreateTimeCodeHandler) and the media record owns
// it (DisposeMediaHandler).
#ifndef QTMEDIA_TIMECODE_TIME_CODE_HANDLER_H
#define QTMEDIA_TIMECODE_TIME_CODE_HANDLER_H

#include <cstdint>
#include <vector>

#include "movie/movie_model.h"
#include "qtmedia.h"

// Base of every media handler the engine makes.
struct ComponentInstanceRecord {
  virtual ~ComponentInstanceRecord() = default;
};

namespace qtm {

class TimeCodeHandler final : public ComponentInstanceRecord {
 public:
  TimeCodeHandler(const TrackModel* track, const MovieModel* movie) : track_(track), movie_(movie) {}

  // The frame number, definition and time code at a time-code media time.
  HandlerError TimeCodeAtTime(TimeValue media_time, int32_t* frame_number, TimeCodeDef* definition,
                              TimeCodeRecord* record) const;

 private:
  const TrackModel* track_;
  const MovieModel* movie_;
};

// A handler for a 'tmcd' track of the movie; null for any other track.
MediaHandler CreateTimeCodeHandler(const TrackModel* track, const MovieModel* movie);

// Frees a handler the engine made; null is fine.
void DisposeMediaHandler(MediaHandler handler);

// The definition held in a time-code sample description (the in-memory
// TimeCodeDescription). badFileFormat when it is too short or its time
// scale, frame duration or frame count is not positive.
OSErr ReadTimeCodeDef(const std::vector<uint8_t>& description, TimeCodeDef* definition);

// Hours, minutes, seconds and frames of a frame number under a definition:
// drop-frame counting, the 24-hour wrap, negative times where allowed. The
// counter flag gives the frame number itself.
OSErr TimeCodeOfFrame(const TimeCodeDef& definition, int64_t frame_number, TimeCodeRecord* record);

}  // namespace qtm

#endif
