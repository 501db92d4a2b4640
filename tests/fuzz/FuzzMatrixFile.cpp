// Matrix files, text (first byte even) or binary (odd), the rest of the input
// being the file. What reads is written and reads back to the same bytes.
#include "FuzzSupport.h"
#include "Utile/VectorOps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fuzzsupport;
  if (size == 0) return 0;
  const bool binary = (data[0] & 1) != 0;
  const std::string name = WriteFile(binary ? "matrix.bin" : "matrix.txt", Text(data + 1, size - 1));
  OwnErrorsOnly([&] {
    const utile::tMatrixOfDouble m = utile::MatLoadFromFile(name, binary);
    const std::string again = Folder() + (binary ? "/again.bin" : "/again.txt");
    utile::MatSaveToFile(m, again, binary);
    const std::string written = utile::LoadTextFromFile(again);
    utile::MatSaveToFile(utile::MatLoadFromFile(again, binary), again, binary);
    FuzzCheck(utile::LoadTextFromFile(again) == written, "a written matrix file reads back otherwise");
  });
  return 0;
}
