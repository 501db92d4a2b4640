// Builds a landscape and a life cycle in code and drives the individual-based
// engine without a window, in the order the workbench uses.
#pragma once

#include <cmath>
#include <utility>
#include <vector>

#include "models/MetapopCommon.h"
#include "models/MetapopIBM.h"

namespace ibmtest {

using models::Integer;
using models::tLifeCycle;
using models::tLifeEvent;
using models::tLifeEventType;

// Sets the landscape matrices for patches at the given positions: Euclidean
// distances, one permeability for every pair, every pair linked (or none).
inline void SetLandscape(const std::vector<std::pair<double, double>>& positions, double permeability = 1.0,
                         bool linked = true) {
  const size_t n = positions.size();
  models::DistanceMat.assign(n, utile::tVectorOfDouble(n, 0.0));
  models::FrictionMap.assign(n, utile::tVectorOfDouble(n, permeability));
  models::ConnectanceMat.assign(n, utile::tVectorOfBoolean(n, linked));
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j)
      models::DistanceMat[i][j] =
          std::hypot(positions[i].first - positions[j].first, positions[i].second - positions[j].second);
}

// n patches on a line, one unit apart.
inline void SetLineLandscape(size_t n, double permeability = 1.0) {
  std::vector<std::pair<double, double>> positions;
  for (size_t i = 0; i < n; ++i) positions.emplace_back(static_cast<double>(i), 0.0);
  SetLandscape(positions, permeability);
}

inline tLifeEvent Event(tLifeEventType type, Integer next = -1, Integer alt = -1) {
  tLifeEvent event;
  event.EventType = type;
  event.NextEvent = next;
  event.AltEvent = alt;
  return event;
}

inline tLifeEvent Survival(double rate, Integer next, Integer alt = -1) {
  tLifeEvent event = Event(models::leSurvival, next, alt);
  event.SurvivalRate = rate;
  return event;
}

inline tLifeEvent Reproduction(models::tReproductionType type, double fecundity, Integer next) {
  tLifeEvent event = Event(models::leReproduction, next);
  event.ReproductionType = type;
  event.Fecundity = fecundity;
  return event;
}

inline tLifeEvent Dispersal(double survival, double weighting, Integer next, Integer alt = -1,
                            models::tDispersalType type = models::diExponential) {
  tLifeEvent event = Event(models::leDispersal, next, alt);
  event.DispSurvival = survival;
  event.Weighting = weighting;
  event.DispType = type;
  return event;
}

inline tLifeEvent Death(models::tDeathStat stat = models::dsUnnoticed) {
  tLifeEvent event = Event(models::leDeath);
  event.DeathStat = stat;
  return event;
}

struct tPatchSetup {
  Integer Capacity = 100;
  Integer Founders = 0;
  float Suitability = 1.0f;
  float Extinction = 0.0f;
};

// The workbench's order: pedigree switch, mode, patches, Initialise, limits,
// patch values and founders, pool filled to twice the population, then the cycle.
// Gene prevalences and species parameters are set by the caller beforehand.
inline void Build(models::tMetaPop& metapop, models::tReproductionMode mode,
                  const std::vector<tPatchSetup>& patches, const tLifeCycle& cycle, bool pedigree = false) {
  metapop.SetGeneratePedigree(pedigree);
  metapop.SetReproductionMode(mode);
  metapop.AddPatches(static_cast<Integer>(patches.size()));
  metapop.Initialise();
  metapop.MaxIndividuals = 2000000000;
  metapop.ExplosionSize = 2000000000;
  for (size_t i = 0; i < patches.size(); ++i) {
    models::tPatch* patch = metapop.GetPatches(static_cast<Integer>(i));
    patch->Capacity = patches[i].Capacity;
    patch->Suitability = patches[i].Suitability;
    patch->Extinction = patches[i].Extinction;
    patch->AddIndividuals(patches[i].Founders);
  }
  if (metapop.Pool()->Count() < 2 * metapop.N())
    metapop.Pool()->Add(2 * metapop.N() - metapop.Pool()->Count());
  metapop.Species->MakeCycle(cycle);
}

// Every individual of a patch, in list order.
inline std::vector<models::tIndividual*> Individuals(models::tPatch* patch) {
  std::vector<models::tIndividual*> result;
  for (Integer i = 0; i < patch->IndCount(); ++i) result.push_back(patch->GetInd(i));
  return result;
}

}  // namespace ibmtest
