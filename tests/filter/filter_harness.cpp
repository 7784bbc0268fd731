#include "filter/filter_harness.h"

#include <mutex>
#include <sstream>

#include "base/log.h"
#include "support/test_env.h"
#include "video/video_oracle.h"

namespace kestrel::test {

struct DeliveryRecorder::State {
  std::mutex lock;
  Delivery delivery;
  int width = 0, height = 0, bytes_per_pixel = 0, stride = 0;
  bool flipped = false;
};

DeliveryRecorder::DeliveryRecorder() : m_state(std::make_shared<State>()), m_recorder(new play::SampleRecorder) {
  std::shared_ptr<State> state = m_state;
  m_recorder->SetHandler([state](const play::SampleRecord& r, const BYTE* data, size_t) {
    std::lock_guard<std::mutex> lock(state->lock);
    state->delivery.records.push_back(r);
    if (!data) return;
    if (state->width > 0) {
      state->delivery.md5.push_back(
          PictureMd5(data, state->width, state->height, state->bytes_per_pixel, state->stride, state->flipped));
    } else if (r.bytes > 0) {
      state->delivery.pcm.append(reinterpret_cast<const char*>(data), static_cast<size_t>(r.bytes));
    }
  });
}

DeliveryRecorder::~DeliveryRecorder() { m_recorder->Release(); }

void DeliveryRecorder::SetPicture(int width, int height, int bytes_per_pixel, int stride, bool flipped) {
  std::lock_guard<std::mutex> lock(m_state->lock);
  m_state->width = width;
  m_state->height = height;
  m_state->bytes_per_pixel = bytes_per_pixel;
  m_state->stride = stride;
  m_state->flipped = flipped;
}

Delivery DeliveryRecorder::Take() {
  std::lock_guard<std::mutex> lock(m_state->lock);
  Delivery out = std::move(m_state->delivery);
  m_state->delivery = Delivery();
  return out;
}

std::wstring Wide(const std::string& text) {
  int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring out(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out.data(), n);
  return out;
}

std::vector<std::string> LogMessages() {
  std::string path;
  for (const wchar_t* p = GetLogPath(); *p; ++p) path += static_cast<char>(*p);
  std::istringstream in(ReadFileBytes(path));
  std::vector<std::string> out;
  bool first = true;
  for (std::string line; std::getline(in, line); first = false) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (first && line.empty()) continue;  // the file starts with a line break
    // "hh:mm:ss - message"
    out.push_back(line.size() >= 11 ? line.substr(11) : "?" + line);
  }
  return out;
}

bool OfferedType(IPin* pin, const GUID& subtype, CMediaType* out) {
  ComPtr<IEnumMediaTypes> types;
  if (FAILED(pin->EnumMediaTypes(types.ReleaseAndGetAddressOf()))) return false;
  for (;;) {
    AM_MEDIA_TYPE* mt = nullptr;
    if (types->Next(1, &mt, nullptr) != S_OK || !mt) return false;
    bool match = mt->subtype == subtype;
    if (match) out->Set(*mt);
    DeleteMediaType(mt);
    if (match) return true;
  }
}

void FilterTest::SetUp() { ASSERT_EQ(CBaseObject::ObjectsActive(), 0); }

void FilterTest::TearDown() {
  graph.reset();
  recorders.clear();
  filter.Reset();
  EXPECT_EQ(CBaseObject::ObjectsActive(), 0) << "objects of the filter left alive";
}

HRESULT NewKestrelFilter(IBaseFilter** ppFilter) {
  if (!ppFilter) return E_POINTER;
  *ppFilter = nullptr;
  HRESULT hr = E_FAIL;
  CUnknown* object = CKestrel::CreateInstance(nullptr, &hr);
  if (!object) return FAILED(hr) ? hr : E_OUTOFMEMORY;
  object->NonDelegatingAddRef();
  if (SUCCEEDED(hr)) hr = object->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(ppFilter));
  object->NonDelegatingRelease();
  return hr;
}

void FilterTest::NewFilter() { ASSERT_HR(S_OK, NewKestrelFilter(filter.ReleaseAndGetAddressOf())); }

HRESULT FilterTest::LoadPath(const std::wstring& path) {
  ComPtr<IFileSourceFilter> source;
  HRESULT hr = filter->QueryInterface(IID_IFileSourceFilter, source.ReleaseAndGetVoidAddress());
  return FAILED(hr) ? hr : source->Load(path.c_str(), nullptr);
}

HRESULT FilterTest::Load(const std::string& fixture) {
  if (!filter) NewFilter();
  return LoadPath(Wide(FixturePath(fixture)));
}

void FilterTest::NewGraph() {
  graph = std::make_unique<play::PlayGraph>();
  ASSERT_HR(S_OK, graph->Create(filter.Get()));
}

IPin* FilterTest::PinNamed(const wchar_t* name) {
  ComPtr<IPin> pin;
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.ReleaseAndGetAddressOf()))) return nullptr;
  for (;;) {
    if (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) != S_OK) return nullptr;
    PIN_INFO info = {};
    pin->QueryPinInfo(&info);
    if (info.pFilter) info.pFilter->Release();
    if (wcscmp(info.achName, name) == 0) return pin.Get();  // the filter holds it
  }
}

play::PinChain* FilterTest::Connect(const wchar_t* name, const GUID* subtype) {
  return ConnectChain(name, subtype, nullptr);
}

play::PinChain* FilterTest::ConnectType(const wchar_t* name, const AM_MEDIA_TYPE& type) {
  return ConnectChain(name, nullptr, &type);
}

CVideoPin* FilterTest::VideoPin() {
  IPin* pin = PinNamed(L"Video");
  return pin ? dynamic_cast<CVideoPin*>(static_cast<CBasePin*>(pin)) : nullptr;
}

play::PinChain* FilterTest::ConnectChain(const wchar_t* name, const GUID* subtype, const AM_MEDIA_TYPE* type) {
  if (!graph) NewGraph();
  IPin* pin = PinNamed(name);
  EXPECT_NE(pin, nullptr) << "no pin";
  if (!pin) return nullptr;
  auto recorder = std::make_unique<DeliveryRecorder>();
  play::PinChain* chain = nullptr;
  HRESULT hr = type ? graph->ConnectWithType(pin, type, recorder->Recorder(), &chain)
                    : graph->Connect(pin, subtype, recorder->Recorder(), &chain);
  EXPECT_HR(S_OK, hr);
  if (FAILED(hr)) return nullptr;
  if (chain->type.majortype == MEDIATYPE_Video && chain->type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(chain->type.pbFormat);
    const BITMAPINFOHEADER& bih = vih->bmiHeader;
    int bpp = bih.biBitCount / 8;
    bool yuv = chain->type.subtype == MEDIASUBTYPE_UYVY || chain->type.subtype == MEDIASUBTYPE_YUY2;
    recorder->SetPicture(bih.biWidth, bih.biHeight < 0 ? -bih.biHeight : bih.biHeight, bpp, bpp * bih.biWidth,
                         !yuv && bih.biHeight > 0);
  }
  recorders.emplace_back(name, std::move(recorder));
  return chain;
}

play::EndResult FilterTest::RunToEnd(DWORD timeout_ms, HRESULT* abort_code) {
  EXPECT_HR(S_OK, graph->RemoveClock());
  HRESULT hr = graph->Run();
  EXPECT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
  HRESULT code = S_OK;
  play::EndResult end = graph->WaitForEnd(timeout_ms, &code);
  if (abort_code) *abort_code = code;
  graph->Stop();
  return end;
}

Delivery FilterTest::Delivered(const wchar_t* name) {
  for (auto& [pin, recorder] : recorders)
    if (pin == name) return recorder->Take();
  return {};
}

void ExpectPicturesAsOracle(const Delivery& d, const Expected& e) {
  ASSERT_EQ(d.md5.size(), e.md5.size());
  ASSERT_EQ(d.records.size(), e.md5.size());
  for (size_t i = 0; i < d.md5.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(d.md5[i], e.md5[i]);
    EXPECT_EQ(d.records[i].start, e.start[i]);
    EXPECT_EQ(d.records[i].stop, e.stop[i]);
  }
}

}  // namespace kestrel::test
