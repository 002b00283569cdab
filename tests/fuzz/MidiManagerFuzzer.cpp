// The MidiManager's hand-off, driven by a fuzzed script of operations: ports plugged in and
// unplugged (duplicate names, names that differ only by case or a blank), inputs and outputs
// opened and closed, listeners added and removed, messages sent both ways. A model of what
// the manager must do runs beside it; after every operation the open ports, presence tests
// and pauses must match the model, and at every check each listener must have received each
// device message exactly once per open input of its port, from that input, unchanged.
// Messages still queued on an input that is closed without waiting may or may not arrive.

#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/InMemoryMidiSystem.h"
#include "transfer/MidiManager.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>

namespace
{
const char* const names[] = { "KX Control", "KX Audio", "KX Graphics", "kx audio", "KX Audio " };
constexpr int numNames = 5;
constexpr int numListeners = 3;

using Bytes = std::vector<juce::uint8>;
using Key = std::pair<juce::String, Bytes>;
using Counts = std::map<Key, int>;

struct RecordingListener final : MidiManager::Listener
{
    void midiMessageReceived (MidiSystem::Input* source, const juce::MidiMessage& message) override
    {
        KX_FUZZ_CHECK (source != nullptr);
        const auto* raw = message.getRawData();
        Key key{ source->getName(), Bytes (raw, raw + message.getRawDataSize()) };
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
    std::vector<Bytes> pending; // sent by the device since the last check
};

struct ModelOutput
{
    int portId;
    int name;
};

struct Script
{
    explicit Script (FuzzReader& reader) : in (reader) { system.setPausesSkipped (true); }

    ~Script()
    {
        manager.closeAll();
        for (auto& input : inputs)
            input.pending.clear();
    }

    void run()
    {
        for (int step = 0; step < 200 && ! in.atEnd(); ++step)
        {
            perform (in.next() % 13);
            compareOpenPorts();
        }

        check();
    }

    void perform (int op)
    {
        const auto name = in.next() % numNames;

        switch (op)
        {
        case 0:
        {
            const auto kind = in.next() % 4;
            const auto listIn = kind != 3;
            const auto listOut = kind != 2;
            ports.push_back ({ system.addPort (names[name], listIn, listOut), name, listIn, listOut });
            break;
        }
        case 1:
            if (! ports.empty())
            {
                const auto index = (size_t)in.next() % ports.size();
                system.removePort (ports[index].id);
                ports.erase (ports.begin() + (long)index);
            }
            break;
        case 2:
            openInput (name);
            break;
        case 3:
            if ((in.next() & 1) != 0)
                check();
            forgetInputs (name);
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
            if ((in.next() & 1) != 0)
                check();
            for (int n = 0; n < numNames; ++n)
                forgetInputs (n);
            outputs.clear();
            registered.clear();
            manager.closeAll();
            break;
        case 11:
            check();
            break;
        case 12:
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
        return juce::MidiMessage (bytes.data(), (int)bytes.size(), 0.0);
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
                inputs.push_back ({ port.id, name, {} });
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

    // Closing without waiting: what was queued on these inputs may or may not have arrived.
    void forgetInputs (int name)
    {
        for (auto it = inputs.begin(); it != inputs.end();)
        {
            if (it->name != name)
            {
                ++it;
                continue;
            }

            for (const auto& bytes : it->pending)
                for (auto l : registered)
                    ++maybe[(size_t)l][{ names[name], bytes }];

            it = inputs.erase (it);
        }
    }

    void sendFromDevice (int name, const juce::MidiMessage& message)
    {
        system.sendFromDevice (names[name], message);
        const auto* raw = message.getRawData();

        for (auto& input : inputs)
            if (input.name == name && isPlugged (input.portId))
                input.pending.emplace_back (raw, raw + message.getRawDataSize());
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

    void compareOpenPorts()
    {
        for (int n = 0; n < numNames; ++n)
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
            KX_FUZZ_CHECK (system.getNumOpenInputs (names[n]) == (int)countInputs);
            KX_FUZZ_CHECK (system.getNumOpenOutputs (names[n]) == (int)countOutputs);
            KX_FUZZ_CHECK (manager.isInputPresent (names[n]) == listed (true));
            KX_FUZZ_CHECK (manager.isOutputPresent (names[n]) == listed (false));
        }

        KX_FUZZ_CHECK (system.getNumPausesRequested() == pauses);
    }

    // Waits for every queued message, then compares what each listener received with the model.
    void check()
    {
        for (auto& input : inputs)
        {
            for (const auto& bytes : input.pending)
                for (auto l : registered)
                    ++must[(size_t)l][{ names[input.name], bytes }];

            input.pending.clear();
        }

        system.waitUntilDelivered();

        for (size_t l = 0; l < numListeners; ++l)
        {
            auto got = listeners[l].takeReceived();
            std::set<Key> keys;
            for (const auto* counts : { &got, &must[l], &maybe[l] })
                for (const auto& entry : *counts)
                    keys.insert (entry.first);

            for (const auto& key : keys)
            {
                const auto n = got[key];
                KX_FUZZ_CHECK (n >= must[l][key]);
                KX_FUZZ_CHECK (n <= must[l][key] + maybe[l][key]);
            }

            must[l].clear();
            maybe[l].clear();
        }
    }

    FuzzReader& in;
    InMemoryMidiSystem system;
    RecordingListener listeners[numListeners];
    MidiManager manager{ system };
    std::vector<ModelPort> ports;
    std::vector<ModelInput> inputs;
    std::vector<ModelOutput> outputs;
    std::set<int> registered;
    bool failing[numNames] = {};
    int pauses = 0;
    Counts must[numListeners];
    Counts maybe[numListeners];
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const juce::uint8* data, size_t size)
{
    FuzzReader in{ data, size };
    Script script (in);
    script.run();
    return 0;
}
