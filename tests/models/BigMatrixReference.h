// The big-matrix occupancy model written out densely from its deme parameters,
// for tests of the model and of its workbench: P over all 2^n states, G for one
// state, T over the pairs of every state but the empty one, and Lt by Kesp3.
#pragma once

#include <Eigen/Dense>
#include <cmath>
#include <vector>

#include "models/BigMatrixModel.h"

namespace bigmatrixtest {

using Eigen::MatrixXd;
using Eigen::VectorXd;
using models::Double;
using utile::tMatrixOfDouble;
using utile::tVectorOfDouble;

struct tDemes {
  tVectorOfDouble b, e, N, Ne;
  tMatrixOfDouble M;  // M[to][from]
  Double Precision = 0;
  int Count() const { return static_cast<int>(b.size()); }
};

// A dominant eigenvalue with its left and right eigenvectors.
struct tDominant {
  double Value = 0;
  VectorXd Left, Right;
};

inline bool Occupied(unsigned s, int d) {
  return (s >> d) & 1u;
}

// F of state s: the share of the recruits of k that come from j.
inline MatrixXd BackDispersal(const tDemes& d, unsigned s) {
  const int n = d.Count();
  MatrixXd f(n, n);
  for (int k = 0; k < n; ++k) {
    for (int j = 0; j < n; ++j) f(k, j) = Occupied(s, j) ? d.N[j] * d.b[j] * d.M[k][j] : 0.0;
    if (f.row(k).sum() != 0) f.row(k) /= f.row(k).sum();
  }
  return f;
}

// The transitions over all 2^n states, [to][from], cut below the precision.
inline MatrixXd FullP(const tDemes& d) {
  const int n = d.Count();
  const unsigned states = 1u << n;
  MatrixXd p(states, states);
  for (unsigned c = 0; c < states; ++c) {
    std::vector<double> q(n);
    for (int k = 0; k < n; ++k) {
      double recruits = 0;
      for (int j = 0; j < n; ++j) recruits += Occupied(c, j) ? d.N[j] * d.b[j] * d.M[k][j] : 0;
      q[k] = d.e[k] + (1 - d.e[k]) * std::exp(-recruits);
    }
    for (unsigned r = 0; r < states; ++r) {
      double v = 1;
      for (int k = 0; k < n; ++k) {
        v *= Occupied(r, k) ? 1 - q[k] : q[k];
        if (v < d.Precision) v = 0;
      }
      p(r, c) = v;
    }
  }
  return p;
}

inline MatrixXd DenseP0(const tDemes& d) {
  const MatrixXd p = FullP(d);
  return p.bottomRightCorner(p.rows() - 1, p.cols() - 1);
}

// G of state s: [(a, b)][(c, e)] = F[a][c] F[b][e], times 1 - 1 / Ne[c] when c = e.
inline MatrixXd DenseG(const tDemes& d, unsigned s) {
  const int n = d.Count();
  const MatrixXd f = BackDispersal(d, s);
  MatrixXd g(n * n, n * n);
  for (int r = 0; r < n * n; ++r)
    for (int c = 0; c < n * n; ++c)
      g(r, c) = f(r / n, c / n) * f(r % n, c % n) * (c / n == c % n ? 1 - 1 / d.Ne[c / n] : 1.0);
  return g;
}

inline MatrixXd DenseT(const tDemes& d) {
  const int n = d.Count(), pairs = n * n;
  const unsigned states = (1u << n) - 1;
  const MatrixXd p = FullP(d);
  MatrixXd t = MatrixXd::Zero(states * pairs, states * pairs);
  for (unsigned s2 = 1; s2 <= states; ++s2) {
    const MatrixXd g = DenseG(d, s2);
    for (int g2 = 0; g2 < pairs; ++g2)
      for (unsigned s1 = 1; s1 <= states; ++s1)
        for (int g1 = 0; g1 < pairs; ++g1)
          if (Occupied(s2, g2 / n) && Occupied(s2, g2 % n) && g(g1, g2) >= d.Precision)
            t((s1 - 1) * pairs + g1, (s2 - 1) * pairs + g2) = p(s1, s2) * g(g1, g2);
  }
  return t;
}

// Lt = Lp0 LG (1 - A) + B by Kesp3 from the eigensystems of P0 and of G with
// every deme occupied, each normalised: right to sum 1, then left . right = 1.
inline double Kesp3(const tDemes& d, const tDominant& p0, const tDominant& g) {
  const int n = d.Count(), pairs = n * n;
  const unsigned all = (1u << n) - 1;
  const MatrixXd p0m = DenseP0(d), gm = DenseG(d, all), fall = BackDispersal(d, all);
  auto both = [&](unsigned s, int pair) { return Occupied(s, pair / n) && Occupied(s, pair % n); };
  double A = 0, B = 0;
  for (unsigned s = 1; s <= all; ++s) {
    double X = 0;
    for (int h = 0; h < pairs; ++h) {
      if (!both(s, h)) A += p0.Left[s - 1] * p0.Right[s - 1] * g.Left[h] * g.Right[h];
      double x1 = 0, x2 = 0;
      for (int k = 0; k < pairs; ++k)
        if (both(s, k)) {
          x1 += g.Left[h] * g.Right[k] * gm(h, k);
          x2 += fall(h / n, k / n) * fall(h % n, k % n);
        }
      X += (1 / x2 - 1) * x1;
    }
    B += X * p0m.col(s - 1).dot(p0.Left) * p0.Right[s - 1];
  }
  return p0.Value * g.Value * (1 - A) + B;
}

}  // namespace bigmatrixtest
