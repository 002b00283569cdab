// Draws the six pictures the updater embeds, and the icon its Linux package installs, and writes
// them as PNG files (8-bit RGBA, not interlaced) into a folder, normally resources/. The PNGs are
// committed; run this again only when the artwork changes:
//
//     build/tools/kx_draw_pictures resources
//
// Text uses the DejaVu Sans typeface (Debian's fonts-dejavu-core), so the output is the same on
// every machine that has it.

#include <cstdio>
#include <juce_graphics/juce_graphics.h>
#include <juce_gui_basics/juce_gui_basics.h>

namespace
{
const juce::String typefaceName ("DejaVu Sans");

const juce::Colour blue (0xFF00AFEC);
const juce::Colour troughOutline (0xFF9F9F9F);

// Band, rule and gradient rows of the background.
constexpr int headerBottom = 140; // rows 0 to 139
constexpr int ruleRows = 3;       // rows 140 to 142
constexpr int gradientTop = headerBottom + ruleRows;

// The trough the progress bar sits in, outline included (x 19 to 481, y 314 to 341).
const juce::Rectangle<int> trough (19, 314, 463, 28);

juce::Font font (float height, bool bold = false)
{
    return juce::Font (typefaceName, height, bold ? juce::Font::bold : juce::Font::plain);
}

juce::Colour mix (juce::Colour from, juce::Colour to, float proportion)
{
    return from.interpolatedWith (to, proportion);
}

// One colour per row, from the first row's colour to the last row's, so the ends are exact.
void fillRowGradient (juce::Graphics& g, int width, int top, int bottom, juce::Colour first, juce::Colour last)
{
    for (int y = top; y < bottom; ++y)
    {
        g.setColour (mix (first, last, (float) (y - top) / (float) juce::jmax (1, bottom - 1 - top)));
        g.fillRect (0, y, width, 1);
    }
}

// The maker's wordmark: a slanted blue tab and the name.
void drawMakerMark (juce::Graphics& g, float x, float y)
{
    juce::Path tab;
    tab.startNewSubPath (x + 5.0f, y);
    tab.lineTo (x + 13.0f, y);
    tab.lineTo (x + 8.0f, y + 20.0f);
    tab.lineTo (x, y + 20.0f);
    tab.closeSubPath();
    g.setColour (blue);
    g.fillPath (tab);

    auto wordmark = font (23.0f, true);
    wordmark.setExtraKerningFactor (0.04f);
    g.setFont (wordmark);
    g.setColour (juce::Colour (0xFF333333));
    g.drawText (
        "Tavrek", juce::Rectangle<float> (x + 18.0f, y - 4.0f, 140.0f, 28.0f), juce::Justification::centredLeft);
}

// The product mark: a geometric K and X, the X's rising stroke in blue.
void drawProductMark (juce::Graphics& g, float x, float y)
{
    const float h = 54.0f;
    const float stroke = 10.0f;
    const juce::PathStrokeType thick (stroke, juce::PathStrokeType::mitered, juce::PathStrokeType::butt);
    const auto ink = juce::Colour (0xFF222222);

    juce::Graphics::ScopedSaveState state (g);
    g.reduceClipRegion (juce::Rectangle<float> (x, y, 110.0f, h).toNearestInt());

    g.setColour (ink);
    g.fillRect (juce::Rectangle<float> (x, y, stroke, h));

    juce::Path arms;
    arms.startNewSubPath (x + stroke * 0.5f, y + h * 0.64f);
    arms.lineTo (x + 40.0f, y - 8.0f);
    arms.startNewSubPath (x + stroke + 6.0f, y + h * 0.44f);
    arms.lineTo (x + 42.0f, y + h + 8.0f);
    g.strokePath (arms, thick);

    const float left = x + 50.0f;
    const float right = x + 94.0f;
    juce::Path falling;
    falling.startNewSubPath (left - 4.0f, y - 8.0f);
    falling.lineTo (right + 4.0f, y + h + 8.0f);
    g.strokePath (falling, thick);

    juce::Path rising;
    rising.startNewSubPath (left - 4.0f, y + h + 8.0f);
    rising.lineTo (right + 4.0f, y - 8.0f);
    g.setColour (blue);
    g.strokePath (rising, thick);
}

void drawKnob (juce::Graphics& g, float cx, float cy, float radius)
{
    g.setGradientFill (juce::ColourGradient (
        juce::Colour (0xFFC8C8C8), cx, cy - radius, juce::Colour (0xFF7A7A7A), cx, cy + radius, false));
    g.fillEllipse (cx - radius, cy - radius, radius * 2.0f, radius * 2.0f);
    g.setColour (juce::Colour (0xFF202020));
    g.drawLine (cx, cy, cx, cy - radius + 1.0f, 1.0f);
}

void drawJogWheel (juce::Graphics& g, float cx, float cy, float radius)
{
    g.setColour (juce::Colour (0xFF0E0E0E));
    g.fillEllipse (cx - radius, cy - radius, radius * 2.0f, radius * 2.0f);

    const float platter = radius - 3.0f;
    g.setGradientFill (juce::ColourGradient (juce::Colour (0xFF8A8A8A),
                                             cx - platter * 0.5f,
                                             cy - platter,
                                             juce::Colour (0xFF2C2C2C),
                                             cx + platter * 0.4f,
                                             cy + platter,
                                             false));
    g.fillEllipse (cx - platter, cy - platter, platter * 2.0f, platter * 2.0f);

    // Grooves of the platter.
    g.setColour (juce::Colours::black.withAlpha (0.25f));
    for (float r = platter - 4.0f; r > 10.0f; r -= 4.0f)
        g.drawEllipse (cx - r, cy - r, r * 2.0f, r * 2.0f, 0.6f);

    const float cap = 9.0f;
    g.setColour (juce::Colour (0xFF1A1A1A));
    g.fillEllipse (cx - cap, cy - cap, cap * 2.0f, cap * 2.0f);
    g.setColour (blue);
    g.drawEllipse (cx - cap, cy - cap, cap * 2.0f, cap * 2.0f, 1.6f);
    g.drawLine (cx, cy - cap + 2.0f, cx, cy - 3.0f, 1.6f);
}

void drawFader (juce::Graphics& g, float x, float top, float bottom, float position)
{
    g.setColour (juce::Colour (0xFF0A0A0A));
    g.fillRoundedRectangle (x - 1.5f, top, 3.0f, bottom - top, 1.5f);
    const float y = top + (bottom - top) * position;
    g.setGradientFill (
        juce::ColourGradient (juce::Colour (0xFFE0E0E0), x, y - 3.0f, juce::Colour (0xFF8E8E8E), x, y + 3.0f, false));
    g.fillRoundedRectangle (x - 5.0f, y - 3.0f, 10.0f, 6.0f, 1.5f);
}

// A top view of the controller: two jog wheels with the mixer between them.
void drawController (juce::Graphics& g, juce::Rectangle<float> body)
{
    juce::Path outline;
    outline.addRoundedRectangle (body, 9.0f);
    juce::DropShadow (juce::Colours::black.withAlpha (0.35f), 10, { 0, 5 }).drawForPath (g, outline);

    g.setGradientFill (juce::ColourGradient (
        juce::Colour (0xFF474747), 0.0f, body.getY(), juce::Colour (0xFF1C1C1C), 0.0f, body.getBottom(), false));
    g.fillPath (outline);
    g.setColour (juce::Colours::white.withAlpha (0.18f));
    g.drawLine (body.getX() + 8.0f, body.getY() + 1.0f, body.getRight() - 8.0f, body.getY() + 1.0f, 1.0f);

    const float cy = body.getCentreY() + 2.0f;
    const float radius = 33.0f;
    drawJogWheel (g, body.getX() + 48.0f, cy, radius);
    drawJogWheel (g, body.getRight() - 48.0f, cy, radius);

    // Mixer: a screen, two rows of knobs, two channel faders and the crossfader.
    const float mixerX = body.getCentreX();
    auto screen = juce::Rectangle<float> (mixerX - 26.0f, body.getY() + 8.0f, 52.0f, 16.0f);
    g.setColour (juce::Colour (0xFF08283A));
    g.fillRoundedRectangle (screen, 2.0f);
    g.setColour (blue.withAlpha (0.9f));
    for (int i = 0; i < 3; ++i)
        g.fillRect (
            screen.getX() + 4.0f, screen.getY() + 3.5f + 4.0f * (float) i, 18.0f + 8.0f * (float) (i % 2), 1.5f);
    g.fillRect (screen.getRight() - 16.0f, screen.getY() + 3.5f, 12.0f, 9.5f);

    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < 4; ++column)
            drawKnob (g, mixerX - 19.5f + 13.0f * (float) column, body.getY() + 33.0f + 11.0f * (float) row, 3.8f);

    drawFader (g, mixerX - 12.0f, body.getY() + 52.0f, body.getY() + 80.0f, 0.35f);
    drawFader (g, mixerX + 12.0f, body.getY() + 52.0f, body.getY() + 80.0f, 0.6f);

    g.setColour (juce::Colour (0xFF0A0A0A));
    g.fillRoundedRectangle (mixerX - 20.0f, body.getBottom() - 9.0f, 40.0f, 3.0f, 1.5f);
    g.setColour (juce::Colour (0xFFBDBDBD));
    g.fillRoundedRectangle (mixerX - 3.0f, body.getBottom() - 11.5f, 6.0f, 8.0f, 1.5f);

    // Performance pads under each jog wheel would not fit at this size; a row of lit cue
    // buttons stands for them.
    for (int side = 0; side < 2; ++side)
    {
        const float x = side == 0 ? body.getX() + 8.0f : body.getRight() - 14.0f;
        for (int i = 0; i < 4; ++i)
        {
            g.setColour (i == 0 ? blue : juce::Colour (0xFF5A5A5A));
            g.fillRoundedRectangle (x, body.getY() + 10.0f + 12.0f * (float) i, 6.0f, 7.0f, 1.5f);
        }
    }
}

juce::Image drawBackground()
{
    const int width = 500;
    const int height = 452;
    juce::Image image (juce::Image::ARGB, width, height, true);
    juce::Graphics g (image);

    fillRowGradient (g, width, 0, headerBottom, juce::Colour (0xFFFDFDFD), juce::Colour (0xFFF4F4F4));

    // The rule: lighter above and darker below its centre row.
    const juce::Colour ruleColours[ruleRows] = { juce::Colour (0xFF45C4F1), blue, juce::Colour (0xFF0093C8) };
    for (int i = 0; i < ruleRows; ++i)
    {
        g.setColour (ruleColours[i]);
        g.fillRect (0, headerBottom + i, width, 1);
    }

    fillRowGradient (g, width, gradientTop, height, juce::Colour (0xFFEDEDED), juce::Colour (0xFFDDDDDD));

    drawMakerMark (g, 24.0f, 18.0f);
    drawProductMark (g, 24.0f, 52.0f);

    auto tagline = font (10.5f);
    tagline.setExtraKerningFactor (0.28f);
    g.setFont (tagline);
    g.setColour (juce::Colour (0xFF8C8C8C));
    g.drawText (
        "DJ CONTROLLER", juce::Rectangle<float> (25.0f, 110.0f, 200.0f, 16.0f), juce::Justification::centredLeft);

    drawController (g, juce::Rectangle<float> (258.0f, 24.0f, 226.0f, 94.0f));

    // The trough: a slightly sunken, empty channel. Its outline runs along the centres of the
    // edge pixels, so the straight edges come out as whole pixels of the outline colour.
    const auto outer = trough.toFloat();
    g.setGradientFill (juce::ColourGradient (juce::Colour (0xFFCACACA),
                                             0.0f,
                                             outer.getY() + 1.0f,
                                             juce::Colour (0xFFE6E6E6),
                                             0.0f,
                                             outer.getBottom() - 1.0f,
                                             false));
    g.fillRoundedRectangle (outer.reduced (0.5f), 4.0f);
    g.setColour (juce::Colours::white.withAlpha (0.7f));
    g.fillRect (trough.getX() + 4, trough.getBottom(), trough.getWidth() - 8, 1);
    g.setColour (troughOutline);
    g.drawRoundedRectangle (outer.reduced (0.5f), 4.0f, 1.0f);

    return image;
}

juce::Image drawButton (juce::Colour top, juce::Colour bottom, bool pressed)
{
    juce::Image image (juce::Image::ARGB, 150, 30, true);
    juce::Graphics g (image);

    // A dark shadow along the bottom edge, then the face above it.
    const juce::Rectangle<float> face (0.5f, 0.5f, 149.0f, 27.0f);
    g.setColour (juce::Colour (0xFF3A3A3A));
    g.fillRoundedRectangle (face.translated (0.0f, 2.0f), 5.0f);

    g.setGradientFill (juce::ColourGradient (top, 0.0f, face.getY(), bottom, 0.0f, face.getBottom(), false));
    g.fillRoundedRectangle (face, 5.0f);
    g.setColour (juce::Colours::white.withAlpha (pressed ? 0.12f : 0.3f));
    g.drawLine (5.0f, 1.5f, 145.0f, 1.5f, 1.0f);
    g.setColour (juce::Colour (0xFF4E4E4E).withAlpha (0.8f));
    g.drawRoundedRectangle (face, 5.0f, 1.0f);

    const auto captionArea = face.translated (0.0f, pressed ? 1.0f : 0.0f);
    g.setFont (font (14.0f, true));
    g.setColour (juce::Colours::black.withAlpha (0.35f));
    g.drawText ("Update Firmware", captionArea.translated (0.0f, 1.0f), juce::Justification::centred);
    g.setColour (juce::Colour (0xFFF5F5F5));
    g.drawText ("Update Firmware", captionArea, juce::Justification::centred);

    return image;
}

juce::Image drawLamp (juce::Colour highlight, juce::Colour base, juce::Colour rim)
{
    juce::Image image (juce::Image::ARGB, 12, 12, true);
    juce::Graphics g (image);

    const juce::Rectangle<float> dot (0.5f, 0.5f, 11.0f, 11.0f);
    g.setGradientFill (juce::ColourGradient (highlight, 4.5f, 3.5f, base, 6.0f, 11.5f, true));
    g.fillEllipse (dot);
    g.setColour (rim.withAlpha (0.7f));
    g.drawEllipse (dot.reduced (0.4f), 0.8f);
    g.setColour (juce::Colours::white.withAlpha (0.55f));
    g.fillEllipse (3.0f, 2.0f, 4.5f, 2.8f);

    return image;
}

// The application's icon: the product mark on a light tile with the blue rule of the window.
juce::Image drawIcon()
{
    const int size = 256;
    juce::Image image (juce::Image::ARGB, size, size, true);
    juce::Graphics g (image);

    const juce::Rectangle<float> tile (8.0f, 8.0f, 240.0f, 240.0f);
    juce::Path outline;
    outline.addRoundedRectangle (tile, 44.0f);
    juce::DropShadow (juce::Colours::black.withAlpha (0.3f), 8, { 0, 3 }).drawForPath (g, outline);

    {
        juce::Graphics::ScopedSaveState state (g);
        g.reduceClipRegion (outline);
        g.setGradientFill (juce::ColourGradient (
            juce::Colour (0xFFFDFDFD), 0.0f, tile.getY(), juce::Colour (0xFFE2E2E2), 0.0f, tile.getBottom(), false));
        g.fillRect (tile);
        g.setColour (blue);
        g.fillRect (tile.getX(), 192.0f, tile.getWidth(), 10.0f);
    }

    g.setColour (juce::Colour (0xFF9F9F9F));
    g.strokePath (outline, juce::PathStrokeType (1.5f));

    // The mark is about 103 x 54 at its own size: twice that, centred above the rule.
    juce::Graphics::ScopedSaveState state (g);
    g.addTransform (juce::AffineTransform::scale (2.0f).translated (25.0f, 62.0f));
    drawProductMark (g, 0.0f, 0.0f);

    return image;
}

struct Picture
{
    const char* fileName;
    juce::Image image;
};

// What the build expects of every embedded PNG; checked on the written bytes.
bool hasExpectedPngHeader (const juce::MemoryBlock& png, int width, int height)
{
    static const juce::uint8 signature[] = { 0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A };
    const auto* bytes = static_cast<const juce::uint8*> (png.getData());
    if (png.getSize() < 33 || memcmp (bytes, signature, sizeof (signature)) != 0 || memcmp (bytes + 12, "IHDR", 4) != 0)
        return false;

    const auto readBigEndian = [bytes] (int offset)
    {
        return (int) ((juce::uint32) bytes[offset] << 24 | (juce::uint32) bytes[offset + 1] << 16 |
                      (juce::uint32) bytes[offset + 2] << 8 | (juce::uint32) bytes[offset + 3]);
    };
    return readBigEndian (16) == width && readBigEndian (20) == height && bytes[24] == 8 /* bits per channel */
           && bytes[25] == 6 /* RGBA */ && bytes[28] == 0 /* not interlaced */;
}

// The pixels the window's layout relies on.
bool backgroundHasItsLandmarks (const juce::Image& background)
{
    auto is = [&background] (int x, int y, juce::uint32 argb)
    { return background.getPixelAt (x, y).getARGB() == argb; };

    bool ok = true;
    for (int x : { 0, 250, 499 })
        ok = ok && is (x, 141, 0xFF00AFEC) && is (x, gradientTop, 0xFFEDEDED) && is (x, 451, 0xFFDDDDDD);
    for (int x : { 40, 250, 460 })
        ok = ok && is (x, trough.getY(), 0xFF9F9F9F) && is (x, trough.getBottom() - 1, 0xFF9F9F9F);
    for (int y : { 320, 327, 335 })
        ok = ok && is (trough.getX(), y, 0xFF9F9F9F) && is (trough.getRight() - 1, y, 0xFF9F9F9F);
    return ok;
}
} // namespace

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf (stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI juceInitialiser;

    if (! juce::Font::findAllTypefaceNames().contains (typefaceName))
    {
        std::fprintf (stderr, "error: the %s typeface is not installed\n", typefaceName.toRawUTF8());
        return 1;
    }

    const auto folder = juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]);
    if (! folder.isDirectory())
    {
        std::fprintf (stderr, "error: %s is not a folder\n", folder.getFullPathName().toRawUTF8());
        return 1;
    }

    const auto background = drawBackground();
    if (! backgroundHasItsLandmarks (background))
    {
        std::fprintf (stderr, "error: the background's rule, gradient or trough is not where the window needs it\n");
        return 1;
    }

    const Picture pictures[] = {
        { "backgroundImage.png", background },
        { "updateButtonNormalImage.png", drawButton (juce::Colour (0xFF9B9B9B), juce::Colour (0xFF7D7D7D), false) },
        { "updateButtonOverImage.png", drawButton (juce::Colour (0xFFAAAAAA), juce::Colour (0xFF919191), false) },
        { "updateButtonDownImage.png", drawButton (juce::Colour (0xFF848484), juce::Colour (0xFF6B6B6B), true) },
        { "hardwareNotDetectedImage.png",
          drawLamp (juce::Colour (0xFFFF8A7A), juce::Colour (0xFFC8190E), juce::Colour (0xFF6E0A05)) },
        { "hardwareDetectedImage.png",
          drawLamp (juce::Colour (0xFFA8F59A), juce::Colour (0xFF22A01A), juce::Colour (0xFF0C560A)) },
        { "kx-firmware-updater.png", drawIcon() },
    };

    for (const auto& picture : pictures)
    {
        const auto& image = picture.image;

        juce::MemoryOutputStream png;
        if (! juce::PNGImageFormat().writeImageToStream (image, png))
        {
            std::fprintf (stderr, "error: cannot encode %s\n", picture.fileName);
            return 1;
        }

        const auto block = png.getMemoryBlock();
        if (! hasExpectedPngHeader (block, image.getWidth(), image.getHeight()))
        {
            std::fprintf (stderr, "error: %s is not an 8-bit RGBA, non-interlaced PNG\n", picture.fileName);
            return 1;
        }

        const auto file = folder.getChildFile (picture.fileName);
        if (! file.replaceWithData (block.getData(), block.getSize()))
        {
            std::fprintf (stderr, "error: cannot write %s\n", file.getFullPathName().toRawUTF8());
            return 1;
        }
        std::printf (
            "%s: %d x %d, %zu bytes\n", picture.fileName, image.getWidth(), image.getHeight(), block.getSize());
    }
    return 0;
}
