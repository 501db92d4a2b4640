#include "models/IBModelFile.h"

#include <cctype>
#include <limits>

#include "Utile/RunTime.h"
#include "Utile/StringOps.h"

namespace models {

namespace {

constexpr const char* Signature = "IBsimple";
constexpr const char* HeaderEnd = "---";
constexpr const char* CellsEnd = "-9999";
constexpr const char* NoText = "nil";

// The lines of a file with their numbers, read one after the other.
class tLineReader {
 public:
  tLineReader(const std::string& text, const std::string& fileName)
      : fLines(utile::TextLines(text)), fFileName(fileName) {}

  Integer LineNumber() const { return static_cast<Integer>(fNext); }

  bool AtEnd() const { return fNext >= fLines.size(); }

  [[noreturn]] void Fail(const std::string& what) const {
    throw utile::EInOutError(
        utile::Format("Error in the model file \"%s\", line %d: %s.", fFileName, LineNumber(), what));
  }

  const std::string& Text(const char* what) {
    if (fNext >= fLines.size()) {
      ++fNext;
      Fail(utile::Format("the file ends where %s is due", what));
    }
    return fLines[fNext++];
  }

  Integer Number(const char* what) {
    const std::string& line = Text(what);
    int64_t value;
    if (!utile::TryStrToInt(line, value) || value < std::numeric_limits<Integer>::min() ||
        value > std::numeric_limits<Integer>::max())
      Fail(utile::Format("%s expected as a whole number, \"%s\" found", what, line));
    return static_cast<Integer>(value);
  }

  // Two whole numbers on one line, separated by blanks or a TAB.
  void Position(Integer& left, Integer& top) {
    const std::string& line = Text("the cell's position");
    size_t i = 0;
    Integer* targets[2] = {&left, &top};
    for (Integer* target : targets) {
      while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
      const size_t start = i;
      while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
      int64_t value;
      if (!utile::TryStrToInt(line.substr(start, i - start), value) || value < -1000000 || value > 1000000)
        Fail(utile::Format("the cell's position expected as Left, a TAB and Top, \"%s\" found", line));
      *target = static_cast<Integer>(value);
    }
  }

 private:
  std::vector<std::string> fLines;
  size_t fNext = 0;
  std::string fFileName;
};

tIBModelFile ParseModelText(const std::string& text, const std::string& fileName);

}  // namespace

std::string ModelFileText(const tIBModelFile& model) {
  std::string text;
  const auto line = [&text](const std::string& s) { text += s + "\r\n"; };
  line(utile::Format("%s 4", Signature));
  line(model.Date);
  line(model.Name);
  line(utile::IntToStr(model.ReproductionMode));
  line(utile::IntToStr(model.ExtinctionThreshold));
  line(model.DispersalDistance);
  line(model.SexRatio);
  line(model.Autofecondation);
  line(model.MutationRate);
  line(model.PatchExtinction ? "1" : "0");
  line(model.JuvenileWeight);
  line(model.PatchSuitability ? "1" : "0");
  std::string genes;
  for (const std::string& gene : model.Genes) genes += gene + "\t";
  line(genes);
  line(HeaderEnd);
  for (const tModelFileCell& cell : model.Cells) {
    line(utile::IntToStr(cell.EventType));
    line(utile::Format("%d\t%d", cell.Left, cell.Top));
    line(utile::IntToStr(cell.NextEvent));
    line(utile::IntToStr(cell.AltEvent));
    line(cell.Param1.value_or(NoText));
    line(cell.Param2.value_or(NoText));
    line(utile::IntToStr(cell.Param3));
  }
  line(CellsEnd);
  return text;
}

void SaveModelFile(const std::string& fileName, const tIBModelFile& model) {
  utile::SaveTextToFile(fileName, ModelFileText(model));
}

tIBModelFile LoadModelFile(const std::string& fileName) {
  return ParseModelFile(utile::LoadTextFromFile(fileName), fileName);
}

tIBModelFile ParseModelFile(const std::string& text, const std::string& fileName) {
  return utile::WithinMemory(fileName, [&] { return ParseModelText(text, fileName); });
}

namespace {
tIBModelFile ParseModelText(const std::string& text, const std::string& fileName) {
  tLineReader in(text, fileName);
  tIBModelFile model;
  {
    const std::string first = in.AtEnd() ? std::string() : in.Text("the first line");
    if (first.find(Signature) == std::string::npos)
      throw utile::EInOutError(utile::Format(
          "Bad Individual-based model file \"%s\", line 1: \"%s\" expected.", fileName, Signature));
    int64_t version;
    const bool readable = first.size() > 8 && utile::TryStrToInt(first.substr(8), version) &&
                          version >= std::numeric_limits<Integer>::min() &&
                          version <= std::numeric_limits<Integer>::max();
    model.Version = readable ? static_cast<Integer>(version) : 1;
  }
  model.Date = in.Text("the date");
  model.Name = in.Text("the model name");
  const Integer mode = in.Number("the reproduction mode");
  if (mode < rmClonal || mode > rmSexuate)
    in.Fail(utile::Format("reproduction mode %d is not one of 0 (Clonal) to 2 (Sexuate)", mode));
  model.ReproductionMode = static_cast<tReproductionMode>(mode);
  model.ExtinctionThreshold = in.Number("the extinction threshold");
  model.DispersalDistance = in.Text("the dispersal distance");
  model.SexRatio = in.Text("the sex ratio");
  model.Autofecondation = in.Text("the selfing probability");
  model.MutationRate = in.Text("the mutation rate");
  model.PatchExtinction = in.Number("the patch extinction switch") == 1;
  model.JuvenileWeight = in.Text("the juvenile weight");
  if (model.Version >= 2) {
    int64_t used;
    model.PatchSuitability = utile::TryStrToInt(in.Text("the patch suitability switch"), used) && used == 1;
  }
  if (model.Version >= 4) model.Genes = utile::TabbedFields(in.Text("the gene prevalences"));
  if (in.Text("\"---\"") != HeaderEnd)
    in.Fail(utile::Format("\"%s\" expected after the parameters", HeaderEnd));

  bool birth = false;
  for (Integer type = in.Number("an event type or \"-9999\""); type != -9999;
       type = in.Number("an event type or \"-9999\"")) {
    if (!IsDrawableEventType(type))
      in.Fail(utile::Format("event type %d is not the type of a life-cycle event", type));
    tModelFileCell cell;
    cell.EventType = static_cast<tLifeEventType>(type);
    if (cell.EventType == leBirth) {
      // A second Birth event would have newborns start their cycle again in mid-course.
      if (birth) in.Fail("a second Birth event");
      birth = true;
    }
    in.Position(cell.Left, cell.Top);
    cell.NextEvent = in.Number("the next event");
    cell.AltEvent = in.Number("the alternative event");
    for (std::optional<std::string>* param : {&cell.Param1, &cell.Param2}) {
      const std::string& value = in.Text("a parameter text");
      if (value != NoText) *param = value;
    }
    cell.Param3 = in.Number("the entry of the third parameter");
    const Integer entries = static_cast<Integer>(EventParameterList(cell.EventType).size());
    if (entries > 0 && (cell.Param3 < 0 || cell.Param3 >= entries))
      in.Fail(utile::Format("entry %d is not in the list of the %s event (0 to %d)", cell.Param3,
                            LifeEventTypeStr[cell.EventType], entries - 1));
    model.Cells.push_back(std::move(cell));
  }
  return model;
}
}  // namespace

std::vector<tModelFileCell> ModelFileCells(const tEventCells& cells) {
  const std::vector<tEventCell*>& order = cells.EventOrder();
  utile::Assert(static_cast<Integer>(order.size()) == cells.Count(), "The cells are not numbered");
  std::vector<tModelFileCell> result;
  for (const tEventCell* cell : order) {
    tModelFileCell& saved = result.emplace_back();
    const tLifeEventType type = cell->GetEventType();
    saved.EventType = type;
    saved.Left = cell->Left;
    saved.Top = cell->Top;
    saved.NextEvent = cell->NextEvent ? cell->NextEvent->Position() : -1;
    saved.AltEvent = cell->AltEvent ? cell->AltEvent->Position() : -1;
    if (HasEventParameter(type, 0)) saved.Param1 = cell->Param1;
    if (HasEventParameter(type, 1)) saved.Param2 = cell->Param2;
    saved.Param3 = HasEventParameter(type, 2) ? cell->Param3 : NoListEntry;
  }
  return result;
}

std::vector<std::unique_ptr<tEventCell>> EventCellsFromFile(const std::vector<tModelFileCell>& cells) {
  std::vector<std::unique_ptr<tEventCell>> result;
  for (const tModelFileCell& saved : cells) {
    auto cell = std::make_unique<tEventCell>(saved.EventType);
    cell->Left = saved.Left;
    cell->Top = saved.Top;
    if (saved.Param1 && HasEventParameter(saved.EventType, 0)) cell->Param1 = *saved.Param1;
    if (saved.Param2 && HasEventParameter(saved.EventType, 1)) cell->Param2 = *saved.Param2;
    if (HasEventParameter(saved.EventType, 2)) cell->Param3 = saved.Param3;
    result.push_back(std::move(cell));
  }
  const Integer count = static_cast<Integer>(result.size());
  const auto linked = [&](Integer position) {
    return position >= 0 && position < count ? result[position].get() : nullptr;
  };
  for (Integer i = 0; i < count; ++i) {
    result[i]->NextEvent = linked(cells[i].NextEvent);
    result[i]->AltEvent = linked(cells[i].AltEvent);
  }
  return result;
}

}  // namespace models
