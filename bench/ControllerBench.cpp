// The message thread's cost per piece: a full update of the images carried against the
// in-memory device, with the senders ticked back to back. Under callgrind it counts the
// instructions of the update alone.

#include "app/FirmwareCatalogue.h"
#include "control/Controller.h"
#include "tests/support/InMemoryMidiSystem.h"
#include "tests/support/TransferDriver.h"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_STOP_INSTRUMENTATION
#define RUNNING_ON_VALGRIND 0
#endif

#include <cstdio>

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juce;
    const auto caspiaMode = argc > 1 && juce::String (argv[1]) == "--caspia";

    InMemoryMidiSystem system;
    MidiManager manager (system);
    juce::OwnedArray<FirmwareImage> images;
    buildFirmwareCatalogue (images);
    system.addKxDevice();

    auto controller = std::make_unique<Controller> (manager, images);
    TransferDriver::tickByHand (*controller);
    system.clearSentMessages();

    int pieces = 0;
    for (auto* image : images)
        if (! caspiaMode || ! image->getName().contains ("Assets"))
            pieces += image->getNumChunks();

    const auto start = juce::Time::getMillisecondCounterHiRes();
    CALLGRIND_START_INSTRUMENTATION;

    if (caspiaMode)
        controller->startCaspiaModeUpdate();
    else
        controller->startUpdate();

    const auto rounds = TransferDriver::run (*controller);

    CALLGRIND_STOP_INSTRUMENTATION;
    const auto elapsedMs = juce::Time::getMillisecondCounterHiRes() - start;
    const auto sent = system.getSentMessages().size();

    std::printf ("%s update: %d pieces, %zu messages captured, %d rounds\n",
                 caspiaMode ? "Caspia Mode" : "full",
                 pieces,
                 sent,
                 rounds);
    std::printf ("message thread: %.1f ms in all, %.2f us per piece%s\n",
                 elapsedMs,
                 elapsedMs * 1000.0 / pieces,
                 RUNNING_ON_VALGRIND ? " (under valgrind: instructions are the figure to read)" : "");

    manager.closeAll();
    controller.reset();
    return sent == (size_t) pieces ? 0 : 1;
}
