#pragma once

#include <cstddef>
#include <cstdint>

namespace DeviceKeyHash
{

/** The 64-bit string hash of LLVM's libc++ (its std::hash<std::string> on
    64-bit targets): CityHash64 of CityHash 1.0 in libc++'s own form. Device
    keys must come out exactly as that library computes them, whichever
    standard library this program is built with. Any thread; no state. */
std::uint64_t Hash (const void* data, std::size_t length) noexcept;

} // namespace DeviceKeyHash
