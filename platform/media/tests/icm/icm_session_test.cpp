// Decompression sessions against ffmpeg's own decode of the same files.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "icm_test_support.h"
#include "qtmedia.h"

namespace qtm::test {
namespace {

struct Format {
  OSType type;
  const char* oracle;
};
const Format kFormats[] = {{k2vuyPixelFormat, "uyvy422"}, {kYUVSPixelFormat, "yuyv422"}, {k32BGRAPixelFormat, "bgra"}};

// Decodes every packet with display times, then flushes.
void DecodeAll(ICMDecompressionSessionRef session, Stream& stream, Recorder* r) {
  for (auto& p : stream.packets) {
    ICMFrameTimeRecord t = TimeOf(p);
    ASSERT_EQ(ICMDecompressionSessionDecodeFrame(session, p.data.data(), p.data.size(), nullptr, &t, &p), noErr);
  }
  ASSERT_EQ(ICMDecompressionSessionFlush(session), noErr);
}

// Options with an accuracy (the caller releases them).
ICMDecompressionSessionOptionsRef OptionsWithAccuracy(int32_t accuracy) {
  ICMDecompressionSessionOptionsRef options = nullptr;
  EXPECT_EQ(ICMDecompressionSessionOptionsCreate(kCFAllocatorDefault, &options), noErr);
  EXPECT_EQ(ICMDecompressionSessionOptionsSetProperty(options, kQTPropertyClass_ICMDecompressionSessionOptions,
                                                      kICMDecompressionSessionOptionsPropertyID_Accuracy, 4, &accuracy),
            noErr);
  return options;
}

// Every picture of stream decoded into r at an accuracy; the session's status.
OSStatus DecodeWithAccuracy(Stream& stream, OSType format, int32_t accuracy, Recorder* r) {
  OSStatus err = 0;
  ICMDecompressionSessionOptionsRef options = OptionsWithAccuracy(accuracy);
  ICMDecompressionSessionRef s = MakeSession(stream, format, r, &err, options);
  ICMDecompressionSessionOptionsRelease(options);
  if (err != noErr) return err;
  DecodeAll(s, stream, r);
  ICMDecompressionSessionRelease(s);
  return noErr;
}

class EveryCodec : public testing::TestWithParam<const char*> {};

// Normal quality converts as `ffmpeg -sws_flags neighbor`, high quality as
// ffmpeg's default.
TEST_P(EveryCodec, PicturesInDisplayOrderMatchFfmpegInEveryFormatAtNormalAndHighQuality) {
  std::string name = GetParam();
  Stream stream;
  ASSERT_TRUE(LoadStream(Fixture(name), &stream));
  std::vector<std::string> times = ReadLines(Fixture(name + ".times"));
  for (auto [accuracy, oracle] : {std::pair{codecNormalQuality, ".md5"}, std::pair{codecHighQuality, ".hq.md5"}})
    for (const Format& f : kFormats) {
      SCOPED_TRACE(std::string(f.oracle) + oracle);
      std::vector<std::string> md5 = ReadLines(Fixture(name + "." + f.oracle + oracle));
      ASSERT_FALSE(md5.empty());
      Recorder r;
      ASSERT_EQ(DecodeWithAccuracy(stream, f.type, accuracy, &r), noErr);
      ASSERT_EQ(r.pictures.size(), md5.size());
      ASSERT_EQ(times.size(), md5.size());
      for (size_t i = 0; i < md5.size(); ++i) {
        EXPECT_EQ(r.pictures[i].md5, md5[i]) << "frame " << i;
        std::ostringstream t;
        t << r.pictures[i].time << " " << r.pictures[i].duration;
        EXPECT_EQ(t.str(), times[i]) << "frame " << i;
        EXPECT_EQ(r.pictures[i].valid,
                  uint32_t{kICMValidTime_DisplayTimeStampIsValid | kICMValidTime_DisplayDurationIsValid});
        EXPECT_EQ(r.pictures[i].format, f.type);
        EXPECT_EQ(r.pictures[i].width, stream.width);
      }
      // Every source buffer released exactly once.
      ASSERT_EQ(r.releases.size(), stream.packets.size());
      for (auto& [ref, count] : r.releases) EXPECT_EQ(count, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, EveryCodec,
                         testing::Values("h264_bframes.mov", "h264_bframes.mp4", "mpeg4.mp4", "mjpeg.mov", "prores.mov",
                                         "dv.mov", "raw2vuy.mov", "h263.3gp", "odd_width.mov"),
                         [](const auto& info) {
                           std::string n = info.param;
                           for (char& c : n)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

// Every picture of stream in format, emitted and left unlocked until the
// session is gone (the caller releases them).
std::vector<CVPixelBufferRef> DecodeUnlocked(Stream& stream, OSType format, int32_t accuracy) {
  Recorder r;
  r.keep_unlocked = true;
  OSStatus err = DecodeWithAccuracy(stream, format, accuracy, &r);
  EXPECT_EQ(err, noErr);
  return r.unlocked;
}

// Rows of a picture at base, bytes_per_row apart, without what lies between.
std::vector<uint8_t> TightRows(const uint8_t* base, size_t bytes_per_row, size_t row, int height) {
  std::vector<uint8_t> tight;
  for (int y = 0; y < height; ++y) tight.insert(tight.end(), base + y * bytes_per_row, base + y * bytes_per_row + row);
  return tight;
}

// Pictures are converted when first locked: kept unlocked until the session
// is gone, each still converts to ffmpeg's picture, in either conversion.
TEST(DecompressionSession, PicturesConvertWhenFirstLockedEvenAfterTheSessionIsGone) {
  Stream stream;
  ASSERT_TRUE(LoadStream(Fixture("h264_bframes.mov"), &stream));
  for (auto [accuracy, oracle] : {std::pair{codecNormalQuality, ".md5"}, std::pair{codecHighQuality, ".hq.md5"}}) {
    std::vector<std::string> md5 = ReadLines(Fixture(std::string("h264_bframes.mov.yuyv422") + oracle));
    std::vector<CVPixelBufferRef> unlocked = DecodeUnlocked(stream, kYUVSPixelFormat, accuracy);
    ASSERT_EQ(unlocked.size(), md5.size());
    size_t row = static_cast<size_t>(stream.width) * 2;
    for (size_t i = 0; i < unlocked.size(); ++i) {
      CVPixelBufferRef pb = unlocked[i];
      ASSERT_EQ(CVPixelBufferLockBaseAddress(pb, 0), kCVReturnSuccess);
      std::vector<uint8_t> tight = TightRows(static_cast<const uint8_t*>(CVPixelBufferGetBaseAddress(pb)),
                                             CVPixelBufferGetBytesPerRow(pb), row, stream.height);
      CVPixelBufferUnlockBaseAddress(pb, 0);
      EXPECT_EQ(Md5(tight.data(), tight.size()), md5[i]) << oracle << " frame " << i;
      CVPixelBufferRelease(pb);
    }
  }
}

// A picture nobody locked converts straight into the caller's rows (a
// sample's stride, wider than the picture) with the same bytes as ffmpeg's,
// and the buffer still converts on its own lock. Where the conversion would
// need its own memory or could write past the room given, it refuses and
// the caller copies.
TEST(DecompressionSession, UnlockedPicturesConvertIntoTheCallersRows) {
  Stream stream;
  ASSERT_TRUE(LoadStream(Fixture("h264_bframes.mov"), &stream));
  const size_t row = static_cast<size_t>(stream.width) * 2, stride = row + 128;
  const size_t size = stride * (stream.height - 1) + row;
  struct Case {
    int32_t accuracy;
    Format format;
    const char* oracle;
    bool into;  // false: the sliced scaler, which needs its own memory
  };
  for (const Case& c :
       {Case{codecNormalQuality, kFormats[0], ".md5", true}, Case{codecHighQuality, kFormats[0], ".hq.md5", true},
        Case{codecNormalQuality, kFormats[1], ".md5", true}, Case{codecHighQuality, kFormats[1], ".hq.md5", false}}) {
    SCOPED_TRACE(std::string(c.format.oracle) + c.oracle);
    std::vector<std::string> md5 = ReadLines(Fixture(std::string("h264_bframes.mov.") + c.format.oracle + c.oracle));
    std::vector<CVPixelBufferRef> unlocked = DecodeUnlocked(stream, c.format.type, c.accuracy);
    ASSERT_EQ(unlocked.size(), md5.size());
    std::vector<uint8_t> rows(size + 1, 0xEE);
    for (size_t i = 0; i < unlocked.size(); ++i) {
      CVPixelBufferRef pb = unlocked[i];
      EXPECT_EQ(qtm_PixelBufferConvertInto(pb, rows.data(), stride, size - 1), kCVReturnError);  // no room
      CVReturn into = qtm_PixelBufferConvertInto(pb, rows.data(), stride, size);
      if (c.into) {
        ASSERT_EQ(into, kCVReturnSuccess) << i;
        std::vector<uint8_t> tight = TightRows(rows.data(), stride, row, stream.height);
        EXPECT_EQ(Md5(tight.data(), tight.size()), md5[i]) << i;
        EXPECT_EQ(rows[size], 0xEE);
        EXPECT_EQ(rows[row], 0xEE);  // between rows: untouched
      } else {
        EXPECT_EQ(into, kCVReturnError);
      }
      ASSERT_EQ(CVPixelBufferLockBaseAddress(pb, 0), kCVReturnSuccess);
      std::vector<uint8_t> tight = TightRows(static_cast<const uint8_t*>(CVPixelBufferGetBaseAddress(pb)),
                                             CVPixelBufferGetBytesPerRow(pb), row, stream.height);
      CVPixelBufferUnlockBaseAddress(pb, 0);
      EXPECT_EQ(Md5(tight.data(), tight.size()), md5[i]) << i;
      EXPECT_EQ(qtm_PixelBufferConvertInto(pb, rows.data(), stride, size), kCVReturnError);  // converted now
      CVPixelBufferRelease(pb);
    }
  }

  // 100 pixels of 4:2:0: 200-byte rows, which the interleaving loop writes
  // exactly: into the caller's rows, nothing between them touched.
  {
    Stream narrow;
    ASSERT_TRUE(LoadStream(Fixture("scaled.mov"), &narrow));
    std::vector<std::string> md5 = ReadLines(Fixture("scaled.mov.uyvy422.md5"));
    std::vector<CVPixelBufferRef> unlocked = DecodeUnlocked(narrow, k2vuyPixelFormat, codecNormalQuality);
    ASSERT_EQ(unlocked.size(), md5.size());
    const size_t narrow_row = 200, narrow_stride = 200 + 8;
    std::vector<uint8_t> rows(narrow_stride * narrow.height, 0xEE);
    for (size_t i = 0; i < unlocked.size(); ++i) {
      ASSERT_EQ(qtm_PixelBufferConvertInto(unlocked[i], rows.data(), narrow_stride, rows.size()), kCVReturnSuccess);
      std::vector<uint8_t> tight = TightRows(rows.data(), narrow_stride, narrow_row, narrow.height);
      EXPECT_EQ(Md5(tight.data(), tight.size()), md5[i]) << i;
      for (int y = 0; y < narrow.height; ++y)
        for (size_t x = narrow_row; x < narrow_stride; ++x) ASSERT_EQ(rows[y * narrow_stride + x], 0xEE) << y;
      CVPixelBufferRelease(unlocked[i]);
    }
  }

  // 98 pixels of full-range 4:2:2 (swscale's converter): 196-byte rows, not
  // a multiple of 64.
  ASSERT_TRUE(LoadStream(Fixture("odd_width.mov"), &stream));
  std::vector<CVPixelBufferRef> unlocked = DecodeUnlocked(stream, k2vuyPixelFormat, codecNormalQuality);
  ASSERT_FALSE(unlocked.empty());
  std::vector<uint8_t> rows(4096 * static_cast<size_t>(stream.height));
  for (CVPixelBufferRef pb : unlocked) {
    EXPECT_EQ(qtm_PixelBufferConvertInto(pb, rows.data(), 4096, rows.size()), kCVReturnError);
    CVPixelBufferRelease(pb);
  }
  EXPECT_EQ(qtm_PixelBufferConvertInto(nullptr, rows.data(), 4096, rows.size()), kCVReturnInvalidArgument);
}

// Max quality: bicubic with accurate rounding, bit-exact; in RGB the only
// conversion that differs from the fast one.
TEST(DecompressionSession, MaxQualityRoundsAccurately) {
  Stream stream;
  ASSERT_TRUE(LoadStream(Fixture("h264_bframes.mov"), &stream));
  for (const Format& f : {kFormats[0], kFormats[2]}) {
    SCOPED_TRACE(f.oracle);
    std::vector<std::string> md5 = ReadLines(Fixture(std::string("h264_bframes.mov.") + f.oracle + ".max.md5"));
    std::vector<std::string> fast = ReadLines(Fixture(std::string("h264_bframes.mov.") + f.oracle + ".md5"));
    ASSERT_EQ(md5.size(), fast.size());
    Recorder r;
    ASSERT_EQ(DecodeWithAccuracy(stream, f.type, codecMaxQuality, &r), noErr);
    ASSERT_EQ(r.pictures.size(), md5.size());
    for (size_t i = 0; i < md5.size(); ++i) {
      EXPECT_EQ(r.pictures[i].md5, md5[i]) << "frame " << i;
      EXPECT_NE(r.pictures[i].md5, fast[i]) << "frame " << i;
    }
  }
}

TEST(DecompressionSession, FramesMarkedDoNotDisplayAreDecodedButNotEmitted) {
  Stream stream;
  ASSERT_TRUE(LoadStream(Fixture("h264_bframes.mov"), &stream));
  std::vector<std::string> md5 = ReadLines(Fixture("h264_bframes.mov.uyvy422.md5"));
  std::vector<std::string> times = ReadLines(Fixture("h264_bframes.mov.times"));
  Recorder r;
  OSStatus err;
  ICMDecompressionSessionRef s = MakeSession(stream, k2vuyPixelFormat, &r, &err);
  ASSERT_EQ(err, noErr);
  // Display times below the 20th picture's are decoded as references only.
  int64_t cut = std::stoll(times[20]);
  for (auto& p : stream.packets) {
    ICMFrameTimeRecord t = TimeOf(p, p.pts < cut ? icmFrameTimeDoNotDisplay : 0);
    ASSERT_EQ(ICMDecompressionSessionDecodeFrame(s, p.data.data(), p.data.size(), nullptr, &t, &p), noErr);
  }
  ICMDecompressionSessionFlush(s);
  ICMDecompressionSessionRelease(s);
  ASSERT_EQ(r.pictures.size(), md5.size() - 20);
  for (size_t i = 0; i < r.pictures.size(); ++i) EXPECT_EQ(r.pictures[i].md5, md5[i + 20]) << i;
}

TEST(DecompressionSession, TheFrameDecodedLastHandedOverAgainIsNotFedTwice) {
  Stream stream;
  ASSERT_TRUE(LoadStream(Fixture("h264_bframes.mov"), &stream));
  std::vector<std::string> md5 = ReadLines(Fixture("h264_bframes.mov.uyvy422.md5"));
  {
    // Its picture came out already (after a flush): emitted once more.
    Recorder r;
    OSStatus err;
    ICMDecompressionSessionRef s = MakeSession(stream, k2vuyPixelFormat, &r, &err);
    for (size_t i = 0; i < 12; ++i) {  // one whole GOP
      ICMFrameTimeRecord t = TimeOf(stream.packets[i]);
      ICMDecompressionSessionDecodeFrame(s, stream.packets[i].data.data(), stream.packets[i].data.size(), nullptr, &t,
                                         &stream.packets[i]);
    }
    ICMDecompressionSessionFlush(s);
    size_t before = r.pictures.size();
    ASSERT_EQ(before, 12u);
    // The last fed frame's picture is not the last emitted one (B-frames): no re-emission of a wrong one.
    Packet& last = stream.packets[11];
    ICMFrameTimeRecord t = TimeOf(last);
    int dummy;
    EXPECT_EQ(ICMDecompressionSessionDecodeFrame(s, last.data.data(), last.data.size(), nullptr, &t, &dummy), noErr);
    EXPECT_EQ(r.releases[&dummy], 1);
    ASSERT_LE(r.pictures.size(), before + 1);
    if (r.pictures.size() == before + 1) {
      EXPECT_EQ(r.pictures.back().time, last.pts);
      // ffmpeg's picture with that display time
      for (size_t k = 0; k < before; ++k)
        if (r.pictures[k].time == last.pts) EXPECT_EQ(r.pictures.back().md5, r.pictures[k].md5);
    }
    ICMDecompressionSessionRelease(s);
  }
  {
    // Intra-only stream: feed, flush, feed the last again: after a flush it
    // is decoded again, and its picture comes out again.
    Stream mj;
    ASSERT_TRUE(LoadStream(Fixture("mjpeg.mov"), &mj));
    std::vector<std::string> mj_md5 = ReadLines(Fixture("mjpeg.mov.uyvy422.md5"));
    Recorder r;
    OSStatus err;
    ICMDecompressionSessionRef s = MakeSession(mj, k2vuyPixelFormat, &r, &err);
    for (size_t i = 0; i < 5; ++i) {
      ICMFrameTimeRecord t = TimeOf(mj.packets[i]);
      ICMDecompressionSessionDecodeFrame(s, mj.packets[i].data.data(), mj.packets[i].data.size(), nullptr, &t,
                                         &mj.packets[i]);
    }
    ICMDecompressionSessionFlush(s);
    ASSERT_EQ(r.pictures.size(), 5u);
    ICMFrameTimeRecord t = TimeOf(mj.packets[4]);
    ICMDecompressionSessionDecodeFrame(s, mj.packets[4].data.data(), mj.packets[4].data.size(), nullptr, &t,
                                       &mj.packets[4]);
    ASSERT_EQ(r.pictures.size(), 6u);
    EXPECT_EQ(r.pictures[5].md5, mj_md5[4]);
    EXPECT_EQ(r.pictures[5].time, mj.packets[4].pts);
    // Then decoding goes on with the next frame.
    t = TimeOf(mj.packets[5]);
    ICMDecompressionSessionDecodeFrame(s, mj.packets[5].data.data(), mj.packets[5].data.size(), nullptr, &t,
                                       &mj.packets[5]);
    ICMDecompressionSessionFlush(s);
    ASSERT_EQ(r.pictures.size(), 7u);
    EXPECT_EQ(r.pictures[6].md5, mj_md5[5]);
    ICMDecompressionSessionRelease(s);
  }
  {
    // Not out yet when handed over again (decoder delay): it comes out once.
    Recorder r;
    OSStatus err;
    ICMDecompressionSessionRef s = MakeSession(stream, k2vuyPixelFormat, &r, &err);
    for (int pass = 0; pass < 2; ++pass) {
      ICMFrameTimeRecord t = TimeOf(stream.packets[0]);
      ICMDecompressionSessionDecodeFrame(s, stream.packets[0].data.data(), stream.packets[0].data.size(), nullptr, &t,
                                         nullptr);
    }
    ICMDecompressionSessionFlush(s);
    ASSERT_EQ(r.pictures.size(), 1u);
    EXPECT_EQ(r.pictures[0].md5, md5[0]);
    EXPECT_EQ(r.releases[nullptr], 2);
    ICMDecompressionSessionRelease(s);
  }
}

TEST(DecompressionSession, FailedDecodesStillReleaseTheirSourceOnce) {
  Stream stream;
  ASSERT_TRUE(LoadStream(Fixture("mjpeg.mov"), &stream));
  Recorder r;
  OSStatus err;
  ICMDecompressionSessionRef s = MakeSession(stream, k2vuyPixelFormat, &r, &err);
  int a, b;
  ICMFrameTimeRecord t = TimeOf(stream.packets[0]);
  EXPECT_EQ(ICMDecompressionSessionDecodeFrame(s, nullptr, 100, nullptr, &t, &a), paramErr);
  EXPECT_EQ(r.releases[&a], 1);
  // Garbage is dropped, not fatal: the call succeeds, nothing is emitted.
  std::vector<uint8_t> junk(500, 0x55);
  EXPECT_EQ(ICMDecompressionSessionDecodeFrame(s, junk.data(), junk.size(), nullptr, &t, &b), noErr);
  // An empty frame is dropped, and does not end the stream.
  int c;
  EXPECT_EQ(ICMDecompressionSessionDecodeFrame(s, junk.data(), 0, nullptr, &t, &c), noErr);
  EXPECT_EQ(r.releases[&c], 1);
  EXPECT_TRUE(r.pictures.empty());
  ICMFrameTimeRecord t1 = TimeOf(stream.packets[1]);
  EXPECT_EQ(ICMDecompressionSessionDecodeFrame(s, stream.packets[1].data.data(), stream.packets[1].data.size(), nullptr,
                                               &t1, nullptr),
            noErr);
  ICMDecompressionSessionFlush(s);
  EXPECT_EQ(r.releases[&b], 1);
  ASSERT_EQ(r.pictures.size(), 1u);
  EXPECT_EQ(r.pictures[0].time, stream.packets[1].pts);
  ICMDecompressionSessionRelease(s);
  EXPECT_EQ(ICMDecompressionSessionDecodeFrame(nullptr, junk.data(), junk.size(), nullptr, &t, &b), paramErr);
}

TEST(DecompressionSession, ADamagedH264FrameIsConcealedAndDecodingGoesOn) {
  Stream stream;
  ASSERT_TRUE(LoadStream(Fixture("corrupt_h264.mov"), &stream));
  std::vector<std::string> md5 = ReadLines(Fixture("corrupt_h264.mov.uyvy422.md5"));
  std::vector<std::string> clean = ReadLines(Fixture("h264_bframes.mov.uyvy422.md5"));
  Recorder r;
  OSStatus err;
  ICMDecompressionSessionRef s = MakeSession(stream, k2vuyPixelFormat, &r, &err);
  DecodeAll(s, stream, &r);
  ICMDecompressionSessionRelease(s);
  // Every picture comes out; how the damage is concealed depends on the
  // threads, so only the pictures outside the damaged group (samples 12 to
  // 23, display order too: closed groups) must be the clean ones.
  ASSERT_EQ(r.pictures.size(), clean.size());
  ASSERT_EQ(md5.size(), clean.size());
  int damaged = 0;
  for (size_t i = 0; i < clean.size(); ++i) {
    if (i < 12 || i >= 24)
      EXPECT_EQ(r.pictures[i].md5, clean[i]) << i;
    else
      damaged += r.pictures[i].md5 != clean[i];
  }
  EXPECT_GT(damaged, 0);
}

TEST(DecompressionSession, UnknownCodecsAndBrokenDescriptionsAreRefused) {
  Stream stream;
  ASSERT_TRUE(LoadStream(Fixture("unknown_codec.mov"), &stream));
  Recorder r;
  OSStatus err = 0;
  EXPECT_EQ(MakeSession(stream, k2vuyPixelFormat, &r, &err), nullptr);
  EXPECT_EQ(err, noCodecErr);

  ASSERT_TRUE(LoadStream(Fixture("mjpeg.mov"), &stream));
  Stream bad = stream;
  reinterpret_cast<ImageDescription*>(bad.description.data())->idSize = 20;
  EXPECT_EQ(MakeSession(bad, k2vuyPixelFormat, &r, &err), nullptr);
  EXPECT_EQ(err, badImageDescription);
  EXPECT_EQ(MakeSession(stream, 0x52474241 /* 'RGBA' */, &r, &err), nullptr);
  EXPECT_EQ(err, paramErr);
  ICMDecompressionSessionRef s = nullptr;
  EXPECT_EQ(ICMDecompressionSessionCreate(kCFAllocatorDefault, nullptr, nullptr, nullptr, nullptr, &s), nilHandleErr);
}

TEST(DecompressionSession, UntaggedHdIsConvertedWithBt709AndSdWithBt601) {
  Stream stream;
  ASSERT_TRUE(LoadStream(Fixture("hd_untagged.mov"), &stream));
  std::vector<std::string> md5 = ReadLines(Fixture("hd_untagged.mov.bgra709.md5"));
  Recorder r;
  OSStatus err;
  ICMDecompressionSessionRef s = MakeSession(stream, k32BGRAPixelFormat, &r, &err);
  ASSERT_EQ(err, noErr);
  DecodeAll(s, stream, &r);
  ICMDecompressionSessionRelease(s);
  ASSERT_EQ(r.pictures.size(), md5.size());
  for (size_t i = 0; i < md5.size(); ++i) EXPECT_EQ(r.pictures[i].md5, md5[i]) << i;
  // SD: the EveryCodec cases compare with ffmpeg's BT.601 conversion.
}

TEST(DecompressionSession, PicturesHaveTheRequestedSize) {
  Stream stream;
  ASSERT_TRUE(LoadStream(Fixture("mjpeg.mov"), &stream));
  Recorder r;
  OSStatus err;
  ICMDecompressionSessionRef s = MakeSession(stream, k32BGRAPixelFormat, &r, &err, nullptr, 100, 60);
  ASSERT_EQ(err, noErr);
  ICMFrameTimeRecord t = TimeOf(stream.packets[0]);
  ICMDecompressionSessionDecodeFrame(s, stream.packets[0].data.data(), stream.packets[0].data.size(), nullptr, &t,
                                     nullptr);
  ICMDecompressionSessionFlush(s);
  ICMDecompressionSessionRelease(s);
  ASSERT_EQ(r.pictures.size(), 1u);
  EXPECT_EQ(r.pictures[0].width, 100);
  EXPECT_EQ(r.pictures[0].height, 60);
}

// Without a size asked for, pictures come out at the size the decoder makes
// them, whatever the description declares: a declared 16384 x 16384 picture
// allocates nothing. A size asked for beyond the decoder's limits is refused.
TEST(DecompressionSession, WithoutASizePicturesHaveTheDecodersOwn) {
  Stream stream;
  ASSERT_TRUE(LoadStream(Fixture("mjpeg.mov"), &stream));
  auto* declared = reinterpret_cast<ImageDescription*>(stream.description.data());
  declared->width = 16384;
  declared->height = 16384;
  Ptr p = reinterpret_cast<Ptr>(stream.description.data());
  ImageDescriptionHandle handle = reinterpret_cast<ImageDescriptionHandle>(&p);
  auto session_asking = [&](const std::vector<std::pair<const char*, int32_t>>& asked, Recorder* r, OSStatus* err) {
    CFMutableDictionaryRef attrs = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                                             &kCFTypeDictionaryValueCallBacks);
    for (auto [key, value] : asked) {
      CFNumberRef n = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &value);
      CFDictionarySetValue(attrs, __CFStringMakeConstantString(key), n);
      CFRelease(n);
    }
    ICMDecompressionTrackingCallbackRecord record = r->Record();
    ICMDecompressionSessionRef s = nullptr;
    *err = ICMDecompressionSessionCreate(kCFAllocatorDefault, handle, nullptr, attrs, &record, &s);
    CFRelease(attrs);
    return s;
  };
  const int32_t format = static_cast<int32_t>(k2vuyPixelFormat);
  Recorder r;
  OSStatus err;
  ICMDecompressionSessionRef s = session_asking({{"PixelFormatType", format}}, &r, &err);
  ASSERT_EQ(err, noErr);
  for (size_t i = 0; i < 2; ++i) {
    ICMFrameTimeRecord t = TimeOf(stream.packets[i]);
    ICMDecompressionSessionDecodeFrame(s, stream.packets[i].data.data(), stream.packets[i].data.size(), nullptr, &t,
                                       nullptr);
  }
  ICMDecompressionSessionFlush(s);
  ICMDecompressionSessionRelease(s);
  ASSERT_EQ(r.pictures.size(), 2u);
  for (const Emitted& e : r.pictures) {
    EXPECT_EQ(e.width, stream.width);
    EXPECT_EQ(e.height, stream.height);
  }

  Recorder refused;
  EXPECT_EQ(session_asking({{"Width", 16384}, {"Height", 16384}, {"PixelFormatType", format}}, &refused, &err),
            nullptr);
  EXPECT_EQ(err, paramErr);
}

// Accuracy and field mode, on an interlaced H.264 stream.
std::vector<Emitted> DecodeWith(int32_t accuracy, int32_t field_mode, bool change_after_create = false) {
  Stream stream;
  EXPECT_TRUE(LoadStream(Fixture("interlaced.mov"), &stream));
  ICMDecompressionSessionOptionsRef options = nullptr;
  EXPECT_EQ(ICMDecompressionSessionOptionsCreate(kCFAllocatorDefault, &options), noErr);
  auto set = [&] {
    EXPECT_EQ(
        ICMDecompressionSessionOptionsSetProperty(options, kQTPropertyClass_ICMDecompressionSessionOptions,
                                                  kICMDecompressionSessionOptionsPropertyID_Accuracy, 4, &accuracy),
        noErr);
    EXPECT_EQ(
        ICMDecompressionSessionOptionsSetProperty(options, kQTPropertyClass_ICMDecompressionSessionOptions,
                                                  kICMDecompressionSessionOptionsPropertyID_FieldMode, 4, &field_mode),
        noErr);
  };
  if (!change_after_create) set();
  Recorder r;
  r.keep_rows = true;
  OSStatus err;
  ICMDecompressionSessionRef s = MakeSession(stream, k2vuyPixelFormat, &r, &err, options);
  ICMDecompressionSessionOptionsRelease(options);  // the session keeps its own reference
  if (change_after_create) set();
  for (auto& p : stream.packets) {
    ICMFrameTimeRecord t = TimeOf(p);
    ICMDecompressionSessionDecodeFrame(s, p.data.data(), p.data.size(), nullptr, &t, nullptr);
  }
  ICMDecompressionSessionFlush(s);
  ICMDecompressionSessionRelease(s);
  return r.pictures;
}

TEST(DecompressionSession, AccuracyAndFieldModeChangeThePictures) {
  std::vector<std::string> md5 = ReadLines(Fixture("interlaced.mov.uyvy422.md5"));
  std::vector<Emitted> normal = DecodeWith(codecNormalQuality, kICMFieldMode_BothFields);
  ASSERT_EQ(normal.size(), md5.size());
  for (size_t i = 0; i < md5.size(); ++i) EXPECT_EQ(normal[i].md5, md5[i]);
  // High quality interpolates the chroma as ffmpeg's default; max and
  // lossless also round accurately, bit-exact.
  for (auto [accuracy, oracle] :
       {std::pair{codecHighQuality, "hq"}, std::pair{codecMaxQuality, "max"}, std::pair{codecLosslessQuality, "max"}}) {
    SCOPED_TRACE(accuracy);
    std::vector<std::string> expected = ReadLines(Fixture(std::string("interlaced.mov.uyvy422.") + oracle + ".md5"));
    std::vector<Emitted> pictures = DecodeWith(accuracy, kICMFieldMode_BothFields);
    ASSERT_EQ(pictures.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(pictures[i].md5, expected[i]) << i;
      EXPECT_NE(pictures[i].md5, md5[i]) << i;
    }
  }

  std::vector<Emitted> low = DecodeWith(codecLowQuality, kICMFieldMode_BothFields);
  std::vector<Emitted> top = DecodeWith(codecNormalQuality, kICMFieldMode_TopFieldOnly);
  std::vector<Emitted> bottom = DecodeWith(codecNormalQuality, kICMFieldMode_BottomFieldOnly);
  std::vector<Emitted> deint = DecodeWith(codecNormalQuality, kICMFieldMode_DeinterlaceFields);
  std::vector<Emitted> late_top = DecodeWith(codecNormalQuality, kICMFieldMode_TopFieldOnly, true);
  ASSERT_EQ(low.size(), md5.size());
  ASSERT_EQ(top.size(), md5.size());
  ASSERT_EQ(bottom.size(), md5.size());
  ASSERT_EQ(deint.size(), md5.size());
  ASSERT_EQ(late_top.size(), md5.size());
  int low_differs = 0;
  size_t row = 320 * 2;  // 320 x 480: two 240-line fields woven
  for (size_t i = 0; i < md5.size(); ++i) {
    low_differs += low[i].md5 != md5[i];
    EXPECT_NE(top[i].md5, md5[i]);
    EXPECT_NE(top[i].md5, bottom[i].md5);
    EXPECT_NE(deint[i].md5, md5[i]);
    EXPECT_EQ(late_top[i].md5, top[i].md5);  // set on the options of a live session
    for (int y = 0; y + 1 < 480; y += 2) {
      ASSERT_EQ(memcmp(&top[i].rows[y * row], &top[i].rows[(y + 1) * row], row), 0) << y;
      ASSERT_EQ(memcmp(&bottom[i].rows[y * row], &bottom[i].rows[(y + 1) * row], row), 0) << y;
    }
    // Deinterlacing keeps the top field's lines.
    for (int y = 0; y < 480; y += 2) ASSERT_EQ(memcmp(&deint[i].rows[y * row], &normal[i].rows[y * row], row), 0);
  }
  EXPECT_GT(low_differs, 0);
}

TEST(DecompressionSessionOptions, PropertiesRoundTripAndBadOnesAreRefused) {
  ICMDecompressionSessionOptionsRef o = nullptr;
  ASSERT_EQ(ICMDecompressionSessionOptionsCreate(kCFAllocatorDefault, &o), noErr);
  int32_t v = -1;
  ByteCount used = 0;
  EXPECT_EQ(ICMDecompressionSessionOptionsGetProperty(o, 'idso', 'acur', 4, &v, &used), noErr);
  EXPECT_EQ(v, codecNormalQuality);
  EXPECT_EQ(used, 4u);
  EXPECT_EQ(ICMDecompressionSessionOptionsGetProperty(o, 'idso', 'fiel', 4, &v, nullptr), noErr);
  EXPECT_EQ(v, 0);
  v = codecLosslessQuality;
  EXPECT_EQ(ICMDecompressionSessionOptionsSetProperty(o, 'idso', 'acur', 4, &v), noErr);
  v = 0;
  EXPECT_EQ(ICMDecompressionSessionOptionsGetProperty(o, 'idso', 'acur', 4, &v, nullptr), noErr);
  EXPECT_EQ(v, codecLosslessQuality);
  EXPECT_EQ(ICMDecompressionSessionOptionsSetProperty(o, 'idso', 'acur', 2, &v), kQTPropertyBadValueSizeErr);
  EXPECT_EQ(ICMDecompressionSessionOptionsSetProperty(o, 'idso', 'what', 4, &v), kQTPropertyNotSupportedErr);
  EXPECT_EQ(ICMDecompressionSessionOptionsSetProperty(o, 'xxxx', 'acur', 4, &v), kQTPropertyNotSupportedErr);
  v = 4;
  EXPECT_EQ(ICMDecompressionSessionOptionsSetProperty(o, 'idso', 'fiel', 4, &v), paramErr);
  EXPECT_EQ(ICMDecompressionSessionOptionsGetProperty(o, 'idso', 'fiel', 4, nullptr, nullptr), paramErr);
  ICMDecompressionSessionOptionsRelease(o);
}

TEST(CoreFoundation, NumbersStringsAndDictionaries) {
  CFStringRef a = __CFStringMakeConstantString("Width");
  EXPECT_EQ(a, __CFStringMakeConstantString("Width"));
  EXPECT_NE(a, __CFStringMakeConstantString("Height"));
  int32_t x = 7;
  EXPECT_EQ(CFNumberCreate(kCFAllocatorDefault, 4 /* SInt64 */, &x), nullptr);
  EXPECT_EQ(CFDictionaryCreateMutable(kCFAllocatorDefault, 0, nullptr, nullptr), nullptr);
  CFMutableDictionaryRef d = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                                       &kCFTypeDictionaryValueCallBacks);
  ASSERT_NE(d, nullptr);
  CFNumberRef n = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &x);
  CFDictionarySetValue(d, a, n);
  CFDictionarySetValue(d, a, n);  // replaces
  CFRelease(n);                   // the dictionary keeps it
  CFDictionarySetValue(d, __CFStringMakeConstantString("B"), kCFBooleanTrue);
  CFRelease(d);
  CFRelease(kCFBooleanTrue);  // constants ignore release
  CFRelease(a);
  EXPECT_EQ(a, __CFStringMakeConstantString("Width"));
}

}  // namespace
}  // namespace qtm::test
