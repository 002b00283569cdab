// A stand-in for the KX unit on a real ALSA sequencer: three ports by the unit's names that
// answer the identity request and receive firmware, check every image and report how the
// pieces arrived. See usage() for the options.

#include "DeviceMessages.h"
#include "PortReceiver.h"

#include <alsa/asoundlib.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <poll.h>

using namespace kxdevice;

namespace
{
std::atomic<bool> stopRequested{ false };
std::atomic<bool> countsRequested{ false };

void onSignal (int)
{
    stopRequested = true;
}

void onCountsSignal (int)
{
    countsRequested = true;
}

const char* usageText =
    "usage: virtual-kx-device [options]\n"
    "  PORT is control, audio or graphics (or the full name, e.g. \"KX Audio\").\n"
    "  --version [PORT=]W.X.Y.Z  firmware version the identity reply reports (default 0.0.0.0)\n"
    "  --reply [PORT=]MODE       answer identity requests: normal, malformed (36 bytes) or none\n"
    "  --expect PORT=FILE        the next image PORT must receive is FILE, byte for byte (repeatable);\n"
    "                            without it images are checked by their structure\n"
    "  --unplug PORT=N           remove PORT once it has received N firmware pieces\n"
    "  --images N                stop once N images have arrived on all ports together\n"
    "  --keep-running            do not stop by itself once the expected images have arrived\n"
    "  --timeout SECONDS         stop after this long\n"
    "  --piece-size N            size every piece but an image's last must have (default 256, 0: any)\n"
    "  --client-name NAME        sequencer client name (default \"KX Virtual Device\")\n"
    "Stops on SIGTERM or SIGINT too, and by itself once every expected image has arrived.\n"
    "On SIGUSR1 it prints the firmware pieces each port has received so far.\n"
    "Prints a report per port; exit status 0 when everything matched, 1 on any mismatch,\n"
    "2 on a usage or ALSA error, 3 when it stopped before the expected images arrived.\n";

[[noreturn]] void usageError (const std::string& message)
{
    std::cerr << "virtual-kx-device: " << message << "\n" << usageText;
    std::exit (2);
}

struct Options
{
    std::array<std::array<std::uint8_t, 4>, 3> versions{};
    std::array<ReplyMode, 3> replies{ ReplyMode::normal, ReplyMode::normal, ReplyMode::normal };
    std::vector<std::pair<int, std::string>> expectations;
    int unplugPort = -1;
    int unplugAfter = 0;
    int stopAfterImages = 0;
    bool keepRunning = false;
    double timeoutSeconds = 0.0;
    int pieceSize = 256;
    std::string clientName = "KX Virtual Device";
};

/** "PORT=VALUE" or, where allowed, just "VALUE" for every port. */
std::vector<int> splitPortValue (const std::string& argument, std::string& value, bool portRequired)
{
    const auto equals = argument.find ('=');

    if (equals == std::string::npos)
    {
        if (portRequired)
            usageError ("expected PORT=VALUE, got \"" + argument + "\"");
        value = argument;
        return { 0, 1, 2 };
    }

    const auto port = findPort (argument.substr (0, equals));

    if (port < 0)
        usageError ("unknown port \"" + argument.substr (0, equals) + "\"");

    value = argument.substr (equals + 1);
    return { port };
}

long parseNumber (const std::string& text, long low, long high, const char* what)
{
    char* end = nullptr;
    const auto value = std::strtol (text.c_str (), &end, 10);

    if (text.empty () || *end != '\0' || value < low || value > high)
        usageError (std::string ("bad ") + what + " \"" + text + "\"");

    return value;
}

std::array<std::uint8_t, 4> parseVersion (const std::string& text)
{
    std::array<std::uint8_t, 4> version{};
    size_t start = 0;

    for (size_t i = 0; i < 4; ++i)
    {
        const auto dot = text.find ('.', start);

        if ((i < 3) != (dot != std::string::npos))
            usageError ("a version is four numbers W.X.Y.Z, got \"" + text + "\"");

        version[i] = (std::uint8_t)parseNumber (text.substr (start, dot - start), 0, 127, "version number");
        start = dot + 1;
    }

    return version;
}

Options parseOptions (int argc, char** argv)
{
    Options options;

    for (int i = 1; i < argc; ++i)
    {
        const std::string option = argv[i];

        if (option == "--help" || option == "-h")
        {
            std::cout << usageText;
            std::exit (0);
        }

        if (option == "--keep-running")
        {
            options.keepRunning = true;
            continue;
        }

        if (i + 1 >= argc)
            usageError ("unknown option or missing value: " + option);

        const std::string argument = argv[++i];
        std::string value;

        if (option == "--version")
        {
            for (auto port : splitPortValue (argument, value, false))
                options.versions[(size_t)port] = parseVersion (value);
        }
        else if (option == "--reply")
        {
            const auto ports = splitPortValue (argument, value, false);
            const auto mode = value == "normal"      ? ReplyMode::normal
                              : value == "malformed" ? ReplyMode::malformed
                              : value == "none"
                                  ? ReplyMode::none
                                  : (usageError ("unknown reply mode \"" + value + "\""), ReplyMode::none);
            for (auto port : ports)
                options.replies[(size_t)port] = mode;
        }
        else if (option == "--expect")
        {
            const auto port = splitPortValue (argument, value, true).front ();
            options.expectations.emplace_back (port, value);
        }
        else if (option == "--unplug")
        {
            options.unplugPort = splitPortValue (argument, value, true).front ();
            options.unplugAfter = (int)parseNumber (value, 0, 100000000, "piece count");
        }
        else if (option == "--images")
            options.stopAfterImages = (int)parseNumber (argument, 1, 1000000, "image count");
        else if (option == "--timeout")
            options.timeoutSeconds = (double)parseNumber (argument, 1, 86400, "timeout");
        else if (option == "--piece-size")
            options.pieceSize = (int)parseNumber (argument, 0, 1000000, "piece size");
        else if (option == "--client-name")
            options.clientName = argument;
        else
            usageError ("unknown option " + option);
    }

    return options;
}

Bytes readFile (const std::string& path)
{
    std::ifstream file (path, std::ios::binary);

    if (! file)
        usageError ("cannot read " + path);

    return Bytes (std::istreambuf_iterator<char> (file), std::istreambuf_iterator<char> ());
}

double nowMs ()
{
    using namespace std::chrono;
    return duration<double, std::milli> (steady_clock::now ().time_since_epoch ()).count ();
}

[[noreturn]] void alsaError (const char* what, int error)
{
    std::cerr << "virtual-kx-device: " << what << ": " << snd_strerror (error) << "\n";
    std::exit (2);
}

class Device
{
public:
    explicit Device (const Options& optionsToUse) : options (optionsToUse)
    {
        for (const auto& info : getPorts ())
            receivers.emplace_back (info, options.pieceSize);

        for (const auto& [port, path] : options.expectations)
            receivers[(size_t)port].expect (readFile (path), path);

        if (auto error = snd_seq_open (&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK); error < 0)
            alsaError ("cannot open the ALSA sequencer", error);

        snd_seq_set_client_name (seq, options.clientName.c_str ());

        // Room for a few hundred pieces per port, so that a slow read never makes the kernel
        // refuse (and then discard) what the updater sends.
        if (auto error = snd_seq_set_client_pool_input (seq, 2000); error < 0)
            alsaError ("cannot enlarge the input pool", error);
        snd_seq_set_input_buffer_size (seq, 256 * 1024);

        for (size_t i = 0; i < receivers.size (); ++i)
            ports[i] = createPort (getPorts ()[i].name);

        std::cout << "virtual-kx-device: client " << snd_seq_client_id (seq) << ", ports";
        for (size_t i = 0; i < receivers.size (); ++i)
            std::cout << " \"" << getPorts ()[i].name << "\"=" << snd_seq_client_id (seq) << ":" << ports[i];
        std::cout << std::endl;
    }

    ~Device () { snd_seq_close (seq); }

    int run ()
    {
        const auto start = nowMs ();
        const auto numDescriptors = snd_seq_poll_descriptors_count (seq, POLLIN);
        std::vector<pollfd> descriptors ((size_t)numDescriptors);
        snd_seq_poll_descriptors (seq, descriptors.data (), (unsigned int)numDescriptors, POLLIN);
        bool timedOut = false;

        while (! stopRequested && ! isDone ())
        {
            if (options.timeoutSeconds > 0 && nowMs () - start > options.timeoutSeconds * 1000.0)
            {
                timedOut = true;
                break;
            }

            if (poll (descriptors.data (), descriptors.size (), 50) > 0)
                readPending ();

            if (countsRequested.exchange (false))
                std::cout << "virtual-kx-device: pieces so far: " << describeCounts () << std::endl;
        }

        readPending ();

        bool sound = true;
        bool missing = false;

        for (size_t i = 0; i < receivers.size (); ++i)
        {
            auto& receiver = receivers[i];
            missing = missing || (receiver.expectsMore () && ! unplugged[i]);
            receiver.finish ();
            sound = sound && receiver.isSound ();

            for (const auto& line : receiver.getReport ())
                std::cout << line << "\n";
        }

        std::cout << "virtual-kx-device: "
                  << (timedOut        ? "timed out"
                      : stopRequested ? "stopped"
                                      : "done")
                  << std::endl;

        return missing ? 3 : sound ? 0 : 1;
    }

private:
    int createPort (const char* name)
    {
        snd_seq_port_info_t* info = nullptr;
        snd_seq_port_info_alloca (&info);
        snd_seq_port_info_set_name (info, name);
        snd_seq_port_info_set_capability (info,
                                          SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ | SND_SEQ_PORT_CAP_WRITE |
                                              SND_SEQ_PORT_CAP_SUBS_WRITE | SND_SEQ_PORT_CAP_DUPLEX);
        snd_seq_port_info_set_type (info, SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_HARDWARE);

        if (auto error = snd_seq_create_port (seq, info); error < 0)
            alsaError ("cannot create a port", error);

        return snd_seq_port_info_get_port (info);
    }

    /** "KX Control 12, KX Audio 1000, KX Graphics 998": firmware pieces received per port. */
    std::string describeCounts () const
    {
        std::string text;

        for (const auto& receiver : receivers)
            text += (text.empty () ? "" : ", ") + std::string (receiver.getPort ().name) + " " +
                    std::to_string (receiver.getNumPieces ());

        return text;
    }

    bool isDone () const
    {
        if (options.keepRunning)
            return false;

        if (options.stopAfterImages > 0)
        {
            int images = 0;
            for (const auto& receiver : receivers)
                images += receiver.getNumImages ();
            return images >= options.stopAfterImages;
        }

        bool anyExpectations = false;

        for (size_t i = 0; i < receivers.size (); ++i)
        {
            anyExpectations = anyExpectations || receivers[i].hasExpectations ();
            if (receivers[i].expectsMore () && ! unplugged[i])
                return false;
        }

        return anyExpectations;
    }

    void readPending ()
    {
        for (;;)
        {
            snd_seq_event_t* event = nullptr;
            const auto result = snd_seq_event_input (seq, &event);

            if (result == -EAGAIN)
                return;

            if (result == -ENOSPC)
            {
                // The kernel has thrown away what was waiting for us: data is lost.
                for (auto& receiver : receivers)
                    receiver.addProblem ("the input pool overflowed and the kernel discarded pending pieces");
                continue;
            }

            if (result < 0 || event == nullptr)
                return;

            handle (*event);
        }
    }

    void handle (const snd_seq_event_t& event)
    {
        size_t index = 0;
        while (index < receivers.size () && ports[index] != event.dest.port)
            ++index;

        if (index == receivers.size () || unplugged[index])
            return;

        auto& receiver = receivers[index];

        if (event.type != SND_SEQ_EVENT_SYSEX)
        {
            // Subscription and client notices are the system's business, not the updater's.
            if (event.type < SND_SEQ_EVENT_CLIENT_START || event.type > SND_SEQ_EVENT_PORT_UNSUBSCRIBED)
                receiver.addProblem ("a sequencer event of type " + std::to_string (event.type) +
                                     " where only SysEx is expected");
            return;
        }

        const auto* data = static_cast<const std::uint8_t*> (event.data.ext.ptr);
        // The time of reading, not a kernel queue stamp: those can run backwards in an emulated VM,
        // and this loop does little else than read, so it is close to the time of arrival.
        const auto outcome = receiver.receive (data, event.data.ext.len, nowMs ());

        for (int i = 0; i < outcome.identityRequests; ++i)
            reply (index);

        if (outcome.firmwarePiece && (int)index == options.unplugPort &&
            receiver.getNumPieces () >= options.unplugAfter)
        {
            snd_seq_delete_simple_port (seq, ports[index]);
            unplugged[index] = true;
            receiver.markUnplugged ();
            std::cout << "virtual-kx-device: unplugged " << getPorts ()[index].name << "; pieces so far: "
                      << describeCounts () << std::endl;
        }
    }

    void reply (size_t index)
    {
        const auto mode = options.replies[index];

        if (mode == ReplyMode::none)
            return;

        auto bytes = makeIdentityReply (getPorts ()[index].processor, options.versions[index], mode);
        snd_seq_event_t event;
        snd_seq_ev_clear (&event);
        snd_seq_ev_set_source (&event, (unsigned char)ports[index]);
        snd_seq_ev_set_subs (&event);
        snd_seq_ev_set_direct (&event);
        snd_seq_ev_set_sysex (&event, (unsigned int)bytes.size (), bytes.data ());

        if (auto error = snd_seq_event_output_direct (seq, &event); error < 0)
            std::cerr << "virtual-kx-device: the identity reply on " << getPorts ()[index].name
                      << " could not be sent: " << snd_strerror (error) << "\n";
    }

    const Options& options;
    std::vector<PortReceiver> receivers;
    std::array<int, 3> ports{ -1, -1, -1 };
    std::array<bool, 3> unplugged{ false, false, false };
    snd_seq_t* seq = nullptr;
};
} // namespace

int main (int argc, char** argv)
{
    const auto options = parseOptions (argc, argv);

    std::signal (SIGTERM, onSignal);
    std::signal (SIGINT, onSignal);
    std::signal (SIGUSR1, onCountsSignal);

    Device device (options);
    return device.run ();
}
