#include "transfer/MidiManager.h"

#include <exception>

namespace
{
bool listsName (const juce::Array<juce::MidiDeviceInfo>& devices, const juce::String& portName)
{
    for (const auto& device : devices)
        if (device.name == portName)
            return true;

    return false;
}
} // namespace

MidiManager::MidiManager() : MidiManager (MidiSystem::getPlatformSystem()) {}

MidiManager::MidiManager (MidiSystem& systemToUse) : system (systemToUse) {}

MidiManager::~MidiManager()
{
    closeAll();
}

void MidiManager::closeAll()
{
    for (int i = inputs.size(); --i >= 0;)
        inputs.remove (i);

    outputs.clear();
    listeners.clear();
}

bool MidiManager::isInputOpen (const juce::String& portName) const
{
    const juce::ScopedLock sl (lock);

    for (auto* input : inputs)
        if (input->getName() == portName)
            return true;

    return false;
}

bool MidiManager::isOutputOpen (const juce::String& portName) const
{
    // A send from a pacing thread may close outputs whose port lost a message.
    const juce::ScopedLock sl (lock);

    for (const auto& entry : outputs)
        if (entry.name == portName)
            return true;

    return false;
}

void MidiManager::openInput (const juce::String& portName)
{
    if (isInputOpen (portName))
        return;

    for (const auto& device : system.getInputs())
    {
        if (device.name != portName)
            continue;

        try
        {
            // The device's ports are not always ready the moment they are listed.
            juce::Thread::sleep (50);

            if (auto input = system.openInput (device.identifier, *this))
            {
                const juce::ScopedLock sl (lock);
                inputs.add (input.release())->start();
            }
        }
        catch (const std::exception&)
        {
        }
    }
}

void MidiManager::openOutput (const juce::String& portName)
{
    if (isOutputOpen (portName))
        return;

    for (const auto& device : system.getOutputs())
    {
        if (device.name != portName)
            continue;

        if (auto output = system.openOutput (device.identifier))
        {
            const juce::ScopedLock sl (lock);
            outputs.push_back ({ portName, std::move (output) });
        }
    }
}

void MidiManager::closeInput (const juce::String& portName)
{
    const juce::ScopedLock sl (lock);

    for (int i = inputs.size(); --i >= 0;)
    {
        if (inputs.getUnchecked (i)->getName() == portName)
        {
            inputs.getUnchecked (i)->stop();
            inputs.remove (i);
        }
    }
}

void MidiManager::closeOutput (const juce::String& portName)
{
    const juce::ScopedLock sl (lock);

    for (auto it = outputs.begin(); it != outputs.end();)
    {
        if (it->name == portName)
        {
            it->output->stopBackgroundThread();
            it = outputs.erase (it);
        }
        else
        {
            ++it;
        }
    }
}

bool MidiManager::isInputPresent (const juce::String& portName) const
{
    return listsName (system.getInputs(), portName);
}

bool MidiManager::isOutputPresent (const juce::String& portName) const
{
    return listsName (system.getOutputs(), portName);
}

void MidiManager::sendMessage (const juce::String& portName, const juce::MidiMessage& message)
{
    const juce::ScopedLock sl (lock);

    bool anyFailed = false;

    for (auto& entry : outputs)
    {
        if (entry.name == portName)
        {
            entry.output->sendMessageNow (message);
            anyFailed = anyFailed || entry.output->hasFailed();
        }
    }

    // A port that lost a message must not go on to look like a good transfer: closing the
    // outputs of the name makes the sender report "Error" at its next tick.
    if (anyFailed)
        closeOutput (portName);
}

void MidiManager::addListener (Listener* listener)
{
    if (listener != nullptr)
        listeners.add (listener);
}

void MidiManager::removeListener (Listener* listener)
{
    listeners.remove (listener);
}

void MidiManager::handleIncomingMidiMessage (MidiSystem::Input* source, const juce::MidiMessage& message)
{
    // Every input delivers on a thread of its own, and JUCE's listener list is not safe for
    // calls from two threads at once (each call links an iterator into the list): a device
    // answering on its three ports together corrupted it. So deliveries take turns. A listener
    // may wait for the message thread while another delivery waits here, and the message thread
    // may meanwhile be closing that other input: the waiting one gives up when its thread is
    // asked to stop, instead of blocking the close.
    std::unique_lock<std::mutex> turn (deliveryMutex, std::defer_lock);

    while (! turn.try_lock())
    {
        if (juce::Thread::currentThreadShouldExit())
            return;

        juce::Thread::sleep (1);
    }

    listeners.call ([source, &message] (Listener& l) { l.midiMessageReceived (source, message); });
}

void MidiManager::handlePartialSysexMessage (MidiSystem::Input*, const juce::uint8*, int, double) {}
