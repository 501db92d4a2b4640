#include "TestSupport/ExceptionMessages.h"
#include "Utile/DynamicArrays.h"

#include <gtest/gtest.h>

#include "Utile/RunTime.h"

using namespace utile;

namespace {

using testsupport::MessageOf;

TEST(DynamicArrays, ContainerForOneToZeroIsEmpty) {
  TDynSngVector v;
  EXPECT_FALSE(v.Initialized());
  EXPECT_TRUE(v.Initialize(1, 0));
  EXPECT_TRUE(v.Initialized());
  EXPECT_EQ(0, v.Rows());
  EXPECT_EQ(1, v.RowMin());
  EXPECT_EQ(0, v.RowMax());
}

TEST(DynamicArrays, CellsAreZeroFilledAndIndexedFromRowMin) {
  TDynSmiVector v;
  v.Initialize(-3, 4);
  EXPECT_EQ(8, v.Rows());
  for (Integer i = -3; i <= 4; ++i) EXPECT_EQ(0, v.GetCells(i));
  for (Integer i = -3; i <= 4; ++i) v.SetCells(i, static_cast<SmallInt>(-100 * i));
  for (Integer i = -3; i <= 4; ++i) EXPECT_EQ(-100 * i, v.GetCells(i));
  // Element i sits at offset i - RowMin of the block.
  EXPECT_EQ(300, v.GetArray()[0]);
  EXPECT_EQ(-400, v.pArray()[7]);
}

TEST(DynamicArrays, SecondInitializeFails) {
  TDynBytVector v;
  v.Initialize(1, 10);
  EXPECT_EQ("Dynamic vectors can't be initialized twice",
            MessageOf<EInvalidOperation>([&] { v.Initialize(1, 10); }));
  TDynBytVector empty;
  empty.Initialize(1, 0);
  EXPECT_THROW(empty.Initialize(1, 5), EInvalidOperation);
}

TEST(DynamicArrays, SizeLimitIsOneThousandMebibytesForEveryElementType) {
  // The message says "bytes" for all three containers; the counts differ.
  TDynBytVector bytes;
  EXPECT_EQ("Dynamic bytes vector too big (1048576001). Maximum number of elements is 1048576000",
            MessageOf<ERangeError>([&] { bytes.Initialize(1, 1048576001); }));
  TDynSmiVector smallIntegers;
  EXPECT_EQ("Dynamic bytes vector too big (524288001). Maximum number of elements is 524288000",
            MessageOf<ERangeError>([&] { smallIntegers.Initialize(1, 524288001); }));
  TDynSngVector singles;
  EXPECT_EQ("Dynamic bytes vector too big (262144001). Maximum number of elements is 262144000",
            MessageOf<ERangeError>([&] { singles.Initialize(0, 262144000); }));
  // A refused size leaves the container free for a sound one.
  EXPECT_TRUE(singles.Initialize(1, 3));
  EXPECT_EQ(3, singles.Rows());
}

TEST(DynamicArrays, LastIndexBelowFirstMinusOneIsRefused) {
  TDynSngVector v;
  EXPECT_THROW(v.Initialize(5, 3), EAssertionFailed);
  EXPECT_FALSE(v.Initialized());
}

}  // namespace
