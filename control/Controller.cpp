#include "control/Controller.h"

#include "control/MessageThreadLock.h"

namespace
{
const juce::String controlFirmwareName ("Control Firmware");
const juce::String audioApplicationFirmwareName ("Audio Application Firmware");
const juce::String audioAssetsName ("Audio Assets");
const juce::String graphicsApplicationFirmwareName ("Graphics Application Firmware");
const juce::String graphicsAssetsName ("Graphics Assets");

constexpr int identityReplyDataSize = 35;
constexpr int progressReportInterval = 20;

const char* portNameFor (int port)
{
    switch (port)
    {
    case Controller::controlPort:
        return "KX Control";
    case Controller::audioPort:
        return "KX Audio";
    case Controller::graphicsPort:
        return "KX Graphics";
    default:
        return nullptr;
    }
}
} // namespace

Controller::Controller (MidiManager& manager, juce::OwnedArray<FirmwareImage>& catalogue)
    : images (catalogue), midiManager (manager)
{
    if (checkHardware())
        connectAndQueryVersions();

    reset();
    startTimer (100);
}

Controller::~Controller()
{
    stopTimer();
    midiManager.removeListener (this);
    senders.clear();
}

void Controller::addListener (Listener* listener)
{
    if (listener == nullptr)
        return;

    listeners.add (listener);
    listeners.call ([] (Listener& l) { l.availableFirmwareVersion (controlPort, "0.0.3.6"); });
    listeners.call ([] (Listener& l) { l.availableFirmwareVersion (audioPort, "0.0.2.5"); });
    listeners.call ([] (Listener& l) { l.availableFirmwareVersion (graphicsPort, "0.0.2.5"); });
}

void Controller::setVersionQueryPending (bool pending)
{
    versionQueryPending = pending;
}

void Controller::startUpdate()
{
    runUpdate (false);
}

void Controller::startCaspiaModeUpdate()
{
    runUpdate (true);
}

void Controller::reset()
{
    senders.clear();
    updating = false;
    versionQueryPending = true;
    listeners.call ([] (Listener& l) { l.updateRunning (false); });
    listeners.call ([] (Listener& l) { l.updateProgress (0.0); });
}

bool Controller::isUpdating() const
{
    return updating;
}

void Controller::timerCallback()
{
    if (updating)
        return;

    const auto detected = checkHardware();

    if (detected && versionQueryPending)
    {
        // A device that went and came back while the poll was not looking (during an update
        // and its notice) has left dead ports open under its names: open them afresh, or the
        // questions would go nowhere.
        for (auto* image : images)
        {
            if (midiManager.hasVanishedOutput (image->getPortName()))
            {
                midiManager.closeInput (image->getPortName());
                midiManager.closeOutput (image->getPortName());
            }
        }

        connectAndQueryVersions();
    }

    if (! detected)
    {
        for (auto* image : images)
        {
            midiManager.closeInput (image->getPortName());
            midiManager.closeOutput (image->getPortName());
        }
    }
}

bool Controller::checkHardware()
{
    auto detected = true;

    for (auto* image : images)
        detected = midiManager.isInputPresent (image->getPortName()) && detected;

    listeners.call ([detected] (Listener& l) { l.hardwareDetected (detected); });
    return detected;
}

void Controller::connectAndQueryVersions()
{
    for (auto* image : images)
        midiManager.openOutput (image->getPortName());

    for (int port = controlPort; port <= graphicsPort; ++port)
        sendIdentityRequest (port);

    midiManager.addListener (this);

    for (auto* image : images)
        midiManager.openInput (image->getPortName());

    for (int port = controlPort; port <= graphicsPort; ++port)
        sendIdentityRequest (port);
}

void Controller::sendIdentityRequest (int port)
{
    static const juce::uint8 identityRequest[] = { 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 };

    if (const auto* portName = portNameFor (port))
        midiManager.sendMessage (portName, juce::MidiMessage (identityRequest, (int) sizeof (identityRequest), 0.0));
}

bool Controller::isIdentityReply (const juce::uint8* data)
{
    return data[0] == 0x7E && data[2] == 0x06 && data[3] == 0x02 && data[4] == 0x00 && data[5] == 0x6A &&
           data[6] == 0x13 && data[7] == 0x5A;
}

juce::String Controller::versionFromIdentityReply (const juce::uint8* data)
{
    return juce::String (data[10]) + "." + juce::String (data[11]) + "." + juce::String (data[12]) + "." +
           juce::String (data[13]);
}

void Controller::midiMessageReceived (MidiSystem::Input*, const juce::MidiMessage& message)
{
    if (! message.isSysEx() || message.getSysExDataSize() != identityReplyDataSize)
        return;

    const auto* data = message.getSysExData();

    if (! isIdentityReply (data))
        return;

    const MessageThreadLock mml (juce::Thread::getCurrentThread());

    if (! mml.lockWasGained())
        return;

    const auto version = versionFromIdentityReply (data);
    versionQueryPending = false;

    int port = -1;

    switch (data[14])
    {
    case 0x00:
        port = controlPort;
        break;
    case 0x10:
        port = audioPort;
        break;
    case 0x20:
        port = graphicsPort;
        break;
    default:
        return;
    }

    listeners.call ([port, &version] (Listener& l) { l.currentFirmwareVersion (port, version); });
}

void Controller::runUpdate (bool skipAssets)
{
    // A second start before the last update was reset would run two transfers into one port.
    if (updating)
        return;

    versionQueryPending = false;
    totalChunks = 0;

    for (auto* image : images)
    {
        if (skipAssets && image->getName().contains ("Assets"))
            continue;

        midiManager.closeInput (image->getPortName());
        midiManager.closeOutput (image->getPortName());
        image->setSending (false);
        image->setCompleted (false);
        addSender (*image);
        totalChunks += image->getNumChunks();
    }

    chunksSent = 0;
    updating = true;

    for (const auto code : { audioApplicationFirmwareCode, graphicsApplicationFirmwareCode, controlFirmwareCode })
        listeners.call ([code] (Listener& l) { l.imageStatusChanged (code, waiting); });

    auto anyPortMissing = false;

    for (auto* image : images)
    {
        if (! midiManager.isOutputPresent (image->getPortName()))
        {
            anyPortMissing = true;
            abortUpdate();
        }
    }

    if (! anyPortMissing)
    {
        for (auto* sender : senders)
        {
            const auto name = sender->getFirmwareName();

            if (skipAssets || name == audioApplicationFirmwareName || name == graphicsApplicationFirmwareName ||
                name == controlFirmwareName)
                sender->start();
        }
    }

    listeners.call ([] (Listener& l) { l.updateRunning (true); });
}

void Controller::addSender (FirmwareImage& image)
{
    senders.add (new FirmwareSysexSender (&image, &midiManager, this, senderPacing));
}

void Controller::abortUpdate()
{
    for (auto* sender : senders)
        sender->stop();

    for (const auto code : { audioApplicationFirmwareCode, graphicsApplicationFirmwareCode, controlFirmwareCode })
        listeners.call ([code] (Listener& l) { l.imageStatusChanged (code, aborted); });
}

void Controller::sysexSenderEvent (FirmwareSysexSender* sender, const juce::String& event)
{
    const juce::ScopedLock sl (lock);

    if (event == "Started")
    {
        notifyImageStatus (sender->getFirmwareName(), started);
    }
    else if (event == "Chunk")
    {
        ++chunksSent;

        // The last piece is not yet the end: the port must still be there at the sender's next
        // tick, and 1.0 tells the user the update has completed. That comes with "Complete".
        if (chunksSent % progressReportInterval == 0 && chunksSent < totalChunks)
        {
            const auto progress = (double) chunksSent / (double) totalChunks;
            listeners.call ([progress] (Listener& l) { l.updateProgress (progress); });
        }
    }
    else if (event == "Complete")
    {
        const auto name = sender->getFirmwareName();
        notifyImageStatus (name, completed);

        // Every piece sent is not enough while another image has still to complete: its port
        // may yet be found gone, and then the update is aborted, not finished.
        if (chunksSent == totalChunks && allSendersCompleted())
        {
            for (auto* image : images)
            {
                midiManager.closeInput (image->getPortName());
                midiManager.closeOutput (image->getPortName());
            }

            listeners.call ([] (Listener& l) { l.updateProgress (1.0); });
        }
        else if (name != controlFirmwareName)
        {
            // Two images on one port at once would interleave into garbage, so the next image
            // must also find its port free; with the images carried that is always the case.
            for (auto* next : senders)
            {
                if (! next->isSending() && ! next->isCompleted() && ! isPortBusy (portNameOf (*next)))
                {
                    next->start();
                    break;
                }
            }
        }
    }
    else if (event == "Error")
    {
        abortUpdate();
    }
}

bool Controller::allSendersCompleted() const
{
    for (auto* sender : senders)
        if (! sender->isCompleted())
            return false;

    return true;
}

juce::String Controller::portNameOf (const FirmwareSysexSender& sender) const
{
    for (auto* image : images)
        if (image->getName() == sender.getFirmwareName())
            return image->getPortName();

    return {};
}

bool Controller::isPortBusy (const juce::String& portName) const
{
    for (auto* sender : senders)
        if (sender->isSending() && portNameOf (*sender) == portName)
            return true;

    return false;
}

void Controller::notifyImageStatus (const juce::String& imageName, int status)
{
    int code = -1;

    if (imageName == audioApplicationFirmwareName)
        code = audioApplicationFirmwareCode;
    else if (imageName == audioAssetsName)
        code = audioAssetsCode;
    else if (imageName == graphicsApplicationFirmwareName)
        code = graphicsApplicationFirmwareCode;
    else if (imageName == graphicsAssetsName)
        code = graphicsAssetsCode;
    else if (imageName.contains (controlFirmwareName))
        code = controlFirmwareCode;
    else
        return;

    listeners.call ([code, status] (Listener& l) { l.imageStatusChanged (code, status); });
}
