#include "ui/CustomLook.h"

#include <cmath>
#include <gtest/gtest.h>

namespace
{
const juce::Colour sentinel (0xFF00FF00);

struct Rgb
{
    float r, g, b;
};

Rgb mix (juce::Colour a, juce::Colour b, float t)
{
    return { a.getRed() + t * (b.getRed() - a.getRed()),
             a.getGreen() + t * (b.getGreen() - a.getGreen()),
             a.getBlue() + t * (b.getBlue() - a.getBlue()) };
}

void expectColourNear (juce::Colour actual, Rgb expected, const char* where)
{
    EXPECT_EQ (actual.getAlpha(), 255) << where;
    EXPECT_NEAR (actual.getRed(), expected.r, 2.0) << where;
    EXPECT_NEAR (actual.getGreen(), expected.g, 2.0) << where;
    EXPECT_NEAR (actual.getBlue(), expected.b, 2.0) << where;
}

/** Draws a bar of the main window's size onto a green canvas, as the background picture would be. */
juce::Image drawBar (double progress,
                     const juce::String& text = {},
                     juce::Colour backgroundColour = juce::Colours::transparentBlack,
                     int width = 457,
                     int height = 24,
                     juce::Colour canvas = sentinel)
{
    CustomLook look;
    double value = progress;
    juce::ProgressBar bar (value);
    bar.setColour (juce::ProgressBar::backgroundColourId, backgroundColour);
    bar.setColour (juce::ProgressBar::foregroundColourId, juce::Colours::red);

    juce::Image image (juce::Image::ARGB, width, height, true);
    juce::Graphics g (image);
    g.fillAll (canvas);
    look.drawProgressBar (g, bar, width, height, progress, text);
    return image;
}

/** The columns of row y that the bar covered, fully or in part. */
int lastTouchedColumn (const juce::Image& image, int y)
{
    int last = -1;

    for (int x = 0; x < image.getWidth(); ++x)
        if (image.getPixelAt (x, y) != sentinel)
            last = x;

    return last;
}
} // namespace

TEST (CustomLook, ProgressBarFillsFromOnePixelInWithTheGradientOfItsStops)
{
    const juce::Colour top (CustomLook::gradientTopColour);
    const juce::Colour middle (CustomLook::gradientMiddleColour);

    const auto half = drawBar (0.5);

    // 0.5 × 455 = 227.5 pixels from x = 1: column 227 full, column 228 half, 229 untouched.
    expectColourNear (half.getPixelAt (227, 12), mix (middle, middle, 0.0f), "last full column");
    const auto edge = half.getPixelAt (228, 12);
    EXPECT_NE (edge, sentinel);
    EXPECT_GT (edge.getGreen(), middle.getGreen() + 60) << "the half-covered column blends with the canvas";
    EXPECT_EQ (half.getPixelAt (229, 12), sentinel);
    EXPECT_EQ (lastTouchedColumn (half, 12), 228);

    // The one-pixel margin all round.
    for (int x = 0; x < 457; ++x)
    {
        ASSERT_EQ (half.getPixelAt (x, 0), sentinel) << x;
        ASSERT_EQ (half.getPixelAt (x, 23), sentinel) << x;
    }
    EXPECT_EQ (half.getPixelAt (0, 12), sentinel);

    // Colour 1 lightens to colour 2 over the top 30 % and stays colour 2 below: the end
    // colour sits on the last stop only, so no row darkens towards it.
    expectColourNear (half.getPixelAt (100, 1), mix (top, middle, (1.5f / 24.0f) / 0.3f), "row 1");
    expectColourNear (half.getPixelAt (100, 4), mix (top, middle, (4.5f / 24.0f) / 0.3f), "row 4");
    expectColourNear (half.getPixelAt (100, 7), mix (middle, middle, 0.0f), "row 7, at 30 %");
    expectColourNear (half.getPixelAt (100, 22), mix (middle, middle, 0.0f), "bottom row");

    const auto full = drawBar (1.0);
    EXPECT_EQ (lastTouchedColumn (full, 12), 455);
    expectColourNear (full.getPixelAt (455, 22), mix (middle, middle, 0.0f), "bottom right");
    EXPECT_EQ (full.getPixelAt (456, 12), sentinel);
    EXPECT_EQ (full.getPixelAt (455, 23), sentinel);
}

TEST (CustomLook, ProgressOutsideZeroToOneDrawsNoBar)
{
    for (auto progress : { 0.0, -1.0, 1.0000001, 1.5, std::nan ("") })
    {
        const auto image = drawBar (progress);

        for (int y = 0; y < image.getHeight(); ++y)
            ASSERT_EQ (lastTouchedColumn (image, y), -1) << "progress " << progress << " row " << y;
    }
}

TEST (CustomLook, ProgressBackgroundColourFillsTheWholeArea)
{
    const auto image = drawBar (-1.0, {}, juce::Colours::blue);

    for (auto point : { juce::Point<int> (0, 0), { 456, 23 }, { 228, 12 } })
        EXPECT_EQ (image.getPixelAt (point.x, point.y), juce::Colours::blue);
}

TEST (CustomLook, ProgressTextIsBlackCentredAndSixtyPercentOfTheHeight)
{
    // A tall bar on a transparent canvas, so that glyph heights are telling and every
    // pixel the text touches shows its own colour.
    const int width = 400, height = 100;
    const auto withText = drawBar (2.0, "50%", juce::Colours::transparentBlack, width, height, {});

    juce::Rectangle<int> inked;
    bool any = false;

    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
        {
            const auto pixel = withText.getPixelAt (x, y);

            if (pixel.getAlpha() == 0)
                continue;

            ASSERT_EQ (pixel.getRed() + pixel.getGreen() + pixel.getBlue(), 0) << x << ", " << y;
            inked = any ? inked.getUnion ({ x, y, 1, 1 }) : juce::Rectangle<int> (x, y, 1, 1);
            any = true;
        }

    ASSERT_TRUE (any);
    // Digits and a percent sign of a 60-pixel font stand about 43 pixels tall.
    EXPECT_GT (inked.getHeight(), 35);
    EXPECT_LT (inked.getHeight(), 60);
    EXPECT_NEAR (inked.getCentreX(), width / 2, 3);
    EXPECT_NEAR (inked.getCentreY(), height / 2, 4);

    const auto withoutText = drawBar (2.0, {}, juce::Colours::transparentBlack, width, height, {});

    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            ASSERT_EQ (withoutText.getPixelAt (x, y).getAlpha(), 0);
}

namespace
{
struct TickBoxCase
{
    int buttonHeight;
    float expectedSide;
};

juce::Image drawToggle (CustomLook& look, int height, bool ticked, bool enabled)
{
    juce::ToggleButton button ("Tick me");
    button.setLookAndFeel (&look);
    button.setSize (120, height);
    button.setToggleState (ticked, juce::dontSendNotification);
    button.setEnabled (enabled);

    juce::Image image (juce::Image::ARGB, 120, height, true);
    juce::Graphics g (image);
    look.drawToggleButton (g, button, false, false);
    button.setLookAndFeel (nullptr);
    return image;
}

int maxAlpha (const juce::Image& image, juce::Rectangle<int> area)
{
    int best = 0;

    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            best = juce::jmax (best, (int) image.getPixelAt (x, y).getAlpha());

    return best;
}
} // namespace

TEST (CustomLook, TickBoxIsAnOutlineSquareFourPixelsInAndCentredCrossedWhenTicked)
{
    CustomLook look;

    for (auto testCase : { TickBoxCase { 20, 16.5f }, TickBoxCase { 12, 9.9f }, TickBoxCase { 40, 16.5f } })
    {
        const auto h = testCase.buttonHeight;
        const auto side = testCase.expectedSide;
        const auto top = ((float) h - side) * 0.5f;
        const auto centreY = (int) ((float) h * 0.5f);
        const auto centreX = (int) (4.0f + side * 0.5f);

        const auto ticked = drawToggle (look, h, true, true);
        const auto unticked = drawToggle (look, h, false, true);

        // The outline's left edge: column 4 inked over the box's rows only, column 3 never.
        EXPECT_EQ (ticked.getPixelAt (4, centreY), juce::Colours::black) << h;
        EXPECT_EQ (maxAlpha (unticked, { 0, 0, 4, h }), 0) << h;
        EXPECT_GT (unticked.getPixelAt (4, (int) top).getAlpha(), 0) << h;
        EXPECT_GT (unticked.getPixelAt (4, (int) std::ceil (top + side) - 1).getAlpha(), 0) << h;
        if (top >= 1.0f)
        {
            EXPECT_EQ (unticked.getPixelAt (4, (int) top - 1).getAlpha(), 0) << h;
        }
        EXPECT_EQ (unticked.getPixelAt (4, (int) std::ceil (top + side)).getAlpha(), 0) << h;

        // The right edge lies at 4 + side.
        EXPECT_GT (unticked.getPixelAt ((int) (4.0f + side - 0.5f), centreY).getAlpha(), 100) << h;

        // The cross meets in the middle; off the diagonals the box is empty.
        EXPECT_GT (ticked.getPixelAt (centreX, centreY).getAlpha(), 100) << h;
        EXPECT_EQ (unticked.getPixelAt (centreX, centreY).getAlpha(), 0) << h;
        EXPECT_EQ (ticked.getPixelAt (centreX, (int) (top + 2.0f)).getAlpha(), 0) << h;
        EXPECT_EQ (unticked.getPixelAt (4, centreY), juce::Colours::black) << h;
    }
}

TEST (CustomLook, DisabledToggleDrawsItsTextAtHalfOpacityAndItsBoxInFull)
{
    CustomLook look;
    const auto enabled = drawToggle (look, 20, true, true);
    const auto disabled = drawToggle (look, 20, true, false);
    const juce::Rectangle<int> textArea (26, 0, 94, 20);

    EXPECT_GT (maxAlpha (enabled, textArea), 240);
    EXPECT_NEAR (maxAlpha (disabled, textArea), 128, 3);
    EXPECT_EQ (disabled.getPixelAt (4, 10), juce::Colours::black);
}
