// The page's layout at the screen's scaling and with its fonts, checked
// against the dialog itself rather than the pixels of one font: every
// control inside the dialog and its group, every text whole in its control,
// the banner drawn for its control's size, the Tag column scaled with the
// screen. The same tests run at 96, 144 and 192 DPI.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "proppage/banner_art.h"
#include "proppage/page_resources.h"
#include "proppage/page_test_support.h"

namespace kestrel::test {
namespace {

using Row = std::pair<std::wstring, std::wstring>;

const int kVideoGroup[] = {1015, 1016, 1017, 1024, 1026, 1006, 1007, 1008, 1023, 1025, 1029, 1027, 1030, 1028};
const int kAudioGroup[] = {1018, 1019, 1020, 1009, 1010, 1011};
const int kOverBanner[] = {IDC_PRODUCT_NAME, IDC_LINK};

// The catalogue's names. "Special Playback Requirements" is left out: no
// column of 100 pixels at 96 DPI holds it in the dialog's font.
const wchar_t* const kTagNames[] = {
    L"Album",     L"Artist",          L"Author",          L"Chapter",         L"Comment",    L"Composer",
    L"Copyright", L"Creation Date",   L"Description",     L"Director",        L"Disclaimer", L"Encoded By",
    L"Full Name", L"Genre",           L"Host Computer",   L"Information",     L"Keywords",   L"Make",
    L"Model",     L"Original Artist", L"Original Format", L"Original Source", L"Performers", L"Producer",
    L"Product",   L"Software",        L"Track",           L"Warning",         L"Writer",     L"URL Link"};

// The longest texts the page shows for real movies.
StubMovie LongTexts() {
  StubMovie movie;
  movie.video_codec = L"Photo - JPEG";
  movie.width = 1920;
  movie.height = 1080;
  movie.depth = 24;
  movie.frame_rate = 29.97002997;
  movie.frame_count = 107892;
  movie.duration = 3599.994;
  movie.audio_codec = L"MPEG-4 Low Complexity AAC";
  movie.layout = L"5.1 (L R C LFE Ls Rs)";
  movie.sample_rate = 44100;
  movie.quality = Video_LosslessQuality;
  movie.fieldmode = Video_FieldMode_DeinterlaceFields;
  for (const wchar_t* name : kTagNames) movie.tags.emplace_back(name, L"Hovering over the ridge at dusk");
  return movie;
}

// Where a control lies in the page's client area.
RECT PlaceIn(HWND page, HWND control) {
  RECT rect = {};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

std::string Text(const RECT& r) {
  return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ")-(" + std::to_string(r.right) + ", " +
         std::to_string(r.bottom) + ")";
}

std::vector<HWND> Controls(HWND page) {
  std::vector<HWND> controls;
  for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) controls.push_back(child);
  return controls;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

std::wstring WindowText(HWND hwnd) {
  wchar_t text[256] = {};
  GetWindowTextW(hwnd, text, 256);
  return text;
}

// The size of text in the control's font.
SIZE TextExtent(HWND control, const std::wstring& text) {
  SIZE size = {};
  HDC dc = GetDC(control);
  auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  HGDIOBJ old = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return size;
}

// The width a column of the list needs to show text whole: a report list
// of the same font holding text alone, sized to it by the control itself.
int NeededColumnWidth(HWND list, const std::wstring& text) {
  HWND scratch = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | LVS_REPORT, 0, 0, 200, 100, PageHost(), nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
  if (!scratch) return -1;
  SendMessageW(scratch, WM_SETFONT, SendMessageW(list, WM_GETFONT, 0, 0), FALSE);
  LVCOLUMNW column = {};
  column.mask = LVCF_TEXT;
  column.pszText = const_cast<wchar_t*>(L"");
  SendMessageW(scratch, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  LVITEMW item = {};
  item.mask = LVIF_TEXT;
  item.pszText = const_cast<wchar_t*>(text.c_str());
  SendMessageW(scratch, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  SendMessageW(scratch, LVM_SETCOLUMNWIDTH, 0, LVSCW_AUTOSIZE);
  const auto width = static_cast<int>(SendMessageW(scratch, LVM_GETCOLUMNWIDTH, 0, 0));
  DestroyWindow(scratch);
  return width;
}

void ExpectControlsInside(HWND page) {
  RECT client;
  GetClientRect(page, &client);
  for (HWND control : Controls(page)) {
    const RECT at = PlaceIn(page, control);
    EXPECT_TRUE(Inside(at, client)) << GetDlgCtrlID(control) << " at " << Text(at) << " out of " << Text(client);
  }
  const struct {
    int box;
    const int* ids;
    size_t count;
  } groups[] = {{IDC_VIDEO_GROUP, kVideoGroup, std::size(kVideoGroup)},
                {IDC_AUDIO_GROUP, kAudioGroup, std::size(kAudioGroup)},
                {IDC_BANNER, kOverBanner, std::size(kOverBanner)}};
  for (const auto& group : groups) {
    const RECT box = PlaceIn(page, GetDlgItem(page, group.box));
    for (size_t i = 0; i < group.count; ++i) {
      const RECT at = PlaceIn(page, GetDlgItem(page, group.ids[i]));
      EXPECT_TRUE(Inside(at, box)) << group.ids[i] << " at " << Text(at) << " out of " << group.box << " at "
                                   << Text(box);
    }
  }
}

// No two controls share pixels, but for those that hold others: the group
// boxes, and the banner under the product name and the link.
void ExpectNoOverlaps(HWND page) {
  const std::vector<HWND> controls = Controls(page);
  auto holds_others = [](int id) { return id == IDC_VIDEO_GROUP || id == IDC_AUDIO_GROUP || id == IDC_BANNER; };
  for (size_t i = 0; i < controls.size(); ++i) {
    const int a = GetDlgCtrlID(controls[i]);
    if (holds_others(a)) continue;
    for (size_t j = i + 1; j < controls.size(); ++j) {
      const int b = GetDlgCtrlID(controls[j]);
      if (holds_others(b)) continue;
      RECT common;
      const RECT ra = PlaceIn(page, controls[i]), rb = PlaceIn(page, controls[j]);
      EXPECT_FALSE(IntersectRect(&common, &ra, &rb)) << a << " at " << Text(ra) << " and " << b << " at " << Text(rb);
    }
  }
}

// Statics and group boxes against their client area, the lists' entries
// against the part of the list that shows them, the user-data rows against
// their columns.
void ExpectTextsFit(HWND page) {
  int texts = 0;
  for (HWND control : Controls(page)) {
    const int id = GetDlgCtrlID(control);
    const std::wstring kind = ClassOf(control);
    RECT client;
    GetClientRect(control, &client);
    const auto type = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE)) & SS_TYPEMASK;
    if ((_wcsicmp(kind.c_str(), L"Static") == 0 && type != SS_BITMAP) || _wcsicmp(kind.c_str(), L"Button") == 0) {
      const std::wstring text = WindowText(control);
      if (text.empty()) continue;
      const SIZE size = TextExtent(control, text);
      EXPECT_LE(size.cx, client.right) << id << " \"" << testing::PrintToString(text) << "\"";
      EXPECT_LE(size.cy, client.bottom) << id << " \"" << testing::PrintToString(text) << "\"";
      ++texts;
    } else if (_wcsicmp(kind.c_str(), L"ComboBox") == 0) {
      COMBOBOXINFO info = {sizeof(info)};
      ASSERT_TRUE(GetComboBoxInfo(control, &info)) << id;
      const auto count = static_cast<int>(SendMessageW(control, CB_GETCOUNT, 0, 0));
      EXPECT_GT(count, 0) << id;
      for (int i = 0; i < count; ++i) {
        wchar_t text[64] = {};
        SendMessageW(control, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        EXPECT_LE(TextExtent(control, text).cx, info.rcItem.right - info.rcItem.left) << id << " " << text;
        ++texts;
      }
    }
  }
  EXPECT_GE(texts, 24);

  HWND list = GetDlgItem(page, IDC_USERDATA);
  const auto tag_width = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));
  const auto value_width = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, 1, 0));
  EXPECT_LE(NeededColumnWidth(list, L"Tag"), tag_width);
  EXPECT_LE(NeededColumnWidth(list, L"Value"), value_width);
  const page::PageControls read = page::ReadPageControls(page);
  for (const Row& row : read.tags) {
    EXPECT_LE(NeededColumnWidth(list, row.first), tag_width) << testing::PrintToString(row.first);
    EXPECT_LE(NeededColumnWidth(list, row.second), value_width) << testing::PrintToString(row.second);
  }
  // Both columns inside the list.
  RECT client;
  GetClientRect(list, &client);
  EXPECT_LE(tag_width + value_width, client.right);
}

// The colour as 0xRRGGBB at x, y of 24-bit rows stride bytes apart.
uint32_t ColourAt(const uint8_t* rows, size_t stride, int x, int y) {
  const uint8_t* p = rows + y * stride + x * 3;
  return (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

TEST(PageLayout, ControlsInsideTheDialogAndTheirGroupsApart) {
  StubFilter filter(LongTexts());
  OpenPage open(filter.Unknown());
  ExpectControlsInside(open.Window());
  ExpectNoOverlaps(open.Window());
  // The page takes no more room than it asked the frame for.
  PROPPAGEINFO info = {};
  ASSERT_HR(S_OK, open.Page()->GetPageInfo(&info));
  CoTaskMemFree(info.pszTitle);
  RECT client;
  GetClientRect(open.Window(), &client);
  EXPECT_LE(client.right, info.size.cx);
  EXPECT_LE(client.bottom, info.size.cy);
}

TEST(PageLayout, EveryTextWholeInItsControl) {
  StubFilter filter(LongTexts());
  OpenPage open(filter.Unknown());
  ExpectTextsFit(open.Window());
  // Greyed groups keep their captions whole too.
  StubMovie nothing;
  nothing.video_hr = nothing.audio_hr = nothing.user_data_hr = S_FALSE;
  StubFilter empty(nothing);
  open.Close();
  OpenPage closed(empty.Unknown());
  ExpectTextsFit(closed.Window());
}

TEST(PageLayout, BannerDrawnForItsControl) {
  StubFilter filter;
  OpenPage open(filter.Unknown());
  HWND banner = open.Control(IDC_BANNER);
  // The template's rectangle, its position and size each mapped as the
  // dialog manager maps a control's.
  RECT place = {KESTREL_BANNER_X, KESTREL_BANNER_Y, KESTREL_BANNER_WIDTH, KESTREL_BANNER_HEIGHT};
  ASSERT_TRUE(MapDialogRect(open.Window(), &place));
  const RECT at = PlaceIn(open.Window(), banner);
  EXPECT_EQ(at.left, place.left);
  EXPECT_EQ(at.top, place.top);
  EXPECT_EQ(at.right - at.left, place.right);
  EXPECT_EQ(at.bottom - at.top, place.bottom);
  RECT client;
  GetClientRect(banner, &client);

  auto picture = reinterpret_cast<HBITMAP>(SendMessageW(banner, STM_GETIMAGE, IMAGE_BITMAP, 0));
  ASSERT_NE(picture, nullptr);
  DIBSECTION dib = {};
  ASSERT_EQ(GetObjectW(picture, sizeof(dib), &dib), static_cast<int>(sizeof(dib)));
  const int width = dib.dsBm.bmWidth, height = dib.dsBm.bmHeight;
  EXPECT_EQ(width, client.right);
  EXPECT_EQ(height, client.bottom);
  ASSERT_EQ(dib.dsBm.bmBitsPixel, 24);

  // Drawn for this size, not a picture of another size stretched (the
  // page makes it top row first).
  const auto* shown = static_cast<const uint8_t*>(dib.dsBm.bmBits);
  const size_t stride = dib.dsBm.bmWidthBytes;
  std::vector<uint8_t> drawn(stride * height);
  DrawBanner(width, height, drawn.data(), stride);
  for (int y = 0; y < height; ++y)
    ASSERT_EQ(memcmp(shown + y * stride, drawn.data() + y * stride, width * 3), 0) << "row " << y;
  // Its frame runs along every edge of the control.
  const int frame = BannerFrameThickness(height);
  for (int x = 0; x < width; ++x)
    for (int y : {0, frame - 1, height - frame, height - 1})
      ASSERT_EQ(ColourAt(shown, stride, x, y), kBannerFrameColour) << x << ", " << y;
  for (int y = 0; y < height; ++y)
    for (int x : {0, frame - 1, width - frame, width - 1})
      ASSERT_EQ(ColourAt(shown, stride, x, y), kBannerFrameColour) << x << ", " << y;
  EXPECT_NE(ColourAt(shown, stride, frame, frame), kBannerFrameColour);

  RECT page;
  GetClientRect(open.Window(), &page);
  printf("At %d DPI: page %ld x %ld pixels, banner %d x %d, Tag column %d\n", ScreenDpi(), page.right, page.bottom,
         width, height, static_cast<int>(SendMessageW(open.Control(IDC_USERDATA), LVM_GETCOLUMNWIDTH, 0, 0)));

  // Deactivation lets go of the picture.
  open.Close();
  EXPECT_EQ(GetObjectType(picture), 0u);
}

TEST(PageLayout, TagColumnScaledWithTheScreen) {
  StubFilter filter(LongTexts());
  OpenPage open(filter.Unknown());
  HWND list = open.Control(IDC_USERDATA);
  EXPECT_EQ(SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0), MulDiv(100, ScreenDpi(), 96));
  EXPECT_EQ(open.Read().tags.size(), std::size(kTagNames));
}

}  // namespace
}  // namespace kestrel::test
