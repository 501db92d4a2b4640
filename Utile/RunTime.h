// The run-time library layer: exceptions, number formatting and parsing, rounding,
// the colour generator, file names and safe file writing. Every text that the
// system writes with a format string goes through Format so that numbers look the
// same everywhere.
#pragma once

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <new>
#include <source_location>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

namespace utile {

// ---------------------------------------------------------------- exceptions

class Exception : public std::exception {
public:
  explicit Exception(std::string message) : fMessage(std::move(message)) {}
  const char* what() const noexcept override { return fMessage.c_str(); }
  const std::string& Message() const noexcept { return fMessage; }

private:
  std::string fMessage;
};

// A failed precondition: "text (source file, line n)".
class EAssertionFailed : public Exception {
  using Exception::Exception;
};
// Files that cannot be opened, read or written, and unreadable numbers in them.
class EInOutError : public Exception {
  using Exception::Exception;
};
// Text that is not a number, a format that does not fit its arguments.
class EConvertError : public Exception {
  using Exception::Exception;
};
// Numeric failures: base class and its kinds.
class EMathError : public Exception {
  using Exception::Exception;
};
class EInvalidArgument : public EMathError {
  using EMathError::EMathError;
};
class EZeroDivide : public EMathError {
  using EMathError::EMathError;
};
class EInvalidOp : public EMathError {
  using EMathError::EMathError;
};
class EOverflow : public EMathError {
  using EMathError::EMathError;
};
class ERangeError : public EMathError {
  using EMathError::EMathError;
};
// An operation that the object's state does not allow.
class EInvalidOperation : public Exception {
  using Exception::Exception;
};
// A virtual operation that the class does not provide.
class EAbstractError : public Exception {
  using Exception::Exception;
};

[[noreturn]] void RaiseAssertion(const char* text, const std::source_location& where);

// A precondition: raises EAssertionFailed with "text (file, line n)".
inline void Assert(bool condition, const char* text = "Assertion failure",
                   const std::source_location where = std::source_location::current()) {
  if (!condition) [[unlikely]]
    RaiseAssertion(text, where);
}

// --------------------------------------------------------- checked arithmetic
// Floating-point traps stay off; these raise where an unmasked operation would.

double FloatDiv(double numerator, double denominator);  // EZeroDivide on 0
double FloatLn(double x);                               // EZeroDivide on 0, EInvalidOp below
double FloatSqrt(double x);                             // EInvalidOp below 0
double FloatExp(double x);                              // EOverflow when the result is infinite
double CheckFinite(double x, const char* what = nullptr);  // EInvalidOp on NaN, EOverflow on infinity
[[noreturn]] void RaiseZeroDivide();
[[noreturn]] void RaiseInvalidOp();
[[noreturn]] void RaiseOverflow();

// --------------------------------------------------------- rounding

// Nearest integer, halves to the even neighbour; EInvalidOp when out of range or NaN.
int64_t Round(long double x);
// Toward zero; EInvalidOp when out of range or NaN.
int64_t Trunc(long double x);
// Round, then stored in 32 bits; ERangeError when it does not fit.
int32_t RoundToInteger(long double x);
// X rounded to the nearest multiple of 10^Digit, halves to the even neighbour:
// RoundTo(1234567, 3) = 1235000, RoundTo(0.125, -2) = 0.12. ERangeError for a
// Digit outside -37..37, EInvalidOp for an infinite X or one that is not a number.
long double RoundTo(long double x, int digit);

// --------------------------------------------------------- numbers and text

// The process-wide decimal and thousand separators used by Format and the
// text-to-number conversions. The programs keep the point, so that the numbers of
// their files and windows read the same in every locale. No conversion here goes
// through the C library's locale.
extern char DecimalSeparator;
extern char ThousandSeparator;

// The decimal separator of the user's locale: raster documentation files write their
// numbers with it. The point until a program takes it from the environment.
extern char UserDecimalSeparator;
// The decimal separator of the locale that the environment names for numbers
// (LC_ALL, LC_NUMERIC, LANG): the point or the comma (any other counts as the point).
char EnvironmentDecimalSeparator();
// Once the application object exists (the window library has set the C library's
// locale from the environment): UserDecimalSeparator from the environment, and the
// C library's numeric conventions back to those of "C", for every library the
// program uses.
void TakeUserNumericLocale();

enum class tFloatFormat { ffGeneral, ffExponent, ffFixed, ffNumber };

// Precision: significant digits (general, exponent) or decimals (fixed, number).
// Digits: minimum exponent digits (general, exponent).
std::string FloatToStrF(long double value, tFloatFormat format, int precision, int digits);
// The same with the given decimal separator.
std::string FloatToStrF(long double value, tFloatFormat format, int precision, int digits,
                        char decimalSeparator);
// Shortest general form with 15 significant digits: "0.25", "1E-7", "1.5E20".
std::string FloatToStr(long double value);
// The default real form of text files: 23 characters, " 1.00000000000000E+0000".
std::string FloatToDefaultStr(long double value);
// The same form of a double or a single written into `out` (23 characters, no
// terminator), character for character as FloatToDefaultStr writes it: the path
// of files that write millions of reals. Returns out + 23.
char* DoubleToDefaultChars(double value, char* out);
char* SingleToDefaultChars(float value, char* out);
std::string IntToStr(int64_t value);

// The largest double (1.7976931348623157E308) rounded to the 15 significant
// digits of the forms above: 1.79769313486232E+0308. A text up to it reads as the
// largest double, so that every real the system writes reads back.
constexpr long double LargestWrittenReal = 1.79769313486232e308L;

// Strict conversions with the current decimal separator: leading and trailing
// blanks allowed, nothing else. EConvertError names the text. A double is the
// nearest one to the text (ties to even); a text below the smallest double reads
// as 0, one beyond LargestWrittenReal does not read. An extended real likewise,
// within the range of extended reals.
bool TryStrToFloat(std::string_view text, long double& value, char decimalSeparator);
bool TryStrToFloat(std::string_view text, double& value, char decimalSeparator);
bool TryStrToFloat(std::string_view text, double& value);
long double StrToFloat(std::string_view text);
double StrToFloatDef(std::string_view text, double fallback);
// Either decimal separator is accepted (the point and the comma).
bool TryStrToFloatAnySeparator(std::string_view text, double& value);
double StrToFloatDefAnySeparator(std::string_view text, double fallback);
bool TryStrToInt(std::string_view text, int64_t& value);
int32_t StrToInt(std::string_view text);
int32_t StrToIntDef(std::string_view text, int32_t fallback);

std::string Trim(std::string_view text);
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);

// ---------------------------------------------------------------- Format

class FormatArg {
public:
  enum class tKind { Integer, Unsigned, Float, String, Pointer };

  template <class T>
    requires(std::is_integral_v<T> && std::is_signed_v<T>)
  FormatArg(T v) : fKind(tKind::Integer), fInteger(v) {}
  template <class T>
    requires(std::is_integral_v<T> && std::is_unsigned_v<T> && !std::is_same_v<T, bool>)
  FormatArg(T v) : fKind(tKind::Unsigned), fUnsigned(v) {}
  FormatArg(bool v) : fKind(tKind::Integer), fInteger(v ? 1 : 0) {}
  FormatArg(float v) : fKind(tKind::Float), fFloat(v) {}
  FormatArg(double v) : fKind(tKind::Float), fFloat(v) {}
  FormatArg(long double v) : fKind(tKind::Float), fFloat(v) {}
  FormatArg(const char* v) : fKind(tKind::String), fString(v) {}
  FormatArg(const std::string& v) : fKind(tKind::String), fString(v) {}
  FormatArg(std::string_view v) : fKind(tKind::String), fString(v) {}
  FormatArg(const void* v) : fKind(tKind::Pointer), fPointer(v) {}

  tKind Kind() const { return fKind; }
  int64_t Integer() const { return fInteger; }
  uint64_t Unsigned() const { return fUnsigned; }
  long double Float() const { return fFloat; }
  std::string_view String() const { return fString; }
  const void* Pointer() const { return fPointer; }

private:
  tKind fKind;
  union {
    int64_t fInteger;
    uint64_t fUnsigned;
    long double fFloat;
    const void* fPointer;
  };
  std::string_view fString;
};

// Specifiers: "%" [index ":"] ["-"] [width] ["." precision] type, with "*" for
// width or precision taken from the arguments and "%%" for a percent sign.
// d (precision = minimum digits), u, x, e (15 digits), f (2 decimals),
// g (15 significant digits, shortest form), n (f with thousand separators), s, p.
std::string FormatList(std::string_view format, std::initializer_list<FormatArg> args);

template <class... Args>
std::string Format(std::string_view format, const Args&... args) {
  return FormatList(format, {FormatArg(args)...});
}

// ------------------------------------------------- the colour generator
// The 32-bit linear congruential generator that random colours come from:
// seed := seed x 134775813 + 1 (mod 2^32), value seed / 2^32.
extern uint32_t RandSeed;
double Random();  // RandomFrom(RandSeed)
// The next value of the generator whose seed is Seed, which moves on.
double RandomFrom(uint32_t& seed);
// The seed after Draws draws from Seed, without drawing.
uint32_t RandSeedAfter(uint32_t Seed, uint64_t Draws);
// An integer in 0..range-1 (0 for a range of 0 or less).
int32_t Random(int32_t range);

// ------------------------------------------------- file names and files

std::string ExtractFileName(std::string_view path);   // after the last delimiter
std::string ExtractFilePath(std::string_view path);   // up to and including it
std::string ExtractFileExt(std::string_view path);    // from the last dot of the name, dot included
std::string ChangeFileExt(std::string_view path, std::string_view extension);
std::string IncludeTrailingPathDelimiter(std::string_view path);
bool FileExists(const std::string& path);
// Anything at all under that name: a file, a folder, a link (even a broken one).
bool EntryExists(const std::string& name);
// The system's text for an error number, by default that of the last failure.
std::string SystemReason(int error = errno);
// Creates a file of that name that did not exist yet, open for writing: its handle,
// or -1 when a file of that name exists already. Any other failure raises
// EInOutError "Cannot create file \"shownName\": reason".
int CreateNewFile(const std::string& fileName, const std::string& shownName);

// Writes to a temporary name beside the target and renames it over the target
// only on Commit, so that a failure never leaves a half-written file in place of
// a good one. Without Commit the temporary file is removed.
class tSafeOutFile {
public:
  explicit tSafeOutFile(const std::string& fileName, bool binary = false);
  ~tSafeOutFile();
  tSafeOutFile(const tSafeOutFile&) = delete;
  tSafeOutFile& operator=(const tSafeOutFile&) = delete;

  std::ofstream& Stream() { return fStream; }
  // Flushes, checks the stream and renames; EInOutError names the file on failure.
  void Commit();

private:
  std::string fFileName;
  std::string fTempName;
  std::ofstream fStream;
  bool fCommitted = false;
};

// Runs a reader of the file named: a file too large for the memory left is
// refused with EInOutError naming it, never with the library's own exception.
[[noreturn]] void RaiseNotEnoughMemory(const std::string& fileName);
template <class tRead>
decltype(auto) WithinMemory(const std::string& fileName, tRead&& read) {
  try {
    return read();
  } catch (const std::bad_alloc&) {
    RaiseNotEnoughMemory(fileName);
  } catch (const std::length_error&) {
    RaiseNotEnoughMemory(fileName);
  }
}

// Whole text file in one piece, written through tSafeOutFile.
void SaveTextToFile(const std::string& fileName, std::string_view text);
// Whole file; EInOutError naming the file when it cannot be read.
std::string LoadTextFromFile(const std::string& fileName);

// Date and time as a day count from 30 December 1899, fraction for the time of day.
double Now();

// Elapsed times are read on a steady clock, which neither follows the wall clock
// when it is set nor jumps at a change of daylight-saving time: days (the unit of
// durations, DurationToStr) from an arbitrary origin.
double SteadyNow();
// The clock SteadyNow reads, in nanoseconds from any origin; nullptr puts the
// system's steady clock back (tests drive their own).
using tSteadyClock = int64_t (*)();
void SetSteadyClock(tSteadyClock clock);

}  // namespace utile
