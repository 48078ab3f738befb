#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <utility>

/** Owns one reference to a CoreFoundation object and releases it when it goes:
    Create and Copy results are adopted, their reference is already ours.
    Never calls CFRelease on NULL. */
template <typename Ref>
class CFRef
{
public:
    CFRef() noexcept = default;

    /** Takes over the reference that a Create or Copy call returned. */
    static CFRef Adopt (Ref ref) noexcept { return CFRef (ref); }

    ~CFRef() { Reset(); }

    CFRef (CFRef&& other) noexcept : ref (std::exchange (other.ref, nullptr)) {}

    CFRef& operator= (CFRef&& other) noexcept
    {
        if (this != &other)
        {
            Reset();
            ref = std::exchange (other.ref, nullptr);
        }

        return *this;
    }

    CFRef (const CFRef&) = delete;
    CFRef& operator= (const CFRef&) = delete;

    Ref Get() const noexcept { return ref; }
    explicit operator bool() const noexcept { return ref != nullptr; }

    void Reset() noexcept
    {
        if (ref != nullptr)
            CFRelease (std::exchange (ref, nullptr));
    }

private:
    explicit CFRef (Ref adopted) noexcept : ref (adopted) {}

    Ref ref = nullptr;
};
