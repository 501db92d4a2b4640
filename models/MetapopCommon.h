// The one landscape of the process and the analyses that rest on it: the patch
// array, the distance, permeability and link matrices, the permeability raster
// and its settings, the result globals of the landscape analyses, and the
// metapopulation capacity of a patch network with the value of each patch.
//
// Only the main window and the patch database dialog write the patches and the
// settings; every model and workbench reads them here. Tests start from a clean
// landscape with ResetLandscape.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Utile/CommonDecl.h"
#include "Utile/Delaunay.h"
#include "Utile/RunTime.h"

namespace models {

using utile::Byte;
using utile::Cardinal;
using utile::Double;
using utile::Integer;
using utile::Single;

// ------------------------------------------------------------------ records

// One habitat patch.
struct tCircle {
  Integer popID = 0;  // the patch's identifier
  Double x = 0;       // position in landscape units
  Double y = 0;
  Double A = 0;  // area
  Double b = 0;  // birth or colonisation parameter of the patch
  Double e = 0;  // extinction parameter of the patch
};
using tArrayOfCircles = std::vector<tCircle>;

// A bounding rectangle.
struct tBox {
  Double MinX = 0;
  Double MaxX = 0;
  Double MinY = 0;
  Double MaxY = 0;
};

// One patch of Patches gathered into an aggregated patch, with its share of the
// aggregate's area.
struct tContrib {
  Integer ID = 0;  // popID of the patch
  Single contrib = 0;
};
using tAggregateComposition = std::vector<std::vector<tContrib>>;

// The parameters of the landscape analyses, filled by the workbenches.
struct tParam {
  Double Territ = 0;  // area per individual
  Double alph = 0;    // dispersal decay: the reciprocal of the mean dispersal distance
  Double colonisation = 0;
  Double extinction = 0;
  Double ZetaEm = 0;  // exponents of area in emigration, immigration and extinction
  Double ZetaIm = 0;
  Double ZetaExt = 0;
  Double Beta = 0;
  Double BetaIntercept = 0;
  Integer NewPatchArea = 0;  // area of a hypothetical added patch
  Double GridResolution = 0;
  Integer PerCentBootstrap = 0;  // share of patches drawn per bootstrap round
  Integer Iteration = 0;         // bootstrap rounds
  bool bootstrap = false;
  bool Aggregation = false;
  bool Mask = false;
  Double MiX = 0;  // the rectangle of a grid analysis
  Double MaX = 0;
  Double MiY = 0;
  Double MaY = 0;
  bool MapForInterface = false;
  Integer MapCol = 0;  // columns and rows of the result grid
  Integer MapRow = 0;
};

// Permeability rules of the patch-to-patch permeability matrix.
constexpr Byte ptConstant = 0;
constexpr Byte ptExponential = 1;
constexpr Byte ptStraightLine = 2;

// The logarithm given to raster cells of value 0 or less: they block a path.
constexpr Double BlockedCellLog = -1.7e308;

// ------------------------------------------------------------------ the landscape

extern tArrayOfCircles Patches;
// One patch per occupied grid cell, and the patches of Patches each one gathers.
extern tArrayOfCircles AggregatedPatches;
extern tAggregateComposition AggregateComposition;

extern utile::tMatrixOfDouble DistanceMat;  // n x n patch-to-patch distances
extern utile::tMatrixOfDouble FrictionMap;  // n x n permeability: survival of a disperser between two patches
extern utile::tMatrixOfBoolean ConnectanceMat;  // n x n: which patch pairs are linked
// DistanceMat came from the landscape file and is not recomputed.
extern bool DistanceMatFixed;

// The permeability raster, cells in [0, 1], indexed [x][y]: the first index runs
// along x over MapWidth, the second along y over MapHeight.
extern utile::tMatrixOfDouble Map;
extern Integer MapWidth;  // extent of the study area (and of Map) in landscape units
extern Integer MapHeight;
extern Byte PermeabilityType;            // ptConstant, ptExponential or ptStraightLine
extern Double ConstantPermeability;      // permeability of the constant rule
extern Double MeanPermeabilityDistance;  // mean distance of the exponential rule

// The triangulation of the patch positions, made once and reused.
extern std::unique_ptr<utile::tDelaunay> DelaunayMesh;

extern Integer RunNumber;         // run counter used in map file names
extern std::string MaskFileName;  // mask raster of the grid analyses

// Results of the grid and equilibrium analyses.
extern utile::tVectorOfDouble EquilibriumOccupancy;
extern utile::tVectorOfDouble PatchValues;
extern utile::tVectorOfDouble PatchValuesPerArea;
extern utile::tVectorOfDouble ContributionEigenvector;
extern utile::tVectorOfDouble PatchSizeContributions;
extern utile::tVectorOfDouble PatchSizeSensitivities;
extern Double LandscapeCapacity;
extern Double MetapopulationSize;
extern utile::tMatrixOfDouble ResultMap;  // indexed [column][row], row 0 at the bottom
extern utile::tMatrixOfDouble ContributionMap;

// The last capacity computation: its landscape matrix, its right (column 0) and
// left (column 1) dominant eigenvectors, and its eigenvalue (element 0).
extern utile::tMatrixOfDouble HanskiMat;
extern utile::tMatrixOfDouble HanskiEigenvectors;
extern utile::tVectorOfDouble HanskiEigenvalue;
// False when the last capacity computation's eigenvectors did not settle within
// the iteration budget (the eigenvalue is then the best estimate reached).
extern bool HanskiConverged;

// Back to the state at program start: no patches, empty matrices and results,
// default settings.
void ResetLandscape();

// ------------------------------------------------------------------ distances and permeability

Integer PatchCount();
Double DistanceEuclidian(Integer i, Integer j);

// Fills DistanceMat (unless it is fixed), then the permeability matrix.
void ComputeDistanceMatrix();
// Fills FrictionMap by PermeabilityType.
void ComputePermeabilityMatrix();
// Builds the logarithm of the permeability raster.
void ComputeLnMap();
// The private logarithm of Map, as the straight-line rule reads it.
const utile::tMatrixOfDouble& LnMapView();

// The distinct values of Map met along the segment from patch i to patch j,
// sampled NbSteps times per landscape unit, with how often each was met (a
// sample outside the raster counts as 0).
void HistoStraightLine(Integer i, Integer j, utile::tVectorOfDouble& Values, utile::tVectorOfCardinal& Counts,
                       Cardinal NbSteps);

// Rebuilds DelaunayMesh from the patch positions, in patch order.
void ComputeDelaunayMesh();

// How the patches are linked.
constexpr Integer ctFullConnectance = 0;  // every pair, the diagonal included
constexpr Integer ctClosePatches = 1;     // pairs closer than a distance, and the diagonal
constexpr Integer ctDelaunay = 2;         // pairs sharing an edge of the triangulation
constexpr Integer ctRandom = 3;           // a share of the pairs drawn at random, and the diagonal
// Recomputes the distance and permeability matrices, then fills ConnectanceMat
// by the link rule; DistanceThreshold serves ctClosePatches, ConnectancePercent
// (0 to 100) ctRandom. Any other rule links nothing.
void ComputeConnectanceMatrix(Integer ConnectanceType, Double DistanceThreshold, Integer ConnectancePercent);

Double PermeabilityConstant(Integer i, Integer j, Double value);
Double PermeabilityExponential(Integer i, Integer j, Double alpha);
// The product of the raster along the segment from patch i to patch j, sampled
// 500 times per landscape unit; needs ComputeLnMap first.
Double PermeabilityStraightLine(Integer i, Integer j, Double parameter);

// ------------------------------------------------------------------ capacity and patch values

// The dominant eigenvalue of a nonnegative square matrix and its eigenvector,
// scaled so that its element of largest magnitude is 1, by power iteration.
// When the plain iteration does not settle (a periodic matrix, such as two
// patches of unequal areas or any bipartite network) it iterates on the matrix
// shifted by a multiple of the identity, which has the same eigenvectors and a
// strictly dominant eigenvalue. Returns false when neither settled within
// MaxIter iterations; x and Lambda then hold the last estimate. Transposed
// iterates on the transpose of M (its left eigenvector) without forming it.
bool PerronEigensystem(const utile::tMatrixOfDouble& M, utile::tVectorOfDouble& x, Double& Lambda,
                       Integer MaxIter = 1000, bool Transposed = false);

// (area / territory)^exponent, the area term of every landscape matrix; a zero
// territory divides by zero.
Double ScaledAreaPower(Double area, Double territory, Double exponent);

// The metapopulation capacity of the patches: builds HanskiMat and its dominant
// eigen-system and returns the eigenvalue. Fewer than two patches compute
// nothing and return 0.
Double ComputeMetapopulationCapacity(const tParam* Param, const tArrayOfCircles& Patches);
// Each patch's share of the last capacity computation, which must have been
// made for these patches.
utile::tVectorOfDouble ComputeHanskiPatchValue(const tArrayOfCircles& Patches);
// The capacity brought by a new patch of the given area at (x, y), from the last
// capacity computation made for these patches.
Double HypotheticCapacity(Double x, Double y, Double area, const tParam& Param,
                          const tArrayOfCircles& Patches);
// HypotheticCapacity at any (x, y), with the terms of each patch computed once:
// the same values to the last bit, and the same errors, raised here.
std::function<Double(Double, Double)> HypotheticCapacityAt(Double area, const tParam& Param,
                                                          const tArrayOfCircles& Patches);
tBox BoundingBox(const tArrayOfCircles& Patches);
// Values the patches of the landscape from windows of side min(W, H) / n swept
// over it in half-side steps; each window's patch values come from its own
// capacity, with dispersal decay Alpha and territory size Territory. Capacity
// receives the mean capacity of the windows holding two patches or more, Map
// (indexed [column][row], row 0 at the bottom, cells of side min(W, H) / m) the
// mean capacity of the windows covering each cell.
void ComputeMovingWindow(Double Alpha, Double Territory, Double Unused, Integer n, Integer m,
                         Double* Capacity, utile::tVectorOfDouble* Values, utile::tMatrixOfDouble* Map);

// ------------------------------------------------------------------ progress of the landscape analyses
//
// The equilibrium and grid analyses below let window messages through
// (utile::ProcessMessages) as they go, at least once every
// AnalysisWorkBetweenPumps multiplications and additions or their equivalent,
// so that the windows' handlers run inside them: the caller keeps what they
// read (the patches, the distances) from changing until they return. They read
// the patches, the parameters, the distances and the mask before the first
// message passes, and write the result globals only once they are done.

// What an analysis is doing.
enum class tAnalysisStage {
  asEquilibrium,   // the occupancy of all the patches
  asWithoutPatch,  // the occupancy without one patch: Done of Count
  asCapacity,      // the capacity of the patches
  asBootstrap,     // a bootstrap round: Done of Count
  asMap,           // the cells of the map, column Done of Count
};

// How an analysis tells its caller where it stands. Both may be empty.
struct tAnalysisProgress {
  // A stage begins (Done counts from 1; 0 of 0 where nothing is counted).
  std::function<void(tAnalysisStage Stage, Integer Done, Integer Count)> StageStarts;
  // Asked each time messages may have passed: true ends the analysis with
  // EAnalysisStopped, every result global as it was.
  std::function<bool()> Stopped;
};

constexpr int64_t AnalysisWorkBetweenPumps = int64_t{1} << 21;

// An analysis that its caller stopped.
class EAnalysisStopped : public utile::EInvalidOperation {
  using utile::EInvalidOperation::EInvalidOperation;
};

// ------------------------------------------------------------------ equilibrium occupancy and size

// The equilibrium occupancy of each patch under the colonisation matrix M (n x n,
// one row per patch of Patches): the occupancy dynamics integrated by Euler steps
// from 0.1 in blocks of 101 steps until the change over a block falls to 1e-200 or
// 30,000 steps are counted. A step that leaves [0, 1] halves both rates and starts
// again. A negative or infinite rate, or both rates 0, raises EInvalidArgument
// before anything is integrated.
utile::tVectorOfDouble FindPequ(const tArrayOfCircles& Patches, const utile::tMatrixOfDouble& M,
                                const tParam& Param, const tAnalysisProgress& Progress = {});
// Entry k: the equilibrium size (sum of p A / T) of the patches without patch k,
// integrated until the change over a block reaches rounding level or 10,000,000
// steps are counted.
utile::tVectorOfDouble FindMetapopSizeMinusOnePatch(const tArrayOfCircles& Patches,
                                                    const utile::tMatrixOfDouble& M, const tParam& Param,
                                                    const tAnalysisProgress& Progress = {});
// The equilibrium of the patches: EquilibriumOccupancy, MetapopulationSize, each
// patch's loss of size when removed (PatchSizeContributions) and the sensitivity
// of the size to its area (PatchSizeSensitivities), both scaled to sum one; the
// sensitivities are 0 when their linear system cannot be solved. ResultMap
// becomes a zero grid of Rows rows and Cols columns, PatchValuesPerArea is sized
// to the patches. The extents are not used. The distances are the landscape's
// own for Patches, those between the array's patches for any other array.
void FindMetapopulationSize(const tParam& Param, const tArrayOfCircles& Patches, Double XMin, Double XMax,
                            Double YMin, Double YMax, Integer Rows, Integer Cols,
                            const tAnalysisProgress& Progress = {});

// ------------------------------------------------------------------ grid maps of a hypothetical patch
//
// The grid lies over XMin..XMax x YMin..YMax in Cols columns and Rows rows; a new
// patch of area NewPatchArea is placed at each cell centre. ResultMap is indexed
// [column][row], row 0 at the bottom. With Mask set and MapForInterface off, only
// the cells whose mask value is exactly 1 are computed: cell (column j, row i)
// reads row Rows - 1 - i, column j of the raster MaskFileName, which must have the
// grid's size (EInvalidOperation names the file and both sizes otherwise). A
// failure leaves the result globals as they were.

// The capacity a new patch brings at each cell, as a ratio of the capacity of the
// patches (clamped to [0, 10]; 0 where the patches have no capacity), with
// LandscapeCapacity, PatchValues and PatchValuesPerArea (scaled to sum one). With
// bootstrap, the mean over Iteration rounds of the same map for samples of
// PerCentBootstrap % of the patches drawn with replacement (the clamp is [0, 1000]
// under a mask); a patch never drawn keeps -1 in both value vectors.
void ComputeTestPosition(const tParam& Param, Double XMin, Double XMax, Double YMin, Double YMax,
                         Integer Cols, Integer Rows, const tArrayOfCircles& Patches,
                         const tAnalysisProgress& Progress = {});
// The contribution of a new patch at each cell to colonisation, each patch
// weighted by its share in the colonisation of the others: EquilibriumOccupancy,
// ContributionMap (the transpose of the shares B[i][j] of patch i's colonisation
// that come from patch j), ContributionEigenvector (the stationary weights of B,
// summing to one) and ResultMap; under a mask the map is divided by its largest
// cell. A patch without colonisation pressure has a zero row of B, a patch
// without occupancy weight 0.
void FindMatB(const tParam& Param, const tArrayOfCircles& Patches, Double XMin, Double XMax, Double YMin,
              Double YMax, Integer Cols, Integer Rows, const tAnalysisProgress& Progress = {});
// The contribution to colonisation of a new patch at (x, y), from the occupancy p
// and the weights w of the patches; 0 for one patch and for an extinction rate of 0.
Double hypotheticContribution(Double x, Double y, const tParam& Param, const tArrayOfCircles& Patches,
                              const utile::tVectorOfDouble& p, const utile::tVectorOfDouble& w);

// ------------------------------------------------------------------ results of aggregated patches

// Per-aggregate values spread back to the patches: each patch that an
// aggregate's composition names (found by its popID, the first patch of that
// popID; a popID that no patch has is skipped) takes the aggregate's value,
// times its share of the aggregate's area when Shares is set. A -1 (an aggregate
// that no bootstrap round drew) stays -1. Patches in no aggregate keep 0.
utile::tVectorOfDouble SpreadAggregateValues(const utile::tVectorOfDouble& AggregateValues,
                                             const tAggregateComposition& Composition,
                                             const tArrayOfCircles& Patches, bool Shares);

}  // namespace models
