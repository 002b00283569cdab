#include "transfer/MidiManager.h"

#include <algorithm>
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
    // At shutdown a sender's pacing thread may still be sending through these outputs.
    const juce::ScopedLock sl (lock);

    for (int i = inputs.size(); --i >= 0;)
        inputs.remove (i);

    outputs.clear();
    retirer.cancelPendingUpdate();
    retiredOutputs.clear();
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
            system.sleep (50);

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
            outputs.push_back ({ portName, std::move (output), device.identifier });
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

bool MidiManager::hasVanishedOutput (const juce::String& portName) const
{
    const auto devices = system.getOutputs();

    // A pacing thread whose send failed may be closing outputs of its port meanwhile.
    const juce::ScopedLock sl (lock);

    for (const auto& entry : outputs)
    {
        if (entry.name != portName)
            continue;

        const auto listed =
            std::any_of (devices.begin(),
                         devices.end(),
                         [&entry] (const juce::MidiDeviceInfo& d) { return d.identifier == entry.identifier; });

        if (! listed)
            return true;
    }

    return false;
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

    if (! anyFailed)
        return;

    // A port that lost a message must not go on to look like a good transfer: taking the
    // outputs of the name out of use makes the sender report "Error" at its next tick.
    auto* messageManager = juce::MessageManager::getInstanceWithoutCreating();

    if (messageManager == nullptr || messageManager->isThisTheMessageThread())
    {
        closeOutput (portName);
        return;
    }

    // On a pacing thread they only leave the list: the platform's ports are deleted on the
    // message thread, where they are opened and listed too (JUCE's ALSA client is not safe
    // to use from two threads at once).
    for (auto it = outputs.begin(); it != outputs.end();)
    {
        if (it->name == portName)
        {
            retiredOutputs.push_back (std::move (*it));
            it = outputs.erase (it);
        }
        else
        {
            ++it;
        }
    }

    retirer.triggerAsyncUpdate();
}

void MidiManager::deleteRetiredOutputs()
{
    std::vector<NamedMidiOutput> retired;

    {
        const juce::ScopedLock sl (lock);
        retired.swap (retiredOutputs);
    }

    for (auto& entry : retired)
        entry.output->stopBackgroundThread();
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
    // Inputs may deliver on threads of their own, several at once. ListenerList::call links an
    // iterator into the list on every call, which two threads must not do together; the list
    // itself changes only while no input is open, so plain reads of it are safe here.
    const auto& current = listeners.getListeners();

    for (int i = current.size(); --i >= 0;)
        current.getUnchecked (i)->midiMessageReceived (source, message);
}

void MidiManager::handlePartialSysexMessage (MidiSystem::Input*, const juce::uint8*, int, double) {}
