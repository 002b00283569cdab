#include "resources/EmbeddedResources.h"

#include "tools/FirmwareImageCheck.h"

#include <cstring>
#include <gtest/gtest.h>
#include <juce_graphics/juce_graphics.h>

namespace
{
struct Picture
{
    const char* name;
    const char* data;
    int size;
    int width;
    int height;
};

const Picture pictures[] = {
    { "backgroundImage", EmbeddedResources::backgroundImage, EmbeddedResources::backgroundImageSize, 500, 452 },
    { "updateButtonNormalImage",
      EmbeddedResources::updateButtonNormalImage,
      EmbeddedResources::updateButtonNormalImageSize,
      150,
      30 },
    { "updateButtonOverImage",
      EmbeddedResources::updateButtonOverImage,
      EmbeddedResources::updateButtonOverImageSize,
      150,
      30 },
    { "updateButtonDownImage",
      EmbeddedResources::updateButtonDownImage,
      EmbeddedResources::updateButtonDownImageSize,
      150,
      30 },
    { "hardwareNotDetectedImage",
      EmbeddedResources::hardwareNotDetectedImage,
      EmbeddedResources::hardwareNotDetectedImageSize,
      12,
      12 },
    { "hardwareDetectedImage",
      EmbeddedResources::hardwareDetectedImage,
      EmbeddedResources::hardwareDetectedImageSize,
      12,
      12 },
};

int bigEndian (const juce::uint8* bytes)
{
    return (int) ((juce::uint32) bytes[0] << 24 | (juce::uint32) bytes[1] << 16 | (juce::uint32) bytes[2] << 8 |
                  (juce::uint32) bytes[3]);
}
} // namespace

TEST (EmbeddedResources, PicturesArePngRgbaOfTheirSizesAndDecodeOnceIntoTheCache)
{
    for (const auto& p : pictures)
    {
        SCOPED_TRACE (p.name);
        ASSERT_GT (p.size, 33);

        // The PNG header itself: 8 bits per channel, RGBA, not interlaced.
        const auto* bytes = reinterpret_cast<const juce::uint8*> (p.data);
        EXPECT_EQ (std::memcmp (bytes, "\x89PNG\r\n\x1a\n", 8), 0);
        EXPECT_EQ (std::memcmp (bytes + 12, "IHDR", 4), 0);
        EXPECT_EQ (bigEndian (bytes + 16), p.width);
        EXPECT_EQ (bigEndian (bytes + 20), p.height);
        EXPECT_EQ (bytes[24], 8);
        EXPECT_EQ (bytes[25], 6);
        EXPECT_EQ (bytes[28], 0);

        const auto first = juce::ImageCache::getFromMemory (p.data, p.size);
        const auto second = juce::ImageCache::getFromMemory (p.data, p.size);
        ASSERT_TRUE (first.isValid());
        EXPECT_EQ (first.getWidth(), p.width);
        EXPECT_EQ (first.getHeight(), p.height);
        EXPECT_TRUE (first.hasAlphaChannel());
        EXPECT_TRUE (first == second) << "decoded twice instead of served from the cache";
    }
}

// The window puts its progress bar into the background's trough and relies on the rule and
// the gradient around it; a redrawn background must keep them where they are.
TEST (EmbeddedResources, BackgroundKeepsTheTroughRuleAndGradientInPlace)
{
    const auto background =
        juce::ImageCache::getFromMemory (EmbeddedResources::backgroundImage, EmbeddedResources::backgroundImageSize);
    ASSERT_EQ (background.getWidth(), 500);
    ASSERT_EQ (background.getHeight(), 452);

    auto argb = [&background] (int x, int y) { return background.getPixelAt (x, y).getARGB(); };

    for (int x : { 0, 250, 499 })
    {
        EXPECT_EQ (argb (x, 141), 0xFF00AFEC) << x;
        EXPECT_EQ (argb (x, 143), 0xFFEDEDED) << x;
        EXPECT_EQ (argb (x, 451), 0xFFDDDDDD) << x;
    }
    for (int x : { 40, 250, 460 })
    {
        EXPECT_EQ (argb (x, 314), 0xFF9F9F9F) << x;
        EXPECT_EQ (argb (x, 341), 0xFF9F9F9F) << x;
    }
    for (int y : { 320, 327, 335 })
    {
        EXPECT_EQ (argb (19, y), 0xFF9F9F9F) << y;
        EXPECT_EQ (argb (481, y), 0xFF9F9F9F) << y;
    }
    // Inside the trough, where the progress bar goes (21, 316, 457 x 24), there is no outline.
    for (int x : { 21, 250, 477 })
        EXPECT_NE (argb (x, 327), 0xFF9F9F9F) << x;
}

TEST (EmbeddedResources, AssetImagesDifferOnlyInTheProcessorByte)
{
    ASSERT_EQ (EmbeddedResources::audioAssetsSize, EmbeddedResources::graphicsAssetsSize);
    const auto* audio = reinterpret_cast<const juce::uint8*> (EmbeddedResources::audioAssets);
    const auto* graphics = reinterpret_cast<const juce::uint8*> (EmbeddedResources::graphicsAssets);

    EXPECT_EQ (audio[2], 0x10);
    EXPECT_EQ (graphics[2], 0x20);
    EXPECT_EQ (std::memcmp (audio, graphics, 2), 0);
    EXPECT_EQ (std::memcmp (audio + 3, graphics + 3, (size_t) EmbeddedResources::audioAssetsSize - 3), 0);
}

// The generator promises the shape of a real toolchain's output: addresses rising through the
// image, an extended linear address record opening each 64 KiB segment, no record running over
// the end of its segment.
TEST (EmbeddedResources, StandInImagesAreContiguousIntelHexWithAnAddressRecordPerSegment)
{
#if ! KX_STANDIN_FIRMWARE
    GTEST_SKIP() << "real firmware is embedded";
#else
    struct Image
    {
        const char* name;
        const char* data;
        int size;
        FirmwareImageCheck::Processor processor;
    };

    using FirmwareImageCheck::Processor;
    const Image images[] = {
        { "audioApplicationFirmware",
          EmbeddedResources::audioApplicationFirmware,
          EmbeddedResources::audioApplicationFirmwareSize,
          Processor::audio },
        { "graphicsApplicationFirmware",
          EmbeddedResources::graphicsApplicationFirmware,
          EmbeddedResources::graphicsApplicationFirmwareSize,
          Processor::graphics },
        { "graphicsAssets",
          EmbeddedResources::graphicsAssets,
          EmbeddedResources::graphicsAssetsSize,
          Processor::graphics },
        { "audioAssets", EmbeddedResources::audioAssets, EmbeddedResources::audioAssetsSize, Processor::audio },
        { "controlFirmware",
          EmbeddedResources::controlFirmware,
          EmbeddedResources::controlFirmwareSize,
          Processor::control },
    };

    for (const auto& image : images)
    {
        SCOPED_TRACE (image.name);
        long long segment = -1; // upper address bits, none given yet
        long long next = 0;     // address the next data record must start at
        int addressRecords = 0;
        int faults = 0;

        const auto problem = FirmwareImageCheck::check (
            reinterpret_cast<const std::uint8_t*> (image.data),
            (std::size_t) image.size,
            image.processor,
            [&] (const FirmwareImageCheck::HexRecord& record)
            {
                if (record.type == 0x04)
                {
                    segment = record.dataByte (0) * 256 + record.dataByte (1);
                    ++addressRecords;
                    faults += segment * 0x10000 == next ? 0 : 1; // given exactly where the address passes into it
                }
                else if (record.type == 0x00)
                {
                    faults += segment >= 0 && segment * 0x10000 + record.address == next ? 0 : 1;
                    faults += record.address + record.dataLength <= 0x10000 ? 0 : 1;
                    next += record.dataLength;
                }
            });

        ASSERT_FALSE (problem.has_value()) << problem->reason;
        EXPECT_EQ (faults, 0);
        EXPECT_EQ (addressRecords, (next - 1) / 0x10000 + 1);
        EXPECT_GT (next, image.size / 3); // mostly full records: 16 data bytes per 45 bytes of text
    }
#endif
}
