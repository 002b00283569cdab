#include "transfer/JuceMidiSystem.h"

#include <deque>
#include <mutex>

#if JUCE_LINUX
#include <alsa/asoundlib.h>
#endif

namespace
{
/**
    JUCE calls its input callback while holding a lock that closing any input also takes. A
    listener that waits for the message thread there (the controller does) would deadlock
    with a message thread that is closing an input. So JUCE's thread only queues each message,
    and a delivery thread of this input's own hands it on; closing the input asks that thread
    to exit, which also lets a listener waiting for the message thread give up.
*/
class JuceInput final : public MidiSystem::Input, private juce::MidiInputCallback, private juce::Thread
{
public:
    explicit JuceInput (MidiSystem::InputCallback& callbackToUse)
        : juce::Thread ("MIDI input delivery"), callback (callbackToUse)
    {
    }

    ~JuceInput() override
    {
        signalThreadShouldExit();
        wakeUp.signal();
        input.reset();
        stopThread (10000);
    }

    bool open (const juce::String& identifier)
    {
        input = juce::MidiInput::openDevice (identifier, this);

        if (input == nullptr)
            return false;

        name = input->getName();
        startThread (juce::Thread::Priority::high);
        return true;
    }

    juce::String getName() const override { return name; }
    void start() override { input->start(); }
    void stop() override { input->stop(); }

private:
    void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& message) override
    {
        {
            const std::lock_guard<std::mutex> guard (queueMutex);
            queue.push_back (message);
        }
        wakeUp.signal();
    }

    // Partial SysEx is not used.
    void handlePartialSysexMessage (juce::MidiInput*, const juce::uint8*, int, double) override {}

    void run() override
    {
        while (! threadShouldExit())
        {
            wakeUp.wait (100);

            for (;;)
            {
                juce::MidiMessage message;
                {
                    const std::lock_guard<std::mutex> guard (queueMutex);

                    if (queue.empty() || threadShouldExit())
                        break;

                    message = std::move (queue.front());
                    queue.pop_front();
                }

                callback.handleIncomingMidiMessage (this, message);
            }
        }
    }

    MidiSystem::InputCallback& callback;
    std::unique_ptr<juce::MidiInput> input;
    juce::String name;
    std::mutex queueMutex;
    std::deque<juce::MidiMessage> queue;
    juce::WaitableEvent wakeUp;
};

#if JUCE_LINUX
/**
    JUCE's ALSA output runs every message through ALSA's MIDI byte encoder and resets it after
    each one, so a firmware piece that does not start with F0 or does not end with F7 never
    leaves the process, and nothing says so. Here every message goes out as one raw sequencer
    SysEx event that carries its bytes unchanged, delivered directly to the destination port.

    Direct delivery means no queue and no output pool of ours is involved: the kernel copies the
    event into the receiver during the write, or the write fails. A failure is final: a receiver
    whose input pool ran full (EAGAIN) drops everything it has pending at its next read, and a
    vanished port (ENOENT) takes nothing more. So a failed write is never retried; it marks the
    output as failed instead.
*/
class AlsaRawSender
{
public:
    static AlsaRawSender& getInstance()
    {
        static AlsaRawSender sender;
        return sender;
    }

    /** True when the kernel accepted the event for the destination. Never blocks. */
    bool send (int destClient, int destPort, const juce::uint8* data, int size)
    {
        const std::lock_guard<std::mutex> guard (mutex);

        if (handle == nullptr || sourcePort < 0)
            return false;

        snd_seq_event_t event;
        snd_seq_ev_clear (&event);
        snd_seq_ev_set_source (&event, (unsigned char) sourcePort);
        snd_seq_ev_set_dest (&event, (unsigned char) destClient, (unsigned char) destPort);
        snd_seq_ev_set_direct (&event);
        // ALSA takes a non-const pointer but only copies from it.
        snd_seq_ev_set_sysex (&event, (unsigned int) size, const_cast<juce::uint8*> (data));

        return snd_seq_event_output_direct (handle, &event) >= 0;
    }

private:
    AlsaRawSender()
    {
        if (snd_seq_open (&handle, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0)
        {
            handle = nullptr;
            return;
        }

        auto* app = juce::JUCEApplicationBase::getInstance();
        const auto name = app != nullptr ? app->getApplicationName() : juce::String ("JUCE");
        snd_seq_set_client_name (handle, name.toRawUTF8());

        // Readable but not subscribable, so that it never shows up among the MIDI inputs.
        sourcePort = snd_seq_create_simple_port (handle,
                                                 "firmware out",
                                                 SND_SEQ_PORT_CAP_READ,
                                                 SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    }

    ~AlsaRawSender()
    {
        if (handle != nullptr)
            snd_seq_close (handle);
    }

    std::mutex mutex;
    snd_seq_t* handle = nullptr;
    int sourcePort = -1;
};

/** JUCE lists ALSA ports as "client-port". */
bool parseAlsaAddress (const juce::String& identifier, int& client, int& port)
{
    const auto dash = identifier.indexOfChar ('-');

    if (dash <= 0 || ! identifier.containsOnly ("0123456789-"))
        return false;

    const auto clientText = identifier.substring (0, dash);
    const auto portText = identifier.substring (dash + 1);

    if (portText.isEmpty() || portText.containsChar ('-'))
        return false;

    client = clientText.getIntValue();
    port = portText.getIntValue();
    return client >= 0 && client < 256 && port >= 0 && port < 256;
}
#endif

class JuceOutput final : public MidiSystem::Output
{
public:
    explicit JuceOutput (std::unique_ptr<juce::MidiOutput> outputToUse) : output (std::move (outputToUse))
    {
#if JUCE_LINUX
        hasAddress = parseAlsaAddress (output->getIdentifier(), destClient, destPort);
#endif
    }

    juce::String getName() const override
    {
        return output->getName();
    }

    void sendMessageNow (const juce::MidiMessage& message) override
    {
#if JUCE_LINUX
        if (message.getRawDataSize() <= 0)
            return;

        if (! hasAddress ||
            ! AlsaRawSender::getInstance().send (destClient, destPort, message.getRawData(), message.getRawDataSize()))
            failed = true;
#else
        output->sendMessageNow (message);
#endif
    }

    void stopBackgroundThread() override
    {
        output->stopBackgroundThread();
    }
    bool hasFailed() const override
    {
        return failed;
    }

private:
    std::unique_ptr<juce::MidiOutput> output;
    bool failed = false;
#if JUCE_LINUX
    bool hasAddress = false;
    int destClient = -1;
    int destPort = -1;
#endif
};
} // namespace

juce::Array<juce::MidiDeviceInfo> JuceMidiSystem::getInputs()
{
    return juce::MidiInput::getAvailableDevices();
}

juce::Array<juce::MidiDeviceInfo> JuceMidiSystem::getOutputs()
{
    return juce::MidiOutput::getAvailableDevices();
}

std::unique_ptr<MidiSystem::Input> JuceMidiSystem::openInput (const juce::String& identifier, InputCallback& callback)
{
    auto input = std::make_unique<JuceInput> (callback);

    if (! input->open (identifier))
        return nullptr;

    return input;
}

std::unique_ptr<MidiSystem::Output> JuceMidiSystem::openOutput (const juce::String& identifier)
{
    if (auto output = juce::MidiOutput::openDevice (identifier))
        return std::make_unique<JuceOutput> (std::move (output));

    return nullptr;
}

MidiSystem& MidiSystem::getPlatformSystem()
{
    static JuceMidiSystem system;
    return system;
}
