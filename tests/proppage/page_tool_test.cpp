// kestrel-page: the page in a real property frame, read back as JSON and
// photographed. The screenshots stay in the build tree's page-shots folder
// for a person to look at.
#include <windows.h>

#include <gtest/gtest.h>
#include <wincodec.h>

#include <cstdlib>
#include <string>

#include "framework/com_ptr.h"
#include "framework/framework_test_util.h"
#include "support/test_env.h"

namespace kestrel::test {
namespace {

std::string ShotPath(const std::string& name) {
  const char* bin = getenv("KESTREL_BIN");
  std::string dir = WindowsPathOf(std::string(bin ? bin : ".") + "/../page-shots");
  CreateDirectoryA(dir.c_str(), nullptr);
  std::string path = dir + "\\" + name;
  DeleteFileA(path.c_str());
  return path;
}

struct Shot {
  UINT width = 0, height = 0;
  std::vector<BYTE> bgr;  // rows of 24-bit pixels

  bool Has(BYTE r, BYTE g, BYTE b) const {
    for (size_t i = 0; i + 2 < bgr.size(); i += 3)
      if (bgr[i] == b && bgr[i + 1] == g && bgr[i + 2] == r) return true;
    return false;
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
  // The frame around the page, within the 800 x 650 screen.
  EXPECT_GT(shot.width, 600u);
  EXPECT_GT(shot.height, 550u);
  EXPECT_LE(shot.width, 800u);
  EXPECT_LE(shot.height, 650u);
  EXPECT_TRUE(shot.Has(0xF6, 0xB2, 0x74)) << "the banner's sun";
  EXPECT_TRUE(shot.Has(0x3D, 0x2A, 0x20)) << "the banner's bird";
  EXPECT_TRUE(shot.Has(0, 0, 255)) << "the link";
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
  ExpectPageTool("page_av.mov", "page_av.png",
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
      "md_itunes.m4a", "page_audio.png",
      {"\"1006\": \"\"", "\"1007\": \"\"", "\"1008\": \"\"", "\"1023\": \"\"", "\"1025\": \"\"",
       "\"1011\": \"44.100 kHz\"",
       "\"disabled\": [1006, 1007, 1008, 1013, 1015, 1016, 1017, 1023, 1024, 1025, 1026, 1027, 1028, 1029, 1030]",
       "[\"Album\", \"Song Album\"]]"});
}

TEST(PageTool, NothingLoaded) {
  ExpectPageTool("", "page_none.png",
                 {"\"1009\": \"\"", "\"quality\": -1", "\"fieldmode\": -1", "\"tags\": []",
                  "\"disabled\": [1006, 1007, 1008, 1009, 1010, 1011, 1013, 1014, 1015, 1016, 1017, "
                  "1018, 1019, 1020, 1023, 1024, 1025, 1026, 1027, 1028, 1029, 1030]"});
}

TEST(PageTool, ReportsWhatFails) {
  unsigned long status = 0;
  std::string errors;
  RunTool("page", "\"" + FixturePath("not_a_movie.mov") + "\" --shot \"" + ShotPath("never.png") + "\"", &status,
          &errors);
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
