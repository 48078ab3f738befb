#pragma once

/** The program's identity: its name is also its single-instance key. */
namespace AppInfo
{

inline constexpr const char* kName = "QUOR Virtual Channels";
inline constexpr const char* kVersion = "0.9.0";

} // namespace AppInfo
