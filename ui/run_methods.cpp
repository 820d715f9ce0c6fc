#include "ui/run_methods.h"

#include <cstring>

#include "engine/engine.h"
#include "engine/membrane.h"

namespace {
void RunTransport(CRestoreEngine& engine, bool automatic) {
  if (automatic)
    engine.OnAuto();
  else
    engine.OnRun();
}

void RunMembraneFill(CRestoreEngine& engine, bool) { RunMembrane(engine); }
}  // namespace

const std::vector<RunMethodEntry>& RunMethods() {
  static const std::vector<RunMethodEntry> methods = {
      {"transport", "transport",
       "RUVANTA: transport iterations along the isophotes in blocks, each followed by diffusion; "
       "Go !!! runs cycles of them automatically",
       true, true, RunTransport},
      {"membrane", "membrane",
       "RUVANTA: the harmonic (membrane) fill, solved in one go; smooth, with no ghost lines "
       "(the iteration fields do not apply)",
       false, false, RunMembraneFill},
  };
  return methods;
}

const RunMethodEntry& FindRunMethod(const char* name) {
  for (const RunMethodEntry& m : RunMethods())
    if (name && std::strcmp(m.name, name) == 0) return m;
  return RunMethods().front();
}
