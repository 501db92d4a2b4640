#include <gtest/gtest.h>

#include "Utile/Frequent.h"
#include "Utile/RunTime.h"
#include "Utile/StringOps.h"

using namespace utile;

namespace {

// Sets the process's decimal separator for one test and restores it.
class tSeparator {
 public:
  explicit tSeparator(char c) : fSaved(DecimalSeparator) { DecimalSeparator = c; }
  ~tSeparator() { DecimalSeparator = fSaved; }

 private:
  char fSaved;
};

TEST(StringOps, SubstringsAndReplacement) {
  struct {
    std::string Actual, Expected;
  } const cases[] = {
      {MiddleStr("abcdef", 2, 4), "bcd"},
      {MiddleStr("abcdef", 5, 9), "ef"},
      {MiddleStr("abcdef", 0, 1), "a"},
      {MiddleStr("abcdef", 4, 3), ""},
      {RemoveAdjacentSeparators(",,a,,,b,", ','), ",a,b,"},
      {RemoveAdjacentSeparators("a b", ','), "a b"},
      {Replace("aaa", "a", "aa"), "aaaaaa"},
      {Replace("one two one", "one", "1"), "1 two 1"},
      {Replace("Abc abc", "abc", "x"), "Abc x"},
      {Replace("abc", "", "x"), "abc"},
      {ReplaceFirst("one two one", "one", "1"), "1 two one"},
      {ReplaceFirst("abc", "z", "1"), "abc"},
      {Frequent::Replace("aaa", "a", "aa"), "aaaaaa"},
      {Frequent::ReplaceFirst("a.b.c", ".", ","), "a,b.c"},
      {RemoveFirstValues("abc", 2, ','), "abc"},
      {RemoveFirstValues("a,b,c", 2, ','), "c"},
      {RemoveFirstValues("a,b,c", 5, ','), "c"},
      {RemoveFirstValues("a,b,c", 0, ','), "a,b,c"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Actual, c.Expected);
}

TEST(StringOps, TabulateSplitsAtEverySeparator) {
  struct {
    std::string S;
    char Sep;
    bool RemoveAdjacent;
    Integer Skip;
    tVectorOfString Expected;
  } const cases[] = {
      {"a,,b", ',', false, 0, {"a", "", "b"}},
      {"a,,b", ',', true, 0, {"a", "b"}},
      {"a,b,c", ',', false, 1, {"b", "c"}},
      {"x;;y;z", ';', true, 1, {"y", "z"}},
      {"", ',', false, 0, {""}},
      {"a,", ',', false, 0, {"a", ""}},
      {"a\tb", '\t', false, 0, {"a", "b"}},
  };
  for (const auto& c : cases) {
    tVectorOfString fields = {"old"};
    Tabulate(c.S, c.Sep, fields, c.RemoveAdjacent, c.Skip);
    EXPECT_EQ(fields, c.Expected) << c.S;
  }
  tVectorOfString fields;
  Frequent::Tabulate("a,,b", ',', fields);
  EXPECT_EQ(fields, (tVectorOfString{"a", "", "b"}));
}

TEST(StringOps, TabbedFieldsEachFollowedByATab) {
  EXPECT_EQ(TabbedFields("0\t100\t\t"), tVectorOfString({"0", "100", ""}));
  EXPECT_TRUE(TabbedFields("").empty());
}

TEST(StringOps, TextLinesOfEitherLineEnd) {
  struct {
    std::string Text;
    tVectorOfString Expected;
  } const cases[] = {
      {"", {}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb\n", {"a", "b"}},
      {"a\r\nb", {"a", "b"}},
      {"a\n\r\n\nb", {"a", "", "", "b"}},
      {"\r\n", {""}},
      {"a\rb\n", {"a\rb"}},  // a lone CR ends no line
  };
  for (const auto& c : cases) EXPECT_EQ(TextLines(c.Text), c.Expected) << c.Text;
}

TEST(StringOps, SafeConversionTriesTheOtherSeparator) {
  {
    tSeparator comma(',');
    EXPECT_EQ(StrToFloatSafe("1.5"), 1.5);
    EXPECT_EQ(DecimalSeparator, ',');
    EXPECT_EQ(StrToFloatSafe("2,25"), 2.25);
    // The value that once stood for "unreadable" is an ordinary number.
    EXPECT_EQ(StrToFloatSafe("-31415926"), -31415926);
    try {
      StrToFloatSafe("abc");
      ADD_FAILURE() << "abc was read";
    } catch (const EConvertError& e) {
      EXPECT_EQ(
          e.Message(),
          "There was a problem with floating point values. It is probably due to a bad decimal separator "
          "setting");
    }
    EXPECT_EQ(DecimalSeparator, ',');
  }
  tSeparator point('.');
  EXPECT_EQ(StrToFloatSafe(" 3,5E2 "), 350);
  EXPECT_EQ(StrToFloatSafe("-0.125"), -0.125);
  EXPECT_THROW(StrToFloatSafe(""), EConvertError);
  EXPECT_THROW(StrToFloatSafe("1.5.2"), EConvertError);
}

TEST(StringOps, ValuesShownWithTheirError) {
  tSeparator point('.');
  struct {
    std::string Actual, Expected;
  } const cases[] = {
      {ValToStr(3.14159, 0), "3.141590000000000"},
      {ValToStr(3.14159, 0.01), "3.1"},
      {ValToStr(3.14159, 0.001), "3.14"},
      {ValToStr(3.14159, 0.1), "3"},
      {ValToStr(3.14159, 1e-20), "3.141590000000000"},
      // A negative error counts by its magnitude.
      {ValToStr(3.14159, -0.01), "3.1"},
      {ValToStrError(2.71828, 0.01), "2.7 (\u00b1 0.01)"},
      {ValToStrError(2.71828, -0.001), "2.72 (\u00b1 -0.001)"},
      {ValToStrError(10, 0), "10.000000000000000 (\u00b1 0)"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Actual, c.Expected);
}

TEST(StringOps, Durations) {
  struct {
    std::string Actual, Expected;
  } const cases[] = {
      {DurationToStr(1.5, false), "1 D 12:00:00"},
      {DurationToStr(1.5, true), "1 D 12:00:00:000"},
      {DurationToStr(0, false), "0 D 00:00:00"},
      {DurationToStr((3600.0 + 2 * 60 + 3.004) / 86400, true), "0 D 01:02:03:004"},
      {DurationToStr(12 + 59.0 / 1440, false), "12 D 00:59:00"},
      // A hair short of two days is two days, not one day and no time.
      {DurationToStr(2 - 1e-12, false), "2 D 00:00:00"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Actual, c.Expected);
}

// An elapsed time reads as a time of day would, but a run of a day or more keeps
// its whole hours instead of starting again at midnight.
TEST(StringOps, ElapsedTimesCountTheirHoursOnPastADay) {
  constexpr double Second = 1.0 / 86400;
  const struct {
    double Days;
    const char* Expected;
  } cases[] = {
      {(23 * 3600 + 59 * 60 + 59) * Second, "23:59:59"},
      {(25 * 3600 + 3 * 60 + 7) * Second, "25:03:07"},
      {100 + Second, "2400:00:01"},
      // To the millisecond, then whole seconds: a hair short of a second is one.
      {0.9999 * Second, "00:00:01"},
      {59.4996 * Second, "00:00:59"},
      {-0.25, "00:00:00"},
  };
  for (const auto& c : cases) EXPECT_EQ(ElapsedTimeToStr(c.Days), c.Expected) << c.Days;
}

}  // namespace
