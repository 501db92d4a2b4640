// The one shared helper for stochastic tests. Every limit sits at about five
// standard errors, so that a test with a fixed seed is never flaky yet still
// catches a wrong distribution.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace testsupport {

constexpr double StandardErrors = 5.0;

struct tMoments {
  size_t Count = 0;
  double Mean = 0;
  double Variance = 0;        // sample variance (n - 1)
  double FourthCentral = 0;   // fourth central moment
};

tMoments MomentsOf(const std::vector<double>& samples);

// Mean within five standard errors of the expected mean, for a distribution of
// the given (true) variance.
::testing::AssertionResult MeanIsNear(const std::vector<double>& samples, double expectedMean,
                                      double expectedVariance);
// Sample variance within five standard errors of the expected variance; the error
// of the variance is estimated from the sample's fourth moment.
::testing::AssertionResult VarianceIsNear(const std::vector<double>& samples, double expectedVariance);
// A proportion of successes within five binomial standard errors.
::testing::AssertionResult ProportionIsNear(size_t successes, size_t trials, double probability);

// Upper limit of a chi-square statistic with df degrees of freedom at about five
// standard deviations (Wilson-Hilferty).
double ChiSquareUpperLimit(int degreesOfFreedom, double z = StandardErrors);
// Observed counts against expected probabilities; classes expected below 5 are pooled.
::testing::AssertionResult CountsFit(const std::vector<double>& observed, const std::vector<double>& probabilities);
// Kolmogorov-Smirnov distance of the sample to a continuous distribution function,
// against the limit at a significance of 1e-6.
::testing::AssertionResult FollowsDistribution(std::vector<double> samples,
                                               const std::function<double(double)>& cdf);

// A fresh folder for files written by a test, removed with everything in it.
class tTempFolder {
public:
  // In the system's temporary folder (TMPDIR, else /tmp).
  tTempFolder();
  // In the folder given: a program that a test starts lies where programs run
  // (the build tree), which the temporary folder need not allow (noexec).
  explicit tTempFolder(const std::string& parent);
  // Its full name without capital letters, for names that pass through a batch
  // line (whose values reach the controls in lower case): in the temporary folder
  // when its name has none, else in /tmp.
  struct tLowerCase {};
  explicit tTempFolder(tLowerCase);
  ~tTempFolder();
  tTempFolder(const tTempFolder&) = delete;
  tTempFolder& operator=(const tTempFolder&) = delete;
  const std::string& Path() const { return fPath; }
  std::string File(const std::string& name) const { return fPath + "/" + name; }

private:
  std::string fPath;
};

}  // namespace testsupport
