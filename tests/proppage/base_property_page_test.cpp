// The page's IPropertyPage as a property frame drives it: site, objects,
// page information, activation, showing and moving, apply, and what the
// last release lets go of. Also the dialog resources in kestrel.ax.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "proppage/banner_art.h"
#include "proppage/page_resources.h"
#include "proppage/page_test_support.h"

namespace kestrel::test {
namespace {

RECT PageRect() {
  RECT rect = {0, 0, 365, 321};
  return rect;
}

TEST(BasePropertyPage, InterfacesAndTheSite) {
  ComPtr<IPropertyPage> page = CreatePage();
  ASSERT_TRUE(page);
  ComPtr<IUnknown> unknown;
  EXPECT_HR(S_OK, page->QueryInterface(IID_IUnknown, unknown.ReleaseAndGetVoidAddress()));
  ComPtr<IPropertyPage2> page2;
  EXPECT_HR(E_NOINTERFACE, page->QueryInterface(IID_IPropertyPage2, page2.ReleaseAndGetVoidAddress()));
  EXPECT_EQ(page2.Get(), nullptr);

  StubPageSite site, other;
  EXPECT_HR(E_UNEXPECTED, page->SetPageSite(nullptr));
  EXPECT_HR(S_OK, page->SetPageSite(&site));
  EXPECT_EQ(site.References(), 2u);
  EXPECT_HR(E_UNEXPECTED, page->SetPageSite(&other));
  EXPECT_EQ(other.References(), 1u);
  EXPECT_HR(S_OK, page->SetPageSite(nullptr));
  EXPECT_EQ(site.References(), 1u);

  EXPECT_HR(E_NOTIMPL, page->Help(L"x"));
  MSG msg = {};
  EXPECT_HR(E_NOTIMPL, page->TranslateAccelerator(&msg));
}

TEST(BasePropertyPage, ObjectsAreTakenWholeOrNotAtAll) {
  ComPtr<IPropertyPage> page = CreatePage();
  ASSERT_TRUE(page);
  StubFilter filter;
  IUnknown* objects[2] = {filter.Unknown(), filter.Unknown()};
  IUnknown* none[1] = {nullptr};
  EXPECT_HR(E_UNEXPECTED, page->SetObjects(2, objects));
  EXPECT_HR(E_POINTER, page->SetObjects(1, nullptr));
  EXPECT_HR(E_POINTER, page->SetObjects(1, none));
  EXPECT_HR(E_UNEXPECTED, page->SetObjects(0, nullptr));  // nothing held

  // An object without IQTControl: refused, and its IQTInfo is not kept.
  filter.offer_control = false;
  EXPECT_HR(E_NOINTERFACE, page->SetObjects(1, objects));
  EXPECT_EQ(filter.References(), 1u);
  RECT rect = PageRect();
  EXPECT_HR(E_UNEXPECTED, page->Activate(PageHost(), &rect, FALSE));
  filter.offer_control = true;
  filter.offer_info = false;
  EXPECT_HR(E_NOINTERFACE, page->SetObjects(1, objects));
  EXPECT_EQ(filter.References(), 1u);
  EXPECT_HR(E_UNEXPECTED, page->Activate(PageHost(), &rect, FALSE));
  filter.offer_info = true;

  EXPECT_HR(S_OK, page->SetObjects(1, objects));
  EXPECT_EQ(filter.References(), 3u);
  // A second object replaces the first.
  EXPECT_HR(S_OK, page->SetObjects(1, objects));
  EXPECT_EQ(filter.References(), 3u);
  EXPECT_HR(S_OK, page->SetObjects(0, nullptr));
  EXPECT_EQ(filter.References(), 1u);
  EXPECT_HR(E_UNEXPECTED, page->SetObjects(0, nullptr));
  EXPECT_HR(E_UNEXPECTED, page->Activate(PageHost(), &rect, FALSE));
}

TEST(BasePropertyPage, PageInfoGivesTheTitleAndTheDialogSize) {
  ComPtr<IPropertyPage> page = CreatePage();
  ASSERT_TRUE(page);
  EXPECT_HR(E_POINTER, page->GetPageInfo(nullptr));
  PROPPAGEINFO info = {};
  ASSERT_HR(S_OK, page->GetPageInfo(&info));
  EXPECT_EQ(info.cb, sizeof(PROPPAGEINFO));
  ASSERT_NE(info.pszTitle, nullptr);
  EXPECT_STREQ(info.pszTitle, L"Kestrel");
  EXPECT_EQ(info.pszDocString, nullptr);
  EXPECT_EQ(info.pszHelpFile, nullptr);
  EXPECT_EQ(info.dwHelpContext, 0u);
  CoTaskMemFree(info.pszTitle);

  // 365 x 321 dialog units in pixels, as the active page measures them.
  StubFilter filter;
  OpenPage open(filter.Unknown());
  RECT units = PageRect();
  ASSERT_TRUE(MapDialogRect(open.Window(), &units));
  EXPECT_EQ(info.size.cx, units.right);
  EXPECT_EQ(info.size.cy, units.bottom);
  RECT window;
  GetWindowRect(open.Window(), &window);
  EXPECT_EQ(window.right - window.left, info.size.cx);
  EXPECT_EQ(window.bottom - window.top, info.size.cy);
}

TEST(BasePropertyPage, ActivateShowMoveDeactivate) {
  ComPtr<IPropertyPage> page = CreatePage();
  ASSERT_TRUE(page);
  StubFilter filter;
  StubPageSite site;
  RECT rect = {10, 20, 400, 300};
  IUnknown* object = filter.Unknown();
  EXPECT_HR(E_UNEXPECTED, page->Activate(PageHost(), &rect, FALSE));  // no object yet
  EXPECT_HR(E_UNEXPECTED, page->Deactivate());
  EXPECT_HR(E_UNEXPECTED, page->Show(SW_SHOW));
  EXPECT_HR(E_UNEXPECTED, page->Move(&rect));
  ASSERT_HR(S_OK, page->SetObjects(1, &object));
  EXPECT_HR(E_POINTER, page->Activate(PageHost(), nullptr, FALSE));
  ASSERT_HR(S_OK, page->Activate(PageHost(), &rect, FALSE));
  EXPECT_HR(E_UNEXPECTED, page->Activate(PageHost(), &rect, FALSE));

  HWND window = page::FindPageWindow(PageHost());
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(GetParent(window), PageHost());
  EXPECT_TRUE(IsWindowVisible(window));
  RECT placed;
  GetWindowRect(window, &placed);
  MapWindowPoints(nullptr, PageHost(), reinterpret_cast<POINT*>(&placed), 2);
  EXPECT_EQ(placed.left, 10);
  EXPECT_EQ(placed.top, 20);
  EXPECT_EQ(placed.right, 400);
  EXPECT_EQ(placed.bottom, 300);

  EXPECT_HR(S_OK, page->Show(SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_HR(S_OK, page->Show(SW_SHOWNORMAL));
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_HR(E_INVALIDARG, page->Show(SW_MINIMIZE));
  EXPECT_HR(E_INVALIDARG, page->Show(SW_MAXIMIZE));
  EXPECT_TRUE(IsWindowVisible(window));

  RECT moved = {5, 6, 300, 200};
  EXPECT_HR(E_POINTER, page->Move(nullptr));
  EXPECT_HR(S_OK, page->Move(&moved));
  GetWindowRect(window, &placed);
  MapWindowPoints(nullptr, PageHost(), reinterpret_cast<POINT*>(&placed), 2);
  EXPECT_EQ(placed.left, 5);
  EXPECT_EQ(placed.bottom, 200);

  // Apply needs the site; the page is never dirty.
  EXPECT_HR(E_UNEXPECTED, page->Apply());
  ASSERT_HR(S_OK, page->SetPageSite(&site));
  EXPECT_HR(S_FALSE, page->IsPageDirty());
  EXPECT_HR(S_OK, page->Apply());

  SetWindowLongPtrW(window, GWL_EXSTYLE, GetWindowLongPtrW(window, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
  EXPECT_HR(S_OK, page->Deactivate());
  EXPECT_FALSE(IsWindow(window));
  EXPECT_HR(E_UNEXPECTED, page->Deactivate());

  // Activated again, the page is filled once more from the start.
  ASSERT_HR(S_OK, page->Activate(PageHost(), &rect, FALSE));
  window = page::FindPageWindow(PageHost());
  EXPECT_EQ(SendDlgItemMessageW(window, IDC_QUALITY, CB_GETCOUNT, 0, 0), 6);
  EXPECT_EQ(page::ReadPageControls(window).Text(IDC_VIDEO_FRAMERATE), L"25.00");
  EXPECT_HR(S_OK, page->Deactivate());
  EXPECT_HR(S_OK, page->SetObjects(0, nullptr));
  EXPECT_HR(S_OK, page->SetPageSite(nullptr));
  EXPECT_EQ(filter.References(), 1u);
  EXPECT_EQ(site.References(), 1u);
}

TEST(BasePropertyPage, LastReleaseLetsGoOfSiteObjectAndWindow) {
  StubFilter filter;
  StubPageSite site;
  HWND window = nullptr;
  {
    ComPtr<IPropertyPage> page = CreatePage();
    ASSERT_TRUE(page);
    IUnknown* object = filter.Unknown();
    RECT rect = PageRect();
    ASSERT_HR(S_OK, page->SetPageSite(&site));
    ASSERT_HR(S_OK, page->SetObjects(1, &object));
    ASSERT_HR(S_OK, page->Activate(PageHost(), &rect, FALSE));
    window = page::FindPageWindow(PageHost());
    ASSERT_NE(window, nullptr);
    EXPECT_GT(filter.References(), 1u);
    EXPECT_EQ(site.References(), 2u);
  }
  EXPECT_EQ(filter.References(), 1u);
  EXPECT_EQ(site.References(), 1u);
  EXPECT_FALSE(IsWindow(window));
}

TEST(PageResources, DialogTitleAndBannerInTheModule) {
  ComPtr<IPropertyPage> page = CreatePage();  // loads kestrel.ax
  HMODULE module = KestrelModule();
  ASSERT_NE(module, nullptr);

  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(IDD_KESTRELPROP), MAKEINTRESOURCEW(5));  // RT_DIALOG
  ASSERT_NE(found, nullptr);
  auto* words = static_cast<const WORD*>(LockResource(LoadResource(module, found)));
  ASSERT_NE(words, nullptr);
  // DLGTEMPLATEEX: version 1, signature 0xFFFF, help id, extended style,
  // style, item count, x, y, cx, cy.
  EXPECT_EQ(words[0], 1);
  EXPECT_EQ(words[1], 0xFFFF);
  DWORD style = 0;
  memcpy(&style, words + 6, sizeof(style));
  EXPECT_EQ(style, 0x40000048u);
  EXPECT_EQ(words[8], 26);  // controls
  EXPECT_EQ(words[11], 365);
  EXPECT_EQ(words[12], 321);

  wchar_t title[64] = {};
  EXPECT_EQ(LoadStringW(module, IDS_KESTRELPROP_TITLE, title, 64), 7);
  EXPECT_STREQ(title, L"Kestrel");

  // The banner as drawn at build time: the page's own drawing at the size
  // of its control with Tahoma at 96 DPI.
  auto banner = static_cast<HBITMAP>(
      LoadImageW(module, MAKEINTRESOURCEW(IDB_KESTRELPROP_BANNER), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  ASSERT_NE(banner, nullptr);
  DIBSECTION dib = {};
  ASSERT_EQ(GetObjectW(banner, sizeof(dib), &dib), static_cast<int>(sizeof(dib)));
  EXPECT_EQ(dib.dsBm.bmWidth, 527);
  EXPECT_EQ(dib.dsBm.bmHeight, 70);
  ASSERT_EQ(dib.dsBm.bmBitsPixel, 24);
  ASSERT_GT(dib.dsBmih.biHeight, 0);  // bottom-up
  const int width = dib.dsBm.bmWidth, height = dib.dsBm.bmHeight;
  const size_t stride = dib.dsBm.bmWidthBytes;
  std::vector<uint8_t> drawn(stride * height);
  DrawBanner(width, height, drawn.data(), stride);
  const auto* bits = static_cast<const uint8_t*>(dib.dsBm.bmBits);
  for (int y = 0; y < height; ++y)
    ASSERT_EQ(memcmp(bits + (height - 1 - y) * stride, drawn.data() + y * stride, width * 3), 0) << "row " << y;
  DeleteObject(banner);
}

}  // namespace
}  // namespace kestrel::test
