// The pin and media-type enumerators: versions, Reset, Skip, Clone, and
// pins never returned twice.
#include <vfwmsgs.h>

#include "harness.h"

namespace kestrel::test {
namespace {

using Enumerators = FrameworkTest;

TEST_F(Enumerators, PinEnumeratorFollowsPinChanges) {
  TestPin* first = AddPin(L"1");
  TestPin* second = AddPin(L"2");
  IEnumPins* pins = nullptr;
  ASSERT_HR(S_OK, static_cast<IBaseFilter*>(source)->EnumPins(&pins));
  EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(source)), 2u);  // the enumerator holds the filter

  IPin* got[3] = {};
  ULONG fetched = 99;
  EXPECT_HR(E_POINTER, pins->Next(1, nullptr, &fetched));
  EXPECT_HR(E_INVALIDARG, pins->Next(2, got, nullptr));
  EXPECT_HR(S_OK, pins->Next(1, got, nullptr));
  EXPECT_EQ(got[0], static_cast<IPin*>(first));
  got[0]->Release();

  // A pin added: Next starts again but does not return the first pin twice.
  TestPin* third = AddPin(L"3");
  EXPECT_HR(VFW_E_ENUM_OUT_OF_SYNC, pins->Skip(1));
  IEnumPins* clone = reinterpret_cast<IEnumPins*>(1);
  EXPECT_HR(VFW_E_ENUM_OUT_OF_SYNC, pins->Clone(&clone));
  EXPECT_EQ(clone, nullptr);
  EXPECT_HR(S_FALSE, pins->Next(3, got, &fetched));
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(got[0], static_cast<IPin*>(second));
  EXPECT_EQ(got[1], static_cast<IPin*>(third));
  got[0]->Release();
  got[1]->Release();
  EXPECT_HR(S_FALSE, pins->Next(1, got, &fetched));
  EXPECT_EQ(fetched, 0u);

  // A pin removed: still never a pin twice.
  delete first;
  EXPECT_HR(S_FALSE, pins->Next(2, got, &fetched));
  EXPECT_EQ(fetched, 0u);

  // Reset: the current pins from the start.
  EXPECT_HR(S_OK, pins->Reset());
  EXPECT_HR(S_OK, pins->Skip(2));
  EXPECT_HR(S_FALSE, pins->Skip(1));  // nothing left; the position stays
  EXPECT_HR(S_OK, pins->Reset());
  EXPECT_HR(S_FALSE, pins->Skip(3));
  EXPECT_HR(S_OK, pins->Skip(1));
  ASSERT_HR(S_OK, pins->Clone(&clone));
  EXPECT_HR(S_OK, clone->Next(1, got, &fetched));
  EXPECT_EQ(got[0], static_cast<IPin*>(third));  // the copy is at the same place
  got[0]->Release();
  EXPECT_HR(S_OK, pins->Next(1, got, nullptr));
  EXPECT_EQ(got[0], static_cast<IPin*>(third));
  got[0]->Release();
  EXPECT_HR(E_POINTER, pins->Clone(nullptr));
  clone->Release();
  pins->Release();
  EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(source)), 1u);
}

TEST_F(Enumerators, PinEnumeratorReturnsAllPinsOnce) {
  std::vector<TestPin*> created;
  for (int i = 0; i < 5; ++i) created.push_back(AddPin(L"p"));
  IEnumPins* pins = nullptr;
  ASSERT_HR(S_OK, static_cast<IBaseFilter*>(source)->EnumPins(&pins));
  IPin* got[8] = {};
  ULONG fetched = 0;
  EXPECT_HR(S_OK, pins->Next(2, got, &fetched));
  EXPECT_EQ(fetched, 2u);
  // Pins added and removed between calls.
  delete created[4];
  created.pop_back();
  created.push_back(AddPin(L"q"));
  EXPECT_HR(S_FALSE, pins->Next(8, got + 2, &fetched));
  EXPECT_EQ(fetched, 3u);
  std::vector<IPin*> seen(got, got + 5);
  for (TestPin* pin : created) {
    EXPECT_EQ(std::count(seen.begin(), seen.end(), static_cast<IPin*>(pin)), 1) << "every pin once";
  }
  for (IPin* pin : seen) pin->Release();
  pins->Release();
}

TEST_F(Enumerators, MediaTypeEnumeratorFollowsTheTypeVersion) {
  TestPin* pin =
      AddPin(L"Video", {VideoType(MEDIASUBTYPE_RGB32), VideoType(MEDIASUBTYPE_RGB24), VideoType(MEDIASUBTYPE_YUY2)});
  IEnumMediaTypes* types = nullptr;
  ASSERT_HR(S_OK, pin->EnumMediaTypes(&types));
  EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(source)), 2u);  // the pin, so the filter, is held

  AM_MEDIA_TYPE* got[4] = {};
  ULONG fetched = 99;
  EXPECT_HR(E_POINTER, types->Next(1, nullptr, &fetched));
  EXPECT_HR(E_INVALIDARG, types->Next(2, got, nullptr));
  EXPECT_HR(S_OK, types->Next(2, got, &fetched));
  EXPECT_EQ(fetched, 2u);
  EXPECT_TRUE(pin->types[0] == *got[0]);
  EXPECT_TRUE(pin->types[1] == *got[1]);
  EXPECT_NE(got[0]->pbFormat, pin->types[0].pbFormat);  // the caller's own copy
  DeleteMediaType(got[0]);
  DeleteMediaType(got[1]);
  EXPECT_HR(S_FALSE, types->Next(4, got, &fetched));
  EXPECT_EQ(fetched, 1u);
  EXPECT_TRUE(pin->types[2] == *got[0]);
  DeleteMediaType(got[0]);

  // Out of sync after the pin's type version changes; Reset recovers.
  pin->BumpTypeVersion();
  EXPECT_HR(VFW_E_ENUM_OUT_OF_SYNC, types->Next(1, got, &fetched));
  EXPECT_EQ(fetched, 0u);
  EXPECT_HR(VFW_E_ENUM_OUT_OF_SYNC, types->Skip(0));
  IEnumMediaTypes* clone = reinterpret_cast<IEnumMediaTypes*>(1);
  EXPECT_HR(VFW_E_ENUM_OUT_OF_SYNC, types->Clone(&clone));
  EXPECT_EQ(clone, nullptr);
  EXPECT_HR(S_OK, types->Reset());
  EXPECT_HR(S_OK, types->Next(1, got, nullptr));
  EXPECT_TRUE(pin->types[0] == *got[0]);
  DeleteMediaType(got[0]);

  // Skip answers whether a type stands just before the new position.
  EXPECT_HR(S_OK, types->Skip(0));
  EXPECT_HR(S_OK, types->Skip(2));  // position 3: type 2 exists
  EXPECT_HR(S_FALSE, types->Next(1, got, &fetched));
  EXPECT_HR(S_OK, types->Reset());
  EXPECT_HR(S_FALSE, types->Skip(4));
  EXPECT_HR(S_OK, types->Reset());
  EXPECT_HR(S_OK, types->Skip(1));
  ASSERT_HR(S_OK, types->Clone(&clone));
  EXPECT_HR(S_OK, clone->Next(1, got, &fetched));
  EXPECT_TRUE(pin->types[1] == *got[0]);
  DeleteMediaType(got[0]);
  clone->Release();

  // A failing request still moves the position on.
  EXPECT_HR(S_OK, types->Reset());
  EXPECT_HR(S_FALSE, types->Next(4, got, &fetched));
  for (ULONG i = 0; i < fetched; ++i) DeleteMediaType(got[i]);
  pin->types.push_back(VideoType(MEDIASUBTYPE_UYVY));  // the version is left alone here
  EXPECT_HR(S_FALSE, types->Next(1, got, &fetched));   // position 4, past the new type
  EXPECT_EQ(fetched, 0u);
  types->Release();
  EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(source)), 1u);
}

}  // namespace
}  // namespace kestrel::test
