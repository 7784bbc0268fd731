// Damaged movies through Wine's graph: files that are not movies, are cut
// short, or carry broken tables or codecs answer a status from Load or the
// connection, or end their streams, and leave nothing alive.
#include <ole2.h>

#include "filter/filter_harness.h"

namespace kestrel::test {
namespace {

// The video facts a filter reports through IQTInfo.
struct VideoFacts {
  HRESULT hr = E_FAIL;
  ULONG frames = 0;
  double rate = 0, duration = 0;
};

VideoFacts VideoFactsOf(IBaseFilter* filter) {
  VideoFacts facts;
  ComPtr<IQTInfo> info;
  facts.hr = filter->QueryInterface(IID_IQTInfo, info.ReleaseAndGetVoidAddress());
  if (FAILED(facts.hr)) return facts;
  BSTR codec = nullptr;
  ULONG width = 0, height = 0, depth = 0;
  facts.hr = info->GetVideoInfo(&codec, &width, &height, &depth, &facts.rate, &facts.frames, &facts.duration);
  SysFreeString(codec);
  return facts;
}

// Files that are not movies, are cut short, damaged, or carry a codec the
// decoder does not know: a clear status from Load or the connection, or a
// stream that ends, and the process goes on with nothing left alive.
TEST_F(FilterTest, DamagedFilesEndCleanly) {
  struct Case {
    const char* movie;
    HRESULT load;
    bool connects;
    play::EndResult end;
  };
  using play::EndResult;
  // A stream whose decoder never gives a picture has no picture size to
  // make buffers for: its pin does not connect (the Load looked at a
  // bounded number of samples, not the whole file).
  for (const Case& c : {Case{"not_a_movie.mov", E_FAIL, false, EndResult::kTimeout},
                        Case{"empty.mov", E_FAIL, false, EndResult::kTimeout},
                        Case{"unknown_codec.mov", S_OK, false, EndResult::kTimeout},
                        Case{"corrupt_h264.mov", S_OK, true, EndResult::kComplete},
                        Case{"aud_trunc.m4a", S_OK, true, EndResult::kComplete},
                        Case{"aud_corrupt.aac", S_OK, true, EndResult::kComplete},
                        Case{"all_broken.mov", S_OK, false, EndResult::kTimeout}}) {
    SCOPED_TRACE(c.movie);
    EXPECT_HR(c.load, Load(c.movie));
    if (SUCCEEDED(c.load)) {
      NewGraph();
      bool all = true;
      for (const ComPtr<IPin>& pin : graph->SourcePins()) {
        auto* recorder = new play::SampleRecorder;
        HRESULT hr = graph->Connect(pin.Get(), nullptr, recorder);
        recorder->Release();
        if (FAILED(hr)) all = false;
      }
      EXPECT_EQ(all, c.connects);
      if (all) {
        HRESULT code = S_OK;
        EXPECT_EQ(RunToEnd(30000, &code), c.end);
        if (c.end == EndResult::kErrorAbort) {
          EXPECT_HR(E_FAIL, code);
        }
      }
      graph.reset();
    }
    filter.Reset();
    EXPECT_EQ(CBaseObject::ObjectsActive(), 0);
  }
}

// Small movies that cost much (scripts/malformed/make-costly.py): tables
// that claim more samples than the file has bytes are refused, as is video
// too long for 100 ns units; a picture declared far larger than the stream's
// is made, and offered, at the stream's own 128 x 96; a long edit list and
// one past the end of the media play or end with a status.
TEST_F(FilterTest, CostlyMoviesAreLoadedOrRefusedWithAStatus) {
  for (const char* refused : {"tracks-1000-runs", "counts-stts", "counts-stsz", "duration-1e12"}) {
    EXPECT_HR(E_FAIL, Load(std::string("costly/") + refused + ".mov")) << refused;
    EXPECT_EQ(PinNamed(L"Video"), nullptr) << refused;
  }
  for (const char* declared : {"picture-16384x16384", "picture-16000x16000"}) {
    SCOPED_TRACE(declared);
    ASSERT_HR(S_OK, Load(std::string("costly/") + declared + ".mov"));
    CMediaType type;
    ASSERT_TRUE(OfferedType(PinNamed(L"Video"), MEDIASUBTYPE_UYVY, &type));
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type.Format());
    EXPECT_EQ(vih->bmiHeader.biWidth, 128);
    EXPECT_EQ(vih->bmiHeader.biHeight, 96);
    EXPECT_EQ(vih->bmiHeader.biSizeImage, 128u * 96 * 2);
    NewGraph();
    ASSERT_NE(Connect(L"Video", &MEDIASUBTYPE_UYVY), nullptr);
    EXPECT_EQ(RunToEnd(), play::EndResult::kComplete);
    // 24 of the 25 pictures: the last one starts after the media's duration
    // (the movie has no edit list to take back the stream's display delay).
    EXPECT_EQ(Delivered(L"Video").records.size(), 24u);
    graph.reset();
    recorders.clear();
  }
  ASSERT_HR(S_OK, Load("costly/counts-samples-1m.mov"));
  VideoFacts facts = VideoFactsOf(filter.Get());
  ASSERT_HR(S_OK, facts.hr);
  EXPECT_EQ(facts.frames, 1000000u);

  // Past the media: each FillBuffer passes a bounded number of segments,
  // those that start where no picture is without decoding anything.
  ASSERT_HR(S_OK, Load("costly/edits-past-media.mov"));
  NewGraph();
  ASSERT_NE(Connect(L"Video", &MEDIASUBTYPE_UYVY), nullptr);
  HRESULT code = S_OK;
  EXPECT_EQ(RunToEnd(30000, &code), play::EndResult::kErrorAbort);
  EXPECT_HR(E_FAIL, code);
  graph.reset();
  recorders.clear();
  // One picture an edit, 20,000 edits, in an order that never continues.
  ASSERT_HR(S_OK, Load("costly/edits-20k.mov"));
  NewGraph();
  play::PinChain* chain = Connect(L"Video", &MEDIASUBTYPE_UYVY);
  ASSERT_NE(chain, nullptr);
  LONGLONG stop = 2 * 10000000LL;  // the first 50 edits
  ASSERT_HR(S_OK,
            chain->seeking->SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop, AM_SEEKING_AbsolutePositioning));
  EXPECT_EQ(RunToEnd(), play::EndResult::kComplete);
  Delivery video = Delivered(L"Video");
  ASSERT_EQ(video.records.size(), 51u);
  for (size_t i = 0; i < video.records.size(); ++i) EXPECT_EQ(video.records[i].start, 400000LL * i) << i;
}

// A movie cut short (a download in progress): the facts are what its tables
// declare, and each stream ends where its data stops, as the end of the
// media rather than an error.
TEST_F(FilterTest, AMovieCutShortPlaysWhatItHasToTheEnd) {
  ASSERT_HR(S_OK, Load("cut_av.mov"));
  VideoFacts facts = VideoFactsOf(filter.Get());
  ASSERT_HR(S_OK, facts.hr);
  EXPECT_EQ(facts.frames, 100u);
  EXPECT_DOUBLE_EQ(facts.rate, 25.0);
  EXPECT_DOUBLE_EQ(facts.duration, 4.0);
  ASSERT_NE(Connect(L"Video"), nullptr);
  ASSERT_NE(Connect(L"Audio"), nullptr);
  HRESULT code = S_OK;
  ASSERT_EQ(RunToEnd(30000, &code), play::EndResult::kComplete);
  Delivery video = Delivered(L"Video");
  EXPECT_EQ(video.records.size(), 60u);  // the frames whose bytes are all there
  EXPECT_FALSE(Delivered(L"Audio").pcm.empty());
}

// Movies whose video loads before the rest fails (no movie header, a movie
// time scale of 0): the failed Load leaves no pins and no file behind.
TEST_F(FilterTest, AFailedLoadLeavesNothing) {
  for (const char* movie : {"malformed/av.missing.mvhd.cut.mov", "malformed/av.timescale-zero.movie.mov"}) {
    SCOPED_TRACE(movie);
    ASSERT_HR(S_OK, Load("malformed_av.mov"));
    EXPECT_HR(E_FAIL, Load(movie));
    EXPECT_EQ(PinNamed(L"Video"), nullptr);
    EXPECT_EQ(PinNamed(L"Audio"), nullptr);
    ComPtr<IFileSourceFilter> source;
    ASSERT_HR(S_OK, filter->QueryInterface(IID_IFileSourceFilter, source.ReleaseAndGetVoidAddress()));
    LPOLESTR name = nullptr;
    AM_MEDIA_TYPE type = {};
    ASSERT_HR(S_OK, source->GetCurFile(&name, &type));
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(type.majortype, GUID_NULL);
    CoTaskMemFree(name);
    FreeMediaType(type);
  }
}

}  // namespace
}  // namespace kestrel::test
