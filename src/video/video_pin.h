// CVideoPin: the filter's "Video" output pin. Offers the movie's frame size
// in the four formats of PixelFormatTable, has the movie session build its
// decoder for the format agreed, and on its worker fills each one-frame
// buffer with the next picture, stamped in movie time relative to the seek
// start. Follows a downstream stride change (QueryAccept, or a media type on
// a sample) and answers lateness reports by skipping ahead. Every
// negotiation step is logged.
#ifndef KESTREL_VIDEO_VIDEO_PIN_H
#define KESTREL_VIDEO_VIDEO_PIN_H

#include <windows.h>

#include <strmif.h>
// VIDEOINFOHEADER, after the DirectShow types.
#include <amvideo.h>

#include "framework/seekable_stream.h"
#include "video/movie_session.h"
#include "video/video_timeline.h"

namespace kestrel {

class CVideoPin : public CSeekableStream {
 public:
  // pMovie is the filter's session, opened on a movie with video; it must
  // outlive the pin or be taken away first with Retire.
  CVideoPin(HRESULT* phr, CSource* pFilter, MovieSession* pMovie, REFERENCE_TIME rtDuration);
  ~CVideoPin() override;

  // The pin no longer reaches the session: fills fail and seeks do nothing.
  // Its timeline, media type and worker events go; the shell stays.
  void Retire();

  // Thread part.
  HRESULT FillBuffer(IMediaSample* pSample) override;
  // Output-pin part.
  using CSourceStream::GetMediaType;
  HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT SetMediaType(const CMediaType* pmt) override;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
  // Clears the subtype QueryAccept compares with, then the base's.
  HRESULT BreakConnect() override;
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* pmt) override;
  // Quality control: a positive lateness skips ahead by it.
  HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* pSelf, Quality q) override;

  // Size of a VIDEOINFO: the header and room for a palette and masks.
  static constexpr ULONG kFormatBytes = 1128;

 protected:
  HRESULT MoveTo(REFERENCE_TIME rtStart) override;

 private:
  // Creates the decoder for a supported subtype and applies the stride and
  // flip of the format; logs under the given operation name.
  HRESULT SetUpDecoder(const GUID& subtype, const VIDEOINFOHEADER& format, const wchar_t* operation);

  MovieSession* m_pMovie;  // not owned
  VideoTimeline m_timeline;
  // The connection's subtype under the pin lock, for QueryAccept.
  GUID m_subtype = GUID_NULL;
  int32_t m_stride = 0;  // bytes per row in the buffers
  int32_t m_rows = 0;    // the picture's height
};

}  // namespace kestrel

#endif
