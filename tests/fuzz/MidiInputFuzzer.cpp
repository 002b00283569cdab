// Arbitrary bytes, cut into MIDI messages, arrive from the device on its three ports and go the
// real way in: the in-memory input, the MidiManager, the Controller with its message-manager
// lock, its listener. libFuzzer's thread stands where the operating system's MIDI thread
// stands: the inputs hand each message over on it, while JUCE's message loop runs on a thread
// of its own and grants the lock. So every execution is deterministic and costs a lock
// hand-over per identity reply, no polling and no thread start. (Delivery on the inputs' own
// threads is what the unit tests and the fault matrix exercise, under ThreadSanitizer too.)
//
// Every execution checks that exactly the messages that are identity replies by the header
// rule give a version report, in order, with the right port and text, off the message thread
// with the message-manager lock held, and that nothing else is reported.

#include "control/Controller.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/InMemoryMidiSystem.h"
#include "tests/support/RecordingControllerListener.h"
#include "tests/support/TestCatalogue.h"

#include <memory>

namespace
{
const juce::String portNames[] = { "KX Control", "KX Audio", "KX Graphics" };

// Enough for every mix of replies and other messages; more would only make each run slower.
constexpr size_t maxMessagesPerRun = 64;

struct CutMessage
{
    int port;
    juce::MidiMessage message;
};

// Raw cuts: [port][length][bytes]..., any bytes at all, as a driver that passes data through would.
void cutRaw (FuzzReader& in, std::vector<CutMessage>& out)
{
    while (! in.atEnd() && out.size() < maxMessagesPerRun)
    {
        const auto port = in.next() % 3;
        const auto bytes = in.take (in.nextLength());

        if (! bytes.empty())
            out.push_back ({ port, juce::MidiMessage (bytes.data(), (int) bytes.size(), 0.0) });
    }
}

// A byte stream cut as a MIDI driver cuts it: status bytes, running status, SysEx up to F7 or
// to the next status byte, real-time bytes anywhere, incomplete messages dropped.
void cutStream (FuzzReader& in, int port, std::vector<CutMessage>& out)
{
    std::vector<juce::uint8> sysex;
    juce::uint8 runningStatus = 0;
    std::vector<juce::uint8> pending;
    int pendingLength = 0;

    const auto emit = [&] (const std::vector<juce::uint8>& bytes)
    {
        if (! bytes.empty() && out.size() < maxMessagesPerRun)
            out.push_back ({ port, juce::MidiMessage (bytes.data(), (int) bytes.size(), 0.0) });
    };

    while (! in.atEnd())
    {
        const auto byte = in.next();

        if (byte >= 0xF8)
        {
            emit ({ byte });
            continue;
        }

        if (! sysex.empty())
        {
            if (byte < 0x80 || byte == 0xF7)
            {
                sysex.push_back (byte);
                if (byte == 0xF7)
                {
                    emit (sysex);
                    sysex.clear();
                }
                continue;
            }

            emit (sysex); // cut short by a status byte
            sysex.clear();
        }

        if (byte == 0xF0)
        {
            sysex.push_back (byte);
            runningStatus = 0;
            pending.clear();
            continue;
        }

        if (byte >= 0x80)
        {
            pending = { byte };
            pendingLength = juce::MidiMessage::getMessageLengthFromFirstByte (byte);
            runningStatus = byte < 0xF0 ? byte : 0;
        }
        else if (! pending.empty())
        {
            pending.push_back (byte);
        }
        else if (runningStatus != 0)
        {
            pending = { runningStatus, byte };
            pendingLength = juce::MidiMessage::getMessageLengthFromFirstByte (runningStatus);
        }

        if (! pending.empty() && (int) pending.size() >= pendingLength)
        {
            emit (pending);
            pending.clear();
        }
    }

    emit (sysex); // a SysEx the stream ended in the middle of
}

// Whether the message is an identity reply by its length and header, worked out from its bytes alone.
bool isReplyByHeader (const juce::MidiMessage& message)
{
    const auto* raw = message.getRawData();

    if (message.getRawDataSize() != 37 || raw[0] != 0xF0)
        return false;

    const juce::uint8 header[] = { 0x7E, 0x00, 0x06, 0x02, 0x00, 0x6A, 0x13, 0x5A };

    for (int i = 0; i < 8; ++i)
        if (i != 1 && raw[1 + i] != header[i])
            return false;

    return true;
}

// The report an identity reply must give.
juce::String expectedReport (const juce::MidiMessage& message)
{
    if (! isReplyByHeader (message))
        return {};

    const auto* d = message.getRawData() + 1;
    const int port = d[14] == 0x00 ? 0 : d[14] == 0x10 ? 1 : d[14] == 0x20 ? 2 : -1;

    if (port < 0)
        return {};

    return "current " + juce::String (port) + " " + juce::String (d[10]) + "." + juce::String (d[11]) + "." +
           juce::String (d[12]) + "." + juce::String (d[13]);
}

struct Harness
{
    Harness()
    {
        system.setPausesSkipped (true);
        system.setDeliveryOnSendingThread (true);
        system.addKxDevice();

        messageThread.call (
            [this]
            {
                controller = std::make_unique<Controller> (manager, catalogue.images);
                controller->stopTimer(); // polls would add identity requests and hardware reports
                controller->addListener (&listener);
            });

        for (const auto& name : portNames)
            KX_FUZZ_CHECK (manager.isInputOpen (name));

        listener.clear();
    }

    ~Harness()
    {
        messageThread.call (
            [this]
            {
                manager.closeAll();
                controller.reset();
            });
    }

    void run (const juce::uint8* data, size_t size)
    {
        FuzzReader in { data, size };
        std::vector<CutMessage> messages;
        const auto mode = in.next();

        if ((mode & 1) == 0)
            cutRaw (in, messages);
        else
            cutStream (in, (mode >> 1) % 3, messages);

        std::vector<juce::String> expected;

        for (const auto& m : messages)
        {
            system.sendFromDevice (portNames[m.port], m.message);

            const auto report = expectedReport (m.message);
            if (report.isNotEmpty())
                expected.push_back (report);
        }

        const auto reports = listener.allReports();
        std::vector<juce::String> got;

        for (const auto& r : reports)
        {
            KX_FUZZ_CHECK (r.text.startsWith ("current "));
            KX_FUZZ_CHECK (! r.onMessageThread);
            KX_FUZZ_CHECK (r.messageManagerLocked);
            got.push_back (r.text);
        }

        KX_FUZZ_CHECK (got == expected);
        listener.clear();
    }

    BackgroundMessageThread messageThread;
    InMemoryMidiSystem system;
    MidiManager manager { system };
    Catalogue catalogue { std::vector<int> (5, 512) };
    RecordingControllerListener listener;
    std::unique_ptr<Controller> controller;
};

Harness* harness = nullptr;
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    harness = new Harness();
    std::atexit (
        []
        {
            delete harness;
            harness = nullptr;
        });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const juce::uint8* data, size_t size)
{
    harness->run (data, size);
    return 0;
}
