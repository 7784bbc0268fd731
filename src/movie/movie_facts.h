// MovieFacts: the filter's movie and the facts of the video track it plays
// (movie_tracks.h: the first enabled one that is not a still; codec
// name, size, depth, duration, frame count, frame rate, edit list), plus the
// time code at the reading position. The frame source (video/movie_session.h)
// builds on it. Every operation takes the re-entrant lock.
#ifndef KESTREL_MOVIE_MOVIE_FACTS_H
#define KESTREL_MOVIE_MOVIE_FACTS_H

#include <windows.h>

#include <cstdint>
#include <vector>

#include "base/critical_section.h"
#include "movie/chapter_list.h"
#include "movie/movie_file.h"
#include "movie/video_transform.h"
#include "qtmedia.h"

namespace kestrel {

// One segment of the video track's edit list, in the movie's time scale.
struct VideoEdit {
  int64_t movie_start = 0;
  int64_t movie_duration = 0;
  int64_t media_time = -1;  // media display time shown at movie_start; -1: empty
  Fixed rate = fixed1;
};

class MovieFacts {
 public:
  MovieFacts();
  virtual ~MovieFacts();
  MovieFacts(const MovieFacts&) = delete;
  MovieFacts& operator=(const MovieFacts&) = delete;

  // S_OK; S_FALSE when the movie has no video track (the movie is kept);
  // E_FAIL or E_OUTOFMEMORY, with the movie closed.
  HRESULT Open(const MoviePath& path);
  // Derived classes close what they built on the movie, then call this.
  virtual HRESULT Close();

  HRESULT HasVideo(int32_t* has_video);
  HRESULT GetDuration(int64_t* duration);
  HRESULT GetFrameCount(uint32_t* frame_count);
  HRESULT GetCodecName(wchar_t* name);  // 260 characters
  HRESULT GetDepth(int32_t* depth);
  HRESULT GetFrameRate(double* frame_rate);
  // The size of the pictures delivered: the size the decoder makes them,
  // once measured (a derived class does it), else the size the sample
  // description declares; turned as the video transform says (width and
  // height swapped for a quarter turn). E_FAIL when no sample description
  // is held.
  HRESULT GetDimensions(int32_t* width, int32_t* height);
  // The measured size alone, turned as GetDimensions turns it: E_FAIL until
  // one is measured. Buffers are made for it, never for a declared size.
  HRESULT GetPictureSize(int32_t* width, int32_t* height);
  // How the track's matrix shows the pictures; upright without video.
  HRESULT GetVideoTransform(VideoTransform* transform);
  // At ReadingPosition(). S_FALSE: the movie has no time-code track.
  HRESULT GetTimeCode(int32_t* drop_frame, uint8_t* hours, uint8_t* minutes, uint8_t* seconds, uint8_t* frames);
  // The video track's segments in order, and the movie's time scale. A track
  // without an edit list has one segment showing the whole media. E_FAIL
  // without a video track.
  HRESULT GetVideoEdits(std::vector<VideoEdit>* edits, int32_t* movie_time_scale);
  // The video media's time scale; 0 without video.
  int32_t GetVideoTimeScale();
  // The movie's chapters (chapter_list.h); none without a movie.
  // E_POINTER; E_OUTOFMEMORY.
  HRESULT GetChapters(std::vector<Chapter>* chapters);

  static constexpr size_t kCodecNameChars = 260;

 protected:
  // The decode time, in the video media's time scale, that the time code
  // is read at. The facts alone stay at the start.
  virtual int64_t ReadingPosition() { return 0; }

  // Keeps the size of the pictures the decoder makes of this movie, as
  // stored (before the turn).
  void SetPictureSize(int32_t width, int32_t height);

  Movie m_movie = nullptr;
  Track m_videoTrack = nullptr;
  Media m_videoMedia = nullptr;
  int32_t m_videoTimeScale = 0;
  ImageDescriptionHandle m_sampleDescription = nullptr;
  CCritSec m_lock;

 private:
  HRESULT CountFrames();
  void ClearFacts();

  VideoTransform m_transform;
  MediaHandler m_timeCodeHandler = nullptr;
  int32_t m_timeCodeTimeScale = 0;
  wchar_t m_codecName[kCodecNameChars] = {};
  double m_frameRate = 0.0;
  int32_t m_depth = 0;
  uint32_t m_frameCount = 0;
  int64_t m_duration = 0;
  int32_t m_pictureWidth = 0, m_pictureHeight = 0;  // as stored; 0: not measured
};

}  // namespace kestrel

#endif
