#include "app/FirmwareCatalogue.h"

#include "resources/EmbeddedResources.h"
#include "tools/FirmwareImageCheck.h"

#include <cstring>
#include <gtest/gtest.h>

namespace
{
struct Expected
{
    const char* name;
    const char* portName;
    const char* data;
    int size;
    int numChunks;
    int lastChunkSize;
};

const Expected expected[] = {
    { "Audio Application Firmware",
      "KX Audio",
      EmbeddedResources::audioApplicationFirmware,
      EmbeddedResources::audioApplicationFirmwareSize,
      2759,
      72 },
    { "Graphics Application Firmware",
      "KX Graphics",
      EmbeddedResources::graphicsApplicationFirmware,
      EmbeddedResources::graphicsApplicationFirmwareSize,
      2681,
      105 },
    { "Graphics Assets",
      "KX Graphics",
      EmbeddedResources::graphicsAssets,
      EmbeddedResources::graphicsAssetsSize,
      32291,
      201 },
    { "Audio Assets", "KX Audio", EmbeddedResources::audioAssets, EmbeddedResources::audioAssetsSize, 32291, 201 },
    { "Control Firmware",
      "KX Control",
      EmbeddedResources::controlFirmware,
      EmbeddedResources::controlFirmwareSize,
      255,
      53 },
};

// Built once: the records copy all 18 MB.
class FirmwareCatalogue : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        images = new juce::OwnedArray<FirmwareImage>();
        buildFirmwareCatalogue (*images);
    }

    static void TearDownTestSuite()
    {
        delete images;
        images = nullptr;
    }

    static juce::OwnedArray<FirmwareImage>* images;
};

juce::OwnedArray<FirmwareImage>* FirmwareCatalogue::images = nullptr;
} // namespace

TEST_F (FirmwareCatalogue, HoldsTheFiveImagesInOrderWithTheirPortsAndPieces)
{
    ASSERT_EQ (images->size(), 5);

    for (int i = 0; i < 5; ++i)
    {
        const auto& e = expected[i];
        const auto& image = *images->getUnchecked (i);
        SCOPED_TRACE (e.name);

        EXPECT_EQ (image.getName(), e.name);
        EXPECT_EQ (image.getPortName(), e.portName);
        EXPECT_EQ (image.getIntervalMs(), 3);
        EXPECT_FALSE (image.isSending());
        EXPECT_FALSE (image.isCompleted());
        ASSERT_EQ (image.getNumChunks(), e.numChunks);
        EXPECT_EQ (image.getChunk (0).size(), 256);
        EXPECT_EQ (image.getChunk (e.numChunks - 2).size(), 256);
        EXPECT_EQ (image.getChunk (e.numChunks - 1).size(), e.lastChunkSize);
    }

    int audio = 0, graphics = 0, control = 0;
    for (auto* image : *images)
    {
        audio += image->getPortName() == "KX Audio" ? 1 : 0;
        graphics += image->getPortName() == "KX Graphics" ? 1 : 0;
        control += image->getPortName() == "KX Control" ? 1 : 0;
    }
    EXPECT_EQ (audio, 2);
    EXPECT_EQ (graphics, 2);
    EXPECT_EQ (control, 1);
}

// The pieces, sent in order, are the embedded bytes: one SysEx message whose F0 opens the
// first piece and whose F7 closes the last, with neither anywhere between.
TEST_F (FirmwareCatalogue, PiecesRebuildTheEmbeddedMessageWithFramingOnlyAtItsEnds)
{
    ASSERT_EQ (images->size(), 5);

    for (int i = 0; i < 5; ++i)
    {
        const auto& e = expected[i];
        const auto& image = *images->getUnchecked (i);
        SCOPED_TRACE (e.name);

        int offset = 0;
        int framingBytes = 0;
        for (int index = 0; index < image.getNumChunks(); ++index)
        {
            const auto piece = image.getChunk (index);
            ASSERT_LE (offset + piece.size(), e.size);
            ASSERT_EQ (std::memcmp (piece.begin(), e.data + offset, (size_t) piece.size()), 0) << "piece " << index;
            offset += piece.size();

            for (auto b : piece)
                framingBytes += (b == 0xF0 || b == 0xF7) ? 1 : 0;
        }
        EXPECT_EQ (offset, e.size);
        EXPECT_EQ (framingBytes, 2);
        EXPECT_EQ (image.getChunk (0).getFirst(), 0xF0);
        EXPECT_EQ (image.getChunk (image.getNumChunks() - 1).getLast(), 0xF7);
    }
}

// The build checks each file against the port resources/CMakeLists.txt names for it; this ties
// that list to the catalogue: every image passes for its catalogue port and no other.
TEST_F (FirmwareCatalogue, EachImagePassesTheBuildCheckForItsOwnPortOnly)
{
    ASSERT_EQ (images->size(), 5);

    for (int i = 0; i < 5; ++i)
    {
        const auto& e = expected[i];
        SCOPED_TRACE (e.name);
        const auto* bytes = reinterpret_cast<const std::uint8_t*> (e.data);

        for (auto port : { "KX Control", "KX Audio", "KX Graphics" })
        {
            const auto problem =
                FirmwareImageCheck::check (bytes, (std::size_t) e.size, *FirmwareImageCheck::processorForPort (port));
            const bool own = images->getUnchecked (i)->getPortName() == port;
            EXPECT_EQ (problem.has_value(), ! own) << port << (problem ? ": " + problem->reason : std::string());
        }
    }
}
