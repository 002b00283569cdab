#include "transfer/FirmwareSysexSender.h"

FirmwareSysexSender::FirmwareSysexSender (FirmwareImage* imageToSend, MidiManager* manager, Listener* listener)
    : image (imageToSend), midiManager (manager)
{
    if (listener != nullptr)
        listeners.add (listener);
}

FirmwareSysexSender::~FirmwareSysexSender()
{
    stopTimer();
}

void FirmwareSysexSender::start()
{
    if (image == nullptr || midiManager == nullptr)
        return;

    const auto portName = image->getPortName();

    // Nothing the device says on this port is read while its firmware is being written.
    midiManager->closeInput (portName);
    midiManager->openOutput (portName);

    chunkIndex = 0;
    image->setSending (true);
    listeners.call ([this] (Listener& l) { l.sysexSenderEvent (this, "Started"); });
    startTimer (image->getIntervalMs());
}

void FirmwareSysexSender::stop()
{
    stopTimer();

    if (image != nullptr)
        image->setSending (false);
}

void FirmwareSysexSender::timerCallback()
{
    if (image == nullptr || midiManager == nullptr)
    {
        stopTimer();
        return;
    }

    const auto portName = image->getPortName();

    // With two devices of the same names, one that goes away leaves the name listed by the
    // other; its pieces would reach nothing while the transfer went on to "Complete".
    if (! midiManager->isOutputPresent (portName) || midiManager->hasVanishedOutput (portName))
    {
        fireError();
        return;
    }

    if (chunkIndex < image->getNumChunks())
    {
        // A port that is listed but has no open output would swallow the piece: that is a
        // failed transfer, not a complete one.
        if (! midiManager->isOutputOpen (portName))
        {
            fireError();
            return;
        }

        const auto chunk = image->getChunk (chunkIndex);
        const juce::MidiMessage message (chunk.getRawDataPointer(), chunk.size(), 0.0);
        midiManager->sendMessage (portName, message);
        ++chunkIndex;
        listeners.call ([this] (Listener& l) { l.sysexSenderEvent (this, "Chunk"); });
        return;
    }

    stopTimer();
    image->setSending (false);
    image->setCompleted (true);
    listeners.call ([this] (Listener& l) { l.sysexSenderEvent (this, "Complete"); });
}

void FirmwareSysexSender::fireError()
{
    stopTimer();
    listeners.call ([this] (Listener& l) { l.sysexSenderEvent (this, "Error"); });
}

juce::String FirmwareSysexSender::getFirmwareName() const
{
    return image != nullptr ? image->getName() : juce::String();
}

bool FirmwareSysexSender::isCompleted() const
{
    return image != nullptr && image->isCompleted();
}

bool FirmwareSysexSender::isSending() const
{
    return image != nullptr && image->isSending();
}
