#pragma once

// The plain data records that audio interfaces pass around.

#include <MacTypes.h>

#ifdef __cplusplus
extern "C"
{
#endif

    /** One buffer of interleaved samples, or, in a stream configuration, one stream's channel count. */
    typedef struct AudioBuffer
    {
        UInt32 mNumberChannels;
        UInt32 mDataByteSize;
        void* mData;
    } AudioBuffer;

    /** A counted list of buffers. mBuffers really holds mNumberBuffers entries: allocate
        offsetof (AudioBufferList, mBuffers) + n * sizeof (AudioBuffer) bytes for n buffers. */
    typedef struct AudioBufferList
    {
        UInt32 mNumberBuffers;
        AudioBuffer mBuffers[1];
    } AudioBufferList;

    /** A translation request: the input value and its size, and where the answer goes. */
    typedef struct AudioValueTranslation
    {
        void* mInputData;
        UInt32 mInputDataSize;
        void* mOutputData;
        UInt32 mOutputDataSize;
    } AudioValueTranslation;

#ifdef __cplusplus
}
#endif
