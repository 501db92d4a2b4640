// The landscape file (".patch"): patch lines, the sentinel and the distances.
// What reads writes a file that reads back to the same text.
#include "FuzzSupport.h"
#include "models/LandscapeFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fuzzsupport;
  OwnErrorsOnly([&] {
    const models::tLandscapeFile file = models::ParseLandscapeFile(Text(data, size), "fuzz.patch");
    FuzzCheck(!file.Patches.empty(), "a file read without a patch");
    FuzzCheck(file.DistanceMatFixed == !file.DistanceMat.empty(), "distances without their sentinel");
    const utile::tMatrixOfDouble* distances = file.DistanceMatFixed ? &file.DistanceMat : nullptr;
    const std::string written = models::LandscapeFileText(file.Patches, distances);
    const models::tLandscapeFile back = models::ParseLandscapeFile(written, "written.patch");
    FuzzCheck(models::LandscapeFileText(back.Patches, back.DistanceMatFixed ? &back.DistanceMat : nullptr) ==
                  written,
              "a written landscape file reads back otherwise");
  });
  return 0;
}
