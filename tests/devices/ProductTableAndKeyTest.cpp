#include "devices/DeviceKeyHash.h"
#include "devices/HidDevices.h"
#include "devices/SupportedDevices.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <set>

namespace
{
constexpr int no = 0xFFFF, V = -1, T = -2; // no alternate ID; the two mixers' names

// The maker's products in lookup order: product ID, alternate ID, kind, and the name as the
// number of the row whose name it repeats (other products' names are the implementer's), or a mixer's.
const std::vector<std::array<int, 4>> expectedRows {
    { 0x08, 0x09, 2, 1 },  { 0x0A, 0x0B, 2, 2 },  { 0x03, 0x04, 2, 3 },  { 0x15, 0x16, 2, 4 },  { 0x1A, 0x1B, 2, 5 },
    { 0x1E, no, 0, 6 },    { 0x1F, no, 0, 6 },    { 0x2D, no, 0, 6 },    { 0x2E, no, 0, 6 },    { 0x29, no, 0, 6 },
    { 0x2A, no, 0, 6 },    { 0x44, no, 0, 12 },   { 0x46, no, 0, 12 },   { 0x3C, 0x3D, 2, 14 }, { 0x56, no, 0, 15 },
    { 0x58, no, 0, 15 },   { 0x5F, no, 0, 17 },   { 0x61, no, 0, 17 },   { 0x63, no, 0, 19 },   { 0x69, no, 0, 20 },
    { 0x6A, no, 0, 20 },   { 0x6E, no, 0, 22 },   { 0x70, no, 0, 22 },   { 0x22, no, 2, 24 },   { 0x1C, 0x1D, 2, 25 },
    { 0x23, no, 2, 26 },   { 0x33, 0x34, 2, 27 }, { 0x30, no, 2, V },    { 0x37, no, 2, V },    { 0x72, no, 2, V },
    { 0x78, no, 2, V },    { 0x4F, no, 2, T },    { 0x50, no, 2, T },    { 0x73, no, 2, T },    { 0x79, no, 2, T },
    { 0x3A, 0x3B, 2, 36 }, { 0x3E, 0x3F, 2, 37 }, { 0x35, 0x36, 2, 38 }, { 0x4A, 0x4B, 2, 39 }, { 0x4C, 0x4D, 2, 40 },
    { 0x54, 0x4D, 2, 40 }, { 0x38, no, 0, 42 },   { 0x55, no, 0, 42 },   { 0x5A, 0x5B, 1, 44 }, { 0x65, 0x67, 1, 45 },
    { 0x7A, 0x7B, 1, 46 },
};

TEST (ProductTable, HoldsEveryRowInOrderAndLookupTakesTheFirstRowByEitherIdOfTheMakerOnly)
{
    std::vector<const SupportedDevice*> table;
    for (const auto& row : SupportedDevices)
        table.push_back (&row);
    ASSERT_EQ (table.size(), expectedRows.size());
    std::set<juce::String> names;
    for (std::size_t i = 0; i < table.size(); ++i)
    {
        const auto [productId, altProductId, kind, name] = expectedRows[i];
        const auto& row = *table[i];
        EXPECT_EQ (std::make_tuple (row.vendorId, row.productId, row.altProductId, row.kind, row.name),
                   std::make_tuple (0x7A31, productId, altProductId, kind,
                                    name > 0 ? table[std::size_t (name - 1)]->name
                                             : juce::String (name == V ? "Tavrolux Velmar" : "Tavrolux TESK")))
            << "row " << i + 1;
        names.insert (row.name);
    }
    EXPECT_EQ (names.size() - names.count (""), 28u) << "each product its own name";
    for (int productId = 0; productId <= 0xFFFF; ++productId)
    {
        const SupportedDevice* first = nullptr;
        for (std::size_t i = table.size(); i-- > 0;)
            if (expectedRows[i][0] == productId || (expectedRows[i][1] == productId && productId != no))
                first = table[i];
        EXPECT_EQ (std::make_pair (HidDevices::FindSupportedDevice (0x7A31, std::uint16_t (productId)),
                                   HidDevices::FindSupportedDevice (0x7A30, std::uint16_t (productId))),
                   std::make_pair (first, (const SupportedDevice*) nullptr))
            << productId;
    }
}

TEST (DeviceKey, IsTheLow32BitsOfLibcxxsStringHashOnEveryLengthPath)
{
    // Device keys' texts, then random bytes of every length to 200 and a few longer: every path and its boundaries.
    const std::pair<std::uint16_t, juce::String> keys[] = { { 8, "" },
                                                            { 121, juce::String::fromUTF8 ("Gr\xc3\xbc\xc3\x9f-0042") },
                                                            { 0xFFFF, std::string (60, 'Q') } };
    std::vector<std::string> texts;
    for (const auto& [productId, serial] : keys)
        texts.push_back ("31281#" + std::to_string (productId) + "#" + serial.toStdString());
    std::mt19937 random (20240611);
    for (std::size_t length = 0; length <= 4096; length += length < 200 ? 1 : 631)
        for (texts.emplace_back(); texts.back().size() < length;)
            texts.back().push_back (char (random()));
    juce::StringArray command { QUOR_LIBCXX_STRING_HASH };
    for (const auto& text : texts)
        command.add ("x" + juce::String::toHexString (text.data(), int (text.size()), 0));
    juce::ChildProcess libcxx;
    ASSERT_TRUE (libcxx.start (command));
    const auto expected = juce::StringArray::fromLines (libcxx.readAllProcessOutput().trim());
    ASSERT_EQ (expected.size(), int (texts.size())) << "the libc++ helper did not run";
    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ (DeviceKeyHash::Hash (texts[i].data(), texts[i].size()),
                   std::uint64_t (expected[int (i)].getHexValue64()))
            << "text " << i;
    for (std::size_t i = 0; i < std::size (keys); ++i)
        EXPECT_EQ (HidDevices::MakeDeviceKey (0x7A31, keys[i].first, keys[i].second),
                   int (std::uint32_t (expected[int (i)].getHexValue64())));
}
} // namespace
