#include "platform/audiodevice/HalAudioIODevice.h"

#include "platform/sim/MachineInternals.h"

namespace
{

constexpr double kDefaultSampleRate = 48000.0;
constexpr int kDefaultBufferSize = 512;

/** Which (sub-)device channel each of the device's input or output channels
    is: empty for no device, nullopt for a device that is no longer listed. */
std::optional<std::vector<sim::detail::ChannelOwner>> Channels (AudioObjectID device, bool inputs)
{
    if (device == kAudioObjectUnknown)
        return std::vector<sim::detail::ChannelOwner> {};
    auto listed = sim::detail::ListedAudioDevice (device);
    if (!listed.has_value())
        return std::nullopt;
    return std::move (inputs ? listed->inputChannels : listed->outputChannels);
}

/** The channels' stores, for those of them that are enabled, packed together in channel order. */
sim::detail::ChannelStores OpenStores (const std::vector<sim::detail::ChannelOwner>& channels,
                                       const juce::BigInteger& enabled, bool capture)
{
    sim::detail::ChannelStores stores;
    for (std::size_t channel = 0; channel < channels.size(); ++channel)
        if (enabled[(int) channel])
            stores.push_back (sim::detail::OpenChannelStore (channels[channel], capture));
    return stores;
}

juce::StringArray ChannelNames (const char* prefix, AudioObjectID device, bool inputs)
{
    const auto channels = Channels (device, inputs);
    juce::StringArray names;
    for (std::size_t channel = 1; channels.has_value() && channel <= channels->size(); ++channel)
        names.add (juce::String (prefix) + " " + juce::String ((int) channel));
    return names;
}

/** The requested channels that the device has. */
juce::BigInteger Clip (const juce::BigInteger& requested, std::size_t available)
{
    juce::BigInteger clipped;
    for (int channel = 0; channel < (int) available; ++channel)
        if (requested[channel])
            clipped.setBit (channel);
    return clipped;
}

} // namespace

HalAudioIODevice::HalAudioIODevice (const juce::String& name, AudioObjectID input, AudioObjectID output)
    : juce::AudioIODevice (name, "CoreAudio"),
      inputDevice (input),
      outputDevice (output)
{
}

HalAudioIODevice::~HalAudioIODevice()
{
    close();
}

juce::StringArray HalAudioIODevice::getOutputChannelNames()
{
    return ChannelNames ("Output", outputDevice, false);
}

juce::StringArray HalAudioIODevice::getInputChannelNames()
{
    return ChannelNames ("Input", inputDevice, true);
}

juce::Array<double> HalAudioIODevice::getAvailableSampleRates()
{
    return { 44100.0, 48000.0, 88200.0, 96000.0 };
}

juce::Array<int> HalAudioIODevice::getAvailableBufferSizes()
{
    return { 32, 64, 128, 256, 512, 1024, 2048 };
}

int HalAudioIODevice::getDefaultBufferSize()
{
    return kDefaultBufferSize;
}

juce::String HalAudioIODevice::open (const juce::BigInteger& inputChannels, const juce::BigInteger& outputChannels,
                                     double sampleRate, int bufferSizeSamples)
{
    close();
    lastError.clear();

    if (sim::detail::FaultActive (sim::Fault::AudioDeviceOpen))
    {
        lastError = "The audio device could not be opened";
        return lastError;
    }

    const auto inputLayout = Channels (inputDevice, true);
    const auto outputLayout = Channels (outputDevice, false);
    if (!inputLayout.has_value() || !outputLayout.has_value())
    {
        lastError = "The audio device is no longer present";
        return lastError;
    }

    activeInputs = Clip (inputChannels, inputLayout->size());
    activeOutputs = Clip (outputChannels, outputLayout->size());
    currentSampleRate = sampleRate > 0.0 ? sampleRate : kDefaultSampleRate;
    currentBufferSize = bufferSizeSamples > 0 ? bufferSizeSamples : kDefaultBufferSize;

    stream = std::make_shared<HalAudioStream> (OpenStores (*inputLayout, activeInputs, false),
                                               OpenStores (*outputLayout, activeOutputs, true), currentBufferSize,
                                               currentSampleRate);
    sim::detail::Log ("AudioDeviceOpen " + getName().toStdString());
    return {};
}

void HalAudioIODevice::close()
{
    stop();
    if (stream == nullptr)
        return;
    stream.reset();
    activeInputs.clear();
    activeOutputs.clear();
    sim::detail::Log ("AudioDeviceClose " + getName().toStdString());
}

bool HalAudioIODevice::isOpen()
{
    return stream != nullptr;
}

void HalAudioIODevice::start (juce::AudioIODeviceCallback* callback)
{
    if (stream == nullptr || playing || callback == nullptr)
        return;
    callback->audioDeviceAboutToStart (this);
    stream->Start (callback);
    playing = true;
    sim::detail::Log ("AudioDeviceStart " + getName().toStdString());
}

void HalAudioIODevice::stop()
{
    if (!playing)
        return;
    playing = false;
    auto* callback = stream->Stop();
    sim::detail::Log ("AudioDeviceStop " + getName().toStdString());
    if (callback != nullptr)
        callback->audioDeviceStopped();
}

bool HalAudioIODevice::isPlaying()
{
    return playing;
}

juce::String HalAudioIODevice::getLastError()
{
    return lastError;
}

int HalAudioIODevice::getCurrentBufferSizeSamples()
{
    return currentBufferSize;
}

double HalAudioIODevice::getCurrentSampleRate()
{
    return currentSampleRate;
}

int HalAudioIODevice::getCurrentBitDepth()
{
    return 32;
}

juce::BigInteger HalAudioIODevice::getActiveOutputChannels() const
{
    return activeOutputs;
}

juce::BigInteger HalAudioIODevice::getActiveInputChannels() const
{
    return activeInputs;
}

int HalAudioIODevice::getOutputLatencyInSamples()
{
    return 0;
}

int HalAudioIODevice::getInputLatencyInSamples()
{
    return 0;
}
