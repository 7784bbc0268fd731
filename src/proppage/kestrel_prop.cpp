#include "proppage/kestrel_prop.h"

#include <commctrl.h>
#include <oleauto.h>
#include <shellapi.h>

#include <cstdint>
#include <cwchar>
#include <new>
#include <utility>

#include "base/module.h"
#include "proppage/banner_art.h"
#include "proppage/page_resources.h"

namespace kestrel {
namespace {

struct ListEntry {
  const wchar_t* text;
  DWORD_PTR data;
};

const ListEntry kQualityEntries[] = {
    {L"Lossless", Video_LosslessQuality}, {L"Max", Video_MaxQuality}, {L"High", Video_HighQuality},
    {L"Normal", Video_NormalQuality},     {L"Low", Video_LowQuality}, {L"Min", Video_MinQuality},
};

const ListEntry kFieldModeEntries[] = {
    {L"Both Fields", Video_FieldMode_BothFields},
    {L"Top Field Only", Video_FieldMode_TopFieldOnly},
    {L"Bottom Field Only", Video_FieldMode_BottomFieldOnly},
    {L"Deinterlace Fields", Video_FieldMode_DeinterlaceFields},
};

// Enabled and disabled together; the settings lists belong to the video
// group.
const int kVideoGroup[] = {IDC_VIDEO_GROUP,
                           IDC_VIDEO_CODEC_LABEL,
                           IDC_VIDEO_RESOLUTION_LABEL,
                           IDC_VIDEO_FRAMERATE_LABEL,
                           IDC_VIDEO_FRAMECOUNT_LABEL,
                           IDC_VIDEO_DURATION_LABEL,
                           IDC_VIDEO_CODEC,
                           IDC_VIDEO_RESOLUTION,
                           IDC_VIDEO_FRAMERATE,
                           IDC_VIDEO_FRAMECOUNT,
                           IDC_VIDEO_DURATION,
                           IDC_QUALITY_LABEL,
                           IDC_QUALITY,
                           IDC_FIELDMODE_LABEL,
                           IDC_FIELDMODE};
const int kAudioGroup[] = {IDC_AUDIO_GROUP, IDC_AUDIO_CODEC_LABEL, IDC_AUDIO_LAYOUT_LABEL, IDC_AUDIO_SAMPLERATE_LABEL,
                           IDC_AUDIO_CODEC, IDC_AUDIO_LAYOUT,      IDC_AUDIO_SAMPLERATE};
// Labels, lined up on their right edge against what they name.
const int kLabels[] = {IDC_VIDEO_CODEC_LABEL,      IDC_VIDEO_RESOLUTION_LABEL, IDC_VIDEO_FRAMERATE_LABEL,
                       IDC_VIDEO_FRAMECOUNT_LABEL, IDC_VIDEO_DURATION_LABEL,   IDC_QUALITY_LABEL,
                       IDC_FIELDMODE_LABEL,        IDC_AUDIO_CODEC_LABEL,      IDC_AUDIO_LAYOUT_LABEL,
                       IDC_AUDIO_SAMPLERATE_LABEL};
const int kValueControls[] = {IDC_VIDEO_CODEC,    IDC_VIDEO_RESOLUTION, IDC_VIDEO_FRAMERATE, IDC_VIDEO_FRAMECOUNT,
                              IDC_VIDEO_DURATION, IDC_AUDIO_CODEC,      IDC_AUDIO_LAYOUT,    IDC_AUDIO_SAMPLERATE};

// An automation string received from the filter, freed at scope end.
class ScopedBstr {
 public:
  ScopedBstr() = default;
  ~ScopedBstr() { SysFreeString(m_bstr); }
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;

  BSTR* Out() { return &m_bstr; }
  const wchar_t* Text() const { return m_bstr ? m_bstr : L""; }
  bool Empty() const { return !m_bstr || !m_bstr[0]; }

 private:
  BSTR m_bstr = nullptr;
};

// v cut (not rounded) to hundredths: 23.976 gives 23.97. A value a hair
// below a hundredth, as binary fractions leave 1.15 (114.99999...), counts
// as that hundredth. Negative and NaN give 0.
double CutToHundredths(double v) {
  double hundredths = v * 100.0 + 1e-6;
  if (!(hundredths >= 0.0)) return 0.0;
  if (hundredths > 4294967295.0) hundredths = 4294967295.0;
  return static_cast<uint32_t>(hundredths) / 100.0;
}

// The Tag column's width at 96 pixels an inch.
constexpr int kTagColumnWidth = 100;

// Pixels an inch where the window is shown: the window's own where the
// system has one for each window (Windows 10 on), else the screen's.
int WindowDpi(HWND hwnd) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto get_dpi_for_window = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (get_dpi_for_window) {
    if (UINT dpi = get_dpi_for_window(hwnd)) return static_cast<int>(dpi);
  }
  int dpi = 0;
  if (HDC dc = GetDC(hwnd)) {
    dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(hwnd, dc);
  }
  return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

// A 24-bit picture of the banner width x height pixels, or null.
HBITMAP DrawBannerBitmap(int width, int height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap) return nullptr;
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
  DrawBanner(width, height, static_cast<uint8_t*>(bits), stride);
  GdiFlush();
  return bitmap;
}

void FillList(CComboBoxCtrl& list, const ListEntry* entries, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    LRESULT index = list.AddString(entries[i].text);
    if (index >= 0) list.SetItemData(static_cast<int>(index), entries[i].data);
  }
}

}  // namespace

CUnknown* WINAPI KestrelProp::CreateInstance(IUnknown* pUnkOuter, HRESULT* phr) {
  auto* page = new (std::nothrow) KestrelProp(pUnkOuter);
  if (!page && phr) *phr = E_OUTOFMEMORY;
  return page;
}

KestrelProp::KestrelProp(IUnknown* pUnkOuter)
    : CBasePropertyPage(L"Kestrel Property Page", pUnkOuter, GetModuleInstance(), IDD_KESTRELPROP,
                        IDS_KESTRELPROP_TITLE) {
  // The dialog holds a list view.
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
}

KestrelProp::~KestrelProp() {
  DeleteFonts();
  if (m_hBanner) DeleteObject(m_hBanner);
}

HRESULT KestrelProp::OnConnect(IUnknown* pUnknown) {
  ComPtr<IQTInfo> info;
  ComPtr<IQTControl> control;
  HRESULT hr = pUnknown->QueryInterface(IID_IQTInfo, info.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return hr;
  hr = pUnknown->QueryInterface(IID_IQTControl, control.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return hr;
  m_pInfo = std::move(info);
  m_pControl = std::move(control);
  return S_OK;
}

HRESULT KestrelProp::OnDisconnect() {
  if (!m_pInfo || !m_pControl) return E_UNEXPECTED;
  m_pInfo.Reset();
  m_pControl.Reset();
  return S_OK;
}

HRESULT KestrelProp::OnActivate() {
  DeleteFonts();
  m_hUnderlineFont = DeriveFont(IDC_LINK, false, true);
  m_hBoldFont = DeriveFont(IDC_PRODUCT_NAME, true, false);
  FitBanner();
  FitLabels();

  m_Quality.Attach(GetDlgItem(m_Dlg, IDC_QUALITY));
  m_FieldMode.Attach(GetDlgItem(m_Dlg, IDC_FIELDMODE));
  FillLists();

  for (int id : kValueControls) SetText(id, L"");

  m_hUserData = GetDlgItem(m_Dlg, IDC_USERDATA);
  LVCOLUMNW column = {};
  column.mask = LVCF_FMT | LVCF_TEXT;
  column.fmt = LVCFMT_LEFT;
  column.pszText = const_cast<wchar_t*>(L"Tag");
  SendMessageW(m_hUserData, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  column.pszText = const_cast<wchar_t*>(L"Value");
  SendMessageW(m_hUserData, LVM_INSERTCOLUMNW, 1, reinterpret_cast<LPARAM>(&column));
  // 100 pixels at 96 DPI, as many more as the screen's scaling asks for.
  SendMessageW(m_hUserData, LVM_SETCOLUMNWIDTH, 0,
               MulDiv(kTagColumnWidth, WindowDpi(m_hUserData), USER_DEFAULT_SCREEN_DPI));
  SendMessageW(m_hUserData, LVM_SETCOLUMNWIDTH, 1, LVSCW_AUTOSIZE_USEHEADER);
  SendMessageW(m_hUserData, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);

  ShowVideoInfo();
  ShowAudioInfo();
  ShowUserData();
  // Again once the rows are in: a vertical scroll bar they bring takes
  // room that the column would otherwise run under.
  SendMessageW(m_hUserData, LVM_SETCOLUMNWIDTH, 1, LVSCW_AUTOSIZE_USEHEADER);
  return S_OK;
}

HRESULT KestrelProp::OnDeactivate() {
  DeleteFonts();
  DropBanner();
  return S_OK;
}

INT_PTR KestrelProp::OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  switch (uMsg) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      // Only a click opens the address: the static also reports double
      // clicks and being enabled or disabled.
      if (id == IDC_LINK && code == STN_CLICKED) {
        ShellExecuteW(hwnd, L"open", KESTREL_MAKER_URL, nullptr, nullptr, SW_SHOWDEFAULT);
      } else if (code == CBN_SELCHANGE && m_pControl && (id == IDC_QUALITY || id == IDC_FIELDMODE)) {
        // The setting takes effect at once; a failure is not shown.
        CComboBoxCtrl& list = id == IDC_QUALITY ? m_Quality : m_FieldMode;
        LRESULT selected = list.GetCurSel();
        if (selected != CB_ERR) {
          auto value = static_cast<int>(list.GetItemData(static_cast<int>(selected)));
          if (id == IDC_QUALITY) {
            m_pControl->SetVideoQuality(static_cast<QT_VIDEO_QUALITY>(value));
          } else {
            m_pControl->SetVideoFieldMode(static_cast<QT_VIDEO_FIELDMODE>(value));
          }
        }
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      // The link and the product name are drawn over the banner.
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
      auto dc = reinterpret_cast<HDC>(wParam);
      if (id != IDC_LINK && id != IDC_PRODUCT_NAME) return 0;
      if (id == IDC_LINK) SetTextColor(dc, RGB(0, 0, 255));
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<INT_PTR>(GetStockObject(HOLLOW_BRUSH));
    }
    case WM_SETCURSOR:
      // The hand over the link only; the static class keeps its cursor.
      if (reinterpret_cast<HWND>(wParam) != GetDlgItem(hwnd, IDC_LINK)) return 0;
      SetCursor(LoadCursorW(nullptr, IDC_HAND));
      SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, TRUE);
      return TRUE;
    default:
      return 0;
  }
}

HFONT KestrelProp::DeriveFont(int id, bool bold, bool underline) {
  HWND control = GetDlgItem(m_Dlg, id);
  auto current = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  if (!current) current = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  LOGFONTW font = {};
  if (!GetObjectW(current, sizeof(font), &font)) return nullptr;
  if (bold) font.lfWeight = FW_BOLD;
  if (underline) font.lfUnderline = TRUE;
  HFONT derived = CreateFontIndirectW(&font);
  if (derived) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(derived), FALSE);
  return derived;
}

void KestrelProp::FitBanner() {
  DropBanner();
  // A bitmap static takes its picture's size, and the template's picture
  // has the control's size with one font at 96 DPI. The control goes back
  // to its rectangle in the template (position and size mapped each on its
  // own, as the dialog manager places controls) and gets a picture drawn
  // for that size.
  HWND control = GetDlgItem(m_Dlg, IDC_BANNER);
  RECT place = {KESTREL_BANNER_X, KESTREL_BANNER_Y, KESTREL_BANNER_WIDTH, KESTREL_BANNER_HEIGHT};
  if (!control || !MapDialogRect(m_Dlg, &place)) return;
  const int width = place.right, height = place.bottom;
  m_hBanner = DrawBannerBitmap(width, height);
  if (!m_hBanner) return;  // the template's picture stays
  SetWindowPos(control, nullptr, place.left, place.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  // The picture the control loaded from the template is the page's to delete.
  auto loaded =
      reinterpret_cast<HBITMAP>(SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(m_hBanner)));
  if (loaded && loaded != m_hBanner) DeleteObject(loaded);
}

void KestrelProp::FitLabels() {
  HDC dc = GetDC(m_Dlg);
  if (!dc) return;
  for (int id : kLabels) {
    HWND label = GetDlgItem(m_Dlg, id);
    wchar_t text[64] = {};
    const int length = GetWindowTextW(label, text, ARRAYSIZE(text));
    auto font = reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0));
    HGDIOBJ previous = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
    SIZE size = {};
    const BOOL measured = GetTextExtentPoint32W(dc, text, length, &size);
    SelectObject(dc, previous);
    RECT box;
    if (!measured || !GetWindowRect(label, &box)) continue;
    MapWindowPoints(nullptr, m_Dlg, reinterpret_cast<POINT*>(&box), 2);
    if (size.cx <= box.right - box.left) continue;
    SetWindowPos(label, nullptr, box.right - size.cx, box.top, size.cx, box.bottom - box.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ReleaseDC(m_Dlg, dc);
}

void KestrelProp::DropBanner() {
  if (!m_hBanner) return;
  if (m_Dlg) SendDlgItemMessageW(m_Dlg, IDC_BANNER, STM_SETIMAGE, IMAGE_BITMAP, 0);
  DeleteObject(m_hBanner);
  m_hBanner = nullptr;
}

void KestrelProp::FillLists() {
  FillList(m_Quality, kQualityEntries, ARRAYSIZE(kQualityEntries));
  QT_VIDEO_QUALITY quality = Video_NormalQuality;
  if (m_pControl->GetVideoQuality(&quality) == S_OK)
    m_Quality.SelectByItemData(static_cast<DWORD_PTR>(static_cast<LONG_PTR>(quality)));

  FillList(m_FieldMode, kFieldModeEntries, ARRAYSIZE(kFieldModeEntries));
  QT_VIDEO_FIELDMODE mode = Video_FieldMode_BothFields;
  if (m_pControl->GetVideoFieldMode(&mode) == S_OK)
    m_FieldMode.SelectByItemData(static_cast<DWORD_PTR>(static_cast<LONG_PTR>(mode)));
}

void KestrelProp::ShowVideoInfo() {
  ScopedBstr codec;
  ULONG width = 0, height = 0, depth = 0, frames = 0;
  double rate = 0.0, duration = 0.0;
  if (m_pInfo->GetVideoInfo(codec.Out(), &width, &height, &depth, &rate, &frames, &duration) != S_OK) {
    EnableGroup(kVideoGroup, ARRAYSIZE(kVideoGroup), FALSE);
    return;
  }
  EnableGroup(kVideoGroup, ARRAYSIZE(kVideoGroup), TRUE);
  wchar_t text[64];
  SetText(IDC_VIDEO_CODEC, codec.Text());
  swprintf(text, ARRAYSIZE(text), L"%d x %d x %d", static_cast<int>(width), static_cast<int>(height),
           static_cast<int>(depth));
  SetText(IDC_VIDEO_RESOLUTION, text);
  swprintf(text, ARRAYSIZE(text), L"%.2f", CutToHundredths(rate));
  SetText(IDC_VIDEO_FRAMERATE, text);
  swprintf(text, ARRAYSIZE(text), L"%d", static_cast<int>(frames));
  SetText(IDC_VIDEO_FRAMECOUNT, text);
  swprintf(text, ARRAYSIZE(text), L"%.2f sec", CutToHundredths(duration));
  SetText(IDC_VIDEO_DURATION, text);
}

void KestrelProp::ShowAudioInfo() {
  ScopedBstr codec, layout;
  ULONG rate = 0;
  if (m_pInfo->GetAudioInfo(codec.Out(), layout.Out(), &rate) != S_OK) {
    EnableGroup(kAudioGroup, ARRAYSIZE(kAudioGroup), FALSE);
    return;
  }
  EnableGroup(kAudioGroup, ARRAYSIZE(kAudioGroup), TRUE);
  SetText(IDC_AUDIO_CODEC, codec.Text());
  SetText(IDC_AUDIO_LAYOUT, layout.Text());
  wchar_t text[64];
  swprintf(text, ARRAYSIZE(text), L"%.03f kHz", static_cast<double>(static_cast<float>(rate / 1000.0)));
  SetText(IDC_AUDIO_SAMPLERATE, text);
}

void KestrelProp::ShowUserData() {
  ULONG count = 0;
  if (m_pInfo->GetUserDataCount(&count) != S_OK) return;
  for (ULONG i = 0; i < count; ++i) {
    ScopedBstr name, value;
    if (FAILED(m_pInfo->GetUserDataName(i, name.Out())) || FAILED(m_pInfo->GetUserDataValue(i, value.Out())) ||
        value.Empty())
      continue;
    // Each row goes on top: the list shows the catalogue in reverse.
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = 0;
    item.pszText = const_cast<wchar_t*>(name.Text());
    auto row = static_cast<int>(SendMessageW(m_hUserData, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (row < 0) continue;
    item.iSubItem = 1;
    item.pszText = const_cast<wchar_t*>(value.Text());
    SendMessageW(m_hUserData, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  }
}

void KestrelProp::EnableGroup(const int* ids, size_t count, BOOL enable) {
  for (size_t i = 0; i < count; ++i) EnableWindow(GetDlgItem(m_Dlg, ids[i]), enable);
}

void KestrelProp::SetText(int id, const wchar_t* text) { SetDlgItemTextW(m_Dlg, id, text); }

void KestrelProp::DeleteFonts() {
  if (m_hBoldFont) DeleteObject(m_hBoldFont);
  if (m_hUnderlineFont) DeleteObject(m_hUnderlineFont);
  m_hBoldFont = m_hUnderlineFont = nullptr;
}

}  // namespace kestrel
