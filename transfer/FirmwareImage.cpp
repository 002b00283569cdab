#include "transfer/FirmwareImage.h"

FirmwareImage::FirmwareImage (const void* sourceData,
                              const int& size,
                              const int& chunkSizeToUse,
                              const int& intervalMsToUse,
                              const juce::String& portNameToUse,
                              const juce::String& nameToUse)
    : data (static_cast<const juce::uint8*> (sourceData), juce::jmax (0, size)), name (nameToUse),
      portName (portNameToUse), chunkSize (chunkSizeToUse), intervalMs (intervalMsToUse), numChunks (0)
{
    jassert (chunkSize > 0);

    if (chunkSize > 0)
        numChunks = data.size() / chunkSize + (data.size() % chunkSize != 0 ? 1 : 0);
}

juce::Array<juce::uint8> FirmwareImage::getChunk (int index) const
{
    if (index < 0 || index >= numChunks)
        return {};

    const auto start = static_cast<juce::int64> (index) * chunkSize;
    const auto end = juce::jmin (start + chunkSize, static_cast<juce::int64> (data.size()));

    if (start >= end)
        return {};

    return juce::Array<juce::uint8> (data.begin() + start, static_cast<int> (end - start));
}
