// A raster map: the documentation file is the input up to its first NUL byte,
// the image file what follows. Its cells are read whole; its documentation,
// written and read again, is written again to the same bytes.
#include "FuzzSupport.h"
#include "Utile/Idrisi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fuzzsupport;
  const std::string_view input = Text(data, size);
  const size_t split = std::min(input.find('\0'), input.size());
  utile::ChangeIdrisiVersion(utile::ivIdrisi32);
  const std::string name = WriteFile("map.rdc", input.substr(0, split));
  WriteFile("map.rst", input.substr(std::min(split + 1, input.size())));
  OwnErrorsOnly([&] {
    utile::tRaster map(name);
    const utile::tMatrixOfDouble cells = map.AsMatrix();
    FuzzCheck(cells.size() == static_cast<size_t>(map.Rows), "a matrix of another row count than the map");
    map.FileName = Folder() + "/again";
    map.WriteDoc();
    const std::string written = utile::LoadTextFromFile(map.DocFileName());
    utile::tRaster again(map.DocFileName());
    again.WriteDoc();
    FuzzCheck(utile::LoadTextFromFile(again.DocFileName()) == written,
              "a written documentation file reads back otherwise");
  });
  return 0;
}
