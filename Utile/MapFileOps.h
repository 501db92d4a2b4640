// What the map-file manager does to map files without a window: the names of
// maps, deleting and renaming a raster as the pair of its documentation and image
// files (or any other file alone), rewriting documentation files (comments,
// metadata, decimal separator), starting the map viewer, and the walk over the
// selected files that every operation shares.
//
// A raster is named by either of its files or by its name without extension; a
// dot inside that name belongs to it ("run1.5.rst" is the map run1.5). Any other
// file keeps the extension after its last dot.
//
// The walk, written once for every operation:
//
//   const auto maps = utile::MapsToWalk(listedFiles, utile::tWalkOrder::woLastToFirst);
//   utile::WalkMaps(maps, {[&](const std::string& file, utile::Integer) { ... },
//                          [&](const std::string& file, const std::string& why) { log ... }});
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Utile/CommonDecl.h"
#include "Utile/Platform.h"

namespace utile {

// ---------------------------------------------------------------- map names

// The lower-cased extension is the documentation or the image extension of the
// convention in force.
bool IsRasterFile(const std::string& fileName);
// The name without its documentation or image extension, folder kept; any other
// name as it stands.
std::string MapBaseName(const std::string& name);
// The name shown in every message: without folder, without its map extension (a
// raster) or its last extension (another file).
std::string ExtractMapName(const std::string& fileName);
// A raster's documentation file: its name with the documentation extension.
std::string DocumentationFileOf(const std::string& fileName);
// Deletes the image file, then the documentation file, each if it exists.
// Raises when neither exists or a file cannot be deleted.
void DeleteMap(const std::string& name);
// Cuts the map name at its last "_" (or at its end), appends Suffix and puts the
// map extension and the folder back.
std::string ReplaceSuffix(const std::string& name, const std::string& suffix);
// From the last "_" of the map name to its end; empty when there is none.
std::string UnderscoreSuffix(const std::string& name);
// The suffix in front of an existing underscore suffix: forest_QT with "_v2"
// gives forest_v2_QT.
std::string InsertSuffix(const std::string& name, const std::string& suffix);

// ---------------------------------------------------------------- deleting and renaming

// The files that make up what fileName names: a raster's documentation and image
// files that exist, any other file itself.
std::vector<std::string> MapFiles(const std::string& fileName);
// Deletes a raster's files (DeleteMap) or the file.
void DeleteMapFile(const std::string& fileName);

// The new stem from the old one. The stem is the file name without folder and
// without its extension (a raster's map name).
using tStemRule = std::function<std::string(const std::string& stem)>;

struct tRenameResult {
  bool Renamed = false;     // false: the name would not change, nothing was done
  std::string NewFileName;  // fileName under its new name
};

// Renames every file of the map to the new stem, each keeping its extension. No
// rename ever replaces a file: when a new name is taken, or a rename fails
// (earlier ones are then undone), it raises and every file keeps its name.
tRenameResult RenameMap(const std::string& fileName, const tStemRule& newStem);

// Renames one file unless the new name is taken; raises otherwise.
void RenameWithoutReplacing(const std::string& from, const std::string& to);

// The stem of the rename by pattern: every "#" becomes the counter in at least
// three digits; everything else stays as typed.
std::string PatternStem(const std::string& pattern, Integer counter);
// The stem with every "_" removed; with "(" and ")" turned into "-".
std::string WithoutUnderscores(const std::string& stem);
std::string WithoutBadCharacters(const std::string& stem);

// ---------------------------------------------------------------- documentation

// These act on rasters only: another file raises and nothing is written. Each
// rewrites the documentation file aside and renames it in when complete.

// Appends the lines to the raster's comment list.
void AddComments(const std::string& fileName, const tVectorOfString& lines);
// Empties the comment, lineage, completeness and consistency lists.
void CleanMetadata(const std::string& fileName);
// Rewrites the decimal separator ('.' or ',') of the values that read as numbers
// on the number lines (unit distance, bounding box, position error, resolution,
// value and display ranges, value error, flag value); every other character and
// every line end stays as it was. False when nothing needed rewriting.
bool RewriteDecimalSeparator(const std::string& fileName, char separator);

// ---------------------------------------------------------------- the map viewer

// The map viewer program, in the folder given, started on the file with the
// arguments "call" and the file's full path.
tStartResult StartMapViewer(const std::string& programFolder, const std::string& fileName);
// The message of a start that failed ("" for one that did not).
std::string MapViewerFailureMessage(tStartResult result);

// ---------------------------------------------------------------- the walk

enum class tWalkOrder { woFirstToLast, woLastToFirst };

// One file of the file list, in list order.
struct tListedFile {
  std::string FileName;
  bool Selected = false;
};

// The files an operation acts on, in its order: the selected ones, each map once
// (a raster selected by both of its files comes at the first of them met).
std::vector<std::string> MapsToWalk(const std::vector<tListedFile>& files, tWalkOrder order);

// The log line of a map that failed, and the line under it that gives the
// reason, indented under it.
std::string MapErrorLine(const std::string& fileName);
std::string MapErrorReasonLine(const std::string& reason);

struct tMapWalk {
  // Acts on one map, the n-th of the walk (from 1); raises to fail it.
  std::function<void(const std::string& fileName, Integer n)> Action;
  // Told of a map whose action raised, with the error's message.
  std::function<void(const std::string& fileName, const std::string& reason)> Failed;
};

// Runs the action on each file in turn, each inside its own error guard, and goes
// on after a failure. Returns the number of maps that failed.
Integer WalkMaps(const std::vector<std::string>& fileNames, const tMapWalk& walk);

}  // namespace utile
