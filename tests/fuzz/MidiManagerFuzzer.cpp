// The MidiManager's hand-off, driven by a fuzzed script of operations: ports plugged in and
// unplugged (duplicate names, names that differ only by case or a blank), inputs and outputs
// opened and closed, opens that fail, listeners added and removed, messages sent both ways.
// A model of what the manager must do runs beside it; after every operation the open ports
// and presence tests of the name it touched, the pauses and everything each listener has
// received must match the model (all names once more at the end):
// each device message exactly once per open input of its port, from that input, unchanged,
// and nothing from a closed input.
//
// The in-memory inputs deliver on the fuzzer's own thread here, so that every execution is
// deterministic and takes microseconds (a thread per input costs milliseconds to stop). The
// threaded delivery is what the unit tests exercise, under ThreadSanitizer too.

#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/InMemoryMidiSystem.h"
#include "transfer/MidiManager.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <utility>

namespace
{
const juce::String names[] = { "KX Control", "KX Audio", "KX Graphics", "kx audio", "KX Audio " };
constexpr int numNames = 5;
constexpr int numListeners = 3;
constexpr size_t maxPorts = 8;

using Bytes = std::vector<juce::uint8>;
using Key = std::pair<juce::String, Bytes>;
using Counts = std::map<Key, int>;

struct RecordingListener final : MidiManager::Listener
{
    void midiMessageReceived (MidiSystem::Input* source, const juce::MidiMessage& message) override
    {
        KX_FUZZ_CHECK (source != nullptr);
        const auto* raw = message.getRawData();
        Key key { source->getName(), Bytes (raw, raw + message.getRawDataSize()) };
        const std::lock_guard<std::mutex> guard (mutex);
        ++received[key];
    }

    Counts takeReceived()
    {
        const std::lock_guard<std::mutex> guard (mutex);
        return std::exchange (received, {});
    }

    std::mutex mutex;
    Counts received;
};

struct ModelPort
{
    int id;
    int name;
    bool listedAsInput;
    bool listedAsOutput;
};

struct ModelInput
{
    int portId;
    int name;
};

struct ModelOutput
{
    int portId;
    int name;
};

struct Script
{
    explicit Script (FuzzReader& reader) : in (reader)
    {
        system.setPausesSkipped (true);
        system.setDeliveryOnSendingThread (true);
    }

    ~Script() { manager.closeAll(); }

    void run()
    {
        for (int step = 0; step < 100 && ! in.atEnd(); ++step)
        {
            const auto op = in.next() % 12;
            const auto name = in.next() % numNames;
            perform (op, name);
            compareOpenPorts (name);
            compareReceived();
        }

        for (int name = 0; name < numNames; ++name)
            compareOpenPorts (name);
    }

    void perform (int op, int name)
    {

        switch (op)
        {
        case 0:
        {
            const auto kind = in.next() % 4;
            const auto listIn = kind != 3;
            const auto listOut = kind != 2;

            // A few devices' worth; long port lists only make every run slower.
            if (ports.size() < maxPorts)
                ports.push_back ({ system.addPort (names[name], listIn, listOut), name, listIn, listOut });
            break;
        }
        case 1:
            if (! ports.empty())
            {
                const auto index = (size_t) in.next() % ports.size();
                system.removePort (ports[index].id);
                ports.erase (ports.begin() + (long) index);
            }
            break;
        case 2:
            openInput (name);
            break;
        case 3:
            inputs.erase (
                std::remove_if (inputs.begin(), inputs.end(), [name] (const ModelInput& i) { return i.name == name; }),
                inputs.end());
            manager.closeInput (names[name]);
            break;
        case 4:
            openOutput (name);
            break;
        case 5:
            outputs.erase (std::remove_if (outputs.begin(),
                                           outputs.end(),
                                           [name] (const ModelOutput& o) { return o.name == name; }),
                           outputs.end());
            manager.closeOutput (names[name]);
            break;
        case 6:
            sendFromDevice (name, nextMessage());
            break;
        case 7:
            sendToDevice (name, nextMessage());
            break;
        case 8:
        case 9:
        {
            // Listeners may change only while no input is open: delivery reads the list unlocked.
            if (! inputs.empty())
                break;

            const auto which = name % (numListeners + 1);
            auto* listener = which < numListeners ? &listeners[which] : nullptr;

            if (op == 8)
            {
                manager.addListener (listener);
                if (listener != nullptr)
                    registered.insert (which);
            }
            else if (listener != nullptr)
            {
                manager.removeListener (listener);
                registered.erase (which);
            }
            break;
        }
        case 10:
            inputs.clear();
            outputs.clear();
            registered.clear();
            manager.closeAll();
            break;
        case 11:
            failing[name] = ! failing[name];
            system.setOpenFails (names[name], failing[name]);
            break;
        default:
            break;
        }
    }

    juce::MidiMessage nextMessage()
    {
        auto bytes = in.take (in.nextLength());
        if (bytes.empty())
            bytes.push_back (0xF8);
        return juce::MidiMessage (bytes.data(), (int) bytes.size(), 0.0);
    }

    bool hasInput (int name) const
    {
        return std::any_of (inputs.begin(), inputs.end(), [name] (const ModelInput& i) { return i.name == name; });
    }

    bool hasOutput (int name) const
    {
        return std::any_of (outputs.begin(), outputs.end(), [name] (const ModelOutput& o) { return o.name == name; });
    }

    bool isPlugged (int portId) const
    {
        return std::any_of (ports.begin(), ports.end(), [portId] (const ModelPort& p) { return p.id == portId; });
    }

    void openInput (int name)
    {
        manager.openInput (names[name]);

        if (hasInput (name))
            return;

        for (const auto& port : ports)
        {
            if (port.name != name || ! port.listedAsInput)
                continue;

            ++pauses; // before every port of the name, also one that then fails to open
            if (! failing[name])
                inputs.push_back ({ port.id, name });
        }
    }

    void openOutput (int name)
    {
        manager.openOutput (names[name]);

        if (hasOutput (name))
            return;

        for (const auto& port : ports)
            if (port.name == name && port.listedAsOutput && ! failing[name])
                outputs.push_back ({ port.id, name });
    }

    void sendFromDevice (int name, const juce::MidiMessage& message)
    {
        system.sendFromDevice (names[name], message);
        const auto* raw = message.getRawData();
        const Bytes bytes (raw, raw + message.getRawDataSize());

        for (const auto& input : inputs)
            if (input.name == name && isPlugged (input.portId))
                for (auto l : registered)
                    ++expected[(size_t) l][{ names[name], bytes }];
    }

    void sendToDevice (int name, const juce::MidiMessage& message)
    {
        system.clearSentMessages();
        manager.sendMessage (names[name], message);

        const auto* raw = message.getRawData();
        const Bytes bytes (raw, raw + message.getRawDataSize());
        const auto sent = system.getSentMessages();
        size_t next = 0;
        int lost = 0;

        // One copy to every open output of the name, in the order they were opened.
        for (const auto& output : outputs)
        {
            if (output.name != name)
                continue;

            if (! isPlugged (output.portId))
            {
                ++lost;
                continue;
            }

            KX_FUZZ_CHECK (next < sent.size());
            KX_FUZZ_CHECK (sent[next].portId == output.portId);
            KX_FUZZ_CHECK (sent[next].bytes == bytes);
            ++next;
        }

        KX_FUZZ_CHECK (next == sent.size());
        KX_FUZZ_CHECK (system.getNumLostMessages() == lost);
    }

    void compareOpenPorts (int n)
    {
        const auto countInputs =
            std::count_if (inputs.begin(), inputs.end(), [n] (const ModelInput& i) { return i.name == n; });
        const auto countOutputs =
            std::count_if (outputs.begin(), outputs.end(), [n] (const ModelOutput& o) { return o.name == n; });
        const auto listed = [this, n] (bool asInput)
        {
            return std::any_of (ports.begin(),
                                ports.end(),
                                [n, asInput] (const ModelPort& p)
                                { return p.name == n && (asInput ? p.listedAsInput : p.listedAsOutput); });
        };

        KX_FUZZ_CHECK (manager.isInputOpen (names[n]) == (countInputs > 0));
        KX_FUZZ_CHECK (manager.isOutputOpen (names[n]) == (countOutputs > 0));
        KX_FUZZ_CHECK (system.getNumOpenInputs (names[n]) == (int) countInputs);
        KX_FUZZ_CHECK (system.getNumOpenOutputs (names[n]) == (int) countOutputs);
        KX_FUZZ_CHECK (manager.isInputPresent (names[n]) == listed (true));
        KX_FUZZ_CHECK (manager.isOutputPresent (names[n]) == listed (false));
        KX_FUZZ_CHECK (manager.hasVanishedOutput (names[n]) ==
                       std::any_of (outputs.begin(),
                                    outputs.end(),
                                    [this, n] (const ModelOutput& o)
                                    { return o.name == n && ! isPlugged (o.portId); }));
        KX_FUZZ_CHECK (system.getNumPausesRequested() == pauses);
    }

    void compareReceived()
    {
        for (size_t l = 0; l < numListeners; ++l)
        {
            KX_FUZZ_CHECK (listeners[l].takeReceived() == expected[l]);
            expected[l].clear();
        }
    }

    FuzzReader& in;
    InMemoryMidiSystem system;
    RecordingListener listeners[numListeners];
    MidiManager manager { system };
    std::vector<ModelPort> ports;
    std::vector<ModelInput> inputs;
    std::vector<ModelOutput> outputs;
    std::set<int> registered;
    bool failing[numNames] = {};
    int pauses = 0;
    Counts expected[numListeners];
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const juce::uint8* data, size_t size)
{
    FuzzReader in { data, size };
    Script script (in);
    script.run();
    return 0;
}
