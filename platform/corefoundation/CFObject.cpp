#include "platform/corefoundation/CFObject.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace cf
{

namespace
{
std::atomic<long> liveObjects { 0 };
} // namespace

Object::Object (CFTypeID typeId_, Lifetime lifetime_) : typeId (typeId_), lifetime (lifetime_)
{
    if (lifetime == Lifetime::Counted)
        liveObjects.fetch_add (1, std::memory_order_relaxed);
}

Object::~Object()
{
    if (lifetime == Lifetime::Counted)
        liveObjects.fetch_sub (1, std::memory_order_relaxed);
}

CFHashCode Object::Hash() const
{
    return std::hash<const void*>() (this);
}

void Object::Retain()
{
    if (lifetime != Lifetime::Immortal)
        references.fetch_add (1, std::memory_order_relaxed);
}

bool Object::Release()
{
    if (lifetime == Lifetime::Immortal)
        return false;
    const long before = references.fetch_sub (1, std::memory_order_acq_rel);
    if (before <= 0)
        Fail ("CFRelease", "object released more often than retained");
    if (before > 1)
        return false;
    delete this;
    return true;
}

long Object::RetainCount() const
{
    // Real CoreFoundation reports a huge count for objects that never go away.
    return lifetime == Lifetime::Immortal ? 0x7fffffffL : references.load (std::memory_order_relaxed);
}

Object& ObjectOf (CFTypeRef ref, const char* function)
{
    if (ref == nullptr)
        Fail (function, "NULL object");
    return *static_cast<Object*> (const_cast<void*> (ref));
}

void Fail (const char* function, const char* complaint)
{
    std::fprintf (stderr, "CoreFoundation: %s: %s\n", function, complaint);
    std::fflush (stderr);
    std::abort();
}

long LiveObjectCount()
{
    return liveObjects.load (std::memory_order_relaxed);
}

} // namespace cf

extern "C"
{
    const CFAllocatorRef kCFAllocatorDefault = nullptr;

    CFTypeRef CFRetain (CFTypeRef object)
    {
        cf::ObjectOf (object, "CFRetain").Retain();
        return object;
    }

    void CFRelease (CFTypeRef object)
    {
        cf::ObjectOf (object, "CFRelease").Release();
    }

    CFIndex CFGetRetainCount (CFTypeRef object)
    {
        return cf::ObjectOf (object, "CFGetRetainCount").RetainCount();
    }

    CFTypeID CFGetTypeID (CFTypeRef object)
    {
        return cf::ObjectOf (object, "CFGetTypeID").TypeId();
    }

    Boolean CFEqual (CFTypeRef first, CFTypeRef second)
    {
        const cf::Object& a = cf::ObjectOf (first, "CFEqual");
        const cf::Object& b = cf::ObjectOf (second, "CFEqual");
        if (&a == &b)
            return true;
        return a.TypeId() == b.TypeId() && a.Equals (b);
    }

    CFHashCode CFHash (CFTypeRef object)
    {
        return cf::ObjectOf (object, "CFHash").Hash();
    }

} // extern "C"
