// CSeekableStream: a CSourceStream that carries its own CSourceSeeking, so
// each pin of a source is positioned by its own IMediaSeeking calls. Adds the
// pin lock (held by FillBuffer, Notify and the seeking state), the
// discontinuity flag, the segment each streaming loop announces, and the
// restart of the worker from a new start.
//
// How to derive: construct with the owning CSource, the pin name and the
// stream's duration (it becomes the seeking duration and stop position; the
// seeking capabilities are 0x3F); call EndWorker first in the destructor;
// implement FillBuffer (under m_cPinLock, stamping the sample with
// TakeDiscontinuity), DecideBufferSize and the media-type hooks of
// CSourceStream, and
//  - MoveTo(rtStart): move the media source to a new start. Runs under the
//    filter's state lock and the pin lock, while no worker streams.
#ifndef KESTREL_FRAMEWORK_SEEKABLE_STREAM_H
#define KESTREL_FRAMEWORK_SEEKABLE_STREAM_H

#include "framework/source_seeking.h"
#include "framework/source_stream.h"

namespace kestrel {

class CSeekableStream : public CSourceStream, public CSourceSeeking {
 public:
  CSeekableStream(const wchar_t* pObjectName, HRESULT* phr, CSource* pFilter, LPCWSTR pPinName,
                  REFERENCE_TIME rtDuration);
  ~CSeekableStream() override = default;

  // IMediaSeeking by the seeking part; everything else by the pin. The
  // pin's count is its filter's.
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
  ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

  // Start of every streaming loop: the next sample is a discontinuity, and
  // downstream learns the segment (start, stop, rate 1.0).
  HRESULT OnThreadStartPlay() override;

  // Where the pin is, in movie time. While the filter runs on a clock: the
  // segment's start plus the stream time, never beyond the end of what was
  // filled; otherwise the end of what was filled (the start after a seek).
  // Under the filter's state lock.
  REFERENCE_TIME PlayingPosition();

 protected:
  virtual HRESULT MoveTo(REFERENCE_TIME rtStart) = 0;

  // Moves the source to the new start; a worker that exists is stopped
  // first and run again (begin flush, stop, move, end flush, run), all
  // under the filter's state lock so a stop of the filter cannot interleave.
  HRESULT ChangeStart() override;
  HRESULT ChangeStop() override { return S_OK; }
  HRESULT ChangeRate() override { return S_OK; }

  // Under m_cPinLock: the pending discontinuity, cleared.
  BOOL TakeDiscontinuity();
  // Under m_cPinLock: sample times relative to the start of the segment
  // being streamed, never below 0; the sample's end is kept as the end of
  // what was filled. False when the sample starts after the stop position.
  bool ToSegmentTimes(REFERENCE_TIME* pStart, REFERENCE_TIME* pStop);

  CCritSec m_cPinLock;
  BOOL m_bDiscontinuity = TRUE;
  // The start the streaming loop announced: a new start takes effect when
  // the loop restarts, so a sample filled while a seek comes (and flushed
  // by it) keeps the times of its own segment.
  REFERENCE_TIME m_rtSegmentStart = 0;
  REFERENCE_TIME m_rtDelivered = 0;  // end of the last sample filled, in movie time
};

}  // namespace kestrel

#endif
