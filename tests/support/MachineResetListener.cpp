#include "support/MachineResetListener.h"

#include "platform/sim/SimulatedMachine.h"

void MachineResetListener::OnTestStart (const ::testing::TestInfo&)
{
    sim::Reset();
}
