// The transfer layer on a real ALSA sequencer, against the virtual KX device and against
// alsa-utils' aseqdump as an independent observer. These need /dev/snd/seq, so tools/run-tests.sh
// runs them inside the test VM (tools/vm/run-in-vm.sh). Bytes and events are asserted; the
// timing in an emulated VM is only printed.

#include "tests/support/TestFirmwareImage.h"
#include "tests/support/TransferDriver.h"
#include "transfer/FirmwareSysexSender.h"
#include "transfer/JuceMidiSystem.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
using Bytes = std::vector<juce::uint8>;

/** A program run beside the test, its output collected in a file. */
class ChildProgram
{
public:
    explicit ChildProgram (std::vector<std::string> arguments)
    {
        outputFile = juce::File::createTempFile (".out");
        pid = fork();

        if (pid == 0)
        {
            const auto fd = open (outputFile.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2 (fd, 1);
            dup2 (fd, 2);
            std::vector<char*> argv;
            for (auto& argument : arguments)
                argv.push_back (argument.data());
            argv.push_back (nullptr);
            execv (argv[0], argv.data());
            _exit (127);
        }
    }

    ~ChildProgram()
    {
        if (pid > 0 && exitStatus == notFinished)
        {
            kill (pid, SIGKILL);
            waitpid (pid, nullptr, 0);
        }
        outputFile.deleteFile();
    }

    void terminate() const { kill (pid, SIGTERM); }

    /** The exit status, or -1 if it has not finished within the time (it is then killed). */
    int waitForExit (int timeoutMs)
    {
        const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        while (exitStatus == notFinished)
        {
            int status = 0;
            if (waitpid (pid, &status, WNOHANG) == pid)
                exitStatus = WIFEXITED (status) ? WEXITSTATUS (status) : 128 + WTERMSIG (status);
            else if (juce::Time::getMillisecondCounter() > deadline)
                return -1;
            else
                juce::Thread::sleep (10);
        }

        return exitStatus;
    }

    juce::String getOutput() const { return outputFile.loadFileAsString(); }

private:
    static constexpr int notFinished = -1000;
    pid_t pid = -1;
    int exitStatus = notFinished;
    juce::File outputFile;
};

/** The real system, counting what each output is handed. */
class CountingMidiSystem final : public MidiSystem
{
public:
    juce::Array<juce::MidiDeviceInfo> getInputs() override { return real.getInputs(); }
    juce::Array<juce::MidiDeviceInfo> getOutputs() override { return real.getOutputs(); }

    std::unique_ptr<Input> openInput (const juce::String& identifier, InputCallback& callback) override
    {
        return real.openInput (identifier, callback);
    }

    std::unique_ptr<Output> openOutput (const juce::String& identifier) override
    {
        if (auto output = real.openOutput (identifier))
            return std::make_unique<CountingOutput> (std::move (output), sends);
        return nullptr;
    }

    std::atomic<int> sends { 0 };

private:
    class CountingOutput final : public Output
    {
    public:
        CountingOutput (std::unique_ptr<Output> o, std::atomic<int>& c) : inner (std::move (o)), count (c) {}
        juce::String getName() const override { return inner->getName(); }
        void sendMessageNow (const juce::MidiMessage& m) override
        {
            ++count;
            inner->sendMessageNow (m);
        }
        void stopBackgroundThread() override { inner->stopBackgroundThread(); }
        bool hasFailed() const override { return inner->hasFailed(); }

    private:
        std::unique_ptr<Output> inner;
        std::atomic<int>& count;
    };

    JuceMidiSystem real;
};

struct EventRecorder final : FirmwareSysexSender::Listener
{
    void sysexSenderEvent (FirmwareSysexSender* sender, const juce::String& event) override
    {
        auto& words = events[sender->getFirmwareName()];
        words.push_back (event);
        if (event == "Complete" || event == "Error")
            ++finished;
    }

    int count (const juce::String& image, const juce::String& word) const
    {
        const auto found = events.find (image);
        return found == events.end() ? 0 : (int) std::count (found->second.begin(), found->second.end(), word);
    }

    std::map<juce::String, std::vector<juce::String>> events;
    int finished = 0;
};

struct MessageRecorder final : MidiManager::Listener
{
    void midiMessageReceived (MidiSystem::Input* source, const juce::MidiMessage& message) override
    {
        const std::lock_guard<std::mutex> guard (mutex);
        received.push_back ({ source != nullptr ? source->getName() : juce::String(),
                              Bytes (message.getRawData(), message.getRawData() + message.getRawDataSize()) });
    }

    std::vector<std::pair<juce::String, Bytes>> take()
    {
        const std::lock_guard<std::mutex> guard (mutex);
        return std::move (received);
    }

    std::mutex mutex;
    std::vector<std::pair<juce::String, Bytes>> received;
};

const juce::uint8 identityRequestBytes[] = { 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 };

/** The device's summary line for a port. */
juce::String reportLine (const juce::String& report, const juce::String& start)
{
    for (const auto& line : juce::StringArray::fromLines (report))
        if (line.startsWith (start + ": "))
            return line;

    return {};
}

juce::File writeTempFile (const Bytes& bytes)
{
    auto file = juce::File::createTempFile (".syx");
    file.replaceWithData (bytes.data(), bytes.size());
    return file;
}

struct AlsaTransferTest : ::testing::Test
{
    /** Opens the port both ways, sends the identity request and collects what comes back. */
    std::vector<std::pair<juce::String, Bytes>>
    askForIdentity (const juce::String& port, MessageRecorder& recorder, int waitMs)
    {
        manager.openInput (port);
        manager.openOutput (port);
        EXPECT_TRUE (manager.isInputOpen (port) && manager.isOutputOpen (port)) << port;
        manager.sendMessage (port, juce::MidiMessage (identityRequestBytes, 6, 0.0));

        std::vector<std::pair<juce::String, Bytes>> received;
        const auto collect = [&]
        {
            for (auto& r : recorder.take())
                received.push_back (std::move (r));
            return ! received.empty();
        };
        pumpMessagesUntil (collect, waitMs);

        // Anything more that would follow the first reply.
        pumpMessagesUntil ([] { return false; }, 100);
        collect();
        return received;
    }

    void SetUp() override
    {
        if (! juce::File ("/dev/snd/seq").exists())
            FAIL() << "no ALSA sequencer here: run these tests in the VM, bash tools/vm/run-in-vm.sh -w BUILD -- "
                      "ctest -L vm";
    }

    void TearDown() override { manager.closeAll(); }

    std::unique_ptr<ChildProgram> startDevice (std::vector<std::string> options)
    {
        options.insert (options.begin(), KX_VIRTUAL_DEVICE);
        auto device = std::make_unique<ChildProgram> (options);
        const bool listed = pumpMessagesUntil (
            [this]
            {
                return manager.isOutputPresent ("KX Control") && manager.isOutputPresent ("KX Audio") &&
                       manager.isOutputPresent ("KX Graphics") && manager.isInputPresent ("KX Graphics");
            },
            20000);
        EXPECT_TRUE (listed) << device->getOutput();
        return device;
    }

    CountingMidiSystem system;
    MidiManager manager { system };
    EventRecorder events;
    std::vector<juce::File> tempFiles;

    ~AlsaTransferTest() override
    {
        for (auto& file : tempFiles)
            file.deleteFile();
    }
};

struct ImageToSend
{
    juce::String port, name, key;
    juce::uint8 processor;
    size_t size;
};
} // namespace

TEST_F (AlsaTransferTest, ThreeImagesSentAtOnceArriveByteExact)
{
    const ImageToSend plan[] = { { "KX Audio", "Audio Application Firmware", "audio", 0x10, 3000 * 256 - 77 },
                                 { "KX Graphics", "Graphics Application Firmware", "graphics", 0x20, 1000 * 256 + 1 },
                                 { "KX Control", "Control Firmware", "control", 0x00, 300 * 256 } };

    // Audio and graphics are checked byte-exact against the files, control by its structure alone.
    std::vector<std::string> options { "--timeout", "240", "--images", "3" };
    std::vector<Bytes> bytes;
    juce::OwnedArray<FirmwareImage> images;

    for (const auto& item : plan)
    {
        bytes.push_back (makeTestFirmwareImage (item.processor, item.size, (std::uint32_t) item.processor + 7));
        if (item.key != "control")
        {
            tempFiles.push_back (writeTempFile (bytes.back()));
            options.push_back ("--expect");
            options.push_back ((item.key + "=" + tempFiles.back().getFullPathName()).toStdString());
        }
        images.add (new FirmwareImage (bytes.back().data(), (int) bytes.back().size(), 256, 3, item.port, item.name));
    }

    auto device = startDevice (options);
    juce::OwnedArray<FirmwareSysexSender> senders;
    for (auto* image : images)
        senders.add (new FirmwareSysexSender (image, &manager, &events));

    const auto started = juce::Time::getMillisecondCounterHiRes();
    for (auto* sender : senders)
        sender->start();

    ASSERT_TRUE (pumpMessagesUntil ([this] { return events.finished == 3; }, 240000));
    const auto elapsed = juce::Time::getMillisecondCounterHiRes() - started;

    for (auto* image : images)
    {
        EXPECT_EQ (events.count (image->getName(), "Complete"), 1) << image->getName();
        EXPECT_EQ (events.count (image->getName(), "Chunk"), image->getNumChunks()) << image->getName();
        EXPECT_EQ (events.count (image->getName(), "Error"), 0) << image->getName();
    }

    // The device stops by itself once the three images are in; if it does not, stop it for its report.
    auto status = device->waitForExit (10000);
    const bool stoppedByItself = status != -1;
    if (! stoppedByItself)
    {
        device->terminate();
        status = device->waitForExit (10000);
    }

    const auto report = device->getOutput();
    std::cout << report << "sender: " << elapsed / 1000.0 << " s for " << images[0]->getNumChunks() << " pieces on "
              << plan[0].port << std::endl;
    EXPECT_TRUE (stoppedByItself) << "the device was still waiting for images";
    EXPECT_EQ (status, 0);

    for (int i = 0; i < images.size(); ++i)
    {
        const auto line = reportLine (report, plan[i].port);
        EXPECT_TRUE (line.startsWith (plan[i].port + ": images 1, bytes " +
                                      juce::String ((int) bytes[(size_t) i].size()) + ", pieces " +
                                      juce::String (images[i]->getNumChunks()) + ","))
            << line;
        EXPECT_TRUE (line.endsWith ("verdict OK")) << line;
    }

    int exactImages = 0, soundImages = 0;
    for (const auto& line : juce::StringArray::fromLines (report))
    {
        exactImages += line.contains ("checked against byte-exact with") && line.endsWith (": OK") ? 1 : 0;
        soundImages += line.contains ("checked against structure: OK") ? 1 : 0;
    }
    EXPECT_EQ (exactImages, 2);
    EXPECT_EQ (soundImages, 1);
}

TEST_F (AlsaTransferTest, APortUnpluggedMidImageGivesErrorAndNothingMoreIsSent)
{
    const auto image = makeTestFirmwareImage (0x10, 1000 * 256);
    tempFiles.push_back (writeTempFile (image));
    auto device = startDevice ({ "--unplug",
                                 "audio=200",
                                 "--expect",
                                 ("audio=" + tempFiles.back().getFullPathName()).toStdString(),
                                 "--timeout",
                                 "120" });

    FirmwareImage record (image.data(), (int) image.size(), 256, 3, "KX Audio", "Audio Application Firmware");
    FirmwareSysexSender sender (&record, &manager, &events);
    sender.start();

    ASSERT_TRUE (pumpMessagesUntil ([this] { return events.finished == 1; }, 120000));
    const auto sendsAtError = system.sends.load();
    const auto chunks = events.count (record.getName(), "Chunk");

    EXPECT_EQ (events.count (record.getName(), "Error"), 1);
    EXPECT_EQ (events.count (record.getName(), "Complete"), 0);
    EXPECT_GE (chunks, 200);
    EXPECT_LT (chunks, record.getNumChunks());
    EXPECT_EQ (sendsAtError, chunks);
    EXPECT_FALSE (manager.isOutputPresent ("KX Audio"));
    EXPECT_TRUE (record.isSending());
    EXPECT_FALSE (record.isCompleted());

    pumpMessagesUntil ([] { return false; }, 300);
    EXPECT_EQ (system.sends.load(), sendsAtError) << "pieces were sent after the error";

    device->terminate();
    const auto status = device->waitForExit (10000);
    const auto report = device->getOutput();
    std::cout << report << "sender: " << chunks << " pieces handed over before \"Error\"" << std::endl;
    EXPECT_EQ (status, 0);
    EXPECT_TRUE (report.contains ("KX Audio: images 1, bytes " + juce::String (200 * 256) + ", pieces 200,"));
    EXPECT_TRUE (report.contains ("unplugged after 200 pieces, verdict OK"));
}

TEST_F (AlsaTransferTest, IdentityRequestsAreAnsweredAndTheRepliesReachTheListener)
{
    auto device = startDevice ({ "--version",
                                 "control=0.0.3.6",
                                 "--version",
                                 "audio=1.12.3.4",
                                 "--version",
                                 "graphics=0.0.2.5",
                                 "--timeout",
                                 "60" });
    MessageRecorder recorder;
    manager.addListener (&recorder);

    struct Case
    {
        juce::String port;
        juce::uint8 processor;
        Bytes version;
    };

    for (const auto& c : { Case { "KX Control", 0x00, { 0, 0, 3, 6 } },
                           Case { "KX Audio", 0x10, { 1, 12, 3, 4 } },
                           Case { "KX Graphics", 0x20, { 0, 0, 2, 5 } } })
    {
        const auto received = askForIdentity (c.port, recorder, 10000);
        ASSERT_EQ (received.size(), 1u) << c.port;
        const auto& [source, reply] = received.front();
        EXPECT_EQ (source, c.port);
        ASSERT_EQ (reply.size(), 37u) << c.port;
        EXPECT_EQ (reply.front(), 0xF0);
        EXPECT_EQ (reply.back(), 0xF7);
        EXPECT_EQ (Bytes (reply.begin() + 1, reply.begin() + 9),
                   Bytes ({ 0x7E, 0x00, 0x06, 0x02, 0x00, 0x6A, 0x13, 0x5A }));
        EXPECT_EQ (Bytes (reply.begin() + 11, reply.begin() + 15), c.version) << c.port;
        EXPECT_EQ (reply[15], c.processor) << c.port;
    }

    manager.closeAll();
    device->terminate();
    const auto status = device->waitForExit (10000);
    const auto report = device->getOutput();
    EXPECT_EQ (status, 0) << report;
    for (const auto* port : { "KX Control", "KX Audio", "KX Graphics" })
        EXPECT_TRUE (reportLine (report, port).endsWith ("identity requests 1, verdict OK")) << report;
}

TEST_F (AlsaTransferTest, TheDeviceCanBeToldToAnswerMalformedOrNotAtAll)
{
    auto device = startDevice ({ "--reply", "audio=malformed", "--reply", "graphics=none", "--timeout", "60" });
    MessageRecorder recorder;
    manager.addListener (&recorder);

    const auto audio = askForIdentity ("KX Audio", recorder, 10000);
    ASSERT_EQ (audio.size(), 1u);
    EXPECT_EQ (audio.front().second.size(), 36u);

    EXPECT_TRUE (askForIdentity ("KX Graphics", recorder, 1000).empty());

    manager.closeAll();
    device->terminate();
    EXPECT_EQ (device->waitForExit (10000), 0) << device->getOutput();
}

TEST_F (AlsaTransferTest, AseqdumpSeesEveryPieceAsOneSysexEventCarryingExactlyItsBytes)
{
    auto observer = std::make_unique<ChildProgram> (std::vector<std::string> { "/usr/bin/aseqdump" });
    ASSERT_TRUE (pumpMessagesUntil ([this] { return manager.isOutputPresent ("aseqdump"); }, 20000))
        << observer->getOutput();

    // Few enough pieces to fit aseqdump's default input pool even if it does not read meanwhile.
    const auto image = makeTestFirmwareImage (0x20, 15 * 256 + 100);
    FirmwareImage record (image.data(), (int) image.size(), 256, 3, "aseqdump", "Graphics Application Firmware");
    ASSERT_EQ (record.getNumChunks(), 16);

    manager.openOutput ("aseqdump");
    manager.sendMessage ("aseqdump", juce::MidiMessage (identityRequestBytes, 6, 0.0));
    FirmwareSysexSender sender (&record, &manager, &events);
    sender.start();
    ASSERT_TRUE (pumpMessagesUntil ([this] { return events.finished == 1; }, 30000));
    ASSERT_EQ (events.count (record.getName(), "Complete"), 1);

    pumpMessagesUntil ([] { return false; }, 300);
    observer->terminate();
    ASSERT_EQ (observer->waitForExit (10000), 0);

    std::vector<Bytes> seen;
    for (const auto& line : juce::StringArray::fromLines (observer->getOutput()))
    {
        // Event lines start with the source address, "client:port".
        const auto address = line.trim().upToFirstOccurrenceOf (" ", false, false);
        if (! address.containsChar (':') || ! address.containsOnly ("0123456789:"))
            continue;

        const auto at = line.indexOf ("System exclusive");
        if (at < 0)
        {
            EXPECT_TRUE (line.contains ("ubscribed")) << "an event that is not SysEx: " << line;
            continue;
        }

        Bytes bytes;
        for (const auto& token : juce::StringArray::fromTokens (line.substring (at + 16), " ", ""))
            if (token.isNotEmpty())
                bytes.push_back ((juce::uint8) token.getHexValue32());
        seen.push_back (bytes);
    }

    ASSERT_EQ (seen.size(), 17u) << observer->getOutput();
    EXPECT_EQ (seen[0], Bytes (std::begin (identityRequestBytes), std::end (identityRequestBytes)));

    Bytes pieces;
    for (size_t i = 1; i < seen.size(); ++i)
    {
        EXPECT_EQ (seen[i].size(), i < 16 ? 256u : image.size() - 15 * 256) << "event " << i;
        pieces.insert (pieces.end(), seen[i].begin(), seen[i].end());
    }
    EXPECT_EQ (pieces, image);
}
