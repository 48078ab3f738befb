#include "platform/corefoundation/CFObject.h"

#include <climits>
#include <cstddef>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

struct __CFString final : cf::Object
{
    explicit __CFString (std::string text, cf::Lifetime lifetime = cf::Lifetime::Counted)
        : Object (cf::kStringTypeId, lifetime),
          utf8 (std::move (text))
    {
    }

    bool Equals (const Object& other) const override { return utf8 == static_cast<const __CFString&> (other).utf8; }
    CFHashCode Hash() const override { return std::hash<std::string>() (utf8); }

    const std::string utf8;
};

namespace
{

bool IsAscii (const std::string& text)
{
    for (unsigned char c : text)
        if (c >= 0x80)
            return false;
    return true;
}

/** Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. */
bool IsValidUtf8 (const unsigned char* bytes, size_t size)
{
    size_t i = 0;
    while (i < size)
    {
        const unsigned char lead = bytes[i];
        size_t extra = 0;
        unsigned long codePoint = 0;
        if (lead < 0x80)
        {
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF)
        {
            extra = 1;
            codePoint = lead & 0x1Fu;
        }
        else if (lead >= 0xE0 && lead <= 0xEF)
        {
            extra = 2;
            codePoint = lead & 0x0Fu;
        }
        else if (lead >= 0xF0 && lead <= 0xF4)
        {
            extra = 3;
            codePoint = lead & 0x07u;
        }
        else
        {
            return false;
        }
        if (size - i <= extra)
            return false;
        for (size_t k = 1; k <= extra; ++k)
        {
            const unsigned char next = bytes[i + k];
            if ((next & 0xC0u) != 0x80u)
                return false;
            codePoint = (codePoint << 6) | (next & 0x3Fu);
        }
        if ((extra == 2 && codePoint < 0x800) || (extra == 3 && codePoint < 0x10000) || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

bool IsValidIn (const std::string& text, CFStringEncoding encoding)
{
    if (encoding == kCFStringEncodingUTF8)
        return IsValidUtf8 (reinterpret_cast<const unsigned char*> (text.data()), text.size());
    if (encoding == kCFStringEncodingASCII)
        return IsAscii (text);
    return false;
}

CFStringRef Create (std::string text, CFStringEncoding encoding)
{
    if (!IsValidIn (text, encoding))
        return nullptr;
    return new __CFString (std::move (text));
}

const __CFString& StringOf (CFStringRef string, const char* function)
{
    return cf::Checked<const __CFString> (string, cf::kStringTypeId, function);
}

} // namespace

extern "C"
{
    CFTypeID CFStringGetTypeID (void)
    {
        return cf::kStringTypeId;
    }

    CFStringRef CFStringMakeConstantString (const char* cStr)
    {
        // Never destroyed: constant strings must outlive every static object that uses one.
        static std::mutex* const mutex = new std::mutex;
        static auto* const constants = new std::map<std::string, __CFString*, std::less<>>;

        if (cStr == nullptr)
            cf::Fail ("CFSTR", "NULL text");
        std::lock_guard<std::mutex> lock (*mutex);
        auto found = constants->find (std::string_view (cStr));
        if (found != constants->end())
            return found->second;
        auto* string = new __CFString (cStr, cf::Lifetime::Immortal);
        constants->emplace (cStr, string);
        return string;
    }

    CFStringRef CFStringCreateWithCString (CFAllocatorRef, const char* cStr, CFStringEncoding encoding)
    {
        if (cStr == nullptr)
            return nullptr;
        return Create (std::string (cStr), encoding);
    }

    CFStringRef CFStringCreateWithBytes (CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                         CFStringEncoding encoding, Boolean)
    {
        if (numBytes < 0 || (bytes == nullptr && numBytes > 0))
            return nullptr;
        return Create (std::string (reinterpret_cast<const char*> (bytes), static_cast<size_t> (numBytes)), encoding);
    }

    CFIndex CFStringGetLength (CFStringRef string)
    {
        CFIndex units = 0;
        for (unsigned char c : StringOf (string, "CFStringGetLength").utf8)
        {
            if ((c & 0xC0u) != 0x80u)
                ++units;
            if (c >= 0xF0u)
                ++units; // outside the basic plane: a surrogate pair
        }
        return units;
    }

    CFIndex CFStringGetMaximumSizeForEncoding (CFIndex length, CFStringEncoding encoding)
    {
        const CFIndex perUnit = encoding == kCFStringEncodingUTF8 ? 3 : 1;
        if (length < 0 || length > LONG_MAX / perUnit)
            return kCFNotFound;
        return length * perUnit;
    }

    Boolean CFStringGetCString (CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding encoding)
    {
        const std::string& text = StringOf (string, "CFStringGetCString").utf8;
        if (buffer == nullptr || bufferSize <= 0 || !IsValidIn (text, encoding))
            return false;
        if (text.size() + 1 > static_cast<size_t> (bufferSize))
        {
            buffer[0] = '\0';
            return false;
        }
        std::memcpy (buffer, text.c_str(), text.size() + 1);
        return true;
    }

    const char* CFStringGetCStringPtr (CFStringRef string, CFStringEncoding encoding)
    {
        const std::string& text = StringOf (string, "CFStringGetCStringPtr").utf8;
        return IsValidIn (text, encoding) ? text.c_str() : nullptr;
    }

} // extern "C"
