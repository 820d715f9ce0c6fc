// A restoration without a window: the engine and the load and save commands. The
// command line, the batch runner and the tests use it; several may run at once on
// separate threads.
#pragma once

#include "engine/engine.h"
#include "session/image_files.h"

class CHeadlessSession : public CFileServices {
 public:
  // Starts as a new dialog does: the fields at their defaults, shown.
  CHeadlessSession() : files(engine, *this) { engine.SetDefaults(); }
  // Runs timed by `clock` (it must outlive the session).
  explicit CHeadlessSession(CRunClock& clock) : engine(clock), files(engine, *this) {
    engine.SetDefaults();
  }

  CRestoreEngine engine;
  CImageFiles files;
};
