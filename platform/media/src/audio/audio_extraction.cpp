#include "audio/audio_extraction.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

#include "movie/format_input.h"
#include "movie/four_cc.h"
#include "movie/movie_model.h"

namespace qtm {
namespace {

// Decoding starts this long before a seek target, so that codecs with
// overlapping frames (AAC, MP3) are fully primed when the target is reached.
constexpr int kPrerollMilliseconds = 100;
// Gaps in the timestamps longer than this are filled with silence, so that
// what follows a lost frame keeps its place; longer jumps are not filled.
constexpr int kMaxGapSeconds = 10;

bool SameLayout(const AVChannelLayout& a, const AVChannelLayout& b) { return av_channel_layout_compare(&a, &b) == 0; }

void CopyLayoutOrDefault(const AVChannelLayout& from, AVChannelLayout* to) {
  av_channel_layout_uninit(to);
  if (from.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_copy(to, &from) < 0)
    av_channel_layout_default(to, from.nb_channels);
}

}  // namespace

bool AudioExtraction::SourceOfMovie(const MovieModel& movie, Source* out) {
  for (const auto& track : movie.tracks) {
    if (track->media_type != SoundMediaType || !track->enabled) continue;
    out->other_tracks.clear();
    if (!movie.imported && track->trak_offset != 0) {
      for (const auto& other : movie.tracks) {
        if (other != track && other->trak_offset != 0) out->other_tracks.push_back(other->trak_offset);
      }
    }
    out->data = movie.source;
    out->path = movie.path;
    out->imported = movie.imported;
    out->track_id = track->track_id;
    out->source_stream = track->source_stream;
    out->movie_timescale = movie.timescale;
    SampleDescription head = {};
    if (!track->descriptions.empty() && track->descriptions[0].size() >= sizeof head)
      std::memcpy(&head, track->descriptions[0].data(), sizeof head);
    out->encrypted = static_cast<uint32_t>(head.dataFormat) == FourCC("enca");
    return true;
  }
  return false;
}

OSStatus AudioExtraction::Open(const Source& source, std::unique_ptr<AudioExtraction>* out) {
  if (source.encrypted) return noCodecErr;
  std::unique_ptr<AudioExtraction> x(new AudioExtraction());
  x->source_ = source;
  x->input_ = FormatInput::Open(source.data, source.path, source.other_tracks);
  if (!x->input_) return couldNotResolveDataRef;
  x->format_ = x->input_->context();

  auto pick = [&]() -> AVStream* {
    for (unsigned i = 0; i < x->format_->nb_streams; ++i) {
      AVStream* s = x->format_->streams[i];
      if (s->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
      if (source.imported ? static_cast<int>(i) == source.source_stream
                          : static_cast<uint32_t>(s->id) == source.track_id)
        return s;
    }
    return nullptr;
  };
  x->stream_ = pick();
  if (!x->stream_) {
    // Stream ids are known only after probing for some kinds.
    if (avformat_find_stream_info(x->format_, nullptr) < 0) return badFileFormat;
    x->stream_ = pick();
  }
  if (!x->stream_) {
    int best = av_find_best_stream(x->format_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (best < 0) return invalidTrack;
    x->stream_ = x->format_->streams[best];
  }
  AVCodecParameters* par = x->stream_->codecpar;
  if (par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0) {
    if (avformat_find_stream_info(x->format_, nullptr) < 0 || par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0)
      return badFileFormat;
  }
  for (unsigned i = 0; i < x->format_->nb_streams; ++i) {
    if (x->format_->streams[i] != x->stream_) x->format_->streams[i]->discard = AVDISCARD_ALL;
  }

  const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
  if (!decoder) return noCodecErr;
  x->codec_ = avcodec_alloc_context3(decoder);
  if (!x->codec_) return memFullErr;
  if (avcodec_parameters_to_context(x->codec_, par) < 0) return codecErr;
  x->codec_->pkt_timebase = x->stream_->time_base;
  x->codec_->thread_count = 1;
  if (avcodec_open2(x->codec_, decoder, nullptr) < 0) return noCodecErr;
  x->packet_ = av_packet_alloc();
  x->frame_ = av_frame_alloc();
  if (!x->packet_ || !x->frame_) return memFullErr;
  if (x->codec_->sample_rate <= 0) x->codec_->sample_rate = par->sample_rate;
  if (x->codec_->ch_layout.nb_channels <= 0) av_channel_layout_copy(&x->codec_->ch_layout, &par->ch_layout);

  AVChannelLayout source_layout{};
  CopyLayoutOrDefault(x->codec_->ch_layout, &source_layout);
  x->layout_ = LayoutOfSource(source_layout, par->codec_id);
  av_channel_layout_uninit(&source_layout);

  AudioStreamBasicDescription& f = x->output_;
  f.mSampleRate = x->codec_->sample_rate;
  f.mFormatID = kAudioFormatLinearPCM;
  f.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
  f.mBytesPerPacket = 4;
  f.mFramesPerPacket = 1;
  f.mBytesPerFrame = 4;
  f.mChannelsPerFrame = static_cast<uint32_t>(x->codec_->ch_layout.nb_channels);
  f.mBitsPerChannel = 32;
  *out = std::move(x);
  return noErr;
}

AudioExtraction::~AudioExtraction() {
  if (ahead_.joinable()) {
    {
      std::lock_guard<Mutex> guard(lock_);
      quit_ = true;
    }
    wake_.notify_one();
    ahead_.join();
  }
  swr_free(&swr_);
  av_frame_free(&frame_);
  av_packet_free(&packet_);
  avcodec_free_context(&codec_);
  input_.reset();
  av_channel_layout_uninit(&swr_in_layout_);
  av_channel_layout_uninit(&work_layout_);
}

int AudioExtraction::OutputRate() const { return static_cast<int>(output_.mSampleRate + 0.5); }

bool AudioExtraction::Planar() const { return (output_.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0; }

OSStatus AudioExtraction::SetOutputFormat(const AudioStreamBasicDescription& f) {
  if (f.mFormatID != kAudioFormatLinearPCM) return paramErr;
  if (!(f.mSampleRate >= 1.0 && f.mSampleRate <= 768000.0)) return paramErr;
  if (f.mChannelsPerFrame < 1 || f.mChannelsPerFrame > 64) return paramErr;
  if (f.mFormatFlags & (kAudioFormatFlagIsBigEndian | kAudioFormatFlagIsAlignedHigh)) return paramErr;
  bool is_float = (f.mFormatFlags & kAudioFormatFlagIsFloat) != 0;
  uint32_t bits = f.mBitsPerChannel;
  if (is_float ? (bits != 32 && bits != 64) : (bits != 8 && bits != 16 && bits != 24 && bits != 32)) return paramErr;
  bool planar = (f.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0;
  uint32_t frame_bytes = bits / 8 * (planar ? 1 : f.mChannelsPerFrame);
  if (f.mBytesPerFrame != frame_bytes || f.mFramesPerPacket != 1 || f.mBytesPerPacket != frame_bytes) return paramErr;

  Park();
  // Keep the position across the change: what is pending is in the old format.
  TimeRecord now{};
  bool reposition = started_;
  if (reposition) GetCurrentTime(&now);
  bool channels_changed = f.mChannelsPerFrame != output_.mChannelsPerFrame;
  output_ = f;
  output_.mReserved = 0;
  if (channels_changed) {
    layout_ = CoreAudioLayout();
    layout_.tag = kAudioChannelLayoutTag_Unknown | f.mChannelsPerFrame;
  }
  configured_ = false;
  if (reposition) return SetCurrentTime(now);
  return noErr;
}

OSStatus AudioExtraction::SetOutputLayout(const CoreAudioLayout& layout) {
  Park();  // the decoder rewrites its own layout while decoding
  AVChannelLayout source{};
  CopyLayoutOrDefault(codec_->ch_layout, &source);
  std::vector<AVChannel> channels;
  bool ok = ChannelsOfLayout(layout, source, &channels);
  av_channel_layout_uninit(&source);
  if (!ok || channels.size() != output_.mChannelsPerFrame) return paramErr;
  TimeRecord now{};
  bool reposition = started_;
  if (reposition) GetCurrentTime(&now);
  layout_ = layout;
  configured_ = false;
  if (reposition) return SetCurrentTime(now);
  return noErr;
}

// Builds the resampler from the decoder's format to the working format and
// layout, and the plane of each output channel.
OSStatus AudioExtraction::Configure() {
  AVChannelLayout source{};
  CopyLayoutOrDefault(codec_->ch_layout, &source);
  std::vector<AVChannel> channels;
  if (!ChannelsOfLayout(layout_, source, &channels) || channels.size() != output_.mChannelsPerFrame) {
    // An unknown layout of another count than the source's: FFmpeg's default order.
    AVChannelLayout fallback{};
    av_channel_layout_default(&fallback, static_cast<int>(output_.mChannelsPerFrame));
    channels.clear();
    for (int i = 0; i < fallback.nb_channels; ++i)
      channels.push_back(av_channel_layout_channel_from_index(&fallback, i));
    av_channel_layout_uninit(&fallback);
  }
  av_channel_layout_uninit(&work_layout_);
  std::vector<AVChannel> sorted_out = channels, sorted_in;
  for (int i = 0; i < source.nb_channels; ++i) sorted_in.push_back(av_channel_layout_channel_from_index(&source, i));
  std::sort(sorted_out.begin(), sorted_out.end());
  std::sort(sorted_in.begin(), sorted_in.end());
  if (sorted_out == sorted_in) {
    av_channel_layout_copy(&work_layout_, &source);  // a reordering only
  } else {
    uint64_t mask = 0;
    for (AVChannel ch : channels) {
      if (ch < 0 || ch >= 64) {
        av_channel_layout_uninit(&source);
        return paramErr;
      }
      mask |= 1ULL << ch;
    }
    av_channel_layout_from_mask(&work_layout_, mask);
  }
  av_channel_layout_uninit(&source);
  plane_of_output_.clear();
  for (AVChannel ch : channels) plane_of_output_.push_back(av_channel_layout_index_from_channel(&work_layout_, ch));

  bool is_float = (output_.mFormatFlags & kAudioFormatFlagIsFloat) != 0;
  switch (output_.mBitsPerChannel) {
    case 8:
      work_format_ = AV_SAMPLE_FMT_U8P;
      break;
    case 16:
      work_format_ = AV_SAMPLE_FMT_S16P;
      break;
    case 24:
      work_format_ = AV_SAMPLE_FMT_S32P;
      break;
    case 32:
      work_format_ = is_float ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S32P;
      break;
    default:
      work_format_ = AV_SAMPLE_FMT_DBLP;
      break;
  }
  // Interleaved output whose samples are the working samples, in the
  // working order (16-bit stereo and mono, the common case): the resampler
  // interleaves, and a fill is one copy.
  bool in_order = plane_of_output_.size() == static_cast<size_t>(work_layout_.nb_channels);
  for (size_t c = 0; c < plane_of_output_.size(); ++c)
    in_order = in_order && plane_of_output_[c] == static_cast<int>(c);
  const uint32_t bits = output_.mBitsPerChannel;
  const bool signed8 = bits == 8 && (output_.mFormatFlags & kAudioFormatFlagIsSignedInteger);
  packed_work_ = !Planar() && in_order && bits != 24 && !signed8;
  if (packed_work_) work_format_ = av_get_packed_sample_fmt(work_format_);
  work_sample_bytes_ = av_get_bytes_per_sample(work_format_) * (packed_work_ ? work_layout_.nb_channels : 1);

  if (!BuildResampler(codec_->ch_layout, codec_->sample_fmt, codec_->sample_rate)) return paramErr;

  planes_.assign(packed_work_ ? 1 : work_layout_.nb_channels, {});
  plane_pointers_.assign(planes_.size(), nullptr);
  capacity_ = begin_ = pending_ = 0;
  configured_ = true;
  return noErr;
}

// The resampler from the given input to the working format and layout. On
// failure there is none, and no input matches it: the next frame tries again.
bool AudioExtraction::BuildResampler(const AVChannelLayout& layout, AVSampleFormat format, int rate) {
  swr_free(&swr_);
  av_channel_layout_uninit(&swr_in_layout_);
  CopyLayoutOrDefault(layout, &swr_in_layout_);
  swr_in_format_ = format;
  swr_in_rate_ = rate;
  if (swr_alloc_set_opts2(&swr_, &work_layout_, work_format_, OutputRate(), &swr_in_layout_, swr_in_format_,
                          swr_in_rate_, 0, nullptr) < 0 ||
      swr_init(swr_) < 0) {
    swr_free(&swr_);
    swr_in_format_ = AV_SAMPLE_FMT_NONE;
    return false;
  }
  return true;
}

// Room for frames more pending frames, at the end of each plane; false
// (and out_of_memory_) when the planes cannot grow.
bool AudioExtraction::Reserve(int64_t frames) {
  if (begin_ > 0 && begin_ + pending_ + frames > capacity_) {
    for (auto& plane : planes_)
      memmove(plane.data(), plane.data() + begin_ * work_sample_bytes_, pending_ * work_sample_bytes_);
    begin_ = 0;
  }
  if (pending_ + frames > capacity_) {
    int64_t want = std::max<int64_t>(pending_ + frames, capacity_ * 3 / 2);
    try {
      for (auto& plane : planes_) plane.resize(want * work_sample_bytes_);
    } catch (const std::bad_alloc&) {
      out_of_memory_ = true;
      return false;
    }
    capacity_ = want;
  }
  for (size_t i = 0; i < planes_.size(); ++i)
    plane_pointers_[i] = planes_[i].data() + (begin_ + pending_) * work_sample_bytes_;
  return true;
}

void AudioExtraction::Append(int64_t frames) { pending_ += frames; }

void AudioExtraction::Consume(int64_t frames) {
  begin_ += frames;
  pending_ -= frames;
  position_ += frames;
  if (pending_ == 0) begin_ = 0;
}

// Converts one decoded frame into the pending planes, filling a gap before
// it with silence and dropping what lies before a seek target.
bool AudioExtraction::Convert(const AVFrame* frame) {
  if (frame->format != swr_in_format_ || frame->sample_rate != swr_in_rate_ ||
      !SameLayout(frame->ch_layout, swr_in_layout_)) {
    // The stream changed format: convert from the new one (frames of a
    // format that cannot be converted are skipped).
    if (!BuildResampler(frame->ch_layout, static_cast<AVSampleFormat>(frame->format), frame->sample_rate)) return false;
  }
  const int rate = OutputRate();
  int64_t start = INT64_MIN;
  if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
    start = av_rescale_q(frame->best_effort_timestamp, stream_->time_base, AVRational{1, rate});
  int64_t end = position_ + pending_;
  if (!position_known_) {
    position_ = start != INT64_MIN ? start : std::max<int64_t>(0, seek_target_);
    position_known_ = true;
  } else if (start != INT64_MIN && start - end > rate / 1000 && start - end <= int64_t{kMaxGapSeconds} * rate) {
    int64_t gap = start - end;
    if (!Reserve(gap)) return false;
    av_samples_set_silence(plane_pointers_.data(), 0, static_cast<int>(gap), work_layout_.nb_channels, work_format_);
    Append(gap);
  }
  int room = swr_get_out_samples(swr_, frame->nb_samples);
  if (room < 0) return false;
  if (!Reserve(room)) return false;
  int made = swr_convert(swr_, plane_pointers_.data(), room, const_cast<const uint8_t**>(frame->extended_data),
                         frame->nb_samples);
  if (made < 0) return false;
  Append(made);
  if (seek_target_ != INT64_MIN) {
    int64_t drop = std::min(pending_, seek_target_ - position_);
    if (drop > 0) Consume(drop);
    if (position_ >= seek_target_) seek_target_ = INT64_MIN;
  }
  return true;
}

// Decodes and converts the next frame; false once the stream is exhausted.
bool AudioExtraction::DecodeOneFrame() {
  if (finished_) return false;
  started_ = true;
  for (;;) {
    int r = avcodec_receive_frame(codec_, frame_);
    if (r == 0) {
      bool ok;
      {
        std::lock_guard<Mutex> guard(lock_);
        ok = Convert(frame_);
        if (out_of_memory_) finished_ = true;
      }
      av_frame_unref(frame_);
      if (ok) return true;
      if (finished_) return false;
      continue;
    }
    if (r == AVERROR_EOF) {
      // Whatever the resampler still holds.
      std::lock_guard<Mutex> guard(lock_);
      int room = swr_ ? swr_get_out_samples(swr_, 0) : 0;
      if (room > 0 && Reserve(room)) {
        int made = swr_convert(swr_, plane_pointers_.data(), room, nullptr, 0);
        if (made > 0) Append(made);
      }
      finished_ = true;
      return false;
    }
    if (r != AVERROR(EAGAIN) && input_done_) {
      // A decoder that fails while draining: nothing more comes.
      std::lock_guard<Mutex> guard(lock_);
      finished_ = true;
      return false;
    }
    if (input_done_) continue;
    r = av_read_frame(format_, packet_);
    if (r < 0) {
      // End of file, or a file cut short: drain what the decoder holds.
      input_done_ = true;
      avcodec_send_packet(codec_, nullptr);
      continue;
    }
    if (packet_->stream_index == stream_->index) {
      // A packet the decoder rejects (corrupt data) is skipped.
      avcodec_send_packet(codec_, packet_);
    }
    av_packet_unref(packet_);
  }
}

void AudioExtraction::Pack(int64_t frames, AudioBufferList* list) const {
  const size_t channels = plane_of_output_.size();
  const bool planar = Planar();
  const uint32_t bits = output_.mBitsPerChannel;
  const bool signed8 = bits == 8 && (output_.mFormatFlags & kAudioFormatFlagIsSignedInteger);
  if (packed_work_) {
    memcpy(list->mBuffers[0].mData, planes_[0].data() + begin_ * work_sample_bytes_, frames * work_sample_bytes_);
    return;
  }
  for (size_t c = 0; c < channels; ++c) {
    const uint8_t* src = planes_[plane_of_output_[c]].data() + begin_ * work_sample_bytes_;
    uint8_t* dst = static_cast<uint8_t*>(list->mBuffers[planar ? c : 0].mData);
    size_t step = planar ? bits / 8 : bits / 8 * channels;
    if (!planar) dst += c * (bits / 8);
    switch (bits) {
      case 8: {
        uint8_t flip = signed8 ? 0x80 : 0;
        for (int64_t i = 0; i < frames; ++i, dst += step) *dst = src[i] ^ flip;
        break;
      }
      case 16: {
        const int16_t* s = reinterpret_cast<const int16_t*>(src);
        for (int64_t i = 0; i < frames; ++i, dst += step) memcpy(dst, &s[i], 2);
        break;
      }
      case 24: {
        // The top three bytes of each 32-bit sample, little-endian.
        for (int64_t i = 0; i < frames; ++i, dst += step) memcpy(dst, src + i * 4 + 1, 3);
        break;
      }
      case 32: {
        for (int64_t i = 0; i < frames; ++i, dst += step) memcpy(dst, src + i * 4, 4);
        break;
      }
      default: {
        for (int64_t i = 0; i < frames; ++i, dst += step) memcpy(dst, src + i * 8, 8);
        break;
      }
    }
  }
}

OSStatus AudioExtraction::Fill(uint32_t* frames, AudioBufferList* list, uint32_t* flags) {
  if (!frames || !list) return paramErr;
  if (flags) *flags = 0;
  const uint32_t buffers = Planar() ? output_.mChannelsPerFrame : 1;
  if (list->mNumberBuffers != buffers) return paramErr;
  uint32_t wanted = *frames;
  for (uint32_t b = 0; b < buffers; ++b) {
    const AudioBuffer& buffer = list->mBuffers[b];
    if (!buffer.mData && wanted > 0) return paramErr;
    wanted = std::min<uint32_t>(wanted, buffer.mDataByteSize / output_.mBytesPerFrame);
  }
  if (!configured_) {
    // Parked: only a change of format, layout or position unconfigures.
    OSStatus err = Configure();
    if (err != noErr) return err;
  }
  if (wanted > 0 && !(ResumeAhead(wanted) && AwaitAhead(wanted))) {
    // No thread: decode here.
    while (pending_ < wanted && DecodeOneFrame()) {
    }
  }
  std::unique_lock<Mutex> lock(lock_);
  if (out_of_memory_) {
    *frames = 0;
    return memFullErr;
  }
  uint32_t n = static_cast<uint32_t>(std::min<int64_t>(wanted, pending_));
  Pack(n, list);
  Consume(n);
  const bool complete = pending_ == 0 && finished_;
  const bool room = sleeping_ && n > 0;  // room to decode into again
  lock.unlock();
  if (room) wake_.notify_one();
  *frames = n;
  for (uint32_t b = 0; b < buffers; ++b) list->mBuffers[b].mDataByteSize = n * output_.mBytesPerFrame;
  if (complete && flags) *flags = kQTMovieAudioExtractionComplete;
  return noErr;
}

// The thread's loop: one decoding step at a time while there is room ahead
// and it is not parked; the lock is not held while decoding.
void AudioExtraction::DecodeAhead() {
  std::unique_lock<Mutex> lock(lock_);
  for (;;) {
    while (!quit_ && (park_ || finished_ || pending_ >= ahead_frames_)) {
      sleeping_ = true;
      wake_.wait(lock);
      sleeping_ = false;
    }
    if (quit_) return;
    busy_ = true;
    lock.unlock();
    DecodeOneFrame();
    lock.lock();
    busy_ = false;
    if (callers_waiting_ > 0 && (park_ || finished_ || pending_ >= want_)) done_.notify_all();
  }
}

// Lets the thread decode up to two fills of frames ahead, starting it the
// first time; false when there is no thread (the caller decodes).
bool AudioExtraction::ResumeAhead(int64_t frames) {
  if (ahead_failed_) return false;
  if (!ahead_.joinable()) {
    try {
      ahead_ = std::thread(&AudioExtraction::DecodeAhead, this);
    } catch (...) {
      ahead_failed_ = true;
      return false;
    }
  }
  bool wake;
  {
    std::lock_guard<Mutex> guard(lock_);
    park_ = false;
    ahead_frames_ = 2 * frames;
    wake = sleeping_;
  }
  if (wake) wake_.notify_one();
  return true;
}

// Waits for frames pending frames, or the end; false when the thread is not
// decoding (parked, or none).
bool AudioExtraction::AwaitAhead(int64_t frames) {
  if (!ahead_.joinable()) return false;
  std::unique_lock<Mutex> lock(lock_);
  if (park_) return false;
  want_ = frames;
  ++callers_waiting_;
  done_.wait(lock, [&] { return pending_ >= frames || finished_; });
  --callers_waiting_;
  want_ = 0;
  return true;
}

// Stops the thread between two decoding steps: the decoder is the caller's
// until the next fill.
void AudioExtraction::Park() {
  if (!ahead_.joinable()) return;
  std::unique_lock<Mutex> lock(lock_);
  park_ = true;
  ++callers_waiting_;
  done_.wait(lock, [&] { return !busy_; });
  --callers_waiting_;
}

// Decodes until the position of the next frame is known.
bool AudioExtraction::PrimePosition() {
  if (!configured_ && Configure() != noErr) return false;
  while (pending_ == 0 && DecodeOneFrame()) {
  }
  return true;
}

OSStatus AudioExtraction::GetCurrentTime(TimeRecord* time) {
  if (!time) return paramErr;
  if (!AwaitAhead(1)) PrimePosition();
  std::lock_guard<Mutex> guard(lock_);
  int64_t at = position_known_ ? position_ : std::max<int64_t>(0, seek_target_);
  if (seek_target_ != INT64_MIN && pending_ == 0) at = std::max(at, seek_target_);
  at = std::max<int64_t>(0, at);
  int32_t scale = source_.movie_timescale > 0 ? source_.movie_timescale : OutputRate();
  time->value = av_rescale_rnd(at, scale, OutputRate(), AV_ROUND_DOWN);
  time->scale = scale;
  time->base = nullptr;
  return noErr;
}

OSStatus AudioExtraction::SetCurrentTime(const TimeRecord& time) {
  if (time.scale <= 0) return paramErr;
  int64_t value = std::max<int64_t>(0, time.value);
  int64_t target = av_rescale_rnd(value, OutputRate(), time.scale, AV_ROUND_DOWN);
  return SeekToSample(target);
}

OSStatus AudioExtraction::SeekToSample(int64_t target) {
  Park();
  const int rate = OutputRate();
  int64_t from = target - int64_t{rate} * kPrerollMilliseconds / 1000;
  int64_t ts = av_rescale_q(std::max<int64_t>(from, 0), AVRational{1, rate}, stream_->time_base);
  if (from <= 0) {
    // From the very first packet, so that the decoder starts as it did at open
    // (priming frames included, which the demuxer marks to be skipped again).
    if (avformat_index_get_entries_count(stream_) > 0)
      ts = std::min(ts, avformat_index_get_entry(stream_, 0)->timestamp);
    else if (stream_->start_time != AV_NOPTS_VALUE)
      ts = std::min(ts, stream_->start_time);
  }
  if (av_seek_frame(format_, stream_->index, ts, AVSEEK_FLAG_BACKWARD) < 0 &&
      avformat_seek_file(format_, stream_->index, INT64_MIN, ts, ts, 0) < 0)
    return invalidTime;
  avcodec_flush_buffers(codec_);
  if (configured_) {
    // Rebuilt rather than reset: nothing of the old position may remain.
    configured_ = false;
  }
  if (!configured_) {
    OSStatus err = Configure();
    if (err != noErr) return err;
  }
  std::lock_guard<Mutex> guard(lock_);
  out_of_memory_ = false;
  begin_ = pending_ = 0;
  position_known_ = false;
  position_ = 0;
  seek_target_ = target;
  input_done_ = false;
  finished_ = false;
  return noErr;
}

}  // namespace qtm
