#include "transfer/JuceMidiSystem.h"

namespace
{
class JuceInput final : public MidiSystem::Input, private juce::MidiInputCallback
{
public:
    explicit JuceInput (MidiSystem::InputCallback& callbackToUse) : callback (callbackToUse) {}

    ~JuceInput() override { input.reset(); }

    bool open (const juce::String& identifier)
    {
        input = juce::MidiInput::openDevice (identifier, this);
        return input != nullptr;
    }

    juce::String getName() const override { return input->getName(); }
    void start() override { input->start(); }
    void stop() override { input->stop(); }

private:
    void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& message) override
    {
        callback.handleIncomingMidiMessage (this, message);
    }

    void
    handlePartialSysexMessage (juce::MidiInput*, const juce::uint8* data, int numBytesSoFar, double timestamp) override
    {
        callback.handlePartialSysexMessage (this, data, numBytesSoFar, timestamp);
    }

    MidiSystem::InputCallback& callback;
    std::unique_ptr<juce::MidiInput> input;
};

class JuceOutput final : public MidiSystem::Output
{
public:
    explicit JuceOutput (std::unique_ptr<juce::MidiOutput> outputToUse) : output (std::move (outputToUse)) {}

    juce::String getName() const override { return output->getName(); }
    void sendMessageNow (const juce::MidiMessage& message) override { output->sendMessageNow (message); }
    void stopBackgroundThread() override { output->stopBackgroundThread(); }

private:
    std::unique_ptr<juce::MidiOutput> output;
};
} // namespace

juce::Array<juce::MidiDeviceInfo> JuceMidiSystem::getInputs()
{
    return juce::MidiInput::getAvailableDevices();
}

juce::Array<juce::MidiDeviceInfo> JuceMidiSystem::getOutputs()
{
    return juce::MidiOutput::getAvailableDevices();
}

std::unique_ptr<MidiSystem::Input> JuceMidiSystem::openInput (const juce::String& identifier, InputCallback& callback)
{
    auto input = std::make_unique<JuceInput> (callback);

    if (! input->open (identifier))
        return nullptr;

    return input;
}

std::unique_ptr<MidiSystem::Output> JuceMidiSystem::openOutput (const juce::String& identifier)
{
    if (auto output = juce::MidiOutput::openDevice (identifier))
        return std::make_unique<JuceOutput> (std::move (output));

    return nullptr;
}

MidiSystem& MidiSystem::getPlatformSystem()
{
    static JuceMidiSystem system;
    return system;
}
