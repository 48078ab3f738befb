#pragma once

// The audio hardware interfaces that this program uses, for hosts that lack the framework.

#include <CoreAudio/AudioHardware.h>
#include <CoreAudio/CoreAudioTypes.h>
