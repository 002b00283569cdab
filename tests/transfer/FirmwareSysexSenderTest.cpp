#include "transfer/FirmwareSysexSender.h"

#include "tests/support/InMemoryMidiSystem.h"
#include "tests/support/TransferDriver.h"

#include <gtest/gtest.h>

namespace
{
struct Event
{
    juce::String word;
    bool sending;
    bool completed;
    bool timerRunning;
    size_t messagesSent;
    bool onMessageThread;
};

struct RecordingListener final : FirmwareSysexSender::Listener
{
    explicit RecordingListener (InMemoryMidiSystem& s) : system (s) {}

    void sysexSenderEvent (FirmwareSysexSender* sender, const juce::String& event) override
    {
        events.push_back ({ event,
                            sender->isSending(),
                            sender->isCompleted(),
                            sender->isRunning(),
                            system.getSentMessages().size(),
                            juce::MessageManager::getInstance()->isThisTheMessageThread() });
    }

    std::vector<juce::String> words() const
    {
        std::vector<juce::String> result;
        for (const auto& e : events)
            result.push_back (e.word);
        return result;
    }

    InMemoryMidiSystem& system;
    std::vector<Event> events;
};

std::vector<juce::uint8> makeSysex (int size)
{
    std::vector<juce::uint8> bytes ((size_t) size, 0x41);
    if (size > 0)
    {
        bytes.front() = 0xF0;
        bytes.back() = 0xF7;
    }
    for (int i = 1; i < size - 1; ++i)
        bytes[(size_t) i] = (juce::uint8) (i % 0x80);
    return bytes;
}

struct SenderTest : ::testing::Test
{
    void useImage (int size)
    {
        bytes = makeSysex (size);
        image = std::make_unique<FirmwareImage> (bytes.data(), size, 256, 3, "KX Audio", "Audio Application Firmware");
    }

    void TearDown() override { manager.closeAll(); }

    InMemoryMidiSystem system;
    MidiManager manager { system };
    RecordingListener listener { system };
    std::vector<juce::uint8> bytes;
    std::unique_ptr<FirmwareImage> image;
};

using Words = std::vector<juce::String>;

// The message thread's timer, which the tests also call by hand.
constexpr auto byHand = FirmwareSysexSender::Pacing::messageThreadTimer;
} // namespace

TEST_F (SenderTest, SendsEachPieceOnItsOwnTickThenCompletesOnTheNext)
{
    system.addPort ("KX Audio");
    useImage (513);
    FirmwareSysexSender sender (image.get(), &manager, &listener, byHand);

    sender.start();
    ASSERT_EQ (listener.words(), Words ({ "Started" }));
    EXPECT_TRUE (listener.events[0].sending);
    EXPECT_TRUE (sender.isRunning());
    EXPECT_EQ (sender.getTimerInterval(), 3);
    EXPECT_TRUE (manager.isOutputOpen ("KX Audio"));

    for (int tick = 0; tick < 3; ++tick)
        sender.timerCallback();

    const auto sent = system.getSentMessages ("KX Audio");
    ASSERT_EQ (sent.size(), 3u);
    EXPECT_EQ (sent[0].bytes.size(), 256u);
    EXPECT_EQ (sent[1].bytes.size(), 256u);
    EXPECT_EQ (sent[2].bytes.size(), 1u);
    EXPECT_EQ (system.getBytesSent ("KX Audio"), bytes);
    EXPECT_EQ (listener.words(), Words ({ "Started", "Chunk", "Chunk", "Chunk" }));
    EXPECT_FALSE (sender.isCompleted());

    sender.timerCallback();
    ASSERT_EQ (listener.words(), Words ({ "Started", "Chunk", "Chunk", "Chunk", "Complete" }));
    const auto& complete = listener.events.back();
    EXPECT_FALSE (complete.sending);
    EXPECT_TRUE (complete.completed);
    EXPECT_FALSE (complete.timerRunning);
    EXPECT_EQ (system.getSentMessages().size(), 3u);
}

TEST_F (SenderTest, AnEmptyImageCompletesAtTheFirstTickWithoutSending)
{
    system.addPort ("KX Audio");
    useImage (0);
    FirmwareSysexSender sender (image.get(), &manager, &listener, byHand);

    sender.start();
    sender.timerCallback();

    EXPECT_EQ (listener.words(), Words ({ "Started", "Complete" }));
    EXPECT_TRUE (system.getSentMessages().empty());
}

TEST_F (SenderTest, AVanishedPortStopsTheTransferWithErrorAndNothingMoreIsSent)
{
    const auto port = system.addPort ("KX Audio");
    useImage (2000);
    FirmwareSysexSender sender (image.get(), &manager, &listener, byHand);

    sender.start();
    sender.timerCallback();
    sender.timerCallback();
    system.removePort (port);
    sender.timerCallback();

    EXPECT_EQ (listener.words(), Words ({ "Started", "Chunk", "Chunk", "Error" }));
    const auto& error = listener.events.back();
    EXPECT_TRUE (error.sending);
    EXPECT_FALSE (error.completed);
    EXPECT_FALSE (error.timerRunning);
    EXPECT_EQ (system.getSentMessages().size(), 2u);
    EXPECT_EQ (system.getNumLostMessages(), 0);
}

TEST_F (SenderTest, APieceThatCouldNotBeDeliveredEndsTheTransferWithErrorNotComplete)
{
    // The first, a middle and the last of four pieces refused by the port.
    for (const int refused : { 0, 2, 3 })
    {
        SCOPED_TRACE (refused);
        InMemoryMidiSystem ownSystem;
        MidiManager ownManager { ownSystem };
        RecordingListener ownListener { ownSystem };
        ownSystem.addPort ("KX Audio");
        useImage (1000);
        FirmwareSysexSender sender (image.get(), &ownManager, &ownListener, byHand);

        sender.start();
        for (int tick = 0; tick < 6 && sender.isRunning(); ++tick)
        {
            ownSystem.setSendFails ("KX Audio", tick == refused);
            sender.timerCallback();
        }

        Words expected { "Started" };
        expected.insert (expected.end(), (size_t) refused + 1, "Chunk");
        expected.push_back ("Error");
        EXPECT_EQ (ownListener.words(), expected);
        EXPECT_FALSE (image->isCompleted());
        EXPECT_FALSE (sender.isRunning());
        EXPECT_EQ (ownSystem.getSentMessages().size(), (size_t) refused) << "nothing after the refused piece";
        EXPECT_EQ (ownSystem.getNumLostMessages(), 1);
        ownManager.closeAll();
    }
}

TEST_F (SenderTest, APacedSenderWhoseLastPieceIsRefusedReportsErrorNotComplete)
{
    system.addPort ("KX Audio");
    system.setSendFails ("KX Audio", true);
    useImage (200);
    FirmwareSysexSender sender (image.get(), &manager, &listener);

    sender.start();
    ASSERT_TRUE (pumpMessagesUntil ([&] { return ! sender.isRunning(); }));
    pumpMessagesUntil ([] { return false; }, 20);

    EXPECT_EQ (listener.words(), Words ({ "Started", "Chunk", "Error" }));
    EXPECT_FALSE (image->isCompleted());
    EXPECT_EQ (system.getNumLostMessages(), 1);
}

TEST_F (SenderTest, APortThatVanishesAfterTheLastPieceGivesErrorNotComplete)
{
    const auto port = system.addPort ("KX Audio");
    useImage (256);
    FirmwareSysexSender sender (image.get(), &manager, &listener, byHand);

    sender.start();
    sender.timerCallback();
    system.removePort (port);
    sender.timerCallback();

    EXPECT_EQ (listener.words(), Words ({ "Started", "Chunk", "Error" }));
    EXPECT_FALSE (image->isCompleted());
}

TEST_F (SenderTest, AListedPortWhoseOutputCouldNotBeOpenedIsAnErrorNotASilentSuccess)
{
    system.addPort ("KX Audio");
    system.setOpenFails ("KX Audio", true);
    useImage (600);
    FirmwareSysexSender sender (image.get(), &manager, &listener, byHand);

    sender.start();
    sender.timerCallback();

    EXPECT_EQ (listener.words(), Words ({ "Started", "Error" }));
    EXPECT_FALSE (sender.isRunning());
    EXPECT_FALSE (image->isCompleted());
}

TEST_F (SenderTest, StartClosesThePortsInputSoNothingIsReadDuringTheTransfer)
{
    system.addPort ("KX Audio");
    manager.openInput ("KX Audio");
    useImage (10);
    FirmwareSysexSender sender (image.get(), &manager, &listener, byHand);

    sender.start();

    EXPECT_FALSE (manager.isInputOpen ("KX Audio"));
    EXPECT_EQ (system.getNumOpenInputs ("KX Audio"), 0);
}

TEST_F (SenderTest, StopIsSilentAndALaterStartSendsFromTheFirstPieceAgain)
{
    system.addPort ("KX Audio");
    useImage (1000);
    FirmwareSysexSender sender (image.get(), &manager, &listener, byHand);

    sender.start();
    sender.timerCallback();
    sender.timerCallback();
    sender.stop();

    EXPECT_EQ (listener.words(), Words ({ "Started", "Chunk", "Chunk" }));
    EXPECT_FALSE (image->isSending());
    EXPECT_FALSE (sender.isRunning());

    system.clearSentMessages();
    sender.start();
    sender.timerCallback();
    EXPECT_EQ (listener.words(), Words ({ "Started", "Chunk", "Chunk", "Started", "Chunk" }));
    const auto sent = system.getSentMessages();
    ASSERT_EQ (sent.size(), 1u);
    EXPECT_EQ (sent[0].bytes.front(), 0xF0);
}

TEST_F (SenderTest, WorksWithoutAListenerAndWithoutAnImage)
{
    system.addPort ("KX Audio");
    useImage (300);
    FirmwareSysexSender quiet (image.get(), &manager, nullptr, byHand);
    quiet.start();
    quiet.timerCallback();
    quiet.timerCallback();
    quiet.timerCallback();
    EXPECT_EQ (system.getBytesSent ("KX Audio"), bytes);
    EXPECT_TRUE (quiet.isCompleted());

    FirmwareSysexSender empty (nullptr, &manager, &listener, byHand);
    EXPECT_EQ (empty.getFirmwareName(), juce::String());
    EXPECT_FALSE (empty.isCompleted());
    EXPECT_FALSE (empty.isSending());
    empty.start();
    empty.timerCallback();
    EXPECT_TRUE (listener.events.empty());
}

TEST_F (SenderTest, RunsOnTheMessageLoopWithARealTimer)
{
    system.addPort ("KX Audio");
    useImage (256 * 20 + 7);
    FirmwareSysexSender sender (image.get(), &manager, &listener, byHand);

    sender.start();
    const auto deadline = juce::Time::getMillisecondCounter() + 10000;
    while (! image->isCompleted() && juce::Time::getMillisecondCounter() < deadline)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (5);

    ASSERT_TRUE (image->isCompleted());
    EXPECT_EQ (system.getBytesSent ("KX Audio"), bytes);
    EXPECT_EQ (listener.words().size(), 1u + 21u + 1u);
    EXPECT_EQ (listener.words().back(), "Complete");
}

TEST_F (SenderTest, APacingThreadKeepsTheIntervalAndReportsEachPieceAfterItLeft)
{
    system.addPort ("KX Audio");
    useImage (256 * 59 + 100);
    FirmwareSysexSender sender (image.get(), &manager, &listener);

    sender.start();
    ASSERT_TRUE (pumpMessagesUntil ([&] { return image->isCompleted(); }));

    EXPECT_EQ (system.getBytesSent ("KX Audio"), bytes);
    Words expected { "Started" };
    expected.insert (expected.end(), 60, "Chunk");
    expected.push_back ("Complete");
    EXPECT_EQ (listener.words(), expected);
    EXPECT_FALSE (sender.isRunning());

    for (size_t i = 0; i < listener.events.size(); ++i)
    {
        EXPECT_TRUE (listener.events[i].onMessageThread);
        if (listener.words()[i] == "Chunk")
        {
            EXPECT_GE (listener.events[i].messagesSent, i);
        }
    }

    const auto sent = system.getSentMessages ("KX Audio");
    for (size_t i = 1; i < sent.size(); ++i)
        EXPECT_GE (sent[i].timeMs - sent[i - 1].timeMs, 3.0) << "piece " << i;
}

TEST_F (SenderTest, OnceAPacedSenderIsStoppedNoPieceLeavesAndNothingIsReported)
{
    system.addPort ("KX Audio");
    useImage (256 * 200);
    FirmwareSysexSender sender (image.get(), &manager, &listener);

    sender.start();
    ASSERT_TRUE (pumpMessagesUntil ([&] { return system.getSentMessages().size() >= 5; }));
    sender.stop();
    const auto sentAtStop = system.getSentMessages().size();
    const auto eventsAtStop = listener.events.size();

    pumpMessagesUntil ([] { return false; }, 50);
    EXPECT_EQ (system.getSentMessages().size(), sentAtStop);
    EXPECT_EQ (listener.events.size(), eventsAtStop);
    EXPECT_FALSE (image->isSending());
    EXPECT_FALSE (sender.isRunning());
}

TEST_F (SenderTest, APacedSenderReportsAVanishedPortAsAnErrorAndNeverAsComplete)
{
    const auto port = system.addPort ("KX Audio");
    useImage (256 * 200);
    FirmwareSysexSender sender (image.get(), &manager, &listener);

    sender.start();
    ASSERT_TRUE (pumpMessagesUntil ([&] { return system.getSentMessages().size() >= 5; }));
    system.removePort (port);
    ASSERT_TRUE (pumpMessagesUntil ([&] { return ! sender.isRunning(); }));
    pumpMessagesUntil ([] { return false; }, 20);

    EXPECT_EQ (listener.words().back(), "Error");
    EXPECT_FALSE (image->isCompleted());
    EXPECT_TRUE (image->isSending());
}
