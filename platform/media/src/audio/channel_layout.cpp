#include "audio/channel_layout.h"

#include <algorithm>
#include <cstring>

namespace qtm {
namespace {

// Core Audio channel labels.
enum : AudioChannelLabel {
  L = 1,
  R = 2,
  C = 3,
  LFE = 4,
  Ls = 5,
  Rs = 6,
  Lc = 7,
  Rc = 8,
  Cs = 9,
  Lsd = 10,
  Rsd = 11,
  Ts = 12,
  Vhl = 13,
  Vhc = 14,
  Vhr = 15,
  Rlt = 16,
  Rct = 17,
  Rrt = 18,
  Rls = 33,
  Rrs = 34,
  Lw = 35,
  Rw = 36,
  LFE2 = 37,
  Lt = 38,
  Rt = 39,
  Mono = 42,
  HeadphonesLeft = 301,
  HeadphonesRight = 302
};

struct TagLabels {
  uint32_t number;
  std::vector<AudioChannelLabel> labels;
};

// Layouts by number (the tag's high half), with the label of each position.
const std::vector<TagLabels>& TagTable() {
  static const std::vector<TagLabels> table = {
      {100, {Mono}},
      {101, {L, R}},
      {102, {HeadphonesLeft, HeadphonesRight}},
      {103, {Lt, Rt}},
      {106, {L, R}},
      {108, {L, R, Ls, Rs}},
      {109, {L, R, Rls, Rrs, C}},
      {110, {L, R, Rls, Rrs, C, Cs}},
      {111, {L, R, Rls, Rrs, C, Cs, Ls, Rs}},
      {112, {L, R, Rls, Rrs, Vhl, Vhr, Rlt, Rrt}},
      {113, {L, R, C}},
      {114, {C, L, R}},
      {115, {L, R, C, Cs}},
      {116, {C, L, R, Cs}},
      {117, {L, R, C, Ls, Rs}},
      {118, {L, R, Ls, Rs, C}},
      {119, {L, C, R, Ls, Rs}},
      {120, {C, L, R, Ls, Rs}},
      {121, {L, R, C, LFE, Ls, Rs}},
      {122, {L, R, Ls, Rs, C, LFE}},
      {123, {L, C, R, Ls, Rs, LFE}},
      {124, {C, L, R, Ls, Rs, LFE}},
      {125, {L, R, C, LFE, Ls, Rs, Cs}},
      {126, {L, R, C, LFE, Ls, Rs, Lc, Rc}},
      {127, {C, Lc, Rc, L, R, Ls, Rs, LFE}},
      {128, {L, R, C, LFE, Ls, Rs, Rls, Rrs}},
      {129, {L, R, Ls, Rs, C, LFE, Lc, Rc}},
      {130, {L, R, C, LFE, Ls, Rs, Lt, Rt}},
      {141, {C, L, R, Ls, Rs, Cs}},
      {142, {C, L, R, Ls, Rs, Cs, LFE}},
      {143, {C, L, R, Ls, Rs, Rls, Rrs}},
      {144, {C, L, R, Ls, Rs, Rls, Rrs, Cs}},
  };
  return table;
}

const std::vector<AudioChannelLabel>* LabelsOfTag(AudioChannelLayoutTag tag) {
  for (const TagLabels& t : TagTable()) {
    if (QTM_LAYOUT_TAG(t.number, t.labels.size()) == tag) return &t.labels;
  }
  return nullptr;
}

bool Has(const AVChannelLayout& layout, AVChannel ch) { return av_channel_layout_index_from_channel(&layout, ch) >= 0; }

bool HasLabel(const std::vector<AudioChannelLabel>& labels, AudioChannelLabel label) {
  return std::find(labels.begin(), labels.end(), label) != labels.end();
}

// The FFmpeg channel of one label. A plain surround pair is the side pair
// when the layout also has a rear pair, or when the source has only a side
// pair; otherwise the back pair, as wave PCM has it.
AVChannel ChannelOfLabel(AudioChannelLabel label, const std::vector<AudioChannelLabel>& all,
                         const AVChannelLayout& source) {
  bool side =
      HasLabel(all, Rls) || HasLabel(all, Rrs) || (Has(source, AV_CHAN_SIDE_LEFT) && !Has(source, AV_CHAN_BACK_LEFT));
  switch (label) {
    case L:
    case HeadphonesLeft:
      return AV_CHAN_FRONT_LEFT;
    case R:
    case HeadphonesRight:
      return AV_CHAN_FRONT_RIGHT;
    case C:
    case Mono:
      return AV_CHAN_FRONT_CENTER;
    case LFE:
      return AV_CHAN_LOW_FREQUENCY;
    case Ls:
      return side ? AV_CHAN_SIDE_LEFT : AV_CHAN_BACK_LEFT;
    case Rs:
      return side ? AV_CHAN_SIDE_RIGHT : AV_CHAN_BACK_RIGHT;
    case Lc:
      return AV_CHAN_FRONT_LEFT_OF_CENTER;
    case Rc:
      return AV_CHAN_FRONT_RIGHT_OF_CENTER;
    case Cs:
      return AV_CHAN_BACK_CENTER;
    case Lsd:
      return AV_CHAN_SIDE_LEFT;
    case Rsd:
      return AV_CHAN_SIDE_RIGHT;
    case Ts:
      return AV_CHAN_TOP_CENTER;
    case Vhl:
      return AV_CHAN_TOP_FRONT_LEFT;
    case Vhc:
      return AV_CHAN_TOP_FRONT_CENTER;
    case Vhr:
      return AV_CHAN_TOP_FRONT_RIGHT;
    case Rlt:
      return AV_CHAN_TOP_BACK_LEFT;
    case Rct:
      return AV_CHAN_TOP_BACK_CENTER;
    case Rrt:
      return AV_CHAN_TOP_BACK_RIGHT;
    case Rls:
      return AV_CHAN_BACK_LEFT;
    case Rrs:
      return AV_CHAN_BACK_RIGHT;
    case Lw:
      return AV_CHAN_WIDE_LEFT;
    case Rw:
      return AV_CHAN_WIDE_RIGHT;
    case LFE2:
      return AV_CHAN_LOW_FREQUENCY_2;
    case Lt:
      return AV_CHAN_STEREO_LEFT;
    case Rt:
      return AV_CHAN_STEREO_RIGHT;
    default:
      return AV_CHAN_NONE;
  }
}

bool SameChannelSet(std::vector<AVChannel> a, const AVChannelLayout& source) {
  if (a.size() != static_cast<size_t>(source.nb_channels)) return false;
  std::vector<AVChannel> b;
  for (int i = 0; i < source.nb_channels; ++i) b.push_back(av_channel_layout_channel_from_index(&source, i));
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  return a == b;
}

}  // namespace

bool ChannelsOfLayout(const CoreAudioLayout& layout, const AVChannelLayout& source, std::vector<AVChannel>* channels) {
  channels->clear();
  uint32_t tag = layout.tag;
  if (tag == kAudioChannelLayoutTag_UseChannelBitmap) {
    // Core Audio's bitmap bits are wave's (and FFmpeg's) speaker bits.
    for (int bit = 0; bit < 18; ++bit) {
      if (layout.bitmap & (1u << bit)) channels->push_back(static_cast<AVChannel>(bit));
    }
    if (layout.bitmap >> 18) return false;
  } else if (tag == kAudioChannelLayoutTag_UseChannelDescriptions) {
    for (AudioChannelLabel label : layout.labels) channels->push_back(ChannelOfLabel(label, layout.labels, source));
  } else if ((tag & 0xFFFF0000u) == kAudioChannelLayoutTag_Unknown) {
    if (static_cast<int>(tag & 0xFFFF) != source.nb_channels) return false;
    for (int i = 0; i < source.nb_channels; ++i) channels->push_back(av_channel_layout_channel_from_index(&source, i));
  } else {
    const std::vector<AudioChannelLabel>* labels = LabelsOfTag(tag);
    if (!labels) return false;
    for (AudioChannelLabel label : *labels) channels->push_back(ChannelOfLabel(label, *labels, source));
  }
  if (channels->empty()) return false;
  std::vector<AVChannel> sorted = *channels;
  std::sort(sorted.begin(), sorted.end());
  if (sorted.front() < 0 || std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) return false;
  return true;
}

CoreAudioLayout LayoutOfSource(const AVChannelLayout& source, AVCodecID codec) {
  CoreAudioLayout out;
  static const uint32_t kAac[] = {100, 101, 114, 116, 120, 124, 142, 127, 128};
  static const uint32_t kOther[] = {100, 101, 113, 108, 115, 117, 121, 125, 128, 126};
  const uint32_t* first = codec == AV_CODEC_ID_AAC ? std::begin(kAac) : std::begin(kOther);
  const uint32_t* last = codec == AV_CODEC_ID_AAC ? std::end(kAac) : std::end(kOther);
  // The speakers as a bitmap, where wave's 18 speaker bits hold them.
  const bool has_bitmap = source.order == AV_CHANNEL_ORDER_NATIVE && source.u.mask < (1u << 18);
  const AudioChannelBitmap bitmap = has_bitmap ? static_cast<AudioChannelBitmap>(source.u.mask) : 0;
  if (source.order == AV_CHANNEL_ORDER_NATIVE || source.order == AV_CHANNEL_ORDER_CUSTOM) {
    for (const uint32_t* n = first; n != last; ++n) {
      for (const TagLabels& t : TagTable()) {
        if (t.number != *n) continue;
        CoreAudioLayout candidate;
        candidate.tag = QTM_LAYOUT_TAG(t.number, t.labels.size());
        candidate.bitmap = bitmap;
        std::vector<AVChannel> channels;
        if (ChannelsOfLayout(candidate, source, &channels) && SameChannelSet(channels, source)) return candidate;
      }
    }
    if (has_bitmap) {
      out.tag = kAudioChannelLayoutTag_UseChannelBitmap;
      out.bitmap = bitmap;
      return out;
    }
  }
  out.tag = kAudioChannelLayoutTag_Unknown | static_cast<uint32_t>(source.nb_channels & 0xFFFF);
  return out;
}

bool ParseLayoutRecord(const void* record, size_t size, CoreAudioLayout* out) {
  const size_t kHead = 12, kDescription = sizeof(AudioChannelDescription);
  if (!record || size < kHead) return false;
  const uint8_t* p = static_cast<const uint8_t*>(record);
  uint32_t count = 0;
  memcpy(&out->tag, p, 4);
  memcpy(&out->bitmap, p + 4, 4);
  memcpy(&count, p + 8, 4);
  out->labels.clear();
  if (out->tag != kAudioChannelLayoutTag_UseChannelDescriptions) return true;
  if (count == 0 || count > (size - kHead) / kDescription) return false;
  for (uint32_t i = 0; i < count; ++i) {
    AudioChannelLabel label;
    memcpy(&label, p + kHead + i * kDescription, 4);
    out->labels.push_back(label);
  }
  return true;
}

size_t LayoutRecordSize(const CoreAudioLayout& layout) {
  return 12 + std::max<size_t>(1, layout.labels.size()) * sizeof(AudioChannelDescription);
}

void WriteLayoutRecord(const CoreAudioLayout& layout, void* dst) {
  memset(dst, 0, LayoutRecordSize(layout));
  AudioChannelLayout* record = static_cast<AudioChannelLayout*>(dst);
  record->mChannelLayoutTag = layout.tag;
  record->mChannelBitmap = layout.bitmap;
  record->mNumberChannelDescriptions = static_cast<uint32_t>(layout.labels.size());
  uint8_t* descriptions = static_cast<uint8_t*>(dst) + 12;
  for (size_t i = 0; i < layout.labels.size(); ++i) {
    memcpy(descriptions + i * sizeof(AudioChannelDescription), &layout.labels[i], 4);
  }
}

}  // namespace qtm
