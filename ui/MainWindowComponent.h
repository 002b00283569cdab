#pragma once

#include "control/Controller.h"
#include "ui/CustomLook.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** How to put the device into its update mode, shown before a normal update. */
extern const juce::String instructionsText;

/** The same for an update in Caspia Mode. */
extern const juce::String caspiaInstructionsText;

/**
    The whole content of the updater's window: device state, firmware versions, progress,
    one status row per port and the "Update" button, laid out once at fixed coordinates and
    driven entirely by the controller's reports. It raises the update dialogs.

    Pressing the mode key (modeKey) right before clicking "Update" selects the Caspia Mode
    update. The component takes keyboard focus, when clicked and after each dialog, so that
    the key reaches it.
*/
class MainWindowComponent : public juce::Component,
                            public Controller::Listener,
                            public juce::KeyListener,
                            public juce::Button::Listener
{
public:
    /** The mode key, compared with the key press's text character. */
    static constexpr juce::juce_wchar modeKey = 'c';

    /** The controller is not owned and must outlive every call into it. */
    explicit MainWindowComponent (Controller* controllerToUse);
    ~MainWindowComponent() override;

    void availableFirmwareVersion (int port, const juce::String& version) override;
    void currentFirmwareVersion (int port, const juce::String& version) override;
    void hardwareDetected (bool detected) override;
    void updateProgress (double value) override;
    void updateRunning (bool running) override;
    void imageStatusChanged (int imageCode, int status) override;

    void buttonClicked (juce::Button* button) override;

    /** Consumes every key; remembers whether it was the mode key, still held down. */
    bool keyPressed (const juce::KeyPress& key, juce::Component* originatingComponent) override;
    using juce::Component::keyPressed; // the component's own, which clang warns the one above hides

private:
    /** Carries the dismissal of a completion or abort notice back to its owner. */
    class AlertWindowCallback : public juce::ModalComponentManager::Callback
    {
    public:
        explicit AlertWindowCallback (MainWindowComponent* ownerToUse) : owner (ownerToUse) {}
        ~AlertWindowCallback() override = default;

        void modalStateFinished (int result) override;

    private:
        MainWindowComponent* owner;
    };

    /** Passes the keyboard focus on to the component whenever its window itself takes it. */
    class FocusKeeper : public juce::FocusChangeListener
    {
    public:
        explicit FocusKeeper (MainWindowComponent& ownerToUse);
        ~FocusKeeper() override;

        void globalFocusChanged (juce::Component* focusedComponent) override;

    private:
        MainWindowComponent& owner;
    };

    void setStatusRowText (int row, const juce::String& text);
    void showAbortAlert();
    void takeFocusBackUnlessBlocked();

    Controller* controller;

    // Declared ahead of progressBar, which reads it while being constructed.
    double progress = 0.0;

    juce::ImageButton updateButton { "Update" };
    juce::ImageButton hardwareLamp;
    juce::ProgressBar progressBar { progress };
    juce::ImageComponent background;
    juce::Label hardwareLabel;
    juce::Label currentFirmwareHeading;
    juce::Label currentControlVersion { "Control Firmware Version" };
    juce::Label currentAudioVersion { "Audio Firmware Version" };
    juce::Label currentGraphicsVersion { "Graphics Firmware Version" };
    juce::Label availableFirmwareHeading;
    juce::Label availableControlVersion;
    juce::Label availableAudioVersion;
    juce::Label availableGraphicsVersion;
    juce::Label softwareVersionLabel { "Software Version" };
    juce::OwnedArray<juce::Label> statusLabels;
    juce::Label productLabel;
    CustomLook customLook;
    bool caspiaModeRequested = false;
    bool abortAlertShowing = false;
    FocusKeeper focusKeeper { *this };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindowComponent)
};
