// What the fuzz targets of the file readers share. Each target is a
// LLVMFuzzerTestOneInput: built with clang's libFuzzer (preset "fuzz",
// tools/fuzz.sh) it is fuzzed; built otherwise it is linked with FuzzReplay.cpp,
// which replays its corpus and mutations of it as a short test.
//
// A reader may refuse any input, but only with the program's own errors
// (utile::Exception and its kinds): anything else escapes the target and is a
// fault, as is a broken round trip (FuzzCheck).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "Utile/RunTime.h"

namespace fuzzsupport {

inline std::string_view Text(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A fault of the reader: written out where the fuzzer or the replay shows it.
inline void FuzzCheck(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "Fuzz check failed: %s\n", what);
  std::abort();
}

// Runs a reader, letting only the program's own errors pass.
template <class tAction>
void OwnErrorsOnly(tAction&& action) {
  try {
    action();
  } catch (const utile::Exception&) {
  }
}

// A folder of this process's own for the files the readers take, removed at its end.
inline const std::string& Folder() {
  struct tFolder {
    std::string Path;
    tFolder() {
      // In memory where the system offers it (a file replaced on disk waits for
      // the disk), else in the temporary folder.
      for (const std::string& base :
           {std::string("/dev/shm"), std::filesystem::temp_directory_path().string()}) {
        std::string pattern = base + "/vandrel-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data())) {
          Path = pattern;
          return;
        }
      }
      std::fprintf(stderr,
                   "No folder for the fuzz inputs could be made in /dev/shm or the temporary folder.\n");
      std::abort();
    }
    ~tFolder() {
      std::error_code ignored;
      std::filesystem::remove_all(Path, ignored);
    }
  };
  static const tFolder folder;
  return folder.Path;
}

// The bytes written to a file of that name in Folder(); its full name. A file
// that cannot be written whole (a full folder) ends the run saying so, rather
// than handing the reader less than the input.
inline std::string WriteFile(const std::string& name, std::string_view bytes) {
  const std::string path = Folder() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "The fuzz input %s could not be written.\n", path.c_str());
    std::abort();
  }
  return path;
}

}  // namespace fuzzsupport
