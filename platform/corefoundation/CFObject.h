#pragma once

// What every CoreFoundation object of the stand-in is underneath, for the
// stand-in's own sources only.

#include <CoreFoundation/CoreFoundation.h>

#include <atomic>

namespace cf
{

/** The type ids handed out by the *GetTypeID functions. */
enum TypeId : CFTypeID
{
    kStringTypeId = 7,
    kDictionaryTypeId = 18,
    kArrayTypeId = 19,
    kSetTypeId = 17,
    kNumberTypeId = 22,
    kRunLoopTypeId = 43,
    kHidManagerTypeId = 101,
    kHidDeviceTypeId = 102,
};

/** How long an object lives, and whether sim::LiveObjectCount counts it. */
enum class Lifetime
{
    Counted,   // until its last reference goes
    Uncounted, // the same, but left out of the count (run loops, which live as long as their thread)
    Immortal,  // for the whole process, uncounted; retain and release do nothing (constant strings)
};

/** The base of every object behind a CFTypeRef. Reference counts are atomic,
    so references may be taken and dropped on any thread. */
class Object
{
public:
    explicit Object (CFTypeID typeId, Lifetime lifetime = Lifetime::Counted);
    virtual ~Object();

    Object (const Object&) = delete;
    Object& operator= (const Object&) = delete;

    CFTypeID TypeId() const { return typeId; }

    /** Only called with another object of the same type id. */
    virtual bool Equals (const Object& other) const { return this == &other; }
    virtual CFHashCode Hash() const;

    void Retain();
    /** Returns true when that was the last reference and the object is gone. */
    bool Release();
    long RetainCount() const;

private:
    const CFTypeID typeId;
    const Lifetime lifetime;
    std::atomic<long> references { 1 };
};

/** The object behind a reference; a NULL reference aborts with the function's name. */
Object& ObjectOf (CFTypeRef ref, const char* function);

/** Objects alive now, excluding those that are not Lifetime::Counted. */
long LiveObjectCount();

/** Prints the complaint and aborts: the caller broke a rule that real CoreFoundation crashes on. */
[[noreturn]] void Fail (const char* function, const char* complaint);

/** The object behind a reference of the given type; NULL or another type aborts. */
template <typename T>
T& Checked (CFTypeRef ref, CFTypeID typeId, const char* function)
{
    Object& object = ObjectOf (ref, function);
    if (object.TypeId() != typeId)
        Fail (function, "object of the wrong type");
    return static_cast<T&> (object);
}

} // namespace cf
