// Native decompression-session tests: packets from libavformat (media time,
// edit list ignored), an image description built from the stream, and a
// tracking callback that records what the session emits.
#ifndef QTMEDIA_TESTS_ICM_TEST_SUPPORT_H
#define QTMEDIA_TESTS_ICM_TEST_SUPPORT_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "qtmedia.h"

namespace qtm::test {

std::string Fixture(const std::string& name);
std::vector<std::string> ReadLines(const std::string& path);

struct Packet {
  std::vector<uint8_t> data;
  int64_t dts = 0, pts = 0, duration = 0;
  bool key = false;
};

struct Stream {
  std::vector<uint8_t> description;  // ImageDescription plus extension atoms
  std::vector<Packet> packets;       // decode order
  int width = 0, height = 0;
};

// False when the file cannot be read.
bool LoadStream(const std::string& path, Stream* out);

struct Emitted {
  std::string md5;  // of the tight rows
  int64_t time = 0, duration = 0;
  uint32_t valid = 0;
  int width = 0, height = 0;
  OSType format = 0;
  std::vector<uint8_t> rows;  // tight rows, kept when Recorder::keep_rows
};

struct Recorder {
  std::vector<Emitted> pictures;
  std::map<void*, int> releases;
  int dropped = 0;
  bool keep_rows = false;
  // With keep_unlocked, each emitted buffer is retained into unlocked and
  // neither locked nor read (the caller releases them).
  bool keep_unlocked = false;
  std::vector<CVPixelBufferRef> unlocked;
  ICMDecompressionTrackingCallbackRecord Record();
};

// A session for the stream with the given output format and size (0: the
// stream's), or null with *err set.
ICMDecompressionSessionRef MakeSession(const Stream& stream, OSType format, Recorder* recorder, OSStatus* err,
                                       ICMDecompressionSessionOptionsRef options = nullptr, int width = 0,
                                       int height = 0);

ICMFrameTimeRecord TimeOf(const Packet& p, int32_t flags = 0);

std::string Md5(const uint8_t* data, size_t size);

}  // namespace qtm::test

#endif
