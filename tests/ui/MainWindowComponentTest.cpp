#include "ui/MainWindowComponent.h"

#include "resources/EmbeddedResources.h"
#include "tests/support/InMemoryMidiSystem.h"

#include <gtest/gtest.h>

namespace
{
// The children in the order they are added, back to front.
enum Child
{
    backgroundChild,
    updateButtonChild,
    lampChild,
    hardwareLabelChild,
    productChild,
    availableControlChild,
    availableAudioChild,
    availableGraphicsChild,
    availableHeadingChild,
    currentControlChild,
    currentAudioChild,
    currentGraphicsChild,
    currentHeadingChild,
    progressBarChild,
    softwareVersionChild,
    statusRow0Child,
    statusRow1Child,
    statusRow2Child,
    numChildren
};

/** A component on a real controller that watches an empty MIDI system; the component is not registered. */
struct ComponentFixture : public ::testing::Test
{
    InMemoryMidiSystem midi;
    MidiManager manager { midi };
    juce::OwnedArray<FirmwareImage> images;
    Controller controller { manager, images };
    MainWindowComponent component { &controller };

    juce::Component* child (int index) { return component.getChildComponent (index); }
    juce::Label& label (int index) { return *dynamic_cast<juce::Label*> (child (index)); }
    juce::ImageButton& imageButton (int index) { return *dynamic_cast<juce::ImageButton*> (child (index)); }

    juce::StringArray labelTexts()
    {
        juce::StringArray texts;

        for (auto* c : component.getChildren())
            if (auto* l = dynamic_cast<juce::Label*> (c))
                texts.add (l->getText() + (l->isVisible() ? " [shown]" : " [hidden]"));

        return texts;
    }

    bool lampShows (const char* data, int size)
    {
        return imageButton (lampChild).getNormalImage() == juce::ImageCache::getFromMemory (data, size);
    }
};

struct LabelRow
{
    int index;
    const char* text;
    juce::Rectangle<int> bounds;
    float fontHeight;
    juce::uint32 colour;
    bool visible;
};
} // namespace

TEST_F (ComponentFixture, ChildrenSitAtTheirPlacesInTheirOrderWithTheirLooks)
{
    EXPECT_EQ (component.getBounds(), juce::Rectangle<int> (0, 0, 500, 452));
    ASSERT_EQ (component.getNumChildComponents(), numChildren);

    ASSERT_NE (dynamic_cast<juce::ImageComponent*> (child (backgroundChild)), nullptr);
    EXPECT_EQ (child (backgroundChild)->getBounds(), juce::Rectangle<int> (0, 0, 500, 452));
    EXPECT_EQ (
        dynamic_cast<juce::ImageComponent*> (child (backgroundChild))->getImage(),
        juce::ImageCache::getFromMemory (EmbeddedResources::backgroundImage, EmbeddedResources::backgroundImageSize));

    ASSERT_NE (dynamic_cast<juce::ImageButton*> (child (updateButtonChild)), nullptr);
    EXPECT_EQ (child (updateButtonChild)->getName(), "Update");
    EXPECT_EQ (child (updateButtonChild)->getBounds(), juce::Rectangle<int> (330, 402, 150, 30));
    EXPECT_EQ (imageButton (updateButtonChild).getNormalImage(),
               juce::ImageCache::getFromMemory (EmbeddedResources::updateButtonNormalImage,
                                                EmbeddedResources::updateButtonNormalImageSize));
    EXPECT_EQ (imageButton (updateButtonChild).getOverImage(),
               juce::ImageCache::getFromMemory (EmbeddedResources::updateButtonOverImage,
                                                EmbeddedResources::updateButtonOverImageSize));
    EXPECT_EQ (imageButton (updateButtonChild).getDownImage(),
               juce::ImageCache::getFromMemory (EmbeddedResources::updateButtonDownImage,
                                                EmbeddedResources::updateButtonDownImageSize));

    ASSERT_NE (dynamic_cast<juce::ImageButton*> (child (lampChild)), nullptr);
    EXPECT_EQ (child (lampChild)->getName(), "");
    EXPECT_EQ (child (lampChild)->getBounds(), juce::Rectangle<int> (10, 417, 12, 12));

    auto* bar = dynamic_cast<juce::ProgressBar*> (child (progressBarChild));
    ASSERT_NE (bar, nullptr);
    EXPECT_EQ (bar->getBounds(), juce::Rectangle<int> (21, 316, 457, 24));
    EXPECT_EQ (bar->findColour (juce::ProgressBar::backgroundColourId), juce::Colours::transparentBlack);
    EXPECT_EQ (bar->findColour (juce::ProgressBar::foregroundColourId), juce::Colours::red);
    EXPECT_NE (dynamic_cast<CustomLook*> (&bar->getLookAndFeel()), nullptr);

    const LabelRow rows[] = {
        { hardwareLabelChild, "Hardware Not Detected", { 17, 417, 200, 14 }, 15.0f, 0xFF000000, true },
        { productChild, "Product: Tavrek KX", { 10, 160, 200, 16 }, 20.0f, 0xFF000000, true },
        { availableControlChild, "", { 250, 215, 200, 20 }, 20.0f, 0xFF555555, true },
        { availableAudioChild, "", { 250, 237, 200, 20 }, 20.0f, 0xFF555555, true },
        { availableGraphicsChild, "", { 250, 259, 200, 20 }, 20.0f, 0xFF555555, true },
        { availableHeadingChild, "Available Firmware", { 250, 195, 150, 18 }, 18.0f, 0xFF808080, true },
        { currentControlChild, "", { 10, 215, 200, 20 }, 20.0f, 0xFF555555, false },
        { currentAudioChild, "", { 10, 237, 200, 20 }, 20.0f, 0xFF555555, false },
        { currentGraphicsChild, "", { 10, 259, 200, 20 }, 20.0f, 0xFF555555, false },
        { currentHeadingChild, "Current Firmware", { 10, 195, 150, 18 }, 18.0f, 0xFF808080, true },
        { softwareVersionChild, "Software Version: 1.0.6", { 330, 435, 150, 12 }, 15.0f, 0xFF000000, true },
        { statusRow0Child, "", { 13, 340, 400, 19 }, 16.0f, 0xFF000000, true },
        { statusRow1Child, "", { 13, 359, 400, 19 }, 16.0f, 0xFF000000, true },
        { statusRow2Child, "", { 13, 378, 400, 19 }, 16.0f, 0xFF000000, true },
    };

    for (const auto& row : rows)
    {
        auto* l = dynamic_cast<juce::Label*> (child (row.index));
        ASSERT_NE (l, nullptr) << row.index;
        EXPECT_EQ (l->getText(), row.text) << row.index;
        EXPECT_EQ (l->getBounds(), row.bounds) << row.index;
        EXPECT_FLOAT_EQ (l->getFont().getHeight(), row.fontHeight) << row.index;
        EXPECT_FALSE (l->getFont().isBold()) << row.index;
        EXPECT_EQ (l->findColour (juce::Label::textColourId).getARGB(), row.colour) << row.index;
        EXPECT_EQ (l->isVisible(), row.visible) << row.index;
    }

    EXPECT_EQ (label (currentControlChild).getName(), "Control Firmware Version");
    EXPECT_EQ (label (currentAudioChild).getName(), "Audio Firmware Version");
    EXPECT_EQ (label (currentGraphicsChild).getName(), "Graphics Firmware Version");
    EXPECT_EQ (label (softwareVersionChild).getName(), "Software Version");

    // The hardware text begins right of the lamp.
    EXPECT_EQ (label (hardwareLabelChild).getX() + label (hardwareLabelChild).getBorderSize().getLeft(), 22);
    EXPECT_TRUE (
        lampShows (EmbeddedResources::hardwareNotDetectedImage, EmbeddedResources::hardwareNotDetectedImageSize));
    EXPECT_TRUE (child (updateButtonChild)->isEnabled());
    EXPECT_TRUE (component.getWantsKeyboardFocus());
}

TEST_F (ComponentFixture, HardwareStateSwitchesLampTextAndCurrentVersionsButKeepsTheirTexts)
{
    component.currentFirmwareVersion (1, "0.0.2.4");
    component.hardwareDetected (true);

    EXPECT_TRUE (lampShows (EmbeddedResources::hardwareDetectedImage, EmbeddedResources::hardwareDetectedImageSize));
    EXPECT_EQ (child (lampChild)->getBounds(), juce::Rectangle<int> (10, 417, 12, 12));
    EXPECT_EQ (label (hardwareLabelChild).getText(), "Hardware Detected");
    for (auto index : { currentControlChild, currentAudioChild, currentGraphicsChild })
        EXPECT_TRUE (child (index)->isVisible()) << index;
    EXPECT_TRUE (child (availableControlChild)->isVisible());

    component.hardwareDetected (false);

    EXPECT_TRUE (
        lampShows (EmbeddedResources::hardwareNotDetectedImage, EmbeddedResources::hardwareNotDetectedImageSize));
    EXPECT_EQ (label (hardwareLabelChild).getText(), "Hardware Not Detected");
    for (auto index : { currentControlChild, currentAudioChild, currentGraphicsChild })
        EXPECT_FALSE (child (index)->isVisible()) << index;
    EXPECT_EQ (label (currentAudioChild).getText(), "KX Audio: 0.0.2.4");
    EXPECT_TRUE (child (availableControlChild)->isVisible());
}

TEST_F (ComponentFixture, VersionReportsFillTheirLabelsAndIgnoreOtherPorts)
{
    component.availableFirmwareVersion (0, "0.0.3.6");
    component.availableFirmwareVersion (1, "0.0.2.5");
    component.availableFirmwareVersion (2, "0.0.2.6");
    EXPECT_EQ (label (availableControlChild).getText(), "KX Control: 0.0.3.6");
    EXPECT_EQ (label (availableAudioChild).getText(), "KX Audio: 0.0.2.5");
    EXPECT_EQ (label (availableGraphicsChild).getText(), "KX Graphics: 0.0.2.6");

    // While the hardware shows as not detected, only the control version comes into view.
    component.currentFirmwareVersion (0, "1.123.4");
    component.currentFirmwareVersion (1, "0.0.2.4");
    component.currentFirmwareVersion (2, "0.0.2.3");
    EXPECT_EQ (label (currentControlChild).getText(), "KX Control: 1.123.4");
    EXPECT_TRUE (child (currentControlChild)->isVisible());
    EXPECT_EQ (label (currentAudioChild).getText(), "KX Audio: 0.0.2.4");
    EXPECT_FALSE (child (currentAudioChild)->isVisible());
    EXPECT_EQ (label (currentGraphicsChild).getText(), "KX Graphics: 0.0.2.3");
    EXPECT_FALSE (child (currentGraphicsChild)->isVisible());
    EXPECT_EQ (label (hardwareLabelChild).getText(), "Hardware Not Detected");

    const auto before = labelTexts();
    component.availableFirmwareVersion (3, "9.9.9.9");
    component.availableFirmwareVersion (-1, "9.9.9.9");
    component.currentFirmwareVersion (-1, "9.9.9.9");
    component.currentFirmwareVersion (3, "9.9.9.9");
    EXPECT_EQ (labelTexts(), before);
}

TEST_F (ComponentFixture, StatusReportsWriteTheirPortsRow)
{
    struct Report
    {
        int imageCode, status, row;
        const char* text;
    };

    const Report reports[] = {
        { 4, 2, 2, "KX Graphics: Graphic Assets Completed" },
        { 3, 1, 2, "KX Graphics: Graphics Firmware Started" },
        { 0, 0, 0, "KX Control: Control Firmware Waiting" },
        { 1, 2, 1, "KX Audio: Audio Firmware Completed" },
        { 2, 3, 1, "KX Audio: Audio Assets Sending" },
        { 0, 7, 0, "KX Control: Control Firmware " },
        { 1, -1, 1, "KX Audio: Audio Firmware " },
    };

    for (const auto& report : reports)
    {
        component.imageStatusChanged (report.imageCode, report.status);
        EXPECT_EQ (label (statusRow0Child + report.row).getText(), report.text)
            << report.imageCode << ", " << report.status;
    }

    const auto before = labelTexts();
    component.imageStatusChanged (5, 1);
    component.imageStatusChanged (-1, 0);
    EXPECT_EQ (labelTexts(), before);
}

TEST_F (ComponentFixture, UpdateRunningDisablesUpdateAndTheLampNeverToggles)
{
    component.updateRunning (true);
    EXPECT_FALSE (child (updateButtonChild)->isEnabled());
    component.updateRunning (false);
    EXPECT_TRUE (child (updateButtonChild)->isEnabled());

    auto& lamp = imageButton (lampChild);
    lamp.triggerClick();
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    EXPECT_FALSE (lamp.getToggleState());
    EXPECT_FALSE (lamp.getClickingTogglesState());

    // Every key that reaches the component's listener is used up there.
    EXPECT_TRUE (component.keyPressed (juce::KeyPress ('x'), &component));
    EXPECT_TRUE (component.keyPressed (juce::KeyPress (juce::KeyPress::escapeKey), &component));
}
