#include "transfer/MidiManager.h"

#include "tests/support/InMemoryMidiSystem.h"
#include "tests/support/TransferDriver.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace
{
const juce::uint8 identityRequestBytes[] = { 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 };

juce::MidiMessage identityRequest()
{
    return juce::MidiMessage (identityRequestBytes, (int) sizeof (identityRequestBytes), 0.0);
}

struct RecordingListener final : MidiManager::Listener
{
    void midiMessageReceived (MidiSystem::Input* source, const juce::MidiMessage& message) override
    {
        const std::lock_guard<std::mutex> guard (mutex);
        sources.push_back (source != nullptr ? source->getName() : juce::String());
        messages.push_back (message);
        onMessageThread.push_back (juce::MessageManager::getInstance()->isThisTheMessageThread());
    }

    size_t count()
    {
        const std::lock_guard<std::mutex> guard (mutex);
        return messages.size();
    }

    std::mutex mutex;
    std::vector<juce::String> sources;
    std::vector<juce::MidiMessage> messages;
    std::vector<bool> onMessageThread;
};

struct MidiManagerTest : ::testing::Test
{
    InMemoryMidiSystem system;
    MidiManager manager { system };
};
} // namespace

TEST_F (MidiManagerTest, WithoutTheDeviceNothingIsPresentOpenedOrSent)
{
    for (const auto* name : { "KX Control", "KX Audio", "KX Graphics" })
    {
        EXPECT_FALSE (manager.isInputPresent (name));
        EXPECT_FALSE (manager.isOutputPresent (name));
        manager.openInput (name);
        manager.openOutput (name);
        EXPECT_FALSE (manager.isInputOpen (name));
        EXPECT_FALSE (manager.isOutputOpen (name));
        manager.sendMessage (name, identityRequest());
    }

    EXPECT_TRUE (system.getSentMessages().empty());
}

TEST_F (MidiManagerTest, MatchesPortNamesExactlyAndWithCase)
{
    system.addPort ("kx audio");
    system.addPort ("KX Audio 2");

    EXPECT_FALSE (manager.isOutputPresent ("KX Audio"));
    manager.openOutput ("KX Audio");
    EXPECT_FALSE (manager.isOutputOpen ("KX Audio"));
    EXPECT_EQ (system.getNumOpenOutputs ("kx audio"), 0);
}

TEST_F (MidiManagerTest, OpensSendsToAndClosesEveryOutputOfAName)
{
    const auto first = system.addPort ("KX Audio");
    const auto second = system.addPort ("KX Audio");
    system.addPort ("KX Graphics");

    manager.openOutput ("KX Audio");
    EXPECT_EQ (system.getNumOpenOutputs ("KX Audio"), 2);
    EXPECT_EQ (system.getNumOpenOutputs ("KX Graphics"), 0);

    manager.sendMessage ("KX Audio", identityRequest());
    const auto sent = system.getSentMessages();
    ASSERT_EQ (sent.size(), 2u);
    EXPECT_EQ (sent[0].portId, first);
    EXPECT_EQ (sent[1].portId, second);
    for (const auto& message : sent)
        EXPECT_EQ (message.bytes,
                   std::vector<juce::uint8> (std::begin (identityRequestBytes), std::end (identityRequestBytes)));

    manager.closeOutput ("KX Audio");
    EXPECT_FALSE (manager.isOutputOpen ("KX Audio"));
    EXPECT_EQ (system.getNumOpenOutputs ("KX Audio"), 0);
}

TEST_F (MidiManagerTest, OpeningAnOpenOutputAgainDoesNothingEvenIfAnotherPortOfTheNameAppeared)
{
    system.addPort ("KX Control");
    manager.openOutput ("KX Control");
    system.addPort ("KX Control");
    manager.openOutput ("KX Control");

    EXPECT_EQ (system.getNumOpenOutputs ("KX Control"), 1);
}

TEST_F (MidiManagerTest, AFailedOpenIsSkipped)
{
    system.addPort ("KX Control");
    system.setOpenFails ("KX Control", true);

    manager.openInput ("KX Control");
    manager.openOutput ("KX Control");

    EXPECT_TRUE (manager.isOutputPresent ("KX Control"));
    EXPECT_FALSE (manager.isInputOpen ("KX Control"));
    EXPECT_FALSE (manager.isOutputOpen ("KX Control"));
}

TEST_F (MidiManagerTest, AMessageThatCouldNotBeDeliveredClosesEveryOutputOfTheName)
{
    system.addPort ("KX Audio");
    system.addPort ("KX Audio");
    system.addPort ("KX Graphics");
    manager.openOutput ("KX Audio");
    manager.openOutput ("KX Graphics");

    system.setSendFails ("KX Audio", true);
    manager.sendMessage ("KX Audio", identityRequest());

    EXPECT_FALSE (manager.isOutputOpen ("KX Audio"));
    EXPECT_EQ (system.getNumOpenOutputs ("KX Audio"), 0);
    EXPECT_TRUE (manager.isOutputOpen ("KX Graphics"));

    manager.sendMessage ("KX Audio", identityRequest());
    EXPECT_EQ (system.getNumLostMessages(), 2);
}

// A pacing thread whose piece was refused takes its port's outputs out of use while the message
// thread asks whether an output of another port vanished: the question must not read the list
// as it changes (ThreadSanitizer sees it at once; otherwise it can crash mid-update).
TEST_F (MidiManagerTest, ClosingAfterARefusedMessageIsSafeWhileAnotherThreadAsksAfterVanishedOutputs)
{
    system.addKxDevice();
    manager.openOutput ("KX Graphics");
    system.setSendFails ("KX Audio", true);
    constexpr int attempts = 2000;
    std::atomic<bool> done { false };

    std::thread pacing (
        [&]
        {
            for (int i = 0; i < attempts; ++i)
            {
                manager.openOutput ("KX Audio");
                manager.sendMessage ("KX Audio", identityRequest());
            }

            done = true;
        });

    int wrongAnswers = 0;
    while (! done.load())
        wrongAnswers += manager.hasVanishedOutput ("KX Graphics") ? 1 : 0;

    pacing.join();
    EXPECT_EQ (wrongAnswers, 0);
    EXPECT_TRUE (manager.isOutputOpen ("KX Graphics"));
    EXPECT_FALSE (manager.isOutputOpen ("KX Audio"));
    EXPECT_EQ (system.getNumLostMessages(), attempts);

    // The refused outputs are deleted where the platform's ports may be: on the message thread.
    EXPECT_TRUE (pumpMessagesUntil ([this] { return system.getNumOpenOutputs ("KX Audio") == 0; }));
    EXPECT_EQ (system.getNumOutputsClosedOffMessageThread(), 0);
    EXPECT_EQ (system.getNumOpenOutputs ("KX Graphics"), 1);
    manager.closeAll();
}

TEST_F (MidiManagerTest, PausesFiftyMillisecondsBeforeEachInputItOpens)
{
    system.addPort ("KX Audio");
    system.addPort ("KX Audio");

    const auto before = juce::Time::getMillisecondCounterHiRes();
    manager.openInput ("KX Audio");
    const auto times = system.getInputOpenTimes ("KX Audio");

    ASSERT_EQ (times.size(), 2u);
    EXPECT_GE (times[0] - before, 49.0);
    EXPECT_GE (times[1] - times[0], 49.0);
    EXPECT_EQ (system.getNumOpenInputs ("KX Audio"), 2);

    manager.openInput ("KX Audio");
    EXPECT_EQ (system.getInputOpenTimes ("KX Audio").size(), 2u);
}

TEST_F (MidiManagerTest, DeliversIncomingMessagesToListenersOnTheInputThreadUntilTheInputCloses)
{
    system.addPort ("KX Graphics");
    RecordingListener listener;
    manager.addListener (&listener);
    manager.addListener (&listener);
    manager.addListener (nullptr);
    manager.openInput ("KX Graphics");

    const juce::uint8 reply[] = { 0xF0, 0x7E, 0x00, 0x06, 0x02, 0xF7 };
    system.sendFromDevice ("KX Graphics", juce::MidiMessage (reply, (int) sizeof (reply), 0.0));
    system.waitUntilDelivered();

    ASSERT_EQ (listener.count(), 1u);
    EXPECT_EQ (listener.sources[0], "KX Graphics");
    EXPECT_FALSE (listener.onMessageThread[0]);
    EXPECT_EQ (listener.messages[0].getRawDataSize(), (int) sizeof (reply));

    manager.closeInput ("KX Graphics");
    EXPECT_FALSE (manager.isInputOpen ("KX Graphics"));
    system.sendFromDevice ("KX Graphics", juce::MidiMessage (reply, (int) sizeof (reply), 0.0));
    system.waitUntilDelivered();
    EXPECT_EQ (listener.count(), 1u);
}

TEST_F (MidiManagerTest, CloseAllLeavesAValidEmptyManager)
{
    system.addKxDevice();
    RecordingListener listener;
    manager.addListener (&listener);

    for (const auto* name : { "KX Control", "KX Audio", "KX Graphics" })
    {
        manager.openInput (name);
        manager.openOutput (name);
    }

    manager.closeAll();

    for (const auto* name : { "KX Control", "KX Audio", "KX Graphics" })
    {
        EXPECT_FALSE (manager.isInputOpen (name));
        EXPECT_FALSE (manager.isOutputOpen (name));
        EXPECT_EQ (system.getNumOpenInputs (name), 0);
        EXPECT_EQ (system.getNumOpenOutputs (name), 0);
        manager.sendMessage (name, identityRequest());
    }

    EXPECT_TRUE (system.getSentMessages().empty());
    manager.removeListener (&listener);

    // The listener list was emptied too: a freshly opened input reaches nobody.
    manager.openInput ("KX Audio");
    system.sendFromDevice ("KX Audio", identityRequest());
    system.waitUntilDelivered();
    EXPECT_EQ (listener.count(), 0u);
    manager.closeAll();
}

// Each input delivers on a thread of its own, and the device answers on all three ports at
// once. JUCE's listener list links an iterator into itself on every call, so calls from two
// threads at once corrupted it: the updater then crashed when the controller removed itself at
// quit. Every delivery must arrive and the list must stay sound.
TEST_F (MidiManagerTest, DeliveriesFromSeveralInputThreadsAtOnceLeaveTheListenerListSound)
{
    struct CountingListener final : MidiManager::Listener
    {
        void midiMessageReceived (MidiSystem::Input*, const juce::MidiMessage&) override
        {
            std::this_thread::sleep_for (std::chrono::microseconds (200));
            received++;
        }

        std::atomic<int> received { 0 };
    };

    system.addKxDevice();
    CountingListener first, second;
    manager.addListener (&first);
    manager.addListener (&second);

    const char* const names[] = { "KX Control", "KX Audio", "KX Graphics" };
    for (const auto* name : names)
        manager.openInput (name);

    const int perPort = 300;
    for (int i = 0; i < perPort; ++i)
        for (const auto* name : names)
            system.sendFromDevice (name, identityRequest());

    system.waitUntilDelivered();

    EXPECT_EQ (first.received.load(), 3 * perPort);
    EXPECT_EQ (second.received.load(), 3 * perPort);

    // What crashed: the list walked its (corrupted) iterators on removal.
    manager.removeListener (&first);
    manager.closeAll();
}

// Deliveries waiting for the message thread (the controller takes its lock): closing one of
// their inputs on the message thread must not hang.
TEST_F (MidiManagerTest, ClosingAnInputWhoseDeliveryWaitsItsTurnDoesNotHang)
{
    struct MessageThreadListener final : MidiManager::Listener
    {
        void midiMessageReceived (MidiSystem::Input*, const juce::MidiMessage&) override
        {
            entered++;
            const juce::MessageManagerLock mml (juce::Thread::getCurrentThread());
        }

        std::atomic<int> entered { 0 };
    };

    system.addKxDevice();
    MessageThreadListener listener;
    manager.addListener (&listener);
    manager.openInput ("KX Control");
    manager.openInput ("KX Audio");

    // The message thread is busy here, so the first delivery holds on in the listener.
    system.sendFromDevice ("KX Control", identityRequest());
    while (listener.entered.load() == 0)
        juce::Thread::sleep (1);
    system.sendFromDevice ("KX Audio", identityRequest());
    juce::Thread::sleep (200);

    const auto started = juce::Time::getMillisecondCounterHiRes();
    manager.closeInput ("KX Audio");
    EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - started, 2000.0);
    EXPECT_GE (listener.entered.load(), 1);

    manager.closeAll();
}
