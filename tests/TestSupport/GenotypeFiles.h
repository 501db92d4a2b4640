// Strict readers of the two genotype file formats that the genetic outputs
// write, FSTAT and Genepop: every line must end with CR LF and every field must
// be where the format puts it. They return the counts found, so that tests can
// compare them with the pedigree's.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

namespace genotype_detail {

inline std::vector<std::string> Lines(const std::string& text, bool& crlf) {
  std::vector<std::string> lines;
  crlf = true;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      crlf = false;
      end = text.size();
    }
    std::string line = text.substr(start, end - start);
    if (line.empty() || line.back() != '\r')
      crlf = false;
    else
      line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

inline std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; in >> field;) fields.push_back(field);
  return fields;
}

inline bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace genotype_detail

struct tGenotypeFile {
  int Populations = 0, Loci = 0, Alleles = 0;
  std::vector<int> PerPopulation;  // individuals in each sample or Pop block
  std::vector<std::vector<std::pair<int, int>>> Genotypes;
};

// A strict FSTAT reader: "np nl nu nd", nl locus names, then one line per
// individual: its sample (1..np) and nl genotypes of 2 x nd digits, alleles 1..nu.
inline ::testing::AssertionResult ReadFstat(const std::string& text, tGenotypeFile& file) {
  bool crlf;
  const auto lines = genotype_detail::Lines(text, crlf);
  if (!crlf) return ::testing::AssertionFailure() << "lines must end with CR LF";
  if (lines.empty()) return ::testing::AssertionFailure() << "no header";
  const auto header = genotype_detail::Fields(lines[0]);
  if (header.size() != 4 || !std::all_of(header.begin(), header.end(), genotype_detail::AllDigits))
    return ::testing::AssertionFailure() << "header: " << lines[0];
  file.Populations = std::stoi(header[0]);
  file.Loci = std::stoi(header[1]);
  file.Alleles = std::stoi(header[2]);
  const int digits = std::stoi(header[3]);
  if (digits < 1 || digits > 3) return ::testing::AssertionFailure() << "digits " << digits;
  if (int(lines.size()) < 1 + file.Loci) return ::testing::AssertionFailure() << "locus names missing";
  for (int k = 1; k <= file.Loci; ++k)
    if (genotype_detail::Fields(lines[k]).size() != 1)
      return ::testing::AssertionFailure() << "locus name: " << lines[k];
  file.PerPopulation.assign(file.Populations + 1, 0);
  for (size_t l = 1 + file.Loci; l < lines.size(); ++l) {
    const auto fields = genotype_detail::Fields(lines[l]);
    if (int(fields.size()) != 1 + file.Loci)
      return ::testing::AssertionFailure() << "line " << l << ": " << lines[l];
    if (!genotype_detail::AllDigits(fields[0]))
      return ::testing::AssertionFailure() << "sample: " << fields[0];
    const int sample = std::stoi(fields[0]);
    if (sample < 1 || sample > file.Populations) return ::testing::AssertionFailure() << "sample " << sample;
    ++file.PerPopulation[sample];
    std::vector<std::pair<int, int>> genotype;
    for (int k = 1; k <= file.Loci; ++k) {
      const std::string& g = fields[k];
      if (int(g.size()) != 2 * digits || !genotype_detail::AllDigits(g))
        return ::testing::AssertionFailure() << "genotype " << g;
      const int a = std::stoi(g.substr(0, digits)), b = std::stoi(g.substr(digits));
      if (a < 1 || a > file.Alleles || b < 1 || b > file.Alleles)
        return ::testing::AssertionFailure() << "allele out of range in " << g;
      genotype.push_back({a, b});
    }
    file.Genotypes.push_back(genotype);
  }
  return ::testing::AssertionSuccess();
}

// A strict Genepop reader: a title line, the locus names (on one line separated
// by commas, or one per line), then populations each opened by "Pop"; an
// individual's name ends at the first comma, and its genotypes follow, one per
// locus, of 4 or 6 digits.
inline ::testing::AssertionResult ReadGenepop(const std::string& text, tGenotypeFile& file) {
  bool crlf;
  const auto lines = genotype_detail::Lines(text, crlf);
  if (!crlf) return ::testing::AssertionFailure() << "lines must end with CR LF";
  auto isPop = [](const std::string& line) {
    const auto f = genotype_detail::Fields(line);
    return f.size() == 1 && (f[0] == "Pop" || f[0] == "POP" || f[0] == "pop");
  };
  size_t l = 1;
  std::vector<std::string> loci;
  for (; l < lines.size() && !isPop(lines[l]); ++l) {
    std::string names = lines[l];
    for (size_t start = 0;;) {
      const size_t comma = names.find(',', start);
      const std::string name =
          names.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      if (genotype_detail::Fields(name).size() != 1)
        return ::testing::AssertionFailure() << "locus name '" << name << "'";
      loci.push_back(name);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  file.Loci = int(loci.size());
  int digits = 0;
  for (; l < lines.size(); ++l) {
    if (isPop(lines[l])) {
      if (!file.PerPopulation.empty() && file.PerPopulation.back() == 0)
        return ::testing::AssertionFailure() << "empty population before line " << l;
      file.PerPopulation.push_back(0);
      continue;
    }
    const size_t comma = lines[l].find(',');
    if (comma == std::string::npos) return ::testing::AssertionFailure() << "no comma: " << lines[l];
    const auto genotypes = genotype_detail::Fields(lines[l].substr(comma + 1));
    if (int(genotypes.size()) != file.Loci)
      return ::testing::AssertionFailure() << "line " << l << ": " << lines[l];
    std::vector<std::pair<int, int>> genotype;
    for (const std::string& g : genotypes) {
      if (!genotype_detail::AllDigits(g) || (g.size() != 4 && g.size() != 6))
        return ::testing::AssertionFailure() << "genotype " << g;
      if (digits == 0) digits = int(g.size()) / 2;
      if (int(g.size()) != 2 * digits) return ::testing::AssertionFailure() << "mixed allele widths";
      genotype.push_back({std::stoi(g.substr(0, digits)), std::stoi(g.substr(digits))});
    }
    file.Genotypes.push_back(genotype);
    ++file.PerPopulation.back();
  }
  if (file.PerPopulation.empty()) return ::testing::AssertionFailure() << "no population";
  if (file.PerPopulation.back() == 0) return ::testing::AssertionFailure() << "empty last population";
  file.Populations = int(file.PerPopulation.size());
  return ::testing::AssertionSuccess();
}

}  // namespace testsupport
