// The individual-based model file: read, its cells made and the life cycle
// checked as opening it does; what reads writes a file that reads back alike.
#include "FuzzSupport.h"
#include "models/EventCells.h"
#include "models/IBModelFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fuzzsupport;
  OwnErrorsOnly([&] {
    const models::tIBModelFile model = models::ParseModelFile(std::string(Text(data, size)), "fuzz.model");
    const std::string written = models::ModelFileText(model);
    FuzzCheck(models::ModelFileText(models::ParseModelFile(written, "written.model")) == written,
              "a written model file reads back otherwise");
    models::tEventCells cells;
    cells.Assign(models::EventCellsFromFile(model.Cells));
    std::string messages;
    models::tLifeCycle cycle;
    for (const models::tReproductionMode mode : {models::rmClonal, models::rmSexuate})
      if (cells.BuildCycle(messages, cycle, mode, 0.5))
        FuzzCheck(cycle.size() == model.Cells.size(), "a cycle of another length than its cells");
  });
  return 0;
}
