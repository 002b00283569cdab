#include "ui/MainWindowComponent.h"

#include <gtest/gtest.h>

namespace
{
juce::String expectedText (const std::vector<const char*>& lines)
{
    std::string joined;

    for (size_t i = 0; i < lines.size(); ++i)
        joined += (i == 0 ? "" : "\r\n") + std::string (lines[i]);

    return juce::String (joined);
}
} // namespace

TEST (InstructionTexts, AreTheSevenLinesJoinedByCrLf)
{
    const auto normal = expectedText ({
        "This process will erase your current firmware and update with new firmware.",
        "Read these instructions carefully before following them",
        "1. Power Your device off. ",
        "2. While holding the left Play and Cue buttons, power the device on",
        "3. Press the blinking 'Play' button",
        "4. Wait while both screens indicate they are erasing the firmware.",
        "5. After both screens indicate they are ready for an update, press the OK Button",
    });
    const auto caspia = expectedText ({
        "This process will erase your current firmware and update with new firmware.",
        "Read these instructions carefully before following them",
        "1. Power Your device off. ",
        "2. While holding Play and Cue Buttons, power the device on",
        "3. Press the FX B on CH 4 button",
        "4. Wait while both screens indicate they are erasing the firmware.",
        "5. After both screens indicate they are ready for an update, press the OK Button",
    });

    EXPECT_EQ (instructionsText, normal);
    EXPECT_EQ (caspiaInstructionsText, caspia);

    for (auto* text : { &instructionsText, &caspiaInstructionsText })
    {
        const auto bytes = text->toStdString();
        size_t pairs = 0;

        for (auto at = bytes.find ("\r\n"); at != std::string::npos; at = bytes.find ("\r\n", at + 2))
            ++pairs;

        EXPECT_EQ (pairs, 6u);
        EXPECT_EQ (std::count (bytes.begin(), bytes.end(), '\r'), 6);
        EXPECT_EQ (std::count (bytes.begin(), bytes.end(), '\n'), 6);
        EXPECT_NE (bytes.back(), '\n');
        EXPECT_NE (bytes.find ("off. \r\n2."), std::string::npos);
    }
}
