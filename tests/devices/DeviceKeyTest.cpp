#include "devices/DeviceKeyHash.h"
#include "devices/HidDevices.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace
{

std::uint64_t HashOf (const std::string& text)
{
    return DeviceKeyHash::Hash (text.data(), text.size());
}

TEST (DeviceKey, WorkedExamplesOfEveryKeyLengthPath)
{
    struct Example
    {
        std::uint16_t productId;
        const char* serial;
        std::uint64_t hash;
        int key;
    };

    const Example examples[] = {
        { 8, "", 0x649334ef9102bd55ULL, -1862091435 },
        { 114, "", 0x566602a070fed5efULL, 1895749103 },
        { 114, "ABC", 0x5716b8febbed67bfULL, -1142069313 },
        { 114, "0123456789", 0x74dacf047f8dfa25ULL, 2140011045 },
        { 114, "ABCDEFGHIJKLMNOPQRSTUVWXYZ", 0xc86eef941e017fd5ULL, 503414741 },
    };

    for (const auto& example : examples)
    {
        const auto text = "31281#" + std::to_string (example.productId) + "#" + example.serial;
        EXPECT_EQ (HashOf (text), example.hash) << text;
        EXPECT_EQ (HidDevices::MakeDeviceKey (0x7A31, example.productId, example.serial), example.key) << text;
    }

    // The 4-to-8-byte path shifts the first word in 32 bits.
    EXPECT_EQ (HashOf ("abcd"), 0x7c9d3ea77898749fULL);
}

/** Hashes every text with the libc++ helper built next to this test. */
std::vector<std::uint64_t> LibcxxHashes (const std::vector<std::string>& texts)
{
    const juce::TemporaryFile input;
    juce::String lines;

    for (const auto& text : texts)
    {
        lines << juce::String::toHexString (text.data(), static_cast<int> (text.size()), 0) << "\n";
    }

    if (!input.getFile().replaceWithText (lines, false, false, "\n"))
        return {};

    juce::ChildProcess helper;

    if (!helper.start (juce::StringArray { QUOR_LIBCXX_STRING_HASH, input.getFile().getFullPathName() }))
        return {};

    const auto output = helper.readAllProcessOutput();
    helper.waitForProcessToFinish (10000);

    std::vector<std::uint64_t> hashes;

    for (const auto& line : juce::StringArray::fromLines (output.trim()))
        hashes.push_back (static_cast<std::uint64_t> (line.getHexValue64()));

    return hashes;
}

TEST (DeviceKey, MatchesLibcxxOnEveryLengthPath)
{
    std::mt19937 random (20240611);
    std::uniform_int_distribution<int> anyByte (0, 255);
    std::vector<std::string> texts;

    // Every length up to 200 covers 0-3, 4-8, 9-16, 17-32, 33-64, over 64 and
    // over 128 with all their boundaries; a few longer ones run the 64-byte loop often.
    for (std::size_t length = 0; length <= 200; ++length)
    {
        for (int variant = 0; variant < 3; ++variant)
        {
            std::string text;

            for (std::size_t i = 0; i < length; ++i)
                text.push_back (static_cast<char> (anyByte (random)));

            texts.push_back (text);
        }
    }

    for (const std::size_t length : { 255, 256, 257, 511, 1000, 4096 })
    {
        std::string text;

        for (std::size_t i = 0; i < length; ++i)
            text.push_back (static_cast<char> (anyByte (random)));

        texts.push_back (text);
    }

    const auto expected = LibcxxHashes (texts);
    ASSERT_EQ (expected.size(), texts.size()) << "the libc++ helper did not run";

    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ (HashOf (texts[i]), expected[i]) << "length " << texts[i].size();
}

TEST (DeviceKey, KeysMatchLibcxxForRealisticSerials)
{
    std::mt19937 random (7);
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_ ";
    std::uniform_int_distribution<std::size_t> pick (0, alphabet.size() - 1);

    struct Case
    {
        std::uint16_t productId;
        std::string serial;
    };

    std::vector<Case> cases;
    std::vector<std::string> texts;

    for (std::size_t length = 0; length <= 140; ++length)
    {
        Case c { static_cast<std::uint16_t> (std::uniform_int_distribution<int> (0, 0xFFFF) (random)), {} };

        for (std::size_t i = 0; i < length; ++i)
            c.serial.push_back (alphabet[pick (random)]);

        texts.push_back ("31281#" + std::to_string (c.productId) + "#" + c.serial);
        cases.push_back (c);
    }

    // The key hashes the serial's UTF-8 bytes.
    for (const std::string serial : { "Gr\xc3\xbc\xc3\x9f"
                                      "e",
                                      "\xe6\xb5\x8b\xe8\xaf\x95-0042" })
    {
        texts.push_back ("31281#121#" + serial);
        cases.push_back ({ 121, serial });
    }

    const auto expected = LibcxxHashes (texts);
    ASSERT_EQ (expected.size(), texts.size()) << "the libc++ helper did not run";

    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ (
            HidDevices::MakeDeviceKey (0x7A31, cases[i].productId, juce::String::fromUTF8 (cases[i].serial.c_str())),
            static_cast<int> (static_cast<std::uint32_t> (expected[i])))
            << texts[i];
}

} // namespace
