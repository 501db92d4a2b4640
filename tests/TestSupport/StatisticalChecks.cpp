#include "StatisticalChecks.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace testsupport {

tMoments MomentsOf(const std::vector<double>& samples) {
  tMoments m;
  m.Count = samples.size();
  if (m.Count == 0) return m;
  long double sum = 0;
  for (double x : samples) sum += x;
  m.Mean = static_cast<double>(sum / m.Count);
  long double s2 = 0, s4 = 0;
  for (double x : samples) {
    const long double d = x - m.Mean;
    s2 += d * d;
    s4 += d * d * d * d;
  }
  m.Variance = m.Count > 1 ? static_cast<double>(s2 / (m.Count - 1)) : 0;
  m.FourthCentral = static_cast<double>(s4 / m.Count);
  return m;
}

::testing::AssertionResult MeanIsNear(const std::vector<double>& samples, double expectedMean,
                                      double expectedVariance) {
  const tMoments m = MomentsOf(samples);
  const double se = std::sqrt(expectedVariance / static_cast<double>(m.Count));
  const double limit = StandardErrors * se + 1e-12 * std::fabs(expectedMean);
  if (std::fabs(m.Mean - expectedMean) <= limit) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "mean " << m.Mean << " of " << m.Count << " samples is not within "
                                       << limit << " of " << expectedMean;
}

::testing::AssertionResult VarianceIsNear(const std::vector<double>& samples, double expectedVariance) {
  const tMoments m = MomentsOf(samples);
  const double var4 = std::max(m.FourthCentral - m.Variance * m.Variance, 0.0);
  const double se = std::sqrt(var4 / static_cast<double>(m.Count));
  const double limit = StandardErrors * se + 1e-12 * std::fabs(expectedVariance);
  if (std::fabs(m.Variance - expectedVariance) <= limit) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "variance " << m.Variance << " of " << m.Count
                                       << " samples is not within " << limit << " of " << expectedVariance;
}

::testing::AssertionResult ProportionIsNear(size_t successes, size_t trials, double probability) {
  const double p = static_cast<double>(successes) / static_cast<double>(trials);
  const double se = std::sqrt(probability * (1 - probability) / static_cast<double>(trials));
  const double limit = StandardErrors * se + 1e-12;
  if (std::fabs(p - probability) <= limit) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "proportion " << p << " (" << successes << "/" << trials
                                       << ") is not within " << limit << " of " << probability;
}

double ChiSquareUpperLimit(int df, double z) {
  const double k = static_cast<double>(df);
  const double a = 2.0 / (9.0 * k);
  return k * std::pow(1.0 - a + z * std::sqrt(a), 3.0);
}

::testing::AssertionResult CountsFit(const std::vector<double>& observed, const std::vector<double>& probabilities) {
  if (observed.size() != probabilities.size())
    return ::testing::AssertionFailure() << "observed and expected differ in length";
  double total = 0;
  for (double o : observed) total += o;
  double chi2 = 0, pooledObserved = 0, pooledExpected = 0;
  int classes = 0;
  for (size_t i = 0; i < observed.size(); ++i) {
    const double e = probabilities[i] * total;
    if (e < 5) {
      pooledObserved += observed[i];
      pooledExpected += e;
      continue;
    }
    chi2 += (observed[i] - e) * (observed[i] - e) / e;
    ++classes;
  }
  if (pooledExpected > 0) {
    if (pooledExpected >= 1) {
      chi2 += (pooledObserved - pooledExpected) * (pooledObserved - pooledExpected) / pooledExpected;
      ++classes;
    } else if (pooledObserved > 5 + 10 * pooledExpected) {
      return ::testing::AssertionFailure() << pooledObserved << " draws fell in classes expected to hold "
                                           << pooledExpected;
    }
  }
  if (classes < 2) return ::testing::AssertionSuccess();
  const double limit = ChiSquareUpperLimit(classes - 1);
  if (chi2 <= limit) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "chi-square " << chi2 << " on " << classes - 1
                                       << " degrees of freedom exceeds " << limit;
}

::testing::AssertionResult FollowsDistribution(std::vector<double> samples, const std::function<double(double)>& cdf) {
  std::sort(samples.begin(), samples.end());
  const double n = static_cast<double>(samples.size());
  double d = 0;
  for (size_t i = 0; i < samples.size(); ++i) {
    const double f = cdf(samples[i]);
    d = std::max({d, std::fabs(f - i / n), std::fabs((i + 1) / n - f)});
  }
  const double limit = std::sqrt(-0.5 * std::log(1e-6 / 2)) / std::sqrt(n);
  if (d <= limit) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "Kolmogorov-Smirnov distance " << d << " exceeds " << limit;
}

tTempFolder::tTempFolder() : tTempFolder(std::filesystem::temp_directory_path().string()) {}

tTempFolder::tTempFolder(const std::string& parent) {
  std::string pattern = (std::filesystem::path(parent) / "vandrel-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder in " + parent);
  fPath = pattern;
}

tTempFolder::tTempFolder(tLowerCase) {
  std::string parent = std::filesystem::temp_directory_path().string();
  if (std::any_of(parent.begin(), parent.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) parent = "/tmp";
  std::random_device seed;
  std::minstd_rand random(seed());
  const char* const letters = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = parent + "/vandrel-test-";
    for (int k = 0; k < 8; ++k) name += letters[random() % 36];
    if (mkdir(name.c_str(), 0700) == 0) {
      fPath = name;
      return;
    }
    if (errno != EEXIST) break;
  }
  throw std::runtime_error("cannot create a temporary folder in " + parent);
}

tTempFolder::~tTempFolder() {
  std::error_code error;
  std::filesystem::remove_all(fPath, error);
}

}  // namespace testsupport
