// AudioExtractor: the filter's own movie for the sound, one movie audio
// extraction session on it, the PCM output format, and the display names of
// the source's format and channel layout.
//
// Output: packed, interleaved, little-endian PCM at the session's rate and
// channel count and the source's bit depth (8-bit unsigned as wave PCM has
// it, signed from 16 bits), channels in wave order. One fill is one second.
#ifndef KESTREL_AUDIO_AUDIO_EXTRACTOR_H
#define KESTREL_AUDIO_AUDIO_EXTRACTOR_H

#include <windows.h>

#include <mmreg.h>

#include <cstdint>

#include "engine/movie_file.h"
#include "framework/critical_section.h"
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

  // Opens path and configures the output. S_OK, also when the movie
  // has no sound to extract (then Fill answers S_FALSE); E_FAIL, or
  // E_OUTOFMEMORY when the fill buffer cannot be had, with the extractor
  // closed.
  HRESULT Open(const MoviePath& path);
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
  // Copies the output wave format. E_POINTER.
  HRESULT GetWaveFormat(WAVEFORMATEX* format);
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
  CCritSec m_lock;  // serialises Seek and Fill (two threads)
};

}  // namespace kestrel

#endif
