// Paints the updater's window content, in the state a list of controller reports leaves it in,
// into a PNG. The end-to-end tests compare regions of a screenshot of the real updater with it:
// that the window shows the versions the device reported, say, then fails on a wrong or
// missing text as well as on a wrong colour.
//
//   kx_render_window_state OUT.png [REPORT]... [-- OUT.png [REPORT]...]...
//
// Each OUT.png is painted from a fresh component with the reports after it.
//   detected                  hardwareDetected (true)
//   current=PORT:VERSION      currentFirmwareVersion (PORT, VERSION), PORT 0 to 2
//   status=CODE:STATUS        imageStatusChanged (CODE, STATUS)
//   running                   updateRunning (true)
//
// The reports follow the carried versions the controller itself gives on registration.
// A status of 4 raises the abort notice, as on screen: run this before the window under test
// is up, or where another top-level window does not matter.

#include "control/Controller.h"
#include "tests/support/InMemoryMidiSystem.h"
#include "ui/MainWindowComponent.h"

#include <cstdio>

namespace
{
bool splitPair (const juce::String& text, int& number, juce::String& rest)
{
    const auto colon = text.indexOfChar (':');

    if (colon <= 0 || ! text.substring (0, colon).containsOnly ("0123456789"))
        return false;

    number = text.substring (0, colon).getIntValue();
    rest = text.substring (colon + 1);
    return true;
}

/** One picture: a fresh component given the reports, painted into the file. */
bool paintState (const char* outPath, const std::vector<juce::String>& reports)
{
    // No device and no images: the controller only has to exist for the component.
    InMemoryMidiSystem midi;
    MidiManager manager (midi);
    juce::OwnedArray<FirmwareImage> noImages;
    Controller controller (manager, noImages);
    MainWindowComponent component (&controller);
    controller.addListener (&component);
    component.hardwareDetected (false);

    for (const auto& report : reports)
    {
        int number = 0;
        juce::String rest;
        const auto value = report.fromFirstOccurrenceOf ("=", false, false);

        if (report == "detected")
            component.hardwareDetected (true);
        else if (report == "running")
            component.updateRunning (true);
        else if (report.startsWith ("current=") && splitPair (value, number, rest))
            component.currentFirmwareVersion (number, rest);
        else if (report.startsWith ("status=") && splitPair (value, number, rest) && rest.isNotEmpty() &&
                 rest.containsOnly ("0123456789"))
            component.imageStatusChanged (number, rest.getIntValue());
        else
        {
            std::fprintf (stderr, "kx_render_window_state: unknown report \"%s\"\n", report.toRawUTF8());
            return false;
        }
    }

    const auto image = component.createComponentSnapshot (component.getLocalBounds(), true, 1.0f);
    const auto out = juce::File::getCurrentWorkingDirectory().getChildFile (outPath);
    out.deleteFile();
    juce::FileOutputStream stream (out);

    if (! stream.openedOk() || ! juce::PNGImageFormat().writeImageToStream (image, stream))
    {
        std::fprintf (stderr, "kx_render_window_state: cannot write %s\n", outPath);
        return false;
    }

    return true;
}
} // namespace

int main (int argc, char** argv)
{
    if (argc < 2 || juce::String (argv[1]) == "--")
    {
        std::fprintf (stderr,
                      "usage: %s OUT.png [detected | current=PORT:VERSION | status=CODE:STATUS | running]... "
                      "[-- OUT.png ...]...\n",
                      argv[0]);
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI juceInitialiser;

    for (int i = 1; i < argc;)
    {
        const char* outPath = argv[i++];
        std::vector<juce::String> reports;

        while (i < argc && juce::String (argv[i]) != "--")
            reports.emplace_back (argv[i++]);

        if (i < argc)
            ++i;

        if (! paintState (outPath, reports))
            return 1;
    }

    return 0;
}
