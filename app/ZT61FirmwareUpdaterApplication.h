#pragma once

#include "app/MainWindow.h"
#include "control/Controller.h"
#include "transfer/FirmwareImage.h"
#include "transfer/MidiManager.h"
#include "ui/MainWindowComponent.h"

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The application: creates and owns the MIDI manager, the firmware catalogue, the
    controller, the window's content and the window, asks before quitting while an update
    has been started, and tears everything down with the MIDI ports closed first.
*/
class ZT61FirmwareUpdaterApplication : public juce::JUCEApplication
{
public:
    /** Uses the platform's MIDI system. */
    ZT61FirmwareUpdaterApplication() = default;

    /** Uses the given MIDI system, which must outlive the application object. */
    explicit ZT61FirmwareUpdaterApplication (MidiSystem& midiSystem);

    ~ZT61FirmwareUpdaterApplication() override;

    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;
    void initialise (const juce::String& commandLine) override;
    void shutdown() override;
    void anotherInstanceStarted (const juce::String& commandLine) override;
    void systemRequestedQuit() override;

private:
    std::unique_ptr<MainWindowComponent> mainComponent;
    std::unique_ptr<Controller> controller;
    std::unique_ptr<MainWindow> mainWindow;
    juce::OwnedArray<FirmwareImage> firmwareImages;
    MidiManager midiManager;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ZT61FirmwareUpdaterApplication)
};
