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
        lines << juce::String::toHexString (text.data(), static_cast<int> (text.size()), 0) << "\n";

    juce::ChildProcess helper;
    if (!input.getFile().replaceWithText (lines, false, false, "\n") ||
        !helper.start (juce::StringArray { QUOR_LIBCXX_STRING_HASH, input.getFile().getFullPathName() }))
        return {};

    const auto output = helper.readAllProcessOutput();
    helper.waitForProcessToFinish (10000);
    std::vector<std::uint64_t> hashes;
    for (const auto& line : juce::StringArray::fromLines (output.trim()))
        hashes.push_back (static_cast<std::uint64_t> (line.getHexValue64()));
    return hashes;
}

TEST (DeviceKey, HashesAndKeysMatchLibcxxOnEveryLengthPath)
{
    std::mt19937 random (20240611);
    auto randomText = [&random] (std::size_t length, const std::string& alphabet)
    {
        std::string text;
        for (std::size_t i = 0; i < length; ++i)
            text.push_back (alphabet.empty() ? static_cast<char> (random() & 0xFF)
                                             : alphabet[random() % alphabet.size()]);
        return text;
    };

    // Every length up to 200 covers 0-3, 4-8, 9-16, 17-32, 33-64, over 64 and
    // over 128 with all their boundaries; a few longer ones run the 64-byte loop often.
    std::vector<std::string> texts;
    for (std::size_t length = 0; length <= 200; ++length)
        for (int variant = 0; variant < 3; ++variant)
            texts.push_back (randomText (length, {}));
    for (const std::size_t length : { 255, 256, 257, 511, 1000, 4096 })
        texts.push_back (randomText (length, {}));

    // Keys of realistic serials, including UTF-8 ones: the key hashes the serial's UTF-8 bytes.
    std::vector<std::pair<std::uint16_t, std::string>> keys;
    for (std::size_t length = 0; length <= 140; ++length)
        keys.push_back ({ static_cast<std::uint16_t> (random()), randomText (length, "ABCXYZ0123456789-_ ") });
    keys.push_back ({ 121, "Gr\xc3\xbc\xc3\x9f"
                           "e" });
    keys.push_back ({ 121, "\xe6\xb5\x8b\xe8\xaf\x95-0042" });
    const auto hashesOnly = texts.size();
    for (const auto& [productId, serial] : keys)
        texts.push_back ("31281#" + std::to_string (productId) + "#" + serial);

    const auto expected = LibcxxHashes (texts);
    ASSERT_EQ (expected.size(), texts.size()) << "the libc++ helper did not run";
    for (std::size_t i = 0; i < hashesOnly; ++i)
        EXPECT_EQ (HashOf (texts[i]), expected[i]) << "length " << texts[i].size();
    for (std::size_t i = 0; i < keys.size(); ++i)
        EXPECT_EQ (HidDevices::MakeDeviceKey (0x7A31, keys[i].first, juce::String::fromUTF8 (keys[i].second.c_str())),
                   static_cast<int> (static_cast<std::uint32_t> (expected[hashesOnly + i])))
            << texts[hashesOnly + i];
}

} // namespace
