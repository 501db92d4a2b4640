#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <tuple>

#include "TestSupport/Emulation.h"
#include "TestSupport/ExceptionMessages.h"
#include "TestSupport/FakeMemory.h"
#include "TestSupport/Measurement.h"
#include "TestSupport/NumericLocale.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "Utile/VectorOps.h"

using namespace utile;
using testsupport::tTempFolder;

namespace {

std::string ReadBytes(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& fileName, const std::string& bytes) {
  std::ofstream out(fileName, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string DoubleBytes(std::initializer_list<double> values) {
  std::string s;
  for (double v : values) {
    char b[8];
    std::memcpy(b, &v, 8);
    s.append(b, 8);
  }
  return s;
}

// The assertion's message starts with the given text and names the unit's source.
void ExpectAssertion(const std::function<void()>& action, const std::string& text) {
  try {
    action();
    ADD_FAILURE() << "no exception for " << text;
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(0u, std::string(e.what()).find(text + " (Utile/VectorOps.cpp, line ")) << e.what();
  }
}

// ------------------------------------------------------------ creation and copies

TEST(VectorOps, CreationGivesZeroedArraysOfTheRequestedShape) {
  EXPECT_EQ(tVectorOfDouble(3, 0.0), NullVector(3));
  EXPECT_EQ(tVectorOfCardinal(2, 0), NullVectorOfCardinal(2));
  EXPECT_EQ(tVectorOfInteger(4, 0), NullVectorOfInteger(4));
  EXPECT_TRUE(NullVector(0).empty());
  EXPECT_EQ(tMatrixOfDouble(2, tVectorOfDouble(3, 0.0)), NullMatrix(2, 3));
  EXPECT_EQ(tMatrixOfBoolean(3, tVectorOfBoolean(1, false)), NullMatrixOfBoolean(3, 1));
  EXPECT_EQ(tMatrixOfInteger(1, tVectorOfInteger(2, 0)), NullMatrixOfInteger(1, 2));
  EXPECT_EQ(tMatrixOfBoolean({{true, false, false}, {false, true, false}, {false, false, true}}),
            IdentityMatrixOfBoolean(3));
  EXPECT_TRUE(IdentityMatrixOfBoolean(0).empty());
  EXPECT_EQ(tVectorOfDouble({1.5, -2, 0}), MakeVectorOfDouble({1.5, -2, 0}));
  EXPECT_THROW(NullVector(-1), ERangeError);
}

TEST(VectorOps, SequentialVectors) {
  EXPECT_EQ(tVectorOfCardinal({5, 4, 3, 2}), SequentialVector(Cardinal(5), Cardinal(2)));
  EXPECT_EQ(tVectorOfCardinal({2, 3, 4, 5}), SequentialVector(Cardinal(2), Cardinal(5)));
  EXPECT_EQ(tVectorOfCardinal({7}), SequentialVector(Cardinal(7), Cardinal(7)));
  EXPECT_EQ(tVectorOfCardinal({1, 0}), SequentialVector(Cardinal(1), Cardinal(0)));
  EXPECT_EQ(tVectorOfCardinal({4294967294u, 4294967295u}), SequentialVector(4294967294u, 4294967295u));
  EXPECT_EQ(tVectorOfDouble({0, 0.25, 0.5, 0.75, 1}), SequentialVector(0.0, 1.0, 5));
  EXPECT_EQ(tVectorOfDouble({3, 1, -1}), SequentialVector(3.0, -1.0, 3));
  EXPECT_THROW(SequentialVector(0.0, 1.0, 1), EMathError);
  EXPECT_TRUE(SequentialVector(0.0, 1.0, 0).empty());
  // i x (Last - First) / (N - 1) + First: tenths are the nearest doubles to k/10,
  // not k times the double nearest to 0.1.
  const tVectorOfDouble tenths = SequentialVector(0.0, 1.0, 11);
  ASSERT_EQ(11u, tenths.size());
  for (int k = 0; k <= 10; ++k) EXPECT_EQ(k / 10.0, tenths[k]) << k;
}

TEST(VectorOps, CopiesAreIndependent) {
  tVectorOfDouble v = {1, 2};
  tVectorOfDouble copy = CopyVec(v);
  copy[0] = 9;
  EXPECT_EQ(1, v[0]);
  tVectorOfCardinal out;
  CopyVec(tVectorOfCardinal{4, 5}, out);
  EXPECT_EQ(tVectorOfCardinal({4, 5}), out);
  EXPECT_EQ(tMatrixOfDouble({{1, 2}, {3, 4}}), CopyMat({{1, 2}, {3, 4}}));
  EXPECT_TRUE(CopyMat({}).empty());
  ClearVec(v);
  EXPECT_EQ(tVectorOfDouble({0, 0}), v);
}

TEST(VectorOps, JaggedMatricesAreRefusedWhereAColumnCountIsNeeded) {
  const tMatrixOfDouble jagged = {{1, 2, 3}, {4}};
  ExpectAssertion([&] { CopyMat(jagged); }, "The matrix is not rectangular");
  ExpectAssertion([&] { MatInverseCols(jagged); }, "The matrix is not rectangular");
  tTempFolder folder;
  for (bool binary : {false, true}) {
    ExpectAssertion([&] { MatSaveToFile(jagged, folder.File("m"), binary); },
                    "The matrix is not rectangular");
    ExpectAssertion(
        [&] {
          MatSaveToFile(tMatrixOfBoolean{{true}, {true, false}}, folder.File("b"), binary);
        },
        "The matrix is not rectangular");
  }
  EXPECT_FALSE(FileExists(folder.File("m")));
}

TEST(VectorOps, MatInverseColsMirrorsLeftToRight) {
  EXPECT_EQ(tMatrixOfDouble({{3, 2, 1}, {6, 5, 4}}), MatInverseCols({{1, 2, 3}, {4, 5, 6}}));
  EXPECT_EQ(tMatrixOfDouble({{1}}), MatInverseCols({{1}}));
}

// ------------------------------------------------------------ elementwise arithmetic

TEST(VectorOps, AddCardinalVectors) {
  const tVectorOfCardinal a = {1, 2, 4294967295u}, b = {10, 20, 2}, c = {100, 200, 300};
  tVectorOfCardinal sum(3);
  AddCardinalVectors(sum, {a, b, c});
  EXPECT_EQ(tVectorOfCardinal({111, 222, 301}), sum);  // the last wraps around
  tVectorOfCardinal inPlace = a;
  AddCardinalVectors(inPlace, {inPlace, b});
  EXPECT_EQ(tVectorOfCardinal({11, 22, 1}), inPlace);

  tVectorOfCardinal shortSum(2);
  ExpectAssertion(
      [&] {
        AddCardinalVectors(shortSum, {a, b});
      },
      "vSum has not the same length as the summed vectors.");
  const tVectorOfCardinal one = {1};
  ExpectAssertion([&] { AddCardinalVectors(sum, {a, one}); }, "Assertion failure");
  ExpectAssertion([&] { AddCardinalVectors(sum, {a, sum}); }, "vSum cannot be added to itself");

  tVectorOfCardinal v1 = {1, 2};
  AddTwoVectors(v1, {3, 4});
  EXPECT_EQ(tVectorOfCardinal({4, 6}), v1);
  ExpectAssertion([&] { AddTwoVectors(v1, {1}); }, "Assertion failure");
}

TEST(VectorOps, AddVectorsWeighsEachVector) {
  const tVectorOfDouble a = {1, 2}, b = {10, 20};
  tVectorOfDouble sum(2);
  AddVectors(sum, {a, b}, {2, 0.5});
  EXPECT_EQ(tVectorOfDouble({7, 14}), sum);
  tVectorOfDouble inPlace = a;
  AddVectors(inPlace, {b, inPlace}, {1, -1});
  EXPECT_EQ(tVectorOfDouble({9, 18}), inPlace);
  tVectorOfDouble wrong(3);
  ExpectAssertion(
      [&] {
        AddVectors(wrong, {a, b}, {1, 1});
      },
      "Guru's meditation: Result vector has not the correct size.");
  ExpectAssertion(
      [&] {
        AddVectors(sum, {a, b}, {1});
      },
      "Guru's meditation: weight vector has not the correct size.");
  const tVectorOfDouble one = {1};
  ExpectAssertion([&] { AddVectors(sum, {a, one}, {1, 1}); }, "Assertion failure");
}

TEST(VectorOps, ProductsAndNormalisation) {
  EXPECT_EQ(tVectorOfDouble({3, -8}), VeciXveci({1, 2}, {3, -4}));
  EXPECT_EQ(tVectorOfDouble({2.5, -5}), VecXscal({1, -2}, 2.5));
  EXPECT_EQ(-5.0, VecXvec({1, 2}, {3, -4}));
  EXPECT_EQ(0.0, VecXvec({}, {}));
  // A second factor shorter than the first would be read past its end.
  EXPECT_THROW(VecXvec({1, 2}, {1}), EAssertionFailed);
  EXPECT_THROW(VeciXveci({1, 2}, {1}), EAssertionFailed);

  struct tCase {
    tVectorOfDouble in, out;
  } const cases[] = {
      {{1, 3}, {0.25, 0.75}}, {{0, 0}, {0, 0}}, {{2, -2}, {2, -2}}, {{-1, -3}, {0.25, 0.75}}, {{}, {}}};
  for (const auto& c : cases) {
    tVectorOfDouble v = c.in;
    VecSumToOne(v);
    EXPECT_EQ(c.out, v);
  }
}

// ------------------------------------------------------------ cumulation, search, sort

TEST(VectorOps, CumulativeVector) {
  EXPECT_EQ(tVectorOfDouble({0}), CumulativeVector({}));
  EXPECT_EQ(tVectorOfDouble({0, 1, 1, 3.5}), CumulativeVector({1, 0, 2.5}));
  ExpectAssertion([] { CumulativeVector({1, -0.5}); }, "Values of V can't be negative in CumulativeVector");
}

TEST(VectorOps, FindClassReturnsTheClassBelowX) {
  const tVectorOfDouble c = {0, 1, 3};
  struct tCase {
    double x;
    Integer expected;
  } const cases[] = {{0, 0}, {0.5, 0}, {1, 1}, {2, 1}, {3, 2}, {5, 2}, {-0.1, -1}, {-1e300, -1}};
  for (const auto& k : cases) EXPECT_EQ(k.expected, FindClass(c, k.x)) << k.x;
  EXPECT_EQ(-1, FindClass({}, 1));
}

TEST(VectorOps, FindFirstInEachElementType) {
  const tVectorOfCardinal u = {4, 7, 9, 7, 1};
  struct tCase {
    Cardinal value;
    Integer first, last, expected;
  } const unsignedCases[] = {{7, 0, 4, 1}, {7, 2, 4, 3}, {7, 2, 100, 3},
                             {5, 0, 4, 5}, {7, 3, 2, 5}, {1, 0, 3, 5}};
  for (const auto& c : unsignedCases)
    EXPECT_EQ(c.expected, FindFirst(u, c.value, c.first, c.last)) << c.value;

  const tVectorOfInteger i = {4, -7, 9, -7, 1};
  EXPECT_EQ(1, FindFirst(i, -7, 0, 4));
  EXPECT_EQ(3, FindFirst(i, -7, 2, 10));
  EXPECT_EQ(-1, FindFirst(i, 5, 0, 4));
  EXPECT_EQ(-1, FindFirst(i, 4, 1, 0));

  const tVectorOfDouble d = {1.0, 2.0, 2.05, 3.0};
  EXPECT_EQ(1, FindFirst(d, 2.04, 0.05, 0, 3));
  EXPECT_EQ(2, FindFirst(d, 2.04, 0.05, 2, 3));
  EXPECT_EQ(-1, FindFirst(d, 2.5, 0.1, 0, 3));
  EXPECT_EQ(3, FindFirst(d, 3.0, 0, 0, 99));
}

TEST(VectorOps, SortVectorAgreesWithTheStandardSort) {
  SetSeeds(17, 1);
  for (int n : {0, 1, 2, 3, 10, 101, 1000}) {
    tVectorOfDouble d(n);
    tVectorOfInteger k(n);
    for (int j = 0; j < n; ++j) {
      d[j] = Ran(-1.0, 1.0);
      k[j] = Ran(Integer(20)) - 10;  // with repeats
    }
    tVectorOfDouble dExpected = d;
    tVectorOfInteger kExpected = k;
    std::sort(dExpected.begin(), dExpected.end());
    std::sort(kExpected.begin(), kExpected.end());
    SortVector(d);
    SortVector(k);
    EXPECT_EQ(dExpected, d) << n;
    EXPECT_EQ(kExpected, k) << n;
  }
}

TEST(VectorOps, IndexMaxValueVec) {
  struct tCase {
    tVectorOfDouble v;
    Integer expected;
  } const cases[] = {{{2, 7, 7}, 1},
                     {{}, -1},
                     {{-5, -3, -4}, 1},
                     {{-std::numeric_limits<double>::max(), -std::numeric_limits<double>::infinity()}, -1},
                     {{3}, 0}};
  for (const auto& c : cases) EXPECT_EQ(c.expected, IndexMaxValueVec(c.v));
}

// ------------------------------------------------------------ text renderings

TEST(VectorOps, TextRenderings) {
  EXPECT_EQ("1\t2\r\n3\t4\r\n", MatToStr(tMatrixOfDouble{{1, 2}, {3, 4}}, "%g"));
  EXPECT_EQ("0.5|\t0.25|\r\n", MatToStr(tMatrixOfSingle{{0.5f, 0.25f}}, "%g|"));
  EXPECT_EQ("1.50;2.00;", VecToStr(tVectorOfDouble{1.5, 2}, "%.2f;"));
  EXPECT_EQ("3 4 ", VecToStr(tVectorOfCardinal{3, 4}, "%d "));
  EXPECT_EQ("", VecToStr(tVectorOfDouble{}, "%g"));
  EXPECT_EQ(
      "\ta\tb\r\nr1\t1\t2\r\n\t3\t4\r\n",
      MatToStr(tMatrixOfDouble{{1, 2}, {3, 4}}, tVectorOfString{"r1"}, tVectorOfString{"a", "b"}, "%g"));
}

// ------------------------------------------------------------ matrix files

TEST(VectorOps, TextMatrixFileByteForByte) {
  tTempFolder folder;
  const std::string name = folder.File("m.txt");
  MatSaveToFile(tMatrixOfDouble{{1, -2.5, 0}, {0.1, 123456.789, 1e-300}}, name, false);
  EXPECT_EQ(
      "2\t3\r\n"
      " 1.00000000000000E+0000\t-2.50000000000000E+0000\t 0.00000000000000E+0000\r\n"
      " 1.00000000000000E-0001\t 1.23456789000000E+0005\t 1.00000000000000E-0300\r\n",
      ReadBytes(name));
  MatSaveToFile(tMatrixOfBoolean{{true, false, true}, {false, false, true}}, name, false);
  EXPECT_EQ("2\t3\r\n1\t0\t1\r\n0\t0\t1\r\n", ReadBytes(name));
}

TEST(VectorOps, BinaryMatrixFileByteForByte) {
  tTempFolder folder;
  const std::string name = folder.File("m.bin");
  MatSaveToFile(tMatrixOfDouble{{1, -2.5}, {0.1, 7}, {3, 4}}, name, true);
  EXPECT_EQ(DoubleBytes({3, 2, 1, -2.5, 0.1, 7, 3, 4}), ReadBytes(name));
  MatSaveToFile(tMatrixOfBoolean{{true, false, true}}, name, true);
  EXPECT_EQ(DoubleBytes({1, 3}) + std::string("\x01\x00\x01", 3), ReadBytes(name));
}

TEST(VectorOps, MatrixFilesRoundTrip) {
  tTempFolder folder;
  SetSeeds(44, 2);
  tMatrixOfDouble m = NullMatrix(7, 5);
  for (auto& row : m)
    for (auto& cell : row) cell = std::ldexp(GaussRan(), Ran(Integer(600)) - 300);
  m[0][0] = 0;
  m[0][1] = std::numeric_limits<double>::max();
  m[0][2] = -std::numeric_limits<double>::min();
  m[0][3] = 1.0 / 3;
  m[0][4] = -123456789012345.0;

  MatSaveToFile(m, folder.File("m.bin"), true);
  EXPECT_EQ(m, MatLoadFromFile(folder.File("m.bin"), true));

  MatSaveToFile(m, folder.File("m.txt"), false);
  const tMatrixOfDouble back = MatLoadFromFile(folder.File("m.txt"), false);
  ASSERT_EQ(m.size(), back.size());
  for (size_t i = 0; i < m.size(); ++i) {
    ASSERT_EQ(m[i].size(), back[i].size());
    // 15 significant digits: half a unit in the 15th digit.
    for (size_t j = 0; j < m[i].size(); ++j)
      EXPECT_LE(std::fabs(back[i][j] - m[i][j]), 5e-15 * std::fabs(m[i][j]));
  }

  // The largest reals are written with fifteen digits, beyond the largest double,
  // and read back as it: written again, the file is the same to the byte.
  const double largest = std::numeric_limits<double>::max();
  MatSaveToFile(tMatrixOfDouble{{largest, -largest}}, folder.File("l.txt"), false);
  const std::string written = ReadBytes(folder.File("l.txt"));
  EXPECT_EQ(written, "1\t2\r\n 1.79769313486232E+0308\t-1.79769313486232E+0308\r\n");
  EXPECT_EQ(MatLoadFromFile(folder.File("l.txt"), false), (tMatrixOfDouble{{largest, -largest}}));
  MatSaveToFile(MatLoadFromFile(folder.File("l.txt"), false), folder.File("l.txt"), false);
  EXPECT_EQ(ReadBytes(folder.File("l.txt")), written);

  // Infinities and not-a-number come back as what they were.
  const double inf = std::numeric_limits<double>::infinity();
  MatSaveToFile(tMatrixOfDouble{{inf, -inf, std::nan("")}}, folder.File("s.txt"), false);
  const tMatrixOfDouble nonFinite = MatLoadFromFile(folder.File("s.txt"), false);
  EXPECT_EQ(inf, nonFinite[0][0]);
  EXPECT_EQ(-inf, nonFinite[0][1]);
  EXPECT_TRUE(std::isnan(nonFinite[0][2]));

  // An existing file is replaced; empty matrices survive both forms.
  for (bool binary : {false, true}) {
    MatSaveToFile(tMatrixOfDouble{}, folder.File("m.bin"), binary);
    EXPECT_TRUE(MatLoadFromFile(folder.File("m.bin"), binary).empty());
    MatSaveToFile(tMatrixOfDouble{{2}}, folder.File("m.bin"), binary);
    EXPECT_EQ(tMatrixOfDouble{{2}}, MatLoadFromFile(folder.File("m.bin"), binary));
  }
  // No rows: an empty matrix, without a row of the promised two billion columns
  // being made first.
  WriteBytes(folder.File("z.bin"), DoubleBytes({0, 2e9}));
  EXPECT_TRUE(MatLoadFromFile(folder.File("z.bin"), true).empty());
  WriteBytes(folder.File("z.txt"), "0\t2000000000\r\n");
  EXPECT_TRUE(MatLoadFromFile(folder.File("z.txt"), false).empty());
}

TEST(VectorOps, TextMatrixFileIsTheSameWhateverTheDecimalSeparator) {
  tTempFolder folder;
  const std::string name = folder.File("m.txt");
  const tMatrixOfDouble m = {{0.5, -1.25}};
  DecimalSeparator = ',';
  try {
    MatSaveToFile(m, name, false);
  } catch (...) {
    DecimalSeparator = '.';
    throw;
  }
  DecimalSeparator = '.';
  EXPECT_EQ("1\t2\r\n 5.00000000000000E-0001\t-1.25000000000000E+0000\r\n", ReadBytes(name));
  EXPECT_EQ(m, MatLoadFromFile(name, false));
}

TEST(VectorOps, TextMatrixFileReaderIsLenientAboutLayout) {
  tTempFolder folder;
  struct tCase {
    std::string text;
    tMatrixOfDouble expected;
  } const cases[] = {
      {"2 2 anything\n1 2\n3 4\n", {{1, 2}, {3, 4}}},          // LF line ends, rest of line 1 skipped
      {"2.0\t1.6\r\n1 2 extra\r\n3 4\r\n", {{1, 2}, {3, 4}}},  // counts rounded, extra cells skipped
      {"2\t2\r\n1\r\n2\r\n3 4\r\n", {{1, 2}, {3, 4}}},         // a number may follow on the next line
      {"1 3\n  -1.5E+0002\t\t2e-3   7\n", {{-150, 0.002, 7}}},
  };
  for (const auto& c : cases) {
    WriteBytes(folder.File("t.txt"), c.text);
    EXPECT_EQ(c.expected, MatLoadFromFile(folder.File("t.txt"), false)) << c.text;
  }
}

TEST(VectorOps, BrokenMatrixFilesRaiseAnInputOutputErrorNamingTheFile) {
  tTempFolder folder;
  struct tCase {
    const char* label;
    std::string bytes;
    bool binary;
  } const cases[] = {
      {"empty text", "", false},
      {"text without columns", "3", false},
      {"text shorter than its counts", "3\t2\r\n1\t2\r\n3\t4\r\n", false},
      {"text with a garbled number", "2\t2\r\n1\t2\r\n3\tx4\r\n", false},
      {"text with garbled counts", "two\t2\r\n1\t2\r\n", false},
      {"text with negative counts", "-2\t2\r\n1\t2\r\n", false},
      {"text with huge counts", "2000000000\t2000000000\r\n1\r\n", false},
      {"text with a number beyond any real", "1\t1\r\n1E+0400\r\n", false},
      {"empty binary", "", true},
      {"binary without column count", DoubleBytes({2}), true},
      {"binary shorter than its counts", DoubleBytes({2, 2, 1, 2, 3}), true},
      {"binary with huge counts", DoubleBytes({1e9, 1e9, 1, 2}), true},
      {"binary with many empty rows", DoubleBytes({2e9, 0}), true},
      {"binary with counts beyond any size", DoubleBytes({1e300, 1e300}), true},
      {"binary with negative counts", DoubleBytes({-4, 2}), true},
      {"binary with counts that are not numbers", DoubleBytes({std::nan(""), 2}), true},
  };
  const std::string name = folder.File("broken matrix.dat");
  for (const auto& c : cases) {
    WriteBytes(name, c.bytes);
    try {
      MatLoadFromFile(name, c.binary);
      ADD_FAILURE() << "no exception for " << c.label;
    } catch (const EInOutError& e) {
      EXPECT_NE(std::string::npos, std::string(e.what()).find(name)) << c.label << ": " << e.what();
    }
  }
  // A missing file, and a folder given where a file is expected.
  for (const std::string& notAFile : {folder.File("missing.txt"), folder.Path()})
    for (bool binary : {false, true}) {
      try {
        MatLoadFromFile(notAFile, binary);
        ADD_FAILURE() << "no exception for " << notAFile;
      } catch (const EInOutError& e) {
        EXPECT_EQ("Cannot open file \"" + notAFile + "\"", e.Message());
      }
    }
}

TEST(VectorOps, WritingToAnUnwritablePlaceRaisesAndLeavesNoFile) {
  tTempFolder folder;
  const std::string name = folder.File("no such folder/m.txt");
  EXPECT_THROW(MatSaveToFile(tMatrixOfDouble{{1}}, name, false), EInOutError);
  EXPECT_THROW(MatSaveToFile(tMatrixOfDouble{{1}}, name, true), EInOutError);
  EXPECT_FALSE(FileExists(name));
}

// A text matrix larger than the memory the process can be given is refused
// before it is read.
TEST(VectorOps, ATextMatrixBeyondTheMemoryLeftIsRefusedBeforeItIsRead) {
  tTempFolder folder;
  const std::string name = folder.File("m.txt");
  MatSaveToFile(tMatrixOfDouble(100, tVectorOfDouble(100, 0.5)), name, false);
  const testsupport::tFakeMemory memory(std::filesystem::file_size(name) - 1);
  EXPECT_EQ(testsupport::MessageOf<EInOutError>([&] { MatLoadFromFile(name, false); }),
            "Not enough memory to read file \"" + name + "\"");
}

// A matrix beyond a real address-space limit (ulimit -v) is refused by the
// reader's plan, naming the file and the memory it needs: a binary matrix of
// 3.2 GB held in a file of holes, read by a child process limited to what it
// uses and 512 MB more. The child's exit code: 0 refused so, 1 another refusal,
// 2 the library's out-of-memory exception, 3 read.
TEST(VectorOps, AMatrixBeyondTheAddressSpaceLimitIsRefusedByTheReader) {
  if (testsupport::UnderSanitizers) GTEST_SKIP() << "the sanitizers' shadow memory takes the address space";
  // The user-mode emulator lives in the process's address space and reserves
  // the guest's in it: a limit on it is the emulator's, which then never returns.
  if (testsupport::UnderUserEmulator()) GTEST_SKIP() << "the emulator's own address space is limited";
  tTempFolder folder;
  const std::string name = folder.File("holes.bin");
  {
    std::ofstream out(name, std::ios::binary);
    const double counts[2] = {20000, 20000};
    out.write(reinterpret_cast<const char*>(counts), sizeof counts);
  }
  std::filesystem::resize_file(name, 16 + uint64_t{20000} * 20000 * 8);
  // The address space in use: the first field of statm, in pages.
  uint64_t pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  const uint64_t inUse = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  ASSERT_GT(inUse, 0u);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = inUse + (uint64_t{512} << 20);
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(4);
    int code = 3;
    try {
      MatLoadFromFile(name, true);
    } catch (const EInOutError& e) {
      code = std::string(e.what()).ends_with("needs 3053 MB, more memory than is free") ? 0 : 1;
    } catch (const std::bad_alloc&) {
      code = 2;
    }
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace

// LC_NUMERIC of a user whose decimal separator is the comma, as the window library
// sets it: matrix files are written byte for byte as under "C", and read alike.
TEST(VectorOps, MatrixFilesAreTheSameUnderEveryLocale) {
  tTempFolder folder;
  const tMatrixOfDouble m = {{0.1, -1.25, 1.0 / 3}, {6.02214076e23, -5e-324, 1.7976931348623157e308}};
  const tMatrixOfBoolean b = {{true, false}, {false, true}};
  for (const bool binary : {false, true}) {
    SCOPED_TRACE(binary);
    const auto written = testsupport::UnderEachLocale([&] {
      MatSaveToFile(m, folder.File("m"), binary);
      MatSaveToFile(b, folder.File("b"), binary);
      return std::make_tuple(ReadBytes(folder.File("m")), ReadBytes(folder.File("b")),
                             MatLoadFromFile(folder.File("m"), binary));
    });
    for (const auto& under : written) {
      ASSERT_TRUE(under.Set) << testsupport::tNumericLocale::Missing(under.Locale);
      EXPECT_EQ(under.Result, written.front().Result) << under.Locale;
    }
    if (binary) {
      EXPECT_EQ(std::get<2>(written.front().Result), m);
    }
  }
}
