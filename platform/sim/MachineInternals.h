#pragma once

// What the parts of the simulated machine share among themselves; tests and
// the program use SimulatedMachine.h instead.

#include "platform/sim/SimulatedMachine.h"

#include <string>

namespace sim::detail
{

/** Appends one line to the call log. */
void Log (std::string line);

bool FaultActive (Fault fault);

/** Builds the default machine the first time the platform is used, unless a
    test has called Reset before; returns true for the call that built it.
    Whatever reaches the machine's state calls it first: HidSystem::Instance
    and the audio side's lock do. */
bool EnsureBooted();

/** Adds the default machine's devices to the machine as it is. */
void BuildDefaultMachine();

/** Each side of the machine forgets its devices and settings; called by Reset. */
void ResetHidSide();
void ResetAudioSide();

} // namespace sim::detail
