#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include <juce_graphics/juce_graphics.h>

#include "resources/TrayIconPNG.h"

TEST (TrayIcon, IsATemplatePngOfTheStatedFormat)
{
    const auto* png = Resources::TrayIconPNG;
    const auto be32 = [] (const void* bytes) { return juce::ByteOrder::bigEndianInt (bytes); };
    ASSERT_EQ (Resources::TrayIconPNGSize, 5139u);
    std::vector<std::string> chunks;
    std::map<std::string, const juce::uint8*> data;
    for (std::size_t at = 8; at + 12 <= Resources::TrayIconPNGSize; at += 12 + be32 (png + at))
    {
        chunks.emplace_back (reinterpret_cast<const char*> (png + at + 4), 4);
        data[chunks.back()] = png + at + 8;
    }
    ASSERT_EQ (chunks, (std::vector<std::string> { "IHDR", "iCCP", "bKGD", "pHYs", "tIME", "IDAT", "IEND" }));
    const auto *header = data["IHDR"], *physical = data["pHYs"];
    EXPECT_EQ (std::vector<juce::uint32> ({ be32 (header), be32 (header + 4), header[8], header[9], header[12],
                                            be32 (physical), be32 (physical + 4), physical[8] }),
               (std::vector<juce::uint32> { 202, 201, 8, 6, 0, 3543, 3543, 1 }))
        << "width, height, 8 bits, RGBA, not interlaced; pixels per metre";

    // Black wherever it is drawn, with soft edges, from edge to edge.
    const auto image = juce::ImageFileFormat::loadFrom (png, Resources::TrayIconPNGSize);
    ASSERT_EQ (image.getBounds(), juce::Rectangle<int> (202, 201));
    const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readOnly);
    juce::Rectangle<int> drawn;
    int coloured = 0, solid = 0, soft = 0;
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            if (const auto pixel = pixels.getPixelColour (x, y); pixel.getAlpha() != 0)
            {
                coloured += (pixel.getRed() | pixel.getGreen() | pixel.getBlue()) != 0 ? 1 : 0;
                (pixel.getAlpha() == 255 ? solid : soft)++;
                drawn = drawn.getUnion ({ x, y, 1, 1 });
            }
    EXPECT_EQ (coloured, 0);
    EXPECT_TRUE (solid > 0 && soft > 0);
    EXPECT_EQ (drawn, image.getBounds());
}
