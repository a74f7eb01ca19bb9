#pragma once

#include "app/FileSystem.h"

// What the output needs of the process around it, as an interface so that
// tests can watch it: short pauses between tries, the clean-up that an
// interruption runs, and holding interruptions back.
class ProcessControl {
 public:
  virtual ~ProcessControl() = default;

  // Waits a little (about 50 ms) before the next try of something busy.
  virtual void pauseBriefly() = 0;
  // Arms (or, with null, disarms) the clean-up that an interruption runs.
  virtual void guardPartialOutput(const PartialOutput* partial) = 0;
  // Holds interruptions back (or lets them through again) while a partial
  // output comes into being and before its clean-up is armed.
  virtual void holdInterruptions(bool hold) = 0;
};

// The platform's own.
ProcessControl& systemProcess();
