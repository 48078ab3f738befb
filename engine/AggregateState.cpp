#include "engine/AggregateState.h"

namespace
{

std::vector<int> ConsecutiveChannels (int first, int count)
{
    std::vector<int> channels;

    for (int i = 0; i < count; ++i)
        channels.push_back (first + i);

    return channels;
}

} // namespace

void AggregateState::AddRoute (int kind, int firstInput, int firstOutput, int numInputs, int numOutputs)
{
    auto& route = routes[kind];
    route.inputChannels = ConsecutiveChannels (firstInput, numInputs);
    route.outputChannels = ConsecutiveChannels (firstOutput, numOutputs);
}
