// A batch file as the sensitivity page loads it and a batch reads its lines:
// the kind of each line, its values, and the numbers in them.
#include "FuzzSupport.h"
#include "Utile/StringOps.h"
#include "app/TaggedControls.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fuzzsupport;
  OwnErrorsOnly([&] {
    std::vector<std::string> lines;
    utile::Tabulate(Text(data, size), '\n', lines, false, 0);
    for (std::string& line : lines) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const vandrel::tBatchLineKind kind = vandrel::BatchLineKind(line);
      if (kind == vandrel::tBatchLineKind::blOther) continue;
      for (const std::string& value : vandrel::BatchLineValues(line, kind)) {
        FuzzCheck(value.find(')') == std::string::npos, "a value keeps a \")\"");
        double number;
        if (utile::TryStrToFloatAnySeparator(value, number))
          FuzzCheck(std::isfinite(number), "a value read as a real beyond every double");
      }
    }
  });
  return 0;
}
