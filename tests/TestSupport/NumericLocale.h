// Numbers under the locales of the programs' users. The window library sets the C
// library's locale from the environment when a program's application object is
// made, and many users work under a locale whose decimal separator is the comma:
// tests set LC_NUMERIC as it sets it, and read the numbers they check without the
// C library's locale.
#pragma once

#include <locale.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testsupport {

// "C", then locales whose decimal separator is the comma (tools/setup.sh makes them).
inline const std::vector<std::string>& NumericLocales() {
  static const std::vector<std::string> locales = {"C", "fr_FR.UTF-8", "de_DE.UTF-8"};
  return locales;
}

// LC_NUMERIC set to a locale ("" for the environment's) for the guard's scope.
class tNumericLocale {
public:
  explicit tNumericLocale(const std::string& name) : fSaved(std::setlocale(LC_NUMERIC, nullptr)) {
    fActive = std::setlocale(LC_NUMERIC, name.c_str()) != nullptr &&
              (name == "C" || name.empty() || DecimalPoint() == ",");
  }
  ~tNumericLocale() { std::setlocale(LC_NUMERIC, fSaved.c_str()); }
  tNumericLocale(const tNumericLocale&) = delete;
  tNumericLocale& operator=(const tNumericLocale&) = delete;

  // False when the locale is not installed (or, but for "C" and the environment's, its
  // decimal separator is not the comma).
  bool Active() const { return fActive; }
  static std::string Missing(const std::string& name) {
    return "the locale " + name + " is not installed: tools/setup.sh makes it";
  }
  // The C library's decimal point in force.
  static std::string DecimalPoint() { return std::localeconv()->decimal_point; }

private:
  std::string fSaved;
  bool fActive = false;
};

// The environment's locale variable set for the guard's scope.
class tEnvironmentLocale {
public:
  explicit tEnvironmentLocale(const std::string& name) {
    if (const char* value = std::getenv("LC_ALL")) {
      fSaved = value;
      fHadValue = true;
    }
    ::setenv("LC_ALL", name.c_str(), 1);
  }
  ~tEnvironmentLocale() {
    if (fHadValue)
      ::setenv("LC_ALL", fSaved.c_str(), 1);
    else
      ::unsetenv("LC_ALL");
  }
  tEnvironmentLocale(const tEnvironmentLocale&) = delete;
  tEnvironmentLocale& operator=(const tEnvironmentLocale&) = delete;

private:
  std::string fSaved;
  bool fHadValue = false;
};

// What `produce` gives under each of NumericLocales().
template <class tResult>
struct tUnderLocale {
  std::string Locale;
  bool Set = false;  // false: the locale could not be set, and Result is empty
  tResult Result{};
};
template <class tProduce>
auto UnderEachLocale(tProduce&& produce) {
  std::vector<tUnderLocale<decltype(produce())>> results;
  for (const std::string& name : NumericLocales()) {
    const tNumericLocale locale(name);
    auto& result = results.emplace_back();
    result.Locale = name;
    result.Set = locale.Active();
    if (result.Set) result.Result = produce();
  }
  return results;
}

// A real written with the point, read without the C library's locale: NaN unless
// the whole text is one.
inline double PointNumber(std::string_view text) {
  double value = std::numeric_limits<double>::quiet_NaN();
  const char* begin = text.data();
  if (!text.empty() && text.front() == '+') ++begin;
  const auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size())
    return std::numeric_limits<double>::quiet_NaN();
  return value;
}

// The C library's own reading of a real, in the "C" locale whatever the process's:
// the reference of the conversions.
inline double CLibraryNumber(const std::string& text) {
  static const locale_t c = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return ::strtod_l(text.c_str(), nullptr, c);
}

}  // namespace testsupport
