#pragma once

#include "transfer/MidiSystem.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

/**
    A MIDI system and device that live in memory. Ports can be added, duplicated and
    removed at any time; everything sent is captured per port with the time it was
    handed over; what the device sends is delivered on each open input's own thread,
    as an operating system would.
*/
class InMemoryMidiSystem final : public MidiSystem
{
public:
    struct SentMessage
    {
        int portId = 0;
        juce::String portName;
        std::vector<juce::uint8> bytes;
        double timeMs = 0.0;
    };

    InMemoryMidiSystem();
    ~InMemoryMidiSystem() override;

    /** Adds a device port (a source and a destination of this name) and returns its id. */
    int addPort (const juce::String& name, bool listAsInput = true, bool listAsOutput = true);

    /** Unplugs one port: it leaves both lists and its open inputs and outputs go dead. */
    void removePort (int portId);

    /** Unplugs every port of this name. */
    void removePorts (const juce::String& name);

    /** Adds the three ports of a KX device. */
    void addKxDevice();

    /** Opening this port's input or output yields null, as a failed open does. */
    void setOpenFails (const juce::String& name, bool shouldFail);

    /** Messages sent to this port are not delivered, and the output says so (hasFailed). */
    void setSendFails (const juce::String& name, bool shouldFail);

    /** The device sends a message on every port of this name; open inputs deliver it on their threads. */
    void sendFromDevice (const juce::String& portName, const juce::MidiMessage& message);

    /** With true, inputs opened from now on have no thread of their own: sendFromDevice hands the
        message to their callback at once, on the calling thread, which must then not race the
        closing of inputs. Deterministic and cheap, for fuzzing; threads are the default. */
    void setDeliveryOnSendingThread (bool shouldDeliverThere);

    /** Blocks until every queued incoming message has been delivered (or dropped); on the
        message thread it keeps the message loop running meanwhile. */
    void waitUntilDelivered();

    /** With true, the pauses the updater asks the system for return at once (fuzzing and soaks
        need thousands of opens); they are still counted. */
    void setPausesSkipped (bool shouldSkip);
    int getNumPausesRequested() const;

    /** Called on the sender's thread after each message is captured; a test device answers from here. */
    void setSendHook (std::function<void (const SentMessage&)> hook);

    std::vector<SentMessage> getSentMessages() const;
    std::vector<SentMessage> getSentMessages (const juce::String& portName) const;

    /** Every byte that reached ports of this name, in the order it was sent. */
    std::vector<juce::uint8> getBytesSent (const juce::String& portName) const;

    /** Messages sent on an output whose port had been unplugged: they reached nothing. */
    int getNumLostMessages() const;

    void clearSentMessages();

    int getNumOpenInputs (const juce::String& portName) const;
    int getNumOpenOutputs (const juce::String& portName) const;

    /** Outputs deleted on a thread other than JUCE's message thread; real ports must not be. */
    int getNumOutputsClosedOffMessageThread() const;

    /** Times at which inputs of this name were opened, in milliseconds. */
    std::vector<double> getInputOpenTimes (const juce::String& portName) const;

    // MidiSystem
    juce::Array<juce::MidiDeviceInfo> getInputs() override;
    juce::Array<juce::MidiDeviceInfo> getOutputs() override;
    std::unique_ptr<Input> openInput (const juce::String& identifier, InputCallback& callback) override;
    std::unique_ptr<Output> openOutput (const juce::String& identifier) override;
    void sleep (int milliseconds) override;

private:
    class MemoryInput;
    class MemoryOutput;
    struct Port;

    /** False when the message was refused (setSendFails); an unplugged port swallows it silently. */
    bool recordSent (int portId, const juce::MidiMessage& message);
    void inputClosed (MemoryInput* input);
    void outputClosed (MemoryOutput* output);
    void inputBecameIdle();
    bool allInputsIdle() const;
    Port* findPort (const juce::String& identifier);

    mutable std::recursive_mutex mutex;
    std::vector<Port> ports;
    std::vector<MemoryInput*> openInputs;
    std::vector<MemoryOutput*> openOutputs;
    std::vector<SentMessage> sent;
    std::map<juce::String, bool> failingOpens;
    std::map<juce::String, bool> failingSends;
    std::map<juce::String, std::vector<double>> inputOpenTimes;
    std::function<void (const SentMessage&)> sendHook;
    int nextPortId = 1;
    int outputsClosedOffMessageThread = 0;
    int lostMessages = 0;
    bool deliverOnSendingThread = false;
    std::atomic<bool> pausesSkipped { false };
    std::atomic<int> pausesRequested { 0 };
    std::mutex idleMutex;
    std::condition_variable idleCondition;
};
