#include "platform/corefoundation/CFObject.h"
#include "platform/corefoundation/ValueCallBacks.h"

#include <cstddef>
#include <utility>
#include <vector>

extern "C" const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {
    0, cf::RetainCFType, cf::ReleaseCFType, nullptr, CFEqual, CFHash
};
extern "C" const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = { 0, cf::RetainCFType, cf::ReleaseCFType,
                                                                                nullptr, CFEqual };

/** Entries stay in the order they were added; the dictionaries here hold a handful of keys. */
struct __CFDictionary final : cf::Object
{
    using Entry = std::pair<const void*, const void*>;

    __CFDictionary (const CFDictionaryKeyCallBacks* keyCallBacks_, const CFDictionaryValueCallBacks* valueCallBacks_)
        : Object (cf::kDictionaryTypeId),
          keyCallBacks (cf::ValueCallBacks::From (keyCallBacks_)),
          valueCallBacks (cf::ValueCallBacks::From (valueCallBacks_))
    {
    }

    ~__CFDictionary() override
    {
        for (auto& entry : entries)
            Drop (entry);
    }

    Entry* Find (const void* key)
    {
        for (auto& entry : entries)
            if (keyCallBacks.Same (entry.first, key))
                return &entry;
        return nullptr;
    }

    const Entry* Find (const void* key) const { return const_cast<__CFDictionary*> (this)->Find (key); }

    void Add (const void* key, const void* value)
    {
        entries.emplace_back (keyCallBacks.Take (key), valueCallBacks.Take (value));
    }

    void Drop (const Entry& entry) const
    {
        keyCallBacks.Drop (entry.first);
        valueCallBacks.Drop (entry.second);
    }

    bool Equals (const Object& other) const override
    {
        const auto& that = static_cast<const __CFDictionary&> (other);
        if (entries.size() != that.entries.size())
            return false;
        for (auto& entry : entries)
        {
            const auto* match = that.Find (entry.first);
            if (match == nullptr || !valueCallBacks.Same (entry.second, match->second))
                return false;
        }
        return true;
    }

    CFHashCode Hash() const override { return entries.size(); }

    const cf::ValueCallBacks keyCallBacks;
    const cf::ValueCallBacks valueCallBacks;
    std::vector<Entry> entries;
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
        const auto* entry = DictionaryOf (dictionary, "CFDictionaryGetValue").Find (key);
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
            d.Add (key, value);
    }

    void CFDictionarySetValue (CFMutableDictionaryRef dictionary, const void* key, const void* value)
    {
        auto& d = DictionaryOf (dictionary, "CFDictionarySetValue");
        auto* entry = d.Find (key);
        if (entry == nullptr)
        {
            d.Add (key, value);
            return;
        }
        // Take the new value before dropping the old: they may be the same object.
        const void* old = entry->second;
        entry->second = d.valueCallBacks.Take (value);
        d.valueCallBacks.Drop (old);
    }

    void CFDictionaryRemoveValue (CFMutableDictionaryRef dictionary, const void* key)
    {
        auto& d = DictionaryOf (dictionary, "CFDictionaryRemoveValue");
        auto* entry = d.Find (key);
        if (entry == nullptr)
            return;
        const auto removed = *entry;
        d.entries.erase (d.entries.begin() + (entry - d.entries.data()));
        d.Drop (removed);
    }

} // extern "C"
