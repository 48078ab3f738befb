#include "devices/DeviceKeyHash.h"

#include <cstring>
#include <utility>

namespace DeviceKeyHash
{
namespace
{

constexpr std::uint64_t k0 = 0xc3a5c85c97cb3127ULL;
constexpr std::uint64_t k1 = 0xb492b66fbe98f273ULL;
constexpr std::uint64_t k2 = 0x9ae16a3b2f90404fULL;
constexpr std::uint64_t k3 = 0xc949d7c7509e6557ULL;
constexpr std::uint64_t kMul = 0x9ddfea08eb382d69ULL;

// Words are read in the machine's own byte order, as libc++ does.
std::uint64_t Load64 (const unsigned char* p) noexcept
{
    std::uint64_t value;
    std::memcpy (&value, p, sizeof (value));
    return value;
}

std::uint32_t Load32 (const unsigned char* p) noexcept
{
    std::uint32_t value;
    std::memcpy (&value, p, sizeof (value));
    return value;
}

std::uint64_t Rotate (std::uint64_t value, int shift) noexcept
{
    return shift == 0 ? value : ((value >> shift) | (value << (64 - shift)));
}

std::uint64_t RotateByAtLeast1 (std::uint64_t value, int shift) noexcept
{
    return (value >> shift) | (value << (64 - shift));
}

std::uint64_t ShiftMix (std::uint64_t value) noexcept
{
    return value ^ (value >> 47);
}

std::uint64_t HashLen16 (std::uint64_t u, std::uint64_t v) noexcept
{
    std::uint64_t a = (u ^ v) * kMul;
    a ^= (a >> 47);
    std::uint64_t b = (v ^ a) * kMul;
    b ^= (b >> 47);
    b *= kMul;
    return b;
}

std::uint64_t HashLen0To16 (const unsigned char* s, std::size_t len) noexcept
{
    if (len > 8)
    {
        const std::uint64_t a = Load64 (s);
        const std::uint64_t b = Load64 (s + len - 8);
        return HashLen16 (a, RotateByAtLeast1 (b + len, static_cast<int> (len))) ^ b;
    }

    if (len >= 4)
    {
        // libc++ shifts the first word as a 32-bit value, dropping its top
        // three bits, before the length is added; the keys depend on that.
        const std::uint32_t a = Load32 (s);
        const std::uint32_t b = Load32 (s + len - 4);
        return HashLen16 (len + static_cast<std::uint32_t> (a << 3), b);
    }

    if (len > 0)
    {
        const std::uint8_t a = s[0];
        const std::uint8_t b = s[len >> 1];
        const std::uint8_t c = s[len - 1];
        const std::uint32_t y = static_cast<std::uint32_t> (a) + (static_cast<std::uint32_t> (b) << 8);
        const std::uint32_t z = static_cast<std::uint32_t> (len) + (static_cast<std::uint32_t> (c) << 2);
        return ShiftMix (y * k2 ^ z * k3) * k2;
    }

    return k2;
}

std::uint64_t HashLen17To32 (const unsigned char* s, std::size_t len) noexcept
{
    const std::uint64_t a = Load64 (s) * k1;
    const std::uint64_t b = Load64 (s + 8);
    const std::uint64_t c = Load64 (s + len - 8) * k2;
    const std::uint64_t d = Load64 (s + len - 16) * k0;
    return HashLen16 (Rotate (a - b, 43) + Rotate (c, 30) + d, a + Rotate (b ^ k3, 20) - c + len);
}

std::pair<std::uint64_t, std::uint64_t> WeakHashLen32WithSeeds (std::uint64_t w, std::uint64_t x, std::uint64_t y,
                                                                std::uint64_t z, std::uint64_t a,
                                                                std::uint64_t b) noexcept
{
    a += w;
    b = Rotate (b + a + z, 21);
    const std::uint64_t c = a;
    a += x;
    a += y;
    b += Rotate (a, 44);
    return { a + z, b + c };
}

std::pair<std::uint64_t, std::uint64_t> WeakHashLen32WithSeeds (const unsigned char* s, std::uint64_t a,
                                                                std::uint64_t b) noexcept
{
    return WeakHashLen32WithSeeds (Load64 (s), Load64 (s + 8), Load64 (s + 16), Load64 (s + 24), a, b);
}

std::uint64_t HashLen33To64 (const unsigned char* s, std::size_t len) noexcept
{
    std::uint64_t z = Load64 (s + 24);
    std::uint64_t a = Load64 (s) + (len + Load64 (s + len - 16)) * k0;
    std::uint64_t b = Rotate (a + z, 52);
    std::uint64_t c = Rotate (a, 37);
    a += Load64 (s + 8);
    c += Rotate (a, 7);
    a += Load64 (s + 16);
    const std::uint64_t vf = a + z;
    const std::uint64_t vs = b + Rotate (a, 31) + c;
    a = Load64 (s + 16) + Load64 (s + len - 32);
    // libc++ adds this word to z where other CityHash64 code replaces z with it.
    z += Load64 (s + len - 8);
    b = Rotate (a + z, 52);
    c = Rotate (a, 37);
    a += Load64 (s + len - 24);
    c += Rotate (a, 7);
    a += Load64 (s + len - 16);
    const std::uint64_t wf = a + z;
    const std::uint64_t ws = b + Rotate (a, 31) + c;
    const std::uint64_t r = ShiftMix ((vf + ws) * k2 + (wf + vs) * k0);
    return ShiftMix (r * k0 + vs) * k2;
}

std::uint64_t HashLongerThan64 (const unsigned char* s, std::size_t len) noexcept
{
    std::uint64_t x = Load64 (s + len - 40);
    std::uint64_t y = Load64 (s + len - 16) + Load64 (s + len - 56);
    std::uint64_t z = HashLen16 (Load64 (s + len - 48) + len, Load64 (s + len - 24));
    auto v = WeakHashLen32WithSeeds (s + len - 64, len, z);
    auto w = WeakHashLen32WithSeeds (s + len - 32, y + k1, x);
    x = x * k1 + Load64 (s);

    len = (len - 1) & ~static_cast<std::size_t> (63);

    do
    {
        x = Rotate (x + y + v.first + Load64 (s + 8), 37) * k1;
        y = Rotate (y + v.second + Load64 (s + 48), 42) * k1;
        x ^= w.second;
        y += v.first + Load64 (s + 40);
        z = Rotate (z + w.first, 33) * k1;
        v = WeakHashLen32WithSeeds (s, v.second * k1, x + w.first);
        w = WeakHashLen32WithSeeds (s + 32, z + w.second, y + Load64 (s + 16));
        std::swap (z, x);
        s += 64;
        len -= 64;
    } while (len != 0);

    return HashLen16 (HashLen16 (v.first, w.first) + ShiftMix (y) * k1 + z, HashLen16 (v.second, w.second) + x);
}

} // namespace

std::uint64_t Hash (const void* data, std::size_t length) noexcept
{
    const auto* s = static_cast<const unsigned char*> (data);

    if (length <= 16)
        return HashLen0To16 (s, length);

    if (length <= 32)
        return HashLen17To32 (s, length);

    if (length <= 64)
        return HashLen33To64 (s, length);

    return HashLongerThan64 (s, length);
}

} // namespace DeviceKeyHash
