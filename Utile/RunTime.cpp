#include "Utile/RunTime.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <langinfo.h>
#include <limits>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Utile/Platform.h"

namespace utile {

// ---------------------------------------------------------------- exceptions

// The unit's name as the source tree holds it ("Utile/X.cpp"). The build maps the source folder
// away, but a compiler launcher (ccache with a base folder) or an out-of-tree packager hands the
// compiler relative names, which reach source_location as "../../Utile/X.cpp".
static std::string UnitFileName(const char* fileName) {
  std::string_view name(fileName);
  while (name.starts_with("../") || name.starts_with("./")) name.remove_prefix(name.starts_with("./") ? 2 : 3);
  return std::string(name);
}

void RaiseAssertion(const char* text, const std::source_location& where) {
  throw EAssertionFailed(Format("%s (%s, line %d)", text, UnitFileName(where.file_name()).c_str(), where.line()));
}

void RaiseZeroDivide() { throw EZeroDivide("Floating point division by zero"); }
void RaiseInvalidOp() { throw EInvalidOp("Invalid floating point operation"); }
void RaiseOverflow() { throw EOverflow("Floating point overflow"); }

double FloatDiv(double numerator, double denominator) {
  if (denominator == 0.0) {
    if (numerator == 0.0 || std::isnan(numerator)) RaiseInvalidOp();
    RaiseZeroDivide();
  }
  return CheckFinite(numerator / denominator);
}

double FloatLn(double x) {
  if (x == 0.0) RaiseZeroDivide();
  if (!(x > 0.0)) RaiseInvalidOp();
  return std::log(x);
}

double FloatSqrt(double x) {
  if (!(x >= 0.0)) RaiseInvalidOp();
  return std::sqrt(x);
}

double FloatExp(double x) {
  if (std::isnan(x)) RaiseInvalidOp();
  const double r = std::exp(x);
  if (std::isinf(r)) RaiseOverflow();
  return r;
}

double CheckFinite(double x, const char* what) {
  if (std::isnan(x)) {
    if (what) throw EInvalidOp(what);
    RaiseInvalidOp();
  }
  if (std::isinf(x)) {
    if (what) throw EOverflow(what);
    RaiseOverflow();
  }
  return x;
}

// ---------------------------------------------------------------- rounding

namespace {
constexpr long double TwoPow63 = 9223372036854775808.0L;

void CheckIntegerRange(long double x) {
  if (std::isnan(x) || !(x < TwoPow63) || x < -TwoPow63) RaiseInvalidOp();
}
}  // namespace

int64_t Round(long double x) {
  CheckIntegerRange(x);
  // The default rounding mode rounds halves to the even neighbour.
  const long double r = std::nearbyint(x);
  CheckIntegerRange(r);
  return static_cast<int64_t>(r);
}

int64_t Trunc(long double x) {
  CheckIntegerRange(x);
  return static_cast<int64_t>(x);
}

int32_t RoundToInteger(long double x) {
  const int64_t r = Round(x);
  if (r < INT32_MIN || r > INT32_MAX) throw ERangeError("Range check error");
  return static_cast<int32_t>(r);
}

long double RoundTo(long double x, int digit) {
  if (digit < -37 || digit > 37) throw ERangeError(Format("RoundTo: digit %d is outside -37..37", digit));
  if (!std::isfinite(x)) RaiseInvalidOp();
  long double factor = 1;
  for (int i = 0; i < std::abs(digit); ++i) factor *= 10;
  const long double scaled = digit < 0 ? x * factor : x / factor;
  // Beyond 2^63 an extended value has no digit below 10^Digit left to round.
  if (std::fabs(scaled) >= 0x1p63L) return x;
  const long double r = std::nearbyint(scaled);
  return digit < 0 ? r / factor : r * factor;
}

// ---------------------------------------------------------------- float text

char DecimalSeparator = '.';
char ThousandSeparator = ',';
char UserDecimalSeparator = '.';

char EnvironmentDecimalSeparator() {
  // A locale object of its own: the locale in force stays as it is.
  const locale_t environment = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
  if (environment == static_cast<locale_t>(nullptr)) return '.';
  const char* point = ::nl_langinfo_l(RADIXCHAR, environment);
  const char separator = point != nullptr && std::strcmp(point, ",") == 0 ? ',' : '.';
  ::freelocale(environment);
  return separator;
}

void TakeUserNumericLocale() {
  UserDecimalSeparator = EnvironmentDecimalSeparator();
  std::setlocale(LC_NUMERIC, "C");
}

namespace {

// The run-time library converts a real to at most 18 significant digits and then
// rounds those digits to the precision asked for, a half going away from zero
// (Format("%.0f", 2.5) is "3", unlike Round).
constexpr int MaxSignificantDigits = 18;

// The 18 significant digits of |value| (not zero): |value| = 0.d1d2d3... x 10^exponent.
// Written without the C library's printf, whose decimal point is the one of the
// C locale in force.
void EighteenDigits(long double value, std::string& digits, int& exponent) {
  char buffer[64];
  const auto written = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                     std::chars_format::scientific, MaxSignificantDigits - 1);
  // "d.ddddddddddddddddde+dd"
  digits.clear();
  const char* p = buffer;
  for (; p < written.ptr && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') digits += *p;
  exponent = 1;
  if (p < written.ptr) {
    const bool negative = p[1] == '-';
    int magnitude = 0;
    std::from_chars(p + 2, written.ptr, magnitude);
    exponent += negative ? -magnitude : magnitude;
  }
}

// Keeps the first `count` digits, rounding the rest half away from zero; a carry
// out of the first digit raises the exponent. A count below 0 leaves no digit.
void RoundDigits(std::string& digits, int& exponent, int count) {
  if (count >= static_cast<int>(digits.size())) return;
  if (count < 0) {
    digits.clear();
    return;
  }
  const bool up = digits[count] >= '5';
  digits.resize(count);
  if (!up) return;
  int i = count - 1;
  while (i >= 0 && digits[i] == '9') digits[i--] = '0';
  if (i >= 0) {
    ++digits[i];
  } else {
    digits.insert(0, 1, '1');
    if (count > 0) digits.pop_back();
    ++exponent;
  }
}

// Significant digits of |value| rounded to `precision` digits, and the position of
// the decimal point: |value| = 0.d1d2d3... x 10^exponent. Zero gives "0", 0.
void DecimalDigits(long double value, int precision, std::string& digits, int& exponent) {
  if (value == 0) {
    digits.assign(1, '0');
    exponent = 0;
    return;
  }
  EighteenDigits(value, digits, exponent);
  RoundDigits(digits, exponent, precision);
}

std::string PadNumber(long value, int minDigits) {
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) < minDigits) s.insert(0, minDigits - s.size(), '0');
  return s;
}

std::string SpecialValue(long double value) {
  if (std::isnan(value)) return "NAN";
  return value < 0 ? "-INF" : "INF";
}

std::string GroupThousands(const std::string& integerPart) {
  std::string out;
  const int n = static_cast<int>(integerPart.size());
  for (int i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += ThousandSeparator;
    out += integerPart[i];
  }
  return out;
}

std::string FixedForm(long double value, int decimals, bool grouped, char decimalSeparator) {
  if (decimals > MaxSignificantDigits) decimals = MaxSignificantDigits;
  std::string digits;
  int exponent = 0;
  if (value != 0) {
    EighteenDigits(value, digits, exponent);
    RoundDigits(digits, exponent, exponent + decimals);
  }
  const bool allZero = digits.find_first_not_of('0') == std::string::npos;
  // Digits beyond the eighteen significant ones are zeros.
  auto digitAt = [&](int index) {
    return index >= 0 && index < static_cast<int>(digits.size()) ? digits[index] : '0';
  };
  std::string integerPart;
  if (allZero || exponent <= 0) {
    integerPart = "0";
  } else {
    for (int i = 0; i < exponent; ++i) integerPart += digitAt(i);
  }
  std::string out = (value < 0 && !allZero) ? "-" : "";
  out += grouped ? GroupThousands(integerPart) : integerPart;
  if (decimals > 0) {
    out += decimalSeparator;
    for (int k = 0; k < decimals; ++k) out += allZero ? '0' : digitAt(exponent + k);
  }
  return out;
}

// FloatToStrF with the given decimal separator.
std::string FloatText(long double value, tFloatFormat format, int precision, int digits,
                      char decimalSeparator) {
  if (!std::isfinite(value)) return SpecialValue(value);
  switch (format) {
    case tFloatFormat::ffFixed:
      return FixedForm(value, std::max(precision, 0), false, decimalSeparator);
    case tFloatFormat::ffNumber:
      return FixedForm(value, std::max(precision, 0), true, decimalSeparator);
    case tFloatFormat::ffExponent: {
      precision = std::clamp(precision, 1, 18);
      std::string d;
      int exponent;
      DecimalDigits(value, precision, d, exponent);
      d.resize(precision, '0');
      const int e = (value == 0) ? 0 : exponent - 1;
      std::string out = value < 0 ? "-" : "";
      out += d[0];
      if (precision > 1) out += decimalSeparator + d.substr(1);
      out += 'E';
      out += e < 0 ? '-' : '+';
      out += PadNumber(std::abs(e), digits);
      return out;
    }
    case tFloatFormat::ffGeneral:
    default: {
      precision = std::clamp(precision, 1, 18);
      std::string d;
      int exponent;
      DecimalDigits(value, precision, d, exponent);
      while (d.size() > 1 && d.back() == '0') d.pop_back();
      if (d == "0") return "0";
      std::string out = value < 0 ? "-" : "";
      if (exponent > precision || exponent < -3) {
        const int e = exponent - 1;
        out += d[0];
        if (d.size() > 1) out += decimalSeparator + d.substr(1);
        out += 'E';
        if (e < 0) out += '-';
        out += PadNumber(std::abs(e), digits);
      } else if (exponent <= 0) {
        out += '0';
        out += decimalSeparator;
        out.append(-exponent, '0');
        out += d;
      } else if (static_cast<int>(d.size()) <= exponent) {
        out += d;
        out.append(exponent - d.size(), '0');
      } else {
        out += d.substr(0, exponent);
        out += decimalSeparator;
        out += d.substr(exponent);
      }
      return out;
    }
  }
}

}  // namespace

std::string FloatToStrF(long double value, tFloatFormat format, int precision, int digits) {
  return FloatText(value, format, precision, digits, DecimalSeparator);
}

std::string FloatToStrF(long double value, tFloatFormat format, int precision, int digits,
                        char decimalSeparator) {
  return FloatText(value, format, precision, digits, decimalSeparator);
}

std::string FloatToStr(long double value) {
  return FloatToStrF(value, tFloatFormat::ffGeneral, 15, 0);
}

namespace {

using tWide = unsigned __int128;

// 5^s for the scales of singles from about 1e-27 up.
constexpr int MaxFivePower = 44;
constexpr std::array<tWide, MaxFivePower + 1> PowersOfFive = [] {
  std::array<tWide, MaxFivePower + 1> powers{};
  powers[0] = 1;
  for (int s = 1; s <= MaxFivePower; ++s) powers[s] = powers[s - 1] * 5;
  return powers;
}();

constexpr uint64_t TenPower17 = 100'000'000'000'000'000ull;
constexpr uint64_t TenPower18 = 1'000'000'000'000'000'000ull;
constexpr uint64_t TenPower14 = 100'000'000'000'000ull;
constexpr uint64_t TenPower15 = 1'000'000'000'000'000ull;

constexpr std::array<char, 200> DigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// y = m x 2^e x 10^s as its integer part and the comparison of its fractional part
// with one half (-1 below, 0 equal, 1 above), exactly. False when the scale is out
// of the table's reach.
bool ScaledSingle(uint64_t m, int e, int s, uint64_t& whole, int& half) {
  if (s > MaxFivePower) return false;
  if (s >= 0) {
    const tWide p = static_cast<tWide>(m) * PowersOfFive[s];
    const int shift = e + s;
    if (shift >= 0) {
      if (shift > 63 || (p >> (64 - shift)) != 0) return false;
      whole = static_cast<uint64_t>(p << shift);
      half = -1;
      return true;
    }
    const int right = -shift;
    if (right > 127) return false;
    const tWide q = p >> right;
    if ((q >> 64) != 0) return false;
    whole = static_cast<uint64_t>(q);
    const tWide rest = p - (q << right);
    const tWide halfway = static_cast<tWide>(1) << (right - 1);
    half = rest < halfway ? -1 : rest > halfway ? 1 : 0;
    return true;
  }
  // Large values: y = m x 2^(e - t) / 5^t with t = -s; 5^t is odd, so no half.
  const int t = -s;
  const int left = e - t;
  if (t > 27 || left < 0 || left > 103) return false;
  const tWide n = static_cast<tWide>(m) << left;
  const uint64_t five = static_cast<uint64_t>(PowersOfFive[t]);
  const tWide q = n / five;
  if ((q >> 64) != 0) return false;
  whole = static_cast<uint64_t>(q);
  const uint64_t rest = static_cast<uint64_t>(n - q * five);
  half = 2 * rest > five ? 1 : -1;
  return true;
}

// ceil(0.4995 x 2^r) for r = 0..127. A value of fifteen significant digits and
// a fraction rounds its last digit up from a fraction of 0.4995 on: rounded to
// eighteen digits first (ties to even), 0.4995 becomes ...500, which rounds up.
constexpr std::array<tWide, 128> RoundUpThresholds = [] {
  std::array<tWide, 128> thresholds{};
  for (int r = 0; r < 128; ++r) {
    const tWide power = static_cast<tWide>(1) << r;
    const tWide whole = power / 10000, rest = power % 10000;
    thresholds[r] = 4995 * whole + (4995 * rest + 9999) / 10000;
  }
  return thresholds;
}();

// Powers of ten near enough to correct the first guess of a decimal exponent
// (the scaled value has the last word).
constexpr int LowestGuess = -20, HighestGuess = 40;
constexpr std::array<double, HighestGuess - LowestGuess + 1> GuessPowers = [] {
  std::array<double, HighestGuess - LowestGuess + 1> powers{};
  for (int k = LowestGuess; k <= HighestGuess; ++k) {
    long double power = 1;
    for (int i = 0; i < (k < 0 ? -k : k); ++i) power = k < 0 ? power / 10 : power * 10;
    powers[k - LowestGuess] = static_cast<double>(power);
  }
  return powers;
}();

// y = m x 2^e x 10^s as its integer part and whether its fraction reaches 0.4995,
// exactly. False when the scale or the product is out of reach of 128 bits: about
// 1e-18 to 1e38 for fifteen-digit scales.
bool ScaledDouble(uint64_t m, int e, int s, uint64_t& whole, bool& up) {
  if (s >= 0) {
    if (s > 32) return false;  // m x 5^s must hold in 128 bits
    // One 64-bit product where 5^s holds in 64 bits.
    const tWide p = s <= 27 ? static_cast<tWide>(m) * static_cast<uint64_t>(PowersOfFive[s])
                            : static_cast<tWide>(m) * PowersOfFive[s];
    const int shift = e + s;
    if (shift >= 0) {
      if (shift > 63 || (p >> (64 - shift)) != 0) return false;
      whole = static_cast<uint64_t>(p << shift);
      up = false;
      return true;
    }
    const int right = -shift;
    if (right < 64) {
      // In 64-bit halves: the common case, values from about 1e-8 to 1e15.
      const auto low = static_cast<uint64_t>(p), high = static_cast<uint64_t>(p >> 64);
      if ((high >> right) != 0) return false;
      whole = (high << (64 - right)) | (low >> right);
      up = (low & ((uint64_t{1} << right) - 1)) >= static_cast<uint64_t>(RoundUpThresholds[right]);
      return true;
    }
    if (right > 127) return false;
    const tWide q = p >> right;
    if ((q >> 64) != 0) return false;
    whole = static_cast<uint64_t>(q);
    up = p - (q << right) >= RoundUpThresholds[right];
    return true;
  }
  // Large values: y = m x 2^(e - t) / 5^t with t = -s.
  const int t = -s;
  if (t > 27) return false;
  const auto five = static_cast<tWide>(PowersOfFive[t]);
  const int left = e - t;
  if (left > 74 || left < -49) return false;
  const tWide n = left >= 0 ? static_cast<tWide>(m) << left : static_cast<tWide>(m);
  const tWide d = left >= 0 ? five : five << -left;
  const tWide q = n / d;
  if ((q >> 64) != 0) return false;
  whole = static_cast<uint64_t>(q);
  up = (n - q * d) * 10000 >= 4995 * d;
  return true;
}

// Corrects a first guess of the decimal exponent until scale(exponent), which
// sets whole, puts the value's integer part in [lowest, 10 lowest); false when
// the scale is out of reach or the guess is far off.
template <class tScale>
bool SettleExponent(int& exponent, uint64_t lowest, const uint64_t& whole, tScale&& scale) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (!scale(exponent)) return false;
    if (whole >= 10 * lowest)
      ++exponent;
    else if (whole < lowest)
      --exponent;
    else
      return true;
  }
  return false;
}

// The 23 characters of a value of fifteen significant digits (10^14 <= digits <
// 10^15) and its decimal exponent.
// The eight digits of n < 10^8, in two halves whose pairs are found independently.
inline void WriteEightDigits(uint32_t n, char* out) {
  const uint32_t high = n / 10000, low = n % 10000;
  std::memcpy(out, &DigitPairs[(high / 100) * 2], 2);
  std::memcpy(out + 2, &DigitPairs[(high % 100) * 2], 2);
  std::memcpy(out + 4, &DigitPairs[(low / 100) * 2], 2);
  std::memcpy(out + 6, &DigitPairs[(low % 100) * 2], 2);
}

inline char* WriteDefaultForm(bool negative, uint64_t digits, int exponent, char* out) {
  // d.dddddd of the first seven digits (a leading zero before them), then eight.
  char first[8];
  WriteEightDigits(static_cast<uint32_t>(digits / 100'000'000), first);
  WriteEightDigits(static_cast<uint32_t>(digits % 100'000'000), out + 9);
  out[0] = negative ? '-' : ' ';
  out[1] = first[1];
  out[2] = '.';
  std::memcpy(out + 3, first + 2, 6);
  out[17] = 'E';
  out[18] = exponent < 0 ? '-' : '+';
  const int magnitude = exponent < 0 ? -exponent : exponent;
  out[19] = '0';
  out[20] = static_cast<char>('0' + magnitude / 100);
  std::memcpy(out + 21, &DigitPairs[static_cast<size_t>(magnitude % 100) * 2], 2);
  return out + 23;
}

// Eighteen significant digits rounded to fifteen, a half going away from zero; a
// carry out of the first digit raises the exponent.
char* WriteEighteenDigits(bool negative, uint64_t digits, int exponent, char* out) {
  if (digits == TenPower18) {
    digits = TenPower17;
    ++exponent;
  }
  const uint64_t rest = digits % 1000;
  digits = digits / 1000 + (rest >= 500 ? 1 : 0);
  if (digits == TenPower15) {
    digits = TenPower14;
    ++exponent;
  }
  return WriteDefaultForm(negative, digits, exponent, out);
}

char* WriteSpecialValue(double value, char* out) {
  const char* body = std::isnan(value) ? "Nan" : (value < 0 ? "-Inf" : "+Inf");
  const size_t length = std::strlen(body);
  std::fill(out, out + 23 - length, ' ');
  std::copy(body, body + length, out + 23 - length);
  return out + 23;
}

// Any finite double other than zero, through its exact eighteen significant digits.
char* DoubleThroughEighteenDigits(double value, char* out) {
  char text[40];
  const auto written =
      std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::scientific, 17);
  // "d.ddddddddddddddddde+dd"
  uint64_t digits = static_cast<uint64_t>(text[0] - '0');
  for (int i = 2; i < 19; ++i) digits = digits * 10 + static_cast<uint64_t>(text[i] - '0');
  int exponent = 0;
  for (const char* p = text + 21; p < written.ptr; ++p) exponent = exponent * 10 + (*p - '0');
  if (text[20] == '-') exponent = -exponent;
  return WriteEighteenDigits(value < 0, digits, exponent, out);
}

}  // namespace

char* DoubleToDefaultChars(double value, char* out) {
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  const bool negative = (bits >> 63) != 0;
  const auto biased = static_cast<uint32_t>((bits >> 52) & 0x7FF);
  const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
  if (biased == 0x7FF) return WriteSpecialValue(value, out);
  if (biased == 0 && fraction == 0) {
    static constexpr char Zero[] = " 0.00000000000000E+0000";
    return std::copy(Zero, Zero + 23, out);
  }
  const uint64_t m = biased == 0 ? fraction : (fraction | (uint64_t{1} << 52));
  const int e = biased == 0 ? -1074 : static_cast<int>(biased) - 1075;
  // |value| lies in [2^b, 2^(b+1)), so its decimal exponent is near b log10(2);
  // the estimate is corrected on the scaled value below.
  const int b = e + 63 - std::countl_zero(m);
  int exponent = (b * 78913) >> 18;
  if (exponent >= LowestGuess && exponent < HighestGuess &&
      std::fabs(value) >= GuessPowers[exponent + 1 - LowestGuess])
    ++exponent;
  uint64_t whole = 0;
  bool up = false;
  if (!SettleExponent(exponent, TenPower14, whole,
                      [&](int guess) { return ScaledDouble(m, e, 14 - guess, whole, up); }))
    return DoubleThroughEighteenDigits(value, out);
  uint64_t digits = whole + (up ? 1 : 0);
  if (digits == TenPower15) {
    digits = TenPower14;
    ++exponent;
  }
  return WriteDefaultForm(negative, digits, exponent, out);
}

std::string FloatToDefaultStr(long double value) {
  const auto asDouble = static_cast<double>(value);
  if (static_cast<long double>(asDouble) == value || std::isnan(value)) {
    char text[23];
    DoubleToDefaultChars(asDouble, text);
    return std::string(text, 23);
  }
  // Extended values beyond a double. Text files always carry the point, whatever
  // the user's decimal separator, so that a matrix file written under one setting
  // reads back under another.
  std::string body = FloatText(value, tFloatFormat::ffExponent, 15, 4, '.');
  if (body[0] != '-') body.insert(0, 1, ' ');
  return body;
}

char* SingleToDefaultChars(float value, char* out) {
  const uint32_t bits = std::bit_cast<uint32_t>(value);
  const bool negative = (bits >> 31) != 0;
  const uint32_t biased = (bits >> 23) & 0xFF;
  const uint32_t fraction = bits & 0x7FFFFF;
  if (biased == 0xFF) return WriteSpecialValue(value, out);
  if (biased == 0 && fraction == 0) return DoubleToDefaultChars(0.0, out);
  const uint64_t m = biased == 0 ? fraction : (fraction | 0x800000u);
  const int e = biased == 0 ? -149 : static_cast<int>(biased) - 150;
  // |value| lies in [2^b, 2^(b+1)), so its decimal exponent is near b log10(2);
  // the estimate is corrected on the scaled value below.
  const int b = e + 63 - std::countl_zero(m);
  int exponent = (b * 78913) >> 18;
  uint64_t whole = 0;
  int half = 0;
  if (!SettleExponent(exponent, TenPower17, whole,
                      [&](int guess) { return ScaledSingle(m, e, 17 - guess, whole, half); }))
    return DoubleToDefaultChars(value, out);
  // Eighteen significant digits, correctly rounded (halves to even), as the
  // general path takes them; then fifteen, a half going away from zero.
  const uint64_t digits = whole + ((half > 0 || (half == 0 && (whole & 1) != 0)) ? 1 : 0);
  return WriteEighteenDigits(negative, digits, exponent, out);
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

// ---------------------------------------------------------------- text to number

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view TrimView(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}
}  // namespace

namespace {
// The normal form of a real as the conversions take it: an optional sign, digits
// with at most one decimal separator among them (one digit at least), and an
// optional exponent "E" or "e" with an optional sign and one digit at least.
// Where the separator stands, or npos.
bool IsRealText(std::string_view text, char decimalSeparator, size_t& separatorAt) {
  separatorAt = std::string_view::npos;
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  int mantissaDigits = 0;
  for (; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      ++mantissaDigits;
    } else if (text[i] == decimalSeparator && separatorAt == std::string_view::npos) {
      separatorAt = i;
    } else {
      break;
    }
  }
  if (mantissaDigits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    int exponentDigits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  return i == text.size();
}

// The same text in the form of the C library: no plus sign, the point as separator.
std::string NormalRealText(std::string_view text, size_t separatorAt) {
  std::string normal(text);
  if (separatorAt != std::string_view::npos) normal[separatorAt] = '.';
  if (!normal.empty() && normal.front() == '+') normal.erase(0, 1);
  return normal;
}

// Whether a text in the normal form stands for a value of 1 or more in magnitude
// (the digits it holds, from its first one that is not 0, and its exponent), without
// converting it: for a text that not even an extended real can hold.
bool AtLeastOne(std::string_view normal) {
  // |value| = 0.d1d2d3... x 10^(position + exponent), d1 its first significant digit.
  int64_t position = 0;
  bool significant = false, beforePoint = true;
  size_t i = normal[0] == '-' ? 1 : 0;
  for (; i < normal.size() && normal[i] != 'e' && normal[i] != 'E'; ++i) {
    if (normal[i] == '.') {
      beforePoint = false;
    } else if (!significant && normal[i] == '0') {
      if (!beforePoint) --position;
    } else {
      significant = true;
      if (beforePoint) ++position;
    }
  }
  if (!significant) return false;
  int64_t exponent = 0;
  if (i < normal.size()) {
    ++i;
    const bool negative = i < normal.size() && normal[i] == '-';
    if (i < normal.size() && (normal[i] == '-' || normal[i] == '+')) ++i;
    // Beyond a billion the sign alone decides.
    for (; i < normal.size(); ++i)
      exponent = std::min<int64_t>(exponent * 10 + (normal[i] - '0'), 1'000'000'000);
    if (negative) exponent = -exponent;
  }
  return position + exponent > 0;
}

// The value of a text in the normal form as an extended real, nearest to it; a text
// below the smallest normal extended reads as 0. False beyond the largest.
bool ExtendedOfNormalText(std::string_view normal, long double& value) {
  long double v;
  const auto [end, error] = std::from_chars(normal.data(), normal.data() + normal.size(), v);
  if (error == std::errc() && end == normal.data() + normal.size()) {
    value = v;
    return true;
  }
  if (AtLeastOne(normal)) return false;
  value = normal[0] == '-' ? -0.0L : 0.0L;
  return true;
}
}  // namespace

bool TryStrToFloat(std::string_view text, long double& value, char decimalSeparator) {
  text = TrimView(text);
  size_t separatorAt;
  if (!IsRealText(text, decimalSeparator, separatorAt)) return false;
  return ExtendedOfNormalText(NormalRealText(text, separatorAt), value);
}

bool TryStrToFloat(std::string_view text, double& value, char decimalSeparator) {
  text = TrimView(text);
  size_t separatorAt;
  if (!IsRealText(text, decimalSeparator, separatorAt)) return false;
  // The text is converted where it stands when it is in the normal form already.
  std::string normal;
  std::string_view body = text;
  if (separatorAt != std::string_view::npos && decimalSeparator != '.') {
    normal = NormalRealText(text, separatorAt);
    body = normal;
  } else if (body.front() == '+') {
    body.remove_prefix(1);
  }
  double v;
  const auto [end, error] = std::from_chars(body.data(), body.data() + body.size(), v);
  if (error == std::errc() && end == body.data() + body.size()) {
    value = v;
    return true;
  }
  // Beyond the range of doubles, either way: the extended value tells which.
  long double wide;
  if (!ExtendedOfNormalText(body, wide)) return false;
  if (std::fabs(wide) < 1) {
    value = std::copysign(0.0, static_cast<double>(wide));
    return true;
  }
  if (!(std::fabs(wide) <= LargestWrittenReal)) return false;
  value = std::copysign(std::numeric_limits<double>::max(), static_cast<double>(wide));
  return true;
}

bool TryStrToFloat(std::string_view text, double& value) {
  return TryStrToFloat(text, value, DecimalSeparator);
}

long double StrToFloat(std::string_view text) {
  long double v;
  if (!TryStrToFloat(text, v, DecimalSeparator))
    throw EConvertError(Format("'%s' is not a valid floating point value", text));
  return v;
}

double StrToFloatDef(std::string_view text, double fallback) {
  double v;
  return TryStrToFloat(text, v) ? v : fallback;
}

bool TryStrToFloatAnySeparator(std::string_view text, double& value) {
  return TryStrToFloat(text, value, '.') || TryStrToFloat(text, value, ',');
}

double StrToFloatDefAnySeparator(std::string_view text, double fallback) {
  double v;
  return TryStrToFloatAnySeparator(text, v) ? v : fallback;
}

bool TryStrToInt(std::string_view text, int64_t& value) {
  text = TrimView(text);
  if (text.empty()) return false;
  size_t i = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  }
  if (i >= text.size()) return false;
  uint64_t v = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    if (v > (UINT64_MAX - d) / base) return false;
    v = v * base + d;
  }
  if (negative) {
    if (v > static_cast<uint64_t>(INT64_MAX) + 1) return false;
    value = static_cast<int64_t>(0 - v);
  } else {
    if (v > static_cast<uint64_t>(INT64_MAX)) return false;
    value = static_cast<int64_t>(v);
  }
  return true;
}

int32_t StrToInt(std::string_view text) {
  int64_t v;
  if (!TryStrToInt(text, v) || v < INT32_MIN || v > INT32_MAX)
    throw EConvertError(Format("'%s' is not a valid integer value", text));
  return static_cast<int32_t>(v);
}

int32_t StrToIntDef(std::string_view text, int32_t fallback) {
  int64_t v;
  if (!TryStrToInt(text, v) || v < INT32_MIN || v > INT32_MAX) return fallback;
  return static_cast<int32_t>(v);
}

std::string Trim(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return std::string(text);
}

std::string UpperCase(std::string_view text) {
  std::string s(text);
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string LowerCase(std::string_view text) {
  std::string s(text);
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool SameText(std::string_view a, std::string_view b) { return UpperCase(a) == UpperCase(b); }

// ---------------------------------------------------------------- Format

namespace {

[[noreturn]] void FormatError(std::string_view format) {
  throw EConvertError(Format("Format '%s' invalid or incompatible with argument", std::string(format)));
}

std::string IntegerText(const FormatArg& arg, int precision, std::string_view format) {
  std::string digits;
  bool negative = false;
  if (arg.Kind() == FormatArg::tKind::Integer) {
    const int64_t v = arg.Integer();
    negative = v < 0;
    digits = std::to_string(negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v));
  } else if (arg.Kind() == FormatArg::tKind::Unsigned) {
    digits = std::to_string(arg.Unsigned());
  } else {
    FormatError(format);
  }
  if (precision > 0 && static_cast<int>(digits.size()) < precision) digits.insert(0, precision - digits.size(), '0');
  return negative ? "-" + digits : digits;
}

long double FloatOf(const FormatArg& arg, std::string_view format) {
  switch (arg.Kind()) {
    case FormatArg::tKind::Float: return arg.Float();
    case FormatArg::tKind::Integer: return static_cast<long double>(arg.Integer());
    case FormatArg::tKind::Unsigned: return static_cast<long double>(arg.Unsigned());
    default: FormatError(format);
  }
}

}  // namespace

std::string FormatList(std::string_view format, std::initializer_list<FormatArg> args) {
  const FormatArg* argv = args.begin();
  const size_t argc = args.size();
  size_t next = 0;
  std::string out;
  out.reserve(format.size() + 16);

  auto takeArg = [&](std::string_view specifier) -> const FormatArg& {
    if (next >= argc) throw EConvertError(Format("No argument for format '%s'", std::string(specifier)));
    return argv[next++];
  };

  size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    const size_t start = i++;
    if (i < format.size() && format[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    auto readNumber = [&](int& value, bool& present) {
      present = false;
      if (i < format.size() && format[i] == '*') {
        ++i;
        present = true;
        const FormatArg& a = takeArg(format.substr(start, i - start));
        if (a.Kind() == FormatArg::tKind::Integer)
          value = static_cast<int>(a.Integer());
        else if (a.Kind() == FormatArg::tKind::Unsigned)
          value = static_cast<int>(a.Unsigned());
        else
          FormatError(format.substr(start, i - start));
        return;
      }
      value = 0;
      while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
        value = value * 10 + (format[i] - '0');
        present = true;
        ++i;
      }
    };

    // Optional argument index "n:".
    {
      const size_t save = i;
      int index;
      bool present;
      readNumber(index, present);
      if (present && i < format.size() && format[i] == ':') {
        next = static_cast<size_t>(index);
        ++i;
      } else {
        i = save;
        if (present && format[save] == '*') next--;  // the "*" was a width: read it again below
      }
    }
    bool leftJustify = false;
    if (i < format.size() && format[i] == '-') {
      leftJustify = true;
      ++i;
    }
    int width = 0;
    bool hasWidth;
    readNumber(width, hasWidth);
    if (width < 0) {
      leftJustify = true;
      width = -width;
    }
    int precision = -1;
    if (i < format.size() && format[i] == '.') {
      ++i;
      bool hasPrecision;
      readNumber(precision, hasPrecision);
      if (!hasPrecision) precision = 0;
    }
    if (i >= format.size()) FormatError(format.substr(start));
    const char type = static_cast<char>(std::tolower(static_cast<unsigned char>(format[i++])));
    const std::string_view specifier = format.substr(start, i - start);
    const FormatArg& arg = takeArg(specifier);

    std::string text;
    switch (type) {
      case 'd':
        text = IntegerText(arg, precision, specifier);
        break;
      case 'u': {
        if (arg.Kind() == FormatArg::tKind::Integer)
          text = IntegerText(FormatArg(static_cast<uint32_t>(arg.Integer())), precision, specifier);
        else
          text = IntegerText(arg, precision, specifier);
        break;
      }
      case 'x': {
        uint64_t v;
        if (arg.Kind() == FormatArg::tKind::Integer) {
          const int64_t s = arg.Integer();
          v = (s >= INT32_MIN && s <= INT32_MAX) ? static_cast<uint32_t>(s) : static_cast<uint64_t>(s);
        } else if (arg.Kind() == FormatArg::tKind::Unsigned) {
          v = arg.Unsigned();
        } else {
          FormatError(specifier);
        }
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%llX", static_cast<unsigned long long>(v));
        text = buffer;
        if (precision > 0 && static_cast<int>(text.size()) < precision) text.insert(0, precision - text.size(), '0');
        break;
      }
      case 'e':
        text = FloatToStrF(FloatOf(arg, specifier), tFloatFormat::ffExponent, precision < 0 ? 15 : precision, 3);
        break;
      case 'f':
        text = FloatToStrF(FloatOf(arg, specifier), tFloatFormat::ffFixed, precision < 0 ? 2 : precision, 0);
        break;
      case 'n':
        text = FloatToStrF(FloatOf(arg, specifier), tFloatFormat::ffNumber, precision < 0 ? 2 : precision, 0);
        break;
      case 'g':
        // An empty precision ("%.g") behaves as the default: the shortest form
        // with 15 significant digits.
        text = FloatToStrF(FloatOf(arg, specifier), tFloatFormat::ffGeneral, precision <= 0 ? 15 : precision, 0);
        break;
      case 's':
        if (arg.Kind() != FormatArg::tKind::String) FormatError(specifier);
        text = std::string(arg.String());
        if (precision >= 0 && static_cast<int>(text.size()) > precision) text.resize(precision);
        break;
      case 'p': {
        if (arg.Kind() != FormatArg::tKind::Pointer) FormatError(specifier);
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%016llX",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(arg.Pointer())));
        text = buffer;
        break;
      }
      default:
        FormatError(specifier);
    }
    if (hasWidth && static_cast<int>(text.size()) < width) {
      if (leftJustify)
        text.append(width - text.size(), ' ');
      else
        text.insert(0, width - text.size(), ' ');
    }
    out += text;
  }
  return out;
}

// ---------------------------------------------------------------- colour generator

namespace {
constexpr uint32_t RandMultiplier = 134775813u;
}  // namespace

uint32_t RandSeed = 0;

double RandomFrom(uint32_t& seed) {
  seed = seed * RandMultiplier + 1u;
  return seed * (1.0 / 4294967296.0);
}

double Random() { return RandomFrom(RandSeed); }

int32_t Random(int32_t range) {
  RandSeed = RandSeed * RandMultiplier + 1u;
  if (range <= 0) return 0;
  return static_cast<int32_t>((static_cast<uint64_t>(RandSeed) * static_cast<uint64_t>(range)) >> 32);
}

uint32_t RandSeedAfter(uint32_t Seed, uint64_t Draws) {
  // n steps of x -> a x + 1 make one affine map x -> A x + C, composed by squaring.
  uint32_t a = RandMultiplier, c = 1u, resultA = 1u, resultC = 0u;
  for (; Draws > 0; Draws >>= 1) {
    if (Draws & 1u) {
      resultA = a * resultA;
      resultC = a * resultC + c;
    }
    c = a * c + c;
    a = a * a;
  }
  return resultA * Seed + resultC;
}

// ---------------------------------------------------------------- file names

namespace {
bool IsDelimiter(char c) { return c == '/' || c == '\\'; }
}  // namespace

std::string ExtractFileName(std::string_view path) {
  size_t i = path.size();
  while (i > 0 && !IsDelimiter(path[i - 1])) --i;
  return std::string(path.substr(i));
}

std::string ExtractFilePath(std::string_view path) {
  size_t i = path.size();
  while (i > 0 && !IsDelimiter(path[i - 1])) --i;
  return std::string(path.substr(0, i));
}

std::string ExtractFileExt(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsDelimiter(path[i - 1])) break;
    if (path[i - 1] == '.') return std::string(path.substr(i - 1));
  }
  return {};
}

std::string ChangeFileExt(std::string_view path, std::string_view extension) {
  size_t cut = path.size();
  for (size_t i = path.size(); i > 0; --i) {
    if (IsDelimiter(path[i - 1])) break;
    if (path[i - 1] == '.') {
      cut = i - 1;
      break;
    }
  }
  return std::string(path.substr(0, cut)) + std::string(extension);
}

std::string IncludeTrailingPathDelimiter(std::string_view path) {
  std::string s(path);
  if (s.empty() || !IsDelimiter(s.back())) s += '/';
  return s;
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

bool EntryExists(const std::string& name) {
  struct stat status;
  return ::lstat(name.c_str(), &status) == 0;
}

std::string SystemReason(int error) { return std::strerror(error); }

int CreateNewFile(const std::string& fileName, const std::string& shownName) {
  const int handle = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (handle < 0 && errno != EEXIST)
    throw EInOutError(Format("Cannot create file \"%s\": %s", shownName, SystemReason()));
  return handle;
}

// ---------------------------------------------------------------- safe files

tSafeOutFile::tSafeOutFile(const std::string& fileName, bool binary)
    : fFileName(fileName), fTempName(fileName + ".~" + std::to_string(::getpid()) + ".tmp") {
  fStream.open(fTempName, std::ios::out | std::ios::trunc | (binary ? std::ios::binary : std::ios::openmode{}));
  if (!fStream) throw EInOutError(Format("Cannot create file \"%s\"", fileName));
}

tSafeOutFile::~tSafeOutFile() {
  if (!fCommitted) {
    fStream.close();
    std::remove(fTempName.c_str());
  }
}

void tSafeOutFile::Commit() {
  fStream.flush();
  const bool good = static_cast<bool>(fStream);
  fStream.close();
  if (!good || fStream.fail()) {
    std::remove(fTempName.c_str());
    fCommitted = true;
    throw EInOutError(Format("Error writing file \"%s\"", fFileName));
  }
  if (std::rename(fTempName.c_str(), fFileName.c_str()) != 0) {
    std::remove(fTempName.c_str());
    fCommitted = true;
    throw EInOutError(Format("Cannot replace file \"%s\"", fFileName));
  }
  fCommitted = true;
}

void SaveTextToFile(const std::string& fileName, std::string_view text) {
  tSafeOutFile file(fileName, true);
  file.Stream().write(text.data(), static_cast<std::streamsize>(text.size()));
  file.Commit();
}

void RaiseNotEnoughMemory(const std::string& fileName) {
  throw EInOutError(Format("Not enough memory to read file \"%s\"", fileName));
}

std::string LoadTextFromFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  // A folder opens as a stream that reads nothing: it is not a file to load.
  if (!in || !FileExists(fileName)) throw EInOutError(Format("Cannot open file \"%s\"", fileName));
  std::string text = WithinMemory(fileName, [&] {
    // Sized once from the file, then read in pieces: a file that changes while it
    // is read is taken as far as it goes.
    std::string read;
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(fileName, error);
    if (!error) {
      if (!MemoryAvailable(size)) RaiseNotEnoughMemory(fileName);
      read.reserve(static_cast<size_t>(size) + 1);
    }
    constexpr size_t Piece = size_t(1) << 20;
    while (in) {
      const size_t at = read.size(), room = read.capacity() - at;
      const size_t piece = room > 0 ? std::min(room, Piece) : Piece;
      read.resize(at + piece);
      in.read(read.data() + at, static_cast<std::streamsize>(piece));
      read.resize(at + static_cast<size_t>(in.gcount()));
    }
    return read;
  });
  if (in.bad()) throw EInOutError(Format("Error reading file \"%s\"", fileName));
  return text;
}

namespace {
tSteadyClock gSteadyClock = nullptr;
}

double SteadyNow() {
  const int64_t nanoseconds = gSteadyClock ? gSteadyClock()
                                           : std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                 std::chrono::steady_clock::now().time_since_epoch())
                                                 .count();
  return static_cast<double>(nanoseconds) / 86'400e9;
}

void SetSteadyClock(tSteadyClock clock) {
  gSteadyClock = clock;
}

double Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  const auto sinceSecond = now - std::chrono::system_clock::from_time_t(seconds);
  const double milliseconds = std::chrono::duration<double, std::milli>(sinceSecond).count();
  // Days from 30 December 1899 to the local date, by the civil-from-days rule.
  const int y = local.tm_year + 1900 - (local.tm_mon < 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int m = local.tm_mon + 1;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + local.tm_mday - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long daysSince1970 = static_cast<long>(era) * 146097 + doe - 719468;
  const double dayFraction =
      (local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + milliseconds / 1000.0) / 86400.0;
  return static_cast<double>(daysSince1970 + 25569) + dayFraction;
}

}  // namespace utile
