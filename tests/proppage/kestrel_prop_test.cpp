// KestrelProp against a stand-in filter with exact answers: the texts and
// their formats, the groups, the two settings lists, the link and the
// colours over the banner.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include "proppage/page_resources.h"
#include "proppage/page_test_support.h"

namespace kestrel::test {
namespace {

const int kVideoIds[] = {1013, 1015, 1016, 1017, 1024, 1026, 1006, 1007, 1008, 1023, 1025, 1029, 1027, 1030, 1028};
const int kAudioIds[] = {1014, 1018, 1019, 1020, 1009, 1010, 1011};

struct FormatCase {
  double frame_rate, duration;
  ULONG sample_rate;
  const wchar_t *rate_text, *duration_text, *sample_rate_text;
};

// Frame rates and durations are cut to hundredths, never rounded up; a
// value that binary fractions leave just below a hundredth is that
// hundredth.
const FormatCase kFormatCases[] = {
    {29.97002997, 125.999, 44100, L"29.97", L"125.99 sec", L"44.100 kHz"},
    {23.976, 1.15, 22050, L"23.97", L"1.15 sec", L"22.050 kHz"},
    {30000.0 / 1001.0, 2.0, 48000, L"29.97", L"2.00 sec", L"48.000 kHz"},
    {25.0, 0.0, 8000, L"25.00", L"0.00 sec", L"8.000 kHz"},
    {59.94, 3599.994, 96000, L"59.94", L"3599.99 sec", L"96.000 kHz"},
};

TEST(KestrelPropText, VideoAndAudioFactsInTheirFormats) {
  for (const FormatCase& c : kFormatCases) {
    StubMovie movie;
    movie.video_codec = L"H.264";
    movie.width = 1920;
    movie.height = 1080;
    movie.depth = 24;
    movie.frame_rate = c.frame_rate;
    movie.frame_count = 3596;
    movie.duration = c.duration;
    movie.audio_codec = L"MPEG-4 AAC";
    movie.layout = L"Stereo (L R)";
    movie.sample_rate = c.sample_rate;
    StubFilter filter(movie);
    OpenPage open(filter.Unknown());
    page::PageControls page = open.Read();
    SCOPED_TRACE(testing::Message() << "frame rate " << c.frame_rate);
    EXPECT_EQ(page.Text(IDC_VIDEO_CODEC), L"H.264");
    EXPECT_EQ(page.Text(IDC_VIDEO_RESOLUTION), L"1920 x 1080 x 24");
    EXPECT_EQ(page.Text(IDC_VIDEO_FRAMERATE), c.rate_text);
    EXPECT_EQ(page.Text(IDC_VIDEO_FRAMECOUNT), L"3596");
    EXPECT_EQ(page.Text(IDC_VIDEO_DURATION), c.duration_text);
    EXPECT_EQ(page.Text(IDC_AUDIO_CODEC), L"MPEG-4 AAC");
    EXPECT_EQ(page.Text(IDC_AUDIO_LAYOUT), L"Stereo (L R)");
    EXPECT_EQ(page.Text(IDC_AUDIO_SAMPLERATE), c.sample_rate_text);
    EXPECT_TRUE(page.disabled.empty());
    // The template's captions stay as they are.
    EXPECT_EQ(page.Text(IDC_PRODUCT_NAME), L"Kestrel 2.2");
    EXPECT_EQ(page.Text(IDC_LINK), L"www.example.com/kestrel");
    EXPECT_EQ(page.Text(IDC_VIDEO_FRAMECOUNT_LABEL), L"Frame Count:");
    EXPECT_EQ(page.Text(IDC_AUDIO_SAMPLERATE_LABEL), L"Sample Rate:");
  }
}

TEST(KestrelPropText, TagsInReverseCatalogueOrderWithoutEmptyOnes) {
  StubMovie movie;
  movie.tags = {{L"T1", L"one"}, {L"T2", L"two"}, {L"Empty", L""}, {L"T3", L"three"}};
  StubFilter filter(movie);
  OpenPage open(filter.Unknown());
  page::PageControls page = open.Read();
  using Row = std::pair<std::wstring, std::wstring>;
  EXPECT_EQ(page.tags, (std::vector<Row>{{L"T3", L"three"}, {L"T2", L"two"}, {L"T1", L"one"}}));

  HWND list = open.Control(IDC_USERDATA);
  wchar_t text[32] = {};
  LVCOLUMNW column = {};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.pszText = text;
  column.cchTextMax = 32;
  ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, 0, reinterpret_cast<LPARAM>(&column)));
  EXPECT_STREQ(text, L"Tag");
  // 100 pixels at 96 DPI, scaled with the screen.
  EXPECT_EQ(column.cx, MulDiv(100, ScreenDpi(), 96));
  ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, 1, reinterpret_cast<LPARAM>(&column)));
  EXPECT_STREQ(text, L"Value");
  EXPECT_FALSE(SendMessageW(list, LVM_GETCOLUMNW, 2, reinterpret_cast<LPARAM>(&column)));
  EXPECT_TRUE(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT);
}

TEST(KestrelPropText, MissingFactsGreyTheirGroupAndLeaveItEmpty) {
  struct Case {
    HRESULT video_hr, audio_hr;
  };
  for (const Case& c : {Case{S_FALSE, S_OK}, Case{E_FAIL, S_OK}, Case{S_OK, S_FALSE}, Case{S_OK, E_FAIL}}) {
    StubMovie movie;
    movie.video_hr = c.video_hr;
    movie.audio_hr = c.audio_hr;
    movie.quality = Video_HighQuality;
    StubFilter filter(movie);
    OpenPage open(filter.Unknown());
    page::PageControls page = open.Read();
    SCOPED_TRACE(testing::Message() << std::hex << "video 0x" << c.video_hr << ", audio 0x" << c.audio_hr);
    const bool video = c.video_hr == S_OK, audio = c.audio_hr == S_OK;
    for (int id : kVideoIds) EXPECT_EQ(page.Disabled(id), !video) << id;
    for (int id : kAudioIds) EXPECT_EQ(page.Disabled(id), !audio) << id;
    for (int id : {1006, 1007, 1008, 1023, 1025}) EXPECT_EQ(page.Text(id).empty(), !video) << id;
    for (int id : {1009, 1010, 1011}) EXPECT_EQ(page.Text(id).empty(), !audio) << id;
    // Greyed lists keep their entries and selection.
    EXPECT_EQ(SendMessageW(open.Control(IDC_QUALITY), CB_GETCOUNT, 0, 0), 6);
    EXPECT_EQ(SendMessageW(open.Control(IDC_FIELDMODE), CB_GETCOUNT, 0, 0), 4);
    EXPECT_EQ(page.Text(IDC_QUALITY), L"High");
    EXPECT_EQ(page.Text(IDC_FIELDMODE), L"Both Fields");
  }
}

TEST(KestrelPropText, NothingLoaded) {
  StubMovie movie;
  movie.video_hr = movie.audio_hr = movie.user_data_hr = S_FALSE;
  movie.quality_hr = movie.fieldmode_hr = E_FAIL;
  StubFilter filter(movie);
  OpenPage open(filter.Unknown());
  page::PageControls page = open.Read();
  for (int id : kVideoIds) EXPECT_TRUE(page.Disabled(id)) << id;
  for (int id : kAudioIds) EXPECT_TRUE(page.Disabled(id)) << id;
  EXPECT_EQ(page.quality, -1);
  EXPECT_EQ(page.fieldmode, -1);
  EXPECT_TRUE(page.tags.empty());
  for (int id : {1006, 1007, 1008, 1023, 1025, 1009, 1010, 1011}) EXPECT_EQ(page.Text(id), L"") << id;
}

TEST(KestrelPropLists, EntriesAndTheReportedSettingsSelected) {
  struct Case {
    QT_VIDEO_QUALITY quality;
    HRESULT quality_hr;
    QT_VIDEO_FIELDMODE mode;
    HRESULT mode_hr;
    int quality_index, mode_index;
  };
  const Case cases[] = {
      {Video_LosslessQuality, S_OK, Video_FieldMode_DeinterlaceFields, S_OK, 0, 3},
      {Video_MinQuality, S_OK, Video_FieldMode_BothFields, S_OK, 5, 0},
      {Video_NormalQuality, S_OK, Video_FieldMode_BottomFieldOnly, S_OK, 3, 2},
      // A value that is no entry, and settings the filter cannot report.
      {static_cast<QT_VIDEO_QUALITY>(5), S_OK, Video_FieldMode_TopFieldOnly, E_FAIL, -1, -1},
      {Video_HighQuality, E_FAIL, Video_FieldMode_TopFieldOnly, S_OK, -1, 1},
  };
  for (const Case& c : cases) {
    StubMovie movie;
    movie.quality = c.quality;
    movie.quality_hr = c.quality_hr;
    movie.fieldmode = c.mode;
    movie.fieldmode_hr = c.mode_hr;
    StubFilter filter(movie);
    OpenPage open(filter.Unknown());
    page::PageControls page = open.Read();
    EXPECT_EQ(page.quality, c.quality_index) << c.quality;
    EXPECT_EQ(page.fieldmode, c.mode_index) << c.mode;

    const wchar_t* qualities[] = {L"Lossless", L"Max", L"High", L"Normal", L"Low", L"Min"};
    const LRESULT quality_data[] = {1024, 1023, 768, 512, 256, 0};
    for (int i = 0; i < 6; ++i) {
      wchar_t text[64] = {};
      SendMessageW(open.Control(IDC_QUALITY), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
      EXPECT_STREQ(text, qualities[i]);
      EXPECT_EQ(SendMessageW(open.Control(IDC_QUALITY), CB_GETITEMDATA, i, 0), quality_data[i]);
    }
    const wchar_t* modes[] = {L"Both Fields", L"Top Field Only", L"Bottom Field Only", L"Deinterlace Fields"};
    for (int i = 0; i < 4; ++i) {
      wchar_t text[64] = {};
      SendMessageW(open.Control(IDC_FIELDMODE), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
      EXPECT_STREQ(text, modes[i]);
      EXPECT_EQ(SendMessageW(open.Control(IDC_FIELDMODE), CB_GETITEMDATA, i, 0), i);
    }
  }
}

TEST(KestrelPropLists, PickingCallsTheSetterAtOnceAndNeverDirtiesThePage) {
  StubFilter filter;
  OpenPage open(filter.Unknown());
  // Keyboard picks, as a user makes them: the list itself reports the change.
  SendMessageW(open.Control(IDC_FIELDMODE), WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_EQ(filter.fieldmode_sets, std::vector<int>{Video_FieldMode_TopFieldOnly});
  SendMessageW(open.Control(IDC_QUALITY), WM_KEYDOWN, VK_UP, 0);
  EXPECT_EQ(filter.quality_sets, std::vector<int>{Video_HighQuality});
  SendMessageW(open.Control(IDC_QUALITY), WM_KEYDOWN, VK_HOME, 0);
  EXPECT_EQ(filter.quality_sets, (std::vector<int>{Video_HighQuality, Video_LosslessQuality}));

  const int calls = filter.calls;
  EXPECT_HR(S_FALSE, open.Page()->IsPageDirty());
  EXPECT_HR(S_OK, open.Page()->Apply());
  EXPECT_HR(S_FALSE, open.Page()->IsPageDirty());
  EXPECT_EQ(filter.calls, calls);
  EXPECT_TRUE(open.site.status_changes.empty());

  // A change notice without a selection, or from another control, sets nothing.
  SendMessageW(open.Control(IDC_FIELDMODE), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  SendMessageW(open.Window(), WM_COMMAND, MAKEWPARAM(IDC_FIELDMODE, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(open.Control(IDC_FIELDMODE)));
  SendMessageW(open.Window(), WM_COMMAND, MAKEWPARAM(IDC_QUALITY, CBN_DROPDOWN),
               reinterpret_cast<LPARAM>(open.Control(IDC_QUALITY)));
  EXPECT_EQ(filter.fieldmode_sets.size(), 1u);
  EXPECT_EQ(filter.quality_sets.size(), 2u);
}

TEST(KestrelPropLink, OnlyAClickOpensTheAddress) {
  StubFilter filter;
  OpenPage open(filter.Unknown());
  ShellRecorder shell;
  ASSERT_TRUE(shell.Installed());
  HWND link = open.Control(IDC_LINK);

  // Focus, double clicks and being disabled or enabled open nothing.
  SetFocus(link);
  SendMessageW(open.Window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(link), TRUE);
  EnableWindow(link, FALSE);
  EnableWindow(link, TRUE);
  SendMessageW(open.Window(), WM_COMMAND, MAKEWPARAM(IDC_LINK, STN_DBLCLK), reinterpret_cast<LPARAM>(link));
  PumpPending();
  EXPECT_TRUE(shell.Calls().empty());

  // A mouse click on the link where it lies over the banner.
  RECT rect;
  GetWindowRect(link, &rect);
  POINT centre = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
  SetCursorPos(centre.x, centre.y);
  INPUT clicks[2] = {};
  clicks[0].type = clicks[1].type = INPUT_MOUSE;
  clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  ASSERT_EQ(SendInput(2, clicks, sizeof(INPUT)), 2u);
  ASSERT_TRUE(PumpUntil([&] { return !shell.Calls().empty(); }));
  PumpPending();
  ASSERT_EQ(shell.Calls().size(), 1u);
  const ShellCall& call = shell.Calls()[0];
  EXPECT_EQ(call.owner, open.Window());
  EXPECT_EQ(call.verb, L"open");
  EXPECT_EQ(call.file, L"https://www.example.com/kestrel");
  EXPECT_FALSE(call.has_parameters);
  EXPECT_FALSE(call.has_directory);
  EXPECT_EQ(call.show, SW_SHOWDEFAULT);
}

TEST(KestrelPropLink, BlueUnderlinedWithAHandOverTheBanner) {
  StubFilter filter;
  OpenPage open(filter.Unknown());
  HWND link = open.Control(IDC_LINK), name = open.Control(IDC_PRODUCT_NAME);
  HDC dc = CreateCompatibleDC(nullptr);
  SetTextColor(dc, RGB(1, 2, 3));
  SetBkMode(dc, OPAQUE);
  const auto hollow = reinterpret_cast<LRESULT>(GetStockObject(HOLLOW_BRUSH));
  EXPECT_EQ(
      SendMessageW(open.Window(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(link)),
      hollow);
  EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 255));
  EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
  SetTextColor(dc, RGB(1, 2, 3));
  SetBkMode(dc, OPAQUE);
  EXPECT_EQ(
      SendMessageW(open.Window(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(name)),
      hollow);
  EXPECT_EQ(GetTextColor(dc), RGB(1, 2, 3));
  EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
  // Other statics keep the dialog's colours.
  SetBkMode(dc, OPAQUE);
  EXPECT_NE(SendMessageW(open.Window(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                         reinterpret_cast<LPARAM>(open.Control(IDC_VIDEO_CODEC))),
            hollow);
  EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_WINDOWTEXT));
  EXPECT_EQ(GetBkMode(dc), OPAQUE);
  DeleteDC(dc);

  auto link_font = reinterpret_cast<HFONT>(SendMessageW(link, WM_GETFONT, 0, 0));
  auto name_font = reinterpret_cast<HFONT>(SendMessageW(name, WM_GETFONT, 0, 0));
  auto plain_font = reinterpret_cast<HFONT>(SendMessageW(open.Control(IDC_VIDEO_CODEC), WM_GETFONT, 0, 0));
  LOGFONTW link_log = {}, name_log = {}, plain_log = {};
  ASSERT_TRUE(GetObjectW(link_font, sizeof(link_log), &link_log));
  ASSERT_TRUE(GetObjectW(name_font, sizeof(name_log), &name_log));
  ASSERT_TRUE(GetObjectW(plain_font, sizeof(plain_log), &plain_log));
  EXPECT_TRUE(link_log.lfUnderline);
  EXPECT_EQ(link_log.lfWeight, plain_log.lfWeight);
  EXPECT_EQ(name_log.lfWeight, FW_BOLD);
  EXPECT_FALSE(name_log.lfUnderline);
  EXPECT_STREQ(name_log.lfFaceName, plain_log.lfFaceName);
  EXPECT_EQ(name_log.lfHeight, plain_log.lfHeight);

  // The hand over the link only; the static class keeps its arrow.
  const auto static_cursor = GetClassLongPtrW(open.Control(IDC_VIDEO_CODEC), GCLP_HCURSOR);
  EXPECT_EQ(
      SendMessageW(open.Window(), WM_SETCURSOR, reinterpret_cast<WPARAM>(link), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
      TRUE);
  EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));
  SendMessageW(open.Window(), WM_SETCURSOR, reinterpret_cast<WPARAM>(name), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_NE(GetCursor(), LoadCursorW(nullptr, IDC_HAND));
  EXPECT_EQ(GetClassLongPtrW(link, GCLP_HCURSOR), static_cursor);

  // Deactivation deletes the two fonts the page made.
  open.Close();
  EXPECT_EQ(GetObjectType(link_font), 0u);
  EXPECT_EQ(GetObjectType(name_font), 0u);
}

}  // namespace
}  // namespace kestrel::test
