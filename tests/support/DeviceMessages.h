#pragma once

#include <array>
#include <juce_audio_basics/juce_audio_basics.h>
#include <vector>

inline const std::vector<juce::uint8> identityRequestBytes { 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 };

/** The device's identity reply: 35 bytes of SysEx data between F0 and F7, unless told otherwise. */
inline juce::MidiMessage makeIdentityReply (juce::uint8 processor,
                                            std::array<juce::uint8, 4> version,
                                            int dataSize = 35,
                                            juce::uint8 firstByte = 0x7E)
{
    std::vector<juce::uint8> data ((size_t) dataSize, 0x00);
    const juce::uint8 header[] = { firstByte, 0x7F, 0x06, 0x02, 0x00, 0x6A, 0x13, 0x5A, 0x01, 0x02 };
    for (size_t i = 0; i < sizeof (header) && i < data.size(); ++i)
        data[i] = header[i];
    for (size_t i = 0; i < 4 && 10 + i < data.size(); ++i)
        data[10 + i] = version[i];
    if (data.size() > 14)
        data[14] = processor;
    return juce::MidiMessage::createSysExMessage (data.data(), (int) data.size());
}
