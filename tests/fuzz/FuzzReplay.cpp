// The driver of a fuzz target built without libFuzzer: every file of the folders
// (or files) named on the command line is run, then a fixed number of mutations
// of each, drawn from a fixed seed, so that the run is the same every time.
//
//   FuzzLandscapeFile [--mutations N] corpus/FuzzLandscapeFile
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// Pieces of the files' own grammar that a random byte rarely makes.
const char* const Tokens[] = {"\r\n",
                              "\n",
                              "\t",
                              " ",
                              "-99999",
                              "-9999",
                              "---",
                              "IBsimple 4",
                              "SimID\t",
                              "Landscape\t",
                              "0",
                              "1",
                              "-1",
                              "4294967301",
                              "4611686018427387904",
                              "99999999999999999999",
                              "1.5",
                              "1,5",
                              "e308",
                              "E-0324",
                              "1.79769313486232E+0308",
                              "1.7976931348623157e308",
                              "nan",
                              "inf",
                              "data type   : ",
                              "real",
                              "byte",
                              "integer",
                              "columns     : ",
                              "rows        : ",
                              "min. value  : ",
                              "max. value  : ",
                              "flag value  : ",
                              "flag def'n  : background",
                              "category 1  : ",
                              "Simulation(",
                              "MakeLandscape(",
                              ")",
                              ",",
                              "."};

std::string Mutated(const std::string& seed, std::mt19937& random) {
  std::string s = seed;
  const auto at = [&](size_t size) { return size == 0 ? size_t{0} : size_t(random() % (size + 1)); };
  const int edits = 1 + static_cast<int>(random() % 4);
  for (int k = 0; k < edits; ++k) {
    switch (random() % 6) {
      case 0:  // a byte changed
        if (!s.empty()) s[random() % s.size()] = static_cast<char>(random());
        break;
      case 1:  // a token put in
        s.insert(at(s.size()), Tokens[random() % std::size(Tokens)]);
        break;
      case 2: {  // a piece taken out
        const size_t from = at(s.size());
        s.erase(from, random() % 16);
        break;
      }
      case 3: {  // a piece repeated
        if (s.empty()) break;
        const size_t from = random() % s.size(),
                     length = 1 + random() % std::min<size_t>(64, s.size() - from);
        s.insert(at(s.size()), s.substr(from, length));
        break;
      }
      case 4:  // the end cut off
        s.resize(at(s.size()));
        break;
      default: {  // a digit changed
        for (size_t tries = 0; tries < 8 && !s.empty(); ++tries) {
          char& c = s[random() % s.size()];
          if (c >= '0' && c <= '9') {
            c = static_cast<char>('0' + random() % 10);
            break;
          }
        }
      }
    }
  }
  return s;
}

std::string Bytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Run(const std::string& input) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

}  // namespace

int main(int argc, char** argv) {
  long mutations = 0;
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--mutations") == 0 && i + 1 < argc) {
      mutations = std::atol(argv[++i]);
      continue;
    }
    const std::filesystem::path path = argv[i];
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::directory_iterator(path))
        if (entry.is_regular_file()) files.push_back(entry.path());
    } else {
      files.push_back(path);
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "No input: name the corpus folder or files.\n");
    return 2;
  }
  std::mt19937 random(30);
  for (const auto& file : files) {
    const std::string seed = Bytes(file);
    Run(seed);
    for (long k = 0; k < mutations; ++k) Run(Mutated(seed, random));
  }
  std::printf("%zu inputs, %ld mutations of each: no fault.\n", files.size(), mutations);
  return 0;
}
