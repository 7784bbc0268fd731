#include "movie/sample_table.h"

#include <algorithm>
#include <limits>

namespace qtm {

namespace {
constexpr uint32_t kCheckpointStep = 16;
constexpr uint64_t kMaxSamples = std::numeric_limits<int32_t>::max();
// Decode times stay below 2^62 (fewer than 2^31 samples of durations below
// 2^31 sum to less), so that every sum of a time and a duration or offset fits.
constexpr int64_t kMaxTime = int64_t{1} << 62;
}  // namespace

bool CompactSampleTable::Charge(uint64_t total) {
  if (total > kMaxSamples) return false;
  if (total <= charged_) return true;
  if (!budget_->Take(total - charged_)) return false;
  charged_ = total;
  return true;
}

bool CompactSampleTable::AddTimes(uint64_t count, uint32_t delta, int64_t start) {
  if (count == 0) return true;
  if (!Charge(time_total_ + count)) return false;
  if (delta > 0x7FFFFFFFu) delta = 0;  // a negative duration as some writers leave it
  const int64_t end = TimeEnd();
  const int64_t span = static_cast<int64_t>(count) * delta;
  // Runs never go back in time; a start past every time there can be is
  // not followed either.
  if (start < end || start > kMaxTime - span) start = end;
  if (start > kMaxTime - span) return false;
  if (!times_.empty() && start == end && times_.back().delta == delta) {
    times_.back().count += static_cast<uint32_t>(count);
  } else {
    times_.push_back({static_cast<uint32_t>(time_total_), static_cast<uint32_t>(count), delta, start});
  }
  time_total_ += count;
  return true;
}

int64_t CompactSampleTable::TimeEnd() const {
  if (times_.empty()) return 0;
  const TimeRun& r = times_.back();
  return r.start + static_cast<int64_t>(r.count) * r.delta;
}

bool CompactSampleTable::AddDisplayOffsets(uint64_t count, int32_t offset) {
  if (count == 0) return true;
  if (!Charge(offset_total_ + count)) return false;
  if (!offset_index_.empty()) {
    auto it = std::find(offset_palette_.begin(), offset_palette_.end(), offset);
    if (it == offset_palette_.end() && offset_palette_.size() < 255) {
      offset_palette_.push_back(offset);
      it = offset_palette_.end() - 1;
    }
    if (it != offset_palette_.end()) {
      offset_index_.insert(offset_index_.end(), count, uint8_t(it - offset_palette_.begin() + 1));
      offset_total_ += count;
      return true;
    }
    // More distinct values than an index holds: back to runs.
    uint64_t total = offset_total_;
    offset_total_ = 0;
    std::vector<uint8_t> index;
    index.swap(offset_index_);
    std::vector<int32_t> palette;
    palette.swap(offset_palette_);
    never_index_ = true;
    for (uint64_t i = 0; i < total; ++i) AddDisplayOffsets(1, index[i] ? palette[index[i] - 1] : 0);
  }
  if (!offsets_.empty() && offsets_.back().offset == offset) {
    offsets_.back().count += static_cast<uint32_t>(count);
  } else {
    offsets_.push_back({static_cast<uint32_t>(offset_total_), static_cast<uint32_t>(count), offset});
  }
  offset_total_ += count;
  // Runs of one or two samples (B-frames): an index of one byte each is smaller.
  if (!never_index_ && offsets_.size() >= 4096 && offsets_.size() * 12 > offset_total_ * 2) IndexDisplayOffsets();
  return true;
}

void CompactSampleTable::IndexDisplayOffsets() {
  std::vector<int32_t> palette;
  for (const OffsetRun& r : offsets_) {
    if (std::find(palette.begin(), palette.end(), r.offset) != palette.end()) continue;
    if (palette.size() == 255) {
      never_index_ = true;
      return;
    }
    palette.push_back(r.offset);
  }
  std::vector<uint8_t> index;
  index.reserve(offset_total_ * 2);
  for (const OffsetRun& r : offsets_) {
    auto k = std::find(palette.begin(), palette.end(), r.offset) - palette.begin();
    index.insert(index.end(), r.count, uint8_t(k + 1));
  }
  offset_palette_ = std::move(palette);
  offset_index_ = std::move(index);
  std::vector<OffsetRun>().swap(offsets_);
}

bool CompactSampleTable::AddSizes(uint64_t count, uint32_t size) {
  if (count == 0) return true;
  if (!Charge(size_total_ + count)) return false;
  if (!sizes_known_) {
    sizes_known_ = true;
    constant_size_ = size;
  }
  if (sizes_.empty() && size == constant_size_) {
    size_total_ += count;
    return true;
  }
  if (sizes_.empty()) sizes_.assign(size_total_, constant_size_);  // bounded by the limit
  sizes_.insert(sizes_.end(), count, size);
  size_total_ += count;
  return true;
}

bool CompactSampleTable::AddChunkRun(uint32_t first_chunk, uint32_t samples_per_chunk, uint32_t description_index) {
  if (samples_per_chunk == 0) return false;
  if (!chunks_.empty() && first_chunk <= chunks_.back().first_chunk) return false;
  if (!chunks_.empty() && chunks_.back().samples_per_chunk == samples_per_chunk &&
      chunks_.back().description_index == description_index) {
    return true;  // the same run goes on
  }
  chunks_.push_back({first_chunk, samples_per_chunk, description_index, 0});
  return true;
}

void CompactSampleTable::AddSync(uint32_t index, uint32_t count) {
  all_sync_ = false;
  if (count == 0) return;
  if (!sync_.empty()) {
    SyncRun& last = sync_.back();
    uint64_t next = static_cast<uint64_t>(last.first) + last.count;
    if (index < next) return;  // out of order or repeated: ignored
    if (index == next && last.count <= UINT32_MAX - count) {
      last.count += count;
      return;
    }
  }
  sync_.push_back({index, count});
}

void CompactSampleTable::KeepSyncPrefix(uint32_t count) {
  if (!all_sync_) return;
  all_sync_ = false;
  if (count > 0) sync_.push_back({0, count});
}

void CompactSampleTable::AddDependency(uint32_t index, uint8_t sdtp, uint32_t count) {
  // Each byte comes from a byte of an 'sdtp' atom or from a fragment run's
  // samples, which the budget has counted.
  uint64_t end = std::min<uint64_t>(uint64_t{index} + count, kMaxSamples);
  if (end <= index) return;
  if (dependency_.size() < end) {
    if (sdtp == 0) return;
    dependency_.resize(end, 0);
  }
  std::fill(dependency_.begin() + index, dependency_.begin() + end, sdtp);
}

bool CompactSampleTable::Finish() {
  // Samples that the chunk runs hold. A run holds the chunks from its first
  // up to the next run's first, within the chunk-offset table: runs that
  // start past the table hold none.
  const uint64_t chunk_count = chunk_offsets_.size();
  uint64_t chunk_samples = 0;
  for (size_t i = 0; i < chunks_.size(); ++i) {
    ChunkRun& run = chunks_[i];
    run.first_sample = static_cast<uint32_t>(std::min<uint64_t>(chunk_samples, kMaxSamples));
    uint64_t last = std::min<uint64_t>(i + 1 < chunks_.size() ? chunks_[i + 1].first_chunk : chunk_count, chunk_count);
    if (run.first_chunk >= last) continue;
    chunk_samples += (last - run.first_chunk) * static_cast<uint64_t>(run.samples_per_chunk);
  }
  if (!chunks_.empty() && chunks_.front().first_chunk != 0) return false;
  uint64_t count = std::min({time_total_, size_total_, chunk_samples, kMaxSamples});
  count_ = static_cast<uint32_t>(count);

  // Every sample the tables describe is kept, whether its data is in the
  // file or not (a file cut short): reading one that is not fails then.
  // With varying sizes, the offset of every 16th sample is noted.
  checkpoints_.clear();
  if (!sizes_.empty()) {
    checkpoints_.reserve(count_ / kCheckpointStep + 1);
    for (size_t r = 0; r < chunks_.size(); ++r) {
      const ChunkRun& run = chunks_[r];
      uint64_t last =
          std::min<uint64_t>(r + 1 < chunks_.size() ? chunks_[r + 1].first_chunk : chunk_count, chunk_count);
      for (uint64_t chunk = run.first_chunk; chunk < last; ++chunk) {
        uint64_t index = run.first_sample + (chunk - run.first_chunk) * run.samples_per_chunk;
        if (index >= count_) break;
        uint64_t offset = chunk_offsets_[chunk];
        uint64_t end = std::min<uint64_t>(index + run.samples_per_chunk, count_);
        for (uint64_t k = index; k < end; ++k) {
          if (k % kCheckpointStep == 0) checkpoints_.push_back(offset);
          offset += sizes_[k];
        }
      }
    }
  }
  Compact();
  return true;
}

void CompactSampleTable::Compact() {
  offset_index_.shrink_to_fit();
  chunk_offsets_.shrink_to_fit();
  sync_.shrink_to_fit();
  times_.shrink_to_fit();
  if (!sizes_.empty()) {
    bool narrow = std::all_of(sizes_.begin(), sizes_.end(), [](uint32_t v) { return v <= 0xFFFF; });
    if (narrow) {
      sizes16_.assign(sizes_.begin(), sizes_.end());
      std::vector<uint32_t>().swap(sizes_);
    }
  }
  // A run costs 12 bytes, an index one: switch when runs are short.
  if (offset_index_.empty() && offsets_.size() > 16 && offsets_.size() * 12 > count_) {
    std::vector<int32_t> palette;
    std::vector<uint8_t> index(count_, 0);
    for (const OffsetRun& r : offsets_) {
      if (r.first >= count_) break;
      auto it = std::find(palette.begin(), palette.end(), r.offset);
      if (it == palette.end()) {
        if (palette.size() == 255) return;  // too many distinct values: keep the runs
        palette.push_back(r.offset);
        it = palette.end() - 1;
      }
      uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(uint64_t(r.first) + r.count, count_));
      std::fill(index.begin() + r.first, index.begin() + end, uint8_t(it - palette.begin() + 1));
    }
    offset_palette_ = std::move(palette);
    offset_index_ = std::move(index);
    std::vector<OffsetRun>().swap(offsets_);
  }
}

int32_t CompactSampleTable::DisplayOffsetOf(uint32_t index) const {
  if (!offset_index_.empty()) {
    if (index >= offset_index_.size()) return 0;
    uint8_t k = offset_index_[index];
    return k ? offset_palette_[k - 1] : 0;
  }
  if (offsets_.empty()) return 0;
  auto o = std::upper_bound(offsets_.begin(), offsets_.end(), index,
                            [](uint32_t i, const OffsetRun& r) { return i < r.first; });
  if (o == offsets_.begin()) return 0;
  --o;
  return index < static_cast<uint64_t>(o->first) + o->count ? o->offset : 0;
}

const CompactSampleTable::ChunkRun* CompactSampleTable::ChunkRunOf(uint32_t index) const {
  auto it = std::upper_bound(chunks_.begin(), chunks_.end(), index,
                             [](uint32_t i, const ChunkRun& r) { return i < r.first_sample; });
  if (it == chunks_.begin()) return nullptr;
  --it;
  // Runs that hold no chunk share first_sample with the next: take the last.
  return &*it;
}

uint64_t CompactSampleTable::OffsetOf(uint32_t index, const ChunkRun& run) const {
  uint32_t k = (index - run.first_sample) / run.samples_per_chunk;
  uint32_t chunk_first = run.first_sample + k * run.samples_per_chunk;
  uint64_t chunk = uint64_t{run.first_chunk} + k;
  if (chunk >= chunk_offsets_.size()) return UINT64_MAX;  // Finish keeps counts inside the table
  uint64_t offset = chunk_offsets_[chunk];
  if (sizes_.empty() && sizes16_.empty()) return offset + static_cast<uint64_t>(index - chunk_first) * constant_size_;
  uint32_t from = chunk_first;
  uint32_t checkpoint = index / kCheckpointStep;
  if (checkpoint * kCheckpointStep > chunk_first && checkpoint < checkpoints_.size()) {
    from = checkpoint * kCheckpointStep;
    offset = checkpoints_[checkpoint];
  }
  if (!sizes16_.empty()) {
    for (uint32_t i = from; i < index; ++i) offset += sizes16_[i];
  } else {
    for (uint32_t i = from; i < index; ++i) offset += sizes_[i];
  }
  return offset;
}

bool CompactSampleTable::Get(uint32_t index, SampleInfo* out) const {
  if (index >= count_ || !out) return false;
  auto t =
      std::upper_bound(times_.begin(), times_.end(), index, [](uint32_t i, const TimeRun& r) { return i < r.first; });
  --t;
  out->decode_time = t->start + static_cast<int64_t>(index - t->first) * t->delta;
  out->duration = t->delta;
  out->display_offset = DisplayOffsetOf(index);
  out->size = SizeOf(index);
  const ChunkRun* run = ChunkRunOf(index);
  out->offset = OffsetOf(index, *run);
  out->description_index = run->description_index;
  if (all_sync_) {
    out->sync = true;
  } else {
    auto s =
        std::upper_bound(sync_.begin(), sync_.end(), index, [](uint32_t i, const SyncRun& r) { return i < r.first; });
    out->sync = s != sync_.begin() && index < static_cast<uint64_t>((s - 1)->first) + (s - 1)->count;
  }
  out->dependency = index < dependency_.size() ? dependency_[index] : 0;
  out->droppable = ((out->dependency >> 2) & 3) == 2;
  return true;
}

int64_t CompactSampleTable::LastStartAtOrBefore(int64_t t) const {
  if (count_ == 0) return -1;
  auto it = std::upper_bound(times_.begin(), times_.end(), t, [](int64_t v, const TimeRun& r) { return v < r.start; });
  if (it == times_.begin()) return -1;
  --it;
  // Zero-duration runs share their start with the next run: the later one wins.
  int64_t k = it->delta == 0 ? it->count - 1 : std::min<int64_t>((t - it->start) / it->delta, it->count - 1);
  int64_t index = it->first + k;
  return std::min<int64_t>(index, count_ - 1);
}

int64_t CompactSampleTable::IndexAtDecodeTime(int64_t t) const {
  int64_t index = LastStartAtOrBefore(t);
  if (index < 0) return -1;
  SampleInfo s;
  Get(static_cast<uint32_t>(index), &s);
  return t < s.decode_time + s.duration ? index : -1;
}

int64_t CompactSampleTable::TotalDuration() const {
  if (count_ == 0) return 0;
  SampleInfo s;
  Get(count_ - 1, &s);
  return s.decode_time + s.duration;
}

int64_t CompactSampleTable::NextSync(int64_t index) const {
  if (index < 0 || index >= count_) return -1;
  if (all_sync_) return index;
  auto s = std::upper_bound(sync_.begin(), sync_.end(), static_cast<uint32_t>(index),
                            [](uint32_t i, const SyncRun& r) { return i < r.first; });
  if (s != sync_.begin() && index < static_cast<int64_t>((s - 1)->first) + (s - 1)->count) return index;
  if (s == sync_.end() || s->first >= count_) return -1;
  return s->first;
}

int64_t CompactSampleTable::PreviousSync(int64_t index) const {
  if (index < 0 || count_ == 0) return -1;
  index = std::min<int64_t>(index, count_ - 1);
  if (all_sync_) return index;
  auto s = std::upper_bound(sync_.begin(), sync_.end(), static_cast<uint32_t>(index),
                            [](uint32_t i, const SyncRun& r) { return i < r.first; });
  if (s == sync_.begin()) return -1;
  --s;
  return std::min<int64_t>(index, static_cast<int64_t>(s->first) + s->count - 1);
}

uint32_t CompactSampleTable::SyncCount() const {
  if (all_sync_) return count_;
  uint64_t n = 0;
  for (const SyncRun& r : sync_) {
    if (r.first >= count_) break;
    n += std::min<uint64_t>(r.count, count_ - r.first);
  }
  return static_cast<uint32_t>(n);
}

size_t CompactSampleTable::MemoryBytes() const {
  return sizeof(*this) + times_.capacity() * sizeof(TimeRun) + offsets_.capacity() * sizeof(OffsetRun) +
         sizes_.capacity() * sizeof(uint32_t) + sizes16_.capacity() * sizeof(uint16_t) +
         offset_palette_.capacity() * sizeof(int32_t) + offset_index_.capacity() +
         chunks_.capacity() * sizeof(ChunkRun) + chunk_offsets_.capacity() * sizeof(uint64_t) +
         checkpoints_.capacity() * sizeof(uint64_t) + sync_.capacity() * sizeof(SyncRun) + dependency_.capacity();
}

}  // namespace qtm
