#include <gtest/gtest.h>

#include <cmath>

#include "Utile/fmath.h"
#include "Utile/matriceKw.h"

using namespace utile;
using namespace utile::fmath;

namespace {

TEST(Fmath, ErrorCodesAndDefaultValues) {
  SetErrCode(FOk);
  EXPECT_EQ(DefaultVal(FSing, 7.5), 7.5);
  EXPECT_EQ(MathErr(), FSing);

  const auto run = [](auto f) {
    SetErrCode(99);
    const Float r = f();
    return std::pair<Float, Integer>(r, MathErr());
  };
  const std::pair<Float, Integer> cases[][2] = {
      {run([] { return Log2(8); }), {3, FOk}},
      {run([] { return Log2(-1); }), {-MaxNum, FDomain}},
      {run([] { return Log2(0); }), {-MaxNum, FSing}},
      {run([] { return IntPower(-2, 3); }), {-8, FOk}},
      {run([] { return IntPower(2, -2); }), {0.25, FOk}},
      {run([] { return IntPower(0, -1); }), {MaxNum, FSing}},
      {run([] { return IntPower(0, 0); }), {1, FOk}},
      {run([] { return IntPower(10, 400); }), {MaxNum, FOverflow}},
      {run([] { return IntPower(10, -400); }), {0, FUnderflow}},
      {run([] { return Power(4, 0.5); }), {2, FOk}},
      {run([] { return Power(-2, 2); }), {4, FOk}},
      {run([] { return Power(-2, 0.5); }), {0, FDomain}},
      {run([] { return Power(0, -2); }), {MaxNum, FSing}},
      {run([] { return Power(0, 3); }), {0, FOk}},
      {run([] { return Power(10, 400); }), {MaxNum, FOverflow}},
      {run([] { return Power(10, -400); }), {0, FUnderflow}},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(c[0].first, c[1].first, 1e-15 * std::fabs(c[1].first));
    EXPECT_EQ(c[0].second, c[1].second);
  }
}

TEST(Fmath, SignsAndSmallHelpers) {
  EXPECT_EQ(Sgn(-0.5), -1);
  EXPECT_EQ(Sgn(3), 1);
  EXPECT_EQ(Sgn(0), 1);
  SetZeroSign(0);
  EXPECT_EQ(Sgn(0), 0);
  SetZeroSign(1);
  EXPECT_EQ(DSgn(-1, 3), -3);
  EXPECT_EQ(DSgn(2, -3), 3);
  EXPECT_EQ(DSgn(0, -3), 3);
  EXPECT_EQ(Min(3, -2), -2);
  EXPECT_EQ(Max(3, -2), 3);
  EXPECT_EQ(Max(0.5, 1.5), 1.5);
  Float a = 1, b = 2;
  Swap(a, b);
  EXPECT_EQ(a, 2);
  EXPECT_EQ(b, 1);
  EXPECT_EQ(MachEp, std::ldexp(1.0, -52));
}

TEST(MatriceKw, DimensionsCopiesAndTranspose) {
  TVector v = {5};
  matriceKw::DimVector(v, 3);
  EXPECT_EQ(v, (TVector{0, 0, 0, 0}));
  TIntVector iv;
  matriceKw::DimVector(iv, 0);
  EXPECT_EQ(iv.size(), 1u);
  TMatrix m;
  matriceKw::DimMatrix(m, 1, 2);
  EXPECT_EQ(m.Rows(), 2u);
  EXPECT_EQ(m.Columns(), 3u);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j) m[i][j] = 10 * i + j;
  const TMatrix t = matriceKw::Transpose(m, 0, 0, 1, 2);
  ASSERT_EQ(t.Rows(), 3u);
  EXPECT_EQ(t[2][1], 12);
  EXPECT_EQ(t[0][1], 10);
  TMatrix part;
  matriceKw::CopyMatrix(part, m, 1, 1, 1, 2);
  EXPECT_EQ(part[1][2], 12);
  EXPECT_EQ(part[0][0], 0);
  EXPECT_EQ(matriceKw::Max({1, 9, -3, 4}, 2, 3), 4);
  EXPECT_EQ(matriceKw::Max({1, 9, -3, 4}, 0, 3), 9);
}

}  // namespace
