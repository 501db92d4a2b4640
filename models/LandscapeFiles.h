// What the main window reads and writes of the landscape besides model files:
// the landscape file (".patch"), the maps that serve as background pictures or
// as the permeability raster, the raster export of a result grid, the
// aggregation of the patches into grid cells and the connection profiles of
// the permeability raster. Everything here works without a window; the main
// window asks for the file names, calls these and shows what comes back.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "models/MetapopCommon.h"

namespace models {

// ------------------------------------------------------------------ the landscape file
//
// One patch per line: popID, x, y, A, and optionally b and e, separated by
// white space. The list ends at the end of the file, at an empty line or at the
// sentinel line (identifier -99999), after which come n lines of n distances.

constexpr Integer PatchListSentinel = -99999;

// A landscape file as read, not yet in force.
struct tLandscapeFile {
  tArrayOfCircles Patches;
  utile::tMatrixOfDouble DistanceMat;  // n x n after a sentinel, else empty
  bool DistanceMatFixed = false;       // the file has a sentinel and its distances
};

// Reads the whole file; nothing in force changes. A file that cannot be
// opened, a garbled patch line, a file without any patch line or a distance
// matrix that cannot be read raise EInOutError naming the file and the line.
tLandscapeFile ReadLandscapeFile(const std::string& FileName);
// The same from the file's text; FileName only names it in the messages.
tLandscapeFile ParseLandscapeFile(std::string_view Text, const std::string& FileName);

// The file's text: a line per patch ("popID" TAB x TAB y TAB A TAB b TAB e, the
// reals in the 23-character form, CR LF). With Distances (n x n for the n
// patches) a sentinel line and the matrix follow, so that the distances read
// from a landscape file survive a save.
std::string LandscapeFileText(const tArrayOfCircles& Patches,
                              const utile::tMatrixOfDouble* Distances = nullptr);
// Writes the text aside and renames it over FileName when complete.
void SaveLandscapeFile(const std::string& FileName, const tArrayOfCircles& Patches,
                       const utile::tMatrixOfDouble* Distances = nullptr);

// ------------------------------------------------------------------ maps

// What a map file is taken for, by its extension as written (case counts).
enum class tMapFileKind {
  mfTextMatrix,    // ".txt": text matrix file
  mfBinaryMatrix,  // ".bin": binary matrix file
  mfRaster,        // ".rst": raster image through its documentation
  mfPicture,       // ".bmp", ".jpg": a picture, for the background only
  mfOther,
};
tMapFileKind MapFileKind(const std::string& FileName);
// The matrix of a matrix or raster file (first index: the matrix's rows, the
// raster's rows); EInvalidArgument for a picture or another kind.
utile::tMatrixOfDouble ReadMapMatrix(const std::string& FileName);
// The matrix of a permeability map: as ReadMapMatrix, pictures and other kinds
// raising EInvalidArgument "This type of file cannot be used as permeability map.".
utile::tMatrixOfDouble ReadPermeabilityMap(const std::string& FileName);

// ------------------------------------------------------------------ raster export

// The name of a map file: every "%d" of Pattern becomes Run, everything else
// stays as written ("50%_run%d" with 7 is "50%_run7").
std::string MapFileName(std::string_view Pattern, Integer Run);

// Cells above this are written as +infinity, and the documented maximum is held to it.
constexpr Double MaxMapValue = 1e301;

// Writes ResultMap ([column][row], row 0 at the bottom) as a real raster in
// binary storage named MapFileName(FileName, RunNumber) (an image or
// documentation extension on the name is dropped): Columns x Rows cells over
// MinX..MaxX x MinY..MaxY on the plane reference system, unit distance 1, top
// row first, documented with minimum 0 and the largest cell as maximum. Both
// files are written aside and renamed in when complete. A ResultMap of another
// size, or a map without cells, is refused (EInvalidArgument) before anything
// is written.
void WriteMap(Double MinX, Double MaxX, Double MinY, Double MaxY, Integer Columns, Integer Rows,
              const std::string& FileName);

// ------------------------------------------------------------------ aggregation

// Patches below this area are left out of the aggregation.
constexpr Double MinAggregatedArea = 0.001;
// Aggregated patches are made only of cells whose patches sum to this area at least.
constexpr Double MinAggregateArea = 1;
constexpr Integer AggregatePopID = 99;
// Cells per axis of the aggregation grid at most.
constexpr Double MaxGridCellsPerAxis = 2147483647.0;

// Gathers the patches of Patches of area MinAggregatedArea or more into the
// cells of side Param.GridResolution of a grid anchored at (AxisMinX,
// AxisMinY), the minima of the landscape chart's axes. The grid reaches over
// the axes' range and over every such patch (cells before the anchor for
// patches below it); the last cell of each axis also holds its upper edge. The
// cells are walked by column, then by row; each whose patches sum to
// MinAggregateArea or more becomes a patch of AggregatedPatches (popID 99, at
// the cell's centre, the sum as its area) with its patches and their area
// shares in AggregateComposition, in patch order. A resolution that is not a
// positive finite number, or a grid of more than MaxGridCellsPerAxis cells on
// an axis, raises EInvalidArgument and leaves both as they were.
void ExtractPatches(const tParam& Param, Double AxisMinX, Double AxisMaxX, Double AxisMinY, Double AxisMaxY);

// ------------------------------------------------------------------ connection profiles

// A profile matrix is made for each distinct value of Map: at most this many.
constexpr size_t MaxProfileValues = 256;
// The profiles hold at most this many cells together (a double each).
constexpr double MaxProfileCells = 67108864.0;
// Samples per landscape unit along the line between two patches: a profile's
// lengths come in steps of 1 / ProfileStepsPerUnit.
constexpr Cardinal ProfileStepsPerUnit = 100;

// The distinct values of Map (within 1e-10, cells that are not numbers left
// out) in ascending order. Above MaxProfileValues, EInvalidOperation.
utile::tVectorOfDouble DistinctMapValues();
// For each of Values (sorted, distinct: DistinctMapValues), the n x n matrix
// whose [i][j] is the length of the straight line between patches i and j that
// lies on cells of that value: the samples of HistoStraightLine with
// ProfileStepsPerUnit samples per unit that met the value, divided by
// ProfileStepsPerUnit. Samples outside the raster count as the value 0. The
// matrices are symmetric (sampled from the later patch of each pair towards the
// earlier one) with a diagonal of 0. Too many values or cells together raise
// EInvalidOperation before anything is computed.
std::vector<utile::tMatrixOfDouble> ConnectionProfiles(const utile::tVectorOfDouble& Values);
// The profiles of DistinctMapValues().
std::vector<utile::tMatrixOfDouble> ConnectionProfiles();
// The listing: for each value, a line with the value in its shortest form, then
// its matrix with cells formatted "%.3g" (TAB-separated, CR LF).
std::string ConnectionProfilesText(const utile::tVectorOfDouble& Values,
                                   const std::vector<utile::tMatrixOfDouble>& Profiles);

}  // namespace models
