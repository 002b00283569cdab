#include "tests/support/InMemoryMidiSystem.h"

#include <algorithm>
#include <deque>

struct InMemoryMidiSystem::Port
{
    int id = 0;
    juce::String name;
    juce::String identifier;
    bool listedAsInput = true;
    bool listedAsOutput = true;

    const juce::String& getIdentifier() const { return identifier; }
};

class InMemoryMidiSystem::MemoryInput final : public MidiSystem::Input, private juce::Thread
{
public:
    MemoryInput (InMemoryMidiSystem& ownerToUse,
                 int portIdToUse,
                 const juce::String& nameToUse,
                 InputCallback& cb,
                 bool ownThread)
        : juce::Thread ("in-memory MIDI input " + nameToUse), owner (ownerToUse), portId (portIdToUse),
          name (nameToUse), callback (cb), threaded (ownThread)
    {
        if (threaded)
            startThread();
    }

    ~MemoryInput() override
    {
        owner.inputClosed (this);

        if (threaded)
        {
            signalThreadShouldExit();
            wakeUp.signal();
            stopThread (10000);
        }
    }

    bool isThreaded() const { return threaded; }

    /** Without a thread of its own: delivers at once on the caller's thread. */
    void deliverNow (const juce::MidiMessage& message)
    {
        if (started)
            callback.handleIncomingMidiMessage (this, message);
    }

    juce::String getName() const override { return name; }
    void start() override { started = true; }
    void stop() override { started = false; }

    int getPortId() const { return portId; }

    void enqueue (const juce::MidiMessage& message)
    {
        if (! started)
            return;

        {
            const std::lock_guard<std::mutex> guard (queueMutex);
            queue.push_back (message);
        }
        wakeUp.signal();
    }

    bool isIdle() const
    {
        const std::lock_guard<std::mutex> guard (queueMutex);
        return queue.empty() && ! delivering;
    }

private:
    void run() override
    {
        while (! threadShouldExit())
        {
            wakeUp.wait (50);

            for (;;)
            {
                juce::MidiMessage message;
                {
                    const std::lock_guard<std::mutex> guard (queueMutex);
                    if (queue.empty() || threadShouldExit())
                        break;
                    message = queue.front();
                    queue.pop_front();
                    delivering = true;
                }

                if (started)
                    callback.handleIncomingMidiMessage (this, message);

                {
                    const std::lock_guard<std::mutex> guard (queueMutex);
                    delivering = false;
                }
                owner.inputBecameIdle();
            }
        }
    }

    InMemoryMidiSystem& owner;
    const int portId;
    const juce::String name;
    InputCallback& callback;
    const bool threaded;
    std::atomic<bool> started { false };
    mutable std::mutex queueMutex;
    std::deque<juce::MidiMessage> queue;
    bool delivering = false;
    juce::WaitableEvent wakeUp;
};

class InMemoryMidiSystem::MemoryOutput final : public MidiSystem::Output
{
public:
    MemoryOutput (InMemoryMidiSystem& ownerToUse, int portIdToUse, const juce::String& nameToUse)
        : owner (ownerToUse), portId (portIdToUse), name (nameToUse)
    {
    }

    ~MemoryOutput() override { owner.outputClosed (this); }

    juce::String getName() const override { return name; }
    void sendMessageNow (const juce::MidiMessage& message) override
    {
        if (! owner.recordSent (portId, message))
            failed = true;
    }

    void stopBackgroundThread() override {}
    bool hasFailed() const override { return failed; }

private:
    InMemoryMidiSystem& owner;
    const int portId;
    const juce::String name;
    bool failed = false;
};

InMemoryMidiSystem::InMemoryMidiSystem() = default;

InMemoryMidiSystem::~InMemoryMidiSystem()
{
    // Whoever opened ports must have closed them before the system goes.
    jassert (openInputs.empty() && openOutputs.empty());
}

int InMemoryMidiSystem::addPort (const juce::String& name, bool listAsInput, bool listAsOutput)
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    Port port;
    port.id = nextPortId++;
    port.name = name;
    port.identifier = "mem-" + juce::String (port.id);
    port.listedAsInput = listAsInput;
    port.listedAsOutput = listAsOutput;
    ports.push_back (port);
    return port.id;
}

void InMemoryMidiSystem::removePort (int portId)
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    ports.erase (std::remove_if (ports.begin(), ports.end(), [portId] (const Port& p) { return p.id == portId; }),
                 ports.end());
}

void InMemoryMidiSystem::removePorts (const juce::String& name)
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    ports.erase (std::remove_if (ports.begin(), ports.end(), [&name] (const Port& p) { return p.name == name; }),
                 ports.end());
}

void InMemoryMidiSystem::addKxDevice()
{
    addPort ("KX Control");
    addPort ("KX Audio");
    addPort ("KX Graphics");
}

void InMemoryMidiSystem::setOpenFails (const juce::String& name, bool shouldFail)
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    failingOpens[name] = shouldFail;
}

void InMemoryMidiSystem::setSendFails (const juce::String& name, bool shouldFail)
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    failingSends[name] = shouldFail;
}

void InMemoryMidiSystem::sendFromDevice (const juce::String& portName, const juce::MidiMessage& message)
{
    std::vector<MemoryInput*> deliverNow;
    {
        const std::lock_guard<std::recursive_mutex> guard (mutex);

        for (auto* input : openInputs)
        {
            const auto stillPlugged = std::any_of (ports.begin(),
                                                   ports.end(),
                                                   [input, &portName] (const Port& p)
                                                   { return p.id == input->getPortId() && p.name == portName; });

            if (! stillPlugged)
                continue;

            if (input->isThreaded())
                input->enqueue (message);
            else
                deliverNow.push_back (input);
        }
    }

    // Outside the mutex: a listener may wait for the message thread, which may be listing ports.
    for (auto* input : deliverNow)
        input->deliverNow (message);
}

void InMemoryMidiSystem::setDeliveryOnSendingThread (bool shouldDeliverThere)
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    deliverOnSendingThread = shouldDeliverThere;
}

void InMemoryMidiSystem::waitUntilDelivered()
{
    const auto deadline = juce::Time::getMillisecondCounter() + 10000;
    auto* mm = juce::MessageManager::getInstanceWithoutCreating();

    if (mm == nullptr || ! mm->isThisTheMessageThread())
    {
        // Off the message thread nothing needs pumping: sleep until an input reports idle.
        std::unique_lock<std::mutex> guard (idleMutex);
        if (! idleCondition.wait_for (guard, std::chrono::seconds (10), [this] { return allInputsIdle(); }))
            jassertfalse;
        return;
    }

    while (juce::Time::getMillisecondCounter() < deadline)
    {
        if (allInputsIdle())
            return;

        // A delivery may be waiting for the message thread (the controller takes its lock).
        mm->runDispatchLoopUntil (1);
    }

    jassertfalse;
}

bool InMemoryMidiSystem::allInputsIdle() const
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    return std::all_of (openInputs.begin(), openInputs.end(), [] (MemoryInput* i) { return i->isIdle(); });
}

void InMemoryMidiSystem::inputBecameIdle()
{
    {
        const std::lock_guard<std::mutex> guard (idleMutex);
    }
    idleCondition.notify_all();
}

void InMemoryMidiSystem::setPausesSkipped (bool shouldSkip)
{
    pausesSkipped = shouldSkip;
}

int InMemoryMidiSystem::getNumPausesRequested() const
{
    return pausesRequested;
}

void InMemoryMidiSystem::sleep (int milliseconds)
{
    ++pausesRequested;

    if (! pausesSkipped)
        juce::Thread::sleep (milliseconds);
}

void InMemoryMidiSystem::setSendHook (std::function<void (const SentMessage&)> hook)
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    sendHook = std::move (hook);
}

std::vector<InMemoryMidiSystem::SentMessage> InMemoryMidiSystem::getSentMessages() const
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    return sent;
}

std::vector<InMemoryMidiSystem::SentMessage> InMemoryMidiSystem::getSentMessages (const juce::String& portName) const
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    std::vector<SentMessage> result;

    for (const auto& message : sent)
        if (message.portName == portName)
            result.push_back (message);

    return result;
}

std::vector<juce::uint8> InMemoryMidiSystem::getBytesSent (const juce::String& portName) const
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    std::vector<juce::uint8> result;

    for (const auto& message : sent)
        if (message.portName == portName)
            result.insert (result.end(), message.bytes.begin(), message.bytes.end());

    return result;
}

int InMemoryMidiSystem::getNumLostMessages() const
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    return lostMessages;
}

void InMemoryMidiSystem::clearSentMessages()
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    sent.clear();
    lostMessages = 0;
}

int InMemoryMidiSystem::getNumOpenInputs (const juce::String& portName) const
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    return (int) std::count_if (
        openInputs.begin(), openInputs.end(), [&portName] (MemoryInput* i) { return i->getName() == portName; });
}

int InMemoryMidiSystem::getNumOpenOutputs (const juce::String& portName) const
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    return (int) std::count_if (
        openOutputs.begin(), openOutputs.end(), [&portName] (MemoryOutput* o) { return o->getName() == portName; });
}

std::vector<double> InMemoryMidiSystem::getInputOpenTimes (const juce::String& portName) const
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    const auto found = inputOpenTimes.find (portName);
    return found != inputOpenTimes.end() ? found->second : std::vector<double>();
}

juce::Array<juce::MidiDeviceInfo> InMemoryMidiSystem::getInputs()
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    juce::Array<juce::MidiDeviceInfo> result;

    for (const auto& port : ports)
        if (port.listedAsInput)
            result.add ({ port.name, port.getIdentifier() });

    return result;
}

juce::Array<juce::MidiDeviceInfo> InMemoryMidiSystem::getOutputs()
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    juce::Array<juce::MidiDeviceInfo> result;

    for (const auto& port : ports)
        if (port.listedAsOutput)
            result.add ({ port.name, port.getIdentifier() });

    return result;
}

InMemoryMidiSystem::Port* InMemoryMidiSystem::findPort (const juce::String& identifier)
{
    for (auto& port : ports)
        if (port.getIdentifier() == identifier)
            return &port;

    return nullptr;
}

std::unique_ptr<MidiSystem::Input> InMemoryMidiSystem::openInput (const juce::String& identifier,
                                                                  InputCallback& callback)
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    auto* port = findPort (identifier);

    if (port == nullptr || ! port->listedAsInput || failingOpens[port->name])
        return nullptr;

    auto input = std::make_unique<MemoryInput> (*this, port->id, port->name, callback, ! deliverOnSendingThread);
    openInputs.push_back (input.get());
    inputOpenTimes[port->name].push_back (juce::Time::getMillisecondCounterHiRes());
    return input;
}

std::unique_ptr<MidiSystem::Output> InMemoryMidiSystem::openOutput (const juce::String& identifier)
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    auto* port = findPort (identifier);

    if (port == nullptr || ! port->listedAsOutput || failingOpens[port->name])
        return nullptr;

    auto output = std::make_unique<MemoryOutput> (*this, port->id, port->name);
    openOutputs.push_back (output.get());
    return output;
}

bool InMemoryMidiSystem::recordSent (int portId, const juce::MidiMessage& message)
{
    SentMessage record;
    std::function<void (const SentMessage&)> hook;
    {
        const std::lock_guard<std::recursive_mutex> guard (mutex);
        const auto port =
            std::find_if (ports.begin(), ports.end(), [portId] (const Port& p) { return p.id == portId; });

        if (port == ports.end())
        {
            ++lostMessages;
            return true;
        }

        if (failingSends[port->name])
        {
            ++lostMessages;
            return false;
        }

        record.portId = portId;
        record.portName = port->name;
        record.bytes.assign (message.getRawData(), message.getRawData() + message.getRawDataSize());
        record.timeMs = juce::Time::getMillisecondCounterHiRes();
        sent.push_back (record);
        hook = sendHook;
    }

    if (hook)
        hook (record);

    return true;
}

void InMemoryMidiSystem::inputClosed (MemoryInput* input)
{
    {
        const std::lock_guard<std::recursive_mutex> guard (mutex);
        openInputs.erase (std::remove (openInputs.begin(), openInputs.end(), input), openInputs.end());
    }

    // Outside the system's mutex: a waiter holds the idle mutex while it takes that one.
    inputBecameIdle();
}

void InMemoryMidiSystem::outputClosed (MemoryOutput* output)
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);

    if (! juce::MessageManager::existsAndIsCurrentThread())
        ++outputsClosedOffMessageThread;

    openOutputs.erase (std::remove (openOutputs.begin(), openOutputs.end(), output), openOutputs.end());
}

int InMemoryMidiSystem::getNumOutputsClosedOffMessageThread() const
{
    const std::lock_guard<std::recursive_mutex> guard (mutex);
    return outputsClosedOffMessageThread;
}
