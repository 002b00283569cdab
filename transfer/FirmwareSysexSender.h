#pragma once

#include "transfer/FirmwareImage.h"
#include "transfer/MidiManager.h"

#include <juce_events/juce_events.h>

/**
    Sends one firmware image to its port, one piece per timer tick, and tells its
    listener each step with one of the words "Started", "Chunk", "Complete" or "Error".
*/
class FirmwareSysexSender : public juce::Timer
{
public:
    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void sysexSenderEvent (FirmwareSysexSender* sender, const juce::String& event) = 0;
    };

    /** Neither the image nor the manager nor the listener is owned. */
    FirmwareSysexSender (FirmwareImage* imageToSend, MidiManager* manager, Listener* listener);
    ~FirmwareSysexSender() override;

    /** Begins the transfer from the first piece, whatever state the sender is in. */
    void start();

    /** Stops the transfer silently; the image is no longer sending. */
    void stop();

    /** One tick: the next piece, or the end of the image. */
    void timerCallback() override;

    juce::String getFirmwareName() const;
    bool isCompleted() const;
    bool isSending() const;

private:
    void fireError();

    juce::ListenerList<Listener> listeners;
    FirmwareImage* image;
    MidiManager* midiManager;
    int chunkIndex = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FirmwareSysexSender)
};
