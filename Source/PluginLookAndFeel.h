#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// Hardware look for the editor's parameter controls: toggle buttons as lit push
// buttons, linear sliders as faders with a scale and a bitmap cap, rotary
// sliders as fluted knobs. Everything else keeps the V4 defaults.
class OtherLookAndFeel : public juce::LookAndFeel_V4
{
public:
    OtherLookAndFeel();
    ~OtherLookAndFeel() override;

    void drawToggleButton (juce::Graphics& g, juce::ToggleButton& button,
                           bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    void drawLinearSlider (juce::Graphics& g, int x, int y, int width, int height,
                           float sliderPos, float minSliderPos, float maxSliderPos,
                           juce::Slider::SliderStyle style, juce::Slider& slider) override;

    void drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height,
                           float sliderPos, float rotaryStartAngle, float rotaryEndAngle,
                           juce::Slider& slider) override;

    const char* buttonOffData = nullptr;
    int buttonOffSize = 0;
    const char* buttonOnData = nullptr;
    int buttonOnSize = 0;
    const char* thumbData = nullptr;
    int thumbSize = 0;
    juce::Image buttonOnImage;
    juce::Image buttonOffImage;
    juce::Image thumbImage;
};
