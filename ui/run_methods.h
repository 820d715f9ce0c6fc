// The fills a run of the window can make, in the order the "Method" list shows
// them: the command line's --method names, so a run of either with the same files
// and method gives the same bytes. The one list the window builds its choice from.
#pragma once

#include <vector>

#include "engine/fill_run.h"

class CRestoreEngine;

struct RunMethodEntry {
  const char* name;   // as --method takes it
  const char* label;  // the entry of the "Method" list
  const char* tip;    // what it does, for the list's tooltip and the help page
  bool hasAutomatic;  // Go !!! applies to it
  bool stoppable;     // Stop ends it early
  // Runs it on the engine (RUVANTA's handler for this method; automatic: Go !!!).
  // `estimate` asks a fill for its estimate of the hole PSNR, made from known pixels
  // hidden under shifted copies of the mask; the estimate is returned (NaN when not
  // made). A refusal is shown through the engine's message box.
  double (*run)(CRestoreEngine& engine, bool automatic, bool estimate);
};

const std::vector<RunMethodEntry>& RunMethods();

// Runs one fill with its refusal shown in the engine's message box; running out of
// memory is thrown as std::bad_alloc, as the transport scheme's runs throw it. The
// estimate as RunMethodEntry::run returns it.
double RunOneFill(CRestoreEngine& engine, FillMethod method, bool estimate);
// The entry of a name, or the first (transport) for a name not in the list.
const RunMethodEntry& FindRunMethod(const char* name);
