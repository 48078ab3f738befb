#pragma once

namespace sim::detail
{

/** A device started on the manual audio clock. RunAudioBlocks calls RunManualBlock
    on its own thread, holding no lock of the machine. */
class ManualBlockSource
{
public:
    virtual ~ManualBlockSource() = default;

    /** Runs one block if the device is still started. */
    virtual void RunManualBlock() = 0;
};

} // namespace sim::detail
