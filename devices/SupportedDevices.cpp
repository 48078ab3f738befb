#include "devices/SupportedDevices.h"

namespace
{

constexpr std::uint16_t none = SupportedDevice::kNoAltProductId;

const char* const velmar = "Tavrolux Velmar";
const char* const tesk = "Tavrolux TESK";

std::list<SupportedDevice> MakeTable()
{
    // clang-format off
    const struct { std::uint16_t productId, altProductId; std::uint8_t kind; const char* name; } rows[] = {
        { 0x08, 0x09, 2, "Tavrolux Arden" },
        { 0x0A, 0x0B, 2, "Tavrolux Brisa" },
        { 0x03, 0x04, 2, "Tavrolux Corvel" },
        { 0x15, 0x16, 2, "Tavrolux Dunmore" },
        { 0x1A, 0x1B, 2, "Tavrolux Elstra" },
        { 0x1E, none, 0, "Tavrolux Fenwick" },
        { 0x1F, none, 0, "Tavrolux Fenwick" },
        { 0x2D, none, 0, "Tavrolux Fenwick" },
        { 0x2E, none, 0, "Tavrolux Fenwick" },
        { 0x29, none, 0, "Tavrolux Fenwick" },
        { 0x2A, none, 0, "Tavrolux Fenwick" },
        { 0x44, none, 0, "Tavrolux Galen" },
        { 0x46, none, 0, "Tavrolux Galen" },
        { 0x3C, 0x3D, 2, "Tavrolux Harrow" },
        { 0x56, none, 0, "Tavrolux Islo" },
        { 0x58, none, 0, "Tavrolux Islo" },
        { 0x5F, none, 0, "Tavrolux Jarrin" },
        { 0x61, none, 0, "Tavrolux Jarrin" },
        { 0x63, none, 0, "Tavrolux Kestrel" },
        { 0x69, none, 0, "Tavrolux Lumen" },
        { 0x6A, none, 0, "Tavrolux Lumen" },
        { 0x6E, none, 0, "Tavrolux Morrow" },
        { 0x70, none, 0, "Tavrolux Morrow" },
        { 0x22, none, 2, "Tavrolux Norvik" },
        { 0x1C, 0x1D, 2, "Tavrolux Orrin" },
        { 0x23, none, 2, "Tavrolux Pellam" },
        { 0x33, 0x34, 2, "Tavrolux Quenby" },
        { 0x30, none, 2, velmar },
        { 0x37, none, 2, velmar },
        { 0x72, none, 2, velmar },
        { 0x78, none, 2, velmar },
        { 0x4F, none, 2, tesk },
        { 0x50, none, 2, tesk },
        { 0x73, none, 2, tesk },
        { 0x79, none, 2, tesk },
        { 0x3A, 0x3B, 2, "Tavrolux Rasko" },
        { 0x3E, 0x3F, 2, "Tavrolux Sablon" },
        { 0x35, 0x36, 2, "Tavrolux Torvane" },
        { 0x4A, 0x4B, 2, "Tavrolux Ulmen" },
        { 0x4C, 0x4D, 2, "Tavrolux Wystan" },
        { 0x54, 0x4D, 2, "Tavrolux Wystan" },
        { 0x38, none, 0, "Tavrolux Xandor" },
        { 0x55, none, 0, "Tavrolux Xandor" },
        { 0x5A, 0x5B, 1, "Tavrolux Yarrow" },
        { 0x65, 0x67, 1, "Tavrolux Zephel" },
        { 0x7A, 0x7B, 1, "Tavrolux Amberley" },
    };
    // clang-format on

    std::list<SupportedDevice> table;

    for (const auto& row : rows)
        table.push_back ({ kMakerVendorId, row.productId, row.altProductId, row.kind, juce::String (row.name) });

    return table;
}

} // namespace

const std::list<SupportedDevice> SupportedDevices = MakeTable();
