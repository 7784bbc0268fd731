#include "movie/movie_facts.h"

#include <climits>
#include <cstring>
#include <new>

#include "movie/media_time.h"
#include "movie/movie_file.h"
#include "movie/movie_tracks.h"

namespace kestrel {

MovieFacts::MovieFacts() = default;

// A derived class has closed its own part by now: this closes the movie.
MovieFacts::~MovieFacts() { MovieFacts::Close(); }

void MovieFacts::ClearFacts() {
  m_frameRate = 0.0;
  m_videoTimeScale = 0;
  m_videoTrack = nullptr;
  m_videoMedia = nullptr;
  m_transform = VideoTransform();
  m_timeCodeHandler = nullptr;
  m_timeCodeTimeScale = 0;
  m_codecName[0] = L'\0';
  m_depth = 0;
  m_frameCount = 0;
  m_duration = 0;
  m_pictureWidth = 0;
  m_pictureHeight = 0;
}

HRESULT MovieFacts::Close() {
  CAutoLock lock(&m_lock);
  if (m_sampleDescription) {
    DisposeHandle(reinterpret_cast<Handle>(m_sampleDescription));
    m_sampleDescription = nullptr;
  }
  DisposeMovieRef(&m_movie);
  ClearFacts();
  return S_OK;
}

HRESULT MovieFacts::Open(const MoviePath& path) {
  CAutoLock lock(&m_lock);
  Close();

  HRESULT hr = OpenMovieFromPath(path, &m_movie);
  if (FAILED(hr)) {
    Close();
    return hr;
  }

  Track video = PlayedVideoTrack(m_movie, path.get());
  if (!video) return S_FALSE;

  hr = [&]() -> HRESULT {
    m_videoTrack = video;
    m_videoMedia = GetTrackMedia(video);
    if (!m_videoMedia) return E_FAIL;
    OSType media_type = 0;
    GetMediaHandlerDescription(m_videoMedia, &media_type, nullptr, nullptr);
    if (media_type != VideoMediaType) return E_FAIL;

    if (Track tc = GetMovieIndTrackType(m_movie, 1, TimeCodeMediaType, movieTrackMediaType)) {
      if (Media tc_media = GetTrackMedia(tc)) {
        m_timeCodeTimeScale = GetMediaTimeScale(tc_media);
        m_timeCodeHandler = GetMediaHandler(tc_media);
      }
    }

    m_videoTimeScale = GetMediaTimeScale(m_videoMedia);

    MatrixRecord track = {}, movie = {};
    GetTrackMatrix(video, &track);
    GetMovieMatrix(m_movie, &movie);
    if (GetMoviesError() == noErr) m_transform = TransformOf(CombineMatrices(track, movie));

    Handle desc = NewHandle(4);
    if (!desc) return E_OUTOFMEMORY;
    m_sampleDescription = reinterpret_cast<ImageDescriptionHandle>(desc);
    GetMediaSampleDescription(m_videoMedia, 1, reinterpret_cast<SampleDescriptionHandle>(desc));
    if (GetMoviesError() != noErr || !*desc || GetHandleSize(desc) < static_cast<Size>(sizeof(ImageDescription)))
      return E_FAIL;

    const ImageDescription* id = *m_sampleDescription;
    memset(m_codecName, 0, sizeof(m_codecName));
    int name_bytes = id->name[0] > 31 ? 31 : id->name[0];
    if (name_bytes > 0) {
      MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(id->name + 1), name_bytes, m_codecName,
                          static_cast<int>(kCodecNameChars - 1));
    }
    m_depth = id->depth;

    if (m_videoTimeScale == 0) return E_FAIL;
    // The 64-bit media duration: a 32-bit count overflows on long media.
    m_duration = MovieToMediaTime(GetMediaDecodeDuration(m_videoMedia), m_videoTimeScale);
    // Media longer than 100 ns units can count (29,000 years) cannot be
    // timed: refused as a track without a time scale is.
    if (m_duration == INT64_MAX || m_duration < 0) return E_FAIL;

    HRESULT counted = CountFrames();
    m_frameRate = m_duration > 0 ? static_cast<double>(m_frameCount) * 10000000.0 / m_duration : 0.0;

    PrerollMovie(m_movie, GetMovieTime(m_movie, nullptr), GetMoviePreferredRate(m_movie));
    return counted;
  }();
  if (FAILED(hr)) Close();
  return hr;
}

// One next-interesting-time step per sample, from time 0 to the end.
HRESULT MovieFacts::CountFrames() {
  int64_t count = -1;
  TimeValue64 time = 0;
  int16_t flags = nextTimeMediaSample | nextTimeEdgeOK;
  do {
    ++count;
    TimeValue64 next = -1;
    GetMediaNextInterestingDecodeTime(m_videoMedia, flags, time, fixed1, &next, nullptr);
    time = next;
    flags = nextTimeMediaSample;
  } while (time >= 0);
  m_frameCount = static_cast<uint32_t>(count);
  return S_OK;
}

HRESULT MovieFacts::HasVideo(int32_t* has_video) {
  if (!has_video) return E_POINTER;
  CAutoLock lock(&m_lock);
  *has_video = m_videoTrack ? 1 : 0;
  return S_OK;
}

HRESULT MovieFacts::GetDuration(int64_t* duration) {
  if (!duration) return E_POINTER;
  CAutoLock lock(&m_lock);
  *duration = m_duration;
  return S_OK;
}

HRESULT MovieFacts::GetFrameCount(uint32_t* frame_count) {
  if (!frame_count) return E_POINTER;
  CAutoLock lock(&m_lock);
  *frame_count = m_frameCount;
  return S_OK;
}

HRESULT MovieFacts::GetCodecName(wchar_t* name) {
  if (!name) return E_POINTER;
  CAutoLock lock(&m_lock);
  memcpy(name, m_codecName, sizeof(m_codecName));
  return S_OK;
}

HRESULT MovieFacts::GetDepth(int32_t* depth) {
  if (!depth) return E_POINTER;
  CAutoLock lock(&m_lock);
  *depth = m_depth;
  return S_OK;
}

HRESULT MovieFacts::GetFrameRate(double* frame_rate) {
  if (!frame_rate) return E_POINTER;
  CAutoLock lock(&m_lock);
  *frame_rate = m_frameRate;
  return S_OK;
}

HRESULT MovieFacts::GetDimensions(int32_t* width, int32_t* height) {
  if (!width || !height) return E_POINTER;
  CAutoLock lock(&m_lock);
  if (!m_sampleDescription || !*m_sampleDescription) return E_FAIL;
  bool swap = SwapsSides(m_transform.orientation);
  int32_t stored_width = m_pictureWidth > 0 ? m_pictureWidth : (*m_sampleDescription)->width;
  int32_t stored_height = m_pictureWidth > 0 ? m_pictureHeight : (*m_sampleDescription)->height;
  *width = swap ? stored_height : stored_width;
  *height = swap ? stored_width : stored_height;
  return S_OK;
}

HRESULT MovieFacts::GetVideoTransform(VideoTransform* transform) {
  if (!transform) return E_POINTER;
  CAutoLock lock(&m_lock);
  *transform = m_transform;
  return S_OK;
}

HRESULT MovieFacts::GetPictureSize(int32_t* width, int32_t* height) {
  if (!width || !height) return E_POINTER;
  CAutoLock lock(&m_lock);
  if (m_pictureWidth <= 0 || m_pictureHeight <= 0) return E_FAIL;
  bool swap = SwapsSides(m_transform.orientation);
  *width = swap ? m_pictureHeight : m_pictureWidth;
  *height = swap ? m_pictureWidth : m_pictureHeight;
  return S_OK;
}

void MovieFacts::SetPictureSize(int32_t width, int32_t height) {
  CAutoLock lock(&m_lock);
  m_pictureWidth = width;
  m_pictureHeight = height;
}

HRESULT MovieFacts::GetVideoEdits(std::vector<VideoEdit>* edits, int32_t* movie_time_scale) {
  if (!edits || !movie_time_scale) return E_POINTER;
  CAutoLock lock(&m_lock);
  edits->clear();
  if (!m_videoTrack) return E_FAIL;
  *movie_time_scale = GetMovieTimeScale(m_movie);
  if (*movie_time_scale <= 0) return E_FAIL;
  // Each step gives the segment starting at the end of the previous one.
  constexpr size_t kMaxEdits = 1 << 20;
  TimeValue time = 0;
  while (edits->size() < kMaxEdits) {
    TimeValue start = -1, duration = 0;
    GetTrackNextInterestingTime(m_videoTrack, nextTimeTrackEdit | nextTimeEdgeOK, time, fixed1, &start, &duration);
    if (start < 0 || duration <= 0) break;
    VideoEdit edit;
    edit.movie_start = start;
    edit.movie_duration = duration;
    edit.media_time = TrackTimeToMediaDisplayTime(start, m_videoTrack);
    Fixed rate = GetTrackEditRate64(m_videoTrack, start);
    edit.rate = rate > 0 ? rate : fixed1;
    try {
      edits->push_back(edit);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    if (static_cast<int64_t>(start) + duration > INT32_MAX) break;
    time = start + duration;
  }
  return edits->empty() ? E_FAIL : S_OK;
}

int32_t MovieFacts::GetVideoTimeScale() {
  CAutoLock lock(&m_lock);
  return m_videoTimeScale;
}

HRESULT MovieFacts::GetChapters(std::vector<Chapter>* chapters) {
  CAutoLock lock(&m_lock);
  return ReadChapters(m_movie, chapters);
}

}  // namespace kestrel
