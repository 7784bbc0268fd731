// The Kestrel filter in Wine's filter graph: a fixture that creates the
// filter, loads a movie, plays it into Sample Grabbers and Null Renderers,
// and checks at the end that every object of the filter is gone.
#ifndef KESTREL_TESTS_FILTER_FILTER_HARNESS_H
#define KESTREL_TESTS_FILTER_FILTER_HARNESS_H

#include <windows.h>

#include <dshow.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "filter/kestrel.h"
#include "framework/com_ptr.h"
#include "framework/framework_test_util.h"
#include "play/play_graph.h"

namespace kestrel::test {

// The four formats the video pin offers, with the ffmpeg pixel format of
// their oracles.
struct VideoFormat {
  const GUID* subtype;
  const char* oracle;
  const char* name;
};
inline const VideoFormat kVideoFormats[] = {{&MEDIASUBTYPE_UYVY, "uyvy422", "UYVY"},
                                            {&MEDIASUBTYPE_YUY2, "yuyv422", "YUY2"},
                                            {&MEDIASUBTYPE_RGB32, "bgra", "RGB32"},
                                            {&MEDIASUBTYPE_ARGB32, "bgra", "ARGB32"}};

// What one pin delivered: each sample's record, the md5 of each picture
// (tight rows, top-down) and, for sound, every byte in order.
struct Delivery {
  std::vector<play::SampleRecord> records;
  std::vector<std::string> md5;
  std::string pcm;
};

struct Expected;
// Each delivered picture's md5 and times against ffmpeg's (LoadExpected),
// the counts first.
void ExpectPicturesAsOracle(const Delivery& d, const Expected& e);

// Records a pin's samples into a Delivery. For video the picture is
// width x height pixels of bytes_per_pixel, stride bytes a row, bottom-up
// when flipped; width 0 keeps no pictures (sound keeps its bytes).
class DeliveryRecorder {
 public:
  DeliveryRecorder();
  ~DeliveryRecorder();
  void SetPicture(int width, int height, int bytes_per_pixel, int stride, bool flipped);
  play::SampleRecorder* Recorder() const { return m_recorder; }
  Delivery Take();

 private:
  struct State;
  std::shared_ptr<State> m_state;
  play::SampleRecorder* m_recorder;
};

class FilterTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A new filter (through its creation function) into filter.
  void NewFilter();
  // Load of a fixture (by name) on filter.
  HRESULT Load(const std::string& fixture);
  HRESULT LoadPath(const std::wstring& path);
  // A graph holding filter; pins are connected with Connect.
  void NewGraph();
  // Connects the pin named "Video" or "Audio" to a grabber; for video with
  // the subtype (null: the first offered). The recorder keeps pictures.
  play::PinChain* Connect(const wchar_t* name, const GUID* subtype = nullptr);
  // The same with a media type of the test's.
  play::PinChain* ConnectType(const wchar_t* name, const AM_MEDIA_TYPE& type);
  IPin* PinNamed(const wchar_t* name);
  // Runs without a clock to the end (EC_COMPLETE expected unless told).
  play::EndResult RunToEnd(DWORD timeout_ms = 60000, HRESULT* abort_code = nullptr);
  // The video pin object behind the "Video" pin.
  CVideoPin* VideoPin();
  Delivery Delivered(const wchar_t* name);

  play::PinChain* ConnectChain(const wchar_t* name, const GUID* subtype, const AM_MEDIA_TYPE* type);

  ComPtr<IBaseFilter> filter;
  std::unique_ptr<play::PlayGraph> graph;
  std::vector<std::pair<std::wstring, std::unique_ptr<DeliveryRecorder>>> recorders;
};

// Ends the process when the loop under test stops making progress: a
// deadlock must fail the test, not hang it.
class Watchdog {
 public:
  explicit Watchdog(DWORD ms) : m_ms(ms), m_thread([this] { Run(); }) {}
  ~Watchdog() {
    m_done = true;
    m_thread.join();
  }
  void Progress() { m_beat = GetTickCount(); }

 private:
  void Run() {
    while (!m_done) {
      Sleep(100);
      if (GetTickCount() - m_beat > m_ms) {
        fprintf(stderr, "no progress for %lu ms: deadlock\n", static_cast<unsigned long>(m_ms));
        fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
      }
    }
  }
  DWORD m_ms;
  std::atomic<DWORD> m_beat{GetTickCount()};
  std::atomic<bool> m_done{false};
  std::thread m_thread;
};

// A new filter through its creation function (any thread).
HRESULT NewKestrelFilter(IBaseFilter** ppFilter);
std::wstring Wide(const std::string& text);
// The log's messages since the last reset, without their time stamps.
std::vector<std::string> LogMessages();
// The video type the pin offers for a subtype.
bool OfferedType(IPin* pin, const GUID& subtype, CMediaType* out);

}  // namespace kestrel::test

#endif
