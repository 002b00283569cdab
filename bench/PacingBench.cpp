// How evenly the pieces leave: an update of the images carried against the in-memory
// device, on the real message loop with the senders' real pacing. Per port it prints the
// transfer time (from its first image starting to its last completing) against the floor
// (every image's pieces plus its closing tick, one interval each, chained on the port), when
// the first piece left after the start, and the gaps between consecutive pieces.
//
//   kx-pacing-bench [caspia|full] [thread|timer]

#include "app/FirmwareCatalogue.h"
#include "control/Controller.h"
#include "tests/support/InMemoryMidiSystem.h"
#include "tests/support/TransferDriver.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace
{
struct EndWatcher final : Controller::Listener
{
    void availableFirmwareVersion (int, const juce::String&) override {}
    void currentFirmwareVersion (int, const juce::String&) override {}
    void hardwareDetected (bool) override {}
    void updateProgress (double progress) override { finished = finished || progress == 1.0; }
    void updateRunning (bool) override {}
    void imageStatusChanged (int imageCode, int status) override
    {
        aborted = aborted || status == Controller::aborted;
        const auto* port = imageCode == 0 ? "KX Control" : (imageCode <= 2 ? "KX Audio" : "KX Graphics");
        const auto now = juce::Time::getMillisecondCounterHiRes();

        if (status == Controller::started && startedAt.count (port) == 0)
            startedAt[port] = now;
        if (status == Controller::completed)
            completedAt[port] = now;
    }

    bool finished = false;
    bool aborted = false;
    std::map<juce::String, double> startedAt, completedAt;
};

double percentile (std::vector<double> sorted, double p)
{
    if (sorted.empty())
        return 0.0;
    const auto index = (size_t) std::min ((double) sorted.size() - 1, p * (double) (sorted.size() - 1) + 0.5);
    return sorted[index];
}
} // namespace

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juce;
    const auto caspiaMode = argc > 1 && juce::String (argv[1]) == "caspia";
    const auto timerPacing = argc > 2 && juce::String (argv[2]) == "timer";

    InMemoryMidiSystem system;
    MidiManager manager (system);
    juce::OwnedArray<FirmwareImage> images;
    buildFirmwareCatalogue (images);
    system.addKxDevice();

    EndWatcher watcher;
    auto controller = std::make_unique<Controller> (manager, images);
    controller->addListener (&watcher);
    controller->setSenderPacing (timerPacing ? FirmwareSysexSender::Pacing::messageThreadTimer
                                             : FirmwareSysexSender::Pacing::pacingThread);
    system.clearSentMessages();

    std::map<juce::String, double> floorMs;
    for (auto* image : images)
        if (! caspiaMode || ! image->getName().contains ("Assets"))
            floorMs[image->getPortName()] += (image->getNumChunks() + 1) * (double) image->getIntervalMs();

    if (caspiaMode)
        controller->startCaspiaModeUpdate();
    else
        controller->startUpdate();

    pumpMessagesUntil ([&] { return watcher.finished || watcher.aborted; }, 600000);

    std::printf ("%s update, %s pacing: %s\n",
                 caspiaMode ? "Caspia Mode" : "full",
                 timerPacing ? "message-thread timer" : "pacing thread",
                 watcher.finished ? "finished" : (watcher.aborted ? "ABORTED" : "DID NOT FINISH"));
    std::printf ("%-12s %7s %10s %10s %6s | gaps ms: %6s %6s %6s %6s  %s\n",
                 "port",
                 "pieces",
                 "time ms",
                 "floor ms",
                 "ratio",
                 "min",
                 "median",
                 "p99",
                 "max",
                 "below 3.0");

    for (const auto& [port, floor] : floorMs)
    {
        const auto sent = system.getSentMessages (port);
        std::vector<double> gaps;
        for (size_t i = 1; i < sent.size(); ++i)
            gaps.push_back (sent[i].timeMs - sent[i - 1].timeMs);
        const auto below = std::count_if (gaps.begin(), gaps.end(), [] (double g) { return g < 3.0; });
        std::sort (gaps.begin(), gaps.end());

        // From the port's first image starting to its last image completing.
        const auto timeMs = watcher.completedAt[port] - watcher.startedAt[port];
        std::printf ("%-12s %7zu %10.1f %10.1f %7.4f %9.2f | %15.3f %6.3f %6.3f %7.3f  %ld\n",
                     port.toRawUTF8(),
                     sent.size(),
                     timeMs,
                     floor,
                     timeMs / floor,
                     sent.empty() ? 0.0 : sent.front().timeMs - watcher.startedAt[port],
                     gaps.empty() ? 0.0 : gaps.front(),
                     percentile (gaps, 0.5),
                     percentile (gaps, 0.99),
                     gaps.empty() ? 0.0 : gaps.back(),
                     (long) below);
    }

    manager.closeAll();
    controller.reset();
    return watcher.finished ? 0 : 1;
}
