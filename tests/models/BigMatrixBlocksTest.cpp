#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Utile/RunTime.h"
#include "models/BigMatrixBlocks.h"

using namespace models;

namespace {

// Blocks over factors that are whole eighths. A cell is a product of at most
// twelve of them and every sum of cells times eighths stays within 53 bits, so
// that the products are exact in doubles whatever the order of their sums, and
// are known exactly here in integers: numerators over 8^(demes + 1).
struct tBlockCase {
  int Demes, Sources;
  int PrecisionBits;  // cells below 2^-PrecisionBits are cut; 0 for none
  size_t Columns;
};
const tBlockCase BlockCases[] = {
    {4, 29, 6, 1},     // no high demes, two vectors of low destinations
    {7, 32, 12, 3},    // one high deme, a full block
    {10, 29, 14, 1},   // a short block, one column
    {10, 32, 0, 11},   // nothing cut, columns beyond every tile's width
    {12, 17, 20, 2},   // most of the high ranges never reached
};

// The numerator of deme k's factor "empty after the step" for source c: 0 to 8,
// both ends included (a deme certain to empty, or to stay occupied).
int64_t EmptyEighths(int c, int k) {
  return (3 * c + 5 * k + c * k) % 9;
}
int64_t ZEighths(size_t c, size_t j) {
  return static_cast<int64_t>((7 * c + 3 * j) % 15) - 7;
}
int64_t YEighths(size_t s, size_t j) {
  return static_cast<int64_t>((5 * s + j) % 9) - 4;
}
int64_t XEighths(size_t s) {
  return s == 0 ? 0 : static_cast<int64_t>((11 * s) % 13) - 6;
}

double Eighths(int64_t numerator, int demes) {
  return std::ldexp(static_cast<double>(numerator), -3 * demes);
}

// The numerator over 8^demes of cell(s, c), 0 where it falls below the precision.
int64_t CellEighths(const tBlockCase& b, size_t s, int c) {
  int64_t product = 1;
  for (int k = 0; k < b.Demes; ++k) {
    const int64_t empty = EmptyEighths(c, k);
    product *= ((s >> k) & 1) ? 8 - empty : empty;
  }
  // product / 8^demes < 2^-bits  <=>  product < 2^(3 demes - bits)
  if (b.PrecisionBits > 0 && product < (int64_t{1} << (3 * b.Demes - b.PrecisionBits))) return 0;
  return product;
}

struct tBlockProducts {
  std::vector<double> Added, Summed;  // AddProducts into Y, SumProducts' Out
};

tBlockProducts ExactProducts(const tBlockCase& b, size_t& cut, size_t& kept) {
  const size_t states = size_t{1} << b.Demes, m = b.Columns;
  const int64_t scale = int64_t{1} << (3 * b.Demes);
  tBlockProducts p;
  for (size_t s = 1; s < states; ++s)
    for (size_t j = 0; j < m; ++j) {
      int64_t sum = YEighths(s, j) * scale;
      for (int c = 0; c < b.Sources; ++c) sum += CellEighths(b, s, c) * ZEighths(c, j);
      p.Added.push_back(Eighths(sum, b.Demes + 1));
    }
  for (int c = 0; c < b.Sources; ++c) {
    int64_t sum = 0;
    for (size_t s = 1; s < states; ++s) {
      const int64_t cell = CellEighths(b, s, c);
      (cell == 0 ? cut : kept)++;
      sum += cell * XEighths(s);
    }
    p.Summed.push_back(Eighths(sum, b.Demes + 1));
  }
  return p;
}

tBlockProducts BlockProducts(const tBlockCase& b) {
  const size_t states = size_t{1} << b.Demes, m = b.Columns;
  tSourceBlock block(b.Demes, b.PrecisionBits > 0 ? std::ldexp(1.0, -b.PrecisionBits) : 0.0);
  std::vector<double> empty(b.Demes), stay(b.Demes);
  for (int c = 0; c < b.Sources; ++c) {
    for (int k = 0; k < b.Demes; ++k) {
      empty[k] = Eighths(EmptyEighths(c, k), 1);
      stay[k] = Eighths(8 - EmptyEighths(c, k), 1);
    }
    block.Add(empty.data(), stay.data());
  }
  std::vector<double> z(static_cast<size_t>(b.Sources) * m), x(states);
  for (int c = 0; c < b.Sources; ++c)
    for (size_t j = 0; j < m; ++j) z[c * m + j] = Eighths(ZEighths(c, j), 1);
  for (size_t s = 0; s < states; ++s) x[s] = Eighths(XEighths(s), 1);
  tBlockProducts p;
  for (size_t s = 1; s < states; ++s)
    for (size_t j = 0; j < m; ++j) p.Added.push_back(Eighths(YEighths(s, j), 1));
  block.AddProducts(z.data(), m, p.Added.data(), false);
  p.Summed.assign(b.Sources, -1.0);
  block.SumProducts(x.data(), p.Summed.data(), false);
  return p;
}

// 64-bit FNV-1a over the values' bits, low byte first.
void AddToDigest(uint64_t& digest, const std::vector<double>& values) {
  for (const double v : values) {
    const uint64_t bits = std::bit_cast<uint64_t>(v);
    for (int byte = 0; byte < 8; ++byte) {
      digest ^= (bits >> (8 * byte)) & 0xFF;
      digest *= 0x100000001B3ull;
    }
  }
}
constexpr uint64_t EmptyDigest = 0xCBF29CE484222325ull;

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// The digest of every case's products, in the order of the cases (Added, then
// Summed), as the portable unit gave them on x86 and under qemu-aarch64; it is
// that of the exact integer products below.
constexpr uint64_t RecordedDigest = 0x7BA3BE39B3C6072Bull;

class BigMatrixBlocks : public ::testing::Test {
 protected:
  void TearDown() override { UseVectorUnit(WidestVectorUnit()); }
};

TEST_F(BigMatrixBlocks, ExactProductsHaveTheRecordedDigest) {
  uint64_t digest = EmptyDigest;
  size_t cut = 0, kept = 0;
  for (const tBlockCase& b : BlockCases) {
    const tBlockProducts p = ExactProducts(b, cut, kept);
    AddToDigest(digest, p.Added);
    AddToDigest(digest, p.Summed);
  }
  EXPECT_EQ(RecordedDigest, digest) << std::hex << digest;
  // The cases cut cells and keep others.
  EXPECT_GT(cut, 1000u);
  EXPECT_GT(kept, 1000u);
}

TEST_F(BigMatrixBlocks, EveryVectorUnitGivesTheExactProducts) {
  // A machine with one unit checks that one against the recorded digest.
  for (int unit = 0; unit <= static_cast<int>(WidestVectorUnit()); ++unit) {
    UseVectorUnit(static_cast<tVectorUnit>(unit));
    uint64_t digest = EmptyDigest;
    for (const tBlockCase& b : BlockCases) {
      size_t cut = 0, kept = 0;
      const tBlockProducts exact = ExactProducts(b, cut, kept), p = BlockProducts(b);
      EXPECT_TRUE(SameBits(exact.Added, p.Added)) << unit << ": " << b.Demes << " demes, " << b.Columns;
      EXPECT_TRUE(SameBits(exact.Summed, p.Summed)) << unit << ": " << b.Demes << " demes, " << b.Columns;
      AddToDigest(digest, p.Added);
      AddToDigest(digest, p.Summed);
    }
    EXPECT_EQ(RecordedDigest, digest) << unit << ": " << std::hex << digest;
  }
}

}  // namespace
