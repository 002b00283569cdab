// The main window on a real display: real clicks and keys through xdotool, the real alert
// windows, a real controller on an in-memory device. Needs DISPLAY (tools/run-with-xvfb.sh).

#include "app/MainWindow.h"
#include "tests/support/InMemoryMidiSystem.h"
#include "tests/support/TransferDriver.h"
#include "ui/MainWindowComponent.h"

#include <deque>
#include <gtest/gtest.h>

namespace
{
const char* const normalTitle = "Important Firmware Update Information";
const char* const caspiaTitle = "Important Firmware Update Information (Caspia Mode)";
const char* const completeTitle = "Firmware Update Complete";
const char* const abortedTitle = "Firmware Update Aborted";

void pumpFor (int ms)
{
    pumpMessagesUntil ([] { return false; }, ms);
}

/** Runs xdotool while the message loop goes on, so that the window sees each event as it comes. */
void xdotool (const juce::String& arguments)
{
    juce::ChildProcess process;
    ASSERT_TRUE (process.start ("xdotool " + arguments)) << arguments;
    ASSERT_TRUE (pumpMessagesUntil ([&] { return ! process.isRunning(); }, 10000)) << arguments;
    ASSERT_EQ (process.getExitCode(), 0u) << arguments << ": " << process.readAllProcessOutput();
}

struct ShownDialog
{
    juce::String title;
    juce::String message;
    juce::StringArray buttons;
};

/** Notes every alert window that comes up and answers the ones it was told to, inside whatever modal loop runs. */
class DialogWatcher : private juce::Timer
{
public:
    DialogWatcher() { startTimer (10); }
    ~DialogWatcher() override { stopTimer(); }

    /** The next alert window that comes up gets this button pressed. */
    void answerNext (const juce::String& button) { answers.push_back (button); }

    std::vector<ShownDialog> shown;

    juce::String describe() const
    {
        juce::StringArray titles;

        for (auto& d : shown)
            titles.add (d.title);

        return "dialogs shown: " + titles.joinIntoString (" | ");
    }

    int countShown (const juce::String& title) const
    {
        return (int) std::count_if (shown.begin(), shown.end(), [&] (auto& d) { return d.title == title; });
    }

    static juce::Array<juce::AlertWindow*> openAlerts()
    {
        juce::Array<juce::AlertWindow*> alerts;
        auto& manager = *juce::ModalComponentManager::getInstance();

        for (int i = 0; i < manager.getNumModalComponents(); ++i)
            if (auto* alert = dynamic_cast<juce::AlertWindow*> (manager.getModalComponent (i)))
                alerts.add (alert);

        return alerts;
    }

    static int countOpen (const juce::String& title)
    {
        int count = 0;

        for (auto* alert : openAlerts())
            count += alert->getName() == title ? 1 : 0;

        return count;
    }

    /** Waits until exactly one alert with this title is open and this watcher has noted it. */
    bool waitForOne (const juce::String& title)
    {
        return pumpMessagesUntil (
            [&]
            {
                noteNewAlerts();
                return countOpen (title) == 1;
            });
    }

    /** Presses a button of one open alert with this title. */
    static bool press (const juce::String& title, const juce::String& button)
    {
        for (auto* alert : openAlerts())
            if (alert->getName() == title)
            {
                const auto before = openAlerts().size();
                alert->triggerButtonClick (button);
                return pumpMessagesUntil ([&] { return openAlerts().size() < before; });
            }

        return false;
    }

private:
    void timerCallback() override { noteNewAlerts(); }

    // Also called from waits, so a test never reads the list before the timer has caught up.
    void noteNewAlerts()
    {
        for (auto* alert : openAlerts())
        {
            if (std::find (seen.begin(), seen.end(), alert) != seen.end())
                continue;

            seen.push_back (alert);
            ShownDialog dialog;
            dialog.title = alert->getName();
            dialog.message = alert->getDescription().fromFirstOccurrenceOf (dialog.title + ". ", false, false);

            for (auto* c : alert->getChildren())
                if (auto* b = dynamic_cast<juce::TextButton*> (c))
                    dialog.buttons.add (b->getButtonText());

            shown.push_back (dialog);

            // The next dialog gets the next answer whatever its title; the test checks the title.
            if (! answers.empty())
            {
                alert->triggerButtonClick (answers.front());
                answers.pop_front();
            }
        }

        seen.erase (std::remove_if (seen.begin(), seen.end(), [] (auto& p) { return p == nullptr; }), seen.end());
    }

    std::vector<juce::Component::SafePointer<juce::AlertWindow>> seen;
    std::deque<juce::String> answers;
};

struct RecordingListener : public Controller::Listener
{
    void availableFirmwareVersion (int, const juce::String&) override {}
    void currentFirmwareVersion (int, const juce::String&) override {}
    void hardwareDetected (bool) override {}
    void updateProgress (double value) override { events.add ("progress " + juce::String (value)); }
    void updateRunning (bool running) override { events.add (running ? "running" : "not running"); }
    void imageStatusChanged (int code, int status) override
    {
        events.add ("status " + juce::String (code) + " " + juce::String (status));
    }

    int count (const juce::String& event) const
    {
        int n = 0;

        for (auto& e : events)
            n += e == event ? 1 : 0;

        return n;
    }

    juce::StringArray events;
};

/** Firmware shaped like a SysEx message, different for each image. */
std::vector<juce::uint8> firmwareBytes (int seed, int numChunks)
{
    std::vector<juce::uint8> bytes { 0xF0 };

    for (int i = 0; i < 256 * numChunks - 50; ++i)
        bytes.push_back ((juce::uint8) ((seed * 17 + i) & 0x7F));

    bytes.push_back (0xF7);
    return bytes;
}

struct CatalogueEntry
{
    const char* name;
    const char* port;
    int numChunks;
};

// In the catalogue's order. The lengths keep the images from ending on the same tick, in
// either kind of update: each image that ends with every piece sent reports the update finished.
const CatalogueEntry catalogue[] = {
    { "Audio Application Firmware", "KX Audio", 2 }, { "Graphics Application Firmware", "KX Graphics", 6 },
    { "Graphics Assets", "KX Graphics", 5 },         { "Audio Assets", "KX Audio", 3 },
    { "Control Firmware", "KX Control", 1 },
};

class MainWindowOnScreen : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE (juce::SystemStats::getEnvironmentVariable ("DISPLAY", {}).isNotEmpty())
            << "run under tools/run-with-xvfb.sh";

        midi.addKxDevice();

        for (int i = 0; i < 5; ++i)
        {
            data.push_back (firmwareBytes (i, catalogue[i].numChunks));
            const int size = (int) data.back().size();
            images.add (new FirmwareImage (data.back().data(), size, 256, 3, catalogue[i].port, catalogue[i].name));
        }

        controller = std::make_unique<Controller> (manager, images);
        component = std::make_unique<MainWindowComponent> (controller.get());
        controller->addListener (component.get());
        controller->addListener (&reports);
        window = std::make_unique<MainWindow> (component.get());

        ASSERT_TRUE (pumpMessagesUntil ([this] { return component->isShowing() && window->getPeer() != nullptr; }));
        pumpFor (300);
        windowId = juce::String ((juce::uint64) (juce::pointer_sized_uint) window->getPeer()->getNativeHandle());
    }

    void TearDown() override
    {
        for (auto* alert : DialogWatcher::openAlerts())
            alert->exitModalState (0);

        pumpFor (100);
        window.reset();
        manager.closeAll();
        controller.reset();
        component.reset();
    }

    juce::Point<int> inWindow (juce::Point<int> componentPoint) const
    {
        return component->localPointToGlobal (componentPoint) - window->getPeer()->getBounds().getPosition();
    }

    void click (juce::Point<int> componentPoint)
    {
        const auto p = inWindow (componentPoint);
        xdotool ("mousemove --window " + windowId + " " + juce::String (p.x) + " " + juce::String (p.y) + " click 1");
    }

    void clickUpdate() { click ({ 405, 417 }); }

    /** The mode key, held long enough for the window to find it down when it handles the press. */
    void press (const juce::String& keys) { xdotool ("keydown " + keys + " sleep 0.2 keyup " + keys); }

    /** Clicks "Update", answers the confirmation and returns the title it had. */
    juce::String clickUpdateAndAnswer (const juce::String& answer)
    {
        const auto before = dialogs.shown.size();
        dialogs.answerNext (answer);
        clickUpdate();

        const auto answered = [&]
        { return dialogs.shown.size() > before && DialogWatcher::countOpen (dialogs.shown[before].title) == 0; };

        if (! pumpMessagesUntil (answered))
            return "no dialog";

        pumpFor (50);
        return dialogs.shown[before].title;
    }

    /** Every firmware byte that reached a port, identity requests left out. */
    std::vector<juce::uint8> firmwareSent (const juce::String& port) const
    {
        std::vector<juce::uint8> bytes;

        for (auto& message : midi.getSentMessages (port))
            if (message.bytes != std::vector<juce::uint8> { 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 })
                bytes.insert (bytes.end(), message.bytes.begin(), message.bytes.end());

        return bytes;
    }

    std::vector<juce::uint8> joined (std::initializer_list<int> indices) const
    {
        std::vector<juce::uint8> bytes;

        for (auto i : indices)
            bytes.insert (bytes.end(), data[(size_t) i].begin(), data[(size_t) i].end());

        return bytes;
    }

    juce::Label& statusRow (int row) { return *dynamic_cast<juce::Label*> (component->getChildComponent (15 + row)); }
    juce::Button& updateButton() { return *dynamic_cast<juce::Button*> (component->getChildComponent (1)); }
    juce::Component& progressBar() { return *component->getChildComponent (13); }

    /** The right-most column of the progress bar that shows the bar's red, or -1. */
    int barEnd()
    {
        const auto image = progressBar().createComponentSnapshot (progressBar().getLocalBounds(), false);
        int last = -1;

        for (int x = 0; x < image.getWidth(); ++x)
        {
            const auto pixel = image.getPixelAt (x, 18);
            if (pixel.getAlpha() == 255 && pixel.getRed() > 150 && pixel.getGreen() < 90)
                last = x;
        }

        return last;
    }

    InMemoryMidiSystem midi;
    MidiManager manager { midi };
    std::vector<std::vector<juce::uint8>> data;
    juce::OwnedArray<FirmwareImage> images;
    std::unique_ptr<Controller> controller;
    std::unique_ptr<MainWindowComponent> component;
    std::unique_ptr<MainWindow> window;
    RecordingListener reports;
    DialogWatcher dialogs;
    juce::String windowId;
};
} // namespace

TEST_F (MainWindowOnScreen, ModeKeyBeforeAClickSelectsTheCaspiaConfirmationForThatClickOnly)
{
    click ({ 250, 100 });
    ASSERT_TRUE (pumpMessagesUntil ([this] { return component->hasKeyboardFocus (true); }))
        << "a click gives the focus";

    press ("c");
    EXPECT_EQ (clickUpdateAndAnswer ("Cancel"), caspiaTitle);
    ASSERT_FALSE (dialogs.shown.empty());
    EXPECT_EQ (dialogs.shown.back().message, caspiaInstructionsText);
    EXPECT_EQ (dialogs.shown.back().buttons, juce::StringArray ({ "OK", "Cancel" }));

    // The click used it up.
    EXPECT_EQ (clickUpdateAndAnswer ("Cancel"), normalTitle);
    EXPECT_EQ (dialogs.shown.back().message, instructionsText);

    press ("c");
    press ("x");
    EXPECT_EQ (clickUpdateAndAnswer ("Cancel"), normalTitle) << "another key in between";

    xdotool ("keydown shift keydown c sleep 0.2 keyup c keyup shift");
    EXPECT_EQ (clickUpdateAndAnswer ("Cancel"), normalTitle) << "the upper-case letter";

    // No click since the last box closed: the key still has to arrive.
    press ("c");
    EXPECT_EQ (clickUpdateAndAnswer ("Cancel"), caspiaTitle) << "focus taken back after a dialog";

    // Each Cancel reset the controller once and sent nothing.
    EXPECT_EQ (reports.count ("not running"), 5);
    EXPECT_EQ (reports.count ("running"), 0);
    for (auto* port : { "KX Audio", "KX Graphics", "KX Control" })
        EXPECT_TRUE (firmwareSent (port).empty()) << port;

    // OK in Caspia Mode sends the three application images, once each, and nothing else.
    press ("c");
    EXPECT_EQ (clickUpdateAndAnswer ("OK"), caspiaTitle);
    ASSERT_TRUE (dialogs.waitForOne (completeTitle)) << dialogs.describe() << reports.events.joinIntoString (", ");
    EXPECT_EQ (firmwareSent ("KX Audio"), joined ({ 0 }));
    EXPECT_EQ (firmwareSent ("KX Graphics"), joined ({ 1 }));
    EXPECT_EQ (firmwareSent ("KX Control"), joined ({ 4 }));
    EXPECT_EQ (reports.count ("running"), 1);
}

TEST_F (MainWindowOnScreen, OkSendsEveryImageOnceAndTheCompletionNoticeResetsTheController)
{
    EXPECT_EQ (clickUpdateAndAnswer ("OK"), normalTitle);
    EXPECT_FALSE (updateButton().isEnabled());

    ASSERT_TRUE (dialogs.waitForOne (completeTitle)) << dialogs.describe() << reports.events.joinIntoString (", ");
    const auto notice = dialogs.shown.back();
    EXPECT_EQ (notice.message,
               "Firmware has been sent to the device. \r\nReset the unit when both screens tells you to do so and the "
               "right play button is blinking.\r\nPress the OK button after the unit has been reset");
    EXPECT_EQ (notice.buttons, juce::StringArray ({ "OK" }));

    EXPECT_EQ (firmwareSent ("KX Audio"), joined ({ 0, 3 }));
    EXPECT_EQ (firmwareSent ("KX Graphics"), joined ({ 1, 2 }));
    EXPECT_EQ (firmwareSent ("KX Control"), joined ({ 4 }));
    EXPECT_EQ (reports.count ("running"), 1);
    EXPECT_TRUE (controller->isUpdating());
    EXPECT_FALSE (updateButton().isEnabled()) << "stays disabled until the notice is dismissed";
    ASSERT_TRUE (pumpMessagesUntil ([this] { return barEnd() >= 450; }));

    const auto notRunningBefore = reports.count ("not running");
    ASSERT_TRUE (DialogWatcher::press (completeTitle, "OK"));
    EXPECT_EQ (reports.count ("not running"), notRunningBefore + 1);
    EXPECT_EQ (reports.events[reports.events.size() - 1], "progress 0");
    EXPECT_FALSE (controller->isUpdating());
    EXPECT_TRUE (updateButton().isEnabled());
    EXPECT_TRUE (pumpMessagesUntil ([this] { return barEnd() == -1; })) << "the bar empties";
    EXPECT_EQ (statusRow (0).getText(), "KX Control: Control Firmware Completed") << "rows keep their texts";
    EXPECT_EQ (statusRow (1).getText(), "KX Audio: Audio Assets Completed");
}

TEST_F (MainWindowOnScreen, AnAbortRaisesOneNoticeUntilItIsDismissed)
{
    midi.removePorts ("KX Graphics");
    EXPECT_EQ (clickUpdateAndAnswer ("OK"), normalTitle);

    // The missing port aborts twice over (two images use it): one notice all the same.
    ASSERT_TRUE (dialogs.waitForOne (abortedTitle));
    pumpFor (100);
    EXPECT_EQ (dialogs.countShown (abortedTitle), 1);
    EXPECT_EQ (dialogs.shown.back().message, "Firmware update has been aborted due to Midi Error");
    EXPECT_EQ (statusRow (0).getText(), "KX Control: Control Firmware Aborted");
    EXPECT_EQ (statusRow (1).getText(), "KX Audio: Audio Firmware Aborted");
    EXPECT_EQ (statusRow (2).getText(), "KX Graphics: Graphics Firmware Aborted");
    EXPECT_TRUE (firmwareSent ("KX Audio").empty());

    // The button is disabled: a real click on it asks nothing.
    EXPECT_FALSE (updateButton().isEnabled());
    const auto shownBefore = dialogs.shown.size();
    clickUpdate();
    pumpFor (300);
    EXPECT_EQ (dialogs.shown.size(), shownBefore);

    component->imageStatusChanged (9, 4);
    pumpFor (100);
    EXPECT_EQ (dialogs.countShown (abortedTitle), 1);

    const auto notRunningBefore = reports.count ("not running");
    ASSERT_TRUE (DialogWatcher::press (abortedTitle, "OK"));
    EXPECT_EQ (reports.count ("not running"), notRunningBefore + 1);
    EXPECT_TRUE (updateButton().isEnabled());

    // Dismissed, the next aborted report raises a new notice; code 9 writes no row.
    component->imageStatusChanged (9, 4);
    EXPECT_TRUE (pumpMessagesUntil ([this] { return dialogs.countShown (abortedTitle) == 2; }));
    EXPECT_EQ (DialogWatcher::countOpen (abortedTitle), 1);
    EXPECT_EQ (statusRow (2).getText(), "KX Graphics: Graphics Firmware Aborted");
}

TEST_F (MainWindowOnScreen, EveryCompletionReportRaisesANoticeAndDismissingOneClearsTheAbortGuard)
{
    component->updateProgress (0.99);
    component->updateProgress (0.5);
    pumpFor (200);
    EXPECT_TRUE (DialogWatcher::openAlerts().isEmpty());
    EXPECT_TRUE (pumpMessagesUntil ([this] { return barEnd() >= 226 && barEnd() <= 229; })) << barEnd();

    component->updateProgress (1.0);
    component->updateProgress (1.0);
    component->imageStatusChanged (1, 4);
    ASSERT_TRUE (pumpMessagesUntil ([] { return DialogWatcher::openAlerts().size() == 3; }));
    EXPECT_EQ (DialogWatcher::countOpen (completeTitle), 2);
    EXPECT_EQ (DialogWatcher::countOpen (abortedTitle), 1);

    component->imageStatusChanged (1, 4);
    pumpFor (100);
    EXPECT_EQ (DialogWatcher::countOpen (abortedTitle), 1);

    const auto notRunningBefore = reports.count ("not running");
    ASSERT_TRUE (DialogWatcher::press (completeTitle, "OK"));
    EXPECT_EQ (reports.count ("not running"), notRunningBefore + 1);

    component->imageStatusChanged (3, 4);
    EXPECT_TRUE (pumpMessagesUntil ([] { return DialogWatcher::countOpen (abortedTitle) == 2; }));
}
