#include "Utile/MapConversions.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <optional>
#include <unistd.h>

#include "Utile/MapFileOps.h"
#include "Utile/Platform.h"
#include "Utile/RunTime.h"

namespace utile {

namespace map_conversions_detail {
int (*RenameFile)(const char* from, const char* to) = &std::rename;
}  // namespace map_conversions_detail

namespace {

using map_conversions_detail::RenameFile;

// ---------------------------------------------------------------- numbers

constexpr double ByteLow = 0, ByteHigh = 255;
constexpr double IntegerLow = -32768, IntegerHigh = 32767;

inline bool Within(double x, double low, double high) { return x >= low && x <= high; }

bool FitsType(double whole, TGISDataType type) {
  return type == idtByte ? Within(whole, ByteLow, ByteHigh)
                         : type == idtInteger ? Within(whole, IntegerLow, IntegerHigh) : true;
}

// ---------------------------------------------------------------- the plan of one map

// How present cells become new values.
enum tCellRule { crCopy, crRoundDecimals, crRound, crTruncate, crBoolean, crStretch };

struct tPlan {
  TGISDataType NewType = idtReal;
  double NewFlag = 0;
  bool SetRange = false;
  double NewMin = 0, NewMax = 0;
  std::string LineageLine;
  std::string ResultLine;
  bool FlagLine = true;     // "Background value set to %g" when the flag moves
  bool Conversion = false;  // reports rounded cells
  bool Change9999 = false;  // cells of -9999 take the new flag
  tCellRule Rule = crCopy;
  double Min = 0, Factor = 1, Offset = 0;  // the stretch: (x - Min) x Factor + Offset
};

// ---------------------------------------------------------------- progress

// The gauge of the map in hand: the percentage of cells done, rounded (halves to
// even), told only when it changes; messages are let through between runs of cells.
class tProgress {
public:
  // The walk has set the gauge to 0 for the map.
  tProgress(Int64 total, const tMapWalkHooks& hooks) : fTotal(total), fHooks(hooks) { fNext = NextChange(); }

  // Cells before the percentage next changes, at most a run short enough for the
  // message pump.
  Int64 Limit() const { return std::min<Int64>(fNext - fCount, RunCells); }

  void Done(Int64 cells) {
    fCount += cells;
    if (fCount >= fNext) {
      fPercent = Percent(fCount);
      Tell();
      fNext = NextChange();
    }
    ProcessMessages();
  }

private:
  static constexpr Int64 RunCells = 65'536;

  Integer Percent(Int64 count) const {
    if (fTotal <= 0) return 0;
    const unsigned __int128 n = static_cast<unsigned __int128>(count) * 100;
    const auto d = static_cast<unsigned __int128>(fTotal);
    auto q = static_cast<Integer>(n / d);
    const unsigned __int128 twice = 2 * (n % d);
    if (twice > d || (twice == d && (q & 1) != 0)) ++q;
    return q;
  }

  // The first count above the present one with a higher percentage (past the end
  // when there is none).
  Int64 NextChange() const {
    if (fTotal <= 0 || fPercent >= 100) return fTotal + RunCells + 1;
    const auto target = static_cast<unsigned __int128>(2 * fPercent + 1);
    Int64 c = static_cast<Int64>(target * static_cast<unsigned __int128>(fTotal) / 200);
    c = std::max(c, fCount + 1);
    while (c > fCount + 1 && Percent(c - 1) > fPercent) --c;
    while (Percent(c) <= fPercent) ++c;
    return c;
  }

  void Tell() const {
    if (fHooks.Progress) fHooks.Progress(fPercent);
  }

  Int64 fTotal;
  Int64 fCount = 0;
  Int64 fNext = 0;
  Integer fPercent = 0;
  const tMapWalkHooks& fHooks;
};

// ---------------------------------------------------------------- the cell pass

// a when c holds, else b, without a branch (which would keep the compiler from
// working on several cells at once).
inline Single Pick(bool c, Single a, Single b) {
  const uint32_t mask = 0u - static_cast<uint32_t>(c);
  return std::bit_cast<Single>((std::bit_cast<uint32_t>(a) & mask) | (std::bit_cast<uint32_t>(b) & ~mask));
}

// The nearest integer (halves to even) of singles below 2^22 in magnitude, by adding
// and removing 1.5 x 2^23. Larger values come out within one of themselves: far
// out of the range of any whole-number map all the same.
inline Single RoundSmall(Single x) {
  constexpr Single Shift = 0x1.8p23f;
  return (x + Shift) - Shift;
}

// One run of cells through the rule: missing cells take the new flag, cells of
// -9999 too when asked; whole-number maps receive rounded values. Cells that do not
// fit their type (a documented range that is out of date) and, for the
// conversions, present cells with decimals are noted. A test that does not apply
// compares with not-a-number, which no cell equals.
template <tCellRule tRule, bool tWhole>
struct tTransform {
  Single MissingFlag;  // the source's flag when it is in force
  Single NewFlag;
  Single Replaced;     // -9999 when its cells take the new flag
  double Min, Factor, Offset;
  Single Low, High;
  bool Rounded = false;
  bool Outside = false;

  void operator()(const Single* __restrict from, Single* __restrict to, Cardinal count) {
    for (Cardinal k = 0; k < count; ++k) {
      const Single x = from[k];
      Single y;
      if constexpr (tRule == crCopy) {
        y = x;
      } else if constexpr (tRule == crRoundDecimals || tRule == crRound) {
        y = RoundSmall(x);
      } else if constexpr (tRule == crTruncate) {
        const Single r = RoundSmall(x);
        y = Pick(x >= 0, Pick(r > x, r - 1, r), Pick(r < x, r + 1, r));
      } else if constexpr (tRule == crBoolean) {
        y = Pick(x != 0, 1.0f, 0.0f);
      } else {
        const double v = (static_cast<double>(x) - Min) * Factor + Offset;
        y = static_cast<Single>(tWhole ? (v + 0x1.8p52) - 0x1.8p52 : v);
      }
      y = Pick(x == Replaced, NewFlag, y);
      to[k] = Pick(x == MissingFlag, NewFlag, y);
    }
    if constexpr (tRule == crRoundDecimals) {
      // For singles, lying within 1e-8 of the nearest integer is lying within 1e-8
      // of the integer part.
      int decimals = 0;
      for (Cardinal k = 0; k < count; ++k)
        decimals |= (std::fabs(from[k] - RoundSmall(from[k])) > 1e-8f) & (from[k] != MissingFlag);
      Rounded |= decimals != 0;
    }
    if constexpr (tWhole) {
      // Missing cells hold the new flag, which fits.
      int outside = 0;
      for (Cardinal k = 0; k < count; ++k) outside |= !(to[k] >= Low) | !(to[k] <= High);
      Outside |= outside != 0;
    }
  }
};

struct tPassReport {
  bool Rounded = false;
  bool Outside = false;
};

template <tCellRule tRule, bool tWhole>
tPassReport Pass(TIdrisiFile& in, TIdrisiFile& out, const tPlan& plan, tProgress& progress) {
  const Single none = std::numeric_limits<Single>::quiet_NaN();
  tTransform<tRule, tWhole> transform{in.Bak ? in.BkV : none,
                                      static_cast<Single>(plan.NewFlag),
                                      plan.Change9999 ? -9999.0f : none,
                                      plan.Min,
                                      plan.Factor,
                                      plan.Offset,
                                      static_cast<Single>(plan.NewType == idtByte ? ByteLow : IntegerLow),
                                      static_cast<Single>(plan.NewType == idtByte ? ByteHigh : IntegerHigh)};
  CopyRuns(
      in, out, [&] { return progress.Limit(); }, transform, [&](Cardinal count) { progress.Done(count); });
  return {transform.Rounded, transform.Outside};
}

template <tCellRule tRule>
tPassReport PassOf(TIdrisiFile& in, TIdrisiFile& out, const tPlan& plan, tProgress& progress) {
  if (plan.NewType == idtReal) return Pass<tRule, false>(in, out, plan, progress);
  return Pass<tRule, true>(in, out, plan, progress);
}

tPassReport RunCells(TIdrisiFile& in, TIdrisiFile& out, const tPlan& plan, tProgress& progress) {
  switch (plan.Rule) {
    case crCopy:
      return PassOf<crCopy>(in, out, plan, progress);
    case crRoundDecimals:
      return PassOf<crRoundDecimals>(in, out, plan, progress);
    case crRound:
      return PassOf<crRound>(in, out, plan, progress);
    case crTruncate:
      return PassOf<crTruncate>(in, out, plan, progress);
    case crBoolean:
      return PassOf<crBoolean>(in, out, plan, progress);
    default:
      return PassOf<crStretch>(in, out, plan, progress);
  }
}

// ---------------------------------------------------------------- files

void RemoveQuietly(const std::string& fileName) {
  if (!fileName.empty()) std::remove(fileName.c_str());
}

// A map name in the folder that no file has: its documentation and image files are
// created empty at once, so that no other writer takes them. Unless Release is
// called, the files of that name are removed when the object goes.
class tReservedMap {
public:
  tReservedMap(const std::string& folder, const char* prefix) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
      const std::string stem = Format("%s%s%d-%d", folder, prefix, static_cast<Integer>(::getpid()), ++counter);
      if (!Create(stem + ImageExtension)) continue;
      if (!Create(stem + DocExtension)) {
        std::remove((stem + ImageExtension).c_str());
        continue;
      }
      fStem = stem;
      return;
    }
    throw EInOutError(Format("Cannot create a temporary map in the folder \"%s\": %s", folder, SystemReason()));
  }
  ~tReservedMap() {
    if (fStem.empty()) return;
    RemoveQuietly(Image());
    RemoveQuietly(Doc());
  }
  tReservedMap(const tReservedMap&) = delete;
  tReservedMap& operator=(const tReservedMap&) = delete;

  const std::string& Stem() const { return fStem; }
  std::string Image() const { return fStem + ImageExtension; }
  std::string Doc() const { return fStem + DocExtension; }
  void Release() { fStem.clear(); }

private:
  static bool Create(const std::string& fileName) {
    const int handle = CreateNewFile(fileName, fileName);
    if (handle < 0) return false;
    ::close(handle);
    return true;
  }

  std::string fStem;
};

void Rename(const std::string& from, const std::string& to) {
  if (RenameFile(from.c_str(), to.c_str()) != 0)
    throw EInOutError(Format("Cannot rename \"%s\" to \"%s\": %s", from, to, SystemReason()));
}

// Moves the new map in under Target (path without extension): a map of that name is
// set aside first and deleted only once both new files are in place; after a
// failure the new files go back to their temporary name and the old map is put
// back as it was.
void MoveMapIn(tReservedMap& fresh, const std::string& folder, const std::string& target) {
  const std::string files[2][2] = {{fresh.Image(), target + ImageExtension}, {fresh.Doc(), target + DocExtension}};
  std::optional<tReservedMap> aside;
  bool setAside[2] = {false, false};
  bool movedIn[2] = {false, false};
  try {
    if (EntryExists(files[0][1]) || EntryExists(files[1][1])) aside.emplace(folder, "~old");
    for (int i = 0; i < 2; ++i)
      if (aside && EntryExists(files[i][1])) {
        Rename(files[i][1], i == 0 ? aside->Image() : aside->Doc());
        setAside[i] = true;
      }
    for (int i = 0; i < 2; ++i) {
      Rename(files[i][0], files[i][1]);
      movedIn[i] = true;
    }
  } catch (...) {
    for (int i = 0; i < 2; ++i)
      if (movedIn[i]) RenameFile(files[i][1].c_str(), files[i][0].c_str());
    for (int i = 0; i < 2; ++i)
      if (setAside[i]) {
        const std::string from = i == 0 ? aside->Image() : aside->Doc();
        // An old file that cannot go back stays under its aside name rather than
        // being deleted.
        if (RenameFile(from.c_str(), files[i][1].c_str()) != 0) aside->Release();
      }
    throw;
  }
  fresh.Release();
  // The aside files (the old map, or the empty reservation) go with `aside`.
}

// ---------------------------------------------------------------- running a plan

std::string MapOf(const tMapJob& job) { return job.Result.MapName; }

void Refuse(tMapJob& job, const std::string& text) {
  job.Result.Outcome = ocRefused;
  job.Result.Message = text;
  if (job.Hooks.ErrorBox) job.Hooks.ErrorBox(text);
}

// The body shared by every operation once its plan is made: the new map under a
// temporary name, its cells, its documentation, then the output step.
void RunPlan(const tRaster& source, const tPlan& plan, tMapJob& job) {
  const std::string folder = ExtractFilePath(source.FileName);
  const std::string name = MapOf(job);
  tReservedMap fresh(folder, "~tmp");

  tRaster target = tRaster::CreateFrom(source);
  target.FileName = fresh.Stem();
  target.DataType = plan.NewType;
  target.Lineage.push_back(plan.LineageLine);
  const auto newFlag = static_cast<Single>(plan.NewFlag);
  if (plan.FlagLine && std::fabs(static_cast<double>(newFlag) - source.BackGroundValue) > 1e-8)
    target.Lineage.push_back(Format("Background value set to %g", newFlag));
  target.BackGroundValue = newFlag;
  if (plan.SetRange) {
    target.MinValue = static_cast<Single>(plan.NewMin);
    target.MaxValue = static_cast<Single>(plan.NewMax);
  }

  tPassReport report;
  {
    tProgress progress(source.nbPixels(), job.Hooks);
    TIdrisiFile in, out;
    source.OpenR(in);
    target.OpenW(out);
    report = RunCells(in, out, plan, progress);
    CloseRaster(in);
    CloseRaster(out);
  }
  if (report.Outside)
    throw ERangeError(Format("Map %s: some cells do not fit in %s cells (is the documented range of values out of date?)",
                             name, GISDataTypeName(plan.NewType)));
  if (plan.Conversion && report.Rounded) {
    target.Lineage.push_back("Some values were rounded");
    if (job.Hooks.WarningBox) job.Hooks.WarningBox(Format("Map %s contained some real values, which were rounded.", name));
  }
  target.WriteDoc();

  std::string destination = source.FileName;
  if (!job.Output.Replace) {
    destination = folder + InsertSuffix(source.Name(), job.Output.Suffix);
    if (EntryExists(destination + DocExtension) || EntryExists(destination + ImageExtension)) {
      const std::string question =
          Format("Map %s exists already. Do you want to replace it?", ExtractFileName(destination));
      if (!job.Hooks.Confirm || !job.Hooks.Confirm(question)) {
        job.Result.Outcome = ocKept;
        return;  // the temporary map goes with `fresh`
      }
    }
  }
  MoveMapIn(fresh, folder, destination);
  job.Result.Outcome = ocDone;
  job.Result.NewMap = destination;
  if (job.Hooks.Log) job.Hooks.Log(plan.ResultLine);
}

// ---------------------------------------------------------------- the decisions

bool Checked(const tRaster& map) { return map.BackGround == bsChecked; }

// The flag of a byte map whose rounded cells span Low to High, on a value that none
// of them takes: 255 above them, else 0 below them; none when they fill the range.
std::optional<double> FreeByteFlag(double low, double high) {
  if (high < 255) return 255.0;
  if (low > 0) return 0.0;
  return std::nullopt;
}

// The flag of the real and integer conversions.
double ConversionFlag(const tRaster& source, bool ck9999) {
  if (!ck9999) return source.BackGroundValue;
  return source.MinValue < 0 && source.MaxValue > 0 ? static_cast<double>(source.MinValue) - 10 : 0.0;
}

// A whole-number result whose flag would be written but does not fit its type.
bool FlagDoesNotFit(const tRaster& source, const tPlan& plan) {
  return (Checked(source) || plan.Change9999) && !FitsType(plan.NewFlag, plan.NewType);
}

bool RefusedIntegerRange(double low, double high, tMapJob& job) {
  if (Within(low, IntegerLow, IntegerHigh) && Within(high, IntegerLow, IntegerHigh)) return false;
  Refuse(job, Format("Map %s: Values out of integer range", MapOf(job)));
  return true;
}

bool RefusedFlag(const tRaster& source, const tPlan& plan, tMapJob& job) {
  if (!FlagDoesNotFit(source, plan)) return false;
  Refuse(job, Format("Map %s: Background out of %s range", MapOf(job), GISDataTypeName(plan.NewType)));
  return true;
}

tPlan ConversionPlan(TGISDataType type, const char* typeName, const std::string& name) {
  tPlan plan;
  plan.NewType = type;
  plan.Conversion = true;
  plan.Rule = type == idtReal ? crCopy : crRoundDecimals;
  plan.LineageLine = Format("Data type converted to %s", typeName);
  plan.ResultLine = Format("%s converted to %s data type.", name, typeName);
  return plan;
}

// The rounding rule of RoundMap, and with `truncate` that of TruncateMap.
void WholeNumberModification(const std::string& fileName, bool truncate, tMapJob& job) {
  tRaster source(fileName);
  auto cut = [truncate](double x) { return truncate ? std::trunc(x) : std::nearbyint(x); };
  const double low = cut(source.MinValue), high = cut(source.MaxValue);
  const double cutFlag = cut(source.BackGroundValue);
  tPlan plan;
  plan.Rule = truncate ? crTruncate : crRound;
  plan.NewFlag = std::nearbyint(source.BackGroundValue);
  plan.NewType = Within(low, ByteLow, ByteHigh) && Within(high, ByteLow, ByteHigh) ? idtByte : idtInteger;
  if (plan.NewType == idtByte && Checked(source) && !Within(cutFlag, ByteLow, ByteHigh)) {
    // The flag moves to a value no cell takes once rounded.
    if (const std::optional<double> flag = FreeByteFlag(low, high))
      plan.NewFlag = *flag;
    else
      plan.NewType = idtInteger;
  }
  // A flag that truncates into the byte range but rounds out of it keeps the map
  // wide enough to hold it.
  if (plan.NewType == idtByte && Checked(source) && !Within(plan.NewFlag, ByteLow, ByteHigh))
    plan.NewType = idtInteger;
  if (plan.NewType == idtInteger && RefusedIntegerRange(low, high, job)) return;
  if (RefusedFlag(source, plan, job)) return;
  plan.SetRange = true;
  plan.NewMin = low;
  plan.NewMax = high;
  plan.LineageLine = truncate ? "Truncated by Kelvora" : "Rounded by Kelvora";
  plan.ResultLine = Format(truncate ? "%s truncated." : "%s rounded.", MapOf(job));
  RunPlan(source, plan, job);
}

// The linear stretches: (x - Min) x (High - Low) / (Max - Min) + Low, the factor
// computed once, before the cells.
void Stretch(const std::string& fileName, double low, double high, TGISDataType type, double flag,
             const std::string& lineage, const std::string& result, bool flagLine, tMapJob& job) {
  tRaster source(fileName);
  // The stretch divides by the documented range: a map that does not document it
  // is refused, naming what it lacks.
  if (const std::string missing = source.MissingValueRangeLine(); !missing.empty())
    throw EInOutError(
        Format("%s cannot be stretched: its documentation has no \"%s\" line.", MapOf(job), missing));
  tPlan plan;
  plan.NewType = type;
  plan.NewFlag = flag;
  plan.Rule = crStretch;
  plan.Min = source.MinValue;
  plan.Factor = FloatDiv(high - low, static_cast<double>(source.MaxValue) - source.MinValue);
  plan.Offset = low;
  plan.SetRange = true;
  plan.NewMin = std::min(low, high);
  plan.NewMax = std::max(low, high);
  plan.LineageLine = lineage;
  plan.ResultLine = result;
  plan.FlagLine = flagLine;
  RunPlan(source, plan, job);
}

// ---------------------------------------------------------------- the walk

template <class tOperation>
std::vector<tMapResult> Walk(const std::vector<std::string>& items, const char* taskFormat,
                             const tMapOutput& output, const tMapWalkHooks& hooks, tOperation operation) {
  tMapWalkLock lock;
  struct tReady {
    const tMapWalkHooks& Hooks;
    ~tReady() {
      if (Hooks.Task) Hooks.Task("Ready");
    }
  } ready{hooks};
  const std::vector<std::string> files = AbsoluteMapItems(items);
  std::vector<tMapResult> results;
  const auto count = static_cast<Integer>(files.size());
  for (Integer i = count - 1, n = 1; i >= 0; --i, ++n) {
    if (hooks.Task) hooks.Task(Format(taskFormat, n, count));
    tMapJob job(items[static_cast<size_t>(i)], output, hooks);
    if (hooks.Progress) hooks.Progress(0);
    GuardMap(job.Result, hooks.Log, [&] { operation(files[static_cast<size_t>(i)], job); });
    results.push_back(job.Result);
  }
  return results;
}

}  // namespace

// ---------------------------------------------------------------- the frame of the walks

std::vector<std::string> AbsoluteMapItems(const std::vector<std::string>& Items) {
  std::vector<std::string> files;
  for (const std::string& item : Items) {
    std::error_code error;
    const auto absolute = std::filesystem::absolute(item, error);
    files.push_back(error ? item : absolute.string());
  }
  return files;
}

void GuardMap(tMapResult& Result, const std::function<void(const std::string&)>& Log,
              const std::function<void()>& Operation) {
  try {
    Operation();
  } catch (const std::exception& e) {
    Result.Outcome = ocFailed;
    Result.Message = e.what();
    if (Log) {
      Log(MapErrorLine(Result.Item));
      Log(MapErrorReasonLine(e.what()));
    }
  }
}

// ---------------------------------------------------------------- one map

tMapJob::tMapJob(const std::string& Item, const tMapOutput& Output, const tMapWalkHooks& Hooks)
    : Output(Output), Hooks(Hooks) {
  Result.Item = Item;
  Result.MapName = ExtractMapName(Item);
}

void ConvertToReal(tRaster& Source, bool ck9999, tMapJob& Job) {
  tPlan plan = ConversionPlan(idtReal, "real", MapOf(Job));
  plan.NewFlag = ConversionFlag(Source, ck9999);
  plan.Change9999 = ck9999;
  RunPlan(Source, plan, Job);
}

void ConvertToInteger(tRaster& Source, bool ck9999, tMapJob& Job) {
  tPlan plan = ConversionPlan(idtInteger, "integer", MapOf(Job));
  plan.NewFlag = std::nearbyint(ConversionFlag(Source, ck9999));
  plan.Change9999 = ck9999;
  if (RefusedIntegerRange(std::nearbyint(Source.MinValue), std::nearbyint(Source.MaxValue), Job)) return;
  if (RefusedFlag(Source, plan, Job)) return;
  RunPlan(Source, plan, Job);
}

void ConvertToByte(tRaster& Source, bool ckBackground, bool ck9999, tMapJob& Job) {
  const std::string name = MapOf(Job);
  if (Source.MinValue < 0 || Source.MaxValue > 255) return Refuse(Job, Format("Map %s: Values out of byte range", name));
  tPlan plan = ConversionPlan(idtByte, "byte", name);
  plan.Change9999 = ck9999;
  double flag = ck9999 ? 0.0 : static_cast<double>(Source.BackGroundValue);
  const bool flagOutside = !IsByteValue(Source.BackGroundValue);
  const std::string backgroundOutside = Format("Map %s: Background out of byte range", name);
  if (ckBackground && Checked(Source)) {
    if (flagOutside) {
      // Moved to a value that no cell takes once rounded.
      const std::optional<double> free =
          FreeByteFlag(std::nearbyint(Source.MinValue), std::nearbyint(Source.MaxValue));
      if (!free) return Refuse(Job, backgroundOutside);
      flag = *free;
    }
  } else if (flagOutside && !(ck9999 && Source.BackGroundValue == -9999.0f)) {
    // With ck9999 the cells of the flag -9999 become 0, the new flag.
    return Refuse(Job, backgroundOutside);
  }
  plan.NewFlag = std::nearbyint(flag);
  if (RefusedFlag(Source, plan, Job)) return;
  RunPlan(Source, plan, Job);
}

void OptimiseMap(tRaster& Source, const tConversionChecks& Checks, tMapJob& Job) {
  Source.Recompute();
  const double min = Source.MinValue, max = Source.MaxValue;
  const bool flagInForce = Source.BackGround != bsUnchecked;
  const bool flagOutside = !IsByteValue(Source.BackGroundValue);
  const bool flag9999 = Source.BackGroundValue == -9999.0f;
  enum { toNothing, toByte, toInteger } choice = toNothing;
  if (Source.DataType == idtInteger) {
    if (min < 0 || max > 255)
      choice = toNothing;
    else if (flagInForce && flagOutside)
      choice = Checks.Background || (Checks.Change9999 && flag9999) ? toByte : toNothing;
    else
      choice = toByte;
  } else if (Source.DataType == idtReal) {
    bool decimals = HasDecimals(Source.MinValue) || HasDecimals(Source.MaxValue);
    if (!decimals) {
      TIdrisiFile F;
      Source.OpenR(F);
      Single value;
      Int64 read = 0;
      while (!F.eof) {
        if (ReadRaster(F, value) && HasDecimals(value)) {
          decimals = true;
          break;
        }
        if ((++read & 0xFFFF) == 0) ProcessMessages();
      }
      CloseRaster(F);
    }
    if (decimals)
      choice = toNothing;
    else if (min < 0 || max > 255)
      choice = Within(min, IntegerLow, IntegerHigh) && Within(max, IntegerLow, IntegerHigh) ? toInteger : toNothing;
    else if (flagInForce && flagOutside)
      choice = Checks.Background ? toByte : Checks.Change9999 ? (flag9999 ? toByte : toInteger) : toInteger;
    else
      choice = toByte;
  }
  if (choice == toByte) return ConvertToByte(Source, Checks.Background, Checks.Change9999, Job);
  if (choice == toInteger) return ConvertToInteger(Source, Checks.Change9999, Job);
  Source.WriteDoc();
  Job.Result.Outcome = ocNotModified;
  if (Job.Hooks.Log) Job.Hooks.Log(Format("%s was not modified", MapOf(Job)));
}

void TruncateMap(const std::string& FileName, tMapJob& Job) { WholeNumberModification(FileName, true, Job); }

void RoundMap(const std::string& FileName, tMapJob& Job) { WholeNumberModification(FileName, false, Job); }

void Booleanise(const std::string& FileName, tMapJob& Job) {
  tRaster source(FileName);
  tPlan plan;
  plan.NewType = idtByte;
  plan.NewFlag = 255;
  plan.Rule = crBoolean;
  plan.SetRange = true;
  plan.NewMin = 0;
  plan.NewMax = 1;
  plan.LineageLine = "Booleanised by Kelvora";
  plan.ResultLine = Format("%s booleanised.", MapOf(Job));
  RunPlan(source, plan, Job);
}

void StretchTo0100(const std::string& FileName, tMapJob& Job) {
  Stretch(FileName, 0, 100, idtByte, 255, "Stretched between 0 and 100 by Kelvora",
          Format("%s stretched in [0,100].", MapOf(Job)), true, Job);
}

void StretchTo01(const std::string& FileName, tMapJob& Job) {
  Stretch(FileName, 0, 1, idtReal, -1, "Stretched between 0 and 1 by Kelvora",
          Format("%s stretched in [0,1].", MapOf(Job)), true, Job);
}

void StretchAB(const std::string& FileName, double A, double B, tMapJob& Job) {
  const double flag = A < -9999 && B > -9999 ? std::nearbyint(A - 1) : -9999.0;
  Stretch(FileName, A, B, idtReal, flag, Format("Stretched between %g and %g by Kelvora", A, B),
          Format("%s stretched in [%g,%g].", MapOf(Job), A, B), true, Job);
}

void StretchToSmallestSize(const std::string& FileName, tMapJob& Job) {
  Stretch(FileName, 0, 254, idtByte, 255,
          "Stretched between 0 and 254, background value changed to 255 and converted to bytes by Kelvora",
          Format("%s stretched in [0,254].", MapOf(Job)), false, Job);
}

void StretchBounds(const std::string& TextA, const std::string& TextB, double& A, double& B) {
  if (!TryStrToFloatAnySeparator(TextA, A)) A = -1;
  if (!TryStrToFloatAnySeparator(TextB, B)) B = 1;
}

// ---------------------------------------------------------------- the walks

std::vector<tMapResult> ConvertMaps(const std::vector<std::string>& Items, tConversion Conversion,
                                    const tConversionChecks& Checks, const tMapOutput& Output,
                                    const tMapWalkHooks& Hooks) {
  return Walk(Items, "Converting map %d/%d", Output, Hooks, [&](const std::string& file, tMapJob& job) {
    tRaster source(file);
    switch (Conversion) {
      case cvReal:
        return ConvertToReal(source, Checks.Change9999, job);
      case cvInteger:
        return ConvertToInteger(source, Checks.Change9999, job);
      case cvByte:
        return ConvertToByte(source, Checks.Background, Checks.Change9999, job);
      case cvOptimise:
        return OptimiseMap(source, Checks, job);
    }
  });
}

std::vector<tMapResult> ModifyMaps(const std::vector<std::string>& Items, tModification Modification,
                                   const std::string& TextA, const std::string& TextB, const tMapOutput& Output,
                                   const tMapWalkHooks& Hooks) {
  double a, b;
  StretchBounds(TextA, TextB, a, b);
  return Walk(Items, "Modifying map %d/%d", Output, Hooks, [&](const std::string& file, tMapJob& job) {
    switch (Modification) {
      case mdTruncate:
        return TruncateMap(file, job);
      case mdRound:
        return RoundMap(file, job);
      case mdBoolean:
        return Booleanise(file, job);
      case mdStretch0100:
        return StretchTo0100(file, job);
      case mdStretch01:
        return StretchTo01(file, job);
      case mdStretchAB:
        return StretchAB(file, a, b, job);
      case mdSmallestSize:
        return StretchToSmallestSize(file, job);
    }
  });
}

namespace {
bool gWalkRunning = false;
}  // namespace

tMapWalkLock::tMapWalkLock() {
  if (gWalkRunning) throw EInvalidOperation("A map operation is already running");
  gWalkRunning = true;
}

tMapWalkLock::~tMapWalkLock() { gWalkRunning = false; }

bool MapWalkRunning() { return gWalkRunning; }

}  // namespace utile
