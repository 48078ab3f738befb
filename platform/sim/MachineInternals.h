#pragma once

// What the parts of the simulated machine share among themselves; tests and
// the program use SimulatedMachine.h instead.

#include "platform/sim/SimulatedMachine.h"

#include <string>

namespace sim::detail {

/** Appends one line to the call log. */
void Log (std::string line);

bool FaultActive (Fault fault);

/** Builds the default machine the first time the platform is used, unless a
    test has called Reset before. Every IOKit and HAL entry point calls it. */
void EnsureBooted();

/** Each side of the machine forgets its devices and settings; called by Reset. */
void ResetHidSide();
void ResetAudioSide();

} // namespace sim::detail
