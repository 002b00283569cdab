#include "app/ZT61FirmwareUpdaterApplication.h"

#include "app/FirmwareCatalogue.h"
#include "ui/ApplicationInfo.h"

ZT61FirmwareUpdaterApplication::ZT61FirmwareUpdaterApplication (MidiSystem& midiSystem) : midiManager (midiSystem) {}

ZT61FirmwareUpdaterApplication::~ZT61FirmwareUpdaterApplication()
{
    // No MIDI input may reach the controller while it and the window are torn down.
    midiManager.closeAll();

    // The controller goes before the images: a transfer still running when the user quits
    // reads its image on the senders' own pacing threads until the controller stops them.
    controller.reset();
    firmwareImages.clear();
    mainWindow.reset();
    mainComponent.reset();
}

const juce::String ZT61FirmwareUpdaterApplication::getApplicationName()
{
    return ApplicationInfo::name;
}

const juce::String ZT61FirmwareUpdaterApplication::getApplicationVersion()
{
    return ApplicationInfo::version;
}

bool ZT61FirmwareUpdaterApplication::moreThanOneInstanceAllowed()
{
    return false;
}

void ZT61FirmwareUpdaterApplication::initialise (const juce::String&)
{
    juce::LookAndFeel::getDefaultLookAndFeel().setUsingNativeAlertWindows (true);

    buildFirmwareCatalogue (firmwareImages);
    controller = std::make_unique<Controller> (midiManager, firmwareImages);
    mainComponent = std::make_unique<MainWindowComponent> (controller.get());
    controller->addListener (mainComponent.get());
    mainWindow = std::make_unique<MainWindow> (mainComponent.get());
}

void ZT61FirmwareUpdaterApplication::shutdown() {}

void ZT61FirmwareUpdaterApplication::anotherInstanceStarted (const juce::String&) {}

void ZT61FirmwareUpdaterApplication::systemRequestedQuit()
{
    if (controller == nullptr || ! controller->isUpdating())
    {
        quit();
        return;
    }

    const auto confirmed = juce::AlertWindow::showOkCancelBox (
        juce::AlertWindow::WarningIcon,
        "Update In Progress",
        "Do you really want to quit ? Pressing OK will leave the device in an unusable state until a firmware "
        "update is sucessfully performed.",
        "Yes",
        "Cancel",
        nullptr,
        nullptr);

    if (confirmed)
        quit();
}
