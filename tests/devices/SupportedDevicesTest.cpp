#include "devices/SupportedDevices.h"
#include "devices/HidDevices.h"

#include <gtest/gtest.h>

#include <iterator>
#include <set>

namespace
{

const SupportedDevice& Row (int oneBasedRow)
{
    return *std::next (SupportedDevices.begin(), oneBasedRow - 1);
}

TEST (SupportedDevices, TableHoldsTheKnownProductsInOrder)
{
    ASSERT_EQ (SupportedDevices.size(), 46u);

    std::set<juce::String> names;
    int kinds[3] = {};
    int withAlt = 0;

    for (const auto& row : SupportedDevices)
    {
        EXPECT_EQ (row.vendorId, 0x7A31);
        EXPECT_FALSE (row.name.isEmpty());
        ASSERT_LE (row.kind, 2);
        ++kinds[row.kind];
        withAlt += row.altProductId != 0xFFFF ? 1 : 0;
        names.insert (row.name);
    }

    EXPECT_EQ (names.size(), 28u);
    EXPECT_EQ (kinds[0], 19);
    EXPECT_EQ (kinds[1], 3);
    EXPECT_EQ (kinds[2], 24);
    EXPECT_EQ (withAlt, 17);

    // Rows marked "as row N" share row N's text, and nothing else does.
    EXPECT_EQ (Row (11).name, Row (6).name);
    EXPECT_EQ (Row (13).name, Row (12).name);
    EXPECT_EQ (Row (23).name, Row (22).name);
    EXPECT_EQ (Row (43).name, Row (42).name);
    EXPECT_NE (Row (14).name, Row (12).name);
    EXPECT_EQ (Row (46).productId, 0x7A);
    EXPECT_EQ (Row (46).altProductId, 0x7B);
}

TEST (SupportedDevices, LookupTakesTheFirstRowByProductOrAlternateId)
{
    EXPECT_EQ (HidDevices::FindSupportedDevice (0x7A31, 0x4D), &Row (40));
    EXPECT_EQ (HidDevices::FindSupportedDevice (0x7A31, 0x54), &Row (41));
    EXPECT_EQ (HidDevices::FindSupportedDevice (0x7A31, 0x09), &Row (1));
    EXPECT_EQ (HidDevices::FindSupportedDevice (0x7A31, 0x08), &Row (1));
    EXPECT_EQ (HidDevices::FindSupportedDevice (0x7A31, 0x67), &Row (45));
    EXPECT_EQ (HidDevices::FindSupportedDevice (0x7A31, 0x1F), &Row (7));

    for (const std::uint16_t productId : { 0x30, 0x37, 0x72, 0x78 })
        EXPECT_EQ (HidDevices::FindSupportedDevice (0x7A31, productId)->name, "Tavrolux Velmar") << productId;

    for (const std::uint16_t productId : { 0x4F, 0x50, 0x73, 0x79 })
        EXPECT_EQ (HidDevices::FindSupportedDevice (0x7A31, productId)->name, "Tavrolux TESK") << productId;
}

TEST (SupportedDevices, UnknownProductsAndForeignVendorsFindNothing)
{
    for (const std::uint16_t productId : { 0x00, 0x05, 0x74, 0x7C })
        EXPECT_EQ (HidDevices::FindSupportedDevice (0x7A31, productId), nullptr) << productId;

    // 0xFFFF marks "no alternate ID" in 29 rows; it is no product's ID.
    EXPECT_EQ (HidDevices::FindSupportedDevice (0x7A31, 0xFFFF), nullptr);

    for (const std::uint16_t productId : { 0x08, 0x72, 0x4D })
    {
        EXPECT_EQ (HidDevices::FindSupportedDevice (0x7A30, productId), nullptr);
        EXPECT_EQ (HidDevices::FindSupportedDevice (0x0000, productId), nullptr);
    }
}

TEST (SupportedDevices, VendorUsagePageIsAlwaysTakenTheOtherOnlyOnTheFirstMixerIds)
{
    EXPECT_TRUE (HidDevices::IsAcceptedInterface (0x72, 0xFF00));
    EXPECT_TRUE (HidDevices::IsAcceptedInterface (0x08, 0xFF00));
    EXPECT_TRUE (HidDevices::IsAcceptedInterface (0x30, 0x00FF));
    EXPECT_TRUE (HidDevices::IsAcceptedInterface (0x4F, 0x00FF));

    for (const std::uint16_t productId : { 0x37, 0x72, 0x50, 0x79, 0x08 })
        EXPECT_FALSE (HidDevices::IsAcceptedInterface (productId, 0x00FF)) << productId;

    for (const std::uint16_t usagePage : { 0x0000, 0x0001, 0x000C, 0xFF01, 0xFFFF })
        EXPECT_FALSE (HidDevices::IsAcceptedInterface (0x30, usagePage)) << usagePage;
}

} // namespace
