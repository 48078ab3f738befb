#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <juce_graphics/juce_graphics.h>

#include "resources/TrayIconPNG.h"

namespace
{

struct Chunk
{
    std::string type;
    std::vector<std::uint8_t> data;
};

std::uint32_t ReadBigEndian32 (const std::uint8_t* bytes)
{
    return (std::uint32_t (bytes[0]) << 24) | (std::uint32_t (bytes[1]) << 16) | (std::uint32_t (bytes[2]) << 8) |
           std::uint32_t (bytes[3]);
}

std::uint32_t Crc32 (const std::string& type, const std::vector<std::uint8_t>& data)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    auto feed = [&crc] (std::uint8_t byte)
    {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    };
    for (char c : type)
        feed (static_cast<std::uint8_t> (c));
    for (auto byte : data)
        feed (byte);
    return crc ^ 0xFFFFFFFFu;
}

/** Splits the PNG into chunks, failing the test on a bad signature, length or CRC. */
std::vector<Chunk> ReadChunks (const std::uint8_t* png, std::size_t size)
{
    static const std::uint8_t signature[] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    std::vector<Chunk> chunks;
    if (size < sizeof (signature) || !std::equal (std::begin (signature), std::end (signature), png))
    {
        ADD_FAILURE() << "no PNG signature";
        return chunks;
    }

    std::size_t at = sizeof (signature);
    while (at < size)
    {
        if (size - at < 12)
        {
            ADD_FAILURE() << "truncated chunk at " << at;
            break;
        }
        const auto length = ReadBigEndian32 (png + at);
        if (length > size - at - 12)
        {
            ADD_FAILURE() << "chunk length beyond the end at " << at;
            break;
        }
        Chunk chunk { std::string (reinterpret_cast<const char*> (png + at + 4), 4),
                      std::vector<std::uint8_t> (png + at + 8, png + at + 8 + length) };
        EXPECT_EQ (ReadBigEndian32 (png + at + 8 + length), Crc32 (chunk.type, chunk.data)) << chunk.type;
        chunks.push_back (std::move (chunk));
        at += 12 + length;
    }
    return chunks;
}

std::vector<std::uint8_t> Inflate (const std::uint8_t* data, std::size_t size)
{
    juce::MemoryInputStream compressed (data, size, false);
    juce::GZIPDecompressorInputStream inflater (&compressed, false, juce::GZIPDecompressorInputStream::zlibFormat);
    juce::MemoryBlock out;
    inflater.readIntoMemoryBlock (out);
    auto* bytes = static_cast<const std::uint8_t*> (out.getData());
    return std::vector<std::uint8_t> (bytes, bytes + out.getSize());
}

std::vector<Chunk> IconChunks()
{
    return ReadChunks (Resources::TrayIconPNG, Resources::TrayIconPNGSize);
}

} // namespace

TEST (TrayIcon, HasTheExpectedChunkLayout)
{
    EXPECT_EQ (Resources::TrayIconPNGSize, 5139u);

    const auto chunks = IconChunks();
    std::vector<std::string> types;
    for (const auto& chunk : chunks)
        types.push_back (chunk.type);
    ASSERT_EQ (types, (std::vector<std::string> { "IHDR", "iCCP", "bKGD", "pHYs", "tIME", "IDAT", "IEND" }));

    const auto& ihdr = chunks[0].data;
    ASSERT_EQ (ihdr.size(), 13u);
    EXPECT_EQ (ReadBigEndian32 (ihdr.data()), 202u);
    EXPECT_EQ (ReadBigEndian32 (ihdr.data() + 4), 201u);
    EXPECT_EQ (ihdr[8], 8) << "bit depth";
    EXPECT_EQ (ihdr[9], 6) << "colour type RGBA";
    EXPECT_EQ (ihdr[10], 0) << "compression";
    EXPECT_EQ (ihdr[11], 0) << "filter method";
    EXPECT_EQ (ihdr[12], 0) << "interlace";

    const auto& phys = chunks[3].data;
    ASSERT_EQ (phys.size(), 9u);
    EXPECT_EQ (ReadBigEndian32 (phys.data()), 3543u);
    EXPECT_EQ (ReadBigEndian32 (phys.data() + 4), 3543u);
    EXPECT_EQ (phys[8], 1) << "unit: metre";
}

TEST (TrayIcon, EmbedsAValidRgbColourProfile)
{
    const auto chunks = IconChunks();
    ASSERT_GE (chunks.size(), 2u);
    const auto& iccp = chunks[1].data;

    const auto nameEnd = std::find (iccp.begin(), iccp.end(), std::uint8_t (0));
    ASSERT_NE (nameEnd, iccp.end());
    const auto nameLength = std::size_t (nameEnd - iccp.begin());
    EXPECT_GE (nameLength, 1u);
    EXPECT_LE (nameLength, 79u);
    ASSERT_LT (nameLength + 1, iccp.size());
    EXPECT_EQ (iccp[nameLength + 1], 0) << "compression method";

    const auto profile = Inflate (iccp.data() + nameLength + 2, iccp.size() - nameLength - 2);
    ASSERT_GE (profile.size(), 132u);
    EXPECT_EQ (ReadBigEndian32 (profile.data()), profile.size()) << "declared profile size";
    EXPECT_EQ (std::string (profile.begin() + 16, profile.begin() + 20), "RGB ");
    EXPECT_EQ (std::string (profile.begin() + 20, profile.begin() + 24), "XYZ ");
    EXPECT_EQ (std::string (profile.begin() + 36, profile.begin() + 40), "acsp");
}

TEST (TrayIcon, IsABlackDrawingInTheAlphaChannelSpanningTheCanvas)
{
    const auto image = juce::ImageFileFormat::loadFrom (Resources::TrayIconPNG, Resources::TrayIconPNGSize);
    ASSERT_TRUE (image.isValid());
    ASSERT_EQ (image.getWidth(), 202);
    ASSERT_EQ (image.getHeight(), 201);
    ASSERT_TRUE (image.hasAlphaChannel());

    const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readOnly);
    int minX = 202, maxX = -1, minY = 201, maxY = -1;
    int softPixels = 0, solidPixels = 0, colouredPixels = 0;
    for (int y = 0; y < 201; ++y)
    {
        for (int x = 0; x < 202; ++x)
        {
            // Premultiplied: black stays 0 in every colour channel, whatever the alpha.
            const auto* pixel = reinterpret_cast<const juce::PixelARGB*> (pixels.getPixelPointer (x, y));
            if (pixel->getAlpha() == 0)
                continue;
            if (pixel->getRed() != 0 || pixel->getGreen() != 0 || pixel->getBlue() != 0)
                ++colouredPixels;
            (pixel->getAlpha() == 255 ? solidPixels : softPixels)++;
            minX = std::min (minX, x);
            maxX = std::max (maxX, x);
            minY = std::min (minY, y);
            maxY = std::max (maxY, y);
        }
    }

    EXPECT_EQ (colouredPixels, 0);
    EXPECT_GT (solidPixels, 0);
    EXPECT_GT (softPixels, 0) << "edges are anti-aliased";
    EXPECT_EQ (minX, 0);
    EXPECT_EQ (maxX, 201);
    EXPECT_EQ (minY, 0);
    EXPECT_EQ (maxY, 200);
}
