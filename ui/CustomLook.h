#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The look of the main window's content: a flat progress bar filled with a red vertical
    gradient under black centred text, and toggle buttons drawn as a black outline square
    that is crossed when ticked. Everything else is LookAndFeel_V3's.
*/
class CustomLook : public juce::LookAndFeel_V3
{
public:
    CustomLook() = default;
    ~CustomLook() override = default;

    void drawToggleButton (juce::Graphics& g,
                           juce::ToggleButton& button,
                           bool shouldDrawButtonAsHighlighted,
                           bool shouldDrawButtonAsDown) override;

    void drawTickBox (juce::Graphics& g,
                      juce::Component& component,
                      float x,
                      float y,
                      float w,
                      float h,
                      bool ticked,
                      bool isEnabled,
                      bool shouldDrawButtonAsHighlighted,
                      bool shouldDrawButtonAsDown) override;

    void drawProgressBar (juce::Graphics& g,
                          juce::ProgressBar& bar,
                          int width,
                          int height,
                          double progress,
                          const juce::String& textToShow) override;

    static constexpr juce::uint32 gradientTopColour = 0xFFC51530;
    static constexpr juce::uint32 gradientMiddleColour = 0xFFCB294F;
    static constexpr juce::uint32 gradientEndColour = 0xFF9E0414;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CustomLook)
};
