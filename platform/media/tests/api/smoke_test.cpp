#include <gtest/gtest.h>

#include "qtmedia.h"

TEST(Engine, HeaderRecordsHaveQuickTimeSizes) {
  EXPECT_EQ(sizeof(ImageDescription), 86u);
  EXPECT_EQ(sizeof(SoundDescription), 36u);
  EXPECT_EQ(sizeof(SoundDescriptionV1), 52u);
}
