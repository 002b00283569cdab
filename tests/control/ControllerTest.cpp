#include "control/Controller.h"

#include "tests/support/DeviceMessages.h"
#include "tests/support/InMemoryMidiSystem.h"
#include "tests/support/RecordingControllerListener.h"
#include "tests/support/TestCatalogue.h"
#include "tests/support/TransferDriver.h"

#include <gtest/gtest.h>
#include <mutex>

namespace
{
using RecordingListener = RecordingControllerListener;
using Texts = std::vector<juce::String>;

struct ControllerTest : ::testing::Test
{
    void TearDown() override
    {
        // As the application does: the manager is closed before the controller goes.
        manager.closeAll();
        controller.reset();
    }

    void createController()
    {
        controller = std::make_unique<Controller> (manager, catalogue.images);
        TransferDriver::tickByHand (*controller);
    }

    int countIdentityRequests (const juce::String& port)
    {
        int count = 0;
        for (const auto& m : system.getSentMessages (port))
            count += m.bytes == identityRequestBytes ? 1 : 0;
        return count;
    }

    void runTransfers (int maxRounds = 1000000) { TransferDriver::run (*controller, maxRounds); }

    std::vector<juce::uint8> joined (std::initializer_list<int> imageIndexes)
    {
        return catalogue.joined (imageIndexes);
    }

    InMemoryMidiSystem system;
    MidiManager manager { system };
    Catalogue catalogue;
    RecordingListener listener;
    std::unique_ptr<Controller> controller;
};
} // namespace

TEST_F (ControllerTest, QueriesAPresentDeviceFromConstructionUntilItsFirstReply)
{
    system.addKxDevice();
    createController();

    for (const auto* port : { "KX Control", "KX Audio", "KX Graphics" })
    {
        EXPECT_EQ (countIdentityRequests (port), 2) << port;
        EXPECT_TRUE (manager.isInputOpen (port));
        EXPECT_TRUE (manager.isOutputOpen (port));
    }

    controller->addListener (&listener);
    EXPECT_EQ (listener.texts(), Texts ({ "available 0 0.0.3.6", "available 1 0.0.2.5", "available 2 0.0.2.5" }));

    listener.clear();
    controller->timerCallback();
    EXPECT_EQ (listener.texts(), Texts ({ "detected 1" }));
    EXPECT_EQ (countIdentityRequests ("KX Control") + countIdentityRequests ("KX Audio") +
                   countIdentityRequests ("KX Graphics"),
               12);

    system.sendFromDevice ("KX Audio", makeIdentityReply (0x10, { 1, 12, 3, 4 }));
    ASSERT_TRUE (pumpMessagesUntil ([&] { return ! listener.texts ("current").empty(); }));
    EXPECT_EQ (listener.texts ("current"), Texts ({ "current 1 1.12.3.4" }));
    EXPECT_FALSE (listener.reports.back().onMessageThread);

    system.clearSentMessages();
    controller->timerCallback();
    EXPECT_TRUE (system.getSentMessages().empty());
}

TEST_F (ControllerTest, AcceptsOnlyWellFormedIdentityReplies)
{
    system.addKxDevice();
    createController();
    controller->addListener (&listener);

    struct Case
    {
        juce::MidiMessage reply;
        bool answersQuery;
        const char* report;
    };

    const Case cases[] = {
        { makeIdentityReply (0x00, { 0, 0, 3, 6 }, 34), false, nullptr },
        { makeIdentityReply (0x00, { 0, 0, 3, 6 }, 36), false, nullptr },
        { makeIdentityReply (0x00, { 0, 0, 3, 6 }, 35, 0x7F), false, nullptr },
        { juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), false, nullptr },
        { makeIdentityReply (0x30, { 0, 0, 3, 6 }), true, nullptr },
        { makeIdentityReply (0x00, { 0, 0, 3, 6 }), true, "current 0 0.0.3.6" },
        { makeIdentityReply (0x20, { 0, 0, 2, 5 }), true, "current 2 0.0.2.5" },
        { makeIdentityReply (0x10, { 10, 0, 99, 10 }), true, "current 1 10.0.99.10" },
    };

    for (const auto& c : cases)
    {
        controller->setVersionQueryPending (true);
        listener.clear();
        system.sendFromDevice ("KX Control", c.reply);
        system.waitUntilDelivered();

        system.clearSentMessages();
        controller->timerCallback();
        const auto asked = ! system.getSentMessages().empty();
        EXPECT_EQ (asked, ! c.answersQuery) << c.reply.getDescription();
        const auto current = listener.texts ("current");
        if (c.report == nullptr)
            EXPECT_TRUE (current.empty());
        else
            EXPECT_EQ (current, Texts ({ c.report }));
    }
}

TEST_F (ControllerTest, AMissingDeviceIsReportedAndItsPortsClosedOnEveryPoll)
{
    system.addKxDevice();
    createController();
    controller->addListener (&listener);
    system.removePorts ("KX Graphics");

    listener.clear();
    controller->timerCallback();
    controller->timerCallback();

    EXPECT_EQ (listener.texts(), Texts ({ "detected 0", "detected 0" }));
    for (const auto* port : { "KX Control", "KX Audio", "KX Graphics" })
    {
        EXPECT_FALSE (manager.isInputOpen (port));
        EXPECT_FALSE (manager.isOutputOpen (port));
    }
}

TEST_F (ControllerTest, CaspiaModeSendsTheThreeApplicationImagesAtOnce)
{
    system.addKxDevice();
    createController();
    controller->addListener (&listener);
    system.clearSentMessages();
    listener.clear();

    controller->startCaspiaModeUpdate();

    EXPECT_EQ (controller->getSenders().size(), 3);
    EXPECT_EQ (
        listener.texts(),
        Texts ({ "status 1 0", "status 3 0", "status 0 0", "status 1 1", "status 3 1", "status 0 1", "running 1" }));
    EXPECT_TRUE (controller->isUpdating());

    runTransfers();

    EXPECT_EQ (system.getBytesSent ("KX Audio"), joined ({ 0 }));
    EXPECT_EQ (system.getBytesSent ("KX Graphics"), joined ({ 1 }));
    EXPECT_EQ (system.getBytesSent ("KX Control"), joined ({ 4 }));
    EXPECT_EQ (system.getSentMessages().size(), 5695u);
    ASSERT_EQ (listener.progressReports.size(), 5695u / 20 + 1);
    EXPECT_EQ (listener.progressReports.back(), 1.0);
    EXPECT_TRUE (controller->isUpdating());
}

TEST_F (ControllerTest, AFullUpdateWritesEveryImageToItsPortInOrder)
{
    system.addKxDevice();
    createController();
    controller->addListener (&listener);
    system.clearSentMessages();
    listener.clear();

    controller->startUpdate();
    EXPECT_EQ (controller->getSenders().size(), 5);
    EXPECT_EQ (listener.texts ("status"),
               Texts ({ "status 1 0", "status 3 0", "status 0 0", "status 1 1", "status 3 1", "status 0 1" }));

    runTransfers();

    EXPECT_EQ (system.getBytesSent ("KX Audio"), joined ({ 0, 3 }));
    EXPECT_EQ (system.getBytesSent ("KX Graphics"), joined ({ 1, 2 }));
    EXPECT_EQ (system.getBytesSent ("KX Control"), joined ({ 4 }));
    EXPECT_EQ (system.getSentMessages().size(), 70277u);

    // Each asset image starts as the application image on its port completes, graphics first.
    const auto statuses = listener.texts ("status");
    const auto at = [&] (const char* text)
    { return std::find (statuses.begin(), statuses.end(), juce::String (text)) - statuses.begin(); };
    EXPECT_EQ (at ("status 4 1"), at ("status 3 2") + 1);
    EXPECT_EQ (at ("status 2 1"), at ("status 1 2") + 1);
    EXPECT_LT (at ("status 3 2"), at ("status 1 2"));
    EXPECT_EQ (statuses.back(), "status 2 2");

    const auto& progress = listener.progressReports;
    ASSERT_EQ (progress.size(), 70277u / 20 + 1);
    for (size_t i = 0; i + 1 < progress.size(); ++i)
        EXPECT_DOUBLE_EQ (progress[i], (double) ((i + 1) * 20) / 70277.0);
    EXPECT_EQ (progress.back(), 1.0);

    for (const auto* port : { "KX Control", "KX Audio", "KX Graphics" })
    {
        EXPECT_EQ (system.getNumOpenInputs (port), 0);
        EXPECT_EQ (system.getNumOpenOutputs (port), 0);
    }
    EXPECT_TRUE (controller->isUpdating());
}

TEST_F (ControllerTest, APortMissingAtTheStartAbortsOncePerImageOnIt)
{
    system.addPort ("KX Control");
    system.addPort ("KX Audio");
    system.addPort ("KX Graphics", true, false);
    createController();
    controller->addListener (&listener);
    system.clearSentMessages();
    listener.clear();

    controller->startUpdate();

    EXPECT_EQ (listener.texts(),
               Texts ({ "status 1 0",
                        "status 3 0",
                        "status 0 0",
                        "status 1 4",
                        "status 3 4",
                        "status 0 4",
                        "status 1 4",
                        "status 3 4",
                        "status 0 4",
                        "running 1" }));
    runTransfers();
    EXPECT_TRUE (system.getSentMessages().empty());
    EXPECT_TRUE (controller->isUpdating());
}

TEST_F (ControllerTest, APortLostMidTransferStopsEverySenderAndNothingMoreIsSent)
{
    system.addKxDevice();
    createController();
    controller->addListener (&listener);
    controller->startUpdate();
    runTransfers (100);

    system.removePorts ("KX Audio");
    listener.clear();
    runTransfers (1);
    const auto sentAtAbort = system.getSentMessages().size();

    EXPECT_EQ (listener.texts(), Texts ({ "status 1 4", "status 3 4", "status 0 4" }));
    for (auto* sender : controller->getSenders())
        EXPECT_FALSE (sender->isRunning());

    runTransfers();
    EXPECT_EQ (system.getSentMessages().size(), sentAtAbort);
    EXPECT_TRUE (controller->isUpdating());

    listener.clear();
    controller->reset();
    EXPECT_EQ (listener.texts(), Texts ({ "running 0" }));
    EXPECT_EQ (listener.progressReports, std::vector<double> ({ 0.0 }));
    EXPECT_FALSE (controller->isUpdating());
}

TEST_F (ControllerTest, ResetWhileRunningEndsTheTransferSilently)
{
    system.addKxDevice();
    createController();
    controller->addListener (&listener);
    controller->startCaspiaModeUpdate();
    runTransfers (50);
    const auto sent = system.getSentMessages().size();

    listener.clear();
    controller->reset();

    EXPECT_TRUE (controller->getSenders().isEmpty());
    EXPECT_EQ (listener.texts(), Texts ({ "running 0" }));
    pumpMessagesUntil ([] { return false; }, 30);
    EXPECT_EQ (system.getSentMessages().size(), sent);

    // A reset re-arms the version query.
    system.clearSentMessages();
    controller->timerCallback();
    EXPECT_EQ (countIdentityRequests ("KX Audio"), 2);
}

TEST_F (ControllerTest, AStartWhileAnUpdateIsUnresetDoesNotRunASecondTransfer)
{
    system.addKxDevice();
    createController();
    system.clearSentMessages();
    controller->startCaspiaModeUpdate();
    controller->startUpdate();

    EXPECT_EQ (controller->getSenders().size(), 3);
    runTransfers();
    EXPECT_EQ (system.getBytesSent ("KX Audio"), joined ({ 0 }));
}

TEST_F (ControllerTest, AnAssetImageNeverStartsOnAPortStillBusyWithItsApplicationImage)
{
    // The audio application image finishes first here, the opposite of the images carried.
    catalogue.build ({ 256 * 10, 256 * 20, 256 * 5, 256 * 5, 256 * 3 });
    system.addKxDevice();
    createController();
    system.clearSentMessages();

    controller->startUpdate();
    runTransfers();

    EXPECT_EQ (system.getBytesSent ("KX Audio"), joined ({ 0, 3 }));
    EXPECT_EQ (system.getBytesSent ("KX Graphics"), joined ({ 1, 2 }));
    EXPECT_EQ (system.getBytesSent ("KX Control"), joined ({ 4 }));
    for (auto* sender : controller->getSenders())
        EXPECT_TRUE (sender->isCompleted()) << sender->getFirmwareName();
}
