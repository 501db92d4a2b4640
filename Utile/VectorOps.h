// Creating, copying, reshaping, rendering, saving and loading the toolkit's
// arrays, with elementwise arithmetic, cumulative vectors, searches and sorts.
// Routines return new arrays; a non-const reference argument is changed in place.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

#include "Utile/CommonDecl.h"

namespace utile {

// ------------------------------------------------------------ creation and copies
// Every cell of a new array is zero, false or empty.
tVectorOfDouble NullVector(Integer n);
tVectorOfCardinal NullVectorOfCardinal(Integer n);
tVectorOfInteger NullVectorOfInteger(Integer n);
tMatrixOfDouble NullMatrix(Integer rows, Integer columns);
tMatrixOfBoolean NullMatrixOfBoolean(Integer rows, Integer columns);
tMatrixOfInteger NullMatrixOfInteger(Integer rows, Integer columns);
tMatrixOfBoolean IdentityMatrixOfBoolean(Cardinal n);
tVectorOfDouble MakeVectorOfDouble(std::initializer_list<Double> values);
// First, First+1, ..., Last, or downwards when First > Last.
tVectorOfCardinal SequentialVector(Cardinal first, Cardinal last);
// N evenly spaced values from First to Last; N = 1 divides by zero.
tVectorOfDouble SequentialVector(Double first, Double last, Integer n);
tVectorOfDouble CopyVec(const tVectorOfDouble& v);
void CopyVec(const tVectorOfCardinal& v, tVectorOfCardinal& output);
// A rectangular copy: the matrix must be rectangular.
tMatrixOfDouble CopyMat(const tMatrixOfDouble& m);
void ClearVec(tVectorOfDouble& v);
// Left-right mirror: column j of the result is column (ColCount - 1 - j).
tMatrixOfDouble MatInverseCols(const tMatrixOfDouble& m);

// True when every row is as long as row 0.
template <class tMatrix>
bool IsRectangular(const tMatrix& m) {
  for (const auto& row : m)
    if (row.size() != m[0].size()) return false;
  return true;
}

// ------------------------------------------------------------ elementwise arithmetic
using tCardinalVectorList = std::initializer_list<std::reference_wrapper<const tVectorOfCardinal>>;
using tDoubleVectorList = std::initializer_list<std::reference_wrapper<const tVectorOfDouble>>;

// vSum := the first vector, then each further one added (unsigned wrap-around).
void AddCardinalVectors(tVectorOfCardinal& vSum, tCardinalVectorList vectors);
void AddTwoVectors(tVectorOfCardinal& v1, const tVectorOfCardinal& v2);
// vSum[i] := sum over k of vectors[k][i] x weights[k]; vSum sized by the caller.
void AddVectors(tVectorOfDouble& vSum, tDoubleVectorList vectors, std::initializer_list<Double> weights);
tVectorOfDouble VeciXveci(const tVectorOfDouble& v1, const tVectorOfDouble& v2);
tVectorOfDouble VecXscal(const tVectorOfDouble& v, Double s);
Double VecXvec(const tVectorOfDouble& v1, const tVectorOfDouble& v2);
void VecSumToOne(tVectorOfDouble& v);

// ------------------------------------------------------------ cumulation, search, sort
// C[0] = 0, C[i] = C[i-1] + V[i-1]; Length(V) + 1 elements.
tVectorOfDouble CumulativeVector(const tVectorOfDouble& v);
// Binary search over an ascending vector: the index of an exact hit, else the
// largest index whose value is below X (-1 when X < C[0] or C is empty).
Integer FindClass(const tVectorOfDouble& c, Double x);
// The same over Count values in place (a column of a flat table).
Integer FindClass(const Double* c, Integer count, Double x);
// First index in First..Last holding Value; Length(V) when absent.
Integer FindFirst(const tVectorOfCardinal& v, Cardinal value, Integer first, Integer last);
// The same; -1 when absent.
Integer FindFirst(const tVectorOfInteger& v, Integer value, Integer first, Integer last);
Integer FindFirst(const tVectorOfDouble& v, Double value, Double tolerance, Integer first, Integer last);
void SortVector(tVectorOfDouble& v);
void SortVector(tVectorOfInteger& v);
// Index of the first maximal element; -1 when empty or nothing above -1.7e308.
Integer IndexMaxValueVec(const tVectorOfDouble& v);

// ------------------------------------------------------------ text renderings
// Format(fmt, cell) for every element, concatenated.
std::string VecToStr(const tVectorOfDouble& v, std::string_view format);
std::string VecToStr(const tVectorOfCardinal& v, std::string_view format);
// TAB-separated cells, every row ending with CR LF.
std::string MatToStr(const tMatrixOfDouble& m, std::string_view format);
std::string MatToStr(const tMatrixOfSingle& m, std::string_view format);
// A labelled table: a header line of TAB + column name, then each row's name and
// TAB + cell.
std::string MatToStr(const tMatrixOfDouble& m, const tVectorOfString& rowNames, const tVectorOfString& columnNames,
                     std::string_view format);

// ------------------------------------------------------------ matrix files
// Text: "rows TAB columns" then one TAB-separated line per row, cells in the
// 23-character real form, CR LF line ends. Binary: two 64-bit real counts, then
// the cells as little-endian 64-bit reals row by row. An existing file is replaced.
tMatrixOfDouble MatLoadFromFile(const std::string& fileName, bool binary);
void MatSaveToFile(const tMatrixOfDouble& m, const std::string& fileName, bool binary);
void MatSaveToFile(const tMatrixOfBoolean& m, const std::string& fileName, bool binary);

}  // namespace utile
