// Shared helpers of the framework tests: HRESULT assertions in hex, media
// types for the test pins, a COM reference count probe.
#ifndef KESTREL_TESTS_FRAMEWORK_TEST_UTIL_H
#define KESTREL_TESTS_FRAMEWORK_TEST_UTIL_H

#include <windows.h>

#include <dshow.h>
#include <gtest/gtest.h>

#include <string>

#include "framework/media_type.h"

namespace kestrel::test {

inline testing::AssertionResult HrEqual(const char* expected_text, const char* actual_text, HRESULT expected,
                                        HRESULT actual) {
  if (expected == actual) return testing::AssertionSuccess();
  char buffer[160];
  snprintf(buffer, sizeof(buffer), "expected %s = 0x%08lX, got %s = 0x%08lX", expected_text,
           static_cast<unsigned long>(expected), actual_text, static_cast<unsigned long>(actual));
  return testing::AssertionFailure() << buffer;
}

#define EXPECT_HR(expected, actual) EXPECT_PRED_FORMAT2(::kestrel::test::HrEqual, expected, actual)
#define ASSERT_HR(expected, actual) ASSERT_PRED_FORMAT2(::kestrel::test::HrEqual, expected, actual)

// The current reference count of a COM object (AddRef then Release).
inline ULONG RefCount(IUnknown* p) {
  p->AddRef();
  return p->Release();
}

// An outer unknown for aggregation tests: counts the calls that reach it.
class CountingOuter : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    ++queries;
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  ULONG refs = 1;
  int queries = 0;
};

// A fully specified 16x16 video type of the given subtype.
CMediaType VideoType(const GUID& subtype, LONG width = 16);
// A fully specified 44.1 kHz 16-bit PCM type with the given channel count.
CMediaType AudioType(WORD channels);
// A short name of the subtype for call logs ("RGB32", "YUY2", "PCM" ...).
std::string SubtypeName(const GUID& subtype);

}  // namespace kestrel::test

#endif
