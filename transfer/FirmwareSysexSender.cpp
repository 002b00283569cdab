#include "transfer/FirmwareSysexSender.h"

#include <chrono>
#include <thread>

namespace
{
const juce::String startedEvent ("Started");
const juce::String chunkEvent ("Chunk");
const juce::String completeEvent ("Complete");
const juce::String errorEvent ("Error");

double nowMs()
{
    return juce::Time::getMillisecondCounterHiRes();
}

juce::MidiMessage pieceMessage (const FirmwareImage& image, int index)
{
    const auto chunk = image.getChunk (index);
    return juce::MidiMessage (chunk.getRawDataPointer(), chunk.size(), 0.0);
}
} // namespace

/**
    Hands the pieces to the port on schedule: piece k at start + (k + 1) intervals, but never
    sooner than one interval after the piece before, then one more interval for the tick that
    ends the image. It sleeps until just before each deadline and spins the rest, because the
    system's sleep overshoots by far more than the one per cent the schedule allows.
*/
class FirmwareSysexSender::PacingThread final : public juce::Thread
{
public:
    explicit PacingThread (FirmwareSysexSender& ownerToUse)
        : juce::Thread ("firmware pacing " + ownerToUse.image->getPortName()), owner (ownerToUse)
    {
    }

    ~PacingThread() override { stopThread (10000); }

private:
    void run() override
    {
        auto& firmware = *owner.image; // not "image": clang warns that it hides the sender's
        const auto portName = firmware.getPortName();
        const auto interval = (double) juce::jmax (0, firmware.getIntervalMs());
        const auto numChunks = firmware.getNumChunks();
        const auto startTime = nowMs();
        auto lastHandedOver = startTime;

        for (int index = 0; index < numChunks; ++index)
        {
            if (! waitUntil (juce::jmax (startTime + interval * (index + 1), lastHandedOver + interval)))
                return;

            // An output closed because it lost a message takes nothing more; the message
            // thread sees it closed and reports the error.
            if (! owner.midiManager->isOutputOpen (portName))
            {
                owner.triggerAsyncUpdate();
                return;
            }

            owner.midiManager->sendMessage (portName, pieceMessage (firmware, index));

            // Timed from the end of the hand-over, so that wherever in it the piece really
            // leaves, the next one leaves at least an interval later.
            lastHandedOver = nowMs();
            owner.piecesHandedOver.store (index + 1);
            owner.triggerAsyncUpdate();
        }

        if (! waitUntil (juce::jmax (startTime + interval * (numChunks + 1), lastHandedOver + interval)))
            return;

        owner.lastTickDone.store (true);
        owner.triggerAsyncUpdate();
    }

    bool waitUntil (double deadline)
    {
        constexpr double spinMs = 0.4;

        for (;;)
        {
            if (threadShouldExit())
                return false;

            const auto remaining = deadline - nowMs();

            if (remaining <= 0.0)
                return true;

            if (remaining > spinMs)
                std::this_thread::sleep_for (std::chrono::microseconds ((int) ((remaining - spinMs) * 1000.0)));
            else
                std::this_thread::yield();
        }
    }

    FirmwareSysexSender& owner;
};

FirmwareSysexSender::FirmwareSysexSender (FirmwareImage* imageToSend,
                                          MidiManager* manager,
                                          Listener* listener,
                                          Pacing pacingToUse)
    : image (imageToSend), midiManager (manager), pacing (pacingToUse)
{
    if (listener != nullptr)
        listeners.add (listener);
}

FirmwareSysexSender::~FirmwareSysexSender()
{
    stopTimer();
    stopPacingThread();
}

void FirmwareSysexSender::start()
{
    if (image == nullptr || midiManager == nullptr)
        return;

    stopTimer();
    stopPacingThread();

    const auto portName = image->getPortName();

    // Nothing the device says on this port is read while its firmware is being written.
    midiManager->closeInput (portName);
    midiManager->openOutput (portName);

    chunkIndex = 0;
    image->setSending (true);
    fire (startedEvent);

    // A listener may have stopped or restarted this sender from inside "Started".
    if (! image->isSending() || isRunning())
        return;

    if (pacing == Pacing::messageThreadTimer)
    {
        startTimer (image->getIntervalMs());
    }
    else
    {
        // A real-time thread keeps its schedule on a busy machine; where the system does not
        // allow one, the highest ordinary priority still keeps every interval, only later.
        pacingThread = std::make_unique<PacingThread> (*this);
        juce::Thread::RealtimeOptions realtime;
        realtime.priority = 8;

        if (! pacingThread->startRealtimeThread (realtime))
            pacingThread->startThread (juce::Thread::Priority::highest);
    }
}

void FirmwareSysexSender::stop()
{
    stopTimer();
    stopPacingThread();

    if (image != nullptr)
        image->setSending (false);
}

bool FirmwareSysexSender::isRunning() const
{
    return isTimerRunning() || pacingThread != nullptr;
}

void FirmwareSysexSender::stopPacingThread()
{
    // Joining the thread first means no piece leaves after this returns; what it handed over
    // but the message thread has not yet heard of is forgotten along with the transfer.
    pacingThread.reset();
    cancelPendingUpdate();
    piecesHandedOver = 0;
    lastTickDone = false;
    ++transferNumber;
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

    // A port that is listed but has no open output would swallow the next piece, or its
    // output was closed because it refused one already, the last piece too: either way the
    // transfer failed.
    if (! midiManager->isOutputOpen (portName))
    {
        fireError();
        return;
    }

    if (chunkIndex < image->getNumChunks())
    {
        midiManager->sendMessage (portName, pieceMessage (*image, chunkIndex));
        ++chunkIndex;
        fire (chunkEvent);
        return;
    }

    fireComplete();
}

void FirmwareSysexSender::handleAsyncUpdate()
{
    if (pacingThread == nullptr)
        return;

    // Every piece the pacing thread handed over is reported, as a tick reports the piece it
    // sent; then come the checks a tick makes before the next piece or the end.
    if (! reportPiecesHandedOver())
        return;

    const auto portName = image->getPortName();

    if (! midiManager->isOutputPresent (portName) || midiManager->hasVanishedOutput (portName) ||
        ! midiManager->isOutputOpen (portName))
    {
        // Stop the thread first, so that the count of pieces reported is the count that left.
        pacingThread->stopThread (10000);

        if (reportPiecesHandedOver())
            fireError();

        return;
    }

    if (lastTickDone.load() && chunkIndex == image->getNumChunks())
        fireComplete();
}

bool FirmwareSysexSender::reportPiecesHandedOver()
{
    const auto handedOver = piecesHandedOver.load();
    const auto transfer = transferNumber;

    while (chunkIndex < handedOver)
    {
        ++chunkIndex;
        fire (chunkEvent);

        // The listener may have stopped or restarted this sender from inside the event.
        if (transferNumber != transfer)
            return false;
    }

    return true;
}

void FirmwareSysexSender::fireError()
{
    stopTimer();
    stopPacingThread();
    fire (errorEvent);
}

void FirmwareSysexSender::fireComplete()
{
    stopTimer();
    stopPacingThread();
    image->setSending (false);
    image->setCompleted (true);
    fire (completeEvent);
}

void FirmwareSysexSender::fire (const juce::String& event)
{
    listeners.call ([this, &event] (Listener& l) { l.sysexSenderEvent (this, event); });
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
