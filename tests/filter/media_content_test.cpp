// IAMMediaContent on the filter: each field from the user-data catalogue of
// the loaded movie, against the tags ffprobe reads from the same file; the
// fields the movie has no item for, the IDispatch methods, bad pointers.
#include <windows.h>

#include <gtest/gtest.h>
#include <oleauto.h>
#include <qnetwork.h>
#include <vfwmsgs.h>

#include <regex>
#include <string>

#include "filter/filter_harness.h"
#include "support/test_env.h"

namespace kestrel::test {
namespace {

using Getter = HRESULT (STDMETHODCALLTYPE IAMMediaContent::*)(BSTR*);

// A field's text, or "<hr>" when it failed; the BSTR is freed.
std::wstring Field(IAMMediaContent* content, Getter getter, HRESULT* hr_out = nullptr) {
  BSTR text = reinterpret_cast<BSTR>(1);
  HRESULT hr = (content->*getter)(&text);
  if (hr_out) *hr_out = hr;
  if (FAILED(hr)) {
    EXPECT_EQ(text, nullptr);
    return L"<" + std::to_wstring(hr) + L">";
  }
  std::wstring value(text, SysStringLen(text));
  SysFreeString(text);
  return value;
}

const std::wstring kNotFound = L"<" + std::to_wstring(VFW_E_NOT_FOUND) + L">";

// The value of an ffprobe format tag for a fixture, or kNotFound.
std::wstring ProbeTag(const std::string& fixture, const std::string& key) {
  std::string json = ReadFileBytes(FixturePath(fixture + ".probe.json"));
  std::smatch match;
  if (!std::regex_search(json, match, std::regex("\"" + key + "\": \"([^\"]*)\""))) return kNotFound;
  return Wide(match[1].str());
}

class MediaContent : public FilterTest {
 protected:
  ComPtr<IAMMediaContent> LoadContent(const std::string& fixture) {
    EXPECT_HR(S_OK, Load(fixture));
    ComPtr<IAMMediaContent> content;
    EXPECT_HR(S_OK, filter->QueryInterface(__uuidof(IAMMediaContent), content.ReleaseAndGetVoidAddress()));
    return content;
  }
};

TEST_F(MediaContent, FieldsAreTheTagsFfprobeReads) {
  for (const char* fixture : {"md_tags.mov", "md_itunes.m4a", "md_tags.aif", "md_tags.caf"}) {
    SCOPED_TRACE(fixture);
    ComPtr<IAMMediaContent> content = LoadContent(fixture);
    ASSERT_TRUE(content);
    EXPECT_EQ(Field(content.Get(), &IAMMediaContent::get_Title), ProbeTag(fixture, "title"));
    EXPECT_EQ(Field(content.Get(), &IAMMediaContent::get_Copyright), ProbeTag(fixture, "copyright"));
    // A description, else the comment.
    std::wstring description = ProbeTag(fixture, "description");
    if (description == kNotFound) description = ProbeTag(fixture, "comment");
    EXPECT_EQ(Field(content.Get(), &IAMMediaContent::get_Description), description);
    // ffprobe names both (c)ART and (c)aut "artist" and shows the one it
    // read last; the movie of both has its artist first here.
    std::wstring author = ProbeTag(fixture, "artist");
    if (author == kNotFound) author = ProbeTag(fixture, "author");
    if (std::string(fixture) == "md_tags.mov") {
      EXPECT_EQ(author, L"An Author");
      author = L"An Artist";
    }
    EXPECT_EQ(Field(content.Get(), &IAMMediaContent::get_AuthorName), author);
    EXPECT_EQ(Field(content.Get(), &IAMMediaContent::get_BaseURL), kNotFound);
  }
}

TEST_F(MediaContent, EveryFieldOfAMovieWithEveryItem) {
  ComPtr<IAMMediaContent> content = LoadContent("md_all31.mov");
  ASSERT_TRUE(content);
  EXPECT_EQ(Field(content.Get(), &IAMMediaContent::get_Title), L"The Title");
  EXPECT_EQ(Field(content.Get(), &IAMMediaContent::get_AuthorName), L"Bj\u00F6rk \u20AC");  // (c)ART
  EXPECT_EQ(Field(content.Get(), &IAMMediaContent::get_Copyright), L"value 6 of cpy");
  EXPECT_EQ(Field(content.Get(), &IAMMediaContent::get_Description), L"value 8 of des");
  EXPECT_EQ(Field(content.Get(), &IAMMediaContent::get_BaseURL), L"https://example.com/?");
  EXPECT_EQ(Field(content.Get(), &IAMMediaContent::get_MoreInfoText), L"value 15 of inf");
  for (Getter none : {&IAMMediaContent::get_Rating, &IAMMediaContent::get_LogoURL, &IAMMediaContent::get_LogoIconURL,
                      &IAMMediaContent::get_WatermarkURL, &IAMMediaContent::get_MoreInfoURL,
                      &IAMMediaContent::get_MoreInfoBannerImage, &IAMMediaContent::get_MoreInfoBannerURL}) {
    EXPECT_EQ(Field(content.Get(), none), kNotFound);
  }
  // Each call hands out a new string.
  BSTR first = nullptr, second = nullptr;
  ASSERT_HR(S_OK, content->get_Title(&first));
  ASSERT_HR(S_OK, content->get_Title(&second));
  EXPECT_NE(first, second);
  SysFreeString(first);
  SysFreeString(second);
}

TEST_F(MediaContent, NothingLoadedOrNothingThereIsNotFound) {
  NewFilter();
  ComPtr<IAMMediaContent> content;
  ASSERT_HR(S_OK, filter->QueryInterface(__uuidof(IAMMediaContent), content.ReleaseAndGetVoidAddress()));
  EXPECT_EQ(Field(content.Get(), &IAMMediaContent::get_Title), kNotFound);
  EXPECT_HR(E_POINTER, content->get_Title(nullptr));
  EXPECT_HR(E_POINTER, content->get_Rating(nullptr));

  // A movie without user data: every field absent.
  content = LoadContent("md_empty.mov");
  ASSERT_TRUE(content);
  for (Getter field :
       {&IAMMediaContent::get_Title, &IAMMediaContent::get_AuthorName, &IAMMediaContent::get_Copyright,
        &IAMMediaContent::get_Description, &IAMMediaContent::get_BaseURL, &IAMMediaContent::get_MoreInfoText}) {
    EXPECT_EQ(Field(content.Get(), field), kNotFound);
  }
}

TEST_F(MediaContent, DispatchHasNoTypeInformation) {
  NewFilter();
  ComPtr<IAMMediaContent> content;
  ASSERT_HR(S_OK, filter->QueryInterface(__uuidof(IAMMediaContent), content.ReleaseAndGetVoidAddress()));
  UINT count = 7;
  EXPECT_HR(S_OK, content->GetTypeInfoCount(&count));
  EXPECT_EQ(count, 0u);
  ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_HR(E_NOTIMPL, content->GetTypeInfo(0, 0, &info));
  EXPECT_EQ(info, nullptr);
  OLECHAR name[] = L"Title";
  LPOLESTR names[] = {name};
  DISPID id = 0;
  EXPECT_HR(E_NOTIMPL, content->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
  EXPECT_EQ(id, DISPID_UNKNOWN);
  DISPPARAMS none = {};
  EXPECT_HR(E_NOTIMPL, content->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr));
  // The filter's own identity is the same through this interface.
  ComPtr<IBaseFilter> base;
  ASSERT_HR(S_OK, content->QueryInterface(IID_IBaseFilter, base.ReleaseAndGetVoidAddress()));
  EXPECT_EQ(base.Get(), filter.Get());
}

}  // namespace
}  // namespace kestrel::test
