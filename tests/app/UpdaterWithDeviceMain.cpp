// The updater as shipped, on an in-memory KX device instead of the system's MIDI: the device
// answers identity requests with versions one step behind the carried ones and takes every
// piece it is sent. For tests and screenshots that need a device.

#include "app/ZT61FirmwareUpdaterApplication.h"
#include "tests/support/InMemoryMidiSystem.h"

namespace
{
InMemoryMidiSystem* deviceSystem = nullptr;

juce::JUCEApplicationBase* createApplication()
{
    return new ZT61FirmwareUpdaterApplication (*deviceSystem);
}

juce::MidiMessage identityReply (juce::uint8 processor, juce::uint8 minor, juce::uint8 patch)
{
    juce::uint8 data[35] = { 0x7E, 0x7F, 0x06, 0x02, 0x00, 0x6A, 0x13, 0x5A };
    data[10] = 0;
    data[11] = 0;
    data[12] = minor;
    data[13] = patch;
    data[14] = processor;
    return juce::MidiMessage::createSysExMessage (data, (int) sizeof (data));
}
} // namespace

int main (int argc, char* argv[])
{
    InMemoryMidiSystem midi;
    midi.addKxDevice();
    midi.setSendHook (
        [&midi] (const InMemoryMidiSystem::SentMessage& sent)
        {
            if (sent.bytes != std::vector<juce::uint8> { 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 })
                return;

            // Each port answers on itself, as the unit does: three input threads deliver at once.
            if (sent.portName == "KX Control")
                midi.sendFromDevice ("KX Control", identityReply (0x00, 3, 5));
            else if (sent.portName == "KX Audio")
                midi.sendFromDevice ("KX Audio", identityReply (0x10, 2, 4));
            else if (sent.portName == "KX Graphics")
                midi.sendFromDevice ("KX Graphics", identityReply (0x20, 2, 4));
        });

    deviceSystem = &midi;
    juce::JUCEApplicationBase::createInstance = &createApplication;
    const auto status = juce::JUCEApplicationBase::main (argc, (const char**) argv);
    midi.setSendHook ({});
    return status;
}
