// Pin connection: the order in which types are tried, the failure codes,
// the allocator choice, and what a failed connection leaves behind.
#include <vfwmsgs.h>

#include "harness.h"

namespace kestrel::test {
namespace {

using Strings = std::vector<std::string>;

// Connection log entries of the pin that name a type check.
Strings Checks(TestPin* pin) {
  Strings out;
  for (const std::string& call : pin->Calls()) {
    if (call.rfind("CheckMediaType ", 0) == 0) out.push_back(call.substr(15));
  }
  return out;
}

Strings Receives(TestInputPin* sink) {
  Strings out;
  for (const std::string& call : sink->Calls()) {
    if (call.rfind("ReceiveConnection ", 0) == 0) out.push_back(call.substr(18));
  }
  return out;
}

// Nothing of a failed connection is held: no connection, no allocator, no
// IMemInputPin, and the sink is back at its own reference.
void ExpectNothingHeld(TestPin* pin, TestInputPin* sink) {
  EXPECT_FALSE(pin->IsConnected());
  EXPECT_EQ(pin->HeldAllocator(), nullptr);
  EXPECT_EQ(pin->HeldInputPin(), nullptr);
  EXPECT_EQ(RefCount(static_cast<IPin*>(sink)), 1u);
  AM_MEDIA_TYPE mt;
  EXPECT_HR(VFW_E_NOT_CONNECTED, pin->ConnectionMediaType(&mt));
  EXPECT_TRUE(mt.majortype == GUID_NULL);
  IPin* other = reinterpret_cast<IPin*>(1);
  EXPECT_HR(VFW_E_NOT_CONNECTED, pin->ConnectedTo(&other));
  EXPECT_EQ(other, nullptr);
}

using Connection = FrameworkTest;

TEST_F(Connection, FullySpecifiedTypeIsTriedAlone) {
  TestPin* pin = AddPin(L"Video", {VideoType(MEDIASUBTYPE_RGB32), VideoType(MEDIASUBTYPE_RGB24)});
  TestInputPin* sink = NewSink();
  sink->types = {VideoType(MEDIASUBTYPE_YUY2), VideoType(MEDIASUBTYPE_RGB32)};
  CMediaType rgb24 = VideoType(MEDIASUBTYPE_RGB24);
  EXPECT_HR(S_OK, pin->Connect(sink, &rgb24));
  EXPECT_EQ(Checks(pin), Strings({"RGB24"}));
  EXPECT_EQ(sink->Calls(), Strings({"QueryDirection", "ReceiveConnection RGB24", "GetAllocatorRequirements",
                                    "GetAllocator", "NotifyAllocator"}));
  AM_MEDIA_TYPE mt;
  EXPECT_HR(S_OK, pin->ConnectionMediaType(&mt));
  EXPECT_TRUE(rgb24 == mt);
  FreeMediaType(mt);
  IPin* other = nullptr;
  EXPECT_HR(S_OK, pin->ConnectedTo(&other));
  EXPECT_EQ(other, static_cast<IPin*>(sink));
  EXPECT_EQ(RefCount(other), 4u);  // the test, the pin's IPin and IMemInputPin, this call
  other->Release();

  // A fully specified type that the pin refuses is not replaced by another.
  TestPin* second = AddPin(L"Second", {VideoType(MEDIASUBTYPE_RGB32)});
  TestInputPin* other_sink = NewSink();
  other_sink->types = {VideoType(MEDIASUBTYPE_RGB32)};
  CMediaType yuy2 = VideoType(MEDIASUBTYPE_YUY2);
  EXPECT_HR(VFW_E_TYPE_NOT_ACCEPTED, second->Connect(other_sink, &yuy2));
  EXPECT_EQ(Checks(second), Strings({"YUY2"}));
  EXPECT_TRUE(Receives(other_sink).empty());
  ExpectNothingHeld(second, other_sink);

  // Other failures of the pin's check pass through unchanged.
  second->check = [](const CMediaType*) { return E_UNEXPECTED; };
  CMediaType rgb32 = VideoType(MEDIASUBTYPE_RGB32);
  EXPECT_HR(E_UNEXPECTED, second->Connect(other_sink, &rgb32));
  second->check = [](const CMediaType*) { return S_FALSE; };
  EXPECT_HR(VFW_E_TYPE_NOT_ACCEPTED, second->Connect(other_sink, &rgb32));
  ExpectNothingHeld(second, other_sink);
}

TEST_F(Connection, DownstreamTypesComeBeforeThePinsOwn) {
  TestPin* pin = AddPin(L"Video", {VideoType(MEDIASUBTYPE_RGB32), VideoType(MEDIASUBTYPE_RGB24)});
  TestInputPin* sink = NewSink();
  sink->types = {VideoType(MEDIASUBTYPE_YUY2), VideoType(MEDIASUBTYPE_RGB24)};
  sink->receive_connection = [](const AM_MEDIA_TYPE* pmt) {
    return pmt->subtype == MEDIASUBTYPE_RGB32 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  };
  EXPECT_HR(S_OK, pin->Connect(sink, nullptr));
  // YUY2 refused by the pin, RGB24 by the sink, then the pin's own RGB32.
  EXPECT_EQ(Checks(pin), Strings({"YUY2", "RGB24", "RGB32"}));
  EXPECT_EQ(Receives(sink), Strings({"RGB24", "RGB32"}));
  EXPECT_TRUE(pin->CurrentMediaType() == VideoType(MEDIASUBTYPE_RGB32));
  // The pin heard of the agreed type once, after the failed attempt was undone.
  Strings sets;
  for (const std::string& call : pin->Calls()) {
    if (call.rfind("SetMediaType", 0) == 0) sets.push_back(call);
  }
  EXPECT_EQ(sets, Strings({"SetMediaType RGB24", "SetMediaType RGB32"}));
}

TEST_F(Connection, PartialTypeFiltersBothLists) {
  TestPin* pin = AddPin(L"Mixed", {VideoType(MEDIASUBTYPE_RGB32), AudioType(1)});
  TestInputPin* sink = NewSink();
  sink->types = {VideoType(MEDIASUBTYPE_YUY2), AudioType(2)};
  sink->receive_connection = [](const AM_MEDIA_TYPE* pmt) {
    return pmt->cbFormat != 0 && reinterpret_cast<WAVEFORMATEX*>(pmt->pbFormat)->nChannels == 1 ? S_OK : E_FAIL;
  };
  pin->check = [](const CMediaType*) { return S_OK; };
  CMediaType audio;
  audio.SetType(MEDIATYPE_Audio);
  EXPECT_HR(S_OK, pin->Connect(sink, &audio));
  EXPECT_EQ(Checks(pin), Strings({"PCM", "PCM"}));  // the downstream stereo, then the own mono
  EXPECT_TRUE(pin->CurrentMediaType() == AudioType(1));
  EXPECT_HR(S_OK, pin->Disconnect());

  // A partial type of a subtype only.
  pin->ClearCalls();
  sink->receive_connection = nullptr;
  CMediaType rgb32;
  rgb32.SetSubtype(MEDIASUBTYPE_RGB32);
  EXPECT_HR(S_OK, pin->Connect(sink, &rgb32));
  EXPECT_EQ(Checks(pin), Strings({"RGB32"}));
  EXPECT_HR(S_OK, pin->Disconnect());

  // Nothing qualifies.
  CMediaType none;
  none.SetType(MEDIATYPE_Text);
  EXPECT_HR(VFW_E_NO_ACCEPTABLE_TYPES, pin->Connect(sink, &none));
  ExpectNothingHeld(pin, sink);
}

TEST_F(Connection, PassedOverFailuresAndTheRememberedOne) {
  const GUID subtypes[] = {MEDIASUBTYPE_RGB32, MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB565, MEDIASUBTYPE_YUY2,
                           MEDIASUBTYPE_UYVY};
  std::vector<CMediaType> own;
  for (const GUID& subtype : subtypes) own.push_back(VideoType(subtype));
  TestPin* pin = AddPin(L"Video", own);
  TestInputPin* sink = NewSink();
  sink->receive_connection = [](const AM_MEDIA_TYPE* pmt) {
    if (pmt->subtype == MEDIASUBTYPE_RGB32) return E_FAIL;
    if (pmt->subtype == MEDIASUBTYPE_RGB24) return E_INVALIDARG;
    if (pmt->subtype == MEDIASUBTYPE_RGB565) return VFW_E_TYPE_NOT_ACCEPTED;
    if (pmt->subtype == MEDIASUBTYPE_YUY2) return E_OUTOFMEMORY;
    return E_ACCESSDENIED;
  };
  EXPECT_HR(E_OUTOFMEMORY, pin->Connect(sink, nullptr));  // the first failure not passed over
  EXPECT_EQ(Receives(sink), Strings({"RGB32", "RGB24", "RGB565", "YUY2", "UYVY"}));
  ExpectNothingHeld(pin, sink);

  sink->ClearCalls();
  sink->receive_connection = [](const AM_MEDIA_TYPE* pmt) {
    return pmt->subtype == MEDIASUBTYPE_RGB24 ? E_INVALIDARG : VFW_E_TYPE_NOT_ACCEPTED;
  };
  EXPECT_HR(VFW_E_NO_ACCEPTABLE_TYPES, pin->Connect(sink, nullptr));
  EXPECT_EQ(Receives(sink).size(), 5u);
  ExpectNothingHeld(pin, sink);

  // A pin of the same direction, a pin without IMemInputPin.
  TestInputPin* output = NewSink();
  output->direction = PINDIR_OUTPUT;
  EXPECT_HR(VFW_E_INVALID_DIRECTION, pin->Connect(output, nullptr));
  ExpectNothingHeld(pin, output);
  TestInputPin* plain = NewSink();
  plain->offer_mem_input = false;
  EXPECT_HR(E_NOINTERFACE, pin->Connect(plain, nullptr));
  ExpectNothingHeld(pin, plain);
  EXPECT_TRUE(Receives(plain).empty());
}

TEST_F(Connection, ConnectedOrActivePinsRefuse) {
  TestPin* pin = AddPin(L"Video");
  TestPin* idle = AddPin(L"Idle");
  TestInputPin* sink = Connected(pin);
  TestInputPin* other = NewSink();
  EXPECT_HR(VFW_E_ALREADY_CONNECTED, pin->Connect(other, nullptr));
  EXPECT_TRUE(other->Calls().empty());

  EXPECT_HR(S_OK, static_cast<IBaseFilter*>(source)->Pause());
  EXPECT_HR(VFW_E_NOT_STOPPED, idle->Connect(other, nullptr));
  EXPECT_HR(VFW_E_NOT_STOPPED, pin->Disconnect());
  EXPECT_TRUE(pin->IsConnected());
  EXPECT_HR(S_OK, static_cast<IBaseFilter*>(source)->Stop());

  EXPECT_HR(S_OK, pin->Disconnect());
  EXPECT_HR(S_FALSE, pin->Disconnect());
  EXPECT_EQ(pin->HeldAllocator(), nullptr);
  EXPECT_EQ(pin->HeldInputPin(), nullptr);
  EXPECT_EQ(RefCount(static_cast<IPin*>(sink)), 1u);           // the pin let go of the sink
  EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(source)), 2u);  // the sink still holds the pin
  EXPECT_HR(S_OK, sink->Disconnect());
  EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(source)), 1u);
}

TEST_F(Connection, RefusedDownstreamAllocatorIsReplacedByTheSystemOne) {
  TestPin* pin = AddPin(L"Video");
  TestInputPin* sink = NewSink();
  auto* own = new TestAllocator;
  own->refuse_sizing = true;
  sink->own_allocator = own;
  sink->requirements = {2, 100, 0, 0};
  sink->requirements_result = S_OK;
  EXPECT_HR(S_OK, pin->Connect(sink, nullptr));
  EXPECT_EQ(own->Calls(), Strings({"SetProperties refused"}));
  ASSERT_NE(pin->HeldAllocator(), nullptr);
  EXPECT_NE(pin->HeldAllocator(), static_cast<IMemAllocator*>(own));
  EXPECT_EQ(sink->notified_allocator, pin->HeldAllocator());
  EXPECT_EQ(RefCount(static_cast<IMemAllocator*>(own)), 1u);  // only the sink holds it
  // The request reached the pin with the alignment raised to 1, both times.
  EXPECT_EQ(pin->last_request.cBuffers, 2);
  EXPECT_EQ(pin->last_request.cbBuffer, 100);
  EXPECT_EQ(pin->last_request.cbAlign, 1);
  ALLOCATOR_PROPERTIES props = {};
  EXPECT_HR(S_OK, pin->HeldAllocator()->GetProperties(&props));
  EXPECT_EQ(props.cBuffers, 1);
  EXPECT_EQ(props.cbBuffer, 4096);
  Strings decisions;
  for (const std::string& call : pin->Calls()) {
    if (call == "DecideBufferSize") decisions.push_back(call);
  }
  EXPECT_EQ(decisions.size(), 2u);
  EXPECT_EQ(sink->Calls(), Strings({"EnumMediaTypes", "QueryDirection", "ReceiveConnection RGB32",
                                    "GetAllocatorRequirements", "GetAllocator", "NotifyAllocator"}));
}

TEST_F(Connection, DownstreamAllocatorIsUsedWhenItTakesTheSizing) {
  TestPin* pin = AddPin(L"Video");
  TestInputPin* sink = NewSink();
  auto* own = new TestAllocator;
  sink->own_allocator = own;
  EXPECT_HR(S_OK, pin->Connect(sink, nullptr));
  EXPECT_EQ(pin->HeldAllocator(), static_cast<IMemAllocator*>(own));
  EXPECT_EQ(sink->notified_allocator, static_cast<IMemAllocator*>(own));
  EXPECT_EQ(RefCount(static_cast<IMemAllocator*>(own)), 3u);  // sink, notified, pin
  EXPECT_EQ(pin->last_request.cbAlign, 1);                    // no requirements: zeroed, alignment 1
  EXPECT_EQ(pin->last_request.cbBuffer, 0);
  EXPECT_HR(S_OK, pin->Disconnect());
  EXPECT_EQ(RefCount(static_cast<IMemAllocator*>(own)), 2u);
  EXPECT_EQ(own->Calls(), Strings({"SetProperties", "Decommit"}));
}

TEST_F(Connection, FailedAllocatorChoiceUndoesTheConnection) {
  TestPin* pin = AddPin(L"Video");
  TestInputPin* sink = NewSink();
  auto* own = new TestAllocator;
  sink->own_allocator = own;
  sink->notify_allocator_result = E_ACCESSDENIED;
  CMediaType rgb32 = VideoType(MEDIASUBTYPE_RGB32);
  EXPECT_HR(E_ACCESSDENIED, pin->Connect(sink, &rgb32));
  // Accepted downstream, then disconnected there when the allocator failed.
  EXPECT_EQ(sink->Calls(), Strings({"QueryDirection", "ReceiveConnection RGB32", "GetAllocatorRequirements",
                                    "GetAllocator", "NotifyAllocator", "NotifyAllocator", "Disconnect"}));
  EXPECT_EQ(sink->Connected(), nullptr);
  ExpectNothingHeld(pin, sink);
  EXPECT_EQ(RefCount(static_cast<IMemAllocator*>(own)), 1u);
  EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(source)), 1u);

  // The same with the types walked: E_ACCESSDENIED is remembered.
  EXPECT_HR(E_ACCESSDENIED, pin->Connect(sink, nullptr));
  ExpectNothingHeld(pin, sink);
}

TEST_F(Connection, SingleTypeDefaultsAndQueryAccept) {
  TestPin* pin = AddPin(L"Audio", {AudioType(2)});
  pin->single_type = true;
  CMediaType mt;
  EXPECT_HR(E_INVALIDARG, pin->GetMediaType(-1, &mt));
  EXPECT_HR(VFW_S_NO_MORE_ITEMS, pin->GetMediaType(1, &mt));
  EXPECT_HR(S_OK, pin->GetMediaType(0, &mt));
  EXPECT_TRUE(mt == AudioType(2));
  EXPECT_HR(S_OK, pin->QueryAccept(&mt));
  CMediaType mono = AudioType(1);  // differs in the format bytes only
  EXPECT_HR(S_FALSE, pin->QueryAccept(&mono));
  EXPECT_HR(E_FAIL, pin->CheckMediaType(&mono));
  pin->check = [](const CMediaType*) { return E_UNEXPECTED; };
  EXPECT_HR(S_FALSE, pin->QueryAccept(&mt));

  // Output pins take no stream control.
  EXPECT_HR(E_UNEXPECTED, pin->EndOfStream());
  EXPECT_HR(E_UNEXPECTED, pin->BeginFlush());
  EXPECT_HR(E_UNEXPECTED, pin->EndFlush());
  EXPECT_HR(S_OK, pin->NewSegment(1, 2, 0.5));
  EXPECT_EQ(pin->CurrentStartTime(), 1);
  EXPECT_EQ(pin->CurrentStopTime(), 2);
  EXPECT_EQ(pin->CurrentRate(), 0.5);
  ULONG n = 0;
  EXPECT_HR(E_NOTIMPL, pin->QueryInternalConnections(nullptr, &n));

  // Delivery without a connection.
  EXPECT_HR(VFW_E_NOT_CONNECTED, pin->DeliverEndOfStream());
  EXPECT_HR(VFW_E_NOT_CONNECTED, pin->DeliverBeginFlush());
  EXPECT_HR(VFW_E_NOT_CONNECTED, pin->DeliverEndFlush());
  EXPECT_HR(VFW_E_NOT_CONNECTED, pin->DeliverNewSegment(0, 1, 1.0));
  EXPECT_HR(VFW_E_NOT_CONNECTED, pin->Deliver(nullptr));
  IMediaSample* sample = reinterpret_cast<IMediaSample*>(1);
  EXPECT_HR(E_NOINTERFACE, pin->GetDeliveryBuffer(&sample, nullptr, nullptr, 0));
  EXPECT_EQ(sample, nullptr);
}

}  // namespace
}  // namespace kestrel::test
