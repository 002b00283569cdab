#include "ui/MainWindowComponent.h"

#include "resources/EmbeddedResources.h"
#include "ui/ApplicationInfo.h"

namespace
{
juce::String joinLines (std::initializer_list<const char*> lines)
{
    juce::String text;

    for (auto* line : lines)
    {
        if (text.isNotEmpty())
            text << "\r\n";

        text << line;
    }

    return text;
}

juce::String completionMessage()
{
    return joinLines ({ "Firmware has been sent to the device. ",
                        "Reset the unit when both screens tells you to do so and the right play button is blinking.",
                        "Press the OK button after the unit has been reset" });
}

juce::Image picture (const char* data, int size)
{
    return juce::ImageCache::getFromMemory (data, size);
}

const juce::Colour noOverlay (0x00000000);
} // namespace

const juce::String instructionsText =
    joinLines ({ "This process will erase your current firmware and update with new firmware.",
                 "Read these instructions carefully before following them",
                 "1. Power Your device off. ",
                 "2. While holding the left Play and Cue buttons, power the device on",
                 "3. Press the blinking 'Play' button",
                 "4. Wait while both screens indicate they are erasing the firmware.",
                 "5. After both screens indicate they are ready for an update, press the OK Button" });

const juce::String caspiaInstructionsText =
    joinLines ({ "This process will erase your current firmware and update with new firmware.",
                 "Read these instructions carefully before following them",
                 "1. Power Your device off. ",
                 "2. While holding Play and Cue Buttons, power the device on",
                 "3. Press the FX B on CH 4 button",
                 "4. Wait while both screens indicate they are erasing the firmware.",
                 "5. After both screens indicate they are ready for an update, press the OK Button" });

MainWindowComponent::MainWindowComponent (Controller* controllerToUse) : controller (controllerToUse)
{
    setLookAndFeel (&customLook);

    const auto backgroundPicture = picture (EmbeddedResources::backgroundImage, EmbeddedResources::backgroundImageSize);
    background.setImage (backgroundPicture);
    background.setBounds (0, 0, backgroundPicture.getWidth(), backgroundPicture.getHeight());
    addAndMakeVisible (background);

    updateButton.setImages (
        true,
        false,
        true,
        picture (EmbeddedResources::updateButtonNormalImage, EmbeddedResources::updateButtonNormalImageSize),
        1.0f,
        noOverlay,
        picture (EmbeddedResources::updateButtonOverImage, EmbeddedResources::updateButtonOverImageSize),
        1.0f,
        noOverlay,
        picture (EmbeddedResources::updateButtonDownImage, EmbeddedResources::updateButtonDownImageSize),
        1.0f,
        noOverlay,
        0.0f);

    setSize (backgroundPicture.getWidth(), backgroundPicture.getHeight());

    updateButton.setTopLeftPosition (330, getHeight() - 20 - updateButton.getHeight());
    addAndMakeVisible (updateButton);

    // The lamp has no size yet: it takes its picture's size in hardwareDetected.
    hardwareLamp.setTopLeftPosition (10, updateButton.getY() + updateButton.getHeight() / 2);
    addAndMakeVisible (hardwareLamp);

    hardwareLabel.setBounds (hardwareLamp.getX() + hardwareLamp.getWidth() + 7, hardwareLamp.getY(), 200, 14);
    addAndMakeVisible (hardwareLabel);

    availableFirmwareHeading.setText ("Available Firmware", juce::dontSendNotification);
    currentFirmwareHeading.setText ("Current Firmware", juce::dontSendNotification);

    const juce::Font headingFont (18.0f, juce::Font::plain);
    const juce::Font versionFont (20.0f, juce::Font::plain);
    const juce::Colour headingColour (0xFF808080);
    const juce::Colour versionColour (0xFF555555);

    availableFirmwareHeading.setBounds (getWidth() / 2, 195, 150, 18);
    currentFirmwareHeading.setBounds (10, 195, 150, 18);

    for (auto* heading : { &availableFirmwareHeading, &currentFirmwareHeading })
    {
        heading->setFont (headingFont);
        heading->setColour (juce::Label::textColourId, headingColour);
    }

    const auto stackUnder = [&] (juce::Label& heading, std::initializer_list<juce::Label*> versions)
    {
        juce::Component* above = &heading;

        for (auto* version : versions)
        {
            version->setFont (versionFont);
            version->setColour (juce::Label::textColourId, versionColour);
            version->setBounds (heading.getX(), above->getBottom() + 2, 200, 20);
            above = version;
        }
    };

    stackUnder (availableFirmwareHeading,
                { &availableControlVersion, &availableAudioVersion, &availableGraphicsVersion });
    stackUnder (currentFirmwareHeading, { &currentControlVersion, &currentAudioVersion, &currentGraphicsVersion });

    productLabel.setText ("Product: Tavrek KX", juce::dontSendNotification);
    productLabel.setBounds (10, 160, 200, 16);
    productLabel.setFont (versionFont);

    for (auto* label : { &productLabel,
                         &availableControlVersion,
                         &availableAudioVersion,
                         &availableGraphicsVersion,
                         &availableFirmwareHeading,
                         &currentControlVersion,
                         &currentAudioVersion,
                         &currentGraphicsVersion,
                         &currentFirmwareHeading })
        addAndMakeVisible (label);

    hardwareDetected (false);

    progressBar.setColour (juce::ProgressBar::backgroundColourId, juce::Colours::transparentBlack);
    progressBar.setColour (juce::ProgressBar::foregroundColourId, juce::Colours::red);
    progressBar.setBounds (21, 316, 457, 24);
    addAndMakeVisible (progressBar);

    for (int i = 0; i < 3; ++i)
        statusLabels.add (new juce::Label());

    softwareVersionLabel.setText (juce::String ("Software Version: ") + ApplicationInfo::version,
                                  juce::dontSendNotification);
    softwareVersionLabel.setSize (150, 12);
    softwareVersionLabel.setTopLeftPosition (updateButton.getX(), updateButton.getBottom() + 3);
    addAndMakeVisible (softwareVersionLabel);

    for (int i = 0; i < statusLabels.size(); ++i)
    {
        auto* row = statusLabels[i];
        row->setBounds (13, progressBar.getBottom() + 19 * i, 400, 19);
        row->setFont (juce::Font (16.0f, juce::Font::plain));
        addAndMakeVisible (row);
    }

    addKeyListener (this);
    updateButton.addListener (this);

    // Key presses reach the key listener only while this component, or a child of it,
    // holds the keyboard focus; a click anywhere in the window gives it the focus.
    setWantsKeyboardFocus (true);
}

MainWindowComponent::~MainWindowComponent()
{
    // customLook goes before the Component base: let go of it first.
    setLookAndFeel (nullptr);
}

void MainWindowComponent::availableFirmwareVersion (int port, const juce::String& version)
{
    switch (port)
    {
    case Controller::controlPort:
        availableControlVersion.setText ("KX Control: " + version, juce::dontSendNotification);
        break;
    case Controller::audioPort:
        availableAudioVersion.setText ("KX Audio: " + version, juce::dontSendNotification);
        break;
    case Controller::graphicsPort:
        availableGraphicsVersion.setText ("KX Graphics: " + version, juce::dontSendNotification);
        break;
    default:
        break;
    }
}

void MainWindowComponent::currentFirmwareVersion (int port, const juce::String& version)
{
    switch (port)
    {
    case Controller::controlPort:
        currentControlVersion.setVisible (false);
        currentControlVersion.setText ("KX Control: " + version, juce::dontSendNotification);
        currentControlVersion.setVisible (true);
        break;
    case Controller::audioPort:
        currentAudioVersion.setText ("KX Audio: " + version, juce::dontSendNotification);
        break;
    case Controller::graphicsPort:
        currentGraphicsVersion.setText ("KX Graphics: " + version, juce::dontSendNotification);
        break;
    default:
        break;
    }
}

void MainWindowComponent::hardwareDetected (bool detected)
{
    const juce::MessageManagerLock mmLock (juce::Thread::getCurrentThread());

    if (! mmLock.lockWasGained())
        return;

    juce::Image lamp;

    if (detected)
    {
        lamp = picture (EmbeddedResources::hardwareDetectedImage, EmbeddedResources::hardwareDetectedImageSize);
        hardwareLabel.setText ("Hardware Detected", juce::dontSendNotification);
    }
    else
    {
        lamp = picture (EmbeddedResources::hardwareNotDetectedImage, EmbeddedResources::hardwareNotDetectedImageSize);
        hardwareLabel.setText ("Hardware Not Detected", juce::dontSendNotification);
    }

    currentAudioVersion.setVisible (detected);
    currentControlVersion.setVisible (detected);
    currentGraphicsVersion.setVisible (detected);

    hardwareLamp.setImages (
        true, false, true, lamp, 1.0f, noOverlay, lamp, 1.0f, noOverlay, lamp, 1.0f, noOverlay, 0.0f);
    hardwareLamp.setToggleState (false, juce::dontSendNotification);
    hardwareLamp.setClickingTogglesState (false);
}

void MainWindowComponent::updateProgress (double value)
{
    const juce::MessageManagerLock mmLock (juce::Thread::getCurrentThread());

    if (! mmLock.lockWasGained())
        return;

    progress = value;

    // Every report of completion raises its own notice.
    if (value == 1.0)
        juce::AlertWindow::showMessageBoxAsync (juce::AlertWindow::WarningIcon,
                                                "Firmware Update Complete",
                                                completionMessage(),
                                                "OK",
                                                nullptr,
                                                new AlertWindowCallback (this));
}

void MainWindowComponent::updateRunning (bool running)
{
    updateButton.setEnabled (! running);
}

void MainWindowComponent::imageStatusChanged (int imageCode, int status)
{
    juce::String word;

    switch (status)
    {
    case Controller::waiting:
        word = "Waiting";
        break;
    case Controller::started:
        word = "Started";
        break;
    case Controller::completed:
        word = "Completed";
        break;
    case Controller::sending:
        word = "Sending";
        break;
    case Controller::aborted:
        showAbortAlert();
        word = "Aborted";
        break;
    default:
        break;
    }

    switch (imageCode)
    {
    case Controller::controlFirmwareCode:
        setStatusRowText (0, "KX Control: " + juce::String ("Control Firmware ") + word);
        break;
    case Controller::audioApplicationFirmwareCode:
        setStatusRowText (1, "KX Audio: " + juce::String ("Audio Firmware ") + word);
        break;
    case Controller::audioAssetsCode:
        setStatusRowText (1, "KX Audio: " + juce::String ("Audio Assets ") + word);
        break;
    case Controller::graphicsApplicationFirmwareCode:
        setStatusRowText (2, "KX Graphics: " + juce::String ("Graphics Firmware ") + word);
        break;
    case Controller::graphicsAssetsCode:
        setStatusRowText (2, "KX Graphics: " + juce::String ("Graphic Assets ") + word);
        break;
    default:
        break;
    }
}

void MainWindowComponent::buttonClicked (juce::Button* button)
{
    if (button != &updateButton)
        return;

    controller->setVersionQueryPending (false);

    const auto caspiaMode = caspiaModeRequested;
    const auto title =
        caspiaMode ? "Important Firmware Update Information (Caspia Mode)" : "Important Firmware Update Information";
    const auto& message = caspiaMode ? caspiaInstructionsText : instructionsText;

    const auto confirmed = juce::AlertWindow::showOkCancelBox (
        juce::AlertWindow::WarningIcon, title, message, "OK", "Cancel", nullptr, nullptr);

    if (confirmed)
    {
        if (caspiaMode)
            controller->startCaspiaModeUpdate();
        else
            controller->startUpdate();
    }
    else
    {
        controller->reset();
    }

    caspiaModeRequested = false;

    // Once the box has gone no component holds the focus, and the next key would be lost.
    takeFocusBackUnlessBlocked();
}

bool MainWindowComponent::keyPressed (const juce::KeyPress& key, juce::Component*)
{
    caspiaModeRequested = key.isCurrentlyDown() && key.getTextCharacter() == modeKey;
    return true;
}

void MainWindowComponent::setStatusRowText (int row, const juce::String& text)
{
    const juce::MessageManagerLock mmLock (juce::Thread::getCurrentThread());

    if (! mmLock.lockWasGained() || row >= statusLabels.size())
        return;

    statusLabels[row]->setText (text, juce::dontSendNotification);
}

void MainWindowComponent::showAbortAlert()
{
    if (abortAlertShowing)
        return;

    abortAlertShowing = true;
    juce::AlertWindow::showMessageBoxAsync (juce::AlertWindow::WarningIcon,
                                            "Firmware Update Aborted",
                                            "Firmware update has been aborted due to Midi Error",
                                            "OK",
                                            nullptr,
                                            new AlertWindowCallback (this));
}

void MainWindowComponent::takeFocusBackUnlessBlocked()
{
    // A notice raised meanwhile (an abort at the start, say) keeps the focus it took.
    if (isShowing() && ! isCurrentlyBlockedByAnotherModalComponent())
        grabKeyboardFocus();
}

MainWindowComponent::FocusKeeper::FocusKeeper (MainWindowComponent& ownerToUse) : owner (ownerToUse)
{
    juce::Desktop::getInstance().addFocusChangeListener (this);
}

MainWindowComponent::FocusKeeper::~FocusKeeper()
{
    juce::Desktop::getInstance().removeFocusChangeListener (this);
}

void MainWindowComponent::FocusKeeper::globalFocusChanged (juce::Component* focusedComponent)
{
    // A window that gets the focus back from the system gives it to itself, not to its
    // content, and the key listener would then hear nothing.
    if (focusedComponent != nullptr && focusedComponent != &owner && focusedComponent == owner.getTopLevelComponent())
        owner.takeFocusBackUnlessBlocked();
}

void MainWindowComponent::AlertWindowCallback::modalStateFinished (int)
{
    owner->controller->reset();
    owner->abortAlertShowing = false;
    owner->takeFocusBackUnlessBlocked();
}
