#pragma once

// The audio hardware layer: every device, and the system itself, is an object
// with properties addressed by selector, scope and element.
//
// Ownership follows the CoreFoundation rule: a property that hands out a
// CFStringRef or CFArrayRef hands out a new reference that the caller releases.

#include <CoreAudio/CoreAudioTypes.h>
#include <CoreFoundation/CoreFoundation.h>
#include <MacTypes.h>

#ifdef __cplusplus
extern "C"
{
#endif

    typedef UInt32 AudioObjectID;
    typedef UInt32 AudioObjectPropertySelector;
    typedef UInt32 AudioObjectPropertyScope;
    typedef UInt32 AudioObjectPropertyElement;

    typedef struct AudioObjectPropertyAddress
    {
        AudioObjectPropertySelector mSelector;
        AudioObjectPropertyScope mScope;
        AudioObjectPropertyElement mElement;
    } AudioObjectPropertyAddress;

    enum
    {
        kAudioObjectUnknown = 0,
        kAudioObjectSystemObject = 1
    };

    enum
    {
        kAudioObjectPropertyScopeGlobal = 'glob',
        kAudioObjectPropertyScopeInput = 'inpt',
        kAudioObjectPropertyScopeOutput = 'outp',

        kAudioObjectPropertyElementMain = 0,
        kAudioObjectPropertyElementMaster = kAudioObjectPropertyElementMain,

        kAudioObjectPropertySelectorWildcard = '****',
        kAudioObjectPropertyScopeWildcard = '****',
        kAudioObjectPropertyElementWildcard = 0xFFFFFFFF
    };

    enum
    {
        kAudioHardwarePropertyDevices = 'dev#',             // system: AudioObjectID[]
        kAudioHardwarePropertyDefaultInputDevice = 'dIn ',  // system: AudioObjectID, settable
        kAudioHardwarePropertyDefaultOutputDevice = 'dOut', // system: AudioObjectID, settable
        kAudioHardwarePropertyDeviceForUID = 'duid',      // system: AudioValueTranslation, CFStringRef -> AudioObjectID
        kAudioHardwarePropertyRunLoop = 'rnlp',           // system: CFRunLoopRef, settable (see below)
        kAudioObjectPropertyName = 'lnam',                // device: CFStringRef
        kAudioDevicePropertyDeviceUID = 'uid ',           // device: CFStringRef
        kAudioDevicePropertyStreamConfiguration = 'slay', // device, input or output scope: AudioBufferList
        kAudioAggregateDevicePropertyFullSubDeviceList = 'grup',  // aggregate: CFArrayRef of CFStringRef UIDs
        kAudioAggregateDevicePropertyActiveSubDeviceList = 'agrp' // aggregate: AudioObjectID[]
    };

    enum
    {
        kAudioHardwareNoError = 0,
        kAudioHardwareNotRunningError = 'stop',
        kAudioHardwareUnspecifiedError = 'what',
        kAudioHardwareUnknownPropertyError = 'who?',
        kAudioHardwareBadPropertySizeError = '!siz',
        kAudioHardwareIllegalOperationError = 'nope',
        kAudioHardwareBadObjectError = '!obj',
        kAudioHardwareBadDeviceError = '!dev',
        kAudioHardwareUnsupportedOperationError = 'unop'
    };

// Keys of the dictionary that describes an aggregate device.
#define kAudioAggregateDeviceNameKey "name"
#define kAudioAggregateDeviceUIDKey "uid"
#define kAudioAggregateDeviceSubDeviceListKey "subdevices"
#define kAudioAggregateDeviceMasterSubDeviceKey "master"
#define kAudioAggregateDeviceIsPrivateKey "private"

// Keys of each sub-device dictionary in the "subdevices" array.
#define kAudioSubDeviceUIDKey "uid"
#define kAudioSubDeviceDriftCompensationKey "drift"
#define kAudioSubDeviceDriftCompensationQualityKey "drift quality"

    /** The size in bytes of the property's current data. */
    OSStatus AudioObjectGetPropertyDataSize (AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                             UInt32 inQualifierDataSize, const void* inQualifierData,
                                             UInt32* outDataSize);

    /** Copies the property's data into outData, which holds *ioDataSize bytes; on
        success *ioDataSize becomes the number of bytes written. Never writes more
        than *ioDataSize bytes. */
    OSStatus AudioObjectGetPropertyData (AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                         UInt32 inQualifierDataSize, const void* inQualifierData, UInt32* ioDataSize,
                                         void* outData);

    /** Changes a settable property. */
    OSStatus AudioObjectSetPropertyData (AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                         UInt32 inQualifierDataSize, const void* inQualifierData, UInt32 inDataSize,
                                         const void* inData);

    /** Called when a property the listener was added for changes. */
    typedef OSStatus (*AudioObjectPropertyListenerProc) (AudioObjectID inObjectID, UInt32 inNumberAddresses,
                                                         const AudioObjectPropertyAddress* inAddresses,
                                                         void* inClientData);

    /** Listens to a property; the wildcards match any selector, scope or
        element. Of the system object, kAudioHardwarePropertyDevices is told:
        on the main run loop (here: JUCE's message loop) by default, so that a
        process whose main thread is busy sees neither the call nor the new
        list until it returns to its loop; on a thread of the HAL's own once
        kAudioHardwarePropertyRunLoop is set to NULL. Until a change has been
        told, readers of the device list still see the old one. */
    OSStatus AudioObjectAddPropertyListener (AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                             AudioObjectPropertyListenerProc inListener, void* inClientData);

    /** Stops listening; once it returns, the listener is not running and is never called again. */
    OSStatus AudioObjectRemovePropertyListener (AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                                AudioObjectPropertyListenerProc inListener, void* inClientData);

    /** Creates an aggregate device from its description; the new id goes to *outDeviceID. */
    OSStatus AudioHardwareCreateAggregateDevice (CFDictionaryRef inDescription, AudioObjectID* outDeviceID);

    /** Destroys an aggregate device. */
    OSStatus AudioHardwareDestroyAggregateDevice (AudioObjectID inDeviceID);

#ifdef __cplusplus
}
#endif
