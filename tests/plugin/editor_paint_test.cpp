// Pixels of the painted editor: background, title, logo, version and lamps.
#include "editor_fixtures.h"

#include "PluginArtwork.h"

using namespace editortest;

namespace
{
// The background's radial gradient, from (50, 50) out to radius 494.97.
juce::Colour backgroundAt (int x, int y)
{
    const double t = std::min (1.0, std::hypot (x + 0.5 - 50.0, y + 0.5 - 50.0) / std::hypot (350.0, 350.0));
    return juce::Colour (0xFF464646).interpolatedWith (juce::Colour (0xFF1A1C1A), (float) t);
}

int channelDistance (juce::Colour a, juce::Colour b)
{
    return std::max ({ std::abs (a.getRed() - b.getRed()), std::abs (a.getGreen() - b.getGreen()),
                       std::abs (a.getBlue() - b.getBlue()) });
}

class EditorPaint : public ::testing::Test
{
protected:
    void SetUp() override
    {
        rig.hostSets (rig.processor->tremon, 1.0f);
        rig.hostSets (rig.processor->choruson, 0.0f);
        rig.open();
        snapshot = rig.editor->createComponentSnapshot (rig.editor->getLocalBounds(), true, 1.0f);
        ASSERT_EQ (snapshot.getWidth(), 850);
        ASSERT_EQ (snapshot.getHeight(), 500);
    }

    TemporaryHome home;
    SetFolder sets { "first.rks" };
    EditorRig rig { sets.folder };
    juce::Image snapshot;
};
} // namespace

TEST_F (EditorPaint, BackgroundIsTheRadialGradient)
{
    // The centre point and the four corners are clear of every child.
    const juce::Point<int> points[] = { { 425, 250 }, { 0, 0 }, { 849, 0 }, { 0, 499 }, { 849, 499 } };
    for (auto p : points)
        EXPECT_LE (channelDistance (snapshot.getPixelAt (p.x, p.y), backgroundAt (p.x, p.y)), 2)
            << p.x << ", " << p.y << ": " << snapshot.getPixelAt (p.x, p.y).toDisplayString (false);
    // Past the gradient's radius the colour is the outer one.
    EXPECT_LE (channelDistance (snapshot.getPixelAt (849, 499), juce::Colour (0xFF1A1C1A)), 1);
    EXPECT_LE (channelDistance (snapshot.getPixelAt (0, 0), juce::Colour (0xFF464646)), 8);
}

TEST_F (EditorPaint, TitleIsDrawnAtSeventyPercentAtTwentyTwenty)
{
    // The title's dark outline is darker than any background in the header.
    const juce::Image title = juce::ImageCache::getFromMemory (resource_keyGuiComponent_name_png, resource_keyGuiComponent_name_pngSize);
    const juce::Rectangle<int> inked = boundsOf (title, title.getBounds(), [] (juce::Colour c) { return c.getAlpha() > 200; });
    const juce::Rectangle<int> drawn = boundsOf (snapshot, { 5, 12, 360, 68 },
                                                 [] (juce::Colour c) { return c.getRed() < 26 && c.getGreen() < 26 && c.getBlue() < 26; });
    ASSERT_FALSE (drawn.isEmpty());
    EXPECT_TRUE (juce::Rectangle<int> (20, 20, 321, 51).contains (drawn)) << drawn.toString();
    EXPECT_NEAR (drawn.getX(), 20 + inked.getX() * 0.7, 1.5);
    EXPECT_NEAR (drawn.getY(), 20 + inked.getY() * 0.7, 1.5);
    EXPECT_NEAR (drawn.getRight(), 20 + inked.getRight() * 0.7, 1.5);
    EXPECT_NEAR (drawn.getBottom(), 20 + inked.getBottom() * 0.7, 1.5);
}

TEST_F (EditorPaint, LogoIsDrawnUnscaledAtItsCorner)
{
    const juce::Image logo = juce::ImageCache::getFromMemory (resource_keyGuiComponent_quarm_png, resource_keyGuiComponent_quarm_pngSize);
    const juce::Rectangle<int> inked = boundsOf (logo, logo.getBounds(), [] (juce::Colour c) { return c.getAlpha() > 128; });
    const juce::Rectangle<int> drawn = boundsOf (snapshot, { 735, 15, 105, 55 }, [] (juce::Colour c) { return c.getBrightness() > 0.35f; });
    EXPECT_EQ (drawn, inked.translated (750, 25));
}

TEST_F (EditorPaint, VersionTextIsGreyAndBottomCentred)
{
    const juce::Rectangle<int> box (290, 52, 45, 20);
    // Searched round the box, clear of the header frame's outline (y 77).
    const juce::Rectangle<int> text = boundsOf (snapshot, { 278, 44, 70, 31 }, [] (juce::Colour c) { return c.getRed() > 110; });
    ASSERT_FALSE (text.isEmpty());
    EXPECT_TRUE (box.contains (text)) << text.toString();
    EXPECT_NEAR (text.getCentreX(), box.getCentreX(), 2);
    EXPECT_GE (text.getBottom(), box.getBottom() - 5);   // descent below the digits
    EXPECT_GE (text.getHeight(), 7);                      // bold, height 12

    // The brightest text pixel is the text colour itself.
    juce::Colour brightest;
    for (int y = text.getY(); y < text.getBottom(); ++y)
        for (int x = text.getX(); x < text.getRight(); ++x)
            if (snapshot.getPixelAt (x, y).getRed() > brightest.getRed())
                brightest = snapshot.getPixelAt (x, y);
    EXPECT_LE (channelDistance (brightest, juce::Colour (0xFFA1A1A1)), 2) << brightest.toDisplayString (false);
}

TEST_F (EditorPaint, LampLightsWhenTheSwitchIsOn)
{
    // A 102 x 70 switch draws its 45 x 45 face at (28, 16); the lamp's centre
    // is at 0.9 x (25, 8.5) within the face.
    auto lampOf = [this] (const char* id)
    {
        auto* button = rig.control<juce::Button> (id);
        return snapshot.getPixelAt (button->getX() + 28 + 22, button->getY() + 16 + 8);
    };
    const juce::Colour on = lampOf ("tremon");
    const juce::Colour off = lampOf ("choruson");
    EXPECT_GT (on.getRed(), 170) << on.toDisplayString (false);
    EXPECT_GT (on.getRed(), on.getBlue() + 80);
    EXPECT_LT (off.getRed() + off.getGreen() + off.getBlue(), 150) << off.toDisplayString (false);

    // Outside the lamp the two faces look the same.
    auto* tremon = rig.control<juce::Button> ("tremon");
    auto* choruson = rig.control<juce::Button> ("choruson");
    int differing = 0;
    for (int y = 14; y < 64; ++y)
        for (int x = 28; x < 75; ++x)
        {
            const bool inLamp = std::hypot (x - 50.5, y - 23.6) < 7.0;
            if (! inLamp && channelDistance (snapshot.getPixelAt (tremon->getX() + x, tremon->getY() + y),
                                             snapshot.getPixelAt (choruson->getX() + x, choruson->getY() + y)) > 3)
                ++differing;
        }
    EXPECT_EQ (differing, 0);
}

TEST_F (EditorPaint, KnobPointerFollowsTheValue)
{
    // The pale pointer bar turns with the value: straight up at mid travel of
    // a symmetric sweep, so test the top of the cap at mid and at minimum.
    auto* knob = rig.control<juce::Slider> ("tremspeed");
    auto pointerTop = [&] (double proportion)
    {
        knob->setValue (knob->proportionOfLengthToValue (proportion), juce::dontSendNotification);
        const juce::Image image = knob->createComponentSnapshot (knob->getLocalBounds(), true, 1.0f);
        // Just above the centre, along the vertical.
        return image.getPixelAt (51, 51 - 14);
    };
    const juce::Colour up = pointerTop (0.5);
    const juce::Colour away = pointerTop (0.0);
    EXPECT_GT (up.getBrightness(), 0.8f) << up.toDisplayString (false);
    EXPECT_LT (away.getBrightness(), 0.7f) << away.toDisplayString (false);
}
