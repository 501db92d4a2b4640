#include "models/EventCells.h"

#include <algorithm>
#include <array>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "Utile/RunTime.h"

namespace models {

namespace {

// Short labels, each on the line below the cell's top line; by tLifeEventType.
constexpr std::array<const char*, 13> CellLabels = {
    "\nBirth",    "\nSex-dep.", "\nAging", "\nSurvival", "\nDispersal", "\nReprod.", "\nDensity-dep.",
    "\nSynchro.", "\nRandom",   "\nDeath", "\nDead",     "\nGene-dep.", "\nTag"};

// A number as the user typed it, read with either decimal separator.
Double ReadReal(const std::string& text, Double fallback) {
  return utile::StrToFloatDefAnySeparator(text, fallback);
}

// The nearest integer within [low, high] (halves to the even neighbour).
Integer ReadInteger(const std::string& text, Double low, Double high) {
  const Double value = std::clamp(ReadReal(text, 0), low, high);
  return static_cast<Integer>(utile::Round(value));
}

std::string Real(Double value) {
  return utile::Format("%g", value);
}

}  // namespace

const char* EventCellLabel(tLifeEventType type) {
  return CellLabels[type];
}

bool HasAlternative(tLifeEventType type) {
  return type == leSexConditional || type == leRegulation || type == leRandom || type == leGeneConditional;
}

bool HasEventParameter(tLifeEventType type, int parameter) {
  return LifeEventParamStr[type][parameter][0] != '\0';
}

std::vector<std::string> EventParameterList(tLifeEventType type) {
  const auto list = [](const auto& names) { return std::vector<std::string>(names.begin(), names.end()); };
  switch (type) {
    case leDispersal:
      return list(DispersalTypeStr);
    case leReproduction:
      return list(ReproductionTypeStr);
    case leRegulation:
      return list(RegulationTypeStr);
    case leDeath:
      return list(DeathStatStr);
    case leGeneConditional:
      return list(InheritanceTypeStr);
    default:
      return {};
  }
}

bool IsDrawableEventType(Integer type) {
  return type >= leBirth && type <= leTag && type != leDead;
}

// ------------------------------------------------------------------ tEventCell

tEventCell::tEventCell(tLifeEventType type) {
  SetEventType(type);
}

void tEventCell::SetEventType(tLifeEventType type) {
  fEvent = tLifeEvent{};
  fEvent.EventType = type;
  Param1.clear();
  Param2.clear();
  const bool hasList = HasEventParameter(type, 2);
  Param3 = !hasList ? -1 : type == leDeath ? static_cast<Integer>(dsCensused) : 0;
}

void tEventCell::SetEvent(const tLifeEvent& event) {
  const Integer next = fEvent.NextEvent;
  const Integer alt = fEvent.AltEvent;
  const tLifeEventType type = fEvent.EventType;
  fEvent = event;
  fEvent.EventType = type;
  fEvent.NextEvent = next;
  fEvent.AltEvent = alt;
}

bool tEventCell::ParametersDefined() const {
  const tLifeEventType type = GetEventType();
  if (HasEventParameter(type, 0) && Param1.empty()) return false;
  if (HasEventParameter(type, 1) && Param2.empty()) return false;
  if (HasEventParameter(type, 2) && (Param3 < 0 || Param3 >= Integer(EventParameterList(type).size())))
    return false;
  return true;
}

bool tEventCell::Contains(Integer x, Integer y) const {
  return x >= Left && x < Left + EventCellSize && y >= Top && y < Top + EventCellSize;
}

std::string tEventCell::Caption() const {
  return utile::Format("Event %d: %s", Number(), LifeEventTypeStr[GetEventType()]);
}

// ------------------------------------------------------------------ tEventCells

Integer tEventCells::IndexOf(const tEventCell* cell) const {
  for (Integer i = 0; i < Count(); ++i)
    if (fCells[i].get() == cell) return i;
  return -1;
}

bool tEventCells::HasCellOfType(tLifeEventType type) const {
  return std::any_of(fCells.begin(), fCells.end(),
                     [type](const auto& c) { return c->GetEventType() == type; });
}

tEventCell* tEventCells::CreateEventCell(tLifeEventType type, Integer left, Integer top) {
  auto cell = std::make_unique<tEventCell>(type);
  cell->Left = left;
  cell->Top = top;
  fCells.push_back(std::move(cell));
  return fCells.back().get();
}

bool tEventCells::CanCreate(tLifeEventType type) const {
  if (!IsDrawableEventType(type)) return false;
  if (type == leBirth || type == leDeath) return !HasCellOfType(type);
  return true;
}

tEventCell* tEventCells::NewEventCell(tLifeEventType type, Integer areaWidth) {
  if (!CanCreate(type)) return nullptr;
  // Density is counted once everyone has passed the point where they wait.
  if (type == leRegulation) NewEventCell(leSynchro, areaWidth);
  tEventCell* from = fSelectedCell;
  tEventCell* cell = CreateEventCell(type);
  if (from) {
    if (from->GetEventType() != leDeath && !from->NextEvent) {
      from->NextEvent = cell;
      cell->Left = from->Left + EventCellSpacing;
      cell->Top = from->Top;
    } else if (from->HasAlternative() && !from->AltEvent) {
      from->AltEvent = cell;
      cell->Left = from->Left + EventCellSpacing;
      cell->Top = from->Top + EventCellSize / 2;
    }
  }
  SelectCell(cell);
  UnstackCells(areaWidth);
  return cell;
}

void tEventCells::SelectCell(tEventCell* cell) {
  for (const auto& c : fCells) c->fSelected = c.get() == cell;
  fSelectedCell = cell;
}

bool tEventCells::Remove(tEventCell* cell) {
  const Integer index = IndexOf(cell);
  if (index < 0 || cell->GetEventType() == leBirth) return false;
  tEventCell* next = cell->NextEvent == cell ? nullptr : cell->NextEvent;
  for (const auto& c : fCells) {
    // Redirection never makes a cell follow itself.
    const auto redirect = [&](tEventCell*& link) {
      if (link == cell) link = next == c.get() ? nullptr : next;
    };
    redirect(c->NextEvent);
    redirect(c->AltEvent);
  }
  if (fSelectedCell == cell) fSelectedCell = nullptr;
  std::erase(fEventOrder, cell);
  fCells.erase(fCells.begin() + index);
  return true;
}

void tEventCells::Assign(std::vector<std::unique_ptr<tEventCell>> cells) {
  fEventOrder.clear();
  fSelectedCell = nullptr;
  fCells = std::move(cells);
  for (const auto& c : fCells) c->fSelected = false;
}

void tEventCells::Clear() {
  Assign({});
}

tEventCell* tEventCells::CellAt(Integer x, Integer y) const {
  for (auto c = fCells.rbegin(); c != fCells.rend(); ++c)
    if ((*c)->Contains(x, y)) return c->get();
  return nullptr;
}

tCellLink tEventCells::LinkAt(const tEventCell& cell, Integer y) {
  return cell.HasAlternative() && y >= cell.Top + EventCellSize / 2 ? tCellLink::clAlt : tCellLink::clNext;
}

bool tEventCells::CanStartLink(const tEventCell& cell) {
  return cell.GetEventType() != leDeath;
}

bool tEventCells::SetLink(tEventCell* source, tCellLink link, tEventCell* target) {
  if (!source || !CanStartLink(*source)) return false;
  if (link == tCellLink::clAlt && !source->HasAlternative()) return false;
  if (target) {
    if (target == source) return false;
    if (target->NextEvent == source || target->AltEvent == source) return false;
  }
  (link == tCellLink::clNext ? source->NextEvent : source->AltEvent) = target;
  return true;
}

void tEventCells::MoveCell(tEventCell* cell, Integer x, Integer y) {
  cell->Left = std::max(0, x - EventCellSize / 2);
  cell->Top = std::max(0, y - EventCellSize / 2);
}

void tEventCells::UnstackCells(Integer areaWidth) {
  for (size_t i = 1; i < fCells.size(); ++i) {
    tEventCell& cell = *fCells[i];
    for (bool moved = true; moved;) {
      moved = false;
      for (size_t j = 0; j < i; ++j)
        if (fCells[j]->Left == cell.Left && fCells[j]->Top == cell.Top) {
          cell.Left += EventCellSpacing;
          if (cell.Left + EventCellSize > areaWidth) {
            cell.Left = 5;
            cell.Top += EventCellSpacing;
          }
          moved = true;
          break;
        }
    }
  }
}

// ------------------------------------------------------------------ the check

void tEventCells::SortEventCells(std::string& messages) {
  for (const auto& c : fCells) c->fPosition = -1;
  fEventOrder.clear();
  if (fCells.empty()) return;
  tEventCell* root = fCells.front().get();
  for (const auto& c : fCells)
    if (c->GetEventType() == leBirth) {
      root = c.get();
      break;
    }

  // The cells a newborn reaches before it has aged: a Reproduction cell among
  // them would have it breed in the pass that bore it.
  std::unordered_set<const tEventCell*> young;
  std::vector<const tEventCell*> pending{root};
  young.insert(root);
  while (!pending.empty()) {
    const tEventCell* cell = pending.back();
    pending.pop_back();
    if (cell->GetEventType() == leGetOlder) continue;
    for (const tEventCell* next : {cell->NextEvent, cell->AltEvent})
      if (next && young.insert(next).second) pending.push_back(next);
  }

  // Depth-first, without recursion: a link back to a cell on the current path is
  // a loop; a link to a cell finished earlier joins two branches.
  struct tFrame {
    tEventCell* Cell;
    int Stage;
  };
  std::vector<tFrame> path;
  std::unordered_set<const tEventCell*> onPath;
  const auto visit = [&](tEventCell* cell) {
    if (cell->fPosition >= 0) {
      if (onPath.contains(cell))
        messages += utile::Format("Erroneous connectivity: Looping cycle at %d\r\n", cell->Number());
      return;
    }
    cell->fPosition = static_cast<Integer>(fEventOrder.size());
    fEventOrder.push_back(cell);
    if (cell->GetEventType() == leReproduction && young.contains(cell))
      messages += "Reproduction cannot occur at age 0. Place an Aging event before Reproduction\r\n";
    onPath.insert(cell);
    path.push_back({cell, 0});
  };
  visit(root);
  while (!path.empty()) {
    tFrame& frame = path.back();
    tEventCell* cell = frame.Cell;
    if (frame.Stage == 0) {
      frame.Stage = 1;
      if (cell->NextEvent)
        visit(cell->NextEvent);
      else if (cell->GetEventType() != leDeath)
        messages += "Death event missing\r\n";
    } else if (frame.Stage == 1) {
      frame.Stage = 2;
      if (cell->AltEvent) visit(cell->AltEvent);
    } else {
      onPath.erase(cell);
      path.pop_back();
    }
  }

  if (fEventOrder.size() < fCells.size()) {
    messages += "Erroneous connectivity: unconnected event\r\n";
    for (const auto& c : fCells)
      if (c->fPosition < 0) {
        c->fPosition = static_cast<Integer>(fEventOrder.size());
        fEventOrder.push_back(c.get());
      }
  }
}

bool tEventCells::BuildCycle(std::string& messages, tLifeCycle& cycle, tReproductionMode mode,
                             Double juvenileWeight) {
  messages.clear();
  if (!HasCellOfType(leBirth)) messages += "No Birth event\r\n";
  if (!HasCellOfType(leGetOlder)) messages += "No Aging event\r\n";
  if (!HasCellOfType(leReproduction)) messages += "No Reproduction event\r\n";
  SortEventCells(messages);

  const Integer n = static_cast<Integer>(fEventOrder.size());
  Integer firstReproduction = n;
  for (Integer i = n - 1; i >= 0; --i)
    if (fEventOrder[i]->GetEventType() == leReproduction) firstReproduction = i;
  // Density is counted when everyone waits at an Aging or Synchronisation event
  // that leads straight to the cell; those cells are gathered once, so that the
  // check stays linear in the number of cells.
  std::unordered_set<const tEventCell*> afterWaiting;
  for (const auto& c : fCells)
    if ((c->GetEventType() == leGetOlder || c->GetEventType() == leSynchro) && c->NextEvent)
      afterWaiting.insert(c->NextEvent);
  const auto synchronised = [&afterWaiting](const tEventCell* cell) { return afterWaiting.contains(cell); };
  const auto position = [](const tEventCell* cell) { return cell ? cell->Position() : -1; };
  const auto listEntry = [](const tEventCell& cell) {
    const Integer size = static_cast<Integer>(EventParameterList(cell.GetEventType()).size());
    return std::clamp<Integer>(cell.Param3, 0, std::max(0, size - 1));
  };

  cycle.assign(n, tLifeEvent{});
  for (Integer i = 0; i < n; ++i) {
    tEventCell& cell = *fEventOrder[i];
    tLifeEvent& event = cycle[i];
    event.EventType = cell.GetEventType();
    event.NextEvent = position(cell.NextEvent);
    event.AltEvent = position(cell.AltEvent);
    cell.Description.clear();
    switch (event.EventType) {
      case leSexConditional:
        if (!cell.AltEvent) messages += "Erroneous connectivity: No sex-dependence male event\r\n";
        if (mode != rmSexuate) messages += "Sex-dependence event in an asexuate species\r\n";
        break;
      case leSurvival:
        event.SurvivalRate = ReadReal(cell.Param1, -999);
        if (event.SurvivalRate < 0 || event.SurvivalRate > 1) messages += "Incorrect survival rate\r\n";
        cell.Description = "Rate=" + Real(event.SurvivalRate);
        break;
      case leDispersal:
        event.DispSurvival = ReadReal(cell.Param1, 1);
        if (event.DispSurvival < 0 || event.DispSurvival > 1)
          messages += "Incorrect dispersal survival rate\r\n";
        event.Weighting = ReadReal(cell.Param2, -1);
        event.DispType = static_cast<tDispersalType>(listEntry(cell));
        cell.Description = "Survival=" + Real(event.DispSurvival) + ", Weighting=" + Real(event.Weighting) +
                           ", Type=" + DispersalTypeStr[event.DispType];
        break;
      case leReproduction:
        event.Fecundity = ReadReal(cell.Param1, -999);
        if (event.Fecundity < 0) messages += "Incorrect fecundity\r\n";
        event.ReproductionType = static_cast<tReproductionType>(listEntry(cell));
        if (event.ReproductionType != rtDensityIndependent) {
          if (!synchronised(&cell))
            messages += "No synchronisation event before density-dependent reproduction\r\n";
          if (juvenileWeight == 1)
            messages +=
                "A Reproduction event is density-dependent but juvenile regulation weight is set to 1.\r\n";
        }
        cell.Description =
            "Fecundity=" + Real(event.Fecundity) + ", Type=" + ReproductionTypeStr[event.ReproductionType];
        break;
      case leRegulation:
        if (!cell.AltEvent) messages += "Erroneous connectivity: No Density-dependence \"lose\" event\r\n";
        event.RegType = static_cast<tRegulationType>(listEntry(cell));
        if (!synchronised(&cell)) messages += "No synchronisation event before Density-dependence event\r\n";
        if (i < firstReproduction) {
          if (juvenileWeight == 0)
            messages +=
                "A Density-dependence event occurs for juveniles but juvenile regulation weight is set to "
                "0.\r\n";
        } else if (juvenileWeight == 1) {
          messages +=
              "A Density-dependence event occurs for adults but juvenile regulation weight is set to 1.\r\n";
        }
        cell.Description = std::string("Type=") + RegulationTypeStr[event.RegType];
        break;
      case leRandom:
        event.Threshold = ReadReal(cell.Param1, -999);
        if (event.Threshold < 0 || event.Threshold > 1) messages += "Incorrect random probability\r\n";
        if (!cell.AltEvent) messages += "Erroneous connectivity: No random alternate event\r\n";
        cell.Description = "Probability=" + Real(event.Threshold);
        break;
      case leDeath:
        event.DeathStat = static_cast<tDeathStat>(listEntry(cell));
        cell.Description = std::string("Type=") + DeathStatStr[event.DeathStat];
        break;
      case leGeneConditional:
        if (!cell.AltEvent) messages += "Erroneous connectivity: No Gene-dependence mutant event\r\n";
        event.Locus = ReadInteger(cell.Param1, 0, 15);
        cell.Param1 = utile::IntToStr(event.Locus);
        event.Inheritance = static_cast<tInheritanceType>(listEntry(cell));
        cell.Description =
            utile::Format("Locus=%d, Type=%s", event.Locus, InheritanceTypeStr[event.Inheritance]);
        break;
      case leTag:
        event.Tag = ReadInteger(cell.Param1, std::numeric_limits<Integer>::min(),
                                std::numeric_limits<Integer>::max());
        cell.Param1 = utile::IntToStr(event.Tag);
        cell.Description = utile::Format("Tag=%d", event.Tag);
        break;
      default:
        break;
    }
  }
  if (messages.empty()) return true;
  if (messages.ends_with("\r\n")) messages.resize(messages.size() - 2);
  return false;
}

}  // namespace models
