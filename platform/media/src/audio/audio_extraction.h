// One movie audio extraction session: the sound track's stream demuxed and
// decoded with FFmpeg, converted to the session's output format and layout,
// and handed out frame-exactly in movie order.
//
// Demuxing the track's own stream with libavformat applies its edit list and
// the encoder's priming the way the ffmpeg tool does, so the PCM matches what
// `ffmpeg -i FILE -f s16le` gives. Only one sound track is extracted: the
// movie's first enabled one (the engine does not mix tracks).
//
// Once filling starts, a thread of the session's own decodes up to two fills
// ahead while the caller hands the last fill on. The decoder (format, codec,
// resampler) belongs to that thread while it runs; every other call parks it
// first and decodes on the caller's thread until the next fill.
#ifndef QTMEDIA_AUDIO_AUDIO_EXTRACTION_H
#define QTMEDIA_AUDIO_AUDIO_EXTRACTION_H

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

#include "audio/channel_layout.h"
#include "qtmedia.h"
#include "sync/mutex.h"

namespace qtm {

class DataSource;
class FormatInput;
struct MovieModel;
struct TrackModel;

class AudioExtraction {
 public:
  // Where the sound comes from: the movie's file and which of its streams.
  struct Source {
    std::shared_ptr<DataSource> data;  // the file's bytes
    std::string path;
    bool imported = false;  // stream chosen by index, else by track id
    uint32_t track_id = 0;
    int source_stream = -1;
    int32_t movie_timescale = 0;  // the scale of positions handed out
    bool encrypted = false;       // 'enca' samples, which nothing here decrypts
    // The movie's other tracks ('trak' offsets): libavformat reads them as
    // free space, so that their tables cost nothing here.
    std::vector<uint64_t> other_tracks;
  };

  // The source of a movie's first enabled sound track; false when it has none.
  static bool SourceOfMovie(const MovieModel& movie, Source* out);

  // noErr with *out set, or a QuickTime error (file, stream or decoder;
  // noCodecErr for encrypted sound, which would decode into noise).
  static OSStatus Open(const Source& source, std::unique_ptr<AudioExtraction>* out);
  ~AudioExtraction();
  AudioExtraction(const AudioExtraction&) = delete;
  AudioExtraction& operator=(const AudioExtraction&) = delete;

  // Output format: by default the source's rate and channels as 32-bit
  // float, non-interleaved. Accepted: linear PCM, little-endian, packed,
  // integer of 8 (unsigned unless flagged signed), 16, 24 or 32 bits, or
  // float of 32 or 64 bits; interleaved or not.
  const AudioStreamBasicDescription& OutputFormat() const { return output_; }
  OSStatus SetOutputFormat(const AudioStreamBasicDescription& format);

  // Output layout: by default the source's. A new layout must have the
  // output's channel count; channels are reordered (and mixed only when the
  // source lacks a speaker of the layout).
  const CoreAudioLayout& OutputLayout() const { return layout_; }
  OSStatus SetOutputLayout(const CoreAudioLayout& layout);

  // Delivers *frames frames (fewer only at the end of the data, or when the
  // buffers are smaller) into list, rewriting *frames and each buffer's byte
  // size. *flags gets kQTMovieAudioExtractionComplete once nothing is left.
  // memFullErr, with no frames, once the decoded sound could not be held.
  OSStatus Fill(uint32_t* frames, AudioBufferList* list, uint32_t* flags);

  // The movie time of the next frame to be delivered, in the movie's scale.
  OSStatus GetCurrentTime(TimeRecord* time);
  // Moves the position; the next fill starts exactly there.
  OSStatus SetCurrentTime(const TimeRecord& time);

 private:
  AudioExtraction() = default;

  int OutputRate() const;
  bool Planar() const;
  OSStatus Configure();
  bool BuildResampler(const AVChannelLayout& layout, AVSampleFormat format, int rate);
  bool DecodeOneFrame();
  bool Convert(const AVFrame* frame);
  bool Reserve(int64_t frames);
  void Append(int64_t frames);
  void Pack(int64_t frames, AudioBufferList* list) const;
  void Consume(int64_t frames);
  OSStatus SeekToSample(int64_t target);
  bool PrimePosition();
  void DecodeAhead();
  bool ResumeAhead(int64_t frames);
  bool AwaitAhead(int64_t frames);
  void Park();

  Source source_;
  std::unique_ptr<FormatInput> input_;
  AVFormatContext* format_ = nullptr;  // input_'s
  AVStream* stream_ = nullptr;
  AVCodecContext* codec_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  SwrContext* swr_ = nullptr;
  AVChannelLayout swr_in_layout_{};
  AVSampleFormat swr_in_format_ = AV_SAMPLE_FMT_NONE;
  int swr_in_rate_ = 0;

  AudioStreamBasicDescription output_{};
  CoreAudioLayout layout_;
  bool configured_ = false;
  bool started_ = false;  // something was decoded since the last configuration

  // Converted, not yet delivered frames in the working layout: a plane a
  // channel, or one plane of interleaved frames.
  AVSampleFormat work_format_ = AV_SAMPLE_FMT_NONE;
  AVChannelLayout work_layout_{};
  std::vector<int> plane_of_output_;  // output channel -> working plane
  bool packed_work_ = false;          // interleaved working samples, one plane
  int work_sample_bytes_ = 0;         // per plane and frame
  std::vector<std::vector<uint8_t>> planes_;
  std::vector<uint8_t*> plane_pointers_;
  int64_t capacity_ = 0;  // frames each plane holds
  int64_t begin_ = 0;     // first pending frame in the planes
  int64_t pending_ = 0;   // pending frame count
  int64_t position_ = 0;  // output-rate sample index of the first pending frame
  bool position_known_ = false;
  int64_t seek_target_ = INT64_MIN;  // frames before it are dropped
  bool input_done_ = false;
  bool finished_ = false;
  bool out_of_memory_ = false;  // the pending planes could not grow: fills fail

  // Decoding ahead. lock_ guards the pending frames and their position,
  // finished_, out_of_memory_, and the fields below.
  std::thread ahead_;
  Mutex lock_;
  ConditionVariable wake_;    // to the thread: room, resume, quit
  ConditionVariable done_;    // to the caller: frames, parked
  int64_t ahead_frames_ = 0;  // the thread decodes while fewer are pending
  int64_t want_ = 0;          // frames a waiting caller needs
  int callers_waiting_ = 0;   // on done_: each step's end is told only to them
  bool park_ = true;
  bool busy_ = false;      // the thread is in a decoding step
  bool sleeping_ = false;  // the thread waits on wake_: only then is it woken
  bool quit_ = false;
  bool ahead_failed_ = false;  // no thread could be had: decode on the caller's
};

}  // namespace qtm

#endif
