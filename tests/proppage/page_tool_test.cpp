// kestrel-page: the page in a real property frame, read back as JSON and
// photographed, the shot checked against the page as this process lays it
// out. The screenshots stay in the build tree's page-shots folder, one for
// each scaling, for a person to look at.
#include <windows.h>

#include <gtest/gtest.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/com_ptr.h"
#include "framework/framework_test_util.h"
#include "proppage/banner_art.h"
#include "proppage/page_resources.h"
#include "proppage/page_test_support.h"
#include "support/test_env.h"

namespace kestrel::test {
namespace {

// The screenshot's path, named with the scaling: page_av_192dpi.png.
std::string ShotPath(const std::string& name) {
  const char* bin = getenv("KESTREL_BIN");
  std::string dir = WindowsPathOf(std::string(bin ? bin : ".") + "/../page-shots");
  CreateDirectoryA(dir.c_str(), nullptr);
  std::string path = dir + "\\" + name + "_" + std::to_string(ScreenDpi()) + "dpi.png";
  DeleteFileA(path.c_str());
  return path;
}

// The page as this process lays it out at the same scaling and fonts: its
// size in the frame and its banner's width.
struct PageSize {
  LONG width = 0, height = 0, banner = 0;
};
PageSize MeasurePage() {
  StubFilter filter;
  OpenPage open(filter.Unknown());
  RECT page = {}, banner = {};
  GetWindowRect(open.Window(), &page);
  GetWindowRect(open.Control(IDC_BANNER), &banner);
  return {page.right - page.left, page.bottom - page.top, banner.right - banner.left};
}

struct Shot {
  UINT width = 0, height = 0;
  std::vector<BYTE> bgr;  // rows of 24-bit pixels

  bool Has(uint32_t rgb) const { return LongestRun(rgb) > 0; }

  // The most pixels of colour rgb one after another in a row.
  UINT LongestRun(uint32_t rgb) const {
    const BYTE r = static_cast<BYTE>(rgb >> 16), g = static_cast<BYTE>(rgb >> 8), b = static_cast<BYTE>(rgb);
    UINT longest = 0;
    for (UINT y = 0; y < height; ++y) {
      UINT run = 0;
      for (UINT x = 0; x < width; ++x) {
        const BYTE* p = bgr.data() + (static_cast<size_t>(y) * width + x) * 3;
        run = p[0] == b && p[1] == g && p[2] == r ? run + 1 : 0;
        longest = std::max(longest, run);
      }
    }
    return longest;
  }
};

// The PNG decoded through the imaging component.
HRESULT ReadShot(const std::string& path, Shot* shot) {
  ComPtr<IWICImagingFactory> factory;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                factory.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return hr;
  std::wstring wide(path.begin(), path.end());
  ComPtr<IWICBitmapDecoder> decoder;
  hr = factory->CreateDecoderFromFilename(wide.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                          decoder.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  GUID container = {};
  if (FAILED(hr = decoder->GetContainerFormat(&container))) return hr;
  if (container != GUID_ContainerFormatPng) return E_FAIL;
  ComPtr<IWICBitmapFrameDecode> frame;
  if (FAILED(hr = decoder->GetFrame(0, frame.ReleaseAndGetAddressOf()))) return hr;
  if (FAILED(hr = frame->GetSize(&shot->width, &shot->height))) return hr;
  WICPixelFormatGUID format = {};
  if (FAILED(hr = frame->GetPixelFormat(&format))) return hr;
  if (format != GUID_WICPixelFormat24bppBGR) return E_FAIL;
  shot->bgr.resize(static_cast<size_t>(shot->width) * shot->height * 3);
  return frame->CopyPixels(nullptr, shot->width * 3, static_cast<UINT>(shot->bgr.size()), shot->bgr.data());
}

void ExpectShotOfThePage(const std::string& path) {
  Shot shot;
  ASSERT_HR(S_OK, ReadShot(path, &shot));
  // The frame round the page, on the screen.
  const PageSize page = MeasurePage();
  EXPECT_GE(shot.width, static_cast<UINT>(page.width));
  EXPECT_GE(shot.height, static_cast<UINT>(page.height));
  EXPECT_LE(shot.width, static_cast<UINT>(GetSystemMetrics(SM_CXSCREEN)));
  EXPECT_LE(shot.height, static_cast<UINT>(GetSystemMetrics(SM_CYSCREEN)));
  // The banner whole: its frame's top edge as wide as its control.
  EXPECT_EQ(shot.LongestRun(kBannerFrameColour), static_cast<UINT>(page.banner));
  EXPECT_TRUE(shot.Has(kBannerSunColour)) << "the banner's sun";
  EXPECT_TRUE(shot.Has(kBannerWingColour)) << "the banner's bird";
  EXPECT_TRUE(shot.Has(0x0000FF)) << "the link";
}

// Runs kestrel-page on a fixture (none: nothing loaded) with a screenshot
// named shot_name, and checks that its JSON holds every part and that the
// shot shows the page.
void ExpectPageTool(const std::string& fixture, const std::string& shot_name,
                    std::initializer_list<const char*> parts) {
  const std::string shot = ShotPath(shot_name);
  const std::string file = fixture.empty() ? "" : "\"" + FixturePath(fixture) + "\" ";
  unsigned long status = 1;
  std::string out = RunTool("page", file + "--shot \"" + shot + "\"", &status);
  ASSERT_EQ(status, 0u) << out;
  for (const char* part : parts) EXPECT_NE(out.find(part), std::string::npos) << part << "\n" << out;
  ExpectShotOfThePage(shot);
}

TEST(PageTool, VideoSoundAndTags) {
  ExpectPageTool("page_av.mov", "page_av",
                 {"\"1002\": \"\"", "\"1003\": \"www.example.com/kestrel\"", "\"1006\": \"Lavc mjpeg\"",
                  "\"1007\": \"320 x 240 x 24\"", "\"1008\": \"29.97\"", "\"1023\": \"60\"", "\"1025\": \"2.00 sec\"",
                  "\"1009\": \"MPEG-4 Low Complexity AAC\"", "\"1010\": \"Stereo (L R)\"", "\"1011\": \"48.000 kHz\"",
                  "\"1021\": \"Kestrel 2.2\"", "\"quality\": -1", "\"fieldmode\": -1", "\"disabled\": []",
                  "\"tags\": [[\"Full Name\", \"Kestrel at Dusk\"], [\"Description\", \"Hovering over the ridge\"], "
                  "[\"Copyright\", \"(c) 2026 Corvane\"], [\"Comment\", \"Hovering over the ridge\"], "
                  "[\"Artist\", \"Corvane Field Unit\"]]"});
}

TEST(PageTool, AudioOnlyMovie) {
  ExpectPageTool(
      "md_itunes.m4a", "page_audio",
      {"\"1006\": \"\"", "\"1007\": \"\"", "\"1008\": \"\"", "\"1023\": \"\"", "\"1025\": \"\"",
       "\"1011\": \"44.100 kHz\"",
       "\"disabled\": [1006, 1007, 1008, 1013, 1015, 1016, 1017, 1023, 1024, 1025, 1026, 1027, 1028, 1029, 1030]",
       "[\"Album\", \"Song Album\"]]"});
}

TEST(PageTool, NothingLoaded) {
  ExpectPageTool("", "page_none",
                 {"\"1009\": \"\"", "\"quality\": -1", "\"fieldmode\": -1", "\"tags\": []",
                  "\"disabled\": [1006, 1007, 1008, 1009, 1010, 1011, 1013, 1014, 1015, 1016, 1017, "
                  "1018, 1019, 1020, 1023, 1024, 1025, 1026, 1027, 1028, 1029, 1030]"});
}

TEST(PageTool, ReportsWhatFails) {
  unsigned long status = 0;
  std::string errors;
  RunTool("page", "\"" + FixturePath("not_a_movie.mov") + "\" --shot \"" + ShotPath("never") + "\"", &status, &errors);
  EXPECT_EQ(status, 1u);
  // One line says why the file does not load.
  EXPECT_NE(errors.find("kestrel-page: It is not a movie of a kind Kestrel opens: by its first bytes, text."),
            std::string::npos)
      << errors;
  RunTool("page", "--shot", &status);
  EXPECT_EQ(status, 2u);
  RunTool("page", "a.mov b.mov", &status);
  EXPECT_EQ(status, 2u);
}

}  // namespace
}  // namespace kestrel::test
