#include "platform/audiodevice/HalAudioIODevice.h"

#include "platform/sim/MachineInternals.h"

namespace
{

constexpr double kDefaultSampleRate = 48000.0;
constexpr int kDefaultBufferSize = 512;

std::vector<sim::detail::ChannelOwner> Channels (AudioObjectID device, bool inputs)
{
    if (device == kAudioObjectUnknown)
        return {};
    const auto layout = sim::detail::ChannelLayoutOf (device);
    if (!layout.has_value())
        return {};
    return inputs ? layout->inputs : layout->outputs;
}

juce::StringArray ChannelNames (const char* prefix, std::size_t count)
{
    juce::StringArray names;
    for (std::size_t channel = 1; channel <= count; ++channel)
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
    return ChannelNames ("Output", Channels (outputDevice, false).size());
}

juce::StringArray HalAudioIODevice::getInputChannelNames()
{
    return ChannelNames ("Input", Channels (inputDevice, true).size());
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
    const bool inputGone = inputDevice != kAudioObjectUnknown && !sim::detail::ListedAudioDevice (inputDevice);
    const bool outputGone = outputDevice != kAudioObjectUnknown && !sim::detail::ListedAudioDevice (outputDevice);
    if (inputGone || outputGone)
    {
        lastError = "The audio device is no longer present";
        return lastError;
    }

    activeInputs = Clip (inputChannels, inputLayout.size());
    activeOutputs = Clip (outputChannels, outputLayout.size());
    currentSampleRate = sampleRate > 0.0 ? sampleRate : kDefaultSampleRate;
    currentBufferSize = bufferSizeSamples > 0 ? bufferSizeSamples : kDefaultBufferSize;

    // The callback sees only the enabled channels, packed together in channel order.
    std::vector<std::shared_ptr<sim::detail::ChannelStore>> inputStores;
    std::vector<std::shared_ptr<sim::detail::ChannelStore>> outputStores;
    for (std::size_t channel = 0; channel < inputLayout.size(); ++channel)
        if (activeInputs[(int) channel])
            inputStores.push_back (sim::detail::OpenChannelStore (inputLayout[channel], false));
    for (std::size_t channel = 0; channel < outputLayout.size(); ++channel)
        if (activeOutputs[(int) channel])
            outputStores.push_back (sim::detail::OpenChannelStore (outputLayout[channel], true));

    stream = std::make_shared<HalAudioStream> (std::move (inputStores), std::move (outputStores), currentBufferSize,
                                               currentSampleRate);
    opened = true;
    sim::detail::Log ("AudioDeviceOpen " + getName().toStdString());
    return {};
}

void HalAudioIODevice::close()
{
    stop();
    if (!opened)
        return;
    opened = false;
    stream.reset();
    activeInputs.clear();
    activeOutputs.clear();
    sim::detail::Log ("AudioDeviceClose " + getName().toStdString());
}

bool HalAudioIODevice::isOpen()
{
    return opened;
}

void HalAudioIODevice::start (juce::AudioIODeviceCallback* callback)
{
    if (!opened || playing || callback == nullptr)
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
