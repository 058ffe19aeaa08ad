#include "PluginLookAndFeel.h"

#include "PluginArtwork.h"
#include "PluginEditorShapes.h"

namespace
{
// Sizes scale by a factor and are cut toward zero, as the artwork was laid out.
int truncated (double v) { return (int) v; }

juce::Path rectanglePath (double x, double y, double w, double h)
{
    juce::Path p;
    p.addRectangle ((float) x, (float) y, (float) w, (float) h);
    return p;
}

void fillWithShadow (juce::Graphics& g, const juce::Path& path, int offset)
{
    juce::DropShadow (juce::Colours::black, 4, { offset, offset }).drawForPath (g, path);
}

juce::ColourGradient radial (juce::uint32 inner, double cx, double cy, juce::uint32 outer, double ex, double ey)
{
    return juce::ColourGradient (juce::Colour (inner), (float) cx, (float) cy,
                                 juce::Colour (outer), (float) ex, (float) ey, true);
}

juce::AffineTransform fitInto (const juce::Path& path, double x, double y, double w, double h)
{
    return path.getTransformToScaleToFit ((float) x, (float) y, (float) w, (float) h, true, juce::Justification::centred);
}
} // namespace

OtherLookAndFeel::OtherLookAndFeel()
{
    buttonOffData = resource_keyGuiComponent_buttonOff_png;
    buttonOffSize = resource_keyGuiComponent_buttonOff_pngSize;
    buttonOnData = resource_keyGuiComponent_buttonOn_png;
    buttonOnSize = resource_keyGuiComponent_buttonOn_pngSize;
    thumbData = resource_keyGuiComponent_vsb_png;
    thumbSize = resource_keyGuiComponent_vsb_pngSize;

    buttonOnImage = juce::ImageCache::getFromMemory (buttonOnData, buttonOnSize);
    buttonOffImage = juce::ImageCache::getFromMemory (buttonOffData, buttonOffSize);
    thumbImage = juce::ImageCache::getFromMemory (thumbData, thumbSize);

    setColour (juce::Slider::thumbColourId, juce::Colour (0xFFFF0000));
}

OtherLookAndFeel::~OtherLookAndFeel() = default;

void OtherLookAndFeel::drawToggleButton (juce::Graphics& g, juce::ToggleButton& button, bool, bool)
{
    const int w = button.getWidth();
    const int h = button.getHeight();

    g.setColour (button.findColour (juce::ToggleButton::textColourId));
    g.drawText (button.getButtonText(), juce::Rectangle<int> (0, 0, w, 12), juce::Justification::centred, true);

    const juce::Image& face = button.getToggleState() ? buttonOnImage : buttonOffImage;
    if (! face.isValid())
        return;
    const juce::Image image = face.rescaled (truncated (0.9 * face.getWidth()), truncated (0.9 * face.getHeight()),
                                             juce::Graphics::highResamplingQuality);
    const int iw = image.getWidth();
    const int ih = image.getHeight();

    // The lift above the bottom edge follows the image's width, not its height.
    const int px = truncated (0.5 * w - 0.5 * iw);
    const int py = truncated ((h - ih) - 0.2 * iw);

    fillWithShadow (g, rectanglePath (px, py, iw, ih), truncated (0.05 * iw));
    g.drawImageAt (image, px, py);
}

void OtherLookAndFeel::drawLinearSlider (juce::Graphics& g, int x, int y, int width, int height,
                                         float, float, float, juce::Slider::SliderStyle, juce::Slider& slider)
{
    juce::Image thumb;
    if (thumbImage.isValid())
        thumb = thumbImage.rescaled (truncated (0.4 * thumbImage.getWidth()), truncated (0.4 * thumbImage.getHeight()),
                                     juce::Graphics::highResamplingQuality);
    const int tw = thumb.getWidth();
    const int th = thumb.getHeight();

    const int travel = height - th;
    const int yTop = y + th / 2;
    // Linear in the value: the fader's scale ignores the slider's skew.
    const double p = slider.getValue() / (slider.getMaximum() - slider.getMinimum());

    juce::Path marks;
    for (int k = 0; k <= 10; ++k)
    {
        const int yk = yTop + k * (travel / 10);
        const bool isLong = k == 0 || k == 5 || k == 10;
        const int x0 = isLong ? x : x + 5;
        marks.addRectangle ((float) x0, (float) yk, (float) (x + 10 - x0), 1.0f);
    }
    g.setColour (juce::Colours::antiquewhite);
    g.fillPath (marks);

    const double cx = x + 0.5 * width;
    juce::Path track;
    const float corner = (float) (0.1 * width);
    track.addRoundedRectangle ((float) truncated (cx - 0.05 * width), (float) yTop,
                               (float) truncated (0.1 * width), (float) travel,
                               corner, corner, true, true, true, true);
    g.setColour (juce::Colours::black);
    g.fillPath (track);

    const int thx = truncated (cx - 0.5 * tw);
    const int thy = truncated ((y + travel) - travel * p);
    fillWithShadow (g, rectanglePath (thx, thy, tw, th), truncated (0.2 * tw));
    if (thumb.isValid())
        g.drawImageAt (thumb, thx, thy);
}

void OtherLookAndFeel::drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height,
                                         float sliderPos, float rotaryStartAngle, float rotaryEndAngle,
                                         juce::Slider& slider)
{
    juce::Path body, ring, cap;
    body.loadPathFromData (pathData, sizeof (pathData));
    ring.loadPathFromData (pathCircle, sizeof (pathCircle));
    cap.loadPathFromData (pathCircle, sizeof (pathCircle));

    const double X = x, Y = y, W = width, H = height;

    g.setColour (slider.findColour (juce::ToggleButton::textColourId));
    g.drawText (slider.getComponentID(), juce::Rectangle<int> (0, height - 16, width, 12), juce::Justification::centred, true);

    const float cx = (float) (X + 0.5 * W);
    const float cy = (float) (Y + 0.5 * H);

    const float step = (rotaryEndAngle - rotaryStartAngle) / 10.0f;
    juce::Path marks;
    const juce::Path baseMark = rectanglePath (X + 0.49325 * W, Y + 0.23 * H - 0.063 * W, 0.0135 * W, 0.0315 * W);
    for (int k = 0; k <= 10; ++k)
        marks.addPath (baseMark, juce::AffineTransform::rotation (rotaryStartAngle + (float) k * step, cx, cy));

    const float angle = rotaryStartAngle + sliderPos * (rotaryEndAngle - rotaryStartAngle);
    const juce::AffineTransform turn = juce::AffineTransform::rotation (angle, cx, cy);

    juce::Path pointer = rectanglePath (X + 0.48425 * W, Y + 0.275 * H + 0.0315 * W, 0.0315 * W, 0.135 * W);
    pointer.applyTransform (turn);

    body.applyTransform (fitInto (body, X + 0.275 * W, Y + 0.275 * H, 0.45 * W, 0.45 * H).followedBy (turn));
    cap.applyTransform (fitInto (cap, X + 0.3425 * W, Y + 0.3425 * H, 0.315 * W, 0.315 * H));
    ring.applyTransform (fitInto (ring, X + 0.23 * W, Y + 0.23 * H, 0.54 * W, 0.54 * H));

    g.setColour (juce::Colours::antiquewhite);
    g.fillPath (marks);

    // The gradients stay put while the body turns: light from the upper left.
    fillWithShadow (g, ring, truncated (0.0108 * W));
    g.setGradientFill (radial (0xFFFFFFFF, X + 0.322 * W, Y + 0.322 * H, 0xFF4E564E, X + 0.552 * W, Y + 0.552 * H));
    g.fillPath (ring);

    fillWithShadow (g, body, truncated (0.0315 * W));
    g.setGradientFill (radial (0xFF323232, X + 0.385 * W, Y + 0.385 * H, 0xFF1A1E1A, X + 0.495 * W, Y + 0.495 * H));
    g.fillPath (body);

    g.setGradientFill (radial (0xFF646464, X + 0.4795 * W, Y + 0.4795 * H, 0xFF848A84, X + 0.685 * W, Y + 0.685 * H));
    g.fillPath (cap);

    g.setColour (juce::Colours::antiquewhite);
    g.fillPath (pointer);
}
