// Start-up, files, movies, tracks and media: QuickTime's movie calls on the
// engine's movie model.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include "api/api_state.h"
#include "api/export.h"
#include "api/records.h"
#include "movie/data_source.h"
#include "qtmedia.h"
#include "timecode/time_code_handler.h"

namespace qtm {

namespace {

thread_local OSErr t_movies_error = noErr;
thread_local OSErr t_mem_error = noErr;

std::atomic<int> g_qtml_count{0};

// A picture buffer for an 8192 x 8192 picture in BGRA (256 MB and a row)
// fits, as does every plane a decoder makes for the frames movies carry.
constexpr size_t kMaxFfmpegBlock = size_t{512} << 20;
std::atomic<int> g_movies_count{0};

// Movie files opened with OpenMovieFile, by reference number: the file's
// UTF-8 path and its bytes, opened once.
struct OpenFile {
  std::string path;
  std::shared_ptr<qtm::DataSource> source;
};
std::mutex g_files_mutex;
std::unordered_map<int16_t, OpenFile> g_files;
int16_t g_next_file = 1;

int32_t Clamp32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

std::string PascalToString(const uint8_t* p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

qtm::SampleTable* SamplesOf(Media m) { return m && m->track ? m->track->samples.get() : nullptr; }

void CopyMatrix(const Matrix& from, MatrixRecord* to) {
  for (size_t i = 0; i < from.size(); ++i) to->matrix[i / 3][i % 3] = from[i];
}

}  // namespace

OSErr SetMoviesError(OSErr err) { return t_movies_error = err; }
OSErr SetMemError(OSErr err) { return t_mem_error = err; }
OSErr GetMemError() { return t_mem_error; }

// Opens path and gives it a reference number.
OSErr OpenMovieFilePath(const std::string& path, int16_t* resRefNum) {
  std::shared_ptr<DataSource> source = path.empty() ? nullptr : OpenFileSource(path);
  if (!source) return SetMoviesError(fnfErr);
  std::lock_guard<std::mutex> lock(g_files_mutex);
  if (g_files.size() >= 30000) return SetMoviesError(memFullErr);
  int16_t ref;
  do {
    ref = g_next_file;
    g_next_file = g_next_file >= 30000 ? 1 : g_next_file + 1;
  } while (g_files.count(ref));
  g_files[ref] = OpenFile{path, std::move(source)};
  *resRefNum = ref;
  return SetMoviesError(noErr);
}

}  // namespace qtm

using qtm::SetMoviesError;

// ---- Start and end.

// FFmpeg's own messages would land on the host process's standard error:
// they stay quiet unless KESTREL_FFMPEG_LOG asks for them. No one block
// FFmpeg allocates may pass kMaxFfmpegBlock: libavformat's demuxers allocate
// what a file's header declares (the AIFF reader a comment chunk of 700 MB
// in a file of 400 bytes), and such a file now fails to open instead.
QTM_EXPORT OSErr InitializeQTML(int32_t) {
  if (qtm::g_qtml_count++ == 0) {
    av_max_alloc(qtm::kMaxFfmpegBlock);
    if (!getenv("KESTREL_FFMPEG_LOG")) av_log_set_level(AV_LOG_QUIET);
  }
  return noErr;
}

QTM_EXPORT void TerminateQTML() {
  int n = qtm::g_qtml_count.load();
  while (n > 0 && !qtm::g_qtml_count.compare_exchange_weak(n, n - 1)) {
  }
}

QTM_EXPORT OSErr EnterMovies() {
  ++qtm::g_movies_count;
  return SetMoviesError(noErr);
}

QTM_EXPORT void ExitMovies() {
  int n = qtm::g_movies_count.load();
  while (n > 0 && !qtm::g_movies_count.compare_exchange_weak(n, n - 1)) {
  }
}

QTM_EXPORT OSErr GetMoviesError() { return qtm::t_movies_error; }

// ---- Files.

// The name is the whole path, in the system's narrow encoding; the file
// need not exist (fnfErr then, with the record filled in all the same).
QTM_EXPORT OSErr FSMakeFSSpec(int16_t vRefNum, int32_t dirID, ConstStr255Param fileName, FSSpec* out) {
  if (!out || !fileName) return SetMoviesError(paramErr);
  std::memset(out, 0, sizeof *out);
  out->vRefNum = vRefNum;
  out->parID = dirID;
  std::memcpy(out->name, fileName, size_t{fileName[0]} + 1);
  std::string path = qtm::PathFromSystemName(qtm::PascalToString(fileName).c_str());
  if (path.empty() || !qtm::FileExists(path)) return SetMoviesError(fnfErr);
  return SetMoviesError(noErr);
}

QTM_EXPORT OSErr OpenMovieFile(const FSSpec* fileSpec, int16_t* resRefNum, int8_t permission) {
  if (resRefNum) *resRefNum = 0;
  if (!fileSpec || !resRefNum) return SetMoviesError(paramErr);
  return qtm::OpenMovieFilePath(qtm::PathFromSystemName(qtm::PascalToString(fileSpec->name).c_str()), resRefNum);
}

QTM_EXPORT OSErr CloseMovieFile(int16_t resRefNum) {
  std::lock_guard<std::mutex> lock(qtm::g_files_mutex);
  if (qtm::g_files.erase(resRefNum) == 0) return SetMoviesError(paramErr);
  return SetMoviesError(noErr);
}

QTM_EXPORT OSErr NewMovieFromFile(Movie* theMovie, int16_t resRefNum, int16_t* resId, StringPtr resName,
                                  int16_t newMovieFlags, Boolean* dataRefWasChanged) {
  if (dataRefWasChanged) *dataRefWasChanged = 0;
  if (!theMovie) return SetMoviesError(paramErr);
  *theMovie = nullptr;
  qtm::OpenFile file;
  {
    std::lock_guard<std::mutex> lock(qtm::g_files_mutex);
    auto it = qtm::g_files.find(resRefNum);
    if (it == qtm::g_files.end()) return SetMoviesError(paramErr);
    file = it->second;
  }
  std::unique_ptr<qtm::MovieModel> model;
  if (OSErr err = qtm::OpenMovieModel(file.source, file.path, &model)) return SetMoviesError(err);
  std::unique_ptr<MovieRecord> movie;
  try {
    movie = std::make_unique<MovieRecord>();
    movie->model = std::move(model);
    movie->active = (newMovieFlags & newMovieActive) != 0;
    for (auto& t : movie->model->tracks) {
      auto track = std::make_unique<TrackRecord>();
      track->movie = movie.get();
      track->track = t.get();
      track->media.movie = movie.get();
      track->media.track = t.get();
      track->user_data.items = &t->user_data;
      track->segments = qtm::BuildTrackSegments(*t, movie->model->timescale);
      movie->tracks.push_back(std::move(track));
    }
  } catch (const std::bad_alloc&) {
    return SetMoviesError(memFullErr);
  }
  movie->user_data = {movie->model.get(), &movie->model->user_data};
  if (resId) *resId = 0;
  *theMovie = movie.release();
  return SetMoviesError(noErr);
}

QTM_EXPORT void DisposeMovie(Movie theMovie) {
  if (!theMovie) return;
  for (auto& t : theMovie->tracks) qtm::DisposeMediaHandler(t->media.handler);
  delete theMovie;
}

// ---- Movies.

QTM_EXPORT Track GetMovieIndTrackType(Movie theMovie, int32_t index, OSType trackType, int32_t flags) {
  if (!theMovie) {
    SetMoviesError(invalidMovie);
    return nullptr;
  }
  SetMoviesError(noErr);
  if (index < 1) return nullptr;
  constexpr OSType kVisual = 0x65796573;   // 'eyes'
  constexpr OSType kAudible = 0x65617273;  // 'ears'
  int32_t seen = 0;
  for (auto& t : theMovie->tracks) {
    const qtm::TrackModel& m = *t->track;
    if ((flags & movieTrackEnabledOnly) && !m.enabled) continue;
    bool match;
    if (flags & movieTrackCharacteristic) {
      match = (trackType == kVisual && m.media_type == VideoMediaType) ||
              (trackType == kAudible && m.media_type == SoundMediaType);
    } else {
      match = m.media_type == trackType;
    }
    if (match && ++seen == index) return t.get();
  }
  return nullptr;
}

QTM_EXPORT int32_t GetMovieTrackCount(Movie theMovie) {
  if (!theMovie) return SetMoviesError(invalidMovie), 0;
  SetMoviesError(noErr);
  return static_cast<int32_t>(theMovie->tracks.size());
}

// The index-th (from 1) track of the movie, whatever its kind.
QTM_EXPORT Track GetMovieIndTrack(Movie theMovie, int32_t index) {
  if (!theMovie) return SetMoviesError(invalidMovie), nullptr;
  SetMoviesError(noErr);
  if (index < 1 || static_cast<size_t>(index) > theMovie->tracks.size()) return nullptr;
  return theMovie->tracks[index - 1].get();
}

QTM_EXPORT TimeScale GetMovieTimeScale(Movie theMovie) {
  if (!theMovie) return SetMoviesError(invalidMovie), 0;
  SetMoviesError(noErr);
  return theMovie->model->timescale;
}

QTM_EXPORT TimeValue GetMovieDuration(Movie theMovie) {
  if (!theMovie) return SetMoviesError(invalidMovie), 0;
  SetMoviesError(noErr);
  return qtm::Clamp32(theMovie->model->duration);
}

QTM_EXPORT TimeValue GetMovieTime(Movie theMovie, TimeRecord* currentTime) {
  if (!theMovie) return SetMoviesError(invalidMovie), 0;
  SetMoviesError(noErr);
  if (currentTime) {
    currentTime->value = theMovie->time;
    currentTime->scale = theMovie->model->timescale;
    currentTime->base = nullptr;
  }
  return qtm::Clamp32(theMovie->time);
}

QTM_EXPORT Fixed GetMoviePreferredRate(Movie theMovie) {
  if (!theMovie) return SetMoviesError(invalidMovie), 0;
  SetMoviesError(noErr);
  return theMovie->model->preferred_rate;
}

// Nothing to load ahead: sample data is read when asked for.
QTM_EXPORT OSErr PrerollMovie(Movie theMovie, TimeValue time, Fixed rate) {
  if (!theMovie) return SetMoviesError(invalidMovie);
  return SetMoviesError(noErr);
}

QTM_EXPORT void SetMovieActive(Movie theMovie, Boolean active) {
  if (!theMovie) {
    SetMoviesError(invalidMovie);
    return;
  }
  theMovie->active = active != 0;
  SetMoviesError(noErr);
}

// ---- Tracks and media.

QTM_EXPORT Media GetTrackMedia(Track theTrack) {
  if (!theTrack) return SetMoviesError(invalidTrack), nullptr;
  SetMoviesError(noErr);
  return &theTrack->media;
}

QTM_EXPORT Boolean GetTrackEnabled(Track theTrack) {
  if (!theTrack) return SetMoviesError(invalidTrack), 0;
  SetMoviesError(noErr);
  return theTrack->track->enabled ? 1 : 0;
}

// The engine plays what is enabled: audio extraction takes the first
// enabled sound track.
QTM_EXPORT void SetTrackEnabled(Track theTrack, Boolean isEnabled) {
  if (!theTrack) {
    SetMoviesError(invalidTrack);
    return;
  }
  theTrack->track->enabled = isEnabled != 0;
  SetMoviesError(noErr);
}

QTM_EXPORT int32_t GetTrackID(Track theTrack) {
  if (!theTrack) return SetMoviesError(invalidTrack), 0;
  SetMoviesError(noErr);
  return static_cast<int32_t>(theTrack->track->track_id);
}

// The next track of the same alternate group, after the last the first;
// the track itself when it is in no group or alone in it.
QTM_EXPORT Track GetTrackAlternate(Track theTrack) {
  if (!theTrack) return SetMoviesError(invalidTrack), nullptr;
  SetMoviesError(noErr);
  const int16_t group = theTrack->track->alternate_group;
  if (group == 0) return theTrack;
  const auto& tracks = theTrack->movie->tracks;
  size_t at = 0;
  while (at < tracks.size() && tracks[at].get() != theTrack) ++at;
  for (size_t step = 1; step <= tracks.size(); ++step) {
    Track next = tracks[(at + step) % tracks.size()].get();
    if (next->track->alternate_group == group) return next;
  }
  return theTrack;
}

namespace {

const qtm::TrackReference* ReferenceOf(Track track, OSType type) {
  for (const auto& ref : track->track->references)
    if (ref.type == type) return &ref;
  return nullptr;
}

}  // namespace

// The index-th (from 1) track that theTrack's reference of refType names;
// none for an empty slot or a track the movie does not have.
QTM_EXPORT Track GetTrackReference(Track theTrack, OSType refType, int32_t index) {
  if (!theTrack) return SetMoviesError(invalidTrack), nullptr;
  SetMoviesError(noErr);
  const qtm::TrackReference* ref = ReferenceOf(theTrack, refType);
  if (!ref || index < 1 || static_cast<size_t>(index) > ref->track_ids.size()) return nullptr;
  const uint32_t id = ref->track_ids[index - 1];
  for (auto& t : theTrack->movie->tracks)
    if (id != 0 && t->track->track_id == id) return t.get();
  return nullptr;
}

QTM_EXPORT int32_t GetTrackReferenceCount(Track theTrack, OSType refType) {
  if (!theTrack) return SetMoviesError(invalidTrack), 0;
  SetMoviesError(noErr);
  const qtm::TrackReference* ref = ReferenceOf(theTrack, refType);
  return ref ? static_cast<int32_t>(ref->track_ids.size()) : 0;
}

QTM_EXPORT int16_t GetMediaLanguage(Media theMedia) {
  if (!theMedia) return SetMoviesError(invalidMedia), 0;
  SetMoviesError(noErr);
  return static_cast<int16_t>(theMedia->track->language);
}

QTM_EXPORT void GetMovieMatrix(Movie theMovie, MatrixRecord* matrix) {
  if (!theMovie || !matrix) {
    SetMoviesError(theMovie ? paramErr : invalidMovie);
    return;
  }
  SetMoviesError(noErr);
  qtm::CopyMatrix(theMovie->model->matrix, matrix);
}

QTM_EXPORT void GetTrackMatrix(Track theTrack, MatrixRecord* matrix) {
  if (!theTrack || !matrix) {
    SetMoviesError(theTrack ? paramErr : invalidTrack);
    return;
  }
  SetMoviesError(noErr);
  qtm::CopyMatrix(theTrack->track->matrix, matrix);
}

QTM_EXPORT void GetMediaHandlerDescription(Media theMedia, OSType* mediaType, StringPtr creatorName,
                                           OSType* creatorManufacturer) {
  if (!theMedia) {
    SetMoviesError(invalidMedia);
    return;
  }
  const qtm::TrackModel& m = *theMedia->track;
  if (mediaType) *mediaType = m.media_type;
  if (creatorName) {
    size_t n = std::min<size_t>(m.handler_name.size(), 255);
    creatorName[0] = static_cast<uint8_t>(n);
    std::memcpy(creatorName + 1, m.handler_name.data(), n);
  }
  if (creatorManufacturer) *creatorManufacturer = 0x6170706C;  // 'appl'
  SetMoviesError(noErr);
}

QTM_EXPORT TimeScale GetMediaTimeScale(Media theMedia) {
  if (!theMedia) return SetMoviesError(invalidMedia), 0;
  SetMoviesError(noErr);
  return theMedia->track->timescale;
}

// The 32-bit duration saturates instead of wrapping.
QTM_EXPORT TimeValue GetMediaDuration(Media theMedia) {
  if (!theMedia) return SetMoviesError(invalidMedia), 0;
  SetMoviesError(noErr);
  return qtm::Clamp32(theMedia->track->media_duration);
}

QTM_EXPORT TimeValue64 GetMediaDecodeDuration(Media theMedia) {
  if (!theMedia) return SetMoviesError(invalidMedia), 0;
  SetMoviesError(noErr);
  return theMedia->track->media_duration;
}

QTM_EXPORT MediaHandler GetMediaHandler(Media theMedia) {
  if (!theMedia) return SetMoviesError(invalidMedia), nullptr;
  if (!theMedia->handler) {
    // 'tmcd' has a handler of its own; every other media a plain one.
    theMedia->handler =
        qtm::CreateTimeCodeHandler(theMedia->track, theMedia->movie ? theMedia->movie->model.get() : nullptr);
    if (!theMedia->handler) theMedia->handler = new (std::nothrow) ComponentInstanceRecord();
    if (!theMedia->handler) return SetMoviesError(memFullErr), nullptr;
  }
  SetMoviesError(noErr);
  return theMedia->handler;
}

QTM_EXPORT int32_t GetMediaSampleDescriptionCount(Media theMedia) {
  if (!theMedia) return SetMoviesError(invalidMedia), 0;
  SetMoviesError(noErr);
  return static_cast<int32_t>(theMedia->track->descriptions.size());
}

namespace {

// Copies description index (1-based) into the handle, resizing it.
OSErr CopyDescription(Media media, int64_t index, SampleDescriptionHandle descH) {
  const auto& list = media->track->descriptions;
  if (index < 1 || index > static_cast<int64_t>(list.size())) return paramErr;
  const std::vector<uint8_t>& record = list[index - 1];
  if (record.empty()) return badImageDescription;
  Handle h = reinterpret_cast<Handle>(descH);
  SetHandleSize(h, static_cast<Size>(record.size()));
  if (OSErr err = MemError()) return err;
  std::memcpy(*h, record.data(), record.size());
  return noErr;
}

}  // namespace

QTM_EXPORT void GetMediaSampleDescription(Media theMedia, int32_t index, SampleDescriptionHandle descH) {
  if (!theMedia) {
    SetMoviesError(invalidMedia);
    return;
  }
  if (!descH || !*descH) {
    SetMoviesError(nilHandleErr);
    return;
  }
  SetMoviesError(CopyDescription(theMedia, index, descH));
}

QTM_EXPORT int32_t GetMediaSampleCount(Media theMedia) {
  if (!theMedia) return SetMoviesError(invalidMedia), 0;
  SetMoviesError(noErr);
  const qtm::SampleTable* s = qtm::SamplesOf(theMedia);
  return s ? static_cast<int32_t>(s->Count()) : 0;
}

// Steps through the samples by decode time. Forward (rate > 0): the first
// sample starting after decodeTime, or at it with nextTimeEdgeOK; backward:
// the last starting before it, or at it with nextTimeEdgeOK. With
// nextTimeSyncSample only sync samples count. -1 when there is none, and
// from a negative time (the end of the media) always -1.
QTM_EXPORT void GetMediaNextInterestingDecodeTime(Media theMedia, int16_t interestingTimeFlags, TimeValue64 decodeTime,
                                                  Fixed rate, TimeValue64* interestingDecodeTime,
                                                  TimeValue64* interestingDecodeDuration) {
  if (interestingDecodeTime) *interestingDecodeTime = -1;
  if (interestingDecodeDuration) *interestingDecodeDuration = 0;
  if (!theMedia) {
    SetMoviesError(invalidMedia);
    return;
  }
  SetMoviesError(noErr);
  const qtm::SampleTable* s = qtm::SamplesOf(theMedia);
  uint16_t flags = static_cast<uint16_t>(interestingTimeFlags);
  if (!s || s->Count() == 0 || decodeTime < 0 || !(flags & (nextTimeMediaSample | nextTimeSyncSample))) return;
  bool edge = (flags & nextTimeEdgeOK) != 0;
  bool sync = (flags & nextTimeSyncSample) != 0;
  int64_t at = s->LastStartAtOrBefore(decodeTime);
  qtm::SampleInfo info;
  bool starts_here = at >= 0 && s->Get(static_cast<uint32_t>(at), &info) && info.decode_time == decodeTime;
  int64_t found;
  if (rate >= 0) {
    found = (starts_here && edge) ? at : at + 1;
    if (found >= s->Count()) return;
    if (sync) found = s->NextSync(found);
  } else {
    found = (starts_here && !edge) ? at - 1 : at;
    if (found < 0) return;
    if (sync) found = s->PreviousSync(found);
  }
  if (found < 0 || !s->Get(static_cast<uint32_t>(found), &info)) return;
  if (interestingDecodeTime) *interestingDecodeTime = info.decode_time;
  if (interestingDecodeDuration) *interestingDecodeDuration = info.duration;
}

namespace {

MediaSampleFlags FlagsOf(const qtm::SampleInfo& info) {
  MediaSampleFlags f = info.sync ? 0 : mediaSampleNotSync;
  switch ((info.dependency >> 4) & 3) {
    case 1:
      f |= mediaSampleDependsOnOthers;
      break;
    case 2:
      f |= mediaSampleDoesNotDependOnOthers;
      break;
  }
  switch ((info.dependency >> 2) & 3) {
    case 1:
      f |= mediaSampleIsDependedOnByOthers;
      break;
    case 2:
      f |= mediaSampleIsNotDependedOnByOthers;
      break;  // droppable
  }
  switch (info.dependency & 3) {
    case 1:
      f |= mediaSampleHasRedundantCoding;
      break;
    case 2:
      f |= mediaSampleHasNoRedundantCoding;
      break;
  }
  return f;
}

}  // namespace

// QuickTime 7 sample reading: the sample whose decode interval holds
// decodeTime, and with maxNumberOfSamples > 1 the samples after it that lie
// next to it in the file and share its description, duration and flags.
// Without dataOut only the sizes and flags are given. A sample whose data
// lies beyond the end of the file (a file cut short) answers eofErr either
// way, so that a reader can tell the end of what exists from a failure.
QTM_EXPORT OSErr GetMediaSample2(Media theMedia, uint8_t* dataOut, ByteCount maxDataSize, ByteCount* size,
                                 TimeValue64 decodeTime, TimeValue64* sampleDecodeTime, TimeValue64* durationPerSample,
                                 TimeValue64* displayOffset, SampleDescriptionHandle sampleDescriptionH,
                                 ByteCount* sampleDescriptionIndex, ByteCount maxNumberOfSamples,
                                 ByteCount* numberOfSamples, MediaSampleFlags* sampleFlags) {
  if (size) *size = 0;
  if (numberOfSamples) *numberOfSamples = 0;
  if (!theMedia) return SetMoviesError(invalidMedia);
  const qtm::SampleTable* s = qtm::SamplesOf(theMedia);
  int64_t index = s ? s->IndexAtDecodeTime(decodeTime) : -1;
  qtm::SampleInfo first;
  if (index < 0 || !s->Get(static_cast<uint32_t>(index), &first)) return SetMoviesError(invalidTime);
  const qtm::DataSource* source = theMedia->movie->model->source.get();
  const uint64_t file_size = source ? source->Size() : 0;
  if (!source || first.offset > file_size || first.size > file_size - first.offset) return SetMoviesError(eofErr);
  uint64_t total = first.size;
  uint32_t count = 1;
  qtm::SampleInfo next;
  while (count < maxNumberOfSamples && s->Get(static_cast<uint32_t>(index + count), &next) &&
         next.offset == first.offset + total && next.description_index == first.description_index &&
         next.duration == first.duration && next.display_offset == 0 && first.display_offset == 0 &&
         next.sync == first.sync && next.dependency == first.dependency &&
         total + next.size <= (dataOut ? maxDataSize : UINT32_MAX) && next.size <= file_size - first.offset - total) {
    total += next.size;
    ++count;
  }
  if (dataOut) {
    if (total > maxDataSize) return SetMoviesError(paramErr);
    if (!source->ReadAt(first.offset, dataOut, total)) return SetMoviesError(ioErr);
  }
  if (sampleDescriptionH) {
    if (!*sampleDescriptionH) return SetMoviesError(nilHandleErr);
    if (OSErr err = CopyDescription(theMedia, first.description_index, sampleDescriptionH)) return SetMoviesError(err);
  }
  if (size) *size = static_cast<ByteCount>(total);
  if (sampleDecodeTime) *sampleDecodeTime = first.decode_time;
  if (durationPerSample) *durationPerSample = first.duration;
  if (displayOffset) *displayOffset = first.display_offset;
  if (sampleDescriptionIndex) *sampleDescriptionIndex = first.description_index;
  if (numberOfSamples) *numberOfSamples = count;
  if (sampleFlags) *sampleFlags = FlagsOf(first);
  return SetMoviesError(noErr);
}

QTM_EXPORT void MediaDecodeTimeToSampleNum(Media theMedia, TimeValue64 decodeTime, int64_t* sampleNum,
                                           TimeValue64* sampleDecodeTime, TimeValue64* sampleDecodeDuration) {
  if (sampleNum) *sampleNum = 0;
  if (sampleDecodeTime) *sampleDecodeTime = -1;
  if (sampleDecodeDuration) *sampleDecodeDuration = 0;
  if (!theMedia) {
    SetMoviesError(invalidMedia);
    return;
  }
  const qtm::SampleTable* s = qtm::SamplesOf(theMedia);
  int64_t index = s ? s->IndexAtDecodeTime(decodeTime) : -1;
  qtm::SampleInfo info;
  if (index < 0 || !s->Get(static_cast<uint32_t>(index), &info)) {
    SetMoviesError(invalidTime);
    return;
  }
  if (sampleNum) *sampleNum = index + 1;
  if (sampleDecodeTime) *sampleDecodeTime = info.decode_time;
  if (sampleDecodeDuration) *sampleDecodeDuration = info.duration;
  SetMoviesError(noErr);
}

QTM_EXPORT void SampleNumToMediaDisplayTime(Media theMedia, int64_t logicalSampleNum, TimeValue64* sampleDisplayTime,
                                            TimeValue64* sampleDisplayDuration) {
  if (sampleDisplayTime) *sampleDisplayTime = -1;
  if (sampleDisplayDuration) *sampleDisplayDuration = 0;
  if (!theMedia) {
    SetMoviesError(invalidMedia);
    return;
  }
  const qtm::SampleTable* s = qtm::SamplesOf(theMedia);
  qtm::SampleInfo info;
  if (!s || logicalSampleNum < 1 || logicalSampleNum > s->Count() ||
      !s->Get(static_cast<uint32_t>(logicalSampleNum - 1), &info)) {
    SetMoviesError(invalidTime);
    return;
  }
  if (sampleDisplayTime) *sampleDisplayTime = info.decode_time + info.display_offset;
  if (sampleDisplayDuration) *sampleDisplayDuration = info.duration;
  SetMoviesError(noErr);
}
