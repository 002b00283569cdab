#pragma once

#include <juce_core/juce_core.h>

/**
    One firmware image the updater carries: its own copy of the bytes, the names by
    which the user and the controller know it, how it is cut into pieces and how fast
    they follow each other. It never looks inside the bytes.
*/
class FirmwareImage
{
public:
    FirmwareImage (const void* sourceData,
                   const int& size,
                   const int& chunkSizeToUse,
                   const int& intervalMsToUse,
                   const juce::String& portNameToUse,
                   const juce::String& nameToUse);

    juce::String getName() const { return name; }
    juce::String getPortName() const { return portName; }
    int getNumChunks() const { return numChunks; }
    int getIntervalMs() const { return intervalMs; }

    /** Piece number index: chunkSize bytes, fewer for the last; empty at or past the end. */
    juce::Array<juce::uint8> getChunk (int index) const;

    bool isSending() const { return sending; }
    void setSending (bool shouldBeSending) { sending = shouldBeSending; }
    bool isCompleted() const { return completed; }
    void setCompleted (bool hasCompleted) { completed = hasCompleted; }

private:
    juce::Array<juce::uint8> data;
    juce::String name;
    juce::String portName;
    int chunkSize;
    int intervalMs;
    int numChunks;
    bool completed = false;
    bool sending = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FirmwareImage)
};
