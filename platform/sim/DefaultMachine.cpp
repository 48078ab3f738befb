// The machine the program finds on a host without the macOS frameworks, and
// the two faces of a plugged-in mixer.

#include "platform/sim/MachineInternals.h"

#include <algorithm>
#include <atomic>

namespace sim
{
namespace
{

constexpr std::int64_t kVendorId = 0x7A31;

bool IsOneOf (std::uint16_t productId, std::initializer_list<std::uint16_t> ids)
{
    return std::find (ids.begin(), ids.end(), productId) != ids.end();
}

/** The model part of the mixer's names, or "" for products without a USB audio device of their own. */
std::string ModelOf (std::uint16_t productId)
{
    if (IsOneOf (productId, { 0x30, 0x37, 114, 120 }))
        return "Velmar";
    if (IsOneOf (productId, { 0x4F, 0x50, 115, 121 }))
        return "Tesk";
    return {};
}

std::int64_t NextUniqueId()
{
    // IOKit's registry ids are large numbers; each plug-in gets a new one.
    static std::atomic<std::int64_t> next { 0x100000A00 };
    return next.fetch_add (0x10);
}

} // namespace

void BootDefaultMachine()
{
    // A machine that nothing has touched yet boots as this one on the first call.
    if (!detail::EnsureBooted())
        detail::BuildDefaultMachine();
}

void detail::BuildDefaultMachine()
{
    AudioDeviceSpec input;
    input.name = "Built-in Input";
    input.uid = "BuiltInInputDevice";
    input.inputStreams = { 2 };
    SetDefaultInput (AddAudioDevice (input));

    AudioDeviceSpec output;
    output.name = "Built-in Output";
    output.uid = "BuiltInOutputDevice";
    output.outputStreams = { 2 };
    SetDefaultOutput (AddAudioDevice (output));

    InstallVirtualDriver();

    MixerSpec mixer; // a "Tavrolux Velmar"
    mixer.audioDelayMs = 300;
    PlugMixer (mixer);
}

Mixer PlugMixer (const MixerSpec& spec)
{
    HidProperties properties;
    properties["VendorID"] = kVendorId;
    properties["ProductID"] = (std::int64_t) spec.productId;
    properties["PrimaryUsagePage"] = (std::int64_t) spec.usagePage;
    properties["UniqueID"] = NextUniqueId();
    properties["MaxInputReportSize"] = spec.maxInputReportSize;
    if (spec.versionNumber.has_value())
        properties["VersionNumber"] = *spec.versionNumber;
    if (!spec.serialNumber.empty())
        properties["SerialNumber"] = spec.serialNumber;
    if (spec.locationId.has_value())
        properties["LocationID"] = *spec.locationId;

    Mixer mixer;
    mixer.hid = AddHidDevice (properties);

    const auto model = ModelOf (spec.productId);
    if (spec.audioDelayMs < 0 || model.empty())
        return mixer;

    AudioDeviceSpec audio;
    audio.name = "Tavrolux " + model + " Main Multitrack";
    audio.uid = spec.audioUid.empty() ? "AppleUSBAudioEngine:QUOR:Tavrolux " + model + ":" + spec.serialNumber + ":4,5"
                                      : spec.audioUid;
    if (spec.audioInputs > 0)
        audio.inputStreams = { spec.audioInputs };
    if (spec.audioOutputs > 0)
        audio.outputStreams = { spec.audioOutputs };
    audio.appearAfterMs = spec.audioDelayMs;
    mixer.audio = AddAudioDevice (audio);
    return mixer;
}

void UnplugMixer (const Mixer& mixer)
{
    if (mixer.hid >= 0)
        RemoveHidDevice (mixer.hid);
    if (mixer.audio != 0)
        RemoveAudioDevice (mixer.audio);
}

} // namespace sim
