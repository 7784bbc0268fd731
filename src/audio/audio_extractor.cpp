#include "audio/audio_extractor.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include "base/log.h"
#include "movie/media_time.h"
#include "movie/movie_file.h"

namespace kestrel {
namespace {

constexpr OSType Code(const char (&s)[5]) {
  return (OSType(uint8_t(s[0])) << 24) | (OSType(uint8_t(s[1])) << 16) | (OSType(uint8_t(s[2])) << 8) | uint8_t(s[3]);
}

struct FormatNameEntry {
  OSType format;
  const wchar_t* name;
};

const FormatNameEntry kFormatNames[] = {
    {Code(".mp1"), L"MPEG-1/2, Layer 1"},
    {Code(".mp2"), L"MPEG-1/2, Layer 2"},
    {Code(".mp3"), L"MPEG-1/2, Layer 3"},
    {Code("MAC3"), L"MACE 3:1"},
    {Code("MAC6"), L"MACE 6:1"},
    {Code("QDM2"), L"QDesign2 music"},
    {Code("QDMC"), L"QDesign music"},
    {Code("Qclp"), L"QUALCOMM PureVoice"},
    {Code("aac "), L"MPEG-4 Low Complexity AAC"},
    {Code("aach"), L"MPEG-4 High Efficiency AAC"},
    {Code("aacl"), L"MPEG-4 AAC Low Delay"},
    {Code("aacp"), L"MPEG-4 High Efficiency AAC Version 2"},
    {Code("aacs"), L"MPEG-4 Spatial Audio"},
    {Code("ac-3"), L"AC-3"},
    {Code("alac"), L"Apple Lossless"},
    {Code("alaw"), L"aLaw 2:1"},
    {Code("apvs"), L"Float32"},
    {Code("cac3"), L"AC-3 IEC 60958"},
    {Code("celp"), L"MPEG-4 CELP"},
    {Code("ec-3"), L"Enhanced AC-3"},
    {Code("flac"), L"Free Lossless Audio Codec"},
    {Code("hvxc"), L"MPEG-4 HVXC"},
    {Code("ima4"), L"IMA 4:1 ADPCM"},
    {Code("lpcm"), L"Linear PCM"},
    {Code("midi"), L"MIDI"},
    {Code("opus"), L"Opus"},
    {Code("samr"), L"AMR Narrow Band"},
    {Code("time"), L"IOAudioTimeStamps"},
    {Code("twvq"), L"MPEG-4 TwinVQ"},
    {Code("ulaw"), L"\u00B5Law 2:1"},
};

struct LayoutNameEntry {
  AudioChannelLayoutTag tag;
  const wchar_t* name;
};

const LayoutNameEntry kLayoutNames[] = {
    {0x640001, L"Mono"},
    {0x650002, L"Stereo (L R)"},
    {0x660002, L"Stereo (L R)"},
    {0x6A0002, L"Binaural stereo (left, right)"},
    {0x6C0004, L"Quadraphonic (front left, front right, back left, back right)"},
    {0x6D0005, L"Pentagonal (left, right, rear left, rear right, center)"},
    {0x6E0006, L"Hexagonal (left, right, rear left, rear right, center, rear)"},
    {0x6F0008,
     L"Octagonal (front left, front right, rear left, rear right, front center, rear center, side left, side right)"},
    {0x700008, L"Cube (left, right, rear left, rear right, top left, top right, top rear left, top rear right)"},
    {0x710003, L"3.0 (L R C)"},
    {0x720003, L"3.0 (C L R)"},
    {0x730004, L"4.0 (L R C Cs)"},
    {0x740004, L"4.0 (C L R Cs)"},
    {0x750005, L"5.0 (L R C Ls Rs)"},
    {0x760005, L"5.0 (L R Ls Rs C)"},
    {0x770005, L"5.0 (L C R Ls Rs)"},
    {0x780005, L"5.0 (C L R Ls Rs)"},
    {0x790006, L"5.1 (L R C LFE Ls Rs)"},
    {0x7A0006, L"5.1 (L R Ls Rs C LFE)"},
    {0x7B0006, L"5.1 (L C R Ls Rs LFE)"},
    {0x7C0006, L"5.1 (C L R Ls Rs LFE)"},
    {0x7D0007, L"6.1 (L R C LFE Ls Rs Cs)"},
    {0x7E0008, L"7.1 (L R C LFE Ls Rs Lc Rc)"},
    {0x7F0008, L"7.1 (C Lc Rc L R Ls Rs LFE)"},
    {0x800008, L"7.1 (L R C LFE Ls Rs Rls Rrs)"},
    {0x810008, L"7.1 (L R Ls Rs C LFE Lc Rc)"},
    {0x820008, L"DTV (L R C LFE Ls Rs Lt Rt)"},
    {0x8D0006, L"6.0 (C L R Ls Rs Cs)"},
    {0x8E0007, L"6.1 (C L R Ls Rs Cs Lfe)"},
    {0x8F0007, L"7.0 (C L R Ls Rs Rls Rrs)"},
    {0x900008, L"Octagonal (C L R Ls Rs Rls Rrs Cs)"},
};

void CopyName(wchar_t* dst, const wchar_t* src) {
  wcsncpy(dst, src, AudioExtractor::kNameChars - 1);
  dst[AudioExtractor::kNameChars - 1] = L'\0';
}

// The speakers of a bitmap, counted.
uint32_t SpeakerCount(AudioChannelBitmap bitmap) {
  uint32_t n = 0;
  for (; bitmap; bitmap &= bitmap - 1) ++n;
  return n;
}

}  // namespace

AudioChannelLayoutTag WaveOrderLayoutTag(uint32_t channels) {
  switch (channels) {
    case 1:
      return 0x640001;  // Mono
    case 2:
      return 0x650002;  // L R
    case 3:
      return 0x710003;  // L R C
    case 4:
      return 0x6C0004;  // L R Ls Rs (front left, front right, back left, back right)
    case 5:
      return 0x750005;  // L R C Ls Rs
    case 6:
      return 0x790006;  // L R C LFE Ls Rs
    case 7:
      return 0x7D0007;  // L R C LFE Ls Rs Cs
    case 8:
      return 0x800008;  // L R C LFE Ls Rs Rls Rrs
    default:
      return 0;
  }
}

const wchar_t* AudioFormatNameOf(OSType format) {
  for (const FormatNameEntry& e : kFormatNames)
    if (e.format == format) return e.name;
  return L"Unknown";
}

const wchar_t* ChannelLayoutNameOf(AudioChannelLayoutTag tag) {
  for (const LayoutNameEntry& e : kLayoutNames)
    if (e.tag == tag) return e.name;
  return L"Unknown";
}

AudioExtractor::AudioExtractor() {
  FormatName[0] = L'\0';
  ChannelLayoutName[0] = L'\0';
}

AudioExtractor::~AudioExtractor() { Close(); }

HRESULT AudioExtractor::Open(const MoviePath& path, int track) {
  Close();
  CAutoLock lock(&m_lock);
  if (FAILED(OpenMovieFromPath(path, &m_movie))) {
    Close();
    return E_FAIL;
  }
  if (FAILED(ReadAudioTracks(m_movie, &m_tracks))) {
    Close();
    return E_OUTOFMEMORY;
  }
  if (track != kDefaultTrack && (track < 0 || static_cast<size_t>(track) >= m_tracks.size())) {
    Close();
    return E_INVALIDARG;
  }
  m_selected = track == kDefaultTrack ? DefaultAudioTrack(m_tracks) : track;
  // The extraction takes the first enabled sound track: the chosen one alone.
  for (size_t i = 0; i < m_tracks.size(); ++i) SetTrackEnabled(m_tracks[i].track, static_cast<int>(i) == m_selected);
  HRESULT hr = StartSession();
  if (FAILED(hr)) {
    Close();
    return hr == E_OUTOFMEMORY ? E_OUTOFMEMORY : E_FAIL;
  }
  PrerollMovie(m_movie, GetMovieTime(m_movie, nullptr), GetMoviePreferredRate(m_movie));
  return S_OK;
}

// S_FALSE when the session proposes no rate (nothing to configure).
HRESULT AudioExtractor::StartSession() {
  SetMovieActive(m_movie, 1);
  ReadSourceFormat();
  m_timeScale = GetMovieTimeScale(m_movie);
  MovieAudioExtractionBegin(m_movie, 0, &m_session);
  ReadChannelLayoutName();
  MovieAudioExtractionGetProperty(m_session, kQTPropertyClass_MovieAudioExtraction_Audio,
                                  kQTMovieAudioExtractionAudioPropertyID_AudioStreamBasicDescription,
                                  sizeof(m_outputDescription), &m_outputDescription, nullptr);
  const uint32_t rate = static_cast<uint32_t>(m_outputDescription.mSampleRate);
  if (rate == 0) return S_FALSE;
  const uint32_t channels = m_outputDescription.mChannelsPerFrame;
  WriteLog(L"Audio In: %d sample rate, %d channel(s), %d bits per channel", static_cast<int>(rate),
           static_cast<int>(channels), static_cast<int>(m_sourceBits));

  const uint32_t bits = m_outputBits;
  m_outputDescription.mBitsPerChannel = bits;
  m_outputDescription.mBytesPerFrame = m_outputDescription.mBytesPerPacket = (bits >> 3) * channels;
  m_outputDescription.mFormatID = kAudioFormatLinearPCM;
  // Wave PCM: 8-bit samples are unsigned, wider ones signed.
  m_outputDescription.mFormatFlags =
      kAudioFormatFlagIsPacked | (bits > 8 ? static_cast<uint32_t>(kAudioFormatFlagIsSignedInteger) : 0u);
  m_outputDescription.mFramesPerPacket = 1;
  if (MovieAudioExtractionSetProperty(m_session, kQTPropertyClass_MovieAudioExtraction_Audio,
                                      kQTMovieAudioExtractionAudioPropertyID_AudioStreamBasicDescription,
                                      sizeof(m_outputDescription), &m_outputDescription) != noErr) {
    WriteLog(L"ERROR! Unable to SET AudioStreamBasicDescription!");
    return E_FAIL;
  }
  WriteLog(L"Audio Out: %d sample rate, %d channel(s), %d bits per channel", static_cast<int>(rate),
           static_cast<int>(channels), static_cast<int>(m_outputDescription.mBitsPerChannel));
  m_framesPerFill = rate;

  // The channels in the order of their speaker bits when the source's
  // speakers are known (so the wave channel mask tells them), else in
  // wave's order for the count.
  AudioChannelLayoutTag tag = WaveOrderLayoutTag(channels);
  if (tag == 0) return E_FAIL;
  AudioChannelLayout layout = {};
  layout.mChannelLayoutTag = tag;
  m_channelMask = 0;
  if (m_sourceSpeakers != 0 && SpeakerCount(m_sourceSpeakers) == channels) {
    layout.mChannelLayoutTag = kAudioChannelLayoutTag_UseChannelBitmap;
    layout.mChannelBitmap = m_sourceSpeakers;
    m_channelMask = m_sourceSpeakers;
  }
  if (MovieAudioExtractionSetProperty(m_session, kQTPropertyClass_MovieAudioExtraction_Audio,
                                      kQTMovieAudioExtractionAudioPropertyID_AudioChannelLayout, sizeof(layout),
                                      &layout) != noErr) {
    WriteLog(L"ERROR! Unable to SET AudioChannelLayout!");
    return E_FAIL;
  }

  const uint32_t block = m_outputDescription.mBytesPerFrame;
  m_bufferList = static_cast<AudioBufferList*>(calloc(1, sizeof(AudioBufferList)));
  if (!m_bufferList) return E_OUTOFMEMORY;
  m_bufferList->mNumberBuffers = 1;
  m_bufferList->mBuffers[0].mNumberChannels = channels;
  m_bufferList->mBuffers[0].mDataByteSize = m_framesPerFill * block;
  m_bufferList->mBuffers[0].mData = malloc(static_cast<size_t>(m_framesPerFill) * block);
  if (!m_bufferList->mBuffers[0].mData) return E_OUTOFMEMORY;

  m_waveFormat.wFormatTag = WAVE_FORMAT_PCM;
  m_waveFormat.nChannels = static_cast<WORD>(channels);
  m_waveFormat.nSamplesPerSec = rate;
  m_waveFormat.nBlockAlign = static_cast<WORD>((channels * bits) >> 3);
  m_waveFormat.wBitsPerSample = static_cast<WORD>(bits);
  m_waveFormat.nAvgBytesPerSec = static_cast<DWORD>(m_waveFormat.nBlockAlign * m_outputDescription.mSampleRate);
  m_waveFormat.cbSize = 0;
  WriteLog(L"Audio Out: %d Average Bytes per Sec", static_cast<int>(m_waveFormat.nAvgBytesPerSec));
  return S_OK;
}

// Source bits, the output's depth and FormatName from the description of
// the sound track that plays.
HRESULT AudioExtractor::ReadSourceFormat() {
  m_outputBits = OutputBits(0, 0, 0);
  if (m_selected < 0) return S_FALSE;
  Track track = m_tracks[m_selected].track;
  Media media = GetTrackMedia(track);
  if (!media) return E_FAIL;
  OSType type = 0;
  GetMediaHandlerDescription(media, &type, nullptr, nullptr);
  if (type != SoundMediaType) return E_FAIL;
  Handle handle = NewHandle(4);
  if (!handle) return E_OUTOFMEMORY;
  SoundDescriptionHandle description = reinterpret_cast<SoundDescriptionHandle>(handle);
  GetMediaSampleDescription(media, 1, reinterpret_cast<SampleDescriptionHandle>(handle));
  AudioStreamBasicDescription format = {};
  if (GetMoviesError() != noErr ||
      QTSoundDescriptionGetProperty(description, kQTPropertyClass_SoundDescription,
                                    kQTSoundDescriptionPropertyID_AudioStreamBasicDescription, sizeof(format), &format,
                                    nullptr) != noErr) {
    DisposeHandle(handle);
    return E_FAIL;
  }
  m_sourceBits = format.mBitsPerChannel != 0 ? static_cast<int32_t>(format.mBitsPerChannel)
                                             : static_cast<int32_t>((*description)->sampleSize);
  m_outputBits = OutputBits(format.mFormatID, format.mBitsPerChannel, (*description)->sampleSize);
  CopyName(FormatName, AudioFormatNameOf(format.mFormatID));
  DisposeHandle(handle);
  return S_OK;
}

// ChannelLayoutName from the session's default layout.
HRESULT AudioExtractor::ReadChannelLayoutName() {
  ByteCount size = 0;
  if (MovieAudioExtractionGetPropertyInfo(m_session, kQTPropertyClass_MovieAudioExtraction_Audio,
                                          kQTMovieAudioExtractionAudioPropertyID_AudioChannelLayout, nullptr, &size,
                                          nullptr) != noErr)
    return E_FAIL;
  if (size < sizeof(AudioChannelLayoutTag)) return E_FAIL;
  void* layout = calloc(1, size);
  if (!layout) return E_OUTOFMEMORY;
  if (MovieAudioExtractionGetProperty(m_session, kQTPropertyClass_MovieAudioExtraction_Audio,
                                      kQTMovieAudioExtractionAudioPropertyID_AudioChannelLayout, size, layout,
                                      nullptr) != noErr) {
    free(layout);
    return E_FAIL;
  }
  AudioChannelLayoutTag tag = 0;
  memcpy(&tag, layout, sizeof(tag));
  CopyName(ChannelLayoutName, ChannelLayoutNameOf(tag));
  // The engine gives the source's speakers as a bitmap beside a tag too.
  if (size >= 2 * sizeof(AudioChannelLayoutTag)) {
    memcpy(&m_sourceSpeakers, static_cast<const BYTE*>(layout) + sizeof(tag), sizeof(m_sourceSpeakers));
    if (m_sourceSpeakers >> 18) m_sourceSpeakers = 0;  // beyond wave's speakers
  }
  free(layout);
  return S_OK;
}

HRESULT AudioExtractor::HasAudio(int32_t* has_audio) {
  if (!has_audio) return E_POINTER;
  *has_audio = 0;
  if (!m_movie) return E_FAIL;
  if (GetMovieIndTrackType(m_movie, 1, SoundMediaType, movieTrackMediaType)) *has_audio = 1;
  return S_OK;
}

HRESULT AudioExtractor::GetDuration(int64_t* duration) {
  if (!duration) return E_POINTER;
  if (!m_movie || m_timeScale == 0) return E_FAIL;
  *duration = MovieToMediaTime(GetMovieDuration(m_movie), m_timeScale);
  return S_OK;
}

HRESULT AudioExtractor::Seek(int64_t start) {
  CAutoLock lock(&m_lock);
  if (!m_movie || !m_session || m_timeScale <= 0) return E_FAIL;
  TimeRecord position = {};
  position.value = MediaToMovieTime(start, m_timeScale);
  position.scale = m_timeScale;
  position.base = nullptr;
  if (MovieAudioExtractionSetProperty(m_session, kQTPropertyClass_MovieAudioExtraction_Movie,
                                      kQTMovieAudioExtractionMoviePropertyID_CurrentTime, sizeof(position),
                                      &position) != noErr)
    return E_FAIL;
  return S_OK;
}

HRESULT AudioExtractor::Fill(BYTE* destination, uint32_t capacity, uint32_t* bytes, int64_t* start, int64_t* stop) {
  if (!destination || !bytes) return E_POINTER;
  *bytes = 0;
  CAutoLock lock(&m_lock);
  // Without an output format (no sound, or a zero rate) there is nothing to give.
  if (!m_session || !m_bufferList || m_outputDescription.mBytesPerFrame == 0) return S_FALSE;

  TimeRecord position = {};
  MovieAudioExtractionGetProperty(m_session, kQTPropertyClass_MovieAudioExtraction_Movie,
                                  kQTMovieAudioExtractionMoviePropertyID_CurrentTime, sizeof(position), &position,
                                  nullptr);

  // Each fill asks for one second again (at most what the destination holds).
  const uint32_t block = m_outputDescription.mBytesPerFrame;
  const uint32_t second = static_cast<uint32_t>(m_outputDescription.mSampleRate);
  uint32_t frames = second < capacity / block ? second : capacity / block;
  if (frames == 0) return E_FAIL;
  m_framesPerFill = frames;
  // The extraction writes straight into the destination (frames * block
  // fits): no copy.
  void* own = m_bufferList->mBuffers[0].mData;
  m_bufferList->mBuffers[0].mData = destination;
  m_bufferList->mBuffers[0].mDataByteSize = frames * block;
  uint32_t flags = 0;
  OSStatus err = MovieAudioExtractionFillBuffer(m_session, &m_framesPerFill, m_bufferList, &flags);
  m_bufferList->mBuffers[0].mData = own;
  if (err != noErr) {
    WriteLog(L"ERROR! MovieAudioExtractionFillBuffer FAILED! Error: %d", static_cast<int>(err));
    return E_FAIL;
  }
  if ((flags & kQTMovieAudioExtractionComplete) && m_framesPerFill == 0) {
    m_framesPerFill = second;
    m_bufferList->mBuffers[0].mDataByteSize = second * block;
    return S_FALSE;
  }
  uint32_t size = m_bufferList->mBuffers[0].mDataByteSize;
  if (size > capacity) size = capacity;
  *bytes = size;

  int64_t first = position.scale > 0 ? MovieToMediaTime(position.value, position.scale) : 0;
  if (start) *start = first;
  if (stop) *stop = first + MulDiv64(size / block, kUnitsPerSecond, second);
  return S_OK;
}

HRESULT AudioExtractor::GetWaveFormat(WAVEFORMATEX* format) {
  if (!format) return E_POINTER;
  *format = m_waveFormat;
  return S_OK;
}

HRESULT AudioExtractor::GetWaveFormatExtensible(WAVEFORMATEXTENSIBLE* format) {
  if (!format) return E_POINTER;
  *format = WAVEFORMATEXTENSIBLE{};
  if (m_waveFormat.nBlockAlign == 0) return E_FAIL;
  format->Format = m_waveFormat;
  format->Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  format->Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  format->Samples.wValidBitsPerSample = m_waveFormat.wBitsPerSample;
  format->dwChannelMask = m_channelMask;
  // KSDATAFORMAT_SUBTYPE_PCM: the wave format tag in the base GUID.
  format->SubFormat = GUID{WAVE_FORMAT_PCM, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
  return S_OK;
}

bool AudioExtractor::OffersExtensible() { return m_waveFormat.nChannels > 2 || m_waveFormat.wBitsPerSample > 16; }

HRESULT AudioExtractor::GetPosition(int64_t* position) {
  if (!position) return E_POINTER;
  CAutoLock lock(&m_lock);
  *position = 0;
  if (!m_session) return E_FAIL;
  TimeRecord time = {};
  if (MovieAudioExtractionGetProperty(m_session, kQTPropertyClass_MovieAudioExtraction_Movie,
                                      kQTMovieAudioExtractionMoviePropertyID_CurrentTime, sizeof(time), &time,
                                      nullptr) != noErr ||
      time.scale <= 0)
    return E_FAIL;
  *position = MovieToMediaTime(time.value, time.scale);
  return S_OK;
}

void AudioExtractor::FreeBufferList() {
  if (!m_bufferList) return;
  for (uint32_t i = 0; i < m_bufferList->mNumberBuffers; ++i) free(m_bufferList->mBuffers[i].mData);
  free(m_bufferList);
  m_bufferList = nullptr;
}

void AudioExtractor::Close() {
  CAutoLock lock(&m_lock);
  if (m_session) {
    MovieAudioExtractionEnd(m_session);
    m_session = nullptr;
  }
  DisposeMovieRef(&m_movie);
  FreeBufferList();
  m_timeScale = 0;
  m_waveFormat = WAVEFORMATEX{};
  m_sourceBits = 0;
  m_outputBits = 16;
  m_sourceSpeakers = 0;
  m_channelMask = 0;
  m_tracks.clear();
  m_selected = -1;
  FormatName[0] = L'\0';
  ChannelLayoutName[0] = L'\0';
}

}  // namespace kestrel
