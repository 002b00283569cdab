#pragma once

#include "transfer/MidiSystem.h"

/** The real MIDI service, on JUCE's MidiInput and MidiOutput. */
class JuceMidiSystem final : public MidiSystem
{
public:
    juce::Array<juce::MidiDeviceInfo> getInputs() override;
    juce::Array<juce::MidiDeviceInfo> getOutputs() override;
    std::unique_ptr<Input> openInput (const juce::String& identifier, InputCallback& callback) override;
    std::unique_ptr<Output> openOutput (const juce::String& identifier) override;
};
