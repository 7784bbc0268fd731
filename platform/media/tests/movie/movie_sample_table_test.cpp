// The run-length sample table on its own: display offsets in each of their
// forms, sizes in 16 and 32 bits, chunk offsets, sync runs.
#include <gtest/gtest.h>

#include "movie/sample_table.h"

namespace {

// Fills a table of n samples, one per chunk, with the given display offsets.
std::unique_ptr<qtm::CompactSampleTable> Table(uint32_t n, int32_t (*offset)(uint32_t), uint32_t (*size)(uint32_t)) {
  auto t = std::make_unique<qtm::CompactSampleTable>(1u << 30);
  EXPECT_TRUE(t->AddTimes(n, 10));
  EXPECT_TRUE(t->AddChunkRun(0, 1, 1));
  uint64_t at = 0;
  for (uint32_t i = 0; i < n; ++i) {
    EXPECT_TRUE(t->AddDisplayOffsets(1, offset(i)));
    EXPECT_TRUE(t->AddSizes(1, size(i)));
    t->AddChunkOffset(at);
    at += size(i);
    if (i % 10 == 0) t->AddSync(i);
  }
  EXPECT_TRUE(t->Finish());
  return t;
}

void ExpectLayout(const qtm::CompactSampleTable& t, bool indexed, size_t runs, int size_bytes) {
  qtm::CompactSampleTable::Layout layout = t.GetLayout();
  EXPECT_EQ(layout.offsets_indexed, indexed);
  if (!indexed) EXPECT_EQ(layout.offset_runs, runs);
  EXPECT_EQ(layout.size_bytes, size_bytes);
}

void Check(const qtm::CompactSampleTable& t, uint32_t n, int32_t (*offset)(uint32_t), uint32_t (*size)(uint32_t)) {
  ASSERT_EQ(t.Count(), n);
  uint64_t at = 0;
  qtm::SampleInfo s;
  for (uint32_t i = 0; i < n; ++i) {
    ASSERT_TRUE(t.Get(i, &s));
    ASSERT_EQ(s.display_offset, offset(i)) << i;
    ASSERT_EQ(s.size, size(i)) << i;
    ASSERT_EQ(s.offset, at) << i;
    ASSERT_EQ(s.sync, i % 10 == 0) << i;
    ASSERT_EQ(s.decode_time, 10 * int64_t(i));
    at += size(i);
  }
  EXPECT_EQ(t.SyncCount(), (n + 9) / 10);
  EXPECT_EQ(t.NextSync(11), 20);
  EXPECT_EQ(t.PreviousSync(19), 10);
  EXPECT_EQ(t.PreviousSync(10), 10);
}

TEST(SampleTable, BFrameOffsetsAreIndexed) {
  auto offset = [](uint32_t i) { return i % 3 == 0 ? 20 : (i % 3 == 1 ? 0 : -10); };
  auto size = [](uint32_t i) { return 1 + i % 100; };
  auto t = Table(100000, offset, size);
  Check(*t, 100000, offset, size);
  ExpectLayout(*t, true, 0, 2);
  // Per sample: 8 bytes of chunk offset, 2 of size, 1 of display offset, a
  // half of checkpoint, and a sync run (8 bytes) every tenth sample.
  EXPECT_LT(t->MemoryBytes(), 100000u * 13);
}

// More distinct offsets than a one-byte index holds: a run a sample.
TEST(SampleTable, ManyDistinctOffsetsStayRuns) {
  auto offset = [](uint32_t i) { return int32_t(i % 300) * 10; };
  auto size = [](uint32_t i) { return 70000 + i % 5; };  // needs 32 bits
  auto t = Table(20000, offset, size);
  Check(*t, 20000, offset, size);
  ExpectLayout(*t, false, 20000, 4);
}

// Two long runs stay two runs, and one size for all samples is kept once.
TEST(SampleTable, FewRunsStayRuns) {
  auto offset = [](uint32_t i) { return i < 500 ? 0 : 7; };
  auto size = [](uint32_t) { return 9u; };
  auto t = Table(1000, offset, size);
  Check(*t, 1000, offset, size);
  ExpectLayout(*t, false, 2, 0);
}

TEST(SampleTable, PartsThatDisagreeGiveTheShortest) {
  qtm::CompactSampleTable t(1000);
  t.AddTimes(10, 5);
  t.AddSizes(8, 2);
  t.AddChunkRun(0, 4, 1);
  t.AddChunkOffset(0);
  t.AddChunkOffset(8);
  t.AddChunkOffset(16);
  ASSERT_TRUE(t.Finish());
  EXPECT_EQ(t.Count(), 8u);
  EXPECT_EQ(t.TotalDuration(), 40);
}

// Chunk runs that start past the chunk-offset table hold no chunk: ten chunk
// offsets of one sample each hold ten samples, whatever the other tables and
// a run starting at chunk 1001 say, and no lookup reads past the offsets.
TEST(SampleTable, ChunkRunsPastTheOffsetTableHoldNothing) {
  for (bool varying : {false, true}) {
    SCOPED_TRACE(varying ? "varying sizes" : "one size");
    qtm::CompactSampleTable t(1u << 20);
    ASSERT_TRUE(t.AddTimes(1000, 10));
    for (uint32_t i = 0; i < 1000; ++i) ASSERT_TRUE(t.AddSizes(1, varying ? 3 + i % 2 : 4));
    ASSERT_TRUE(t.AddChunkRun(0, 1, 1));
    ASSERT_TRUE(t.AddChunkRun(1000, 2, 1));
    for (uint32_t i = 0; i < 10; ++i) t.AddChunkOffset(100 * i);
    ASSERT_TRUE(t.Finish());
    ASSERT_EQ(t.Count(), 10u);
    qtm::SampleInfo s;
    for (uint32_t i = 0; i < 10; ++i) {
      ASSERT_TRUE(t.Get(i, &s));
      EXPECT_EQ(s.offset, 100u * i);
      EXPECT_EQ(s.size, varying ? 3 + i % 2 : 4u);
    }
    EXPECT_FALSE(t.Get(10, &s));
    EXPECT_EQ(t.TotalDuration(), 100);
  }
}

}  // namespace
