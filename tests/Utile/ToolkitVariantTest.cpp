#include "Utile/ToolkitVariant.h"

#include <gtest/gtest.h>

#include <vector>

#include "Utile/RandomFunctions.h"

using namespace utile;

namespace {

class ToolkitVariants : public ::testing::Test {
protected:
  void TearDown() override { SetToolkitVariant(tToolkitVariant::tvMainProgram); }
};

std::vector<double> Draws(int n) {
  std::vector<double> values;
  for (int i = 0; i < n; ++i) values.push_back(static_cast<double>(Uniform()));
  return values;
}

TEST_F(ToolkitVariants, EachProgramCombinesTheTwoSeedsItsOwnWay) {
  struct tCase {
    tToolkitVariant Variant;
    Integer Seed1, Seed2;
    uint32_t Combined;
  } const cases[] = {
      {tToolkitVariant::tvMainProgram, 20, 3, 200003u},
      {tToolkitVariant::tvMapFileManager, 20, 3, 23u},
      {tToolkitVariant::tvMapFileManager, -5, 2, 0xFFFFFFFDu},  // sums wrap around in 32 bits
      {tToolkitVariant::tvMainProgram, 0, 23, 23u},
  };
  for (const auto& c : cases) {
    SetToolkitVariant(c.Variant);
    MRandSeed(c.Combined);
    const std::vector<double> expected = Draws(20);
    SetSeeds(c.Seed1, c.Seed2);
    EXPECT_EQ(expected, Draws(20)) << c.Seed1 << " " << c.Seed2;
    EXPECT_EQ(c.Seed1, Seed1());
    EXPECT_EQ(c.Seed2, Seed2());
  }
}

}  // namespace
