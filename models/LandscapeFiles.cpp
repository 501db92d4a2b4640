#include "models/LandscapeFiles.h"

#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>

#include "Utile/Idrisi.h"
#include "Utile/MatrixOps.h"
#include "Utile/Platform.h"
#include "Utile/RunTime.h"
#include "Utile/VectorOps.h"

namespace models {

using utile::Format;
using utile::Int64;
using utile::tMatrixOfDouble;
using utile::tVectorOfDouble;

// ------------------------------------------------------------------ the landscape file

namespace {

const char* const PatchLineError = "Patch file incorrect.";
const char* const DistanceMatrixError = "Patch file incorrect: distance matrix cannot be read.";

// The lines of a text, CR LF and LF alike, numbered from 1.
class tLineReader {
 public:
  explicit tLineReader(std::string_view text) : fText(text) {
    // A byte-order mark is not part of the first line.
    if (fText.starts_with("\xEF\xBB\xBF")) fText.remove_prefix(3);
  }

  bool Next(std::string_view& line) {
    if (fPosition >= fText.size()) return false;
    const size_t end = fText.find('\n', fPosition);
    const size_t stop = end == std::string_view::npos ? fText.size() : end;
    line = fText.substr(fPosition, stop - fPosition);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    fPosition = end == std::string_view::npos ? fText.size() : end + 1;
    ++fNumber;
    return true;
  }
  Integer Number() const { return fNumber; }

 private:
  std::string_view fText;
  size_t fPosition = 0;
  Integer fNumber = 0;
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The next field of a line separated by white space; false at the line's end.
bool NextField(std::string_view& rest, std::string_view& field) {
  size_t start = 0;
  while (start < rest.size() && IsBlank(rest[start])) ++start;
  if (start == rest.size()) {
    rest = {};
    return false;
  }
  size_t stop = start;
  while (stop < rest.size() && !IsBlank(rest[stop])) ++stop;
  field = rest.substr(start, stop - start);
  rest.remove_prefix(stop);
  return true;
}

bool IsEmptyLine(std::string_view line) {
  return std::all_of(line.begin(), line.end(), IsBlank);
}

// A real written with a point (or, where the field holds no point, a comma) and
// an optional sign and exponent.
bool ParseReal(std::string_view field, Double& value) {
  return utile::TryStrToFloatAnySeparator(field, value);
}

bool ParseInteger(std::string_view field, Integer& value) {
  if (field.starts_with('+')) field.remove_prefix(1);
  if (field.empty() || field.front() == '+') return false;
  const char* end = field.data() + field.size();
  auto [stop, error] = std::from_chars(field.data(), end, value);
  return error == std::errc() && stop == end;
}

[[noreturn]] void RaiseFileError(const char* what, const std::string& fileName, Integer line,
                                 const std::string& reason) {
  throw utile::EInOutError(Format("%s\n\"%s\", line %d: %s.", what, fileName, line, reason));
}

std::string NotANumber(std::string_view field) {
  long double wide;
  if (utile::TryStrToFloat(field, wide, '.') || utile::TryStrToFloat(field, wide, ','))
    return Format("\"%s\" is beyond the largest real", std::string(field));
  return Format("\"%s\" is not a number", std::string(field));
}

// One patch line; false for the sentinel line.
bool ParsePatchLine(std::string_view line, Integer number, const std::string& fileName, tCircle& patch) {
  std::string_view field;
  NextField(line, field);
  if (!ParseInteger(field, patch.popID))
    RaiseFileError(PatchLineError, fileName, number,
                   Format("the patch identifier \"%s\" is not a whole number", std::string(field)));
  // The rest of the sentinel line, present or not, is not read.
  if (patch.popID == PatchListSentinel) return false;
  Double* const fields[] = {&patch.x, &patch.y, &patch.A, &patch.b, &patch.e};
  int read = 0;
  for (; read < 5 && NextField(line, field); ++read)
    if (!ParseReal(field, *fields[read])) RaiseFileError(PatchLineError, fileName, number, NotANumber(field));
  if (read < 3)
    RaiseFileError(PatchLineError, fileName, number,
                   "fewer than four numbers (identifier, x, y and area are needed)");
  if (read == 4)
    RaiseFileError(PatchLineError, fileName, number, "a birth value without an extinction value");
  return true;
}

}  // namespace

namespace {
// Refuses, before anything is allocated, a distance matrix of n rows that the
// lines after the sentinel do not hold (a line of n distances per row) or that
// the machine cannot give.
void CheckDistanceMatrixRoom(tLineReader lines, size_t n, const std::string& fileName) {
  std::string_view line, field;
  for (size_t i = 0; i < n; ++i) {
    if (!lines.Next(line))
      RaiseFileError(
          DistanceMatrixError, fileName, lines.Number() + 1,
          Format("the file ends before row %d of %d", static_cast<Int64>(i + 1), static_cast<Int64>(n)));
    size_t j = 0;
    for (; NextField(line, field); ++j)
      if (j == n)
        RaiseFileError(
            DistanceMatrixError, fileName, lines.Number(),
            Format("more than %d distances in row %d", static_cast<Int64>(n), static_cast<Int64>(i + 1)));
    if (j < n)
      RaiseFileError(DistanceMatrixError, fileName, lines.Number(),
                     Format("%d distances in row %d, %d expected", static_cast<Int64>(j),
                            static_cast<Int64>(i + 1), static_cast<Int64>(n)));
  }
  const double bytes =
      static_cast<double>(n) * (static_cast<double>(n) * sizeof(Double) + sizeof(tVectorOfDouble));
  if (!utile::MemoryAvailable(static_cast<uint64_t>(bytes)))
    RaiseFileError(DistanceMatrixError, fileName, lines.Number() - static_cast<Integer>(n) + 1,
                   Format("the %d x %d distance matrix needs %.0f MB, more memory than is free",
                          static_cast<Int64>(n), static_cast<Int64>(n), std::ceil(bytes / 1048576)));
}
}  // namespace

namespace {
tLandscapeFile ParseLandscapeText(std::string_view Text, const std::string& FileName) {
  tLandscapeFile file;
  tLineReader lines(Text);
  std::string_view line;
  while (lines.Next(line)) {
    if (IsEmptyLine(line)) break;
    tCircle patch;
    if (!ParsePatchLine(line, lines.Number(), FileName, patch)) {
      file.DistanceMatFixed = true;
      break;
    }
    file.Patches.push_back(patch);
  }
  // Every model and drawing reads at least one patch.
  if (file.Patches.empty())
    RaiseFileError(PatchLineError, FileName, std::max(lines.Number(), 1),
                   "no patch line before the end of the list");
  file.Patches.shrink_to_fit();
  if (!file.DistanceMatFixed) return file;

  const size_t n = file.Patches.size();
  CheckDistanceMatrixRoom(lines, n, FileName);
  file.DistanceMat.assign(n, tVectorOfDouble(n, 0.0));
  for (tVectorOfDouble& row : file.DistanceMat) {
    lines.Next(line);
    std::string_view field;
    for (Double& distance : row) {
      NextField(line, field);
      if (!ParseReal(field, distance))
        RaiseFileError(DistanceMatrixError, FileName, lines.Number(), NotANumber(field));
    }
  }
  return file;
}
}  // namespace

tLandscapeFile ParseLandscapeFile(std::string_view Text, const std::string& FileName) {
  return utile::WithinMemory(FileName, [&] { return ParseLandscapeText(Text, FileName); });
}

tLandscapeFile ReadLandscapeFile(const std::string& FileName) {
  return ParseLandscapeFile(utile::LoadTextFromFile(FileName), FileName);
}

namespace {
constexpr size_t RealWidth = 23;
// Text is handed on in pieces of about this size.
constexpr size_t PieceSize = size_t(1) << 20;

void AppendPatchLine(std::string& out, Integer popID, const tCircle& patch) {
  out += utile::IntToStr(popID);
  char line[5 * (RealWidth + 1)];
  char* at = line;
  for (const Double value : {patch.x, patch.y, patch.A, patch.b, patch.e}) {
    *at++ = '\t';
    at = utile::DoubleToDefaultChars(value, at);
  }
  out.append(line, at);
  out += "\r\n";
}

// The file's text, handed to write(piece) a piece at a time, so that a large
// matrix is never held twice.
template <class tWrite>
void WriteLandscapeText(const tArrayOfCircles& patches, const tMatrixOfDouble* distances, tWrite&& write) {
  const size_t n = patches.size();
  if (distances) {
    utile::Assert(distances->size() == n, "The distance matrix must have a row per patch.");
    for (const tVectorOfDouble& row : *distances)
      utile::Assert(row.size() == n, "The distance matrix must have a column per patch.");
  }
  std::string piece;
  piece.reserve(PieceSize + n * (RealWidth + 1) + 128);
  const auto full = [&] {
    if (piece.size() < PieceSize) return;
    write(std::string_view(piece));
    piece.clear();
  };
  for (const tCircle& patch : patches) {
    AppendPatchLine(piece, patch.popID, patch);
    full();
  }
  if (distances) {
    AppendPatchLine(piece, PatchListSentinel, tCircle{});
    for (const tVectorOfDouble& row : *distances) {
      // The row's cells and TABs at once, then its line end.
      const size_t at = piece.size();
      piece.resize(at + n * (RealWidth + 1) - (n > 0 ? 1 : 0));
      char* cell = piece.data() + at;
      for (size_t j = 0; j < n; ++j) {
        if (j > 0) *cell++ = '\t';
        cell = utile::DoubleToDefaultChars(row[j], cell);
      }
      piece += "\r\n";
      full();
    }
  }
  if (!piece.empty()) write(std::string_view(piece));
}
}  // namespace

std::string LandscapeFileText(const tArrayOfCircles& Patches, const tMatrixOfDouble* Distances) {
  std::string out;
  WriteLandscapeText(Patches, Distances, [&out](std::string_view piece) { out += piece; });
  return out;
}

void SaveLandscapeFile(const std::string& FileName, const tArrayOfCircles& Patches,
                       const tMatrixOfDouble* Distances) {
  utile::tSafeOutFile file(FileName, true);
  WriteLandscapeText(Patches, Distances, [&file](std::string_view piece) {
    file.Stream().write(piece.data(), static_cast<std::streamsize>(piece.size()));
  });
  file.Commit();
}

// ------------------------------------------------------------------ maps

tMapFileKind MapFileKind(const std::string& FileName) {
  const std::string extension = utile::ExtractFileExt(FileName);
  if (extension == ".txt") return tMapFileKind::mfTextMatrix;
  if (extension == ".bin") return tMapFileKind::mfBinaryMatrix;
  if (extension == ".rst") return tMapFileKind::mfRaster;
  if (extension == ".bmp" || extension == ".jpg") return tMapFileKind::mfPicture;
  return tMapFileKind::mfOther;
}

tMatrixOfDouble ReadMapMatrix(const std::string& FileName) {
  switch (MapFileKind(FileName)) {
    case tMapFileKind::mfTextMatrix:
      return utile::MatLoadFromFile(FileName, false);
    case tMapFileKind::mfBinaryMatrix:
      return utile::MatLoadFromFile(FileName, true);
    case tMapFileKind::mfRaster:
      return utile::RasterToMatrix(FileName);
    default:
      throw utile::EInvalidArgument(Format("\"%s\" is not a matrix or raster file.", FileName));
  }
}

tMatrixOfDouble ReadPermeabilityMap(const std::string& FileName) {
  const tMapFileKind kind = MapFileKind(FileName);
  if (kind == tMapFileKind::mfPicture || kind == tMapFileKind::mfOther)
    throw utile::EInvalidArgument("This type of file cannot be used as permeability map.");
  return ReadMapMatrix(FileName);
}

// ------------------------------------------------------------------ raster export

std::string MapFileName(std::string_view Pattern, Integer Run) {
  std::string name;
  name.reserve(Pattern.size() + 8);
  for (size_t k = 0; k < Pattern.size(); ++k) {
    if (Pattern[k] == '%' && k + 1 < Pattern.size() && Pattern[k + 1] == 'd') {
      name += utile::IntToStr(Run);
      ++k;
    } else {
      name += Pattern[k];
    }
  }
  return name;
}

namespace {
// A raster written under a temporary name beside its target; both files are
// removed unless they were renamed in.
class tMapAside {
 public:
  explicit tMapAside(const std::string& target)
      : fStem(Format("%s.~%d", target, static_cast<Integer>(::getpid()))) {}
  ~tMapAside() {
    if (fDone) return;
    std::remove((fStem + utile::ImageExtension).c_str());
    std::remove((fStem + utile::DocExtension).c_str());
  }
  tMapAside(const tMapAside&) = delete;
  tMapAside& operator=(const tMapAside&) = delete;

  const std::string& Stem() const { return fStem; }
  void RenameTo(const std::string& target) {
    for (const std::string* extension : {&utile::ImageExtension, &utile::DocExtension})
      if (std::rename((fStem + *extension).c_str(), (target + *extension).c_str()) != 0)
        throw utile::EInOutError(Format("Cannot replace file \"%s\"", target + *extension));
    fDone = true;
  }

 private:
  std::string fStem;
  bool fDone = false;
};

// The documented value of a line of the documentation text replaced.
void ReplaceDocValue(std::string& doc, std::string_view key, const std::string& value) {
  size_t at = 0;
  while ((at = doc.find(key, at)) != std::string::npos) {
    if (at == 0 || doc[at - 1] == '\n') {
      const size_t start = at + key.size();
      const size_t end = doc.find("\r\n", start);
      doc.replace(start, (end == std::string::npos ? doc.size() : end) - start, value);
    }
    at += key.size();
  }
}
}  // namespace

void WriteMap(Double MinX, Double MaxX, Double MinY, Double MaxY, Integer Columns, Integer Rows,
              const std::string& FileName) {
  if (Columns < 1 || Rows < 1)
    throw utile::EInvalidArgument(
        Format("A map of %d columns and %d rows has no cell: it cannot be written.", Columns, Rows));
  if (!utile::MatHasShape(ResultMap, static_cast<size_t>(Columns), static_cast<size_t>(Rows)))
    throw utile::EInvalidArgument(
        Format("The result map (%d columns of %d rows) is not a map of %d columns and %d rows: it cannot be "
               "written.",
               static_cast<Integer>(ResultMap.size()),
               static_cast<Integer>(ResultMap.empty() ? 0 : ResultMap[0].size()), Columns, Rows));

  std::string target = MapFileName(FileName, RunNumber);
  const std::string extension = utile::ExtractFileExt(target);
  if (!extension.empty() && (extension == utile::ImageExtension || extension == utile::DocExtension))
    target.resize(target.size() - extension.size());

  tMapAside aside(target);
  // A new raster is real, in binary storage, on the plane reference system with a unit distance of 1.
  utile::tRaster map;
  map.FileName = aside.Stem();
  map.Columns = Columns;
  map.Rows = Rows;
  map.minX = MinX;
  map.maxX = MaxX;
  map.minY = MinY;
  map.maxY = MaxY;
  map.ComputeResolution();

  Double largest = -std::numeric_limits<Double>::infinity();
  {
    utile::TIdrisiFile out;
    map.OpenW(out);
    // The top row first.
    for (Integer r = Rows - 1; r >= 0; --r)
      for (Integer c = 0; c < Columns; ++c) {
        const Double value = ResultMap[static_cast<size_t>(c)][static_cast<size_t>(r)];
        if (value > largest) largest = value;
        utile::Single cell;
        if (value > MaxMapValue || value > FLT_MAX)
          cell = std::numeric_limits<utile::Single>::infinity();
        else if (value < -FLT_MAX)
          cell = -std::numeric_limits<utile::Single>::infinity();
        else
          cell = static_cast<utile::Single>(value);
        utile::WriteRaster(out, cell);
      }
    utile::CloseRaster(out);
  }
  if (largest == -std::numeric_limits<Double>::infinity()) largest = 0;  // no cell is a number
  largest = std::min(largest, MaxMapValue);
  map.MinValue = 0;
  map.MaxValue = largest > FLT_MAX ? FLT_MAX : static_cast<utile::Single>(largest);
  map.WriteDoc();
  if (largest > FLT_MAX) {
    // The documentation states the maximum beyond the range of a single.
    std::string doc = utile::LoadTextFromFile(map.DocFileName());
    ReplaceDocValue(doc, "max. value  : ", utile::FloatToStr(largest));
    ReplaceDocValue(doc, "display max : ", utile::FloatToStr(largest));
    utile::SaveTextToFile(map.DocFileName(), doc);
  }
  aside.RenameTo(target);
}

// ------------------------------------------------------------------ aggregation

namespace {
// Where the cells of one axis begin and how many there are.
struct tGridAxis {
  Double Origin = 0;
  int64_t Cells = 1;

  int64_t CellOf(Double position, Double side) const {
    const Double k = std::floor((position - Origin) / side);
    return std::clamp<int64_t>(static_cast<int64_t>(std::max(k, 0.0)), 0, Cells - 1);
  }
};

tGridAxis GridAxis(Double axisMin, Double axisMax, Double lowest, Double highest, Double side,
                   const char* name) {
  tGridAxis axis;
  const Double before = std::min(0.0, std::floor((lowest - axisMin) / side));
  axis.Origin = axisMin + before * side;
  const Double cells = std::max(1.0, std::ceil((std::max(axisMax, highest) - axis.Origin) / side));
  if (!(cells <= MaxGridCellsPerAxis))
    throw utile::EInvalidArgument(
        Format("A grid resolution of %g makes %.0f cells along %s: too many for a grid.", side, cells, name));
  axis.Cells = static_cast<int64_t>(cells);
  return axis;
}
}  // namespace

void ExtractPatches(const tParam& Param, Double AxisMinX, Double AxisMaxX, Double AxisMinY, Double AxisMaxY) {
  const Double side = Param.GridResolution;
  if (!(side > 0) || !std::isfinite(side))
    throw utile::EInvalidArgument(
        Format("The grid resolution must be a positive number: %g cannot be used.", side));
  std::vector<size_t> working;
  for (size_t i = 0; i < Patches.size(); ++i)
    if (Patches[i].A >= MinAggregatedArea && std::isfinite(Patches[i].x) && std::isfinite(Patches[i].y))
      working.push_back(i);

  tArrayOfCircles aggregated;
  tAggregateComposition composition;
  if (!working.empty()) {
    Double lowX = Patches[working[0]].x, highX = lowX, lowY = Patches[working[0]].y, highY = lowY;
    for (const size_t i : working) {
      lowX = std::min(lowX, Patches[i].x);
      highX = std::max(highX, Patches[i].x);
      lowY = std::min(lowY, Patches[i].y);
      highY = std::max(highY, Patches[i].y);
    }
    const tGridAxis gx = GridAxis(AxisMinX, AxisMaxX, lowX, highX, side, "x");
    const tGridAxis gy = GridAxis(AxisMinY, AxisMaxY, lowY, highY, side, "y");

    // The cells met, by column, then by row, their patches in patch order.
    struct tPlaced {
      int64_t ix, iy;
      size_t patch;
    };
    std::vector<tPlaced> placed;
    placed.reserve(working.size());
    for (const size_t i : working)
      placed.push_back({gx.CellOf(Patches[i].x, side), gy.CellOf(Patches[i].y, side), i});
    std::stable_sort(placed.begin(), placed.end(), [](const tPlaced& a, const tPlaced& b) {
      return a.ix != b.ix ? a.ix < b.ix : a.iy < b.iy;
    });
    for (size_t first = 0; first < placed.size();) {
      size_t last = first;
      Double sum = 0;
      while (last < placed.size() && placed[last].ix == placed[first].ix &&
             placed[last].iy == placed[first].iy)
        sum += Patches[placed[last++].patch].A;
      if (sum >= MinAggregateArea) {
        tCircle patch;
        patch.popID = AggregatePopID;
        patch.x = gx.Origin + (static_cast<Double>(placed[first].ix) + 0.5) * side;
        patch.y = gy.Origin + (static_cast<Double>(placed[first].iy) + 0.5) * side;
        patch.A = sum;
        aggregated.push_back(patch);
        std::vector<tContrib>& members = composition.emplace_back();
        for (size_t k = first; k < last; ++k) {
          const tCircle& member = Patches[placed[k].patch];
          members.push_back({member.popID, static_cast<Single>(member.A / sum)});
        }
      }
      first = last;
    }
  }
  AggregatedPatches = std::move(aggregated);
  AggregateComposition = std::move(composition);
}

// ------------------------------------------------------------------ connection profiles

namespace {
constexpr Double ProfileTolerance = 1e-10;

// The index of the value within the tolerance in sorted Values, or -1.
std::ptrdiff_t ValueIndex(const tVectorOfDouble& values, Double value) {
  const auto at = std::lower_bound(values.begin(), values.end(), value - ProfileTolerance);
  if (at == values.end() || *at > value + ProfileTolerance) return -1;
  return at - values.begin();
}
}  // namespace

tVectorOfDouble DistinctMapValues() {
  // Kept sorted, so that a cell costs a search among the values met so far; a
  // value counts as met when one kept lies within the tolerance.
  tVectorOfDouble kept;
  bool any = false;
  Double previous = 0;
  for (const tVectorOfDouble& row : Map)
    for (const Double v : row) {
      if (std::isnan(v) || (any && v == previous)) continue;
      any = true;
      previous = v;
      const auto at = std::lower_bound(kept.begin(), kept.end(), v - ProfileTolerance);
      if (at != kept.end() && *at <= v + ProfileTolerance) continue;
      kept.insert(at, v);
      if (kept.size() > MaxProfileValues)
        throw utile::EInvalidOperation(Format(
            "The permeability map holds more than %d distinct values: connection profiles are made for "
            "at most %d values (one matrix each).",
            static_cast<Integer>(MaxProfileValues), static_cast<Integer>(MaxProfileValues)));
    }
  return kept;
}

std::vector<tMatrixOfDouble> ConnectionProfiles(const tVectorOfDouble& Values) {
  const size_t n = Patches.size();
  if (Values.size() > MaxProfileValues)
    throw utile::EInvalidOperation(Format("Connection profiles are made for at most %d values, not %d.",
                                          static_cast<Integer>(MaxProfileValues),
                                          static_cast<Integer>(Values.size())));
  const double cells = static_cast<double>(Values.size()) * static_cast<double>(n) * static_cast<double>(n);
  if (cells > MaxProfileCells)
    throw utile::EInvalidOperation(Format(
        "Connection profiles of %d patches over %d values would need %.0f cells: at most %.0f can be made.",
        static_cast<Integer>(n), static_cast<Integer>(Values.size()), cells, MaxProfileCells));
  tVectorOfDouble sorted = Values;
  std::vector<size_t> order(sorted.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return Values[a] < Values[b]; });
  for (size_t k = 0; k < order.size(); ++k) sorted[k] = Values[order[k]];

  std::vector<tMatrixOfDouble> profiles(Values.size(), tMatrixOfDouble(n, tVectorOfDouble(n, 0.0)));
  tVectorOfDouble met;
  utile::tVectorOfCardinal counts;
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < i; ++j) {
      HistoStraightLine(static_cast<Integer>(i), static_cast<Integer>(j), met, counts, ProfileStepsPerUnit);
      for (size_t k = 0; k < met.size(); ++k) {
        const std::ptrdiff_t at = ValueIndex(sorted, met[k]);
        if (at < 0) continue;  // outside the raster, where the map holds no 0
        const Double length = static_cast<Double>(counts[k]) / ProfileStepsPerUnit;
        tMatrixOfDouble& profile = profiles[order[static_cast<size_t>(at)]];
        profile[i][j] += length;
        profile[j][i] += length;
      }
    }
  return profiles;
}

std::vector<tMatrixOfDouble> ConnectionProfiles() {
  return ConnectionProfiles(DistinctMapValues());
}

std::string ConnectionProfilesText(const tVectorOfDouble& Values,
                                   const std::vector<tMatrixOfDouble>& Profiles) {
  std::string text;
  for (size_t k = 0; k < Values.size() && k < Profiles.size(); ++k) {
    text += utile::FloatToStr(Values[k]);
    text += "\r\n";
    text += utile::MatToStr(Profiles[k], "%.3g");
  }
  return text;
}

}  // namespace models
