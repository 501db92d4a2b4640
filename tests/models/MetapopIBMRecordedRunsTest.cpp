// Seeded runs of the individual-based engine in every mode, with and without
// pedigree, through every event rule, each reduced to one digest of its whole
// output: per step the end states, counts, sex ratios and tag counts of every
// patch; at the end every individual in list order, the adult males in their
// own order, the pool, the whole pedigree, the moves text and the next draw of
// the generator.
//
// Here, and only here, the expected values are recorded output of older code:
// the digests were taken from the engine as it stood before its storage was
// rebuilt for speed (individuals by value in their patches). The rebuilt engine
// must run exactly as that one did, draw for draw and byte for byte, so that
// engine's recorded output is the expectation.
#include <gtest/gtest.h>

#include <bit>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "IBMHarness.h"
#include "Utile/RandomFunctions.h"
#include "models/IBSimulation.h"
#include "models/MetapopIBM.h"
#include "models/PedigreeOps.h"

using namespace models;
using ibmtest::Event;
using ibmtest::tPatchSetup;

namespace {

// FNV-1a over the bytes of fixed-width values.
class tDigest {
 public:
  void Add(int64_t value) {
    for (int i = 0; i < 8; ++i) Byte(static_cast<uint8_t>(value >> (8 * i)));
  }
  void Add(const std::string& text) {
    Add(static_cast<int64_t>(text.size()));
    for (char c : text) Byte(static_cast<uint8_t>(c));
  }
  void AddReal(double value) { Add(static_cast<int64_t>(std::bit_cast<uint64_t>(value))); }
  uint64_t Value() const { return fHash; }

 private:
  void Byte(uint8_t b) {
    fHash ^= b;
    fHash *= 1099511628211ull;
  }
  uint64_t fHash = 14695981039346656037ull;
};

struct tScenario {
  const char* Name;
  tReproductionMode Mode;
  bool Pedigree;
  tLifeCycle Cycle;
  std::vector<tPatchSetup> Patches;
  Integer Cycles = 1;
  int Steps = 30;
  Integer PatchExtinction = 0;
  Cardinal MaxIndividuals = 2000000000;
  Cardinal ExplosionSize = 2000000000;
  // A second run on the same model object, re-initialised as the workbench does,
  // in this mode (the pool keeps its individuals between runs).
  bool Rerun = false;
  tReproductionMode RerunMode = rmClonal;
};

// Random positions, permeabilities and links; patch 1 at the same place as
// patch 0, the last patch linked to none.
void SetScenarioLandscape(size_t n) {
  utile::SetSeeds(61, static_cast<Integer>(n));
  std::vector<std::pair<double, double>> positions;
  for (size_t i = 0; i < n; ++i) positions.emplace_back(utile::Ran(0.0, 12.0), utile::Ran(0.0, 12.0));
  if (n > 2) positions[1] = positions[0];
  ibmtest::SetLandscape(positions, 1.0);
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < i; ++j) {
      FrictionMap[i][j] = FrictionMap[j][i] = utile::Ran(0.5, 1.0);
      ConnectanceMat[i][j] = ConnectanceMat[j][i] = utile::Ran() < 0.75;
    }
  if (n > 3)
    for (size_t j = 0; j < n; ++j) ConnectanceMat[n - 1][j] = ConnectanceMat[j][n - 1] = j == n - 1;
}

void AddStep(tDigest& digest, tMetaPop& metapop) {
  digest.Add(metapop.Time);
  digest.Add(metapop.CurrentID);
  digest.Add(metapop.Extinct);
  digest.Add(metapop.Explosion);
  digest.Add(metapop.Overflow);
  digest.Add(metapop.ExtTime);
  digest.Add(metapop.N());
  for (Integer p = 0; p < metapop.PatchCount(); ++p) {
    tPatch* patch = metapop.GetPatches(p);
    digest.Add(patch->IndCount());
    digest.Add(patch->N(acJuvenile));
    digest.Add(patch->N(acAdult));
    digest.Add(patch->NjuvenilesActual());
    digest.Add(patch->NadultsActual());
    digest.Add(std::bit_cast<uint32_t>(patch->SexRatio()));
    for (Cardinal count : patch->TagCount()) digest.Add(count);
  }
  for (Cardinal count : metapop.TagCount()) digest.Add(count);
}

void AddEnd(tDigest& digest, tMetaPop& metapop) {
  for (Integer p = 0; p < metapop.PatchCount(); ++p) {
    tPatch* patch = metapop.GetPatches(p);
    for (Integer i = 0; i < patch->IndCount(); ++i) {
      tIndividual* ind = patch->GetInd(i);
      digest.Add(ind->ID());
      digest.Add(ind->Genes());
      digest.Add(ind->Event());
      digest.Add(ind->Age());
      digest.Add(ind->Tag());
      if (metapop.GetReproductionMode() == rmSexuate) digest.Add(ind->Sex());
    }
    if (auto* sexuate = dynamic_cast<tPatchSexuate*>(patch)) {
      digest.Add(sexuate->MatureMaleCount());
      for (Integer i = 0; i < sexuate->MatureMaleCount(); ++i) digest.Add(sexuate->MatureMale(i).ID);
    }
  }
  digest.Add(metapop.Pool()->Count());
  if (const tPedigree* pedigree = metapop.Pedigree()) {
    digest.Add(pedigree->Count());
    digest.Add(pedigree->PatchCount());
    digest.Add(pedigree->GenerationCount());
    for (Cardinal id = 1; id <= pedigree->Count(); ++id) {
      const tPedigreeInfo info = pedigree->GetIndividuals(id);
      for (Cardinal value : {info.Date, info.ID, info.Mother, info.Father, info.Patch}) digest.Add(value);
      digest.Add(info.Sex);
      for (Cardinal position : pedigree->GetPositions(id)) digest.Add(position);
    }
  }
  for (const std::string& line : IndividualMovesLines(metapop, metapop.Time, true)) digest.Add(line);
  digest.AddReal(utile::Ran());
}

void Build(tMetaPop& metapop, const tScenario& s, tReproductionMode mode) {
  metapop.Species->SexRatio = 0.45;
  metapop.Species->Autofecondation = 0.3;
  metapop.Species->JuvenileWeight = 0.25;
  metapop.Species->PatchExtinction = s.PatchExtinction;
  for (int locus = 0; locus < 16; ++locus) metapop.GenePrevalences()[locus] = 0.04 * locus;
  ibmtest::Build(metapop, mode, s.Patches, s.Cycle, s.Pedigree);
  metapop.MaxIndividuals = s.MaxIndividuals;
  metapop.ExplosionSize = s.ExplosionSize;
}

void RunSteps(tDigest& digest, tMetaPop& metapop, const tScenario& s) {
  for (int step = 0; step < s.Steps; ++step) {
    try {
      metapop.Run(1, s.Cycles);
    } catch (const std::exception& e) {
      digest.Add(std::string("raised at step ") + std::to_string(step) + ": " + e.what());
      digest.AddReal(utile::Ran());
      return;
    }
    AddStep(digest, metapop);
  }
  AddEnd(digest, metapop);
}

uint64_t RunScenario(const tScenario& s) {
  SetScenarioLandscape(s.Patches.size());
  tDigest digest;
  tMetaPop metapop;
  utile::SetSeeds(62, 7);
  Build(metapop, s, s.Mode);
  AddStep(digest, metapop);
  RunSteps(digest, metapop, s);
  if (s.Rerun) {
    utile::SetSeeds(63, 8);
    Build(metapop, s, s.RerunMode);
    AddStep(digest, metapop);
    RunSteps(digest, metapop, s);
  }
  return digest.Value();
}

tLifeEvent Random(double threshold, Integer next, Integer alt) {
  tLifeEvent event = Event(leRandom, next, alt);
  event.Threshold = threshold;
  return event;
}

tLifeEvent Tag(Integer tag, Integer next) {
  tLifeEvent event = Event(leTag, next);
  event.Tag = tag;
  return event;
}

tLifeEvent Gene(Integer locus, tInheritanceType inheritance, Integer next, Integer alt) {
  tLifeEvent event = Event(leGeneConditional, next, alt);
  event.Locus = locus;
  event.Inheritance = inheritance;
  return event;
}

// Overlapping generations: adults age and go round again until they fail to
// survive; some are tagged on the way.
tLifeCycle Overlapping(tReproductionType reproduction, bool synchronisation, double fecundity = 2.5) {
  return {Event(leBirth, 1),
          ibmtest::Survival(0.8, 2, 9),
          ibmtest::Dispersal(0.9, 2.0, 3, 9),
          Event(leGetOlder, synchronisation ? 4 : 5),
          Event(leSynchro, 5),
          ibmtest::Reproduction(reproduction, fecundity, 6),
          Random(0.5, 7, 8),
          Tag(3, 8),
          Event(leGetOlder, 1),
          ibmtest::Death()};
}

// Every rule: ceiling regulation (its failures die censused), a gene-dependent and
// a sex-dependent (or random) branch to tags, missing links to the end.
tLifeCycle EveryRule(tReproductionType reproduction, bool sexuate, bool synchronisation,
                     tInheritanceType inheritance, tDispersalType kernel, double fecundity) {
  tLifeEvent branch = Event(sexuate ? leSexConditional : leRandom, 10, 12);
  branch.Threshold = 0.6;
  return {Event(leBirth, 1),
          ibmtest::Survival(0.85, 2),
          ibmtest::Dispersal(0.9, 2.0, 3, -1, kernel),
          Event(leGetOlder, synchronisation ? 11 : 4),
          Event(leRegulation, 5, 9),
          ibmtest::Reproduction(reproduction, fecundity, 6),
          Gene(3, inheritance, 7, 8),
          Tag(5, 8),
          branch,
          ibmtest::Death(dsCensused),
          Event(leGetOlder, 1),
          Event(leSynchro, 4),
          Tag(9, 10)};
}

// The workbench's usual cycle: born, survive, disperse, age, reproduce, die.
tLifeCycle Generations(tReproductionType reproduction, double fecundity) {
  return {Event(leBirth, 1),
          ibmtest::Survival(0.8, 2, 5),
          ibmtest::Dispersal(0.9, 1.5, 3, 5),
          Event(leGetOlder, 4),
          ibmtest::Reproduction(reproduction, fecundity, 5),
          ibmtest::Death(dsCensused)};
}

std::vector<tPatchSetup> SevenPatches() {
  return {{40, 30, 1.0f, 0.02f}, {25, 20, 0.8f, 0.0f}, {40, 0, 1.0f, 0.05f}, {10, 10, 1.0f, 0.0f},
          {60, 40, 0.6f, 0.0f},  {40, 5, 1.0f, 0.1f},  {30, 30, 1.0f, 0.0f}};
}

struct tRecordedRun {
  tScenario Scenario;
  uint64_t Digest;
};

std::vector<tRecordedRun> RecordedRuns() {
  std::vector<tRecordedRun> runs;
  const auto add = [&runs](tScenario s, uint64_t digest) { runs.push_back({std::move(s), digest}); };

  // ---- sexuate
  add({"sexuate, ceiling, pedigree", rmSexuate, true, Overlapping(rtCeiling, false), SevenPatches()},
      0x0067c684d88536e9ull);
  add({"sexuate, ceiling, no pedigree", rmSexuate, false, Overlapping(rtCeiling, false), SevenPatches()},
      0xb6402e21021bd2eaull);
  add({"sexuate, synchronisation, two cycles a step", rmSexuate, true, Overlapping(rtCeiling, true),
       SevenPatches(), 2, 20},
      0x34b87313ac80f262ull);
  add({"sexuate, every rule, Ricker, arctan", rmSexuate, true,
       EveryRule(rtRicker, true, false, itDominant, diArcTan, 3.5), SevenPatches()},
      0x1c6546bbdbcc3a34ull);
  add({"sexuate, every rule, Gompertz, synchronisation, recessive", rmSexuate, false,
       EveryRule(rtGompertz, true, true, itRecessive, diExponential, 3.5), SevenPatches()},
      0x11978d10877696c1ull);
  add({"sexuate, generations at K = 2000, pedigree",
       rmSexuate,
       true,
       Generations(rtCeiling, 4),
       {{2000, 2000, 1.0f, 0.0f}, {2000, 1500, 0.9f, 0.0f}, {2000, 2500, 1.0f, 0.0f}},
       1,
       8},
      0xf58d33be4befb4f9ull);
  add({"sexuate, growth until explosion", rmSexuate, false, Generations(rtDensityIndependent, 5),
       SevenPatches(), 1, 30, 0, 2000000000, 3000},
      0x5ac3936ba6c7997aull);
  add({"sexuate, overflow of IDs", rmSexuate, true, Generations(rtCeiling, 4), SevenPatches(), 1, 30, 0, 900},
      0x2d3c5f87d5157221ull);

  // ---- hermaphrodite
  add({"hermaphrodite, ceiling, pedigree", rmHermaphrodite, true, Overlapping(rtCeiling, false),
       SevenPatches()},
      0x4cd841fb1d820d18ull);
  add({"hermaphrodite, every rule, Ricker, two cycles a step", rmHermaphrodite, false,
       EveryRule(rtRicker, false, false, itDominant, diExponential, 2.5), SevenPatches(), 2, 15},
      0xfd207202f565e666ull);
  add({"hermaphrodite, every rule, Gompertz, synchronisation, arctan", rmHermaphrodite, true,
       EveryRule(rtGompertz, false, true, itRecessive, diArcTan, 2.5), SevenPatches()},
      0xe772dc5da0358accull);
  add({"hermaphrodite, generations at K = 1500",
       rmHermaphrodite,
       false,
       Generations(rtCeiling, 3),
       {{1500, 1500, 1.0f, 0.0f}, {1500, 1000, 1.0f, 0.0f}},
       1,
       8},
      0x149ce816ad93fd70ull);

  // ---- clonal
  add({"clonal, ceiling, patch extinction, pedigree", rmClonal, true, Overlapping(rtCeiling, true),
       SevenPatches(), 1, 30, 1},
      0x47f1b18bdb81e0a8ull);
  add({"clonal, every rule, density-independent, no pedigree", rmClonal, false,
       EveryRule(rtDensityIndependent, false, false, itDominant, diExponential, 1.6), SevenPatches()},
      0x9b5165448bc018b5ull);
  {
    // A flat kernel without dispersal survival of its own: the landscape's
    // permeability alone; tags given at random, recycled through the pool when
    // patches go extinct.
    tLifeEvent regulation = Event(leRegulation, 7, 8);
    const tLifeCycle cycle = {Event(leBirth, 1),
                              Random(0.5, 2, 3),
                              Tag(7, 3),
                              ibmtest::Dispersal(0.0, -1.0, 4),
                              Event(leGetOlder, 5),
                              ibmtest::Reproduction(rtCeiling, 2.0, 6),
                              regulation,
                              Event(leGetOlder, 1),
                              ibmtest::Death(dsCensused)};
    add({"clonal, flat kernel, regulation, recycled tags", rmClonal, true, cycle, SevenPatches(), 1, 30, 1},
        0x87f1a7e7b7750eeaull);
  }
  {
    // Birth reached inside the cycle: the walk nested in Birth ends where it
    // stops, and the outer walk goes on from there.
    const tLifeCycle cycle = {Event(leBirth, 1),
                              ibmtest::Survival(0.95, 2),
                              Random(0.15, 0, 3),
                              Event(leGetOlder, 4),
                              ibmtest::Reproduction(rtCeiling, 2.2, 5),
                              Random(0.5, 1, 6),
                              ibmtest::Death(dsCensused)};
    add({"clonal, Birth inside the cycle, pedigree", rmClonal, true, cycle, SevenPatches()},
        0x591ae2131993a565ull);
    add({"hermaphrodite, Birth inside the cycle", rmHermaphrodite, false, cycle, SevenPatches()},
        0xbc57549df7873a58ull);
  }
  add({"clonal, a rule that divides by zero",
       rmClonal,
       false,
       Generations(rtGompertz, 2),
       {{1, 5, 1.0f, 0.0f}, {1, 0, 1.0f, 0.0f}},
       1,
       5},
      0xf3f1c913a2578b26ull);
  add({"clonal, extinction", rmClonal, true, Generations(rtCeiling, 0.3), SevenPatches()},
      0x94b1c5cb3c91a167ull);

  // ---- a model re-initialised for a second run, as the workbench does
  {
    tScenario s{"clonal then clonal again: the pool keeps its tags",
                rmClonal,
                false,
                Overlapping(rtCeiling, false),
                SevenPatches(),
                1,
                15};
    s.Rerun = true;
    s.RerunMode = rmClonal;
    add(s, 0x988470a553045a44ull);
  }
  {
    tScenario s{"hermaphrodite then sexuate",
                rmHermaphrodite,
                true,
                Overlapping(rtCeiling, false),
                SevenPatches(),
                1,
                15};
    s.Rerun = true;
    s.RerunMode = rmSexuate;
    add(s, 0xc5e81d5b85f4af58ull);
  }
  return runs;
}

TEST(MetapopIBMRecordedRuns, EveryModeAndRuleRunsAsRecorded) {
  for (const tRecordedRun& run : RecordedRuns()) {
    const uint64_t digest = RunScenario(run.Scenario);
    char text[32];
    std::snprintf(text, sizeof text, "0x%016" PRIx64, digest);
    EXPECT_EQ(digest, run.Digest) << run.Scenario.Name << ": " << text;
  }
}

}  // namespace
