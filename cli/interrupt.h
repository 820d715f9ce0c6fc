// Ctrl-C during a run: the first SIGINT only asks the runs to stop at their next
// block or cycle; the handler then gives SIGINT back its default action, so a
// second Ctrl-C ends the process as usual.
//
// A signal belongs to the whole process, so this is the one piece of process-wide
// state of the command line: while at least one InterruptScope lives (one per run
// or batch, on any thread) the handler is installed; the first scope clears the
// request, the last one restores the action that was there before.
#pragma once

class InterruptScope {
 public:
  InterruptScope();
  ~InterruptScope();
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;
};

// Whether a SIGINT arrived since the first living scope was made.
bool InterruptRequested();
