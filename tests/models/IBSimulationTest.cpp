// What the individual-based workbench computes without a window: the kernel and
// connectivity matrices, the capacities, the expected immigration and the
// occupancy of a patch, against values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "TestSupport/ExceptionMessages.h"
#include "Utile/RunTime.h"
#include "models/IBSimulation.h"

namespace {

using utile::tMatrixOfBoolean;
using utile::tMatrixOfDouble;

// Three patches on a line, 10 apart; the ends linked or not.
const tMatrixOfDouble LineDistances = {{0, 10, 20}, {10, 0, 10}, {20, 10, 0}};
tMatrixOfBoolean LineLinks(bool endsLinked) {
  return {{false, true, endsLinked}, {true, false, true}, {endsLinked, true, false}};
}

TEST(IBSimulationTest, KernelAndConnectivityOnAThreePatchLine) {
  const double e1 = std::exp(-1.0), e2 = std::exp(-2.0);
  struct tCase {
    const char* Name;
    double D;
    bool EndsLinked;
    tMatrixOfDouble Kernel, Connectivity;  // columns of the connectivity sum to 1
  };
  const std::vector<tCase> cases = {
      {"D = 10",
       10,
       true,
       {{1, e1, e2}, {e1, 1, e1}, {e2, e1, 1}},
       {{0, 0.5, e2 / (e1 + e2)}, {e1 / (e1 + e2), 0, e1 / (e1 + e2)}, {e2 / (e1 + e2), 0.5, 0}}},
      {"D = 10, ends apart",
       10,
       false,
       {{1, e1, e2}, {e1, 1, e1}, {e2, e1, 1}},
       {{0, 0.5, 0}, {1, 0, 1}, {0, 0.5, 0}}},
      // A distance that is not above 0 is infinite: flat kernel, equal shares.
      {"D = 0", 0, true, {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, {{0, 0.5, 0.5}, {0.5, 0, 0.5}, {0.5, 0.5, 0}}},
      {"D = -5", -5, true, {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, {{0, 0.5, 0.5}, {0.5, 0, 0.5}, {0.5, 0.5, 0}}},
  };
  for (const tCase& c : cases) {
    utile::tMatrixOfExtended kernel;
    tMatrixOfDouble connectivity;
    models::ComputeDispersalKernel(c.D, LineDistances, LineLinks(c.EndsLinked), 3, kernel, connectivity);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        EXPECT_NEAR(double(kernel[i][j]), c.Kernel[i][j], 1e-15) << c.Name << " " << i << j;
        EXPECT_NEAR(connectivity[i][j], c.Connectivity[i][j], 1e-15) << c.Name << " " << i << j;
      }
  }
  // Without patches the matrices stay as they were.
  utile::tMatrixOfExtended kernel = {{7}};
  tMatrixOfDouble connectivity = {{8}};
  models::ComputeDispersalKernel(10, {}, {}, 0, kernel, connectivity);
  EXPECT_TRUE(kernel[0][0] == 7 && connectivity[0][0] == 8);
}

TEST(IBSimulationTest, CapacitiesRoundHalvesToEvenAndRefuseTerritoriesWithoutOne) {
  models::tArrayOfCircles patches(4);
  const double areas[] = {2.5, 3.5, 100, 0.4};
  for (int i = 0; i < 4; ++i) {
    patches[i].popID = i + 1;
    patches[i].A = areas[i];
  }
  EXPECT_EQ(models::PatchCapacities(patches, 1, "1"), (utile::tVectorOfInteger{2, 4, 100, 0}));
  EXPECT_EQ(models::PatchCapacities(patches, 0.5, "0.5"), (utile::tVectorOfInteger{5, 7, 200, 1}));
  struct tRefused {
    double Territory;
    const char* Text;
    const char* Says;
  };
  for (const tRefused& r : {tRefused{0, "0", "greater than 0 (\"0\")"},
                            {-1, "-1", "greater than 0 (\"-1\")"},
                            {std::numeric_limits<double>::quiet_NaN(), "nan", "greater than 0"},
                            {1e-300, "1e-300", "\"1e-300\" gives patch 1 a capacity beyond 2147483647"}}) {
    const std::string message = testsupport::MessageOf<utile::EInvalidArgument>(
        [&] { models::PatchCapacities(patches, r.Territory, r.Text); });
    EXPECT_NE(message.find(r.Says), std::string::npos) << message;
  }
}

TEST(IBSimulationTest, ExpectedImmigrationCountsNothingBeyondTheModel) {
  // The rows and text of a whole case are checked in the workbench's test.
  const tMatrixOfDouble connectivity = {{0, 0.09, 0}, {0.18, 0, 0.18}, {0, 0.09, 0}};
  const models::tExpectedImmigration e = models::ExpectedImmigration(connectivity, {10}, LineLinks(false), 1);
  EXPECT_NEAR(e.Matrix[1][0], 1.8, 1e-12);                          // from patch 1 of capacity 10
  EXPECT_TRUE(e.Matrix[0][1] == 0 && e.Matrix[1][1] == 0);          // patch 2 has no capacity, p = 1
  EXPECT_TRUE(e.Probabilities[0] == 0 && e.Probabilities[1] == 1);  // a row of zeros; all from elsewhere
  EXPECT_EQ(models::ExpectedImmigration({}, {}, {}, 0.5).Mean, 0);
}

TEST(IBSimulationTest, OccupancyCountsFromTheThirdPoint) {
  struct tCase {
    std::vector<double> Adults;
    double Threshold, Occupancy;
  };
  for (const tCase& c : std::initializer_list<tCase>{{{}, 0, 0},
                                                     {{5, 7}, 0, 0},
                                                     {{5, 7, 0, 3}, 0, 0.25},
                                                     {{0, 0, 1, 1, 1}, 0, 0.6},
                                                     {{9, 9, 10, 11, 12}, 10, 0.4}})
    EXPECT_DOUBLE_EQ(models::PatchOccupancy(c.Adults, c.Threshold), c.Occupancy);
}

}  // namespace
