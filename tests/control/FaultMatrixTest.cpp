// What the updater does when the device misbehaves or goes away at each point of an update,
// against the in-memory device. Whatever happens: no crash, no hang, no completion reported
// that did not happen on the wire, no piece sent once an update is aborted, and the reports
// say what happened.

#include "control/Controller.h"
#include "tests/support/DeviceMessages.h"
#include "tests/support/InMemoryMidiSystem.h"
#include "tests/support/RecordingControllerListener.h"
#include "tests/support/TestCatalogue.h"
#include "tests/support/TransferDriver.h"

#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace
{
const char* const devicePorts[] = { "KX Control", "KX Audio", "KX Graphics" };

// Catalogue order: audio application, graphics application, graphics assets, audio assets,
// control; piece counts 30, 28, 48, 48 and 6, 160 in all. As with the images carried, the
// graphics application image ends first, so "Graphics Assets" starts before "Audio Assets".
// 160 is a multiple of 20, so the last piece of an update is also a progress step.
const std::vector<int> matrixSizes { 256 * 30, 256 * 28, 256 * 48, 256 * 48, 256 * 6 };

struct ImageOnPort
{
    int catalogueIndex;
    int code;
    const char* port;
    int firstByteOnPort; // the application image goes first on a port it shares
};

const ImageOnPort imagesOnPorts[] = {
    { 0, Controller::audioApplicationFirmwareCode, "KX Audio", 0 },
    { 1, Controller::graphicsApplicationFirmwareCode, "KX Graphics", 0 },
    { 2, Controller::graphicsAssetsCode, "KX Graphics", 256 * 28 },
    { 3, Controller::audioAssetsCode, "KX Audio", 256 * 30 },
    { 4, Controller::controlFirmwareCode, "KX Control", 0 },
};

/** Notes how many messages had been sent when the first abort was reported. */
struct AbortWatch final : Controller::Listener
{
    explicit AbortWatch (InMemoryMidiSystem& s) : system (s) {}

    void availableFirmwareVersion (int, const juce::String&) override {}
    void currentFirmwareVersion (int, const juce::String&) override {}
    void hardwareDetected (bool) override {}
    void updateProgress (double) override {}
    void updateRunning (bool) override {}
    void imageStatusChanged (int, int status) override
    {
        if (status == Controller::aborted && sentAtAbort < 0)
            sentAtAbort = (int) system.getSentMessages().size();
    }

    InMemoryMidiSystem& system;
    int sentAtAbort = -1;
};

struct FaultMatrixTest : ::testing::Test
{
    FaultMatrixTest() { system.setPausesSkipped (true); }

    void TearDown() override
    {
        manager.closeAll();
        controller.reset();
    }

    /** Polled by hand; the senders tick by hand too unless they are to pace themselves. */
    void createController (bool senderTicksByHand = true)
    {
        controller = std::make_unique<Controller> (manager, catalogue.images);
        controller->stopTimer();
        if (senderTicksByHand)
            TransferDriver::tickByHand (*controller);
        controller->addListener (&listener);
        controller->addListener (&abortWatch);
        system.clearSentMessages();
        listener.clear();
    }

    size_t bytesOnPort (const char* port) const { return system.getBytesSent (port).size(); }

    bool imageArrivedWhole (const ImageOnPort& image) const
    {
        const auto sent = system.getBytesSent (image.port);
        const auto& bytes = catalogue.bytes[(size_t) image.catalogueIndex];
        return sent.size() >= (size_t) image.firstByteOnPort + bytes.size() &&
               std::equal (bytes.begin(), bytes.end(), sent.begin() + image.firstByteOnPort);
    }

    bool reported (const juce::String& text) { return ! listener.texts (text).empty(); }

    // Completed only what arrived whole; "finished" only when everything did.
    void expectNoUnfoundedCompletion (bool caspiaMode = false)
    {
        auto allArrived = true;

        for (const auto& image : imagesOnPorts)
        {
            const auto arrived = imageArrivedWhole (image);
            const auto isAsset = image.catalogueIndex == 2 || image.catalogueIndex == 3;
            if (! (caspiaMode && isAsset))
                allArrived = allArrived && arrived;
            if (! arrived)
            {
                EXPECT_FALSE (reported ("status " + juce::String (image.code) + " 2")) << "image " << image.code;
            }
        }

        if (listener.reportedCompletion())
        {
            EXPECT_TRUE (allArrived);
        }
    }

    // The update was aborted: it says so, it stops, nothing more leaves, and a reset recovers.
    void expectAbortedAndSilent()
    {
        EXPECT_TRUE (reported ("status 1 4"));
        EXPECT_TRUE (reported ("status 3 4"));
        EXPECT_TRUE (reported ("status 0 4"));
        EXPECT_FALSE (listener.reportedCompletion());
        EXPECT_FALSE (TransferDriver::anyRunning (*controller));
        ASSERT_GE (abortWatch.sentAtAbort, 0);

        TransferDriver::run (*controller);
        pumpMessagesUntil ([] { return false; }, 20); // any timer that still ran would tick here
        EXPECT_EQ ((int) system.getSentMessages().size(), abortWatch.sentAtAbort);
        EXPECT_TRUE (controller->isUpdating());

        controller->reset();
        EXPECT_FALSE (controller->isUpdating());
        EXPECT_TRUE (controller->getSenders().isEmpty());
    }

    InMemoryMidiSystem system;
    MidiManager manager { system };
    Catalogue catalogue { matrixSizes };
    RecordingControllerListener listener;
    AbortWatch abortWatch { system };
    std::unique_ptr<Controller> controller;
};

/** Sends a message to each port every millisecond, from a thread of its own, as a chatty device would. */
struct ChattyDevice
{
    ChattyDevice (InMemoryMidiSystem& system, std::function<juce::MidiMessage (int port, int n)> makeMessage)
        : thread (
              [&system, makeMessage, this]
              {
                  for (int n = 0; ! stopping; ++n)
                  {
                      for (int port = 0; port < 3; ++port)
                          system.sendFromDevice (devicePorts[port], makeMessage (port, n));
                      ++sent;
                      std::this_thread::sleep_for (std::chrono::milliseconds (1));
                  }
              })
    {
    }

    ~ChattyDevice()
    {
        stopping = true;
        thread.join();
    }

    std::atomic<bool> stopping { false };
    std::atomic<int> sent { 0 };
    std::thread thread;
};

juce::MidiMessage replyFor (int port)
{
    return makeIdentityReply ((juce::uint8) (port * 0x10), { 0, 0, 2, (juce::uint8) port });
}
} // namespace

TEST_F (FaultMatrixTest, APortMissingBeforeTheStartAbortsWithoutSendingAPiece)
{
    for (const auto* missing : devicePorts)
    {
        for (const auto caspiaMode : { false, true })
        {
            SCOPED_TRACE (juce::String (missing) + (caspiaMode ? ", Caspia Mode" : ", full update"));
            system.addKxDevice();
            createController();
            system.removePorts (missing);
            abortWatch.sentAtAbort = -1;

            caspiaMode ? controller->startCaspiaModeUpdate() : controller->startUpdate();

            EXPECT_EQ (abortWatch.sentAtAbort, 0);
            EXPECT_EQ (listener.texts ("running"), std::vector<juce::String> ({ "running 1" }));
            expectAbortedAndSilent();
            expectNoUnfoundedCompletion (caspiaMode);

            manager.closeAll();
            controller.reset();
            system.removePorts ("KX Control");
            system.removePorts ("KX Audio");
            system.removePorts ("KX Graphics");
        }
    }
}

// The port of each image goes, in the middle of the image or after its last piece and
// before the tick that would complete it.
TEST_F (FaultMatrixTest, APortLostDuringAnyImageAborts)
{
    for (const auto& image : imagesOnPorts)
    {
        for (const auto afterLastPiece : { false, true })
        {
            SCOPED_TRACE ("image " + juce::String (image.code) +
                          (afterLastPiece ? ", after its last piece" : ", midway"));
            system.addKxDevice();
            createController();
            abortWatch.sentAtAbort = -1;
            controller->startUpdate();

            const auto size = catalogue.bytes[(size_t) image.catalogueIndex].size();
            const auto target = (size_t) image.firstByteOnPort + (afterLastPiece ? size : size / 2);
            TransferDriver::run (*controller, 100000, [&] { return bytesOnPort (image.port) >= target; });
            ASSERT_EQ (bytesOnPort (image.port), target);
            ASSERT_TRUE (TransferDriver::anyRunning (*controller));
            ASSERT_FALSE (reported ("status " + juce::String (image.code) + " 2"));

            system.removePorts (image.port);
            TransferDriver::run (*controller, 1);

            expectNoUnfoundedCompletion();
            expectAbortedAndSilent();

            manager.closeAll();
            controller.reset();
            system.removePorts ("KX Control");
            system.removePorts ("KX Audio");
            system.removePorts ("KX Graphics");
        }
    }
}

TEST_F (FaultMatrixTest, APortLostWhilePiecesLeaveFromThePacingThreadsAborts)
{
    system.addKxDevice();
    createController (false);
    controller->startUpdate();
    ASSERT_TRUE (pumpMessagesUntil ([&] { return bytesOnPort ("KX Graphics") >= 256 * 10; }));

    system.removePorts ("KX Graphics");
    ASSERT_TRUE (pumpMessagesUntil ([&] { return reported ("status 0 4"); }));
    const auto sentAtAbort = system.getSentMessages().size();
    pumpMessagesUntil ([] { return false; }, 30);

    EXPECT_EQ (system.getSentMessages().size(), sentAtAbort);
    EXPECT_FALSE (TransferDriver::anyRunning (*controller));
    expectNoUnfoundedCompletion();
}

// Two images that send their last pieces on the same tick: the second one's port goes
// before the tick that would complete it. The first one's completion is not the update's.
TEST_F (FaultMatrixTest, AnUpdateIsNotFinishedWhileAnImageHasStillToComplete)
{
    catalogue.build ({ 256 * 20, 256 * 20, 256 * 8, 256 * 8, 256 * 5 });
    system.addKxDevice();
    createController();
    controller->startCaspiaModeUpdate();

    TransferDriver::run (*controller, 20);
    ASSERT_EQ (bytesOnPort ("KX Audio"), 256u * 20);
    ASSERT_EQ (bytesOnPort ("KX Graphics"), 256u * 20);

    system.removePorts ("KX Graphics");
    TransferDriver::run (*controller, 1);

    EXPECT_TRUE (reported ("status 1 2"));
    EXPECT_FALSE (reported ("status 3 2"));
    expectNoUnfoundedCompletion (true);
    expectAbortedAndSilent();
}

TEST_F (FaultMatrixTest, TheLastPieceOfAnUpdateIsNotYetItsCompletion)
{
    system.addKxDevice();
    createController();
    controller->startUpdate();

    // Audio Assets ends last; its last piece makes the count of pieces sent a multiple of 20.
    const auto& last = imagesOnPorts[3];
    const auto all = (size_t) last.firstByteOnPort + catalogue.bytes[3].size();
    TransferDriver::run (*controller, 100000, [&] { return bytesOnPort ("KX Audio") == all; });
    EXPECT_FALSE (listener.reportedCompletion());

    TransferDriver::run (*controller);
    EXPECT_TRUE (reported ("status 2 2"));
    const auto progress = listener.progress();
    EXPECT_EQ (progress.back(), 1.0);
    EXPECT_EQ (std::count (progress.begin(), progress.end(), 1.0), 1);
    expectNoUnfoundedCompletion();
}

TEST_F (FaultMatrixTest, ThePortsLostDuringTheVersionQueryAreClosedAndReopenedWhenTheyReappear)
{
    system.addKxDevice();
    createController();

    {
        ChattyDevice device (system, [] (int port, int) { return replyFor (port); });
        ASSERT_TRUE (pumpMessagesUntil ([&] { return listener.texts ("current").size() >= 30; }));

        // Unplugged while replies are being delivered: the poll closes every port.
        system.removePorts ("KX Audio");
        controller->timerCallback();
        for (const auto* port : devicePorts)
        {
            EXPECT_EQ (system.getNumOpenInputs (port), 0) << port;
            EXPECT_EQ (system.getNumOpenOutputs (port), 0) << port;
        }

        system.waitUntilDelivered();
        listener.clear();
        pumpMessagesUntil ([] { return false; }, 30);
        EXPECT_TRUE (listener.texts ("current").empty());

        // The port comes back; once the query is armed again (a reset does that), the next
        // poll opens everything again and the replies are read once more.
        system.addPort ("KX Audio");
        controller->setVersionQueryPending (true);
        controller->timerCallback();
        EXPECT_TRUE (pumpMessagesUntil ([&] { return reported ("current 1 0.0.2.1"); }));
    }

    system.waitUntilDelivered();
    const auto reports = listener.allReports();
    for (const auto& r : reports)
    {
        if (! r.text.startsWith ("current"))
            continue;
        EXPECT_FALSE (r.onMessageThread);
        EXPECT_TRUE (r.messageManagerLocked);
    }
}

TEST_F (FaultMatrixTest, ADeviceThatReturnsAfterAnAbortCanBeUpdatedAgain)
{
    system.addKxDevice();
    createController();
    controller->startCaspiaModeUpdate();
    TransferDriver::run (*controller, 10);
    system.removePorts ("KX Graphics");
    TransferDriver::run (*controller, 1);
    expectAbortedAndSilent(); // ends with the reset

    controller->timerCallback(); // sees the device missing and closes its ports
    system.addPort ("KX Graphics");
    system.clearSentMessages();
    listener.clear();
    controller->startCaspiaModeUpdate();
    TransferDriver::run (*controller);

    EXPECT_EQ (system.getBytesSent ("KX Graphics"), catalogue.bytes[1]);
    EXPECT_EQ (system.getBytesSent ("KX Audio"), catalogue.bytes[0]);
    EXPECT_EQ (listener.progress().back(), 1.0);
}

// The device goes and comes back while the abort notice is up, when the poll does not look:
// after the reset the poll must not keep asking through the ports of the device that went.
TEST_F (FaultMatrixTest, ADeviceThatReturnsWhileAnUpdateIsHaltedIsAskedForItsVersionsAgain)
{
    system.addKxDevice();
    system.setSendHook (
        [this] (const InMemoryMidiSystem::SentMessage& sent)
        {
            if (sent.bytes == identityRequestBytes && sent.portName == "KX Audio")
                system.sendFromDevice ("KX Audio", replyFor (1));
        });
    createController();
    controller->startCaspiaModeUpdate();
    TransferDriver::run (*controller, 10);
    system.removePorts ("KX Audio");
    TransferDriver::run (*controller, 1);
    controller->timerCallback(); // halted: the poll does nothing
    system.addPort ("KX Audio");

    controller->reset();
    listener.clear();
    controller->timerCallback();
    EXPECT_TRUE (pumpMessagesUntil ([&] { return reported ("current 1 0.0.2.1"); }, 2000));
    system.setSendHook ({});
}

TEST_F (FaultMatrixTest, TwoDevicesWithTheSameNamesAreBothAskedAndBothWritten)
{
    system.addKxDevice();
    system.addKxDevice();
    createController();

    controller->setVersionQueryPending (true);
    controller->timerCallback();
    for (const auto* port : devicePorts)
    {
        EXPECT_EQ (system.getNumOpenInputs (port), 2) << port;
        EXPECT_EQ (system.getNumOpenOutputs (port), 2) << port;
    }

    system.sendFromDevice ("KX Graphics", replyFor (2));
    ASSERT_TRUE (pumpMessagesUntil ([&] { return listener.texts ("current").size() == 2; }));

    system.clearSentMessages();
    controller->startCaspiaModeUpdate();
    TransferDriver::run (*controller);

    // Every piece went to both devices, one after the other.
    const auto sent = system.getSentMessages ("KX Audio");
    ASSERT_EQ (sent.size(), 2u * 30);
    for (size_t i = 0; i + 1 < sent.size(); i += 2)
    {
        EXPECT_NE (sent[i].portId, sent[i + 1].portId);
        EXPECT_EQ (sent[i].bytes, sent[i + 1].bytes);
    }
    EXPECT_EQ (listener.progress().back(), 1.0);
}

// One of two devices of the same names goes away: its name is still listed, by the other,
// but the pieces meant for it now reach nothing, so the update is not complete.
TEST_F (FaultMatrixTest, OneOfTwoDevicesWithTheSameNamesLostMidUpdateAborts)
{
    system.addKxDevice();
    const auto secondAudioPort = system.addPort ("KX Audio");
    system.addPort ("KX Graphics");
    system.addPort ("KX Control");
    createController();
    controller->startCaspiaModeUpdate();
    TransferDriver::run (*controller, 10);

    system.removePort (secondAudioPort);
    TransferDriver::run (*controller, 1);

    EXPECT_EQ (system.getNumLostMessages(), 0);
    expectAbortedAndSilent();
}

TEST_F (FaultMatrixTest, IdentityRepliesAtOneKilohertzWhileIdleAndDuringAnUpdate)
{
    system.addKxDevice();
    createController (false);     // the senders' own pacing threads
    controller->startTimer (100); // and the real poll, beside the replies

    ChattyDevice device (system, [] (int port, int) { return replyFor (port); });
    ASSERT_TRUE (pumpMessagesUntil ([&] { return listener.texts ("current").size() >= 100; }));

    // The update closes the inputs: nothing the device says is read until it is over.
    controller->startCaspiaModeUpdate();
    const auto repliesAtStart = listener.texts ("current").size();
    ASSERT_TRUE (pumpMessagesUntil ([&] { return ! TransferDriver::anyRunning (*controller); }));
    const auto sentAtEnd = device.sent.load();
    ASSERT_TRUE (pumpMessagesUntil ([&] { return device.sent >= sentAtEnd + 50; }));

    EXPECT_EQ (listener.texts ("current").size(), repliesAtStart);
    EXPECT_EQ (system.getBytesSent ("KX Audio"), catalogue.bytes[0]);
    EXPECT_EQ (system.getBytesSent ("KX Graphics"), catalogue.bytes[1]);
    EXPECT_EQ (system.getBytesSent ("KX Control"), catalogue.bytes[4]);
    EXPECT_EQ (listener.progress().back(), 1.0);

    // Reset: the poll opens the ports again and the replies are read once more.
    controller->reset();
    EXPECT_TRUE (pumpMessagesUntil ([&] { return listener.texts ("current").size() > repliesAtStart; }));
    controller->stopTimer();
}

TEST_F (FaultMatrixTest, GarbageOnEveryInputIsIgnoredAndAReplyAmongItStillCounts)
{
    system.addKxDevice();
    createController();

    {
        std::mt19937 random (8);
        std::mutex randomMutex;
        ChattyDevice device (system,
                             [&] (int, int)
                             {
                                 const std::lock_guard<std::mutex> guard (randomMutex);
                                 std::vector<juce::uint8> bytes (1 + random() % 64);
                                 for (auto& b : bytes)
                                     b = (juce::uint8) random();
                                 if (random() % 2 == 0)
                                     bytes[0] = 0xF0; // SysEx of any length and header
                                 return juce::MidiMessage (bytes.data(), (int) bytes.size(), 0.0);
                             });
        pumpMessagesUntil ([&] { return device.sent >= 300; });
        system.sendFromDevice ("KX Control", makeIdentityReply (0x00, { 0, 0, 3, 6 }));
        pumpMessagesUntil ([&] { return device.sent >= 400; });
    }

    system.waitUntilDelivered();
    EXPECT_EQ (listener.texts ("current"), std::vector<juce::String> ({ "current 0 0.0.3.6" }));
}

TEST_F (FaultMatrixTest, QuittingDuringAnUpdateStopsEverythingAndReportsNothingMore)
{
    system.addKxDevice();
    createController (false); // pieces leave from the senders' pacing threads meanwhile
    ChattyDevice device (system, [] (int port, int) { return replyFor (port); });
    controller->startUpdate();
    ASSERT_TRUE (pumpMessagesUntil ([&] { return system.getSentMessages().size() >= 40; }));

    // The application asks before it quits, then closes the manager and deletes the controller.
    // Pieces still leave until the manager is closed; none may leave after it.
    EXPECT_TRUE (controller->isUpdating());
    listener.clear();
    manager.closeAll();
    const auto sent = system.getSentMessages().size();
    controller.reset();
    pumpMessagesUntil ([] { return false; }, 20);

    EXPECT_EQ (system.getSentMessages().size(), sent);
    EXPECT_TRUE (listener.allReports().empty());
    EXPECT_TRUE (listener.progress().empty());
}

// From each state the controller can be in, a reset returns it to watching, silently apart
// from its two reports, and the next update runs whole.
TEST_F (FaultMatrixTest, AResetFromEveryStateRecovers)
{
    struct Case
    {
        const char* state;
        std::function<void (FaultMatrixTest&)> reach;
    };

    const Case cases[] = {
        { "watching, query pending", [] (FaultMatrixTest&) {} },
        { "watching, versions read",
          [] (FaultMatrixTest& t)
          {
              t.system.sendFromDevice ("KX Audio", replyFor (1));
              t.system.waitUntilDelivered();
          } },
        { "watching, device missing",
          [] (FaultMatrixTest& t)
          {
              t.system.removePorts ("KX Control");
              t.controller->timerCallback();
              t.system.addPort ("KX Control");
          } },
        { "update dialog open", [] (FaultMatrixTest& t) { t.controller->setVersionQueryPending (false); } },
        { "transferring, full update",
          [] (FaultMatrixTest& t)
          {
              t.controller->startUpdate();
              TransferDriver::run (*t.controller, 35);
          } },
        { "transferring, Caspia Mode",
          [] (FaultMatrixTest& t)
          {
              t.controller->startCaspiaModeUpdate();
              TransferDriver::run (*t.controller, 3);
          } },
        { "finished",
          [] (FaultMatrixTest& t)
          {
              t.controller->startCaspiaModeUpdate();
              TransferDriver::run (*t.controller);
          } },
        { "halted by a lost port",
          [] (FaultMatrixTest& t)
          {
              t.controller->startUpdate();
              TransferDriver::run (*t.controller, 5);
              t.system.removePorts ("KX Audio");
              TransferDriver::run (*t.controller, 1);
              t.controller->timerCallback();
              t.system.addPort ("KX Audio");
          } },
        { "halted at the start",
          [] (FaultMatrixTest& t)
          {
              t.system.removePorts ("KX Audio");
              t.controller->startUpdate();
              t.system.addPort ("KX Audio");
          } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.state);
        system.addKxDevice();
        createController();
        c.reach (*this);

        listener.clear();
        const auto sentBeforeReset = system.getSentMessages().size();
        controller->reset();

        EXPECT_FALSE (controller->isUpdating());
        EXPECT_TRUE (controller->getSenders().isEmpty());
        EXPECT_EQ (listener.texts(), std::vector<juce::String> ({ "running 0" }));
        EXPECT_EQ (listener.progress(), std::vector<double> ({ 0.0 }));
        pumpMessagesUntil ([] { return false; }, 10);
        EXPECT_EQ (system.getSentMessages().size(), sentBeforeReset);

        // Back to watching: the ports of a missing device are closed on the next poll.
        controller->timerCallback();
        system.clearSentMessages();
        listener.clear();
        controller->startCaspiaModeUpdate();
        TransferDriver::run (*controller);
        EXPECT_EQ (system.getBytesSent ("KX Audio"), catalogue.bytes[0]);
        EXPECT_EQ (system.getBytesSent ("KX Graphics"), catalogue.bytes[1]);
        EXPECT_EQ (system.getBytesSent ("KX Control"), catalogue.bytes[4]);
        EXPECT_EQ (listener.progress().back(), 1.0);

        manager.closeAll();
        controller.reset();
        system.removePorts ("KX Control");
        system.removePorts ("KX Audio");
        system.removePorts ("KX Graphics");
    }
}
