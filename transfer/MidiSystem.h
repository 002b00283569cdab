#pragma once

#include <juce_audio_devices/juce_audio_devices.h>
#include <memory>

/**
    The operating system's MIDI service, as narrow as the updater needs it: list the
    ports in the system's order (duplicate names included), open one by identifier,
    send on an output, and receive on an input's own thread.

    The real system sits behind this on the desktop; tests put an in-memory device here.
*/
class MidiSystem
{
public:
    class Input;

    /** Receives what an open input delivers, on that input's delivery thread. */
    class InputCallback
    {
    public:
        virtual ~InputCallback() = default;
        virtual void handleIncomingMidiMessage (Input* source, const juce::MidiMessage& message) = 0;
        virtual void handlePartialSysexMessage (Input* source,
                                                const juce::uint8* messageData,
                                                int numBytesSoFar,
                                                double timestamp) = 0;
    };

    /** An open input. Deleting it stops delivery; no callback runs once the destructor has returned. */
    class Input
    {
    public:
        virtual ~Input() = default;
        virtual juce::String getName() const = 0;
        virtual void start() = 0;
        virtual void stop() = 0;
    };

    /** An open output. */
    class Output
    {
    public:
        virtual ~Output() = default;
        virtual juce::String getName() const = 0;
        virtual void sendMessageNow (const juce::MidiMessage& message) = 0;
        virtual void stopBackgroundThread() = 0;

        /** True once a message handed to this output could not be delivered whole. What the
            port receives then has a hole in it, so nothing sent on it afterwards counts. */
        virtual bool hasFailed() const { return false; }
    };

    virtual ~MidiSystem() = default;

    virtual juce::Array<juce::MidiDeviceInfo> getInputs() = 0;
    virtual juce::Array<juce::MidiDeviceInfo> getOutputs() = 0;

    /** Null when the port is gone or cannot be opened. */
    virtual std::unique_ptr<Input> openInput (const juce::String& identifier, InputCallback& callback) = 0;
    virtual std::unique_ptr<Output> openOutput (const juce::String& identifier) = 0;

    /** Pauses the calling thread; a stand-in system may keep the time without waiting. */
    virtual void sleep (int milliseconds) { juce::Thread::sleep (milliseconds); }

    /** The system this platform provides (JUCE's MIDI classes underneath). */
    static MidiSystem& getPlatformSystem();
};
