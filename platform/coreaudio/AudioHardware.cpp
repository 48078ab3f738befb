// The audio hardware layer's C interface over the simulated machine.
//
// Every answer is worked out afresh from the machine's state as this process
// has been told of it: the device list changes for readers only once the
// HAL's notification has been delivered (see AudioObjectAddPropertyListener).
// No call ever writes more bytes than the caller said it has room for.

#include <CoreAudio/CoreAudio.h>

#include "platform/sim/AudioInternals.h"
#include "platform/sim/MachineInternals.h"

#include <cstddef>
#include <cstring>

namespace
{

using sim::detail::HalDevice;

/** What a property holds, before it is laid out for the caller. */
struct PropertyValue
{
    enum class Kind
    {
        IdArray,     // AudioObjectID[]
        ObjectId,    // one AudioObjectID
        String,      // a new CFStringRef
        StringArray, // a new CFArrayRef of CFStringRefs
        StreamList,  // an AudioBufferList, one buffer per stream
        Translation, // an AudioValueTranslation, UID to device
    };

    Kind kind = Kind::ObjectId;
    std::vector<AudioObjectID> ids;
    std::string text;
    std::vector<std::string> texts;
    std::vector<int> streams;
};

constexpr UInt32 kBufferListHeaderSize = (UInt32) offsetof (AudioBufferList, mBuffers);

UInt32 SizeOf (const PropertyValue& value)
{
    switch (value.kind)
    {
        case PropertyValue::Kind::IdArray:
            return (UInt32) (value.ids.size() * sizeof (AudioObjectID));
        case PropertyValue::Kind::ObjectId:
            return sizeof (AudioObjectID);
        case PropertyValue::Kind::String:
            return sizeof (CFStringRef);
        case PropertyValue::Kind::StringArray:
            return sizeof (CFArrayRef);
        case PropertyValue::Kind::StreamList:
            return kBufferListHeaderSize + (UInt32) (value.streams.size() * sizeof (AudioBuffer));
        case PropertyValue::Kind::Translation:
            return sizeof (AudioValueTranslation);
    }
    return 0;
}

OSStatus ResolveSystemProperty (AudioObjectPropertySelector selector, PropertyValue& value)
{
    switch (selector)
    {
        case kAudioHardwarePropertyDevices:
            value.kind = PropertyValue::Kind::IdArray;
            value.ids = sim::detail::ListedAudioDevices();
            return kAudioHardwareNoError;
        case kAudioHardwarePropertyDefaultInputDevice:
            value.kind = PropertyValue::Kind::ObjectId;
            value.ids = { sim::DefaultInput() };
            return kAudioHardwareNoError;
        case kAudioHardwarePropertyDefaultOutputDevice:
            value.kind = PropertyValue::Kind::ObjectId;
            value.ids = { sim::DefaultOutput() };
            return kAudioHardwareNoError;
        case kAudioHardwarePropertyDeviceForUID:
            value.kind = PropertyValue::Kind::Translation;
            return kAudioHardwareNoError;
        default:
            return kAudioHardwareUnknownPropertyError;
    }
}

OSStatus ResolveDeviceProperty (const HalDevice& device, const AudioObjectPropertyAddress& address,
                                PropertyValue& value)
{
    switch (address.mSelector)
    {
        case kAudioObjectPropertyName:
            value.kind = PropertyValue::Kind::String;
            value.text = device.name;
            return kAudioHardwareNoError;
        case kAudioDevicePropertyDeviceUID:
            value.kind = PropertyValue::Kind::String;
            value.text = device.uid;
            return kAudioHardwareNoError;
        case kAudioDevicePropertyStreamConfiguration:
            value.kind = PropertyValue::Kind::StreamList;
            if (address.mScope == kAudioObjectPropertyScopeInput)
                value.streams = device.inputStreams;
            else if (address.mScope == kAudioObjectPropertyScopeOutput)
                value.streams = device.outputStreams;
            else
                return kAudioHardwareUnknownPropertyError;
            return kAudioHardwareNoError;
        case kAudioAggregateDevicePropertyFullSubDeviceList:
            if (!device.isAggregate)
                return kAudioHardwareUnknownPropertyError;
            value.kind = PropertyValue::Kind::StringArray;
            value.texts = device.fullSubDeviceUids;
            return kAudioHardwareNoError;
        case kAudioAggregateDevicePropertyActiveSubDeviceList:
            if (!device.isAggregate)
                return kAudioHardwareUnknownPropertyError;
            value.kind = PropertyValue::Kind::IdArray;
            value.ids = device.activeSubDevices;
            return kAudioHardwareNoError;
        default:
            return kAudioHardwareUnknownPropertyError;
    }
}

OSStatus Resolve (AudioObjectID object, const AudioObjectPropertyAddress& address, PropertyValue& value)
{
    if (object == kAudioObjectSystemObject)
        return ResolveSystemProperty (address.mSelector, value);
    const auto device = sim::detail::ListedAudioDevice (object);
    if (!device.has_value())
        return kAudioHardwareBadObjectError;
    return ResolveDeviceProperty (*device, address, value);
}

bool BadCall (const AudioObjectPropertyAddress* address, UInt32 qualifierSize, const void* qualifier)
{
    return address == nullptr || (qualifierSize != 0 && qualifier == nullptr);
}

CFStringRef CreateString (const std::string& text)
{
    return CFStringCreateWithCString (kCFAllocatorDefault, text.c_str(), kCFStringEncodingUTF8);
}

std::string TextOf (CFStringRef string)
{
    // The stand-in holds its strings as UTF-8, so the text is at hand without a copy.
    const char* text = CFStringGetCStringPtr (string, kCFStringEncodingUTF8);
    return text != nullptr ? text : "";
}

OSStatus Translate (void* outData)
{
    AudioValueTranslation translation;
    std::memcpy (&translation, outData, sizeof (translation));
    if (translation.mInputData == nullptr || translation.mOutputData == nullptr)
        return kAudioHardwareIllegalOperationError;
    if (translation.mInputDataSize != sizeof (CFStringRef) || translation.mOutputDataSize != sizeof (AudioObjectID))
        return kAudioHardwareBadPropertySizeError;

    CFStringRef uid = nullptr;
    std::memcpy (&uid, translation.mInputData, sizeof (uid));
    if (uid == nullptr || CFGetTypeID (uid) != CFStringGetTypeID())
        return kAudioHardwareIllegalOperationError;

    const AudioObjectID device = sim::FindAudioDevice (TextOf (uid));
    std::memcpy (translation.mOutputData, &device, sizeof (device));
    return kAudioHardwareNoError;
}

/** Lays the value out in the caller's buffer of *ioDataSize bytes. */
OSStatus WriteValue (const PropertyValue& value, UInt32* ioDataSize, void* outData)
{
    const auto size = SizeOf (value);
    auto* bytes = static_cast<unsigned char*> (outData);

    switch (value.kind)
    {
        case PropertyValue::Kind::IdArray:
        {
            // As many whole ids as fit; the caller learns how many from the size.
            const auto count = std::min<std::size_t> (value.ids.size(), *ioDataSize / sizeof (AudioObjectID));
            std::memcpy (bytes, value.ids.data(), count * sizeof (AudioObjectID));
            *ioDataSize = (UInt32) (count * sizeof (AudioObjectID));
            return kAudioHardwareNoError;
        }
        case PropertyValue::Kind::StreamList:
        {
            if (*ioDataSize < size)
                return kAudioHardwareBadPropertySizeError;
            const auto numberBuffers = (UInt32) value.streams.size();
            std::memset (bytes, 0, size);
            std::memcpy (bytes, &numberBuffers, sizeof (numberBuffers));
            for (std::size_t i = 0; i < value.streams.size(); ++i)
            {
                AudioBuffer buffer {};
                buffer.mNumberChannels = (UInt32) value.streams[i];
                std::memcpy (bytes + kBufferListHeaderSize + i * sizeof (AudioBuffer), &buffer, sizeof (buffer));
            }
            *ioDataSize = size;
            return kAudioHardwareNoError;
        }
        default:
            break;
    }

    // A fixed-size value fits any buffer at least its size; the caller learns
    // how much was written.
    if (*ioDataSize < size)
        return kAudioHardwareBadPropertySizeError;
    *ioDataSize = size;

    switch (value.kind)
    {
        case PropertyValue::Kind::ObjectId:
            std::memcpy (bytes, value.ids.data(), sizeof (AudioObjectID));
            return kAudioHardwareNoError;
        case PropertyValue::Kind::String:
        {
            const auto string = CreateString (value.text);
            std::memcpy (bytes, &string, sizeof (string));
            return kAudioHardwareNoError;
        }
        case PropertyValue::Kind::StringArray:
        {
            const auto array = CFArrayCreateMutable (kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
            for (const auto& text : value.texts)
            {
                const auto string = CreateString (text);
                CFArrayAppendValue (array, string);
                CFRelease (string);
            }
            const CFArrayRef result = array;
            std::memcpy (bytes, &result, sizeof (result));
            return kAudioHardwareNoError;
        }
        case PropertyValue::Kind::Translation:
            return Translate (outData);
        default:
            return kAudioHardwareUnspecifiedError;
    }
}

//==============================================================================
// Reading an aggregate description

CFTypeRef ValueFor (CFDictionaryRef dictionary, const char* key)
{
    return CFDictionaryGetValue (dictionary, CFStringMakeConstantString (key));
}

std::optional<std::string> StringFor (CFDictionaryRef dictionary, const char* key)
{
    const auto value = ValueFor (dictionary, key);
    if (value == nullptr || CFGetTypeID (value) != CFStringGetTypeID())
        return std::nullopt;
    return TextOf (static_cast<CFStringRef> (value));
}

std::optional<std::int64_t> NumberFor (CFDictionaryRef dictionary, const char* key)
{
    const auto value = ValueFor (dictionary, key);
    if (value == nullptr || CFGetTypeID (value) != CFNumberGetTypeID())
        return std::nullopt;
    std::int64_t number = 0;
    CFNumberGetValue (static_cast<CFNumberRef> (value), kCFNumberSInt64Type, &number);
    return number;
}

sim::AggregateDescription ReadDescription (CFDictionaryRef description)
{
    sim::AggregateDescription result;
    result.name = StringFor (description, kAudioAggregateDeviceNameKey);
    result.uid = StringFor (description, kAudioAggregateDeviceUIDKey);
    result.master = StringFor (description, kAudioAggregateDeviceMasterSubDeviceKey);
    result.isPrivate = NumberFor (description, kAudioAggregateDeviceIsPrivateKey);

    const auto list = ValueFor (description, kAudioAggregateDeviceSubDeviceListKey);
    if (list == nullptr || CFGetTypeID (list) != CFArrayGetTypeID())
        return result;
    const auto array = static_cast<CFArrayRef> (list);
    for (CFIndex i = 0; i < CFArrayGetCount (array); ++i)
    {
        const auto entry = static_cast<CFTypeRef> (CFArrayGetValueAtIndex (array, i));
        if (entry == nullptr || CFGetTypeID (entry) != CFDictionaryGetTypeID())
            continue;
        const auto subDevice = static_cast<CFDictionaryRef> (entry);
        sim::SubDeviceDescription sub;
        sub.uid = StringFor (subDevice, kAudioSubDeviceUIDKey).value_or ("");
        sub.drift = NumberFor (subDevice, kAudioSubDeviceDriftCompensationKey);
        sub.driftQuality = NumberFor (subDevice, kAudioSubDeviceDriftCompensationQualityKey);
        result.subDevices.push_back (std::move (sub));
    }
    return result;
}

} // namespace

//==============================================================================
extern "C"
{
    OSStatus AudioObjectGetPropertyDataSize (AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                             UInt32 inQualifierDataSize, const void* inQualifierData,
                                             UInt32* outDataSize)
    {
        if (BadCall (inAddress, inQualifierDataSize, inQualifierData) || outDataSize == nullptr)
            return kAudioHardwareIllegalOperationError;

        if (const auto failure = sim::detail::PropertyFailure (inObjectID, inAddress->mSelector))
            return *failure;
        if (const auto answer = sim::detail::PropertyOverride (inObjectID, inAddress->mSelector))
        {
            *outDataSize = answer->size;
            return answer->sizeStatus;
        }

        PropertyValue value;
        const auto status = Resolve (inObjectID, *inAddress, value);
        if (status == kAudioHardwareNoError)
            *outDataSize = SizeOf (value);
        return status;
    }

    OSStatus AudioObjectGetPropertyData (AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                         UInt32 inQualifierDataSize, const void* inQualifierData, UInt32* ioDataSize,
                                         void* outData)
    {
        if (BadCall (inAddress, inQualifierDataSize, inQualifierData) || ioDataSize == nullptr ||
            (outData == nullptr && *ioDataSize != 0))
            return kAudioHardwareIllegalOperationError;

        if (const auto failure = sim::detail::PropertyFailure (inObjectID, inAddress->mSelector))
            return *failure;
        if (const auto answer = sim::detail::PropertyOverride (inObjectID, inAddress->mSelector))
        {
            const auto count = std::min<std::size_t> (*ioDataSize, answer->data.size());
            if (count > 0)
                std::memcpy (outData, answer->data.data(), count);
            *ioDataSize = (UInt32) count;
            return answer->dataStatus;
        }

        PropertyValue value;
        if (const auto status = Resolve (inObjectID, *inAddress, value); status != kAudioHardwareNoError)
            return status;
        if (outData == nullptr)
            return kAudioHardwareBadPropertySizeError;
        return WriteValue (value, ioDataSize, outData);
    }

    OSStatus AudioObjectSetPropertyData (AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                         UInt32 inQualifierDataSize, const void* inQualifierData, UInt32 inDataSize,
                                         const void* inData)
    {
        if (BadCall (inAddress, inQualifierDataSize, inQualifierData))
            return kAudioHardwareIllegalOperationError;
        if (sim::detail::FaultActive (sim::Fault::SetProperty))
            return kAudioHardwareUnspecifiedError;

        if (inObjectID == kAudioObjectSystemObject && inAddress->mSelector == kAudioHardwarePropertyRunLoop)
        {
            if (inData == nullptr || inDataSize != sizeof (CFRunLoopRef))
                return kAudioHardwareBadPropertySizeError;
            CFRunLoopRef loop = nullptr;
            std::memcpy (&loop, inData, sizeof (loop));
            // Any loop but NULL stands for the main one, the only other place this HAL delivers to.
            sim::detail::SetNotifyOnOwnThread (loop == nullptr);
            return kAudioHardwareNoError;
        }

        PropertyValue value;
        if (const auto status = Resolve (inObjectID, *inAddress, value); status != kAudioHardwareNoError)
            return status;

        const bool input = inAddress->mSelector == kAudioHardwarePropertyDefaultInputDevice;
        const bool output = inAddress->mSelector == kAudioHardwarePropertyDefaultOutputDevice;
        if (inObjectID != kAudioObjectSystemObject || !(input || output))
            return kAudioHardwareUnsupportedOperationError;
        if (inData == nullptr || inDataSize != sizeof (AudioObjectID))
            return kAudioHardwareBadPropertySizeError;

        AudioObjectID device = 0;
        std::memcpy (&device, inData, sizeof (device));
        return sim::detail::SetDefaultDevice (input, device);
    }

    OSStatus AudioObjectAddPropertyListener (AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                             AudioObjectPropertyListenerProc inListener, void* inClientData)
    {
        if (inAddress == nullptr || inListener == nullptr)
            return kAudioHardwareIllegalOperationError;
        sim::detail::AddListener (inObjectID, *inAddress, inListener, inClientData);
        return kAudioHardwareNoError;
    }

    OSStatus AudioObjectRemovePropertyListener (AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                                AudioObjectPropertyListenerProc inListener, void* inClientData)
    {
        if (inAddress == nullptr || inListener == nullptr)
            return kAudioHardwareIllegalOperationError;
        return sim::detail::RemoveListener (inObjectID, *inAddress, inListener, inClientData)
                   ? kAudioHardwareNoError
                   : kAudioHardwareUnknownPropertyError;
    }

    OSStatus AudioHardwareCreateAggregateDevice (CFDictionaryRef inDescription, AudioObjectID* outDeviceID)
    {
        if (inDescription == nullptr || outDeviceID == nullptr ||
            CFGetTypeID (inDescription) != CFDictionaryGetTypeID())
            return kAudioHardwareIllegalOperationError;
        return sim::detail::CreateAggregate (ReadDescription (inDescription), outDeviceID);
    }

    OSStatus AudioHardwareDestroyAggregateDevice (AudioObjectID inDeviceID)
    {
        return sim::detail::DestroyAggregate (inDeviceID);
    }

} // extern "C"
