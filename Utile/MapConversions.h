// The map-file manager's conversions of raster maps between cell types and its
// modifications of their values, without a window: the window reads its controls,
// calls a walk and shows what the hooks tell it.
//
//   utile::tMapWalkHooks hooks;
//   hooks.Log = [&](const std::string& line) { log->append(line); };
//   hooks.Confirm = [&](const std::string& question) { return AskYesNo(question); };
//   utile::ConvertMaps(selectedFiles, utile::cvInteger, {}, {true, ""}, hooks);
//
// Each map is written first under a temporary name no file has, beside the source,
// and then moved in under its final name: the map it replaces is set aside and
// deleted only once the new one is in place, and put back if that fails. A failure
// leaves the source as it was and no temporary file behind.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Utile/CommonDecl.h"
#include "Utile/Idrisi.h"

namespace utile {

// The conversion choices: "&Real (32 bits)", "&Integer (16 bits)",
// "&Byte (8 bits: [0..255] )", "&Optimisation".
enum tConversion { cvReal, cvInteger, cvByte, cvOptimise };
// The modification choices in the order in which the first checked one is taken:
// "&Truncation", "&Rounding", "Make &boolean", "&Stretch between 0 and 100",
// "&Stretch between 0 and 1", "&Stretch between A and B:", "Smallest size &possible".
enum tModification { mdTruncate, mdRound, mdBoolean, mdStretch0100, mdStretch01, mdStretchAB, mdSmallestSize };

// The two check boxes of the conversions.
struct tConversionChecks {
  bool Background = false;  // "&Change background value if needed" (ckBackground)
  bool Change9999 = false;  // "Change -&9999 into 0 (Arcview bug)" (ck9999)
};

// Where the new maps go: "Re&place old file", or "&Add suffix:" with its text.
struct tMapOutput {
  bool Replace = true;
  std::string Suffix = "-mod";
};

// What a walk tells the window and asks of it; every member may be left empty (a
// question without an answer is answered No). The hooks run on the walk's thread,
// between cells: a window lets its messages through with utile::ProcessMessages.
struct tMapWalkHooks {
  std::function<void(const std::string&)> Log;         // a line of the log
  std::function<void(const std::string&)> Task;        // the task text; "Ready" at the end
  std::function<void(Integer)> Progress;               // the gauge, 0 to 100, set when it changes
  std::function<bool(const std::string&)> Confirm;     // a Yes / No question: true for Yes
  std::function<void(const std::string&)> ErrorBox;    // an error box with an OK button
  std::function<void(const std::string&)> WarningBox;  // a warning box with an OK button
};

enum tMapOutcome {
  ocDone,         // written, result line logged
  ocNotModified,  // the optimisation left it as it was (its documentation written back)
  ocRefused,      // refused with an error box: nothing written
  ocKept,         // No to the replace question: the existing map kept, nothing written
  ocFailed        // failed: error line logged, nothing written
};

struct tMapResult {
  std::string Item;     // the file as the walk was given it
  std::string MapName;  // the name its messages use
  tMapOutcome Outcome = ocFailed;
  std::string NewMap;   // the map written (path without extension), when done
  std::string Message;  // the refusal or the failure
};

// The walk of "Convert maps" over the selected files (in list order; handled from
// the last to the first, so map 1 of the task text is the last one). Returns one
// result per map, in the order handled.
std::vector<tMapResult> ConvertMaps(const std::vector<std::string>& Items, tConversion Conversion,
                                    const tConversionChecks& Checks, const tMapOutput& Output,
                                    const tMapWalkHooks& Hooks);
// The walk of "&Modify maps"; TextA and TextB are the texts of the boxes A and B.
std::vector<tMapResult> ModifyMaps(const std::vector<std::string>& Items, tModification Modification,
                                   const std::string& TextA, const std::string& TextB, const tMapOutput& Output,
                                   const tMapWalkHooks& Hooks);
// A walk is running (a second one is refused with EInvalidOperation): windows
// refuse meanwhile whatever would change the files or the folder in hand.
bool MapWalkRunning();

// The items of a walk with their full names, fixed before the first message goes
// through (an item whose name cannot be made absolute stays as it is).
std::vector<std::string> AbsoluteMapItems(const std::vector<std::string>& Items);
// Runs the operation of one map of a walk: a failure marks the result failed with
// its reason and logs "%s generated an error. Check it." and the reason, and the
// walk goes on.
void GuardMap(tMapResult& Result, const std::function<void(const std::string&)>& Log,
              const std::function<void()>& Operation);

// Held by every walk over map files for its whole length.
class tMapWalkLock {
public:
  tMapWalkLock();  // EInvalidOperation while another walk holds it
  ~tMapWalkLock();
  tMapWalkLock(const tMapWalkLock&) = delete;
  tMapWalkLock& operator=(const tMapWalkLock&) = delete;
};

// The bounds of the stretch between A and B from the texts of their boxes, read
// with either decimal separator: -1 for A and 1 for B when the text is no number.
void StretchBounds(const std::string& TextA, const std::string& TextB, double& A, double& B);

// ---------------------------------------------------------------- one map

// The per-map state of a walk: where the output goes, the hooks and the progress of
// the cells of the map in hand.
class tMapJob {
public:
  tMapJob(const std::string& Item, const tMapOutput& Output, const tMapWalkHooks& Hooks);
  tMapResult Result;
  const tMapOutput& Output;
  const tMapWalkHooks& Hooks;
};

// The operations on one map. The conversions take the source with its documentation
// read; the modifications read it themselves.
void ConvertToReal(tRaster& Source, bool ck9999, tMapJob& Job);
void ConvertToInteger(tRaster& Source, bool ck9999, tMapJob& Job);
void ConvertToByte(tRaster& Source, bool ckBackground, bool ck9999, tMapJob& Job);
// Recomputes the range, then converts to the smallest type that loses nothing, or
// leaves the map as it was.
void OptimiseMap(tRaster& Source, const tConversionChecks& Checks, tMapJob& Job);
void TruncateMap(const std::string& FileName, tMapJob& Job);
void RoundMap(const std::string& FileName, tMapJob& Job);
void Booleanise(const std::string& FileName, tMapJob& Job);
void StretchTo0100(const std::string& FileName, tMapJob& Job);
void StretchTo01(const std::string& FileName, tMapJob& Job);
void StretchAB(const std::string& FileName, double A, double B, tMapJob& Job);
void StretchToSmallestSize(const std::string& FileName, tMapJob& Job);

namespace map_conversions_detail {
// The file renames of the output step (tests make one fail).
extern int (*RenameFile)(const char* from, const char* to);
}  // namespace map_conversions_detail

}  // namespace utile
