// Quality and field mode: the registry values apply at every new decoder,
// the setters to the decoder of the moment, and both change the pictures of
// an interlaced H.264 movie (320 x 480, two fields woven in each frame):
// normal quality converts as `ffmpeg -sws_flags neighbor`, high quality as
// ffmpeg's default.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/test_env.h"
#include "video/movie_session.h"
#include "video/video_oracle.h"

namespace kestrel::test {
namespace {

const wchar_t kKey[] = L"SOFTWARE\\Corvane\\Kestrel";

class Settings : public testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      RegDeleteValueW(key, L"quality");
      RegDeleteValueW(key, L"fieldmode");
      RegCloseKey(key);
    }
  }
  static void Write(const wchar_t* name, DWORD value) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  static void WriteText(const wchar_t* name, const wchar_t* text) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  static void ExpectSettings(MovieSession& s, int32_t quality, int32_t field_mode) {
    int32_t q = -1, f = -1;
    EXPECT_EQ(s.GetDecodeAccuracy(&q), S_OK);
    EXPECT_EQ(s.GetFieldMode(&f), S_OK);
    EXPECT_EQ(q, quality);
    EXPECT_EQ(f, field_mode);
  }
  // Frames from the start, rows kept.
  static std::vector<std::vector<uint8_t>> Frames(MovieSession& s, size_t count) {
    s.SeekTo(0);
    std::vector<std::vector<uint8_t>> frames;
    for (size_t i = 0; i < count; ++i) {
      std::vector<uint8_t> f(640 * 480);
      if (s.ProduceFrame(f.data(), f.size(), nullptr, nullptr) != S_OK) break;
      frames.push_back(std::move(f));
    }
    return frames;
  }
  static bool LineDoubled(const std::vector<uint8_t>& f) {
    for (int y = 0; y + 1 < 480; y += 2)
      if (memcmp(&f[y * 640], &f[(y + 1) * 640], 640) != 0) return false;
    return true;
  }
};

TEST_F(Settings, RegistryValuesApplyAtEveryNewDecoder) {
  Expected e = LoadExpected("interlaced.mov", "uyvy422");
  MovieSession s;
  ASSERT_EQ(s.Open(FixturePath("interlaced.mov").c_str()), S_OK);
  ASSERT_EQ(s.CreateDecoder(0x32767579), S_OK);
  ExpectSettings(s, 512, 0);
  auto normal = Frames(s, e.md5.size());
  ASSERT_EQ(normal.size(), e.md5.size());
  for (size_t i = 0; i < normal.size(); ++i) EXPECT_EQ(PictureMd5(normal[i].data(), 320, 480, 2, 640, false), e.md5[i]);
  EXPECT_FALSE(LineDoubled(normal[0]));

  Write(L"quality", 256);
  Write(L"fieldmode", 1);
  ASSERT_EQ(s.CreateDecoder(0x32767579), S_OK);
  ExpectSettings(s, 256, 1);
  auto changed = Frames(s, e.md5.size());
  ASSERT_EQ(changed.size(), e.md5.size());
  for (auto& f : changed) EXPECT_TRUE(LineDoubled(f));

  // Low quality alone (the loop filter skipped) changes pictures too.
  Write(L"fieldmode", 0);
  ASSERT_EQ(s.CreateDecoder(0x32767579), S_OK);
  ExpectSettings(s, 256, 0);
  auto low = Frames(s, e.md5.size());
  int differ = 0;
  for (size_t i = 0; i < low.size(); ++i) differ += PictureMd5(low[i].data(), 320, 480, 2, 640, false) != e.md5[i];
  EXPECT_GT(differ, 0);

  // High quality: ffmpeg's default (interpolating) conversion.
  Write(L"quality", 768);
  ASSERT_EQ(s.CreateDecoder(0x32767579), S_OK);
  ExpectSettings(s, 768, 0);
  Expected hq = LoadExpected("interlaced.mov", "uyvy422.hq");
  auto high = Frames(s, hq.md5.size());
  ASSERT_EQ(high.size(), hq.md5.size());
  for (size_t i = 0; i < high.size(); ++i) EXPECT_EQ(PictureMd5(high[i].data(), 320, 480, 2, 640, false), hq.md5[i]);

  // Values gone or unreadable: the defaults.
  Clear();
  WriteText(L"quality", L"768");
  ASSERT_EQ(s.CreateDecoder(0x32767579), S_OK);
  ExpectSettings(s, 512, 0);
}

TEST_F(Settings, SettersChangeTheCurrentDecoderOnly) {
  MovieSession s;
  ASSERT_EQ(s.Open(FixturePath("interlaced.mov").c_str()), S_OK);
  int32_t value = 0;
  EXPECT_EQ(s.SetDecodeAccuracy(256), E_FAIL);  // no decoder
  EXPECT_EQ(s.SetFieldMode(1), E_FAIL);
  EXPECT_EQ(s.GetDecodeAccuracy(&value), E_FAIL);
  EXPECT_EQ(s.GetFieldMode(&value), E_FAIL);
  EXPECT_EQ(s.GetDecodeAccuracy(nullptr), E_POINTER);
  EXPECT_EQ(s.GetFieldMode(nullptr), E_POINTER);

  ASSERT_EQ(s.CreateDecoder(0x32767579), S_OK);
  auto both = Frames(s, 3);
  EXPECT_EQ(s.SetFieldMode(2), S_OK);
  EXPECT_EQ(s.SetDecodeAccuracy(1024), S_OK);
  ExpectSettings(s, 1024, 2);
  auto bottom = Frames(s, 3);
  ASSERT_EQ(bottom.size(), 3u);
  EXPECT_TRUE(LineDoubled(bottom[1]));
  EXPECT_NE(bottom[1], both[1]);
  EXPECT_EQ(s.SetFieldMode(3), S_OK);
  auto deinterlaced = Frames(s, 3);
  ASSERT_EQ(deinterlaced.size(), 3u);
  EXPECT_NE(deinterlaced[1], both[1]);
  EXPECT_FALSE(LineDoubled(deinterlaced[1]));
  EXPECT_EQ(s.SetFieldMode(7), E_FAIL);  // not a field mode

  // A new decoder starts again from the registry.
  ASSERT_EQ(s.CreateDecoder(0x32767579), S_OK);
  ExpectSettings(s, 512, 0);
}

}  // namespace
}  // namespace kestrel::test
