// A test source with pins and a recording sink per pin; checks at the end
// that every framework object is gone.
#ifndef KESTREL_TESTS_FRAMEWORK_HARNESS_H
#define KESTREL_TESTS_FRAMEWORK_HARNESS_H

#include <dshow.h>
#include <gtest/gtest.h>

#include "framework/unknown.h"
#include "framework_test_util.h"
#include "test_sink.h"
#include "test_source.h"

namespace kestrel::test {

class FrameworkTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CBaseObject::ObjectsActive(), 0);
    source = new TestSource;
    source->AddRef();
  }
  void TearDown() override {
    // A connected sink holds a pin, so the filter: let go of it first.
    for (TestInputPin* sink : sinks) sink->Disconnect();
    if (source) {
      source->Stop();
      source->Release();
    }
    for (TestInputPin* sink : sinks) sink->Release();
    EXPECT_EQ(CBaseObject::ObjectsActive(), 0);
  }

  TestPin* AddPin(LPCWSTR name, std::vector<CMediaType> types = {VideoType(MEDIASUBTYPE_RGB32)}) {
    HRESULT hr = S_OK;
    auto* pin = new TestPin(&hr, source, name);
    EXPECT_HR(S_OK, hr);
    pin->types = std::move(types);
    return pin;
  }
  TestInputPin* NewSink() {
    auto* sink = new TestInputPin;
    sinks.push_back(sink);
    return sink;
  }
  // A pin connected to a new sink with the pin's first type.
  TestInputPin* Connected(TestPin* pin) {
    TestInputPin* sink = NewSink();
    EXPECT_HR(S_OK, pin->Connect(sink, nullptr));
    return sink;
  }
  static bool Wait(HANDLE event) { return WaitForSingleObject(event, 20000) == WAIT_OBJECT_0; }

  TestSource* source = nullptr;
  std::vector<TestInputPin*> sinks;
};

}  // namespace kestrel::test

#endif
