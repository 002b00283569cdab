#pragma once

#include "transfer/FirmwareImage.h"
#include "transfer/MidiManager.h"

#include <atomic>
#include <juce_events/juce_events.h>

/**
    Sends one firmware image to its port, one piece per tick, and tells its listener each
    step with one of the words "Started", "Chunk", "Complete" or "Error". Every event is
    delivered on the message thread.

    The device takes the pieces without acknowledgement, so pieces that bunch up can be
    lost. By default a thread of the sender's own hands each piece to the port on a
    precise schedule, never sooner than the image's interval after the one before; the
    message thread hears of each piece afterwards. A sender can instead tick on the
    message thread's timer, which is also what timerCallback does when called by hand.
*/
class FirmwareSysexSender : public juce::Timer, private juce::AsyncUpdater
{
public:
    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void sysexSenderEvent (FirmwareSysexSender* sender, const juce::String& event) = 0;
    };

    enum class Pacing
    {
        /** Pieces leave from a pacing thread of the sender's own. */
        pacingThread,

        /** Pieces leave from the message thread's timer (or from timerCallback called by hand). */
        messageThreadTimer
    };

    /** Neither the image nor the manager nor the listener is owned. */
    FirmwareSysexSender (FirmwareImage* imageToSend,
                         MidiManager* manager,
                         Listener* listener,
                         Pacing pacingToUse = Pacing::pacingThread);
    ~FirmwareSysexSender() override;

    /** Begins the transfer from the first piece, whatever state the sender is in. */
    void start();

    /** Stops the transfer silently; once it returns no further piece leaves. */
    void stop();

    /** One tick on the message thread: the next piece, or the end of the image. */
    void timerCallback() override;

    /** True while pieces are still to go or the end of the image is still to be reported. */
    bool isRunning() const;

    juce::String getFirmwareName() const;
    bool isCompleted() const;
    bool isSending() const;

private:
    class PacingThread;

    void handleAsyncUpdate() override;
    void stopPacingThread();
    void fireError();
    void fireComplete();
    void fire (const juce::String& event);

    juce::ListenerList<Listener> listeners;
    FirmwareImage* image;
    MidiManager* midiManager;
    int chunkIndex = 0;
    const Pacing pacing;

    // Written by the pacing thread, read on the message thread.
    std::unique_ptr<PacingThread> pacingThread;
    std::atomic<int> piecesHandedOver { 0 };
    std::atomic<bool> lastTickDone { false };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FirmwareSysexSender)
};
