// The fills a run of the window can make, in the order the "Method" list shows
// them: the command line's --method names, so a run of either with the same files
// and method gives the same bytes. The one list the window builds its choice from.
#pragma once

#include <vector>

#include "engine/restore.h"

struct RunMethodEntry {
  const char* name;   // as --method takes it
  const char* label;  // the entry of the "Method" list
  const char* tip;    // what it does, for the list's tooltip and the help page
  bool hasAutomatic;  // Go !!! applies to it
  bool stoppable;     // Stop ends it early
  RunMethod method;   // what RUVANTA (and for the transport scheme Go !!!) runs
};

const std::vector<RunMethodEntry>& RunMethods();

// The entry of a name, or the first (transport) for a name not in the list.
const RunMethodEntry& FindRunMethod(const char* name);
