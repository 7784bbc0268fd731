// The diagnostics log, byte for byte.
#include "base/log.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/test_env.h"

namespace {

std::string LogBytes() {
  std::string path;
  for (const wchar_t* p = GetLogPath(); *p; ++p) path += static_cast<char>(*p);
  return kestrel::test::ReadFileBytes(path);
}

TEST(Log, RecordsAreTimeStampedLinesEachAfterALineBreak) {
  ASSERT_EQ(ResetLog(), 1);
  EXPECT_EQ(LogBytes(), "");
  EXPECT_EQ(WriteLog(L"Loading file: %s", L"C:\\clip.mov"), 1);
  EXPECT_EQ(WriteLog(L""), 1);
  EXPECT_EQ(WriteLog(L"Duration: %I64d, %d frames, 0x%x", 123456789012LL, 250, 255), 1);
  std::string bytes = LogBytes();
  std::regex expected(
      "\r\n[0-2][0-9]:[0-5][0-9]:[0-5][0-9] - Loading file: C:\\\\clip.mov"
      "\r\n[0-2][0-9]:[0-5][0-9]:[0-5][0-9] - "
      "\r\n[0-2][0-9]:[0-5][0-9]:[0-5][0-9] - Duration: 123456789012, 250 frames, 0xff");
  EXPECT_TRUE(std::regex_match(bytes, expected)) << bytes;
}

TEST(Log, PercentSignsInTheMessageAreWrittenUnchanged) {
  ASSERT_EQ(ResetLog(), 1);
  WriteLog(L"Loading file: %s", L"C:\\100%d%s.mov");
  std::string bytes = LogBytes();
  EXPECT_NE(bytes.find(" - Loading file: C:\\100%d%s.mov"), std::string::npos) << bytes;
  EXPECT_EQ(bytes.substr(bytes.size() - 4), ".mov");  // no line break after the last line
}

TEST(Log, ResetDeletesTheEarlierLog) {
  ASSERT_EQ(ResetLog(), 1);
  WriteLog(L"first");
  ASSERT_EQ(ResetLog(), 1);
  EXPECT_EQ(GetFileAttributesW(GetLogPath()), INVALID_FILE_ATTRIBUTES);
  WriteLog(L"second");
  std::string bytes = LogBytes();
  EXPECT_EQ(bytes.find("first"), std::string::npos);
  EXPECT_NE(bytes.find("second"), std::string::npos);
}

TEST(Log, LongMessagesAreCutNotOverrun) {
  ASSERT_EQ(ResetLog(), 1);
  std::wstring long_text(5000, L'x');
  EXPECT_EQ(WriteLog(L"%s", long_text.c_str()), 1);
  std::string bytes = LogBytes();
  // "\r\n" + "hh:mm:ss - " + 259 characters
  EXPECT_EQ(bytes.size(), 2u + 11u + 259u);
}

TEST(Log, ConcurrentWritersEachWriteWholeLines) {
  ASSERT_EQ(ResetLog(), 1);
  constexpr int kThreads = 4, kLines = 50;
  HANDLE threads[kThreads];
  for (auto& t : threads) {
    t = CreateThread(
        nullptr, 0,
        [](void*) -> DWORD {
          for (int i = 0; i < kLines; ++i) WriteLog(L"thread line %d", i);
          return 0;
        },
        nullptr, 0, nullptr);
  }
  WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
  for (auto t : threads) CloseHandle(t);
  std::string bytes = LogBytes();
  std::regex line("\r\n[0-2][0-9]:[0-5][0-9]:[0-5][0-9] - thread line [0-9]+");
  auto begin = std::sregex_iterator(bytes.begin(), bytes.end(), line);
  EXPECT_EQ(std::distance(begin, std::sregex_iterator()), kThreads * kLines);
}

}  // namespace
