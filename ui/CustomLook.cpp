#include "ui/CustomLook.h"

void CustomLook::drawToggleButton (juce::Graphics& g,
                                   juce::ToggleButton& button,
                                   bool shouldDrawButtonAsHighlighted,
                                   bool shouldDrawButtonAsDown)
{
    const auto height = button.getHeight();
    const auto fontSize = juce::jmin (15.0f, (float) height * 0.75f);
    const auto tickWidth = fontSize * 1.1f;

    drawTickBox (g,
                 button,
                 4.0f,
                 ((float) height - tickWidth) * 0.5f,
                 tickWidth,
                 tickWidth,
                 button.getToggleState(),
                 button.isEnabled(),
                 shouldDrawButtonAsHighlighted,
                 shouldDrawButtonAsDown);

    // Only the text fades: the tick box above is already drawn at full strength.
    if (! button.isEnabled())
        g.setOpacity (0.5f);

    const auto textX = (int) tickWidth + 5;
    g.drawFittedText (button.getButtonText(),
                      textX,
                      0,
                      button.getWidth() - textX - 2,
                      height,
                      juce::Justification::centredLeft,
                      10,
                      0.7f);
}

void CustomLook::drawTickBox (
    juce::Graphics& g, juce::Component&, float x, float y, float w, float h, bool ticked, bool, bool, bool)
{
    g.setColour (juce::Colours::black);
    g.drawRect (x, y, w, h, 1.0f);

    if (ticked)
    {
        g.drawLine (x, y, x + w, y + h, 1.0f);
        g.drawLine (x, y + h, x + w, y, 1.0f);
    }
}

void CustomLook::drawProgressBar (
    juce::Graphics& g, juce::ProgressBar& bar, int width, int height, double progress, const juce::String& textToShow)
{
    g.fillAll (bar.findColour (juce::ProgressBar::backgroundColourId));

    // Written so that a NaN, like a negative (indeterminate) value, draws no bar.
    if (progress >= 0.0 && progress <= 1.0)
    {
        const juce::Colour top (gradientTopColour);
        const juce::Colour middle (gradientMiddleColour);

        juce::ColourGradient gradient (top, 0.0f, 0.0f, middle, 0.0f, (float) height, false);
        gradient.addColour (0.0, top);
        gradient.addColour (0.3, middle);
        gradient.addColour (1.0, juce::Colour (gradientEndColour));
        g.setGradientFill (gradient);

        const auto innerWidth = (double) (width - 2);
        const auto barWidth = juce::jlimit (0.0, innerWidth, progress * innerWidth);
        g.fillRect (1.0f, 1.0f, (float) barWidth, (float) (height - 2));
    }

    if (textToShow.isNotEmpty())
    {
        g.setColour (juce::Colours::black);
        g.setFont ((float) height * 0.6f);
        g.drawText (textToShow, 0, 0, width, height, juce::Justification::centred, false);
    }
}
