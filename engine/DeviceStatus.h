#pragma once

#include <cstdint>

#include <sigslot/signal.hpp>

#include "engine/ObservableProperty.h"

/**
    The details of the running audio stream, published by the audio callback
    when the device starts (on the message thread) and kept when it stops.
*/
struct DeviceStatus
{
    template <typename T>
    using Property = ObservableProperty<T, sigslot::detail::null_mutex>;

    Property<double> sampleRate { 0.0 };
    Property<std::uint64_t> numInputChannels { 0 };
    Property<std::uint64_t> numOutputChannels { 0 };
    Property<std::uint64_t> bufferSize { 0 };
    Property<std::uint64_t> inputLatency { 0 };
    Property<std::uint64_t> outputLatency { 0 };
};
