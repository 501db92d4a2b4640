#include "models/BigMatrixBlocks.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "Utile/Platform.h"
#include "Utile/RunTime.h"

// The wider units are those of x86 processors; elsewhere the portable unit,
// written in the compiler's generic vectors, is the only one.
#if defined(__x86_64__) || defined(__i386__)
#define BIG_MATRIX_X86_UNITS 1
#include <immintrin.h>
#else
#define BIG_MATRIX_X86_UNITS 0
#endif

namespace models {

// ================================================================ destination probabilities
// Plain loops that each unit's compilation vectorises in its own width; every
// entry is one product and one comparison, so that the width changes no bit.
namespace {

[[gnu::always_inline]] inline void DoubleOverDemesBody(Double* P, Integer Levels, const Double* Empty,
                                                       const Double* Stay, Double Precision) {
  P[0] = 1;
  for (Integer k = 0; k < Levels; ++k) {
    const size_t half = size_t{1} << k;
    const Double q = Empty[k], s = Stay[k];
    Double* __restrict low = P;
    Double* __restrict high = P + half;
    for (size_t i = 0; i < half; ++i) {
      const Double occupied = low[i] * s, vacant = low[i] * q;
      high[i] = occupied < Precision ? 0.0 : occupied;
      low[i] = vacant < Precision ? 0.0 : vacant;
    }
  }
}

// The same over the high demes for every source of a block at once: P[i][c] for
// destination i and source c of the block (MaxSources of them), Empty[k][c] and
// Stay[k][c] the factors of deme k of source c. Each product is that of
// DoubleOverDemes for its source, operation for operation.
[[gnu::always_inline]] inline void DoubleOverDemesOfBlockBody(Double* P, Integer Levels, const Double* Empty,
                                                              const Double* Stay, Double Precision) {
  constexpr size_t Sources = tSourceBlock::MaxSources;
  std::fill(P, P + Sources, 1.0);
  for (Integer k = 0; k < Levels; ++k) {
    const size_t half = size_t{1} << k;
    const Double* __restrict q = Empty + k * Sources;
    const Double* __restrict s = Stay + k * Sources;
    for (size_t i = 0; i < half; ++i) {
      Double* __restrict low = P + i * Sources;
      Double* __restrict high = P + (i + half) * Sources;
      for (size_t c = 0; c < Sources; ++c) {
        const Double occupied = low[c] * s[c], vacant = low[c] * q[c];
        high[c] = occupied < Precision ? 0.0 : occupied;
        low[c] = vacant < Precision ? 0.0 : vacant;
      }
    }
  }
}

// ================================================================ one source state's column

[[gnu::always_inline]] inline void AddColumnBody(const Double* __restrict low, size_t half, Double q, Double s,
                                                 Double precision, Double x, Double* __restrict y) {
  for (size_t i = 1; i < half; ++i) {
    const Double vacant = low[i] * q;
    y[i - 1] += (vacant < precision ? 0.0 : vacant) * x;
  }
  Double* __restrict upper = y + half - 1;
  for (size_t i = 0; i < half; ++i) {
    const Double occupied = low[i] * s;
    upper[i] += (occupied < precision ? 0.0 : occupied) * x;
  }
}

// Eight running sums, entry i always into sum i mod 8, added in a fixed tree.
[[gnu::always_inline]] inline Double DotColumnBody(const Double* __restrict low, size_t half, Double q, Double s,
                                                   Double precision, const Double* __restrict x) {
  Double sum[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  auto add = [&](const Double* __restrict l, const Double* __restrict xs, size_t count, Double factor) {
    size_t i = 0;
    for (; i + 8 <= count; i += 8)
      for (size_t k = 0; k < 8; ++k) {
        const Double v = l[i + k] * factor;
        sum[k] += (v < precision ? 0.0 : v) * xs[i + k];
      }
    for (; i < count; ++i) {
      const Double v = l[i] * factor;
      sum[i & 7] += (v < precision ? 0.0 : v) * xs[i];
    }
  };
  add(low + 1, x, half - 1, q);
  add(low, x + half - 1, half, s);
  return ((sum[0] + sum[1]) + (sum[2] + sum[3])) + ((sum[4] + sum[5]) + (sum[6] + sum[7]));
}

}  // namespace

// ================================================================ the kernels
// Written once over groups of eight doubles, which each unit holds in its own
// registers (one of AVX-512, two of AVX2, four of SSE2); the tiles differ by unit
// only in how many destinations and columns share the registers, never in the
// order in which a sum is taken.
namespace {

template <int W>
struct tNative;
template <>
struct tNative<8> {
  typedef Double V __attribute__((vector_size(64)));
};
template <>
struct tNative<4> {
  typedef Double V __attribute__((vector_size(32)));
};
template <>
struct tNative<2> {
  typedef Double V __attribute__((vector_size(16)));
};

constexpr size_t Lanes = 8;
constexpr size_t MaxSources = tSourceBlock::MaxSources;
constexpr Integer MaxLowDemes = 6;
// The high destinations of the largest model served.
constexpr size_t MaxHighSize = size_t{1} << (16 - MaxLowDemes);

// Eight doubles in registers of W doubles.
template <int W>
struct tEight {
  using V = typename tNative<W>::V;
  static constexpr int Parts = Lanes / W;
  V Part[Parts];
};

template <int W>
[[gnu::always_inline]] inline void SetZero(tEight<W>& v) {
#pragma GCC unroll 8
  for (int i = 0; i < tEight<W>::Parts; ++i) v.Part[i] = typename tEight<W>::V{};
}

// acc += v z.
template <int W>
[[gnu::always_inline]] inline void AddScaled(tEight<W>& acc, const tEight<W>& v, Double z) {
#pragma GCC unroll 8
  for (int i = 0; i < tEight<W>::Parts; ++i) acc.Part[i] += v.Part[i] * z;
}

template <int W>
[[gnu::always_inline]] inline Double Lane(const tEight<W>& v, size_t lane) {
  return v.Part[lane / W][lane % W];
}

// The eight lanes of a sum, always added in the same tree.
template <int W>
[[gnu::always_inline]] inline Double LaneSum(const tEight<W>& v) {
  return ((Lane(v, 0) + Lane(v, 1)) + (Lane(v, 2) + Lane(v, 3))) +
         ((Lane(v, 4) + Lane(v, 5)) + (Lane(v, 6) + Lane(v, 7)));
}

struct tBlockView {
  const Double* Low;     // [source][low destination], LowStride apart
  const Double* High;    // [high destination][source]
  const Double* LowMax;  // the largest low product of each source (0 for an empty place)
  const Double* LowMin;  // the smallest positive one (infinity for none)
  Integer LowDemes;
  size_t LowSize, LowStride, HighSize, Count;
  Double Precision;
};

// ------------------------------------------------------------ what a range holds
// A cell lies between its source's smallest and largest low products times the
// high one (products of numbers of one sign round monotonically): below the
// precision at the largest, every cell of a high destination is cut (the
// source does not reach it); at or above it at the smallest (0 apart, whose
// cells are 0 either way), none is (the source reaches it whole).
struct tReached {
  uint32_t Reach = 0, Whole = 0;
};

tReached ReachedPortable(const tBlockView& b, size_t rh) {
  tReached r;
  const Double* high = b.High + rh * MaxSources;
  for (size_t c = 0; c < MaxSources; ++c) {
    const Double largest = b.LowMax[c] * high[c], smallest = b.LowMin[c] * high[c];
    const uint32_t reach = (largest >= b.Precision) & (largest > 0);
    r.Reach |= reach << c;
    r.Whole |= (reach & (smallest >= b.Precision)) << c;
  }
  return r;
}

#if BIG_MATRIX_X86_UNITS
__attribute__((target("avx2"))) tReached ReachedAVX2(const tBlockView& b, size_t rh) {
  tReached r;
  const __m256d precision = _mm256_set1_pd(b.Precision), zero = _mm256_setzero_pd();
  for (size_t c = 0; c < MaxSources; c += 4) {
    const __m256d high = _mm256_loadu_pd(b.High + rh * MaxSources + c);
    const __m256d largest = _mm256_mul_pd(_mm256_loadu_pd(b.LowMax + c), high);
    const __m256d smallest = _mm256_mul_pd(_mm256_loadu_pd(b.LowMin + c), high);
    const __m256d reach = _mm256_and_pd(_mm256_cmp_pd(largest, precision, _CMP_GE_OQ),
                                        _mm256_cmp_pd(largest, zero, _CMP_GT_OQ));
    const __m256d whole = _mm256_and_pd(reach, _mm256_cmp_pd(smallest, precision, _CMP_GE_OQ));
    r.Reach |= static_cast<uint32_t>(_mm256_movemask_pd(reach)) << c;
    r.Whole |= static_cast<uint32_t>(_mm256_movemask_pd(whole)) << c;
  }
  return r;
}
#endif

// Four sources at a time serve the wider unit as well: this is a small part of
// the work.
template <int W>
[[gnu::always_inline]] inline tReached Reached(const tBlockView& b, size_t rh) {
#if BIG_MATRIX_X86_UNITS
  if constexpr (W >= 4) return ReachedAVX2(b, rh);
#endif
  return ReachedPortable(b, rh);
}

// ------------------------------------------------------------ messages

// Messages are let through after about this many multiplications.
constexpr size_t WorkBetweenPumps = size_t{1} << 21;

class tPumpCounter {
 public:
  explicit tPumpCounter(bool pump) : fPump(pump) {}
  void Done(size_t work) {
    fWork += work;
    if (fWork >= WorkBetweenPumps) {
      fWork = 0;
      if (fPump) utile::ProcessMessages();
    }
  }

 private:
  bool fPump;
  size_t fWork = 0;
};

// ------------------------------------------------------------ Y += cells x Z

// acc += one source's cells of a tile times its part z of Z. With Whole none of
// them is cut: the term is then its low product times the high product times z,
// the last two multiplied once.
template <int W, int G, bool Whole>
[[gnu::always_inline]] inline void AddSourceTerms(const Double* low, Double h, Double z, Double precision,
                                                  tEight<W>* acc) {
  using V = typename tEight<W>::V;
  const Double hz = h * z;
#pragma GCC unroll 8
  for (int g = 0; g < G; ++g)
#pragma GCC unroll 8
    for (int i = 0; i < tEight<W>::Parts; ++i) {
      V l;
      std::memcpy(&l, low + Lanes * g + W * i, sizeof l);
      if constexpr (Whole) {
        acc[g].Part[i] += l * hz;
      } else {
        const V cell = l * h;
        V term = cell * z;
        term = cell < precision ? V{} : term;
        acc[g].Part[i] += term;
      }
    }
}

// One column (M = 1): the cells times their source's part of Z go straight into
// the sums.
template <int W, int G>
[[gnu::always_inline]] inline void AddColumnTile(const tBlockView& b, size_t rl0, size_t rh, tReached reached,
                                                 const Double* z, Double* y) {
  using V = typename tEight<W>::V;
  tEight<W> acc[G];
#pragma GCC unroll 8
  for (int g = 0; g < G; ++g) SetZero(acc[g]);
  for (uint32_t bits = reached.Reach; bits != 0; bits &= bits - 1) {
    const size_t c = static_cast<size_t>(__builtin_ctz(bits));
    const Double h = b.High[rh * MaxSources + c];
    const Double* low = b.Low + c * b.LowStride + rl0;
    if ((reached.Whole >> c) & 1)
      AddSourceTerms<W, G, true>(low, h, z[c], b.Precision, acc);
    else
      AddSourceTerms<W, G, false>(low, h, z[c], b.Precision, acc);
  }
  // The destinations of the tile are consecutive, and but for the empty state so
  // are their places in Y.
  const size_t s0 = (rh << b.LowDemes) + rl0;
  if (s0 == 0) {
    for (int g = 0; g < G; ++g)
      for (size_t lane = 0; lane < Lanes; ++lane)
        if (const size_t s = Lanes * g + lane; s != 0) y[s - 1] += Lane(acc[g], lane);
    return;
  }
  Double* out = y + s0 - 1;
#pragma GCC unroll 8
  for (int g = 0; g < G; ++g)
#pragma GCC unroll 8
    for (int i = 0; i < tEight<W>::Parts; ++i) {
      V sum;
      std::memcpy(&sum, out + Lanes * g + W * i, sizeof sum);
      sum += acc[g].Part[i];
      std::memcpy(out + Lanes * g + W * i, &sum, sizeof sum);
    }
}

// The cells of source c for the G x 8 destinations from high destination rh and
// low destination rl0 on, each cut below the precision.
template <int W, int G>
[[gnu::always_inline]] inline void Cells(const tBlockView& b, size_t rl0, size_t rh, size_t c, tEight<W>* v) {
  using V = typename tEight<W>::V;
  const Double h = b.High[rh * MaxSources + c];
  const Double* low = b.Low + c * b.LowStride + rl0;
#pragma GCC unroll 8
  for (int g = 0; g < G; ++g)
#pragma GCC unroll 8
    for (int i = 0; i < tEight<W>::Parts; ++i) {
      V& cell = v[g].Part[i];
      std::memcpy(&cell, low + Lanes * g + W * i, sizeof cell);
      cell *= h;
      cell = cell < b.Precision ? V{} : cell;
    }
}

// J columns from j0 on, over the cells already computed for the sources of the
// tile: Y[(s - 1) M + j0 + jj] += the sum over the sources of cell x Z.
template <int W, int G, int J>
[[gnu::always_inline]] inline void AddColumnsTile(const tEight<W>* cells, const size_t* sources, int count,
                                                  const Double* z, size_t m, size_t j0, size_t s0,
                                                  Double* y) {
  tEight<W> acc[G][J];
#pragma GCC unroll 8
  for (int g = 0; g < G; ++g)
#pragma GCC unroll 8
    for (int jj = 0; jj < J; ++jj) SetZero(acc[g][jj]);
  for (int k = 0; k < count; ++k) {
    const Double* zc = z + sources[k] * m + j0;
    const tEight<W>* v = cells + k * G;
#pragma GCC unroll 8
    for (int jj = 0; jj < J; ++jj) {
      const Double zj = zc[jj];
#pragma GCC unroll 8
      for (int g = 0; g < G; ++g) AddScaled(acc[g][jj], v[g], zj);
    }
  }
  for (int g = 0; g < G; ++g)
    for (size_t lane = 0; lane < Lanes; ++lane) {
      const size_t s = s0 + Lanes * g + lane;
      if (s == 0) continue;
      Double* row = y + (s - 1) * m + j0;
#pragma GCC unroll 8
      for (int jj = 0; jj < J; ++jj) row[jj] += Lane(acc[g][jj], lane);
    }
}

template <int W, int G, int J>
[[gnu::always_inline]] inline void AddProductsKernel(const tBlockView& b, const Double* z, size_t m,
                                                     Double* y, bool pump) {
  constexpr size_t Tile = Lanes * G;
  tPumpCounter counter(pump);
  tEight<W> cells[MaxSources * G];
  size_t sources[MaxSources];
  for (size_t rh = 0; rh < b.HighSize; ++rh) {
    const tReached reached = Reached<W>(b, rh);
    if (reached.Reach == 0) continue;
    for (size_t rl0 = 0; rl0 < b.LowSize; rl0 += Tile) {
      if (m == 1) {
        AddColumnTile<W, G>(b, rl0, rh, reached, z, y);
      } else {
        int count = 0;
        for (uint32_t bits = reached.Reach; bits != 0; bits &= bits - 1, ++count) {
          sources[count] = static_cast<size_t>(__builtin_ctz(bits));
          Cells<W, G>(b, rl0, rh, sources[count], cells + count * G);
        }
        const size_t s0 = (rh << b.LowDemes) + rl0;
        size_t j0 = 0;
        for (; j0 + J <= m; j0 += J) AddColumnsTile<W, G, J>(cells, sources, count, z, m, j0, s0, y);
        for (; j0 + 2 <= m; j0 += 2) AddColumnsTile<W, G, 2>(cells, sources, count, z, m, j0, s0, y);
        for (; j0 < m; ++j0) AddColumnsTile<W, G, 1>(cells, sources, count, z, m, j0, s0, y);
      }
    }
    counter.Done(static_cast<size_t>(__builtin_popcount(reached.Reach)) * b.LowSize * m);
  }
}

// ------------------------------------------------------------ Out = cells' x X

// acc[s] += the cells of the S sources from c0 on over high destination rh, times
// X; with Whole, none of them cut, so that the test is left out.
template <int W, int S, bool Whole>
[[gnu::always_inline]] inline void SumHigh(const tBlockView& b, size_t rh, size_t c0, const Double* x,
                                           tEight<W>* acc) {
  using V = typename tEight<W>::V;
  Double h[S];
  const Double* low[S];
#pragma GCC unroll 8
  for (int s = 0; s < S; ++s) {
    h[s] = b.High[rh * MaxSources + c0 + s];
    low[s] = b.Low + (c0 + s) * b.LowStride;
  }
  const Double* xs = x + (rh << b.LowDemes);
  for (size_t rl = 0; rl < b.LowSize; rl += Lanes) {
#pragma GCC unroll 8
    for (int i = 0; i < tEight<W>::Parts; ++i) {
      V xv;
      std::memcpy(&xv, xs + rl + W * i, sizeof xv);
#pragma GCC unroll 8
      for (int s = 0; s < S; ++s) {
        V cell;
        std::memcpy(&cell, low[s] + rl + W * i, sizeof cell);
        cell *= h[s];
        V term = cell * xv;
        if constexpr (!Whole) term = cell < b.Precision ? V{} : term;
        acc[s].Part[i] += term;
      }
    }
  }
}

// Out[c] for the S sources from c0 on, each in its own running sums.
template <int W, int S>
[[gnu::always_inline]] inline void SumGroup(const tBlockView& b, const tReached* reached, size_t c0,
                                            const Double* x, Double* out, tPumpCounter& counter) {
  tEight<W> acc[S];
#pragma GCC unroll 8
  for (int s = 0; s < S; ++s) SetZero(acc[s]);
  const uint32_t group = ((uint32_t{1} << S) - 1) << c0;
  for (size_t rh = 0; rh < b.HighSize; ++rh) {
    if ((reached[rh].Reach & group) == 0) continue;
    if ((reached[rh].Whole & group) == group)
      SumHigh<W, S, true>(b, rh, c0, x, acc);
    else
      SumHigh<W, S, false>(b, rh, c0, x, acc);
    counter.Done(S * b.LowSize);
  }
  for (int s = 0; s < S; ++s) out[c0 + s] = LaneSum(acc[s]);
}

template <int W, int S>
[[gnu::always_inline]] inline void SumProductsKernel(const tBlockView& b, const Double* x, Double* out,
                                                     bool pump, tReached* reached) {
  tPumpCounter counter(pump);
  for (size_t rh = 0; rh < b.HighSize; ++rh) reached[rh] = Reached<W>(b, rh);
  size_t c0 = 0;
  for (; c0 + S <= b.Count; c0 += S) SumGroup<W, S>(b, reached, c0, x, out, counter);
  for (; c0 < b.Count; ++c0) SumGroup<W, 1>(b, reached, c0, x, out, counter);
}

// ------------------------------------------------------------ the units
// G vectors of destinations for one column; GColumns vectors by J columns for
// several; S sources at once for the sums over the destinations.

template <int W, int G, int GColumns, int J>
[[gnu::always_inline]] inline void AddProductsTiled(const tBlockView& b, const Double* z, size_t m, Double* y,
                                                    bool pump) {
  // A tile never spans more destinations than one high destination holds.
  const size_t vectors = b.LowSize / Lanes;
  if (m == 1) {
    if (vectors >= G) return AddProductsKernel<W, G, 1>(b, z, m, y, pump);
    if constexpr (G > 4)
      if (vectors >= 4) return AddProductsKernel<W, 4, 1>(b, z, m, y, pump);
    if constexpr (G > 2)
      if (vectors >= 2) return AddProductsKernel<W, 2, 1>(b, z, m, y, pump);
    return AddProductsKernel<W, 1, 1>(b, z, m, y, pump);
  }
  if (vectors >= GColumns) return AddProductsKernel<W, GColumns, J>(b, z, m, y, pump);
  AddProductsKernel<W, 1, J>(b, z, m, y, pump);
}

// Each unit's compilation of the kernels, under its own target: the bodies above
// are inlined into these and vectorised for that unit alone. The blocks' kernels
// come in every unit; the columns and the low products in the portable unit and
// AVX2 only (short loops, which the AVX-512 unit takes from AVX2).
#define BIG_MATRIX_BLOCK_KERNELS(Unit, Target, W, G, GColumns, J, S)                                         \
  Target void AddProducts##Unit(const tBlockView& b, const Double* z, size_t m, Double* y, bool pump) {      \
    AddProductsTiled<W, G, GColumns, J>(b, z, m, y, pump);                                                  \
  }                                                                                                          \
  Target void SumProducts##Unit(const tBlockView& b, const Double* x, Double* out, bool pump,               \
                                tReached* reached) {                                                         \
    SumProductsKernel<W, S>(b, x, out, pump, reached);                                                       \
  }                                                                                                          \
  Target void DoubleOverDemesOfBlock##Unit(Double* P, Integer Levels, const Double* Empty,                  \
                                           const Double* Stay, Double Precision) {                           \
    DoubleOverDemesOfBlockBody(P, Levels, Empty, Stay, Precision);                                           \
  }
#define BIG_MATRIX_COLUMN_KERNELS(Unit, Target)                                                              \
  Target void DoubleOverDemes##Unit(Double* P, Integer Levels, const Double* Empty, const Double* Stay,     \
                                    Double Precision) {                                                      \
    DoubleOverDemesBody(P, Levels, Empty, Stay, Precision);                                                  \
  }                                                                                                          \
  Target void AddColumn##Unit(const Double* low, size_t half, Double q, Double s, Double precision, Double x, \
                              Double* y) {                                                                   \
    AddColumnBody(low, half, q, s, precision, x, y);                                                         \
  }                                                                                                          \
  Target Double DotColumn##Unit(const Double* low, size_t half, Double q, Double s, Double precision,        \
                                const Double* x) {                                                           \
    return DotColumnBody(low, half, q, s, precision, x);                                                     \
  }

BIG_MATRIX_BLOCK_KERNELS(Portable, , 2, 2, 1, 2, 2)
BIG_MATRIX_COLUMN_KERNELS(Portable, )
#if BIG_MATRIX_X86_UNITS
#define BIG_MATRIX_AVX2 __attribute__((target("avx2")))
#define BIG_MATRIX_AVX512 __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw")))
BIG_MATRIX_BLOCK_KERNELS(AVX2, BIG_MATRIX_AVX2, 4, 4, 1, 4, 4)
BIG_MATRIX_COLUMN_KERNELS(AVX2, BIG_MATRIX_AVX2)
BIG_MATRIX_BLOCK_KERNELS(AVX512, BIG_MATRIX_AVX512, 8, 8, 2, 8, 8)
#undef BIG_MATRIX_AVX2
#undef BIG_MATRIX_AVX512
#endif
#undef BIG_MATRIX_BLOCK_KERNELS
#undef BIG_MATRIX_COLUMN_KERNELS

// The one table through which every product reaches its unit, in the order of
// tVectorUnit.
struct tKernels {
  void (*Add)(const tBlockView&, const Double*, size_t, Double*, bool);
  void (*Sum)(const tBlockView&, const Double*, Double*, bool, tReached*);
  void (*DoubleOverDemes)(Double*, Integer, const Double*, const Double*, Double);
  void (*DoubleOverDemesOfBlock)(Double*, Integer, const Double*, const Double*, Double);
  void (*AddColumn)(const Double*, size_t, Double, Double, Double, Double, Double*);
  Double (*DotColumn)(const Double*, size_t, Double, Double, Double, const Double*);
};
const tKernels Kernels[] = {
    {AddProductsPortable, SumProductsPortable, DoubleOverDemesPortable, DoubleOverDemesOfBlockPortable,
     AddColumnPortable, DotColumnPortable},
#if BIG_MATRIX_X86_UNITS
    {AddProductsAVX2, SumProductsAVX2, DoubleOverDemesAVX2, DoubleOverDemesOfBlockAVX2, AddColumnAVX2,
     DotColumnAVX2},
    {AddProductsAVX512, SumProductsAVX512, DoubleOverDemesAVX2, DoubleOverDemesOfBlockAVX512, AddColumnAVX2,
     DotColumnAVX2},
#endif
};

tVectorUnit DetectWidest() {
#if BIG_MATRIX_X86_UNITS
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw"))
    return tVectorUnit::vuAVX512;
  if (__builtin_cpu_supports("avx2")) return tVectorUnit::vuAVX2;
#endif
  return tVectorUnit::vuPortable;
}

tVectorUnit gUnit = WidestVectorUnit();

const tKernels& KernelsInUse() {
  return Kernels[static_cast<size_t>(gUnit)];
}

}  // namespace

tVectorUnit WidestVectorUnit() {
  static const tVectorUnit widest = DetectWidest();
  return widest;
}

tVectorUnit VectorUnitInUse() {
  return gUnit;
}

void UseVectorUnit(tVectorUnit Unit) {
  if (Unit > WidestVectorUnit())
    throw utile::ERangeError("This processor has no vector unit as wide as the one asked for.");
  gUnit = Unit;
}

void DoubleOverDemes(Double* P, Integer Levels, const Double* Empty, const Double* Stay, Double Precision) {
  KernelsInUse().DoubleOverDemes(P, Levels, Empty, Stay, Precision);
}

void AddColumn(const Double* Low, size_t Half, Double LastEmpty, Double LastStay, Double Precision, Double X,
               Double* Y) {
  KernelsInUse().AddColumn(Low, Half, LastEmpty, LastStay, Precision, X, Y);
}

Double DotColumn(const Double* Low, size_t Half, Double LastEmpty, Double LastStay, Double Precision,
                 const Double* X) {
  return KernelsInUse().DotColumn(Low, Half, LastEmpty, LastStay, Precision, X);
}

// ================================================================ blocks

tSourceBlock::tSourceBlock(Integer Demes, Double Precision) : fPrecision(Precision) {
  utile::Assert(Served(Demes), "Blocks of 3 to 16 demes");
  // The low products of a whole block stay in the first-level cache while the
  // high destinations go by.
  fLowDemes = std::min(MaxLowDemes, Demes);
  fHighDemes = Demes - fLowDemes;
  fLowSize = size_t{1} << fLowDemes;
  fHighSize = size_t{1} << fHighDemes;
  // Rows of a power of two apart would share the few cache sets of their address.
  fLowStride = fLowSize + Lanes;
  fLow.resize(MaxSources * fLowStride);
  fHigh.resize(MaxSources * fHighSize);
  fLowMax.resize(MaxSources);
  fLowMin.resize(MaxSources);
  fHighEmpty.resize(MaxSources * fHighDemes);
  fHighStay.resize(MaxSources * fHighDemes);
  Clear();
}

bool tSourceBlock::Served(Integer Demes) {
  return Demes >= 3 && Demes <= 16;
}

void tSourceBlock::Clear() {
  fCount = 0;
  // An empty place reaches nothing.
  std::fill(fLowMax.begin(), fLowMax.end(), 0.0);
  std::fill(fLowMin.begin(), fLowMin.end(), std::numeric_limits<Double>::infinity());
  std::fill(fHighEmpty.begin(), fHighEmpty.end(), 0.0);
  std::fill(fHighStay.begin(), fHighStay.end(), 0.0);
  fHighReady = false;
}

void tSourceBlock::Add(const Double* Empty, const Double* Stay) {
  utile::Assert(fCount < MaxSources, "A block holds at most 32 sources");
  const size_t c = fCount++;
  Double* low = &fLow[c * fLowStride];
  DoubleOverDemes(low, fLowDemes, Empty, Stay, fPrecision);
  Double lowMax = 0, lowMin = std::numeric_limits<Double>::infinity();
  for (size_t i = 0; i < fLowSize; ++i) {
    lowMax = std::max(lowMax, low[i]);
    lowMin = std::min(lowMin, low[i] > 0 ? low[i] : std::numeric_limits<Double>::infinity());
  }
  fLowMax[c] = lowMax;
  fLowMin[c] = lowMin;
  for (Integer k = 0; k < fHighDemes; ++k) {
    fHighEmpty[k * MaxSources + c] = Empty[fLowDemes + k];
    fHighStay[k * MaxSources + c] = Stay[fLowDemes + k];
  }
  fHighReady = false;
}

void tSourceBlock::BuildHigh() {
  if (fHighReady) return;
  KernelsInUse().DoubleOverDemesOfBlock(fHigh.data(), fHighDemes, fHighEmpty.data(), fHighStay.data(),
                                        fPrecision);
  fHighReady = true;
}

void tSourceBlock::AddProducts(const Double* Z, size_t M, Double* Y, bool LetMessagesThrough) {
  if (M > 0) Products(Z, M, Y, false, LetMessagesThrough);
}

void tSourceBlock::SumProducts(const Double* X, Double* Out, bool LetMessagesThrough) {
  Products(X, 1, Out, true, LetMessagesThrough);
}

void tSourceBlock::Products(const Double* In, size_t M, Double* Out, bool Transposed,
                            bool LetMessagesThrough) {
  if (fCount == 0) return;
  BuildHigh();
  const tBlockView view = {fLow.data(), fHigh.data(), fLowMax.data(), fLowMin.data(), fLowDemes,
                           fLowSize,    fLowStride,   fHighSize,      fCount,         fPrecision};
  const tKernels& kernels = KernelsInUse();
  if (Transposed) {
    tReached reached[MaxHighSize];
    kernels.Sum(view, In, Out, LetMessagesThrough, reached);
  } else {
    kernels.Add(view, In, M, Out, LetMessagesThrough);
  }
}

}  // namespace models
