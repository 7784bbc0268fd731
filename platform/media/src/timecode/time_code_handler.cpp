#include "timecode/time_code_handler.h"

#include <cstring>

#include "movie/byte_reader.h"

static_assert(sizeof(TimeCodeDescription) == 34 && sizeof(TimeCodeDef) == 14);

namespace qtm {

OSErr ReadTimeCodeDef(const std::vector<uint8_t>& description, TimeCodeDef* definition) {
  if (description.size() < sizeof(TimeCodeDescription)) return badFileFormat;
  TimeCodeDescription desc;
  memcpy(&desc, description.data(), sizeof(desc));
  const TimeCodeDef& def = desc.timeCodeDef;
  if (def.fTimeScale <= 0 || def.frameDuration <= 0 || def.numFrames == 0) return badFileFormat;
  *definition = def;
  return noErr;
}

OSErr TimeCodeOfFrame(const TimeCodeDef& def, int64_t frame, TimeCodeRecord* record) {
  memset(record, 0, sizeof(*record));
  if (def.flags & tcCounter) {
    if (frame < INT32_MIN || frame > INT32_MAX) return invalidTime;
    record->c.value = static_cast<int32_t>(frame);
    return noErr;
  }
  const int64_t fps = def.numFrames;
  if (fps <= 0) return badFileFormat;
  const int64_t frames_per_day = fps * 86400;

  bool negative = false;
  if (frame < 0) {
    if (def.flags & tcNegTimesOK) {
      negative = true;
      frame = -frame;
    } else if (def.flags & tc24HourMax) {
      frame = frame % frames_per_day + frames_per_day;  // counted back from midnight
    } else {
      return invalidTime;
    }
  }

  // Drop-frame: the labels 0 and 1 (0 to 3 at 60 frames) are skipped at the
  // start of every minute except each tenth. Only nominal rates that are
  // multiples of 30 drop; the flag is ignored for others.
  if ((def.flags & tcDropFrame) && fps % 30 == 0) {
    const int64_t drop = fps / 15;
    const int64_t per_minute = fps * 60 - drop;
    const int64_t per_ten_minutes = fps * 600 - drop * 9;
    int64_t tens = frame / per_ten_minutes;
    int64_t rest = frame % per_ten_minutes;
    frame += drop * 9 * tens;
    if (rest > drop) frame += drop * ((rest - drop) / per_minute);
  }

  if (def.flags & tc24HourMax) frame %= frames_per_day;
  int64_t hours = frame / (fps * 3600);
  if (hours > 255) return invalidTime;
  record->t.hours = static_cast<uint8_t>(hours);
  record->t.minutes = static_cast<uint8_t>(frame / (fps * 60) % 60);
  record->t.seconds = static_cast<uint8_t>(frame / fps % 60);
  record->t.frames = static_cast<uint8_t>(frame % fps);
  if (negative) record->t.minutes |= tctNegFlag;
  return noErr;
}

HandlerError TimeCodeHandler::TimeCodeAtTime(TimeValue media_time, int32_t* frame_number, TimeCodeDef* definition,
                                             TimeCodeRecord* record) const {
  const TrackModel* track = track_;
  const MovieModel* movie = movie_;
  if (!track || !movie || !movie->source || !track->samples) return invalidMedia;
  if (media_time < 0) return invalidTime;
  if (track->timescale <= 0) return invalidMedia;

  const SampleTable& samples = *track->samples;
  if (samples.Count() == 0) return invalidMedia;
  int64_t index = samples.IndexAtDecodeTime(media_time);
  if (index < 0) {
    // Past the last sample the count goes on from it.
    if (media_time < samples.TotalDuration()) return invalidTime;
    index = samples.Count() - 1;
  }
  SampleInfo info;
  if (!samples.Get(static_cast<uint32_t>(index), &info) || media_time < info.decode_time) return invalidTime;
  if (info.description_index < 1 || info.description_index > track->descriptions.size()) return badFileFormat;

  TimeCodeDef def;
  if (OSErr err = ReadTimeCodeDef(track->descriptions[info.description_index - 1], &def)) return err;

  // Each sample holds the frame number where it starts, big-endian.
  uint8_t start_bytes[4];
  if (info.size < 4 || !movie->source->ReadAt(info.offset, start_bytes, 4)) return badFileFormat;
  int64_t start = static_cast<int32_t>(ReadBE32(start_bytes));

  int64_t elapsed = media_time - info.decode_time;
  int64_t frame = start + elapsed * def.fTimeScale / (int64_t{track->timescale} * def.frameDuration);
  if (frame < INT32_MIN || frame > INT32_MAX) return invalidTime;

  TimeCodeRecord tc;
  if (OSErr err = TimeCodeOfFrame(def, frame, &tc)) return err;
  if (frame_number) *frame_number = static_cast<int32_t>(frame);
  if (definition) *definition = def;
  if (record) *record = tc;
  return noErr;
}

MediaHandler CreateTimeCodeHandler(const TrackModel* track, const MovieModel* movie) {
  if (!track || track->media_type != TimeCodeMediaType) return nullptr;
  return new TimeCodeHandler(track, movie);
}

void DisposeMediaHandler(MediaHandler handler) { delete handler; }

}  // namespace qtm
