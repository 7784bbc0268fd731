// AudioExtractor: the filter's own movie for the sound, one movie audio
// extraction session on it, the PCM output format, and the display names of
// the source's format and channel layout.
//
// Output: packed, interleaved, little-endian PCM at the session's rate and
// channel count and the depth OutputBits gives the source (8-bit unsigned
// as wave PCM has it, signed from 16 bits), channels in the order of their
// speaker bits (wave's and FFmpeg's order), up to 8 channels. One fill is
// one second.
//
// The movie's sound tracks are listed (audio_tracks.h); one plays, the
// default one or the one Open is given: the others are disabled in the
// extractor's movie, so the extraction takes that one.
#ifndef KESTREL_AUDIO_AUDIO_EXTRACTOR_H
#define KESTREL_AUDIO_AUDIO_EXTRACTOR_H

#include <windows.h>

#include <mmreg.h>

#include <cstdint>
#include <vector>

#include "audio/audio_tracks.h"
#include "base/critical_section.h"
#include "movie/movie_file.h"
#include "qtmedia.h"

namespace kestrel {

// The output channel layout for a channel count, in wave's speaker order:
// 0 when the count is not served (0, or more than 8).
AudioChannelLayoutTag WaveOrderLayoutTag(uint32_t channels);

// Display names: "Unknown" for codes and tags not listed.
const wchar_t* AudioFormatNameOf(OSType format);
const wchar_t* ChannelLayoutNameOf(AudioChannelLayoutTag tag);

class AudioExtractor {
 public:
  static constexpr size_t kNameChars = 260;

  AudioExtractor();
  ~AudioExtractor();
  AudioExtractor(const AudioExtractor&) = delete;
  AudioExtractor& operator=(const AudioExtractor&) = delete;

  static constexpr int kDefaultTrack = -1;

  // Opens path and configures the output for sound track track (its
  // position among the sound tracks), or the default one. S_OK, also when
  // the movie has no sound to extract (then Fill answers S_FALSE);
  // E_INVALIDARG for a track the movie does not have; E_FAIL, or
  // E_OUTOFMEMORY when the fill buffer cannot be had, with the extractor
  // closed.
  HRESULT Open(const MoviePath& path, int track = kDefaultTrack);
  // *has_audio = 1 when the movie has a sound track. E_POINTER; E_FAIL
  // without a movie.
  HRESULT HasAudio(int32_t* has_audio);
  // The movie's duration as media time. E_POINTER; E_FAIL without a movie
  // or time scale.
  HRESULT GetDuration(int64_t* duration);
  // Moves the extraction to start (media time). E_FAIL without a movie or
  // when the session refuses the position.
  HRESULT Seek(int64_t start);
  // Up to one second of PCM into destination (capacity bytes): *bytes, and
  // when asked the media times of its first frame and of the end of its
  // last. S_FALSE at the end of data (nothing copied) and on an extractor
  // without an output format; E_POINTER; E_FAIL on an extraction error.
  HRESULT Fill(BYTE* destination, uint32_t capacity, uint32_t* bytes, int64_t* start, int64_t* stop);
  // The position the next fill starts at, as media time. E_POINTER; E_FAIL
  // without a session.
  HRESULT GetPosition(int64_t* position);
  // Copies the output wave format. E_POINTER.
  HRESULT GetWaveFormat(WAVEFORMATEX* format);
  // The same as WAVEFORMATEXTENSIBLE: the channels' speakers (0 when the
  // source's are not known) and the depth. E_POINTER; E_FAIL without an
  // output format.
  HRESULT GetWaveFormatExtensible(WAVEFORMATEXTENSIBLE* format);
  // True when the output is better told by WAVEFORMATEXTENSIBLE: more than
  // two channels, or more than 16 bits.
  bool OffersExtensible();
  // The movie's sound tracks, and the position of the one that plays (-1
  // without sound).
  const std::vector<AudioTrack>& Tracks() const { return m_tracks; }
  int SelectedTrack() const { return m_selected; }
  void Close();

  // Read directly by the info interface.
  wchar_t FormatName[kNameChars];
  wchar_t ChannelLayoutName[kNameChars];

 private:
  HRESULT StartSession();
  HRESULT ReadSourceFormat();
  HRESULT ReadChannelLayoutName();
  void FreeBufferList();

  Movie m_movie = nullptr;
  MovieAudioExtractionRef m_session = nullptr;
  AudioStreamBasicDescription m_outputDescription = {};
  AudioBufferList* m_bufferList = nullptr;
  WAVEFORMATEX m_waveFormat = {};
  int32_t m_timeScale = 0;
  uint32_t m_framesPerFill = 0;
  int32_t m_sourceBits = 0;
  uint32_t m_outputBits = 16;
  AudioChannelBitmap m_sourceSpeakers = 0;  // the source's speaker bits, or 0
  DWORD m_channelMask = 0;                  // the output's speakers, or 0
  std::vector<AudioTrack> m_tracks;
  int m_selected = -1;
  CCritSec m_lock;  // serialises Seek and Fill (two threads)
};

}  // namespace kestrel

#endif
