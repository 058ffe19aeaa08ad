// OtherLookAndFeel's drawing: push-button faces, faders and knob placement.
#include "editor_fixtures.h"

#include "PluginLookAndFeel.h"

using editortest::boundsOf;

namespace
{
juce::Image render (juce::Component& c)
{
    return c.createComponentSnapshot (c.getLocalBounds(), true, 1.0f);
}

// The face's frame is grey-green; the shadow under it is pure black.
bool isFace (juce::Colour c) { return c.getAlpha() > 128 && c.getGreen() > 24; }

class EditorLookAndFeel : public ::testing::Test
{
protected:
    OtherLookAndFeel lookAndFeel;
};
} // namespace

TEST_F (EditorLookAndFeel, DecodesItsImagesAndMakesThumbsRed)
{
    EXPECT_EQ (lookAndFeel.buttonOnImage.getBounds(), juce::Rectangle<int> (50, 50));
    EXPECT_EQ (lookAndFeel.buttonOffImage.getBounds(), juce::Rectangle<int> (50, 50));
    EXPECT_EQ (lookAndFeel.thumbImage.getBounds(), juce::Rectangle<int> (57, 102));
    EXPECT_EQ (lookAndFeel.findColour (juce::Slider::thumbColourId), juce::Colour (0xFFFF0000));
}

TEST_F (EditorLookAndFeel, ToggleFaceSitsLowWithItsCaptionOnTop)
{
    struct Case
    {
        int width, height;
    };
    for (const Case c : { Case { 102, 70 }, Case { 240, 70 }, Case { 204, 70 } })
    {
        juce::ToggleButton button ("caption");
        button.setLookAndFeel (&lookAndFeel);
        button.setBounds (0, 0, c.width, c.height);
        const juce::Image image = render (button);
        button.setLookAndFeel (nullptr);

        // 45 x 45 at (trunc (w / 2 - 22.5), h - 54): top 16, bottom 61 for h = 70.
        const juce::Rectangle<int> face = boundsOf (image, { 0, 14, c.width, c.height - 14 }, isFace);
        EXPECT_EQ (face, juce::Rectangle<int> ((int) (c.width / 2.0 - 22.5), c.height - 54, 45, 45)) << c.width;

        // The caption is centred on the top 12 rows (the default 14-pixel font
        // may spill a row past them).
        const juce::Rectangle<int> text = boundsOf (image, image.getBounds(), [] (juce::Colour p) { return p.getBrightness() > 0.6f; });
        EXPECT_LE (text.getBottom(), 14);
        EXPECT_NEAR (text.getCentreY(), 6, 2);
        EXPECT_NEAR (text.getCentreX(), c.width / 2, 2);
    }
}

TEST_F (EditorLookAndFeel, ToggleStateChangesOnlyTheLamp)
{
    juce::ToggleButton button;
    button.setLookAndFeel (&lookAndFeel);
    button.setBounds (0, 0, 102, 70);
    const juce::Image off = render (button);
    button.setToggleState (true, juce::dontSendNotification);
    const juce::Image on = render (button);
    // Hover and press draw nothing different.
    button.setState (juce::Button::buttonDown);
    const juce::Image pressed = render (button);
    button.setLookAndFeel (nullptr);

    int changed = 0;
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 102; ++x)
        {
            EXPECT_EQ (on.getPixelAt (x, y).getARGB(), pressed.getPixelAt (x, y).getARGB());
            if (on.getPixelAt (x, y).getARGB() != off.getPixelAt (x, y).getARGB())
            {
                ++changed;
                // The lamp: 0.9 x (25, 8.5) inside the face at (28, 16).
                EXPECT_LT (std::hypot (x - 50.5, y - 23.6), 6.0) << x << ", " << y;
            }
        }
    EXPECT_GT (changed, 10);
}

TEST_F (EditorLookAndFeel, FaderThumbFollowsTheLinearValueNotTheSkew)
{
    // 50 x 160 fader: the framework hands over y = 12, height 136 (its thumb
    // indent), so h' = 96 with the 22 x 40 thumb and the scale starts at 32.
    juce::Slider fader (juce::Slider::LinearVertical, juce::Slider::NoTextBox);
    fader.setLookAndFeel (&lookAndFeel);
    fader.setBounds (0, 0, 50, 160);
    fader.setRange (0.0, 5.0, 0.0);

    struct Case
    {
        double value, skew;
        int thumbTop;
    };
    const Case cases[] = {
        { 0.0, 1.0, 108 }, { 5.0, 1.0, 12 }, { 2.5, 1.0, 60 }, { 2.5, 0.9, 60 }, { 2.5, 0.3, 60 }, { 1.25, 0.9, 84 },
    };
    for (const auto& c : cases)
    {
        fader.setSkewFactor (c.skew);
        fader.setValue (c.value, juce::dontSendNotification);
        const juce::Image image = render (fader);
        // The cap's first rows are light; above it the track is black.
        const juce::Rectangle<int> thumb = boundsOf (image, { 20, 0, 10, 160 }, [] (juce::Colour p) { return p.getBrightness() > 0.3f; });
        EXPECT_EQ (thumb.getY(), c.thumbTop) << c.value << " skew " << c.skew;
        EXPECT_EQ (thumb.getHeight(), 40) << c.value;
    }

    // Scale: eleven marks 9 pixels apart from y 32; 0, 5 and 10 reach x = 0.
    fader.setValue (5.0, juce::dontSendNotification);
    const juce::Image image = render (fader);
    fader.setLookAndFeel (nullptr);
    const juce::Colour mark = juce::Colours::antiquewhite;
    for (int k = 0; k <= 10; ++k)
    {
        const int y = 32 + 9 * k;
        const bool isLong = k % 5 == 0;
        EXPECT_EQ (image.getPixelAt (7, y), mark) << k;
        EXPECT_EQ (image.getPixelAt (2, y) == mark, isLong) << k;
        EXPECT_NE (image.getPixelAt (7, y + 1), mark) << k;
    }
}

TEST_F (EditorLookAndFeel, KnobMarksStandOnTheSweep)
{
    // A 5 rad sweep from -2.5: marks every 0.5 rad; at mid travel the pointer
    // stands straight up from the centre.
    juce::Slider knob (juce::Slider::RotaryHorizontalVerticalDrag, juce::Slider::NoTextBox);
    knob.setLookAndFeel (&lookAndFeel);
    knob.setBounds (0, 0, 200, 200);
    knob.setRotaryParameters (-2.5f, 2.5f, true);
    knob.setRange (0.0, 1.0, 0.0);
    knob.setValue (0.5, juce::dontSendNotification);
    const juce::Image image = render (knob);
    knob.setLookAndFeel (nullptr);

    // Marks sit between 0.3015 S and 0.333 S from the centre.
    const double radius = 0.317 * 200.0;
    for (int k = 0; k <= 10; ++k)
    {
        const double angle = -2.5 + 0.5 * k;
        const int x = (int) std::floor (100.0 + radius * std::sin (angle));
        const int y = (int) std::floor (100.0 - radius * std::cos (angle));
        EXPECT_GT (image.getPixelAt (x, y).getBrightness(), 0.8f) << k;
    }
    // Between marks there is nothing.
    EXPECT_LT (image.getPixelAt ((int) (100.0 + radius * std::sin (0.25)), (int) (100.0 - radius * std::cos (0.25))).getAlpha(), 40);

    // Pointer from 0.0585 S to 0.1935 S above the centre.
    for (int y : { 100 - 14, 100 - 25, 100 - 36 })
        EXPECT_GT (image.getPixelAt (100, y).getBrightness(), 0.85f) << y;
}
