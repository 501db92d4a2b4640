#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <filesystem>
#include <limits>
#include <random>

#include "TestSupport/Measurement.h"
#include "TestSupport/NumericLocale.h"
#include "TestSupport/PrintfRealForm.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/RunTime.h"

using namespace utile;

namespace {

struct tFormatCase {
  std::string Expected;
  std::string Actual;
};

TEST(RunTimeFormat, GeneralFormShortestWithFifteenDigits) {
  const tFormatCase cases[] = {
      {"0.25", Format("%g", 0.25)},
      {"1E-7", Format("%g", 1e-7)},
      {"1.5E20", Format("%g", 1.5e20)},
      {"-1.5E-20", Format("%g", -1.5e-20)},
      {"123456789012345", Format("%g", 123456789012345.0)},
      {"1E15", Format("%g", 1e15)},
      {"0.0001", Format("%g", 0.0001)},
      {"1E-5", Format("%g", 0.00001)},
      {"0.333333333333333", Format("%g", 1.0 / 3.0)},
      {"0", Format("%g", 0.0)},
      {"100", Format("%g", 100.0)},
      {"-3", Format("%g", -3)},
      {"0.3", Format("%.g", 0.8 - 0.5)},
      {"0.667", Format("%.3g", 2.0 / 3.0)},
      {"1.23E3", Format("%.3g", 1234.5)},
      {"1.1", Format("%.2g", 1.15)},  // 1.15 is stored just below 1.15
      {"     3.142", Format("%10.4g", 3.14159265)},
      {"NAN", Format("%g", std::numeric_limits<double>::quiet_NaN())},
      {"-INF", Format("%g", -std::numeric_limits<double>::infinity())},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Expected, c.Actual);
}

TEST(RunTimeFormat, IntegersFixedNumberAndExponentForms) {
  const tFormatCase cases[] = {
      {"05", Format("%.2d", 5)},
      {"-007", Format("%.3d", -7)},
      {"12", Format("%.d", 12)},
      {"0", Format("%.d", 0)},
      {"4294967295", Format("%d", 4294967295u)},
      {"  42", Format("%4d", 42)},
      {"42  |", Format("%-4d|", 42)},
      {"FF", Format("%x", 255)},
      {"2.50", Format("%f", 2.5)},
      {"3.14", Format("%.*f", 2, 3.14159)},
      {"10", Format("%.f", 10.4)},
      {"-0.50", Format("%.2f", -0.5)},
      {"0.00", Format("%.2f", -0.001)},
      {"1,234,567", Format("%.0n", 1234567.0)},
      {"1,000", Format("%.0n", 999.5)},  // halves go to the even neighbour
      {"-12,345.68", Format("%n", -12345.678)},
      {"1.00000000000000E+000", Format("%e", 1.0)},
      {"-2.5000E-003", Format("%.5e", -0.0025)},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Expected, c.Actual);
}

TEST(RunTimeFormat, StringsIndexesAndPercent) {
  EXPECT_EQ("b a", Format("%1:s %0:s", "a", "b"));
  EXPECT_EQ("|Maps (*.rst)|*.rst;", Format("|Maps (*%1:s)|*%1:s%0:s", ";", ".rst"));
  EXPECT_EQ("100%", Format("%d%%", 100));
  EXPECT_EQ("  ab|ab   |a", Format("%4s|%-5s|%.1s", "ab", "ab", "abc"));
  EXPECT_EQ("x (y, line 3)", Format("%s (%s, line %d)", std::string("x"), "y", 3));
}

TEST(RunTimeFormat, MismatchedOrMissingArgumentsRaise) {
  EXPECT_THROW(Format("%d", 1.5), EConvertError);
  EXPECT_THROW(Format("%s", 1), EConvertError);
  EXPECT_THROW(Format("%d %d", 1), EConvertError);
  EXPECT_THROW(Format("%q", 1), EConvertError);
  EXPECT_THROW(Format("abc %", 1), EConvertError);
}

TEST(RunTimeFormat, DecimalSeparatorIsHonoured) {
  DecimalSeparator = ',';
  const std::string general = Format("%g", 1.5);
  const std::string fixed = Format("%.1f", 2.25);
  DecimalSeparator = '.';
  EXPECT_EQ("1,5", general);
  EXPECT_EQ("2,3", fixed);  // 2.25 is exact: the half goes away from zero
}

TEST(RunTimeFormat, HalvesRoundAwayFromZeroUnlikeRound) {
  // Exact halves at the last digit kept go up in magnitude; values stored just
  // below a half (1.005, 1.15) go down.
  const tFormatCase cases[] = {
      {"3", Format("%.0f", 2.5)},
      {"1", Format("%.0f", 0.5)},
      {"-3", Format("%.0f", -2.5)},
      {"0", Format("%.0f", 0.49)},
      {"0.13", Format("%.2f", 0.125)},
      {"1.00", Format("%.2f", 1.005)},
      {"10", Format("%.0f", 9.5)},
      {"1,234,568", Format("%.0n", 1234567.5)},
      {"0.3", Format("%.1g", 0.25)},
      {"0.0313", Format("%.3g", 0.03125)},
      {"1E3", Format("%.3g", 999.5)},
      {"-1.3E+000", Format("%.2e", -1.25)},
      {"1.1", Format("%.2g", 1.15)},
      {"0.000", Format("%.3f", -0.0004)},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Expected, c.Actual);
  EXPECT_EQ(2, Round(2.5L));
}

TEST(RunTimeFormat, DefaultRealFormKeepsThePointWhateverTheSeparator) {
  DecimalSeparator = ',';
  const std::string text = FloatToDefaultStr(-2.5);
  const std::string general = Format("%g", -2.5);
  DecimalSeparator = '.';
  EXPECT_EQ("-2.50000000000000E+0000", text);
  EXPECT_EQ("-2,5", general);
}

TEST(RunTimeFormat, DefaultRealFormIsTwentyThreeCharacters) {
  EXPECT_EQ(" 1.00000000000000E+0000", FloatToDefaultStr(1.0));
  EXPECT_EQ(" 3.00000000000000E+0001", FloatToDefaultStr(30.0));
  EXPECT_EQ("-5.00000000000000E-0001", FloatToDefaultStr(-0.5));
  EXPECT_EQ(" 0.00000000000000E+0000", FloatToDefaultStr(0.0));
  EXPECT_EQ(" 1.23456789012346E+0300", FloatToDefaultStr(1.23456789012345678e300));
  EXPECT_EQ(23u, FloatToDefaultStr(std::numeric_limits<double>::quiet_NaN()).size());
}

TEST(RunTimeRounding, HalvesGoToTheEvenNeighbour) {
  const std::pair<long double, int64_t> cases[] = {{0.5L, 0},  {1.5L, 2},   {2.5L, 2},  {3.5L, 4},
                                                   {-0.5L, 0}, {-2.5L, -2}, {2.4L, 2},  {-2.6L, -3},
                                                   {1e15L, 1000000000000000}};
  for (auto [x, r] : cases) EXPECT_EQ(r, Round(x)) << static_cast<double>(x);
  EXPECT_EQ(-2, Trunc(-2.7L));
  EXPECT_EQ(2, Trunc(2.999L));
  EXPECT_THROW(Round(std::numeric_limits<double>::quiet_NaN()), EInvalidOp);
  EXPECT_THROW(Round(1e30L), EInvalidOp);
  EXPECT_THROW(Trunc(-1e30L), EInvalidOp);
  EXPECT_THROW(RoundToInteger(3e9L), ERangeError);
}

TEST(RunTimeRounding, RoundToNearestMultipleOfAPowerOfTen) {
  // Halves (exact in binary) go to the even multiple.
  const struct {
    long double X;
    int Digit;
    long double Expected;
  } cases[] = {{1234567, 3, 1235000}, {1250, 2, 1200},      {1350, 2, 1400},  {0.125L, -2, 0.12L},
               {0.375L, -2, 0.38L},   {-2.5L, 0, -2},       {1.61904L, -1, 1.6L}, {7, 1, 10},
               {4, 1, 0},             {1e20L, -10, 1e20L}};
  for (const auto& c : cases) EXPECT_EQ(c.Expected, RoundTo(c.X, c.Digit)) << static_cast<double>(c.X);
  EXPECT_THROW(RoundTo(1, 38), ERangeError);
  EXPECT_THROW(RoundTo(1, -38), ERangeError);
  EXPECT_THROW(RoundTo(std::numeric_limits<double>::infinity(), 0), EInvalidOp);
}

TEST(RunTimeConversion, TextToNumber) {
  EXPECT_DOUBLE_EQ(1.5, static_cast<double>(StrToFloat("1.5")));
  EXPECT_DOUBLE_EQ(2000.0, static_cast<double>(StrToFloat(" 2e3 ")));
  EXPECT_DOUBLE_EQ(-0.25, static_cast<double>(StrToFloat("-.25")));
  EXPECT_DOUBLE_EQ(1e-7, static_cast<double>(StrToFloat("1E-7")));
  EXPECT_THROW(StrToFloat("abc"), EConvertError);
  EXPECT_THROW(StrToFloat("1.5x"), EConvertError);
  EXPECT_THROW(StrToFloat("1,5"), EConvertError);
  EXPECT_THROW(StrToFloat(""), EConvertError);
  EXPECT_THROW(StrToFloat("e5"), EConvertError);
  double v = 0;
  EXPECT_TRUE(TryStrToFloatAnySeparator("1,5", v));
  EXPECT_DOUBLE_EQ(1.5, v);
  EXPECT_TRUE(TryStrToFloatAnySeparator("1.5", v));
  EXPECT_DOUBLE_EQ(1.5, v);
  EXPECT_FALSE(TryStrToFloatAnySeparator("1.5.2", v));
  EXPECT_DOUBLE_EQ(7.0, StrToFloatDef("x", 7.0));
  EXPECT_EQ(-42, StrToInt(" -42 "));
  EXPECT_EQ(255, StrToInt("$FF"));
  EXPECT_THROW(StrToInt("4.2"), EConvertError);
  EXPECT_THROW(StrToInt("3000000000"), EConvertError);
  EXPECT_EQ(9, StrToIntDef("nine", 9));
}

TEST(RunTimeErrors, AssertionNamesTheSourceFileAndLine) {
  int line = 0;
  try {
    line = __LINE__ + 1;
    Assert(false, "Values can't be negative");
    FAIL() << "no exception";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ("Values can't be negative (tests/Utile/RunTimeTest.cpp, line " + std::to_string(line) + ")",
              e.Message());
  }
  try {
    Assert(false);
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(0u, e.Message().find("Assertion failure ("));
  }
  EXPECT_NO_THROW(Assert(true, "never"));
}

TEST(RunTimeErrors, CheckedArithmeticRaisesWhereATrapWould) {
  EXPECT_THROW(FloatDiv(1, 0), EZeroDivide);
  EXPECT_THROW(FloatDiv(0, 0), EInvalidOp);
  EXPECT_THROW(FloatLn(0), EZeroDivide);
  EXPECT_THROW(FloatLn(-1), EInvalidOp);
  EXPECT_THROW(FloatSqrt(-1e-300), EInvalidOp);
  EXPECT_THROW(FloatExp(1000), EOverflow);
  EXPECT_THROW(CheckFinite(std::nan("")), EInvalidOp);
  EXPECT_DOUBLE_EQ(0.5, FloatDiv(1, 2));
  // Every math error is caught as the math-error class.
  EXPECT_THROW(FloatLn(-1), EMathError);
}

TEST(RunTimeColourGenerator, LinearCongruentialSequenceFromSeedZero) {
  RandSeed = 0;
  EXPECT_EQ(1.0 / 4294967296.0, Random());
  EXPECT_EQ(134775814.0 / 4294967296.0, Random());
  EXPECT_EQ(3698175007u, (RandSeed * 134775813u + 1u));
  RandSeed = 0;
  EXPECT_EQ(0, Random(10));
  Random();
  EXPECT_EQ(8, Random(10));  // 3698175007 x 10 / 2^32 = 8.61
}

TEST(RunTimeText, BytesAboveSevenBitsAreNeitherBlanksLettersNorDigits) {
  // Whether char is signed (x86) or not (aarch64): a byte above 127 (Latin-1 or
  // UTF-8 text, a stray byte of a damaged file) is kept by Trim, left by the case
  // changes and refused in a number.
  const struct {
    std::string Text, Trimmed, Upper, Lower;
  } texts[] = {
      {"\x85", "\x85", "\x85", "\x85"},  // NEL in Latin-1: no blank here
      {" \xA0x\xA0 ", "\xA0x\xA0", "\xA0X\xA0", "\xA0x\xA0"},
      {"\tm\xE8tres\r\n", "m\xE8tres", "M\xE8TRES", "m\xE8tres"},
      {"\xC3\xA9T\xC3\xA9 ", "\xC3\xA9T\xC3\xA9", "\xC3\xA9T\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
      {"\xFF", "\xFF", "\xFF", "\xFF"},
  };
  for (const auto& t : texts) {
    EXPECT_EQ(t.Trimmed, Trim(t.Text)) << t.Text;
    EXPECT_EQ(t.Upper, UpperCase(Trim(t.Text))) << t.Text;
    EXPECT_EQ(t.Lower, LowerCase(Trim(t.Text))) << t.Text;
  }
  EXPECT_FALSE(SameText("\xE9", "\xC9"));
  for (const std::string text : {"1\xB2", "\xB9", "\xA0" "42", "42\x85", "$F\xC6", "-\xB5"}) {
    int64_t i = 0;
    double d = 0;
    EXPECT_FALSE(TryStrToInt(text, i)) << text;
    EXPECT_FALSE(TryStrToFloat(text, d, '.')) << text;
    EXPECT_EQ(7, StrToIntDef(text, 7)) << text;
  }
}

TEST(RunTimeFiles, FileNamesSplitAtTheLastDelimiterAndDot) {
  EXPECT_EQ(".rst", ExtractFileExt("dir.x/run1.5.rst"));
  EXPECT_EQ("", ExtractFileExt("dir.x/run"));
  EXPECT_EQ("run1.5.rst", ExtractFileName("dir.x/run1.5.rst"));
  EXPECT_EQ("dir.x/", ExtractFilePath("dir.x/run1.5.rst"));
  EXPECT_EQ("dir.x/run1.5.rdc", ChangeFileExt("dir.x/run1.5.rst", ".rdc"));
  EXPECT_EQ("dir.x/run.rdc", ChangeFileExt("dir.x/run", ".rdc"));
  EXPECT_EQ("a/", IncludeTrailingPathDelimiter("a"));
  EXPECT_EQ("a/", IncludeTrailingPathDelimiter("a/"));
}

TEST(RunTimeFiles, SafeFileReplacesTheTargetOnlyWhenCommitted) {
  testsupport::tTempFolder folder;
  const std::string target = folder.File("result.txt");
  SaveTextToFile(target, "good\r\n");
  {
    tSafeOutFile file(target);
    file.Stream() << "half written";
  }  // abandoned without commit
  EXPECT_EQ("good\r\n", LoadTextFromFile(target));
  EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(folder.Path()), {}));
  EXPECT_THROW(LoadTextFromFile(folder.File("missing.txt")), EInOutError);
  EXPECT_THROW(LoadTextFromFile(folder.Path()), EInOutError);  // a folder is not a file
  EXPECT_THROW(SaveTextToFile(folder.File("no/such/folder.txt"), "x"), EInOutError);
}

TEST(RunTimeFormat, DefaultRealFormOfDoublesIsThePrintfOneOnEveryValue) {
  long checked = 0;
  const auto check = [&checked](double x) {
    ++checked;
    char text[24] = {};
    const std::string expected = testsupport::PrintfDefaultForm(x);
    const bool same =
        DoubleToDefaultChars(x, text) == text + 23 && expected == text && FloatToDefaultStr(x) == expected;
    if (!same) ADD_FAILURE() << std::hexfloat << x << ": " << text << " in place of " << expected;
    return same;
  };
  const long scale = testsupport::UnderSanitizers ? 4 : 1;
  constexpr double Infinity = std::numeric_limits<double>::infinity();
  std::mt19937_64 generator(30);
  // Random bit patterns reach every exponent, the subnormals and the specials.
  for (long i = 0; i < 1'000'000 / scale; ++i)
    if (!check(std::bit_cast<double>(generator()))) return;
  std::uniform_real_distribution<double> unit(-1, 1);
  for (long i = 0; i < 500'000 / scale; ++i)
    if (!check(unit(generator) * std::pow(10.0, static_cast<int>(generator() % 80) - 40))) return;
  // Both sides of every power of ten.
  for (int k = -323; k <= 308; ++k) {
    const double power = testsupport::CLibraryNumber("1e" + std::to_string(k));
    double below = power, above = power;
    for (int step = 0; step < 4;
         ++step, below = std::nextafter(below, 0.0), above = std::nextafter(above, Infinity))
      for (const double x : {below, above, -below, -above})
        if (!check(x)) return;
  }
  // Fifteen digits and a fraction at or near the half where the last digit rounds
  // up (0.4995 of a unit in the fifteenth digit), and at ties of the eighteenth.
  for (long i = 0; i < 50'000 / scale; ++i) {
    const uint64_t digits = 100'000'000'000'000ull + generator() % 900'000'000'000'000ull;
    const int exponent = static_cast<int>(generator() % 80) - 40;
    for (const char* tail : {"4995", "5", "49949999999", "4995000001", "49999999", "0"}) {
      const std::string text = std::to_string(digits) + tail + "e" + std::to_string(exponent);
      const double x = testsupport::CLibraryNumber(text);
      for (const double y : {x, std::nextafter(x, 0.0), std::nextafter(x, Infinity)})
        if (!check(y)) return;
    }
  }
  for (const double x :
       {0.0, -0.0, std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::min(), 999999999999999.5, 0.1, 30.0})
    if (!check(x)) return;
  EXPECT_GT(checked, 2'000'000 / scale);
}

// A text, the decimal separator it is read with, whether it reads and the value it reads as.
template <class tReal>
struct tReadCase {
  const char* Text;
  char Separator;
  bool Reads;
  tReal Value;
};

TEST(RunTimeConversion, DoublesAreTheNearestToTheTextAndTheLargestWrittenRealReadsBack) {
  const double largest = std::numeric_limits<double>::max();
  using tCase = tReadCase<double>;
  // clang-format off
  const tCase cases[] = {
      // 2^53 + 1 and a little more: above the half-way point, so up to 2^53 + 2
      // (through an 80-bit real the little more is lost and the tie goes down).
      {"9007199254740993.0000000001", '.', true, 9007199254740994.0},
      {"9007199254740993", '.', true, 9007199254740992.0},                // a tie: to even
      {"0.1", '.', true, 0.1},                       {"+2,5e-1", ',', true, 0.25},
      {"1.7976931348623157e308", '.', true, largest}, {"1.79769313486232E+0308", '.', true, largest},
      {"-1.79769313486232E308", '.', true, -largest}, {"1,79769313486232E308", ',', true, largest},
      {"1.79769313486233E+0308", '.', false, 0},      {"1e309", '.', false, 0},
      {"1e-400", '.', true, 0.0},                     {"4.9406564584124654e-324", '.', true, 4.9406564584124654e-324},
      {"1.5", ',', false, 0},                         {"inf", '.', false, 0},
      {"1e", '.', false, 0},                          {" 7 ", '.', true, 7}};
  // clang-format on
  for (const tCase& c : cases) {
    double value = -1;
    EXPECT_EQ(TryStrToFloat(c.Text, value, c.Separator), c.Reads) << c.Text;
    if (c.Reads) {
      EXPECT_EQ(value, c.Value) << c.Text;
    }
    double any = -1;
    EXPECT_EQ(TryStrToFloatAnySeparator(c.Text, any), c.Reads || c.Separator == ',') << c.Text;
  }
  double negativeZero = 1;
  ASSERT_TRUE(TryStrToFloat("-1e-400", negativeZero, '.'));
  EXPECT_TRUE(std::signbit(negativeZero));
  // What the forms write reads back as the value written.
  for (const double x : {largest, -largest, 0.1, 1.0 / 3, 6.02214076e23, 5e-324}) {
    double back = 0;
    ASSERT_TRUE(TryStrToFloat(FloatToDefaultStr(x), back, '.'));
    EXPECT_EQ(FloatToDefaultStr(back), FloatToDefaultStr(x));
    ASSERT_TRUE(TryStrToFloatAnySeparator(FloatToStr(x), back));
    EXPECT_EQ(FloatToStr(back), FloatToStr(x));
  }
}

// LC_NUMERIC of a user whose decimal separator is the comma, as the window library
// sets it: the same values and texts as under "C".
TEST(RunTimeConversion, NumbersReadAndWriteAlikeUnderEveryLocale) {
  const double largest = std::numeric_limits<double>::max();
  // clang-format off
  const tReadCase<double> doubles[] = {
      {"0.1", '.', true, 0.1},                         {"-2,5", ',', true, -2.5},
      {"+2.5e-1", '.', true, 0.25},                    {"1.5", ',', false, 0},
      {"1.79769313486232E+0308", '.', true, largest},  {"-1,79769313486232E308", ',', true, -largest},
      {"1.5e400", '.', false, 0},                      {"-1.5e400", '.', false, 0},
      {"1e99999999999999999999", '.', false, 0},        {"123456.7e-99999999999999", '.', true, 0},
      {"1e-400", '.', true, 0},
      {"4.9406564584124654e-324", '.', true, std::numeric_limits<double>::denorm_min()}};
  const tReadCase<long double> extended[] = {
      {"0.1", '.', true, 1.0L / 10},                   {"0,1", ',', true, 1.0L / 10},
      {"-12345678901234567890e-30", '.', true, -12345678901234567890e-30L},
      {"1.5e400", '.', true, 1.5e400L},                {"1e5000", '.', false, 0},
      {"0.00001e-4940", '.', true, 0},                 {"1.5", ',', false, 0}};
  // clang-format on
  for (const std::string& name : testsupport::NumericLocales()) {
    const testsupport::tNumericLocale locale(name);
    ASSERT_TRUE(locale.Active()) << testsupport::tNumericLocale::Missing(name);
    SCOPED_TRACE(name);
    const auto check = [](const auto& cases) {
      for (const auto& c : cases) {
        decltype(c.Value) value = -1;
        EXPECT_EQ(TryStrToFloat(c.Text, value, c.Separator), c.Reads) << c.Text;
        if (c.Reads) {
          EXPECT_EQ(value, c.Value) << c.Text;
        }
      }
    };
    check(doubles);
    check(extended);
    double zero = 1;
    long double extendedZero = 1;
    ASSERT_TRUE(TryStrToFloat("-1e-400", zero, '.') && TryStrToFloat("-1e-5000", extendedZero, '.'));
    EXPECT_TRUE(std::signbit(zero) && std::signbit(extendedZero));
    const tFormatCase written[] = {
        {"0.5", Format("%g", 0.5)},
        {"-2.50", Format("%.2f", -2.5)},
        {"1,234,567.50", Format("%n", 1234567.5)},
        {"1.00000000000000E-001", Format("%e", 0.1)},
        {"1234.5", FloatToStr(1234.5)},
        {" 1.00000000000000E-0001", FloatToDefaultStr(0.1)},
        {"-1.79769313486232E+0308", FloatToDefaultStr(-largest)},
        {" 2.50000000000000E-4000", FloatToDefaultStr(2.5e-4000L)},  // beyond a double
        {"1,5", FloatToStrF(1.5, tFloatFormat::ffGeneral, 15, 0, ',')},
    };
    for (const auto& c : written) EXPECT_EQ(c.Expected, c.Actual);
    EXPECT_EQ(1.5, StrToFloatDef(" 1.5 ", 0));
  }
}

TEST(RunTimeLocale, TheUserSeparatorComesFromTheEnvironmentAndLcNumericGoesBackToC) {
  const struct {
    const char* Environment;
    char Separator;
  } cases[] = {{"fr_FR.UTF-8", ','}, {"de_DE.UTF-8", ','}, {"C", '.'}, {"no_SUCH.locale", '.'}};
  const char saved = UserDecimalSeparator;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Environment);
    const testsupport::tEnvironmentLocale environment(c.Environment);
    // The program starts under the user's locale, as the window library leaves it.
    const testsupport::tNumericLocale user(c.Separator == ',' ? c.Environment : "C");
    ASSERT_TRUE(user.Active()) << testsupport::tNumericLocale::Missing(c.Environment);
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    EXPECT_EQ(EnvironmentDecimalSeparator(), c.Separator);
    EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), before);  // asking leaves it alone
    TakeUserNumericLocale();
    EXPECT_EQ(UserDecimalSeparator, c.Separator);
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    EXPECT_EQ(testsupport::tNumericLocale::DecimalPoint(), ".");
  }
  UserDecimalSeparator = saved;
}

TEST(RunTimeFormat, DefaultRealFormOfSinglesIsTheGeneralOne) {
  // Hand-worked forms, then singles of every scale against the general path.
  const std::pair<float, const char*> cases[] = {
      {1.0f, " 1.00000000000000E+0000"},     {0.1f, " 1.00000001490116E-0001"},
      {-9999.0f, "-9.99900000000000E+0003"}, {-0.0f, " 0.00000000000000E+0000"},
      {3.4e38f, " 3.39999995214436E+0038"},  {1.0f / 3, " 3.33333343267441E-0001"},
      {16777215.0f, " 1.67772150000000E+0007"}};
  char text[24] = {};
  for (auto [x, expected] : cases) {
    EXPECT_EQ(text + 23, SingleToDefaultChars(x, text));
    EXPECT_STREQ(expected, text) << x;
  }
  std::mt19937 generator(3);
  for (int i = 0; i < 200000; ++i) {
    // Random bit patterns reach every exponent, the subnormals and the specials.
    const uint32_t bits = i < 100000 ? static_cast<uint32_t>(generator()) : 0x3F800000u + static_cast<uint32_t>(i);
    const float x = std::bit_cast<float>(bits);
    SingleToDefaultChars(x, text);
    ASSERT_EQ(FloatToDefaultStr(x), text) << std::hexfloat << x;
    ASSERT_EQ(testsupport::PrintfDefaultForm(x), text) << std::hexfloat << x;
  }
}

}  // namespace
