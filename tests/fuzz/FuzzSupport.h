// What the fuzz targets of the file readers share. Each target is a
// LLVMFuzzerTestOneInput: built with clang's libFuzzer (preset "fuzz",
// tools/fuzz.sh) it is fuzzed; built otherwise it is linked with FuzzReplay.cpp,
// which replays its corpus and mutations of it as a short test.
//
// A reader may refuse any input, but only with the program's own errors
// (utile::Exception and its kinds): anything else escapes the target and is a
// fault, as is a broken round trip (FuzzCheck).
#pragma once

#include <unistd.h>

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

// A folder of this process for the files the readers take, removed at its end.
inline const std::string& Folder() {
  struct tFolder {
    std::string Path;
    tFolder() {
      // In memory where the system offers it: a file replaced on disk waits for the disk.
      std::error_code error;
      const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                             ? std::filesystem::path("/dev/shm")
                                             : std::filesystem::temp_directory_path();
      const std::filesystem::path path = base / ("vandrel-fuzz-" + std::to_string(::getpid()));
      std::filesystem::create_directories(path);
      Path = path.string();
    }
    ~tFolder() {
      std::error_code ignored;
      std::filesystem::remove_all(Path, ignored);
    }
  };
  static const tFolder folder;
  return folder.Path;
}

// The bytes written to a file of that name in Folder(); its full name.
inline std::string WriteFile(const std::string& name, std::string_view bytes) {
  const std::string path = Folder() + "/" + name;
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

}  // namespace fuzzsupport
