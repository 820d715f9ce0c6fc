#include "ui/run_methods.h"

#include <cstring>


const std::vector<RunMethodEntry>& RunMethods() {
  static const std::vector<RunMethodEntry> methods = {
      {"transport", "transport",
       "RUVANTA: transport iterations along the isophotes in blocks, each followed by diffusion; "
       "Go !!! runs cycles of them automatically",
       true, true, RunMethod::kTransport},
      {"membrane", "membrane",
       "RUVANTA: the harmonic (membrane) fill, solved in one go; smooth, with no ghost lines "
       "(the iteration fields do not apply)",
       false, false, RunMethod::kMembrane},
      {"biharmonic", "biharmonic",
       "RUVANTA: the thin-plate (biharmonic) fill, solved in one go; carries the slope of the "
       "surroundings into the hole, best on thin scratches and text over smooth areas",
       false, false, RunMethod::kBiharmonic},
      {"tension", "tension 0.5",
       "RUVANTA: the thin-plate fill under tension 0.5, between the biharmonic fill and the "
       "membrane; solved in one go",
       false, false, RunMethod::kTension},
      {"texture", "texture",
       "RUVANTA: the frequency-selective fill, which models each block of the picture from "
       "its known pixels; best on thin masks over texture (fur, bricks, fabric)",
       false, false, RunMethod::kTexture},
      {"auto", "auto (chooses per region)",
       "RUVANTA: hides known pixels under shifted copies of each region of the mask, restores "
       "them with every fill, and fills each region with the one that restored them best; "
       "shows its estimate of the quality",
       false, false, RunMethod::kAuto},
  };
  return methods;
}

const RunMethodEntry& FindRunMethod(const char* name) {
  for (const RunMethodEntry& m : RunMethods())
    if (name && std::strcmp(m.name, name) == 0) return m;
  return RunMethods().front();
}
