// CSourceStream: an output pin of a CSource with its own worker thread.
// While the filter is paused or running the worker loops: take an empty
// sample from the allocator, have the pin fill it, deliver it downstream,
// until the fill reports the end, a delivery is refused, or a command
// stops it. Streaming starts when the filter pauses; Run sends nothing.
//
// How to derive: construct with the owning CSource (the pin adds itself to
// it; check *phr), call EndWorker first in the destructor (a running worker
// calls the pin's FillBuffer), and implement
//  - FillBuffer(pSample): fill one sample and set its times. S_OK delivers
//    it; S_FALSE ends the stream (end of stream downstream); any other
//    value ends it too and raises EC_ERRORABORT with that value. Runs on
//    the worker: it must return in bounded time and never wait for the
//    filter's state lock.
//  - DecideBufferSize (CBaseOutputPin).
//  - either GetMediaType(pmt) for a pin with one type (the defaults of
//    GetMediaType(iPosition, pmt) and CheckMediaType then follow from it),
//    or GetMediaType(iPosition, pmt) and CheckMediaType for several
//    (a pin that overrides one GetMediaType adds
//    "using CSourceStream::GetMediaType;" to keep the other visible).
// Optionally:
//  - OnThreadCreate / OnThreadDestroy: on the worker when it starts and
//    ends; a failing OnThreadCreate stops the pin from activating.
//  - OnThreadStartPlay: on the worker at the start of every streaming
//    loop (after a pause from stopped, and after each restart); a pin
//    announces its segment here. A failure ends the stream with
//    EC_ERRORABORT, as a failing FillBuffer does.
//  - SetMediaType (CBasePin).
#ifndef KESTREL_FRAMEWORK_SOURCE_STREAM_H
#define KESTREL_FRAMEWORK_SOURCE_STREAM_H

#include "framework/am_thread.h"
#include "framework/output_pin.h"

namespace kestrel {

class CSource;

class CSourceStream : public CAMThread, public CBaseOutputPin {
 public:
  enum Command : DWORD { CMD_INIT = 0, CMD_PAUSE = 1, CMD_RUN = 2, CMD_STOP = 3, CMD_EXIT = 4 };

  // Adds the pin to pFilter; the result of that is left in *phr.
  CSourceStream(const wchar_t* pObjectName, HRESULT* phr, CSource* pFilter, LPCWSTR pPinName);
  ~CSourceStream() override;

  // Thread part.
  DWORD ThreadProc() override;
  virtual HRESULT FillBuffer(IMediaSample* pSample) = 0;
  virtual HRESULT OnThreadCreate();
  virtual HRESULT OnThreadDestroy();
  virtual HRESULT OnThreadStartPlay();
  virtual HRESULT DoBufferProcessingLoop();
  // The one type of a single-type pin; E_UNEXPECTED by default.
  virtual HRESULT GetMediaType(CMediaType* pmt);

  // Pin part: single-type defaults on top of GetMediaType(pmt).
  HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  // Commit, start the worker, CMD_INIT then CMD_PAUSE. S_FALSE when the
  // filter is already active; S_OK for an unconnected pin. A failure
  // leaves no thread and the allocator decommitted.
  HRESULT Active() override;
  // Decommit first (releases a worker waiting for a buffer), then
  // CMD_STOP, CMD_EXIT and the end of the thread.
  HRESULT Inactive() override;
  using CBaseOutputPin::Run;

  // Commands to the worker: its reply, or E_FAIL without a thread.
  HRESULT Init() { return static_cast<HRESULT>(CallWorker(CMD_INIT)); }
  HRESULT Pause() { return static_cast<HRESULT>(CallWorker(CMD_PAUSE)); }
  HRESULT Run() { return static_cast<HRESULT>(CallWorker(CMD_RUN)); }
  HRESULT Stop() { return static_cast<HRESULT>(CallWorker(CMD_STOP)); }
  HRESULT Exit() { return static_cast<HRESULT>(CallWorker(CMD_EXIT)); }

 protected:
  // Decommits, stops and ends the worker, if one exists. The destructor of
  // the most derived pin calls it while FillBuffer is still whole.
  void EndWorker();
  // For a pin taken out of its filter for good, unconnected: ends any
  // worker and lets go of the media type and the worker's events, so that
  // only the object is left. The pin cannot stream afterwards.
  void ReleaseStreamingResources();

  CSource* const m_pSourceFilter;
};

}  // namespace kestrel

#endif
