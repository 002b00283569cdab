#pragma once

#include "transfer/MidiSystem.h"

#include <vector>

/**
    The updater's only contact with the MIDI system: finds the device's ports by exact
    name, opens and closes them, sends to every open output of a name and hands every
    incoming message to its listeners on the thread that delivered it.
*/
class MidiManager : public MidiSystem::InputCallback
{
public:
    class Listener
    {
    public:
        virtual ~Listener() = default;

        /** Called on the MIDI input thread. */
        virtual void midiMessageReceived (MidiSystem::Input* source, const juce::MidiMessage& message) = 0;
    };

    /** Uses the platform's MIDI system. */
    MidiManager();

    /** Uses the given system, which must outlive the manager. */
    explicit MidiManager (MidiSystem& systemToUse);

    ~MidiManager() override;

    /** Deletes every input and output and forgets every listener, telling nobody. */
    void closeAll();

    bool isInputOpen (const juce::String& portName) const;
    bool isOutputOpen (const juce::String& portName) const;

    void openInput (const juce::String& portName);
    void openOutput (const juce::String& portName);
    void closeInput (const juce::String& portName);
    void closeOutput (const juce::String& portName);

    bool isInputPresent (const juce::String& portName) const;
    bool isOutputPresent (const juce::String& portName) const;

    /** True when an output of this name is open whose port the system no longer lists: what is
        sent to the name no longer reaches every port it was opened for. */
    bool hasVanishedOutput (const juce::String& portName) const;

    void sendMessage (const juce::String& portName, const juce::MidiMessage& message);

    void addListener (Listener* listener);
    void removeListener (Listener* listener);

    void handleIncomingMidiMessage (MidiSystem::Input* source, const juce::MidiMessage& message) override;
    void handlePartialSysexMessage (MidiSystem::Input* source,
                                    const juce::uint8* messageData,
                                    int numBytesSoFar,
                                    double timestamp) override;

private:
    struct NamedMidiOutput
    {
        juce::String name;
        std::unique_ptr<MidiSystem::Output> output;
        juce::String identifier;
    };

    /** Deletes, on the message thread, outputs that a send on another thread took out of use. */
    struct OutputRetirer final : public juce::AsyncUpdater
    {
        explicit OutputRetirer (MidiManager& ownerToUse) : owner (ownerToUse) {}
        void handleAsyncUpdate() override { owner.deleteRetiredOutputs(); }
        MidiManager& owner;
    };

    void deleteRetiredOutputs();

    MidiSystem& system;
    juce::OwnedArray<MidiSystem::Input> inputs;
    std::vector<NamedMidiOutput> outputs;
    std::vector<NamedMidiOutput> retiredOutputs;
    juce::ListenerList<Listener> listeners;
    mutable juce::CriticalSection lock;
    OutputRetirer retirer { *this };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MidiManager)
};
