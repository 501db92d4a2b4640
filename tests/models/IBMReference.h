// A plain individual-based model written for the tests only: ordered lists that
// close their gaps at once, a discrete draw over the matrix column at every
// dispersal, every pass walked, the pedigree kept as plain records. It follows the
// same rules and the same order of random draws, so a seeded run must give exactly
// what the engine gives.
#pragma once

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "Utile/RandomFunctions.h"
#include "Utile/VectorOps.h"
#include "models/MetapopCommon.h"
#include "models/MetapopIBM.h"
#include "models/PedigreeOps.h"

namespace ibmtest {

class tReferenceModel {
 public:
  struct tInd {
    models::Cardinal ID = 0;
    int Age = 0;
    int Event = 0;
    int Tag = 0;
    models::Cardinal Genes = 0;
    bool Male = false;
  };
  struct tPatch {
    std::vector<int> Inds;  // object numbers, in list order
    std::vector<int> Males;
    int Juveniles = 0, Adults = 0, JuvenilesActual = 0, AdultsActual = 0;
    int Capacity = 0;
    double Suitability = 1, Extinction = 0;
  };

  models::tReproductionMode Mode = models::rmSexuate;
  double SexRatio = 0.5, Autofecondation = 0, JuvenileWeight = 0;
  bool PatchExtinction = false;
  double Prevalence[16] = {};
  std::vector<tInd> Objects;
  std::vector<int> Pool;
  std::vector<tPatch> Patches;
  models::Cardinal CurrentID = 1;
  models::Cardinal Time = 1;
  bool WaitingSync = false;

  // One record per ID given (index ID - 1) when the pedigree is kept: the birth and
  // every census (each ageing and each censused death).
  struct tRecord {
    models::Cardinal Date = 0, Mother = 0, Father = 0, Patch = 0;
    models::tPedigreeSex Sex = models::psNA;
    std::vector<models::Cardinal> Censuses;  // patch IDs
  };
  bool KeepPedigree = false;
  std::vector<tRecord> Records;

  void SetCycle(const models::tLifeCycle& cycle) {
    const int n = static_cast<int>(cycle.size());
    fCycle = cycle;
    fEnd = n;
    int age = 0;
    fAgeReproduction = -1;
    for (int i = 0; i < n; ++i) {
      if (cycle[i].EventType == models::leGetOlder) ++age;
      if (fAgeReproduction == -1 && cycle[i].EventType == models::leReproduction) fAgeReproduction = age;
      if (fCycle[i].NextEvent == -1) fCycle[i].NextEvent = n;
      if (fCycle[i].AltEvent == -1) fCycle[i].AltEvent = n;
    }
    models::tLifeEvent end;
    end.EventType = models::leDead;
    end.NextEvent = end.AltEvent = n;
    fCycle.push_back(end);
  }

  void AddFounders(int patch, int n) {
    for (int i = 0; i < n; ++i) Objects[NewIndividual(patch, -1, -1)].Event = 1;
    Patches[patch].Juveniles = Patches[patch].JuvenilesActual;
    Patches[patch].Adults = Patches[patch].AdultsActual;
  }

  void GrowPool(int n) {
    for (int i = 0; i < n; ++i) {
      Objects.push_back(tInd{});
      Pool.push_back(static_cast<int>(Objects.size()) - 1);
    }
  }

  void TimeStep(int cycles) {
    int done = 0;
    for (;;) {
      WaitingSync = false;
      for (size_t p = 0; p < Patches.size(); ++p)
        for (int i = static_cast<int>(Patches[p].Inds.size()) - 1; i >= 0; --i)
          DoLifeCycle(Patches[p].Inds[i], p);
      for (size_t p = 0; p < Patches.size(); ++p) Synchronise(p);
      if (WaitingSync) continue;
      if (PatchExtinction)
        for (tPatch& patch : Patches)
          if (utile::Ran() < patch.Extinction) {
            for (int o : patch.Inds) Pool.push_back(o);
            patch.Inds.clear();
            patch.Males.clear();
            patch.Juveniles = patch.Adults = patch.JuvenilesActual = patch.AdultsActual = 0;
          }
      for (size_t p = 0; p < Patches.size(); ++p) {
        tPatch& patch = Patches[p];
        for (int i = static_cast<int>(patch.Inds.size()) - 1; i >= 0; --i) {
          tInd& ind = Objects[patch.Inds[i]];
          const bool wasJuvenile = !Adult(ind);
          if (KeepPedigree) Records[ind.ID - 1].Censuses.push_back(static_cast<models::Cardinal>(p + 1));
          ++ind.Age;
          ind.Event = fCycle[ind.Event].NextEvent;
          if (Mode == models::rmSexuate && ind.Male && wasJuvenile && Adult(ind))
            patch.Males.push_back(patch.Inds[i]);
          if (ind.Age == fAgeReproduction) {
            --patch.JuvenilesActual;
            ++patch.AdultsActual;
          }
        }
        Synchronise(p);
      }
      if (++done >= cycles) break;
    }
    ++Time;
  }

 private:
  bool Adult(const tInd& ind) const { return fAgeReproduction <= ind.Age; }

  void Synchronise(size_t p) {
    tPatch& patch = Patches[p];
    patch.Juveniles = patch.JuvenilesActual;
    patch.Adults = patch.AdultsActual;
    for (int o : patch.Inds)
      if (fCycle[Objects[o].Event].EventType == models::leSynchro) {
        WaitingSync = true;
        Objects[o].Event = fCycle[Objects[o].Event].NextEvent;
      }
  }

  void Add(int o, size_t p) {
    tPatch& patch = Patches[p];
    patch.Inds.push_back(o);
    (Adult(Objects[o]) ? patch.AdultsActual : patch.JuvenilesActual)++;
    if (Mode == models::rmSexuate && Objects[o].Male && Adult(Objects[o])) patch.Males.push_back(o);
  }

  void Remove(int o, size_t p) {
    tPatch& patch = Patches[p];
    const auto found = std::find(patch.Inds.begin(), patch.Inds.end(), o);
    if (found == patch.Inds.end()) return;
    patch.Inds.erase(found);
    const auto male = std::find(patch.Males.begin(), patch.Males.end(), o);
    if (male != patch.Males.end()) patch.Males.erase(male);
    (Adult(Objects[o]) ? patch.AdultsActual : patch.JuvenilesActual)--;
  }

  models::Cardinal FounderHalf(int shift) {
    models::Cardinal genes = 0;
    for (int i = 0; i < 16; ++i)
      if (utile::Ran() < Prevalence[i]) genes |= 1u << (i + shift);
    return genes;
  }

  int NewIndividual(size_t p, int mother, int father) {
    if (Pool.empty()) GrowPool(10000);
    const int o = Pool.back();
    Pool.pop_back();
    tInd& ind = Objects[o];
    ind.ID = CurrentID++;
    ind.Age = 0;
    ind.Event = 0;
    if (Mode == models::rmClonal) {
      if (mother >= 0) {
        ind.Genes = Objects[mother].Genes;
      } else {
        ind.Genes = 0;
        for (int i = 0; i < 16; ++i)
          if (utile::Ran() < Prevalence[i]) ind.Genes |= (1u << i) | (1u << (16 + i));
      }
    } else {
      // Each parent gives one of its two copies per locus, chosen by a random mask.
      const models::Cardinal m = static_cast<models::Cardinal>(utile::Ran(models::Integer{65536}));
      models::Cardinal genes = 0;
      if (mother >= 0) {
        for (int i = 0; i < 16; ++i) {
          const models::Cardinal g = Objects[mother].Genes;
          const models::Cardinal copy = (m >> i) & 1 ? (g >> (16 + i)) & 1 : (g >> i) & 1;
          genes |= copy << i;
        }
      } else {
        genes = FounderHalf(0);
      }
      const models::Cardinal f = static_cast<models::Cardinal>(utile::Ran(models::Integer{65536}));
      if (father >= 0) {
        for (int i = 0; i < 16; ++i) {
          const models::Cardinal g = Objects[father].Genes;
          const models::Cardinal copy = (f >> i) & 1 ? (g >> (16 + i)) & 1 : (g >> i) & 1;
          genes |= copy << (16 + i);
        }
      } else {
        genes |= FounderHalf(16);
      }
      ind.Genes = genes;
      if (Mode == models::rmSexuate) ind.Male = !(utile::Ran() < SexRatio);
    }
    Add(o, p);
    if (KeepPedigree) {
      tRecord record;
      record.Date = Time;
      record.Mother = mother >= 0 ? Objects[mother].ID : 0;
      record.Father = father >= 0 ? Objects[father].ID : 0;
      record.Patch = static_cast<models::Cardinal>(p + 1);
      if (Mode == models::rmSexuate) record.Sex = ind.Male ? models::psMale : models::psFemale;
      Records.push_back(record);
    }
    return o;
  }

  double Competitive(const tPatch& patch) const {
    return JuvenileWeight * patch.Juveniles + (1 - JuvenileWeight) * patch.Adults;
  }

  int ChooseMate(int o, size_t p) {
    tPatch& patch = Patches[p];
    switch (Mode) {
      case models::rmClonal:
        return o;
      case models::rmHermaphrodite: {
        if (utile::Ran() < Autofecondation) return o;
        const auto mate = [&](int k) { return Adult(Objects[patch.Inds[k]]) && patch.Inds[k] != o; };
        int k = utile::Ran(static_cast<models::Integer>(patch.Inds.size()));
        while (!mate(k)) {
          if (k < 1) break;
          k = utile::Ran(models::Integer{k});
        }
        return mate(k) ? patch.Inds[k] : -1;
      }
      case models::rmSexuate:
        if (Objects[o].Male || patch.Males.empty()) return -1;
        return patch.Males[utile::Ran(static_cast<models::Integer>(patch.Males.size()))];
    }
    return -1;
  }

  void Death(int o, size_t p, bool censused = false) {
    if (censused && KeepPedigree) Records[Objects[o].ID - 1].Censuses.push_back(static_cast<models::Cardinal>(p + 1));
    Objects[o].Event = fEnd;
    Remove(o, p);
  }

  void DoLifeCycle(int o, size_t p) {
    for (;;) {
      const models::tLifeEvent& e = fCycle[Objects[o].Event];
      if (e.EventType == models::leGetOlder || e.EventType == models::leSynchro ||
          e.EventType == models::leDead)
        break;
      bool result = true;
      switch (e.EventType) {
        case models::leSurvival:
          result = utile::Ran() <= e.SurvivalRate;
          if (!result) Death(o, p);
          break;
        case models::leDispersal: {
          utile::tVectorOfDouble column;
          const size_t j = p;
          const auto weight = [&](size_t i) {
            if (i == j) return 0.0;
            const double d = models::DistanceMat[i][j];
            const double w = e.DispType == models::diExponential
                                 ? std::exp(-(e.Weighting > 0 ? 1 / e.Weighting : 0) * d)
                                 : std::atan(e.Weighting / d);
            return models::ConnectanceMat[i][j] ? w : 0.0;
          };
          double sum = 0;
          for (size_t i = 0; i < Patches.size(); ++i) sum += weight(i);
          for (size_t i = 0; i < Patches.size(); ++i) column.push_back(sum != 0 ? weight(i) / sum : 0.0);
          models::Integer d = utile::DiscreteRan(column);
          if (d == -1) d = static_cast<models::Integer>(j);
          const double survival =
              d == static_cast<models::Integer>(j)
                  ? 1.0
                  : models::FrictionMap[d][j] * (e.DispSurvival > 0 ? e.DispSurvival : 1.0);
          result = utile::Ran() <= survival;
          if (result) {
            Remove(o, p);
            p = static_cast<size_t>(d);
            Add(o, p);
          } else {
            Death(o, p);
          }
          break;
        }
        case models::leReproduction: {
          // S, F, K, N and the fecundity at capacity FK.
          const double s = Patches[p].Suitability, f = e.Fecundity;
          const double k = Patches[p].Capacity, n = Competitive(Patches[p]);
          const double fk = Mode == models::rmSexuate ? 2 : 1;
          double lambda = s * f;
          if (e.ReproductionType == models::rtCeiling && !(k > n)) lambda = k / n * fk;
          if (e.ReproductionType == models::rtRicker) lambda = s * f * std::exp(-std::log(f / fk) * n / k);
          if (e.ReproductionType == models::rtGompertz && n > 0)
            lambda = s * f * std::pow(n, -std::log(f / fk) / std::log(k));
          const int mate = ChooseMate(o, p);
          if (mate >= 0) {
            const int children = utile::PoissonRan(lambda);
            const size_t home = p;
            for (int c = 0; c < children; ++c) {
              const int child = NewIndividual(home, o, mate);
              Objects[child].Event = fCycle[0].NextEvent;
              DoLifeCycle(child, home);
            }
          }
          WaitingSync = true;
          break;
        }
        case models::leRandom:
          result = utile::Ran() < e.Threshold;
          break;
        case models::leRegulation: {
          const double k = Patches[p].Capacity, n = Competitive(Patches[p]);
          result = k > n || utile::Ran() < k / n;
          break;
        }
        case models::leGeneConditional: {
          const bool maternal = (Objects[o].Genes >> e.Locus) & 1;
          const bool paternal = (Objects[o].Genes >> (16 + e.Locus)) & 1;
          result = e.Inheritance == models::itDominant ? !maternal && !paternal : !(maternal && paternal);
          break;
        }
        case models::leTag:
          Objects[o].Tag = e.Tag;
          break;
        case models::leDeath:
          Death(o, p, e.DeathStat == models::dsCensused);
          result = false;
          break;
        case models::leSexConditional:
          result = !Objects[o].Male;
          break;
        default:
          // A Birth reached through a link: not modelled here, so that no case
          // can pass by skipping a rule.
          throw std::logic_error("the plain model has no rule for this event");
      }
      Objects[o].Event = result ? fCycle[Objects[o].Event].NextEvent : fCycle[Objects[o].Event].AltEvent;
    }
    if (fCycle[Objects[o].Event].EventType == models::leDead) {
      Remove(o, p);
      Pool.push_back(o);
    }
  }

  models::tLifeCycle fCycle;
  int fEnd = 0;
  int fAgeReproduction = -1;
};

}  // namespace ibmtest
