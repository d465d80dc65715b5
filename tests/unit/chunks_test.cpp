#include <gtest/gtest.h>

#include <vector>

#include "payloads/chunks.h"

namespace {

TEST(ChunkName, IsBaseUnderscoreDecimalIndex) {
  EXPECT_EQ(chunkName("JAVA", 1), "JAVA_1");
  EXPECT_EQ(chunkName("JAR", 10), "JAR_10");
  EXPECT_EQ(chunkName("JAR", 67), "JAR_67");
  EXPECT_EQ(chunkName("JAR", 9999), "JAR_9999");
}

TEST(TemporaryPayloadName, FourUpperCaseHexDigits) {
  EXPECT_EQ(temporaryPayloadName(0), "bhx0000.tmp");
  EXPECT_EQ(temporaryPayloadName(0xAF), "bhx00AF.tmp");
  EXPECT_EQ(temporaryPayloadName(0xFFFF), "bhxFFFF.tmp");
  EXPECT_EQ(temporaryPayloadName(0x1ABCD), "bhxABCD.tmp") << "only the low 16 bits";
  for (unsigned n : {0u, 0x1234u, 0xFFFFu}) EXPECT_TRUE(isTemporaryPayloadName(temporaryPayloadName(n)));
}

std::vector<int> reports(int count) {
  std::vector<int> values;
  for (int written = 0; written < count; ++written) values.push_back(extractionProgress(written, count));
  return values;
}

TEST(ExtractionProgress, UsesTheZeroBasedIndexOfTheChunkJustWritten) {
  EXPECT_EQ(reports(1), (std::vector<int>{0}));
  EXPECT_EQ(reports(3), (std::vector<int>{0, 33, 66}));
  EXPECT_EQ(reports(4), (std::vector<int>{0, 25, 50, 75}));
}

TEST(ExtractionProgress, SixtySevenChunksEndAt98AndRiseSteadily) {
  std::vector<int> values = reports(67);
  EXPECT_EQ(values.front(), 0);
  EXPECT_EQ(values[1], 1);
  EXPECT_EQ(values[3], 4);
  EXPECT_EQ(values.back(), 98);
  for (size_t i = 1; i < values.size(); ++i) {
    EXPECT_GE(values[i], values[i - 1]) << "report " << i;
    EXPECT_LT(values[i], 100) << "report " << i;
  }
}

}  // namespace
