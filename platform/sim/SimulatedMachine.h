#pragma once

// The control panel of the simulated Mac that stands in for CoreFoundation,
// IOKit HID and the CoreAudio HAL where those frameworks do not exist.
// Tests, benchmarks and the Linux build of the program build a machine here;
// the program itself only ever calls the platform's own C functions.
//
// Every function is thread-safe. None of them calls back into the program
// while holding the machine's lock.

#include <CoreAudio/CoreAudio.h>
#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/hid/IOHIDManager.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace sim
{

//==============================================================================
// The machine as a whole

/** Empties the machine: no HID or audio devices, no defaults, no faults, an
    empty call log, the real-time audio clock, immediate aggregate appearance
    and device-list changes told on the main run loop, as the HAL does until a
    process sets kAudioHardwarePropertyRunLoop. CoreFoundation objects and
    property listeners that the program still holds stay valid. */
void Reset();

/** The machine the program boots on a host without the macOS frameworks: a
    built-in input and output device as the defaults, the virtual audio
    driver, and one "Tavrolux Velmar" (product 114) plugged in, its USB audio
    device appearing a short while later. Until Reset is called, the machine
    starts out as this one the first time anything touches it. */
void BootDefaultMachine();

/** CoreFoundation objects alive right now (constant strings made with CFSTR excluded). */
long LiveObjectCount();

/** Calls with effects, one line each, in the order they happened, for
    example "IOHIDDeviceOpen 1234", "AudioHardwareDestroyAggregateDevice 57",
    "SetDefaultInputDevice 12", "AudioDeviceOpen QUOR Aggregate",
    "AudioDeviceStart QUOR Aggregate", "AudioDeviceStop QUOR Aggregate",
    "AudioDeviceClose QUOR Aggregate". */
std::vector<std::string> CallLog();
void ClearCallLog();

//==============================================================================
// Faults

enum class Fault
{
    HidManagerCreate, // IOHIDManagerCreate returns NULL
    HidManagerOpen,   // IOHIDManagerOpen fails
    AggregateCreate,  // AudioHardwareCreateAggregateDevice fails
    AggregateDestroy, // AudioHardwareDestroyAggregateDevice fails
    SetProperty,      // AudioObjectSetPropertyData fails
    AudioDeviceOpen,  // the "CoreAudio" JUCE device type fails to open any device
};

void InjectFault (Fault fault);
void ClearFault (Fault fault);

//==============================================================================
// HID devices

using HidId = int;

/** A property value as IOKit would hand it out: a CFNumber or a CFString.
    Give a numeric key a string (or the reverse) to simulate a wrong type;
    leave a key out to simulate a missing property. */
using HidValue = std::variant<std::int64_t, std::string>;
using HidProperties = std::map<std::string, HidValue>;

HidId AddHidDevice (const HidProperties& properties);
void RemoveHidDevice (HidId device);

/** IOHIDDeviceOpen fails on this device from now on. */
void FailHidDeviceOpen (HidId device);

/** The device's IOHIDDeviceRef (not retained for the caller); NULL once removed and released. */
IOHIDDeviceRef HidDeviceRef (HidId device);

struct HidDeviceCounters
{
    int opens = 0; // successful IOHIDDeviceOpen calls
    int failedOpens = 0;
    int closes = 0;
    bool callbackRegistered = false;
};
HidDeviceCounters GetHidDeviceCounters (HidId device);

/** Queues an input report (the ID byte first, when reportId is not 0) for
    delivery on the run loop that the matching HID manager is scheduled on.
    It is copied into the buffer that was registered, truncated to its size. */
void SendInputReport (HidId device, std::uint32_t reportId, const std::vector<std::uint8_t>& report);

/** The matching dictionaries handed to IOHIDManagerSetDeviceMatching, as
    key -> value text, most recent last. */
std::vector<std::map<std::string, std::string>> HidMatchingHistory();

//==============================================================================
// Audio devices

struct AudioDeviceSpec
{
    std::string name;
    std::string uid;
    std::vector<int> inputStreams;  // channels per input stream
    std::vector<int> outputStreams; // channels per output stream
    int appearAfterMs = 0;          // arrives in the HAL only once this much time has passed
    bool isAggregate = false;       // may be destroyed with AudioHardwareDestroyAggregateDevice
};

AudioObjectID AddAudioDevice (const AudioDeviceSpec& spec);
void RemoveAudioDevice (AudioObjectID device);

/** The object id of the device with this UID that HAL readers see now, or 0. */
AudioObjectID FindAudioDevice (const std::string& uid);

/** The ten devices of the virtual audio driver, UIDs "QuorVirtualAudioDevice_UID"
    and "QuorVirtualAudioDevice_UID_2" to "_10". Devices 1 to 5 have one input
    and one output stream of 2 channels each, devices 6 to 10 no streams, so
    that device 1 can be the default input and output and, in an aggregate of
    them all, the first ten inputs are devices 1 to 5 in order and exactly ten
    virtual outputs stand ahead of the next sub-device's. Returns their ids in
    device order 1 to 10. */
std::vector<AudioObjectID> InstallVirtualDriver();

void SetDefaultInput (AudioObjectID device);
void SetDefaultOutput (AudioObjectID device);
AudioObjectID DefaultInput();
AudioObjectID DefaultOutput();

/** Fails every read of this property (size and data) with the given status. */
void FailProperty (AudioObjectID object, AudioObjectPropertySelector selector,
                   OSStatus status = kAudioHardwareUnknownPropertyError);

/** A raw answer that replaces the HAL's own for one property, for tests of
    malformed answers: the size query returns sizeStatus and size, the data
    query returns dataStatus and copies at most the caller's size of data. */
struct PropertyAnswer
{
    OSStatus sizeStatus = 0;
    UInt32 size = 0;
    OSStatus dataStatus = 0;
    std::vector<std::uint8_t> data;
};
void OverrideProperty (AudioObjectID object, AudioObjectPropertySelector selector, const PropertyAnswer& answer);

//==============================================================================
// Aggregate devices

/** How long a new aggregate takes to show in the device list; -1 = never. */
void SetAggregateAppearDelay (int milliseconds);

struct SubDeviceDescription
{
    std::string uid;
    std::optional<std::int64_t> drift;
    std::optional<std::int64_t> driftQuality;
};

/** A description as AudioHardwareCreateAggregateDevice received it. */
struct AggregateDescription
{
    AudioObjectID id = 0; // 0 when the creation failed
    std::optional<std::string> name;
    std::optional<std::string> uid;
    std::vector<SubDeviceDescription> subDevices;
    std::optional<std::string> master;
    std::optional<std::int64_t> isPrivate;
};

/** Every description handed to AudioHardwareCreateAggregateDevice, in order. */
std::vector<AggregateDescription> AggregateDescriptions();

/** Aggregate devices that exist now (created and not destroyed), listed or not yet. */
std::vector<AudioObjectID> ExistingAggregates();

//==============================================================================
// A supported mixer: its HID interface and, after a delay, its USB audio device

struct MixerSpec
{
    std::uint16_t productId = 114;          // only Velmar and Tesk products get a USB audio device
    std::string serialNumber = "QV2400117"; // empty: no "SerialNumber" property
    std::optional<std::int64_t> locationId = 0x14200000;
    std::optional<std::int64_t> versionNumber = 0x0123;
    std::int64_t maxInputReportSize = 64;
    std::uint16_t usagePage = 0xFF00;
    int audioOutputs = 12; // channels of the USB audio device's one output stream
    int audioInputs = 12;
    int audioDelayMs = 200; // after the HID interface; -1 = the audio device never shows
    std::string audioUid;   // empty: "AppleUSBAudioEngine:QUOR:Tavrolux <model>:<serial>:4,5"
};

struct Mixer
{
    HidId hid = -1;
    AudioObjectID audio = 0;
};

Mixer PlugMixer (const MixerSpec& spec);
void UnplugMixer (const Mixer& mixer);

//==============================================================================
// Audio data, for the "CoreAudio" JUCE device type over this HAL

/** Appends samples to what the device's input channel will deliver; once they
    run out, the channel delivers silence. */
void FeedInput (AudioObjectID device, int channel, const std::vector<float>& samples);

/** Everything written to the device's output channel since the last call
    (at most the last 131072 samples). */
std::vector<float> TakeOutput (AudioObjectID device, int channel);

/** What every output buffer holds before each block's callback; 0 by default.
    A sentinel value shows which channels the callback did not write. */
void SetOutputPrefill (float value);

enum class AudioClock
{
    RealTime, // a started device runs blocks on its own thread, sleeping between them
    Manual,   // no audio thread: blocks run only in RunAudioBlocks
};
void SetAudioClock (AudioClock clock);

/** Manual clock: runs this many blocks of every started device on the calling thread. */
void RunAudioBlocks (int count);

/** Blocks delivered so far by all devices, on either clock. */
std::int64_t AudioBlocksRun();

} // namespace sim
