// Time code: the frame-number arithmetic, the description, and the 'tmcd'
// handler on a time-code track built in memory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "api/records.h"
#include "timecode/time_code_handler.h"

namespace {

std::string Text(const TimeCodeRecord& r) {
  char buf[32];
  snprintf(buf, sizeof buf, "%s%02d:%02d:%02d:%02d", (r.t.minutes & tctNegFlag) ? "-" : "", r.t.hours,
           r.t.minutes & 0x7F, r.t.seconds, r.t.frames);
  return buf;
}

std::string At(const TimeCodeDef& def, int64_t frame) {
  TimeCodeRecord r;
  OSErr err = qtm::TimeCodeOfFrame(def, frame, &r);
  return err == noErr ? Text(r) : "<" + std::to_string(err) + ">";
}

TimeCodeDef Def(int32_t flags, int32_t scale, int32_t duration, int frames) {
  TimeCodeDef d = {};
  d.flags = flags;
  d.fTimeScale = scale;
  d.frameDuration = duration;
  d.numFrames = static_cast<uint8_t>(frames);
  return d;
}

std::vector<uint8_t> Description(const TimeCodeDef& def, size_t size = sizeof(TimeCodeDescription)) {
  TimeCodeDescription d = {};
  d.descSize = static_cast<int32_t>(size);
  d.dataFormat = TimeCodeMediaType;
  d.dataRefIndex = 1;
  d.timeCodeDef = def;
  std::vector<uint8_t> out(size, 0);
  memcpy(out.data(), &d, std::min(size, sizeof d));
  return out;
}

class MemorySource : public qtm::DataSource {
 public:
  explicit MemorySource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  bool ReadAt(uint64_t offset, void* dst, size_t size) const override {
    if (offset > bytes_.size() || size > bytes_.size() - offset) return false;
    memcpy(dst, bytes_.data() + offset, size);
    return true;
  }
  uint64_t Size() const override { return bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
};

// Samples one after another, each 4 bytes at offset 4 * index.
class ListTable : public qtm::SampleTable {
 public:
  explicit ListTable(std::vector<qtm::SampleInfo> s) : s_(std::move(s)) {}
  uint32_t Count() const override { return static_cast<uint32_t>(s_.size()); }
  bool Get(uint32_t i, qtm::SampleInfo* out) const override {
    if (i >= s_.size()) return false;
    *out = s_[i];
    return true;
  }
  int64_t IndexAtDecodeTime(int64_t t) const override {
    for (size_t i = 0; i < s_.size(); ++i)
      if (t >= s_[i].decode_time && t < s_[i].decode_time + s_[i].duration) return static_cast<int64_t>(i);
    return -1;
  }
  int64_t TotalDuration() const override {
    int64_t sum = 0;
    for (const auto& s : s_) sum += s.duration;
    return sum;
  }
  // The rest of the table interface, unused by the handler.
  int64_t LastStartAtOrBefore(int64_t) const { return -1; }
  int64_t NextSync(int64_t) const { return -1; }
  int64_t PreviousSync(int64_t) const { return -1; }
  uint32_t SyncCount() const { return Count(); }
  size_t MemoryBytes() const { return 0; }

 private:
  std::vector<qtm::SampleInfo> s_;
};

// A movie with one time-code track: samples (start frame, duration) in
// media time units of the given scale.
struct TimeCodeMovie {
  MovieRecord movie;
  MediaRecord* media = nullptr;

  TimeCodeMovie(int32_t media_scale, std::vector<std::vector<uint8_t>> descriptions,
                std::vector<std::pair<int32_t, int64_t>> samples, uint32_t sample_size = 4) {
    movie.model = std::make_unique<qtm::MovieModel>();
    auto track = std::make_unique<qtm::TrackModel>();
    track->media_type = TimeCodeMediaType;
    track->timescale = media_scale;
    track->descriptions = std::move(descriptions);
    std::vector<uint8_t> bytes;
    std::vector<qtm::SampleInfo> infos;
    int64_t t = 0;
    for (const auto& [start, duration] : samples) {
      qtm::SampleInfo info;
      info.decode_time = t;
      info.duration = duration;
      info.offset = bytes.size();
      info.size = sample_size;
      uint32_t v = static_cast<uint32_t>(start);
      bytes.insert(bytes.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
      infos.push_back(info);
      t += duration;
    }
    track->samples = std::make_unique<ListTable>(std::move(infos));
    movie.model->source = std::make_shared<MemorySource>(std::move(bytes));
    movie.model->tracks.push_back(std::move(track));
    auto record = std::make_unique<TrackRecord>();
    record->movie = &movie;
    record->track = movie.model->tracks.back().get();
    record->media.movie = &movie;
    record->media.track = record->track;
    media = &record->media;
    movie.tracks.push_back(std::move(record));
  }
  ~TimeCodeMovie() { qtm::DisposeMediaHandler(media->handler); }

  MediaHandler Handler() {
    if (!media->handler) media->handler = qtm::CreateTimeCodeHandler(media->track, movie.model.get());
    return media->handler;
  }
};

std::string Ask(MediaHandler h, TimeValue t, int32_t* frame = nullptr, TimeCodeDef* def = nullptr) {
  TimeCodeDef d;
  TimeCodeRecord r;
  HandlerError err = TCGetTimeCodeAtTime(h, t, frame, def ? def : &d, &r, nullptr);
  return err == noErr ? Text(r) : "<" + std::to_string(err) + ">";
}

}  // namespace

TEST(TimeCode, DropFrameCounting) {
  TimeCodeDef df = Def(tcDropFrame | tc24HourMax, 30000, 1001, 30);
  EXPECT_EQ(At(df, 0), "00:00:00:00");
  EXPECT_EQ(At(df, 1799), "00:00:59:29");
  EXPECT_EQ(At(df, 1800), "00:01:00:02");  // labels 0 and 1 skipped
  EXPECT_EQ(At(df, 3597), "00:01:59:29");
  EXPECT_EQ(At(df, 3598), "00:02:00:02");
  EXPECT_EQ(At(df, 17981), "00:09:59:29");
  EXPECT_EQ(At(df, 17982), "00:10:00:00");  // but not at each tenth minute
  EXPECT_EQ(At(df, 19782), "00:11:00:02");
  EXPECT_EQ(At(df, 107892), "01:00:00:00");
  EXPECT_EQ(At(df, 107892 * 24), "00:00:00:00");  // 24-hour wrap
  EXPECT_EQ(At(df, 107892 * 24 - 1), "23:59:59:29");
  // 59.94: four labels dropped.
  TimeCodeDef df60 = Def(tcDropFrame, 60000, 1001, 60);
  EXPECT_EQ(At(df60, 3600), "00:01:00:04");
  EXPECT_EQ(At(df60, 35964), "00:10:00:00");
  // The flag means nothing at 25 frames.
  EXPECT_EQ(At(Def(tcDropFrame, 25, 1, 25), 1500), "00:01:00:00");
}

TEST(TimeCode, NonDropWrapNegativeAndCounter) {
  TimeCodeDef nd = Def(0, 25, 1, 25);
  EXPECT_EQ(At(nd, 90000), "01:00:00:00");
  EXPECT_EQ(At(nd, 90000 + 25 * 61 + 7), "01:01:01:07");
  EXPECT_EQ(At(nd, 25 * 3600 * 30), "30:00:00:00");  // no wrap without the flag
  EXPECT_EQ(At(nd, -1), "<-2015>");
  EXPECT_EQ(At(nd, int64_t{25} * 3600 * 256), "<-2015>");  // hours do not fit a byte
  EXPECT_EQ(At(Def(tc24HourMax, 25, 1, 25), 25 * 3600 * 25 + 3), "01:00:00:03");
  EXPECT_EQ(At(Def(tc24HourMax, 25, 1, 25), -1), "23:59:59:24");
  EXPECT_EQ(At(Def(tcNegTimesOK, 25, 1, 25), -26), "-00:00:01:01");
  TimeCodeRecord r;
  ASSERT_EQ(qtm::TimeCodeOfFrame(Def(tcCounter, 25, 1, 25), 12345, &r), noErr);
  EXPECT_EQ(r.c.value, 12345);
}

TEST(TimeCode, DescriptionIsCheckedBeforeUse) {
  TimeCodeDef def;
  EXPECT_EQ(qtm::ReadTimeCodeDef(Description(Def(1, 30000, 1001, 30)), &def), noErr);
  EXPECT_EQ(def.flags, 1);
  EXPECT_EQ(def.fTimeScale, 30000);
  EXPECT_EQ(def.frameDuration, 1001);
  EXPECT_EQ(def.numFrames, 30);
  EXPECT_EQ(qtm::ReadTimeCodeDef(Description(Def(1, 30000, 1001, 30), 33), &def), badFileFormat);
  EXPECT_EQ(qtm::ReadTimeCodeDef(Description(Def(0, 30000, 0, 30)), &def), badFileFormat);
  EXPECT_EQ(qtm::ReadTimeCodeDef(Description(Def(0, 0, 1001, 30)), &def), badFileFormat);
  EXPECT_EQ(qtm::ReadTimeCodeDef(Description(Def(0, 30000, 1001, 0)), &def), badFileFormat);
  EXPECT_EQ(qtm::ReadTimeCodeDef(Description(Def(0, -25, -1, 25)), &def), badFileFormat);
}

TEST(TimeCode, HandlerReadsStartFramesFromSamples) {
  // 29.97 drop-frame starting at 01:00:00;00, media scale 30000.
  TimeCodeMovie m(30000, {Description(Def(tcDropFrame | tc24HourMax, 30000, 1001, 30))}, {{107892, 30030}});
  MediaHandler h = m.Handler();
  ASSERT_NE(h, nullptr);
  int32_t frame = -1;
  TimeCodeDef def = {};
  EXPECT_EQ(Ask(h, 0, &frame, &def), "01:00:00:00");
  EXPECT_EQ(frame, 107892);
  EXPECT_EQ(def.flags & tcDropFrame, 1);
  EXPECT_EQ(def.numFrames, 30);
  EXPECT_EQ(Ask(h, 1000), "01:00:00:00");
  EXPECT_EQ(Ask(h, 1001, &frame), "01:00:00:01");
  EXPECT_EQ(frame, 107893);
  EXPECT_EQ(Ask(h, 29 * 1001), "01:00:00:29");
  // Past the last sample the count goes on; before the start there is nothing.
  EXPECT_EQ(Ask(h, 60 * 1001), "01:00:02:00");
  EXPECT_EQ(Ask(h, -1), "<-2015>");
  // Source identification is not given.
  UserData src = reinterpret_cast<UserData>(&m);
  TimeCodeDef d;
  TimeCodeRecord r;
  EXPECT_EQ(TCGetTimeCodeAtTime(h, 0, nullptr, &d, &r, &src), noErr);
  EXPECT_EQ(src, nullptr);
}

TEST(TimeCode, MediaScaleDiffersFromDefinitionScale) {
  // A time-code media in 2997 units per second with a 30000-unit definition;
  // two samples, the second restarting at 10:00:00;00.
  TimeCodeMovie m(2997, {Description(Def(tcDropFrame, 30000, 1001, 30))}, {{0, 5994}, {1078920, 2997}});
  MediaHandler h = m.Handler();
  EXPECT_EQ(Ask(h, 5993), "00:00:01:29");
  EXPECT_EQ(Ask(h, 100), "00:00:00:01");
  EXPECT_EQ(Ask(h, 5994), "10:00:00:00");
  // One second of 29.97 is 29.97 frames: still frame 29.
  EXPECT_EQ(Ask(h, 5994 + 2997), "10:00:00:29");
  // A 600-unit video at 1200 is asked for at 1200 * 2997 / 600 = 5994.
  EXPECT_EQ(int64_t{1200} * 2997 / 600, 5994);
}

TEST(TimeCode, BrokenTracksFailCleanly) {
  TimeCodeMovie zero(30000, {Description(Def(0, 30000, 0, 0))}, {{0, 30000}});
  EXPECT_EQ(Ask(zero.Handler(), 0), "<-208>");
  TimeCodeMovie shortdesc(30000, {Description(Def(0, 30000, 1001, 30), 20)}, {{0, 30000}});
  EXPECT_EQ(Ask(shortdesc.Handler(), 0), "<-208>");
  TimeCodeMovie nodesc(30000, {}, {{0, 30000}});
  EXPECT_EQ(Ask(nodesc.Handler(), 0), "<-208>");
  TimeCodeMovie tiny(30000, {Description(Def(0, 30000, 1001, 30))}, {{0, 30000}}, 2);
  EXPECT_EQ(Ask(tiny.Handler(), 0), "<-208>");
  TimeCodeMovie empty(30000, {Description(Def(0, 30000, 1001, 30))}, {});
  EXPECT_EQ(Ask(empty.Handler(), 0), "<-2008>");
  TimeCodeMovie past(30000, {Description(Def(0, 30000, 1001, 30))}, {{0, 30000}}, 4);
  past.movie.model->source = std::make_shared<MemorySource>(std::vector<uint8_t>(2));  // data cut short
  EXPECT_EQ(Ask(past.Handler(), 0), "<-208>");
  // Not a time-code handler, or none.
  EXPECT_EQ(Ask(nullptr, 0), "<-50>");
  // Only a 'tmcd' media gets a handler.
  TimeCodeMovie video(600, {}, {});
  video.movie.model->tracks[0]->media_type = VideoMediaType;
  EXPECT_EQ(video.Handler(), nullptr);
}
