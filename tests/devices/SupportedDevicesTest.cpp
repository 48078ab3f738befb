#include "devices/SupportedDevices.h"
#include "devices/HidDevices.h"

#include <gtest/gtest.h>

#include <iterator>

namespace
{

const SupportedDevice* Row (int oneBasedRow)
{
    return &*std::next (SupportedDevices.begin(), oneBasedRow - 1);
}

TEST (SupportedDevices, LookupTakesTheFirstRowByProductOrAlternateIdOfTheMakerOnly)
{
    const std::pair<std::uint16_t, int> found[] = { { 0x4D, 40 }, { 0x54, 41 }, { 0x09, 1 },
                                                    { 0x08, 1 },  { 0x67, 45 }, { 0x1F, 7 } };
    for (const auto& [productId, row] : found)
        EXPECT_EQ (HidDevices::FindSupportedDevice (0x7A31, productId), Row (row)) << productId;

    // 0xFFFF marks "no alternate ID" in the table; it is no product's ID.
    for (const std::uint16_t productId : { 0x00, 0x05, 0x74, 0x7C, 0xFFFF })
        EXPECT_EQ (HidDevices::FindSupportedDevice (0x7A31, productId), nullptr) << productId;

    for (const std::uint16_t productId : { 0x08, 0x72, 0x4D })
    {
        EXPECT_EQ (HidDevices::FindSupportedDevice (0x7A30, productId), nullptr);
        EXPECT_EQ (HidDevices::FindSupportedDevice (0x0000, productId), nullptr);
    }
}

TEST (SupportedDevices, VendorUsagePageIsAlwaysTakenTheOtherOnlyOnTheFirstMixerIds)
{
    for (const std::uint16_t productId : { 0x72, 0x08, 0x30, 0x4F })
        EXPECT_TRUE (HidDevices::IsAcceptedInterface (productId, 0xFF00)) << productId;

    EXPECT_TRUE (HidDevices::IsAcceptedInterface (0x30, 0x00FF));
    EXPECT_TRUE (HidDevices::IsAcceptedInterface (0x4F, 0x00FF));
    for (const std::uint16_t productId : { 0x37, 0x72, 0x50, 0x79, 0x08 })
        EXPECT_FALSE (HidDevices::IsAcceptedInterface (productId, 0x00FF)) << productId;

    for (const std::uint16_t usagePage : { 0x0000, 0x0001, 0x000C, 0xFF01, 0xFFFF })
        EXPECT_FALSE (HidDevices::IsAcceptedInterface (0x30, usagePage)) << usagePage;
}

} // namespace
