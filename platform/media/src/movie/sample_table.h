// Run-length sample table: the form the 'stbl' atoms and track fragments give,
// kept as it is. Decode times are runs of equal durations, display offsets
// runs of equal offsets, sync samples runs of consecutive indices, chunks runs
// of equal sample counts; only variable sample sizes (4 bytes) and 'sdtp'
// bytes (1 byte, when present) are kept per sample.
#ifndef QTMEDIA_MOVIE_SAMPLE_TABLE_H
#define QTMEDIA_MOVIE_SAMPLE_TABLE_H

#include <cstdint>
#include <memory>
#include <vector>

#include "movie/movie_model.h"

namespace qtm {

// The sample entries that every table of one movie may hold together. Each
// entry needs bytes of the file, table bytes that describe it or sample
// bytes that hold it, so a movie holds at most one entry for each byte of
// its file. Samples of no size cost an entry like any other: a file that
// describes more of them, with its other samples, than it has bytes is
// refused.
class SampleBudget {
 public:
  explicit SampleBudget(uint64_t entries) : left_(entries) {}
  // False, taking nothing, when fewer than n are left.
  bool Take(uint64_t n) {
    if (n > left_) return false;
    left_ -= n;
    return true;
  }
  uint64_t Left() const { return left_; }

 private:
  uint64_t left_;
};

class CompactSampleTable final : public SampleTable {
 public:
  // Building, in sample order. Each Add* returns false when the samples it
  // adds to its part do not fit the budget, which the tables of one movie
  // share; a table of its own gets a budget of sample_limit.
  explicit CompactSampleTable(std::shared_ptr<SampleBudget> budget) : budget_(std::move(budget)) {}
  explicit CompactSampleTable(uint64_t sample_limit)
      : CompactSampleTable(std::make_shared<SampleBudget>(sample_limit)) {}

  // count samples of duration delta (2^31 and more count as 0); a start
  // before the end of the last run, or past 2^62, continues after it.
  bool AddTimes(uint64_t count, uint32_t delta, int64_t start = -1);
  bool AddDisplayOffsets(uint64_t count, int32_t offset);
  // Sizes: one size for many samples, or one each.
  bool AddSizes(uint64_t count, uint32_t size);
  // Chunks: count chunks of samples_per_chunk samples, the offsets given one
  // by one with AddChunkOffset.
  bool AddChunkRun(uint32_t first_chunk, uint32_t samples_per_chunk, uint32_t description_index);
  void AddChunkOffset(uint64_t offset) { chunk_offsets_.push_back(offset); }
  // Sync samples: without any call every sample is sync.
  void MarkSyncList() { all_sync_ = false; }
  // count samples from index on, in increasing order, 0-based.
  void AddSync(uint32_t index, uint32_t count = 1);
  // Before samples with their own sync flags follow: when every sample so
  // far is sync, the first count become an explicit run.
  void KeepSyncPrefix(uint32_t count);
  // The 'sdtp' byte of count samples from index on.
  void AddDependency(uint32_t index, uint8_t sdtp, uint32_t count = 1);

  // Called once, after the last Add*. Checks the parts against each other
  // and trims the count to the samples that all parts describe (chunk
  // numbers bounded by the chunk-offset table). Samples whose data lies
  // beyond the end of the file are kept: the tables are the facts.
  // Returns false when the tables contradict themselves.
  bool Finish();

  uint32_t Count() const override { return count_; }
  bool Get(uint32_t index, SampleInfo* out) const override;
  int64_t IndexAtDecodeTime(int64_t t) const override;
  int64_t TotalDuration() const override;
  int64_t LastStartAtOrBefore(int64_t t) const override;
  int64_t NextSync(int64_t index) const override;
  int64_t PreviousSync(int64_t index) const override;
  uint32_t SyncCount() const override;
  size_t MemoryBytes() const override;

  // The forms Finish chose, for tests and benchmarks: display offsets as
  // runs (how many) or indexed per sample, sizes as one for all (0 bytes
  // each) or per sample in 2 or 4 bytes.
  struct Layout {
    size_t offset_runs = 0;
    bool offsets_indexed = false;
    int size_bytes = 0;
  };
  Layout GetLayout() const {
    return {offsets_.size(), !offset_index_.empty(), !sizes16_.empty() ? 2 : !sizes_.empty() ? 4 : 0};
  }

  uint64_t TimeTotal() const { return time_total_; }
  int64_t TimeEnd() const;
  uint64_t ChunkCount() const { return chunk_offsets_.size(); }

 private:
  struct TimeRun {
    uint32_t first;
    uint32_t count;
    uint32_t delta;
    int64_t start;
  };
  struct OffsetRun {
    uint32_t first;
    uint32_t count;
    int32_t offset;
  };
  struct SyncRun {
    uint32_t first;
    uint32_t count;
  };
  struct ChunkRun {
    uint32_t first_chunk;  // 0-based
    uint32_t samples_per_chunk;
    uint32_t description_index;
    uint32_t first_sample;  // set by Finish
  };

  uint32_t SizeOf(uint32_t index) const {
    if (!sizes16_.empty()) return sizes16_[index];
    return sizes_.empty() ? constant_size_ : sizes_[index];
  }
  int32_t DisplayOffsetOf(uint32_t index) const;
  // After the checks: the forms that are smaller for what the file holds.
  void Compact();
  void IndexDisplayOffsets();
  uint64_t OffsetOf(uint32_t index, const ChunkRun& run) const;
  const ChunkRun* ChunkRunOf(uint32_t index) const;

  // The part's total grows to total: what passes the most any part has
  // held is taken from the budget.
  bool Charge(uint64_t total);

  std::shared_ptr<SampleBudget> budget_;
  uint64_t charged_ = 0;
  uint32_t count_ = 0;
  std::vector<TimeRun> times_;
  uint64_t time_total_ = 0;
  std::vector<OffsetRun> offsets_;
  uint64_t offset_total_ = 0;
  bool sizes_known_ = false;
  uint32_t constant_size_ = 0;
  uint64_t size_total_ = 0;
  std::vector<uint32_t> sizes_;
  std::vector<uint16_t> sizes16_;  // sizes_ when every size fits 16 bits
  // Display offsets that change every sample or two (B-frames) are kept
  // per sample, as an index into the few distinct values.
  std::vector<int32_t> offset_palette_;
  std::vector<uint8_t> offset_index_;
  bool never_index_ = false;
  std::vector<ChunkRun> chunks_;
  std::vector<uint64_t> chunk_offsets_;
  // Offset of every 16th sample, kept when the sizes vary so that a lookup
  // sums at most 15 sizes.
  std::vector<uint64_t> checkpoints_;
  bool all_sync_ = true;
  std::vector<SyncRun> sync_;
  std::vector<uint8_t> dependency_;
};

}  // namespace qtm

#endif
