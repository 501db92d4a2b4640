#include "Utile/eigen.h"

#include <algorithm>
#include <cmath>

#include "Utile/RunTime.h"
#include "Utile/matriceKw.h"

namespace utile::eigen {

namespace {

using fmath::DSgn;
using fmath::MachEp;

void AssertRange(const TMatrix& a, Integer lb, Integer ub) {
  Assert(lb >= 0 && ub >= lb - 1, "Eigen solver: invalid index range");
  Assert(a.Rows() >= static_cast<size_t>(ub + 1) && a.Columns() >= static_cast<size_t>(ub + 1),
         "Eigen solver: the matrix is smaller than its index range");
}

void SizeVector(TVector& v, Integer ub) {
  if (v.size() < static_cast<size_t>(ub + 1)) v.resize(ub + 1, 0.0);
}

// Complex division (xr + i xi) / (yr + i yi), scaled against overflow.
void ComplexDivide(Float xr, Float xi, Float yr, Float yi, Float& cr, Float& ci) {
  if (std::fabs(yr) > std::fabs(yi)) {
    const Float r = yi / yr, d = yr + r * yi;
    cr = (xr + r * xi) / d;
    ci = (xi - r * xr) / d;
  } else {
    const Float r = yr / yi, d = yi + r * yr;
    cr = (r * xr + xi) / d;
    ci = (r * xi - xr) / d;
  }
}

// The eigenvectors of the quasi-triangular H found by the QR iteration, by back
// substitution, each column worked on in a contiguous copy.
void BackSubstitute(TMatrix& h, Integer lb, Integer ub, const TVector& wr, const TVector& wi, Float norm) {
  std::vector<Float> vr(ub + 1), vi(ub + 1);
  Float z = 0, r = 0, s = 0;
  for (Integer en = ub; en >= lb; --en) {
    const Float p = wr[en], q = wi[en];
    if (q == 0) {
      // A real vector.
      for (Integer j = lb; j <= en; ++j) vr[j] = h[j][en];
      vr[en] = 1;
      Integer l = en;
      for (Integer i = en - 1; i >= lb; --i) {
        const Float w = h[i][i] - p;
        const Float* row = h[i];
        Float sum = 0;
        for (Integer j = l; j <= en; ++j) sum += row[j] * vr[j];
        if (wi[i] < 0) {
          z = w;
          s = sum;
          continue;
        }
        l = i;
        if (wi[i] == 0) {
          vr[i] = w != 0 ? -sum / w : -sum / (MachEp * norm);
        } else {
          const Float x = h[i][i + 1], y = h[i + 1][i];
          const Float denominator = (wr[i] - p) * (wr[i] - p) + wi[i] * wi[i];
          const Float t = (x * s - z * sum) / denominator;
          vr[i] = t;
          vr[i + 1] = std::fabs(x) > std::fabs(z) ? (-sum - w * t) / x : (-s - y * t) / z;
        }
        const Float t = std::fabs(vr[i]);
        if ((MachEp * t) * t > 1)
          for (Integer j = i; j <= en; ++j) vr[j] /= t;
      }
      for (Integer j = lb; j <= en; ++j) h[j][en] = vr[j];
    } else if (q < 0) {
      // A complex vector: real part in column en - 1, imaginary part in column en;
      // its last component is chosen imaginary, so that the vectors stay triangular.
      const Integer na = en - 1;
      for (Integer j = lb; j <= en; ++j) {
        vr[j] = h[j][na];
        vi[j] = h[j][en];
      }
      if (std::fabs(h[en][na]) > std::fabs(h[na][en])) {
        vr[na] = q / h[en][na];
        vi[na] = -(h[en][en] - p) / h[en][na];
      } else {
        ComplexDivide(0, -h[na][en], h[na][na] - p, q, vr[na], vi[na]);
      }
      vr[en] = 0;
      vi[en] = 1;
      Integer l = na;
      for (Integer i = en - 2; i >= lb; --i) {
        const Float* row = h[i];
        Float ra = 0, sa = 0;
        for (Integer j = l; j <= en; ++j) {
          ra += row[j] * vr[j];
          sa += row[j] * vi[j];
        }
        const Float w = h[i][i] - p;
        if (wi[i] < 0) {
          z = w;
          r = ra;
          s = sa;
          continue;
        }
        l = i;
        if (wi[i] == 0) {
          ComplexDivide(-ra, -sa, w, q, vr[i], vi[i]);
        } else {
          const Float x = h[i][i + 1], y = h[i + 1][i];
          Float dr = (wr[i] - p) * (wr[i] - p) + wi[i] * wi[i] - q * q;
          const Float di = (wr[i] - p) * 2.0 * q;
          if (dr == 0 && di == 0)
            dr = MachEp * norm * (std::fabs(w) + std::fabs(q) + std::fabs(x) + std::fabs(y) + std::fabs(z));
          ComplexDivide(x * r - z * ra + q * sa, x * s - z * sa - q * ra, dr, di, vr[i], vi[i]);
          if (std::fabs(x) > std::fabs(z) + std::fabs(q)) {
            vr[i + 1] = (-ra - w * vr[i] + q * vi[i]) / x;
            vi[i + 1] = (-sa - w * vi[i] - q * vr[i]) / x;
          } else {
            ComplexDivide(-r - y * vr[i], -s - y * vi[i], z, q, vr[i + 1], vi[i + 1]);
          }
        }
        const Float t = std::max(std::fabs(vr[i]), std::fabs(vi[i]));
        if ((MachEp * t) * t > 1)
          for (Integer j = i; j <= en; ++j) {
            vr[j] /= t;
            vi[j] /= t;
          }
      }
      for (Integer j = lb; j <= en; ++j) {
        h[j][na] = vr[j];
        h[j][en] = vi[j];
      }
    }
  }
}

}  // namespace

void Balance(TMatrix& a, Integer lb, Integer ub, Integer& iLow, Integer& iIgh, TVector& scale) {
  AssertRange(a, lb, ub);
  SizeVector(scale, ub);
  constexpr Float Radix = 2, SquaredRadix = Radix * Radix;
  Integer k = lb, l = ub;
  auto exchange = [&](Integer j, Integer m) {
    scale[m] = j;
    if (j == m) return;
    for (Integer i = lb; i <= l; ++i) std::swap(a[i][j], a[i][m]);
    for (Integer i = k; i <= ub; ++i) std::swap(a[j][i], a[m][i]);
  };
  if (ub < lb) {
    iLow = lb;
    iIgh = ub;
    return;
  }
  // Rows that isolate an eigenvalue go to the bottom.
  for (bool found = true; found;) {
    found = false;
    for (Integer j = l; j >= lb && !found; --j) {
      bool isolated = true;
      for (Integer i = lb; i <= l && isolated; ++i) isolated = i == j || a[j][i] == 0;
      if (!isolated) continue;
      exchange(j, l);
      if (l == lb) {
        iLow = k;
        iIgh = l;
        return;
      }
      --l;
      found = true;
    }
  }
  // Columns that isolate an eigenvalue go to the left.
  for (bool found = true; found;) {
    found = false;
    for (Integer j = k; j <= l && !found; ++j) {
      bool isolated = true;
      for (Integer i = k; i <= l && isolated; ++i) isolated = i == j || a[i][j] == 0;
      if (!isolated) continue;
      exchange(j, k);
      ++k;
      found = true;
    }
  }
  // Scale rows k..l and their columns by powers of the radix until no scaling
  // brings the sum of a row's and its column's norms below 0.95 of what it was.
  for (Integer i = k; i <= l; ++i) scale[i] = 1;
  for (bool scaled = true; scaled;) {
    scaled = false;
    for (Integer i = k; i <= l; ++i) {
      Float c = 0, r = 0;
      for (Integer j = k; j <= l; ++j) {
        if (j == i) continue;
        c += std::fabs(a[j][i]);
        r += std::fabs(a[i][j]);
      }
      if (c == 0 || r == 0 || !std::isfinite(c) || !std::isfinite(r)) continue;
      Float g = r / Radix, f = 1;
      const Float s = c + r;
      while (c < g) {
        f *= Radix;
        c *= SquaredRadix;
      }
      g = r * Radix;
      while (c >= g) {
        f /= Radix;
        c /= SquaredRadix;
      }
      if ((c + r) / f >= 0.95 * s) continue;
      g = 1 / f;
      scale[i] *= f;
      scaled = true;
      for (Integer j = k; j <= ub; ++j) a[i][j] *= g;
      for (Integer j = lb; j <= l; ++j) a[j][i] *= f;
    }
  }
  iLow = k;
  iIgh = l;
}

void ElmHes(TMatrix& a, Integer lb, Integer ub, Integer iLow, Integer iIgh, TIntVector& iInt) {
  AssertRange(a, lb, ub);
  if (iInt.size() < static_cast<size_t>(ub + 1)) iInt.resize(ub + 1, 0);
  std::vector<Float> multiplier(ub + 1, 0.0);
  for (Integer m = iLow + 1; m <= iIgh - 1; ++m) {
    const Integer mm1 = m - 1;
    Float x = 0;
    Integer pivot = m;
    for (Integer j = m; j <= iIgh; ++j)
      if (std::fabs(a[j][mm1]) > std::fabs(x)) {
        x = a[j][mm1];
        pivot = j;
      }
    iInt[m] = pivot;
    if (pivot != m) {
      for (Integer j = mm1; j <= ub; ++j) std::swap(a[pivot][j], a[m][j]);
      for (Integer j = lb; j <= iIgh; ++j) std::swap(a[j][pivot], a[j][m]);
    }
    if (x == 0) continue;
    // The similarity L^-1 A L: the row eliminations first, then the column
    // additions, each along contiguous rows; the two sets of operations commute.
    const Float* pivotRow = a[m];
    for (Integer i = m + 1; i <= iIgh; ++i) {
      Float y = a[i][mm1];
      multiplier[i] = 0;
      if (y == 0) continue;
      y /= x;
      a[i][mm1] = y;
      multiplier[i] = y;
      Float* row = a[i];
      for (Integer j = m; j <= ub; ++j) row[j] -= y * pivotRow[j];
    }
    for (Integer j = lb; j <= iIgh; ++j) {
      const Float* row = a[j];
      Float sum = 0;
      for (Integer i = m + 1; i <= iIgh; ++i) sum += multiplier[i] * row[i];
      a[j][m] += sum;
    }
  }
}

void Eltran(const TMatrix& a, Integer lb, Integer ub, Integer iLow, Integer iIgh, const TIntVector& iInt,
            TMatrix& z) {
  AssertRange(a, lb, ub);
  if (z.Rows() < static_cast<size_t>(ub + 1) || z.Columns() < static_cast<size_t>(ub + 1))
    matriceKw::DimMatrix(z, ub, ub);
  for (Integer i = lb; i <= ub; ++i) {
    std::fill(z[i] + lb, z[i] + ub + 1, 0.0);
    z[i][i] = 1;
  }
  for (Integer mp = iIgh - 1; mp >= iLow + 1; --mp) {
    for (Integer i = mp + 1; i <= iIgh; ++i) z[i][mp] = a[i][mp - 1];
    const Integer i = iInt[mp];
    if (i == mp) continue;
    for (Integer j = mp; j <= iIgh; ++j) {
      z[mp][j] = z[i][j];
      z[i][j] = 0;
    }
    z[i][mp] = 1;
  }
}

Integer Hqr2(TMatrix& h, Integer lb, Integer ub, Integer iLow, Integer iIgh, TVector& wr, TVector& wi,
             TMatrix& z) {
  AssertRange(h, lb, ub);
  AssertRange(z, lb, ub);
  SizeVector(wr, ub);
  SizeVector(wi, ub);
  if (ub < lb) return 0;
  // The transformations are kept transposed: their columns, which every step
  // combines, are then contiguous rows.
  TMatrix zt = matriceKw::Transpose(z, 0, 0, ub, ub);

  Float norm = 0;
  for (Integer i = lb; i <= ub; ++i) {
    if (i < iLow || i > iIgh) {
      wr[i] = h[i][i];
      wi[i] = 0;
    }
    for (Integer j = std::max(i - 1, lb); j <= ub; ++j) norm += std::fabs(h[i][j]);
  }

  Integer en = iIgh, its = 0, itn = 30 * (ub - lb + 1);
  Float shift = 0, p = 0, q = 0, r = 0, s = 0, x = 0, y = 0, w = 0, zz = 0;
  while (en >= iLow) {
    // Look for a single small sub-diagonal element.
    Integer l = en;
    for (; l > iLow; --l) {
      s = std::fabs(h[l - 1][l - 1]) + std::fabs(h[l][l]);
      if (s == 0) s = norm;
      if (std::fabs(h[l][l - 1]) < MachEp * s) break;
    }
    x = h[en][en];
    if (l == en) {  // one root
      h[en][en] = x + shift;
      wr[en] = h[en][en];
      wi[en] = 0;
      --en;
      its = 0;
      continue;
    }
    const Integer na = en - 1;
    y = h[na][na];
    w = h[en][na] * h[na][en];
    if (l == na) {  // two roots
      p = (y - x) / 2.0;
      q = p * p + w;
      zz = std::sqrt(std::fabs(q));
      h[en][en] = x + shift;
      h[na][na] = y + shift;
      x = h[en][en];
      if (q >= 0) {  // a real pair
        zz = p + DSgn(p, zz);
        wr[na] = x + zz;
        wr[en] = zz != 0 ? x - w / zz : wr[na];
        wi[na] = 0;
        wi[en] = 0;
        x = h[en][na];
        s = std::fabs(x) + std::fabs(zz);
        p = x / s;
        q = zz / s;
        r = std::sqrt(p * p + q * q);
        p /= r;
        q /= r;
        for (Integer j = na; j <= ub; ++j) {
          zz = h[na][j];
          h[na][j] = q * zz + p * h[en][j];
          h[en][j] = q * h[en][j] - p * zz;
        }
        for (Integer i = lb; i <= en; ++i) {
          zz = h[i][na];
          h[i][na] = q * zz + p * h[i][en];
          h[i][en] = q * h[i][en] - p * zz;
        }
        Float* zna = zt[na];
        Float* zen = zt[en];
        for (Integer i = iLow; i <= iIgh; ++i) {
          zz = zna[i];
          zna[i] = q * zz + p * zen[i];
          zen[i] = q * zen[i] - p * zz;
        }
      } else {  // a complex pair
        wr[na] = x + p;
        wr[en] = x + p;
        wi[na] = zz;
        wi[en] = -zz;
      }
      en -= 2;
      its = 0;
      continue;
    }

    // No convergence yet.
    if (itn == 0) return en + 1;
    if (its == 10 || its == 20) {  // an exceptional shift
      shift += x;
      for (Integer i = iLow; i <= en; ++i) h[i][i] -= x;
      s = std::fabs(h[en][na]) + std::fabs(h[na][en - 2]);
      x = y = 0.75 * s;
      w = -0.4375 * s * s;
    }
    ++its;
    --itn;

    // Look for two consecutive small sub-diagonal elements.
    Integer m = en - 2;
    for (;; --m) {
      zz = h[m][m];
      r = x - zz;
      s = y - zz;
      p = (r * s - w) / h[m + 1][m] + h[m][m + 1];
      q = h[m + 1][m + 1] - zz - r - s;
      r = h[m + 2][m + 1];
      s = std::fabs(p) + std::fabs(q) + std::fabs(r);
      p /= s;
      q /= s;
      r /= s;
      if (m == l) break;
      if (std::fabs(h[m][m - 1]) * (std::fabs(q) + std::fabs(r)) <
          MachEp * (std::fabs(p) * (std::fabs(h[m - 1][m - 1]) + std::fabs(zz) + std::fabs(h[m + 1][m + 1]))))
        break;
    }
    for (Integer i = m + 2; i <= en; ++i) {
      h[i][i - 2] = 0;
      if (i > m + 2) h[i][i - 3] = 0;
    }

    // A double QR step on rows l..en and columns m..en.
    for (Integer k = m; k <= na; ++k) {
      const bool notLast = k != na;
      if (k != m) {
        p = h[k][k - 1];
        q = h[k + 1][k - 1];
        r = notLast ? h[k + 2][k - 1] : 0.0;
        x = std::fabs(p) + std::fabs(q) + std::fabs(r);
        if (x == 0) continue;
        p /= x;
        q /= x;
        r /= x;
      }
      s = DSgn(p, std::sqrt(p * p + q * q + r * r));
      if (s == 0) continue;
      if (k != m)
        h[k][k - 1] = -s * x;
      else if (l != m)
        h[k][k - 1] = -h[k][k - 1];
      p += s;
      x = p / s;
      y = q / s;
      zz = r / s;
      q /= p;
      r /= p;
      Float* row0 = h[k];
      Float* row1 = h[k + 1];
      if (notLast) {
        Float* row2 = h[k + 2];
        for (Integer j = k; j <= ub; ++j) {
          const Float t = row0[j] + q * row1[j] + r * row2[j];
          row0[j] -= t * x;
          row1[j] -= t * y;
          row2[j] -= t * zz;
        }
        const Integer last = std::min(en, k + 3);
        for (Integer i = lb; i <= last; ++i) {
          Float* cell = h[i] + k;
          const Float t = x * cell[0] + y * cell[1] + zz * cell[2];
          cell[0] -= t;
          cell[1] -= t * q;
          cell[2] -= t * r;
        }
        Float* z0 = zt[k];
        Float* z1 = zt[k + 1];
        Float* z2 = zt[k + 2];
        for (Integer i = iLow; i <= iIgh; ++i) {
          const Float t = x * z0[i] + y * z1[i] + zz * z2[i];
          z0[i] -= t;
          z1[i] -= t * q;
          z2[i] -= t * r;
        }
      } else {
        for (Integer j = k; j <= ub; ++j) {
          const Float t = row0[j] + q * row1[j];
          row0[j] -= t * x;
          row1[j] -= t * y;
        }
        const Integer last = std::min(en, k + 3);
        for (Integer i = lb; i <= last; ++i) {
          Float* cell = h[i] + k;
          const Float t = x * cell[0] + y * cell[1];
          cell[0] -= t;
          cell[1] -= t * q;
        }
        Float* z0 = zt[k];
        Float* z1 = zt[k + 1];
        for (Integer i = iLow; i <= iIgh; ++i) {
          const Float t = x * z0[i] + y * z1[i];
          z0[i] -= t;
          z1[i] -= t * q;
        }
      }
    }
  }

  if (norm != 0) {
    BackSubstitute(h, lb, ub, wr, wi, norm);
    // The vectors of the roots isolated by the balancing.
    for (Integer i = lb; i <= ub; ++i)
      if (i < iLow || i > iIgh)
        for (Integer j = i; j <= ub; ++j) zt[j][i] = h[i][j];
    // Back to the vectors of the full matrix: column j of Z times H.
    std::vector<Float> column(ub + 1);
    for (Integer j = ub; j >= iLow; --j) {
      std::fill(column.begin() + iLow, column.begin() + iIgh + 1, 0.0);
      const Integer last = std::min(j, iIgh);
      for (Integer k = iLow; k <= last; ++k) {
        const Float f = h[k][j];
        if (f == 0) continue;
        const Float* source = zt[k];
        for (Integer i = iLow; i <= iIgh; ++i) column[i] += f * source[i];
      }
      std::copy(column.begin() + iLow, column.begin() + iIgh + 1, zt[j] + iLow);
    }
  }
  for (Integer i = lb; i <= ub; ++i)
    for (Integer j = lb; j <= ub; ++j) z[i][j] = zt[j][i];
  return 0;
}

void BalBak(TMatrix& z, Integer lb, Integer ub, Integer iLow, Integer iIgh, const TVector& scale, Integer m) {
  AssertRange(z, lb, ub);
  if (m < lb) return;
  if (iIgh != iLow)
    for (Integer i = iLow; i <= iIgh; ++i) {
      const Float s = scale[i];
      for (Integer j = lb; j <= m; ++j) z[i][j] *= s;
    }
  for (Integer ii = lb; ii <= ub; ++ii) {
    Integer i = ii;
    if (i >= iLow && i <= iIgh) continue;
    if (i < iLow) i = iLow - 1 - (ii - lb);
    const auto k = static_cast<Integer>(scale[i]);
    if (k == i) continue;
    for (Integer j = lb; j <= m; ++j) std::swap(z[i][j], z[k][j]);
  }
}

Integer EigenVect(TMatrix& a, Integer lb, Integer ub, TVector& re, TVector& im, TMatrix& v) {
  AssertRange(a, lb, ub);
  SizeVector(re, ub);
  SizeVector(im, ub);
  if (v.Rows() < static_cast<size_t>(ub + 1) || v.Columns() < static_cast<size_t>(ub + 1))
    matriceKw::DimMatrix(v, ub, ub);
  Integer low, igh;
  TVector scale;
  TIntVector interchanges;
  Balance(a, lb, ub, low, igh, scale);
  ElmHes(a, lb, ub, low, igh, interchanges);
  Eltran(a, lb, ub, low, igh, interchanges, v);
  const Integer code = Hqr2(a, lb, ub, low, igh, re, im, v);
  if (code == 0) BalBak(v, lb, ub, low, igh, scale, ub);
  return code;
}

}  // namespace utile::eigen
