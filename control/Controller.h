#pragma once

#include "transfer/FirmwareImage.h"
#include "transfer/FirmwareSysexSender.h"
#include "transfer/MidiManager.h"

/**
    The headless core of the updater: watches for the device, asks it for its firmware
    versions, runs updates of the catalogue's images over the device's three ports and
    reports everything to its listeners.
*/
class Controller : public FirmwareSysexSender::Listener, public juce::Timer, public MidiManager::Listener
{
public:
    /** Port numbers used in reports. */
    enum DevicePort
    {
        controlPort = 0,
        audioPort = 1,
        graphicsPort = 2
    };

    /** Image numbers used in reports. */
    enum ImageCode
    {
        controlFirmwareCode = 0,
        audioApplicationFirmwareCode = 1,
        audioAssetsCode = 2,
        graphicsApplicationFirmwareCode = 3,
        graphicsAssetsCode = 4
    };

    /** Status numbers used in reports; the controller never reports sending. */
    enum ImageStatus
    {
        waiting = 0,
        started = 1,
        completed = 2,
        sending = 3,
        aborted = 4
    };

    class Listener
    {
    public:
        virtual void availableFirmwareVersion (int port, const juce::String& version) = 0;

        /** Called on the MIDI input thread, with the message-manager lock held. */
        virtual void currentFirmwareVersion (int port, const juce::String& version) = 0;
        virtual void hardwareDetected (bool detected) = 0;
        virtual void updateProgress (double progress) = 0;
        virtual void updateRunning (bool running) = 0;
        virtual void imageStatusChanged (int imageCode, int status) = 0;
        virtual ~Listener() = default;
    };

    /** Neither the manager nor the catalogue is owned; both must outlive the controller. */
    Controller (MidiManager& manager, juce::OwnedArray<FirmwareImage>& catalogue);
    ~Controller() override;

    void addListener (Listener* listener);
    void setVersionQueryPending (bool pending);
    void startUpdate();
    void startCaspiaModeUpdate();
    void reset();
    bool isUpdating() const;

    /** How the senders of later updates pace their pieces; tests tick them by hand. */
    void setSenderPacing (FirmwareSysexSender::Pacing pacing) { senderPacing = pacing; }

    /** The senders of the current update, in catalogue order (for tests and diagnostics). */
    const juce::OwnedArray<FirmwareSysexSender>& getSenders() const { return senders; }

    /** The hardware poll, every 100 ms. */
    void timerCallback() override;
    void sysexSenderEvent (FirmwareSysexSender* sender, const juce::String& event) override;
    void midiMessageReceived (MidiSystem::Input* source, const juce::MidiMessage& message) override;

    /** The version text of an identity reply's SysEx data: the four numbers in full, joined by dots. */
    static juce::String versionFromIdentityReply (const juce::uint8* sysexData);

    /** Whether 35 bytes of SysEx data are the device's identity reply. */
    static bool isIdentityReply (const juce::uint8* sysexData);

private:
    void runUpdate (bool skipAssets);
    void abortUpdate();
    bool checkHardware();
    void connectAndQueryVersions();
    void sendIdentityRequest (int port);
    void notifyImageStatus (const juce::String& imageName, int status);
    void addSender (FirmwareImage& image);
    juce::String portNameOf (const FirmwareSysexSender& sender) const;
    bool isPortBusy (const juce::String& portName) const;
    bool allSendersCompleted() const;

    juce::OwnedArray<FirmwareImage>& images;
    MidiManager& midiManager;
    juce::OwnedArray<FirmwareSysexSender> senders;
    juce::ListenerList<Listener> listeners;
    int totalChunks = 0;
    int chunksSent = 0;
    bool updating = false;
    std::atomic<bool> versionQueryPending { true };
    juce::CriticalSection lock;
    FirmwareSysexSender::Pacing senderPacing = FirmwareSysexSender::Pacing::pacingThread;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Controller)
};
