// A filter graph that plays the Kestrel filter into Sample Grabbers and Null
// Renderers, recording what each pin delivers: the headless player's graph,
// also used by the tests and the benchmarks.
#ifndef KESTREL_TOOLS_PLAY_PLAY_GRAPH_H
#define KESTREL_TOOLS_PLAY_PLAY_GRAPH_H

#include <windows.h>

#include <dshow.h>
#include <qedit.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/com_ptr.h"

namespace kestrel::play {

// Wine's Sample Grabber and Null Renderer (qedit).
inline constexpr CLSID CLSID_SampleGrabber = {
    0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
inline constexpr CLSID CLSID_NullRenderer = {
    0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

// The class object of one of the module's classes through the registered
// server, or else straight from kestrel.ax in the program's folder (kept
// loaded).
HRESULT GetKestrelClassObject(REFCLSID clsid, IClassFactory** ppFactory);
// The filter from that class object.
HRESULT CreateKestrelFilter(IBaseFilter** ppFilter);
// DllCanUnloadNow of the loaded kestrel.ax: S_OK once every object of the
// module is gone; S_FALSE otherwise; E_FAIL when the module is not loaded.
HRESULT KestrelCanUnloadNow();

// "S_OK", "E_FAIL", "VFW_E_NOT_CONNECTED" ... or "0x80040200".
std::string HResultName(HRESULT hr);

struct SampleRecord {
  int64_t start = 0, stop = 0;
  bool has_start = false, has_stop = false;
  bool discontinuity = false, sync_point = false;
  long bytes = 0;
};

// The Sample Grabber's callback: keeps a record of every sample, hands the
// bytes to an optional handler, and can signal an event once a number of
// samples has arrived. After `limit` samples (0: none) further samples are
// not recorded. Runs on the pin's worker thread: it must never call back
// into the graph.
class SampleRecorder : public ISampleGrabberCB {
 public:
  using Handler = std::function<void(const SampleRecord& record, const BYTE* data, size_t index)>;
  SampleRecorder();
  virtual ~SampleRecorder();

  void SetHandler(Handler handler) { m_handler = std::move(handler); }
  // The event is set when the count reaches `count`.
  void SignalAt(uint64_t count, HANDLE event);
  void SetLimit(uint64_t limit) { m_limit = limit; }

  std::vector<SampleRecord> Records();
  uint64_t Count();

  // ISampleGrabberCB
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE SampleCB(double SampleTime, IMediaSample* pSample) override;
  HRESULT STDMETHODCALLTYPE BufferCB(double SampleTime, BYTE* pBuffer, LONG BufferLen) override;

 private:
  volatile LONG m_cRef = 1;
  CRITICAL_SECTION m_lock;
  std::vector<SampleRecord> m_records;
  Handler m_handler;
  uint64_t m_limit = 0;
  uint64_t m_signalAt = 0;
  HANDLE m_signal = nullptr;  // not owned
};

// One output pin of the source, with its grabber and renderer.
struct PinChain {
  PinChain() = default;
  ~PinChain();
  PinChain(const PinChain&) = delete;
  PinChain& operator=(const PinChain&) = delete;

  std::wstring name;
  ComPtr<IPin> pin;
  ComPtr<IMediaSeeking> seeking;
  ComPtr<IBaseFilter> grabber, renderer;
  SampleRecorder* recorder = nullptr;  // held
  AM_MEDIA_TYPE type = {};             // the connection's
};

// kWoken: one of the caller's own handles was set first; kUserAbort: the
// user closed the video window.
enum class EndResult { kComplete, kErrorAbort, kTimeout, kWoken, kUserAbort };

class PlayGraph {
 public:
  PlayGraph() = default;
  ~PlayGraph();
  PlayGraph(const PlayGraph&) = delete;
  PlayGraph& operator=(const PlayGraph&) = delete;

  // A new filter graph holding source.
  HRESULT Create(IBaseFilter* source);
  // The source's output pins, in order.
  std::vector<ComPtr<IPin>> SourcePins();
  // Connects pin to a new Sample Grabber (callback mode, recorder) and a
  // renderer (the Null Renderer unless told). subtype: the pin's type with
  // that subtype; null: its first. The chain is kept by the graph; *ppChain
  // points to it when asked. A chain that does not connect leaves nothing in
  // the graph.
  HRESULT Connect(IPin* pin, const GUID* subtype, SampleRecorder* recorder, PinChain** ppChain = nullptr,
                  const CLSID& renderer = CLSID_NullRenderer);
  // The same with a media type of the caller's (the grabber takes it too).
  HRESULT ConnectWithType(IPin* pin, const AM_MEDIA_TYPE* type, SampleRecorder* recorder, PinChain** ppChain = nullptr,
                          const CLSID& renderer = CLSID_NullRenderer);
  // The graph runs as fast as it can.
  HRESULT RemoveClock();
  HRESULT Run();
  HRESULT Pause();
  HRESULT Stop();
  // The graph's end: EC_COMPLETE, EC_ERRORABORT (with its code),
  // EC_USERABORT, or nothing within timeout_ms; other events are passed over.
  // Extra handles end the wait too (kWoken, and *woken is the handle's
  // index). With pump_messages the thread's window messages are dispatched
  // meanwhile (a video window created on it needs them).
  EndResult WaitForEnd(DWORD timeout_ms, HRESULT* abort_code, const std::vector<HANDLE>& extra = {},
                       int* woken = nullptr, bool pump_messages = false);

  IGraphBuilder* Graph() const { return m_graph.Get(); }
  IMediaControl* Control() const { return m_control.Get(); }
  const std::vector<std::unique_ptr<PinChain>>& Chains() const { return m_chains; }

 private:
  ComPtr<IGraphBuilder> m_graph;
  ComPtr<IMediaControl> m_control;
  ComPtr<IMediaEvent> m_events;
  ComPtr<IBaseFilter> m_source;
  std::vector<std::unique_ptr<PinChain>> m_chains;
};

// The type Connect offers the pin ("UYVY 320x240", "PCM 44100 Hz,
// 2 channel(s), 16 bits"), for saying what a pin refused.
std::string PinTypeText(IPin* pin, const GUID* subtype);

// "UYVY", "YUY2", "RGB32", "ARGB32" to the subtype; null when unknown.
const GUID* VideoSubtypeByName(const std::string& name);
std::string VideoSubtypeName(const GUID& subtype);

}  // namespace kestrel::play

#endif
