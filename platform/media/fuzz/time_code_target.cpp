// A time-code track built from the bytes, and the 'tmcd' handler's answers
// at times in and around it.
//
// Input: the media time scale (32 bits), two times to ask for (32 bits
// each), a sample count (low 4 bits of a byte) and each sample's duration
// (32 bits), the description entry's length (a byte) and the entry as 'stsd'
// holds it, then the samples' data: four bytes each, one after another.
#include <algorithm>
#include <vector>

#include "api/records.h"
#include "fuzz_targets.h"
#include "movie/byte_reader.h"
#include "movie/descriptions.h"
#include "movie/sample_table.h"
#include "movie_calls.h"
#include "timecode/time_code_handler.h"

namespace qtm::fuzz {

int FuzzTimeCode(const uint8_t* data, size_t size) {
  StartEngineOnce();
  ByteReader r(data, size);
  const int32_t scale = r.S32();
  const int32_t asked[2] = {r.S32(), r.S32()};
  const uint32_t count = r.U8() & 0x0F;
  auto table = std::make_unique<CompactSampleTable>(1u << 20);
  for (uint32_t i = 0; i < count; ++i) {
    table->AddTimes(1, r.U32() & 0x7FFFFFFF);
    table->AddChunkOffset(4 * i);
  }
  table->AddSizes(count, 4);
  table->AddChunkRun(0, 1, 1);
  const size_t length = std::min<size_t>(r.U8(), r.remaining());
  if (!r.ok() || length < 16) return 0;
  std::vector<uint8_t> entry(length);
  r.Read(entry.data(), length);
  entry[0] = entry[1] = entry[2] = 0;
  entry[3] = static_cast<uint8_t>(length);
  if (!table->Finish()) return 0;

  MovieRecord movie;
  movie.model = std::make_unique<MovieModel>();
  movie.model->source = MakeMemorySource(r.Rest());
  auto track = std::make_unique<TrackModel>();
  track->media_type = TimeCodeMediaType;
  track->timescale = scale;
  track->descriptions.push_back(DescriptionFromEntry(TimeCodeMediaType, entry.data(), entry.size()));
  track->media_duration = table->TotalDuration();
  track->samples = std::move(table);
  MediaRecord media;
  media.movie = &movie;
  media.track = track.get();
  movie.model->tracks.push_back(std::move(track));

  MediaHandler handler = CreateTimeCodeHandler(media.track, media.movie->model.get());
  const int64_t end = movie.model->tracks[0]->media_duration;
  AskTimeCodes(handler, {asked[0], asked[1], 0, end / 2, end - 1, end, end + 1, INT32_MAX});
  DisposeMediaHandler(handler);

  TimeCodeDef definition;
  if (ReadTimeCodeDef(movie.model->tracks[0]->descriptions[0], &definition) == noErr) {
    TimeCodeRecord record;
    for (int64_t frame : {int64_t{asked[0]}, int64_t{asked[1]}, int64_t{-1}, int64_t{INT32_MIN}, int64_t{INT32_MAX}})
      TimeCodeOfFrame(definition, frame, &record);
  }
  return 0;
}

}  // namespace qtm::fuzz
