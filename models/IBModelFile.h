// The model file of the individual-based workbench: the species parameters as
// typed in the workbench and the drawn life cycle (cells, positions, links,
// parameter texts). Version 4 is written; versions 1 to 4 are read. A file is
// read whole and checked before anyone uses it, so that a bad file changes
// nothing.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "models/EventCells.h"

namespace models {

// The third parameter of a cell whose type has no list.
inline constexpr Integer NoListEntry = -999;

// One cell as the file holds it.
struct tModelFileCell {
  tLifeEventType EventType = leBirth;
  Integer Left = 0;
  Integer Top = 0;
  Integer NextEvent = -1;  // position of the linked cell in the file's order; -1 none
  Integer AltEvent = -1;
  std::optional<std::string> Param1;  // nothing: "nil"
  std::optional<std::string> Param2;
  Integer Param3 = NoListEntry;
};

struct tIBModelFile {
  Integer Version = 4;
  std::string Date;
  std::string Name;
  tReproductionMode ReproductionMode = rmSexuate;
  Integer ExtinctionThreshold = 0;
  std::string DispersalDistance;
  std::string SexRatio;
  std::string Autofecondation;
  std::string MutationRate;
  bool PatchExtinction = false;
  std::string JuvenileWeight;
  bool PatchSuitability = false;   // from version 2
  std::vector<std::string> Genes;  // from version 4: one prevalence text per locus
  std::vector<tModelFileCell> Cells;
};

// The text of a version 4 file, lines ending with CR LF.
std::string ModelFileText(const tIBModelFile& model);
// Writes version 4 aside and renames it over the file when complete.
void SaveModelFile(const std::string& fileName, const tIBModelFile& model);
// Reads a file of version 1 to 4 (lines ending with CR LF or LF alike).
// EInOutError naming the file, the line and what is wrong.
tIBModelFile LoadModelFile(const std::string& fileName);
tIBModelFile ParseModelFile(const std::string& text, const std::string& fileName);

// The cells in the order of their last numbering (every cell numbered).
std::vector<tModelFileCell> ModelFileCells(const tEventCells& cells);
// The file's cells made anew, in the file's order, with their links: a link to no
// position of the list is no link.
std::vector<std::unique_ptr<tEventCell>> EventCellsFromFile(const std::vector<tModelFileCell>& cells);

}  // namespace models
