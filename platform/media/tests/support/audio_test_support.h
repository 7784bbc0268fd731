// Helpers for the audio extraction tests: a movie record made by hand for a
// fixture, output formats, whole-stream extraction and the oracle files.
#ifndef QTMEDIA_TESTS_AUDIO_TEST_SUPPORT_H
#define QTMEDIA_TESTS_AUDIO_TEST_SUPPORT_H

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "api/records.h"
#include "qtmedia.h"

namespace qtm::test {

inline std::string Fixture(const std::string& name) {
  const char* dir = getenv("KESTREL_FIXTURES");
  return std::string(dir ? dir : ".") + "/" + name;
}

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A movie of one sound track over a fixture. QuickTime-family files name the
// stream by track id, the others (imported) by stream index.
inline std::unique_ptr<MovieRecord> SoundMovie(const std::string& name, uint32_t track_id = 1) {
  auto movie = std::make_unique<MovieRecord>();
  movie->model = std::make_unique<MovieModel>();
  movie->model->path = Fixture(name);
  movie->model->source = OpenFileSource(movie->model->path);
  std::string ext = name.substr(name.rfind('.') + 1);
  movie->model->imported = !(ext == "mov" || ext == "mp4" || ext == "m4a");
  movie->model->timescale = 1000;
  auto track = std::make_unique<TrackModel>();
  track->media_type = SoundMediaType;
  track->track_id = track_id;
  track->source_stream = 0;
  movie->model->tracks.push_back(std::move(track));
  return movie;
}

// Packed, interleaved little-endian PCM: signed, but unsigned for 8 bits
// unless signed8.
inline AudioStreamBasicDescription PcmFormat(double rate, uint32_t channels, uint32_t bits, bool signed8 = false) {
  AudioStreamBasicDescription f{};
  f.mSampleRate = rate;
  f.mFormatID = kAudioFormatLinearPCM;
  f.mFormatFlags = kAudioFormatFlagIsPacked | ((bits > 8 || signed8) ? kAudioFormatFlagIsSignedInteger : 0);
  f.mBytesPerFrame = f.mBytesPerPacket = bits / 8 * channels;
  f.mFramesPerPacket = 1;
  f.mChannelsPerFrame = channels;
  f.mBitsPerChannel = bits;
  return f;
}

// An extraction session over a hand-made movie; ended on destruction.
class Extraction {
 public:
  explicit Extraction(const std::string& name, uint32_t track_id = 1) : movie_(SoundMovie(name, track_id)) {
    status_ = MovieAudioExtractionBegin(movie_.get(), 0, &ref_);
  }
  ~Extraction() {
    if (ref_) MovieAudioExtractionEnd(ref_);
  }
  OSStatus status() const { return status_; }
  MovieAudioExtractionRef ref() const { return ref_; }

  AudioStreamBasicDescription Format() const {
    AudioStreamBasicDescription f{};
    MovieAudioExtractionGetProperty(ref_, kQTPropertyClass_MovieAudioExtraction_Audio,
                                    kQTMovieAudioExtractionAudioPropertyID_AudioStreamBasicDescription, sizeof f, &f,
                                    nullptr);
    return f;
  }
  OSStatus SetFormat(const AudioStreamBasicDescription& f) {
    format_ = f;
    return MovieAudioExtractionSetProperty(ref_, kQTPropertyClass_MovieAudioExtraction_Audio,
                                           kQTMovieAudioExtractionAudioPropertyID_AudioStreamBasicDescription, sizeof f,
                                           &f);
  }
  OSStatus SetPcm(uint32_t bits, bool signed8 = false) {
    AudioStreamBasicDescription f = Format();
    return SetFormat(PcmFormat(f.mSampleRate, f.mChannelsPerFrame, bits, signed8));
  }
  AudioChannelLayoutTag LayoutTag() const {
    AudioChannelLayout layout{};
    MovieAudioExtractionGetProperty(ref_, kQTPropertyClass_MovieAudioExtraction_Audio,
                                    kQTMovieAudioExtractionAudioPropertyID_AudioChannelLayout, sizeof layout, &layout,
                                    nullptr);
    return layout.mChannelLayoutTag;
  }
  OSStatus SetLayoutTag(AudioChannelLayoutTag tag) {
    AudioChannelLayout layout{};
    layout.mChannelLayoutTag = tag;
    return MovieAudioExtractionSetProperty(ref_, kQTPropertyClass_MovieAudioExtraction_Audio,
                                           kQTMovieAudioExtractionAudioPropertyID_AudioChannelLayout, sizeof layout,
                                           &layout);
  }
  TimeRecord Time() const {
    TimeRecord t{};
    MovieAudioExtractionGetProperty(ref_, kQTPropertyClass_MovieAudioExtraction_Movie,
                                    kQTMovieAudioExtractionMoviePropertyID_CurrentTime, sizeof t, &t, nullptr);
    return t;
  }
  OSStatus Seek(int64_t value, int32_t scale) {
    TimeRecord t{value, scale, nullptr};
    return MovieAudioExtractionSetProperty(ref_, kQTPropertyClass_MovieAudioExtraction_Movie,
                                           kQTMovieAudioExtractionMoviePropertyID_CurrentTime, sizeof t, &t);
  }

  // One fill of up to frames frames into buffer; the frames delivered.
  uint32_t Fill(uint32_t frames, std::vector<uint8_t>* buffer, uint32_t* flags, OSStatus* err = nullptr) {
    buffer->resize(size_t{frames} * format_.mBytesPerFrame);
    AudioBufferList list{};
    list.mNumberBuffers = 1;
    list.mBuffers[0].mNumberChannels = format_.mChannelsPerFrame;
    list.mBuffers[0].mDataByteSize = static_cast<uint32_t>(buffer->size());
    list.mBuffers[0].mData = buffer->data();
    OSStatus e = MovieAudioExtractionFillBuffer(ref_, &frames, &list, flags);
    if (err) *err = e;
    buffer->resize(list.mBuffers[0].mDataByteSize);
    return e == noErr ? frames : 0;
  }

  // Everything up to the end, fill after fill. Every fill but the last full.
  std::vector<uint8_t> ExtractAll(uint32_t frames_per_fill, bool* all_full = nullptr) {
    std::vector<uint8_t> out, buffer;
    bool full = true, short_seen = false;
    for (int i = 0; i < 1000000; ++i) {
      uint32_t flags = 0;
      uint32_t n = Fill(frames_per_fill, &buffer, &flags);
      if (n == 0) break;
      if (short_seen) full = false;
      if (n < frames_per_fill) short_seen = true;
      out.insert(out.end(), buffer.begin(), buffer.end());
      if (flags & kQTMovieAudioExtractionComplete) break;
    }
    if (all_full) *all_full = full;
    return out;
  }

 private:
  std::unique_ptr<MovieRecord> movie_;
  MovieAudioExtractionRef ref_ = nullptr;
  OSStatus status_ = noErr;
  AudioStreamBasicDescription format_{};
};

}  // namespace qtm::test

#endif
