#include "platform/corefoundation/CFObject.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace
{

const void* RetainValue (CFAllocatorRef, const void* value)
{
    return CFRetain (value);
}

void ReleaseValue (CFAllocatorRef, const void* value)
{
    CFRelease (value);
}

} // namespace

extern "C" const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {
    0, RetainValue, ReleaseValue, CFCopyDescription, CFEqual, CFHash
};
extern "C" const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = { 0, RetainValue, ReleaseValue,
                                                                                CFCopyDescription, CFEqual };

/** Entries stay in the order they were added; the dictionaries here hold a handful of keys. */
struct __CFDictionary final : cf::Object
{
    __CFDictionary (const CFDictionaryKeyCallBacks* keyCallBacks_, const CFDictionaryValueCallBacks* valueCallBacks_)
        : Object (cf::kDictionaryTypeId, cf::Counted::Yes),
          keyCallBacks (keyCallBacks_ ? *keyCallBacks_ : CFDictionaryKeyCallBacks {}),
          valueCallBacks (valueCallBacks_ ? *valueCallBacks_ : CFDictionaryValueCallBacks {})
    {
    }

    ~__CFDictionary() override
    {
        for (auto& entry : entries)
        {
            DropKey (entry.first);
            DropValue (entry.second);
        }
    }

    bool SameKey (const void* a, const void* b) const
    {
        return a == b || (keyCallBacks.equal != nullptr && keyCallBacks.equal (a, b));
    }

    bool SameValue (const void* a, const void* b) const
    {
        return a == b || (valueCallBacks.equal != nullptr && valueCallBacks.equal (a, b));
    }

    std::pair<const void*, const void*>* Find (const void* key)
    {
        for (auto& entry : entries)
            if (SameKey (entry.first, key))
                return &entry;
        return nullptr;
    }

    const void* TakeKey (const void* key) const
    {
        return keyCallBacks.retain ? keyCallBacks.retain (nullptr, key) : key;
    }

    const void* TakeValue (const void* value) const
    {
        return valueCallBacks.retain ? valueCallBacks.retain (nullptr, value) : value;
    }

    void DropKey (const void* key) const
    {
        if (keyCallBacks.release)
            keyCallBacks.release (nullptr, key);
    }

    void DropValue (const void* value) const
    {
        if (valueCallBacks.release)
            valueCallBacks.release (nullptr, value);
    }

    bool Equals (const Object& other) const override
    {
        auto& that = const_cast<__CFDictionary&> (static_cast<const __CFDictionary&> (other));
        if (entries.size() != that.entries.size())
            return false;
        for (auto& entry : entries)
        {
            auto* match = that.Find (entry.first);
            if (match == nullptr || !SameValue (entry.second, match->second))
                return false;
        }
        return true;
    }

    CFHashCode Hash() const override { return entries.size(); }

    const CFDictionaryKeyCallBacks keyCallBacks;
    const CFDictionaryValueCallBacks valueCallBacks;
    std::vector<std::pair<const void*, const void*>> entries;
};

namespace
{

__CFDictionary& DictionaryOf (CFTypeRef dictionary, const char* function)
{
    return cf::Checked<__CFDictionary> (dictionary, cf::kDictionaryTypeId, function);
}

} // namespace

extern "C"
{
    CFTypeID CFDictionaryGetTypeID (void)
    {
        return cf::kDictionaryTypeId;
    }

    CFMutableDictionaryRef CFDictionaryCreateMutable (CFAllocatorRef, CFIndex,
                                                      const CFDictionaryKeyCallBacks* keyCallBacks,
                                                      const CFDictionaryValueCallBacks* valueCallBacks)
    {
        return new __CFDictionary (keyCallBacks, valueCallBacks);
    }

    CFIndex CFDictionaryGetCount (CFDictionaryRef dictionary)
    {
        return static_cast<CFIndex> (DictionaryOf (dictionary, "CFDictionaryGetCount").entries.size());
    }

    const void* CFDictionaryGetValue (CFDictionaryRef dictionary, const void* key)
    {
        auto* entry = DictionaryOf (dictionary, "CFDictionaryGetValue").Find (key);
        return entry ? entry->second : nullptr;
    }

    void CFDictionaryGetKeysAndValues (CFDictionaryRef dictionary, const void** keys, const void** values)
    {
        const auto& d = DictionaryOf (dictionary, "CFDictionaryGetKeysAndValues");
        for (size_t i = 0; i < d.entries.size(); ++i)
        {
            if (keys)
                keys[i] = d.entries[i].first;
            if (values)
                values[i] = d.entries[i].second;
        }
    }

    void CFDictionaryAddValue (CFMutableDictionaryRef dictionary, const void* key, const void* value)
    {
        auto& d = DictionaryOf (dictionary, "CFDictionaryAddValue");
        if (d.Find (key) == nullptr)
            d.entries.emplace_back (d.TakeKey (key), d.TakeValue (value));
    }

    void CFDictionarySetValue (CFMutableDictionaryRef dictionary, const void* key, const void* value)
    {
        auto& d = DictionaryOf (dictionary, "CFDictionarySetValue");
        if (auto* entry = d.Find (key))
        {
            // Take the new value before dropping the old: they may be the same object.
            const void* old = entry->second;
            entry->second = d.TakeValue (value);
            d.DropValue (old);
            return;
        }
        d.entries.emplace_back (d.TakeKey (key), d.TakeValue (value));
    }

    void CFDictionaryRemoveValue (CFMutableDictionaryRef dictionary, const void* key)
    {
        auto& d = DictionaryOf (dictionary, "CFDictionaryRemoveValue");
        auto* entry = d.Find (key);
        if (entry == nullptr)
            return;
        const auto removed = *entry;
        d.entries.erase (d.entries.begin() + (entry - d.entries.data()));
        d.DropKey (removed.first);
        d.DropValue (removed.second);
    }

} // extern "C"
