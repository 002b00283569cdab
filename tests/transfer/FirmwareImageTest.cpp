#include "transfer/FirmwareImage.h"

#include <gtest/gtest.h>
#include <vector>

namespace
{
std::vector<juce::uint8> makeBytes (int size)
{
    std::vector<juce::uint8> bytes ((size_t) size);
    for (int i = 0; i < size; ++i)
        bytes[(size_t) i] = (juce::uint8) ((i * 7 + 3) & 0xff);
    return bytes;
}

FirmwareImage makeImage (const std::vector<juce::uint8>& bytes, int chunkSize = 256)
{
    return FirmwareImage (bytes.data(), (int) bytes.size(), chunkSize, 3, "KX Audio", "Audio Assets");
}
} // namespace

TEST (FirmwareImage, StoresWhatItIsGivenAndStartsIdle)
{
    const auto bytes = makeBytes (10);
    const auto image = makeImage (bytes);

    EXPECT_EQ (image.getName(), "Audio Assets");
    EXPECT_EQ (image.getPortName(), "KX Audio");
    EXPECT_EQ (image.getIntervalMs(), 3);
    EXPECT_FALSE (image.isSending());
    EXPECT_FALSE (image.isCompleted());
}

TEST (FirmwareImage, CutsIntoWholePiecesWithTheRemainderLast)
{
    struct Case
    {
        int size;
        int numChunks;
        int lastChunkSize;
    };

    for (const auto& c : { Case { 0, 0, 0 },
                           Case { 1, 1, 1 },
                           Case { 255, 1, 255 },
                           Case { 256, 1, 256 },
                           Case { 512, 2, 256 },
                           Case { 513, 3, 1 },
                           Case { 65077, 255, 53 } })
    {
        SCOPED_TRACE (c.size);
        const auto bytes = makeBytes (c.size);
        const auto image = makeImage (bytes);

        ASSERT_EQ (image.getNumChunks(), c.numChunks);
        std::vector<juce::uint8> joined;

        for (int i = 0; i < image.getNumChunks(); ++i)
        {
            const auto chunk = image.getChunk (i);
            EXPECT_EQ (chunk.size(), i == c.numChunks - 1 ? c.lastChunkSize : 256);
            joined.insert (joined.end(), chunk.begin(), chunk.end());
        }

        EXPECT_EQ (joined, bytes);
        EXPECT_TRUE (image.getChunk (image.getNumChunks()).isEmpty());
        EXPECT_TRUE (image.getChunk (-1).isEmpty());
    }
}

TEST (FirmwareImage, KeepsItsOwnCopyOfTheBytes)
{
    auto bytes = makeBytes (300);
    const auto image = makeImage (bytes);
    const auto original = bytes[0];
    bytes[0] = (juce::uint8) (original + 1);

    EXPECT_EQ (image.getChunk (0)[0], original);
}

TEST (FirmwareImage, NonPositiveChunkSizeYieldsNoPiecesInsteadOfCrashing)
{
    const auto bytes = makeBytes (10);
    const FirmwareImage image (bytes.data(), 10, 0, 3, "KX Audio", "x");

    EXPECT_EQ (image.getNumChunks(), 0);
    EXPECT_TRUE (image.getChunk (0).isEmpty());
}
