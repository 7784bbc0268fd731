#include "play/play_graph.h"

#include <evcode.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <cstdio>
#include <new>

namespace kestrel::play {
namespace {

constexpr CLSID kClsidKestrel = {0xe6e6e32e, 0xbb36, 0x4aaa, {0xbb, 0xc3, 0xd7, 0x16, 0xe7, 0x75, 0x57, 0xcc}};
constexpr wchar_t kModuleName[] = L"kestrel.ax";

void FreeType(AM_MEDIA_TYPE& mt) {
  if (mt.pbFormat) CoTaskMemFree(mt.pbFormat);
  if (mt.pUnk) mt.pUnk->Release();
  mt = AM_MEDIA_TYPE{};
}

void DeleteType(AM_MEDIA_TYPE* mt) {
  if (!mt) return;
  FreeType(*mt);
  CoTaskMemFree(mt);
}

// The first pin of filter in direction dir.
ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION dir) {
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.ReleaseAndGetAddressOf()))) return {};
  for (;;) {
    ComPtr<IPin> pin;
    if (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) != S_OK) return {};
    PIN_DIRECTION d;
    if (SUCCEEDED(pin->QueryDirection(&d)) && d == dir) return pin;
  }
}

struct SubtypeName {
  const char* name;
  const GUID* subtype;
};
const SubtypeName kSubtypes[] = {{"UYVY", &MEDIASUBTYPE_UYVY},
                                 {"YUY2", &MEDIASUBTYPE_YUY2},
                                 {"RGB32", &MEDIASUBTYPE_RGB32},
                                 {"ARGB32", &MEDIASUBTYPE_ARGB32}};

// The pin's own type with the subtype asked for, else its first; the
// caller deletes it.
HRESULT PinTypeOf(IPin* pin, const GUID* subtype, AM_MEDIA_TYPE** type) {
  *type = nullptr;
  ComPtr<IEnumMediaTypes> types;
  HRESULT hr = pin->EnumMediaTypes(types.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  for (;;) {
    AM_MEDIA_TYPE* mt = nullptr;
    if (types->Next(1, &mt, nullptr) != S_OK || !mt) break;
    if (!subtype || mt->subtype == *subtype) {
      *type = mt;
      return S_OK;
    }
    DeleteType(mt);
  }
  return VFW_E_NO_ACCEPTABLE_TYPES;
}

}  // namespace

HRESULT GetKestrelClassObject(REFCLSID clsid, IClassFactory** ppFactory) {
  if (!ppFactory) return E_POINTER;
  *ppFactory = nullptr;
  HRESULT hr =
      CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, reinterpret_cast<void**>(ppFactory));
  if (SUCCEEDED(hr)) return hr;
  // Not registered: the module beside this program, loaded for good.
  HMODULE module = LoadLibraryW(kModuleName);
  if (!module) return HRESULT_FROM_WIN32(GetLastError());
  using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto get_class_object =
      reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  if (!get_class_object) return E_FAIL;
  return get_class_object(clsid, IID_IClassFactory, reinterpret_cast<void**>(ppFactory));
}

HRESULT CreateKestrelFilter(IBaseFilter** ppFilter) {
  if (!ppFilter) return E_POINTER;
  *ppFilter = nullptr;
  ComPtr<IClassFactory> factory;
  HRESULT hr = GetKestrelClassObject(kClsidKestrel, factory.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(ppFilter));
}

HRESULT KestrelCanUnloadNow() {
  HMODULE module = GetModuleHandleW(kModuleName);
  if (!module) return E_FAIL;
  using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
  auto can_unload = reinterpret_cast<CanUnloadFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  return can_unload ? can_unload() : E_FAIL;
}

std::string HResultName(HRESULT hr) {
  struct Name {
    HRESULT hr;
    const char* name;
  };
  static const Name kNames[] = {
      {S_OK, "S_OK"},
      {S_FALSE, "S_FALSE"},
      {E_FAIL, "E_FAIL"},
      {E_POINTER, "E_POINTER"},
      {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
      {E_INVALIDARG, "E_INVALIDARG"},
      {E_UNEXPECTED, "E_UNEXPECTED"},
      {E_NOTIMPL, "E_NOTIMPL"},
      {E_NOINTERFACE, "E_NOINTERFACE"},
      {E_ABORT, "E_ABORT"},
      {VFW_E_NOT_CONNECTED, "VFW_E_NOT_CONNECTED"},
      {VFW_E_ALREADY_CONNECTED, "VFW_E_ALREADY_CONNECTED"},
      {VFW_E_NO_ACCEPTABLE_TYPES, "VFW_E_NO_ACCEPTABLE_TYPES"},
      {VFW_E_TYPE_NOT_ACCEPTED, "VFW_E_TYPE_NOT_ACCEPTED"},
      {VFW_E_NOT_STOPPED, "VFW_E_NOT_STOPPED"},
      {VFW_E_NO_ALLOCATOR, "VFW_E_NO_ALLOCATOR"},
      {VFW_E_CANNOT_CONNECT, "VFW_E_CANNOT_CONNECT"},
      {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG"},
      {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE"},
  };
  for (const Name& n : kNames)
    if (n.hr == hr) return n.name;
  char text[16];
  snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

std::string PinTypeText(IPin* pin, const GUID* subtype) {
  AM_MEDIA_TYPE* type = nullptr;
  if (!pin || FAILED(PinTypeOf(pin, subtype, &type))) return "no type";
  char text[160];
  if (type->formattype == FORMAT_VideoInfo && type->cbFormat >= sizeof(VIDEOINFOHEADER) && type->pbFormat) {
    const BITMAPINFOHEADER& b = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader;
    snprintf(text, sizeof text, "%s %ldx%ld", VideoSubtypeName(type->subtype).c_str(), static_cast<long>(b.biWidth),
             static_cast<long>(b.biHeight));
  } else if (type->formattype == FORMAT_WaveFormatEx && type->cbFormat >= sizeof(WAVEFORMATEX) - sizeof(WORD) &&
             type->pbFormat) {
    const WAVEFORMATEX& w = *reinterpret_cast<const WAVEFORMATEX*>(type->pbFormat);
    snprintf(text, sizeof text, "PCM %lu Hz, %u channel(s), %u bits", static_cast<unsigned long>(w.nSamplesPerSec),
             static_cast<unsigned>(w.nChannels), static_cast<unsigned>(w.wBitsPerSample));
  } else {
    snprintf(text, sizeof text, "a type of no video or wave format");
  }
  DeleteType(type);
  return text;
}

const GUID* VideoSubtypeByName(const std::string& name) {
  for (const SubtypeName& s : kSubtypes)
    if (name == s.name) return s.subtype;
  return nullptr;
}

std::string VideoSubtypeName(const GUID& subtype) {
  for (const SubtypeName& s : kSubtypes)
    if (subtype == *s.subtype) return s.name;
  return "other";
}

// ---- SampleRecorder

SampleRecorder::SampleRecorder() { InitializeCriticalSection(&m_lock); }

SampleRecorder::~SampleRecorder() { DeleteCriticalSection(&m_lock); }

void SampleRecorder::SignalAt(uint64_t count, HANDLE event) {
  EnterCriticalSection(&m_lock);
  m_signalAt = count;
  m_signal = event;
  if (m_signal && m_records.size() >= m_signalAt) SetEvent(m_signal);
  LeaveCriticalSection(&m_lock);
}

std::vector<SampleRecord> SampleRecorder::Records() {
  EnterCriticalSection(&m_lock);
  std::vector<SampleRecord> copy = m_records;
  LeaveCriticalSection(&m_lock);
  return copy;
}

uint64_t SampleRecorder::Count() {
  EnterCriticalSection(&m_lock);
  uint64_t count = m_records.size();
  LeaveCriticalSection(&m_lock);
  return count;
}

HRESULT STDMETHODCALLTYPE SampleRecorder::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_ISampleGrabberCB) return E_NOINTERFACE;
  *ppv = static_cast<ISampleGrabberCB*>(this);
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE SampleRecorder::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }

ULONG STDMETHODCALLTYPE SampleRecorder::Release() {
  LONG count = InterlockedDecrement(&m_cRef);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE SampleRecorder::SampleCB(double, IMediaSample* pSample) {
  if (!pSample) return S_OK;
  SampleRecord record;
  REFERENCE_TIME start = 0, stop = 0;
  HRESULT hr = pSample->GetTime(&start, &stop);
  record.has_start = SUCCEEDED(hr);
  record.has_stop = hr == S_OK;
  record.start = record.has_start ? start : 0;
  record.stop = record.has_stop ? stop : 0;
  record.discontinuity = pSample->IsDiscontinuity() == S_OK;
  record.sync_point = pSample->IsSyncPoint() == S_OK;
  record.bytes = pSample->GetActualDataLength();
  BYTE* data = nullptr;
  if (FAILED(pSample->GetPointer(&data))) data = nullptr;

  EnterCriticalSection(&m_lock);
  if (m_limit == 0 || m_records.size() < m_limit) {
    try {
      m_records.push_back(record);
      if (m_handler) m_handler(record, data, m_records.size() - 1);
    } catch (...) {
      // Out of memory: the sample goes unrecorded.
    }
    if (m_signal && m_records.size() == m_signalAt) SetEvent(m_signal);
  }
  LeaveCriticalSection(&m_lock);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SampleRecorder::BufferCB(double, BYTE*, LONG) { return S_OK; }

// ---- PlayGraph

PinChain::~PinChain() {
  FreeType(type);
  if (recorder) recorder->Release();
}

PlayGraph::~PlayGraph() {
  if (m_control) m_control->Stop();
  m_chains.clear();
}

HRESULT PlayGraph::Create(IBaseFilter* source) {
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                m_graph.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return hr;
  if (FAILED(hr = m_graph->QueryInterface(IID_IMediaControl, m_control.ReleaseAndGetVoidAddress()))) return hr;
  if (FAILED(hr = m_graph->QueryInterface(IID_IMediaEvent, m_events.ReleaseAndGetVoidAddress()))) return hr;
  m_source.Assign(source);
  return m_graph->AddFilter(source, L"Kestrel");
}

std::vector<ComPtr<IPin>> PlayGraph::SourcePins() {
  std::vector<ComPtr<IPin>> out;
  ComPtr<IEnumPins> pins;
  if (!m_source || FAILED(m_source->EnumPins(pins.ReleaseAndGetAddressOf()))) return out;
  for (;;) {
    ComPtr<IPin> pin;
    if (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) != S_OK) break;
    out.push_back(pin);
  }
  return out;
}

HRESULT PlayGraph::Connect(IPin* pin, const GUID* subtype, SampleRecorder* recorder, PinChain** ppChain,
                           const CLSID& renderer) {
  if (!pin) return E_POINTER;
  AM_MEDIA_TYPE* wanted = nullptr;
  HRESULT hr = PinTypeOf(pin, subtype, &wanted);
  if (FAILED(hr)) return hr;
  hr = ConnectWithType(pin, wanted, recorder, ppChain, renderer);
  DeleteType(wanted);
  return hr;
}

HRESULT PlayGraph::ConnectWithType(IPin* pin, const AM_MEDIA_TYPE* type, SampleRecorder* recorder, PinChain** ppChain,
                                   const CLSID& renderer) {
  if (!pin || !type || !recorder) return E_POINTER;
  std::unique_ptr<PinChain> chain(new (std::nothrow) PinChain);
  if (!chain) return E_OUTOFMEMORY;
  chain->pin.Assign(pin);
  recorder->AddRef();
  chain->recorder = recorder;
  PIN_INFO info = {};
  if (SUCCEEDED(pin->QueryPinInfo(&info))) {
    chain->name = info.achName;
    if (info.pFilter) info.pFilter->Release();
  }
  pin->QueryInterface(IID_IMediaSeeking, chain->seeking.ReleaseAndGetVoidAddress());

  HRESULT hr = CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                chain->grabber.ReleaseAndGetVoidAddress());
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(renderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          chain->renderer.ReleaseAndGetVoidAddress());
  ComPtr<ISampleGrabber> grab;
  if (SUCCEEDED(hr)) hr = chain->grabber->QueryInterface(IID_ISampleGrabber, grab.ReleaseAndGetVoidAddress());
  if (SUCCEEDED(hr)) hr = grab->SetMediaType(type);
  if (SUCCEEDED(hr)) hr = grab->SetBufferSamples(FALSE);
  if (SUCCEEDED(hr)) hr = grab->SetOneShot(FALSE);
  if (SUCCEEDED(hr)) hr = grab->SetCallback(recorder, 0);  // SampleCB: times and flags
  std::wstring suffix = L" " + chain->name;
  if (SUCCEEDED(hr)) hr = m_graph->AddFilter(chain->grabber.Get(), (L"Grabber" + suffix).c_str());
  if (SUCCEEDED(hr)) hr = m_graph->AddFilter(chain->renderer.Get(), (L"Renderer" + suffix).c_str());
  ComPtr<IPin> grab_in, grab_out, render_in;
  if (SUCCEEDED(hr)) {
    grab_in = PinOf(chain->grabber.Get(), PINDIR_INPUT);
    grab_out = PinOf(chain->grabber.Get(), PINDIR_OUTPUT);
    render_in = PinOf(chain->renderer.Get(), PINDIR_INPUT);
    if (!grab_in || !grab_out || !render_in) hr = E_FAIL;
  }
  if (SUCCEEDED(hr)) hr = m_graph->ConnectDirect(pin, grab_in.Get(), type);
  if (SUCCEEDED(hr)) hr = m_graph->ConnectDirect(grab_out.Get(), render_in.Get(), nullptr);
  if (FAILED(hr)) {
    // Nothing of a chain that does not connect stays in the graph.
    if (chain->grabber) m_graph->RemoveFilter(chain->grabber.Get());
    if (chain->renderer) m_graph->RemoveFilter(chain->renderer.Get());
    return hr;
  }
  pin->ConnectionMediaType(&chain->type);
  if (ppChain) *ppChain = chain.get();
  try {
    m_chains.push_back(std::move(chain));
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT PlayGraph::RemoveClock() {
  ComPtr<IMediaFilter> filter;
  HRESULT hr = m_graph->QueryInterface(IID_IMediaFilter, filter.ReleaseAndGetVoidAddress());
  return SUCCEEDED(hr) ? filter->SetSyncSource(nullptr) : hr;
}

HRESULT PlayGraph::Run() { return m_control->Run(); }
HRESULT PlayGraph::Pause() { return m_control->Pause(); }
HRESULT PlayGraph::Stop() { return m_control->Stop(); }

EndResult PlayGraph::WaitForEnd(DWORD timeout_ms, HRESULT* abort_code, const std::vector<HANDLE>& extra, int* woken,
                                bool pump_messages) {
  OAEVENT handle = 0;
  if (FAILED(m_events->GetEventHandle(&handle))) return EndResult::kTimeout;
  std::vector<HANDLE> waits = {reinterpret_cast<HANDLE>(handle)};
  waits.insert(waits.end(), extra.begin(), extra.end());
  const DWORD deadline = GetTickCount() + timeout_ms;
  for (;;) {
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    // Wine answers GetEvent at once whatever its time-out: the handle says
    // when one is there.
    while (SUCCEEDED(m_events->GetEvent(&code, &p1, &p2, 0))) {
      m_events->FreeEventParams(code, p1, p2);
      if (code == EC_COMPLETE) return EndResult::kComplete;
      if (code == EC_ERRORABORT) {
        if (abort_code) *abort_code = static_cast<HRESULT>(p1);
        return EndResult::kErrorAbort;
      }
      if (code == EC_USERABORT) return EndResult::kUserAbort;
    }
    DWORD now = GetTickCount();
    DWORD left = static_cast<LONG>(deadline - now) > 0 ? deadline - now : 0;
    const DWORD count = static_cast<DWORD>(waits.size());
    DWORD r = pump_messages ? MsgWaitForMultipleObjects(count, waits.data(), FALSE, left, QS_ALLINPUT)
                            : WaitForMultipleObjects(count, waits.data(), FALSE, left);
    if (pump_messages && r == WAIT_OBJECT_0 + count) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      continue;
    }
    if (r == WAIT_TIMEOUT || r == WAIT_FAILED) return EndResult::kTimeout;
    if (r > WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + waits.size()) {
      if (woken) *woken = static_cast<int>(r - WAIT_OBJECT_0 - 1);
      return EndResult::kWoken;
    }
  }
}

}  // namespace kestrel::play
