// The life cycle as the user draws it: event cells on a drawing area, each with
// its parameters as typed, linked to the cells that follow when its rule holds
// (NextEvent) and when it fails (AltEvent). The list numbers the cells depth-first
// from the Birth cell, checks the drawing and turns it into the event array that
// the species makes runnable. The workbench's drawing area only shows and edits
// these cells; nothing here draws.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "models/MetapopIBM.h"

namespace models {

// A cell is a square of this many pixels.
inline constexpr Integer EventCellSize = 50;
// New cells go this far to the right of the cell they follow; unstacked cells
// this far right or down.
inline constexpr Integer EventCellSpacing = 75;

// The label drawn on a cell of the type.
const char* EventCellLabel(tLifeEventType type);
// Types that branch: their rule may fail and lead to AltEvent.
bool HasAlternative(tLifeEventType type);
// Whether the type has its first, second or third parameter (index 0, 1, 2).
bool HasEventParameter(tLifeEventType type, int parameter);
// The choices of the third parameter (empty when the type has none).
std::vector<std::string> EventParameterList(tLifeEventType type);
// Types of which the user draws cells (every type but the end event).
bool IsDrawableEventType(Integer type);

class tEventCell {
 public:
  explicit tEventCell(tLifeEventType type);
  tEventCell(const tEventCell&) = delete;
  tEventCell& operator=(const tEventCell&) = delete;

  tLifeEvent fEvent;  // its type is the cell's type; after a successful build, the built event
  bool fSelected = false;
  tEventCell* NextEvent = nullptr;
  tEventCell* AltEvent = nullptr;
  Integer Left = 0;  // position on the drawing area
  Integer Top = 0;
  std::string Param1;  // first and second parameter as typed ("" for a type without them)
  std::string Param2;
  Integer Param3 = -1;  // chosen entry of the third parameter's list; -1 for a type without one
  // What the parameters read as, "Rate=0.9", rebuilt by each check.
  std::string Description;

  tLifeEventType GetEventType() const { return fEvent.EventType; }
  // A fresh cell of the type: no parameter text, the first entry of its list
  // (a Death cell is censused).
  void SetEventType(tLifeEventType type);
  // The built event comes back to the cell (its dispersal matrices with it).
  void SetEvent(const tLifeEvent& event);
  // Every parameter the type has is filled.
  bool ParametersDefined() const;
  bool HasAlternative() const { return models::HasAlternative(GetEventType()); }
  // The centre of the cell.
  Integer X() const { return Left + EventCellSize / 2; }
  Integer Y() const { return Top + EventCellSize / 2; }
  bool Contains(Integer x, Integer y) const;
  // Position in the depth-first order of the last numbering (from 0), and the
  // number shown to the user (from 1).
  Integer Position() const { return fPosition; }
  Integer Number() const { return fPosition + 1; }
  // "Event 3: Survival".
  std::string Caption() const;

 private:
  friend class tEventCells;
  Integer fPosition = -1;
};

// Which link of a cell a gesture edits.
enum class tCellLink { clNext, clAlt };

class tEventCells {
 public:
  tEventCells() = default;
  tEventCells(const tEventCells&) = delete;
  tEventCells& operator=(const tEventCells&) = delete;

  // In creation order (the Birth cell first).
  Integer Count() const { return static_cast<Integer>(fCells.size()); }
  tEventCell* Cell(Integer i) const { return fCells[i].get(); }
  Integer IndexOf(const tEventCell* cell) const;
  // The depth-first order of the last numbering.
  const std::vector<tEventCell*>& EventOrder() const { return fEventOrder; }
  tEventCell* SelectedCell() const { return fSelectedCell; }
  bool HasCellOfType(tLifeEventType type) const;

  // A new unlinked cell at (Left, Top), appended to the list.
  tEventCell* CreateEventCell(tLifeEventType type, Integer left = 5, Integer top = 5);
  // Whether a new cell of the type may be drawn: one Birth and one Death cell at most.
  bool CanCreate(tLifeEventType type) const;
  // What a new-cell action does: a Density-dependence cell comes after a new
  // Synchronisation cell; the new cell follows the selected one (as its NextEvent,
  // or as its AltEvent when that link is taken and the type branches), is
  // selected, and cells on top of one another are moved apart within the area's
  // width. The new cell, or nullptr when CanCreate refuses.
  tEventCell* NewEventCell(tLifeEventType type, Integer areaWidth);
  // Selects the cell and no other (nullptr: none).
  void SelectCell(tEventCell* cell);
  // Removes a cell (never the Birth cell): the links to it lead to its NextEvent
  // instead. False when refused.
  bool Remove(tEventCell* cell);
  // Replaces every cell by the given ones (links among them), none selected.
  void Assign(std::vector<std::unique_ptr<tEventCell>> cells);
  void Clear();

  // The topmost cell under the point, nullptr when none.
  tEventCell* CellAt(Integer x, Integer y) const;
  // The link a drag started at (x, y) inside the cell edits: AltEvent from the
  // lower half of a branching cell, NextEvent otherwise.
  static tCellLink LinkAt(const tEventCell& cell, Integer y);
  // Whether a link may start from the cell (a Death cell starts none).
  static bool CanStartLink(const tEventCell& cell);
  // Sets the source's link to target, or removes it when target is nullptr.
  // Refused (false) for a link to the cell itself and for a target that links
  // back to the source.
  bool SetLink(tEventCell* source, tCellLink link, tEventCell* target);
  // Centres the cell on the point (positions stay on the area).
  void MoveCell(tEventCell* cell, Integer x, Integer y);
  // A cell lying exactly on an earlier one moves right, and back to the left
  // edge one row lower when it would pass the right edge.
  void UnstackCells(Integer areaWidth);

  // Numbers the cells depth-first from the Birth cell, unreached cells after the
  // others in creation order; appends the findings to messages.
  void SortEventCells(std::string& messages);
  // The check: numbering, then the event array in depth-first order (links as
  // positions, -1 for none) with each cell's parameters read; the locus and the
  // tag are written back as read. True when there is nothing to report.
  bool BuildCycle(std::string& messages, tLifeCycle& cycle, tReproductionMode mode, Double juvenileWeight);

 private:
  std::vector<std::unique_ptr<tEventCell>> fCells;
  std::vector<tEventCell*> fEventOrder;
  tEventCell* fSelectedCell = nullptr;
};

}  // namespace models
