// The individual-based batch result file, as a batch that appends to it reads it.
#include "FuzzSupport.h"
#include "models/IBBatch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fuzzsupport;
  const std::string name = WriteFile("result.txt", Text(data, size));
  OwnErrorsOnly([&] {
    const models::tIBResultFileState state = models::ReadIBResultFile(name);
    FuzzCheck(state.LargestSimID <= models::LargestResultNumber &&
                  state.LargestLandscape <= models::LargestResultNumber,
              "a number beyond those a batch continues from");
  });
  return 0;
}
