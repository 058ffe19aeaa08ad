// The editor's construction: one control per parameter, their settings and the
// layout.
#include "editor_fixtures.h"

#include <cmath>

using namespace editortest;

namespace
{
class EditorLayout : public ::testing::Test
{
protected:
    TemporaryHome home;
    SetFolder sets { "first.rks" };
    EditorRig rig { sets.folder };
    TolvekAudioProcessorEditor& editor = rig.open();
};

struct Placement
{
    const char* id;
    int x, y, w, h;
};
} // namespace

TEST_F (EditorLayout, FixedSizeNotResizable)
{
    EXPECT_EQ (editor.getWidth(), 850);
    EXPECT_EQ (editor.getHeight(), 500);
    EXPECT_FALSE (editor.isResizable());
}

TEST_F (EditorLayout, OneControlPerParameterInParameterOrder)
{
    const auto& parameters = rig.processor->getParameters();
    ASSERT_EQ (editor.paramControls.size(), parameters.size());
    EXPECT_EQ (editor.paramSliders.size(), 18);
    EXPECT_EQ (editor.paramComboBoxes.size(), 2);
    EXPECT_EQ (editor.paramButtons.size(), 6);

    for (int i = 0; i < parameters.size(); ++i)
    {
        auto* parameter = dynamic_cast<juce::RangedAudioParameter*> (parameters[i]);
        juce::Component* control = editor.paramControls[i];
        ASSERT_NE (parameter, nullptr);
        SCOPED_TRACE (parameter->paramID.toStdString());
        EXPECT_EQ (control->getName(), parameter->paramID);
        EXPECT_TRUE (control->isVisible());
        EXPECT_EQ (control->getParentComponent(), &editor);
        if (dynamic_cast<juce::AudioParameterFloat*> (parameter) != nullptr)
            EXPECT_NE (dynamic_cast<juce::Slider*> (control), nullptr);
        else if (dynamic_cast<juce::AudioParameterBool*> (parameter) != nullptr)
            EXPECT_NE (dynamic_cast<juce::ToggleButton*> (control), nullptr);
        else if (dynamic_cast<juce::AudioParameterInt*> (parameter) != nullptr)
            EXPECT_NE (dynamic_cast<juce::ComboBox*> (control), nullptr);
        else
            ADD_FAILURE() << "unexpected parameter kind";
    }
    EXPECT_EQ (editor.sampleSetBox, rig.control<juce::ComboBox> ("program"));
}

TEST_F (EditorLayout, ChildrenSitAtTheirRectangles)
{
    const Placement placements[] = {
        { "drivecab", 525, 400, 73, 30 },   { "program", 20, 150, 470, 30 },
        { "attack", 632, 120, 50, 160 },    { "decay", 682, 120, 50, 160 },
        { "sustain", 732, 120, 50, 160 },   { "release", 782, 120, 50, 160 },
        { "mainout", 510, 82, 102, 102 },   { "tinemix", 410, 284, 102, 102 },
        { "low", 607, 385, 102, 102 },      { "mid", 682, 385, 102, 102 },
        { "high", 757, 385, 102, 102 },     { "tremspeed", 0, 282, 102, 102 },
        { "tremapm", 0, 384, 102, 102 },    { "chorusmix", 102, 282, 102, 102 },
        { "chorusdelay", 102, 384, 102, 102 }, { "reverbrefecl", 204, 282, 102, 102 },
        { "tail", 306, 282, 102, 102 },     { "roomsize", 204, 384, 102, 102 },
        { "reverbmix", 306, 384, 102, 102 }, { "drivegain", 510, 282, 102, 102 },
        { "tremon", 0, 220, 102, 70 },      { "choruson", 102, 220, 102, 70 },
        { "reverbon", 204, 220, 204, 70 },  { "tineon", 408, 420, 102, 70 },
        { "driveon", 510, 220, 102, 70 },   { "eqon", 612, 310, 240, 70 },
    };
    for (const auto& p : placements)
    {
        auto* control = rig.control<juce::Component> (p.id);
        ASSERT_NE (control, nullptr) << p.id;
        EXPECT_EQ (control->getBounds(), juce::Rectangle<int> (p.x, p.y, p.w, p.h)) << p.id;
    }
    EXPECT_EQ (editor.sampleFolderButton.getBounds(), juce::Rectangle<int> (20, 105, 470, 30));

    const std::pair<juce::GroupComponent*, juce::Rectangle<int>> frames[] = {
        { &editor.headerFrame, { 0, 0, 850, 80 } },      { &editor.libraryFrame, { 0, 80, 510, 120 } },
        { &editor.outputFrame, { 512, 80, 102, 120 } },  { &editor.envelopeFrame, { 612, 80, 240, 210 } },
        { &editor.eqFrame, { 612, 290, 240, 210 } },     { &editor.tremoloFrame, { 0, 200, 102, 300 } },
        { &editor.chorusFrame, { 102, 200, 102, 300 } }, { &editor.reverbFrame, { 204, 200, 204, 300 } },
        { &editor.tineFrame, { 408, 200, 102, 300 } },   { &editor.driveFrame, { 510, 200, 102, 300 } },
    };
    for (const auto& [frame, bounds] : frames)
    {
        EXPECT_EQ (frame->getBounds(), bounds);
        EXPECT_TRUE (frame->getText().isEmpty());
        // Frames lie under every control.
        EXPECT_LT (editor.getIndexOfChildComponent (frame), editor.getIndexOfChildComponent (&editor.sampleFolderButton));
    }
}

TEST_F (EditorLayout, EnvelopeFadersHaveCaptionsAndNoSliderShowsItsValue)
{
    ASSERT_EQ (editor.paramLabels.size(), 4);
    const char* captions[] = { "Attack", "Release", "Decay", "Sustain" };
    const char* ids[] = { "attack", "release", "decay", "sustain" };
    for (int i = 0; i < 4; ++i)
    {
        juce::Label* label = editor.paramLabels[i];
        auto* slider = rig.control<juce::Slider> (ids[i]);
        SCOPED_TRACE (ids[i]);
        EXPECT_EQ (label->getText(), captions[i]);
        EXPECT_EQ (label->getAttachedComponent(), slider);
        EXPECT_EQ (label->getJustificationType(), juce::Justification::centredBottom);
        // Attached above, as wide as the fader.
        EXPECT_EQ (label->getBottom(), slider->getY());
        EXPECT_EQ (label->getX(), slider->getX());
        EXPECT_EQ (label->getWidth(), slider->getWidth());
        EXPECT_EQ (slider->getSliderStyle(), juce::Slider::LinearVertical);
    }

    for (auto* slider : editor.paramSliders)
    {
        SCOPED_TRACE (slider->getName().toStdString());
        EXPECT_EQ (slider->getTextBoxPosition(), juce::Slider::NoTextBox);
        EXPECT_EQ (&slider->getLookAndFeel(), &editor.otherLookAndFeel);
        if (slider->getSliderStyle() != juce::Slider::LinearVertical)
            EXPECT_EQ (slider->getSliderStyle(), juce::Slider::RotaryHorizontalVerticalDrag);
        // The caption the knob draws is the parameter's name.
        auto* parameter = dynamic_cast<juce::AudioParameterFloat*> (rig.processor->getParameterById (slider->getName()));
        ASSERT_NE (parameter, nullptr);
        EXPECT_EQ (slider->getComponentID(), parameter->name);
        EXPECT_DOUBLE_EQ (slider->getMinimum(), parameter->range.start);
        EXPECT_DOUBLE_EQ (slider->getMaximum(), parameter->range.end);
        EXPECT_DOUBLE_EQ (slider->getInterval(), 0.0);
    }
}

TEST_F (EditorLayout, SkewsPutUnityGainAtMidTravel)
{
    struct SkewCase
    {
        const char* id;
        double skew;
    };
    // Value shown at half travel: start + (end - start) * 0.5^(1 / skew).
    const double eqSkew = std::log (0.5) / std::log ((1.0 - 0.1778) / (5.6234 - 0.1778));
    const SkewCase cases[] = {
        { "low", eqSkew }, { "mid", eqSkew }, { "high", eqSkew },
        { "mainout", 0.9 }, { "tremapm", 0.9 }, { "tinemix", 0.9 }, { "chorusmix", 0.9 }, { "chorusdelay", 0.9 },
        { "attack", 0.9 }, { "decay", 0.9 }, { "sustain", 0.9 }, { "release", 0.9 },
        { "tremspeed", 1.0 }, { "drivegain", 1.0 }, { "reverbmix", 1.0 }, { "reverbrefecl", 1.0 },
        { "roomsize", 1.0 }, { "tail", 1.0 },
    };
    for (const auto& c : cases)
    {
        auto* slider = rig.control<juce::Slider> (c.id);
        ASSERT_NE (slider, nullptr) << c.id;
        const double start = slider->getMinimum(), end = slider->getMaximum();
        EXPECT_NEAR (slider->getSkewFactor(), c.skew, 1e-6) << c.id;   // the ranges are single precision
        EXPECT_NEAR (slider->proportionOfLengthToValue (0.5), start + (end - start) * std::pow (0.5, 1.0 / c.skew), 1e-6) << c.id;
    }
    EXPECT_NEAR (eqSkew, 0.36663, 1e-5);
    for (const char* id : { "low", "mid", "high" })
        EXPECT_NEAR (rig.control<juce::Slider> (id)->proportionOfLengthToValue (0.5), 1.0, 1e-6) << id;
    EXPECT_GT (std::abs (rig.control<juce::Slider> ("mainout")->proportionOfLengthToValue (0.5) - 1.0), 0.5);
}

TEST_F (EditorLayout, CombosAndButtonsKeepTheirLooks)
{
    for (auto* box : editor.paramComboBoxes)
    {
        EXPECT_NE (&box->getLookAndFeel(), &editor.otherLookAndFeel);
        EXPECT_FALSE (box->isTextEditable());
        EXPECT_EQ (box->getJustificationType(), juce::Justification::centredLeft);
        EXPECT_EQ (box->findColour (juce::ComboBox::backgroundColourId), juce::Colour (0xFF1A1C1A));
    }
    const char* captions[] = { "Chorus", "Reverb", "EQ", "Tine Octave Up", "Trem", "Drive" };
    ASSERT_EQ (editor.paramButtons.size(), 6);
    for (int i = 0; i < 6; ++i)
    {
        EXPECT_EQ (editor.paramButtons[i]->getButtonText(), captions[i]);
        EXPECT_EQ (&editor.paramButtons[i]->getLookAndFeel(), &editor.otherLookAndFeel);
    }
    EXPECT_EQ (editor.sampleFolderButton.findColour (juce::TextButton::buttonColourId), juce::Colour (0xFF1A1C1A));
    EXPECT_EQ (editor.sampleFolderButton.getButtonText(), sets.folder.getFullPathName());
}

TEST (EditorControls, ControlsStartFromTheParameters)
{
    TemporaryHome home;
    SetFolder sets;
    EditorRig rig (sets.folder);
    rig.hostSets (rig.processor->reverbon, 1.0f);
    rig.hostSets (rig.processor->roomsize, 55.0f);
    // A switch counts as on from a value of 0.5.
    setQuietly (rig.processor->choruson, 0.5f);
    setQuietly (rig.processor->eqon, 0.49f);
    rig.open();

    EXPECT_TRUE (rig.control<juce::Button> ("reverbon")->getToggleState());
    EXPECT_TRUE (rig.control<juce::Button> ("choruson")->getToggleState());
    EXPECT_FALSE (rig.control<juce::Button> ("eqon")->getToggleState());
    EXPECT_FALSE (rig.control<juce::Button> ("driveon")->getToggleState());
    EXPECT_EQ (rig.control<juce::Slider> ("roomsize")->getValue(), (double) rig.processor->roomsize->get());
    EXPECT_NEAR (rig.control<juce::Slider> ("roomsize")->getValue(), 55.0, 1e-4);
    EXPECT_NEAR (rig.control<juce::Slider> ("release")->getValue(), 0.1, 1e-6);
}

TEST (EditorControls, CabinetListShowsTheParameter)
{
    const char* texts[] = { "NoCab", "cab1", "cab2", "cab3", "cab4", "cab5" };
    for (int value = 0; value <= 5; ++value)
    {
        TemporaryHome home;
        SetFolder sets;
        EditorRig rig (sets.folder);
        rig.hostSets (rig.processor->drivecab, (float) value);
        rig.open();
        auto* box = rig.control<juce::ComboBox> ("drivecab");
        ASSERT_EQ (box->getNumItems(), 6);
        for (int i = 0; i < 6; ++i)
        {
            EXPECT_EQ (box->getItemText (i), texts[i]);
            EXPECT_EQ (box->getItemId (i), i + 1);
        }
        EXPECT_EQ (box->getText(), texts[value]);
    }
}

TEST (EditorControls, EmptyFolderGivesAnEmptySetList)
{
    TemporaryHome home;
    SetFolder sets;
    sets.folder.getChildFile ("notes.txt").replaceWithText ("not a set");
    EditorRig rig (sets.folder);
    rig.open();
    juce::ComboBox* box = rig.editor->sampleSetBox;
    ASSERT_NE (box, nullptr);
    EXPECT_EQ (box->getNumItems(), 0);
    EXPECT_EQ (box->getSelectedItemIndex(), -1);
    EXPECT_EQ (box->getText(), "");
    EXPECT_EQ (box->getTextWhenNothingSelected(), "None");
    EXPECT_EQ (box->getTextWhenNoChoicesAvailable(), "(no choices)");
}

TEST (EditorControls, SetListFollowsTheFolderInIteratorOrder)
{
    TemporaryHome home;
    SetFolder sets { "b.rks", "a.rks", "c.rks" };
    sets.folder.getChildFile ("sub").createDirectory();
    sets.add ("sub/deep.rks");
    sets.folder.getChildFile ("readme.txt").replaceWithText ("-");
    EditorRig rig (sets.folder);
    rig.hostSets (rig.processor->program, 1.0f);
    rig.open();

    juce::ComboBox* box = rig.editor->sampleSetBox;
    const juce::StringArray listed = sets.listed();
    ASSERT_EQ (listed.size(), 3);
    ASSERT_EQ (box->getNumItems(), 3);
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ (box->getItemText (i), listed[i]);
        EXPECT_EQ (box->getItemId (i), i + 1);
    }
    EXPECT_EQ (box->getSelectedItemIndex(), 1);
}

TEST (EditorControls, ProgramPastTheListSelectsNothing)
{
    TemporaryHome home;
    SetFolder sets { "a.rks", "b.rks" };
    EditorRig rig (sets.folder);
    rig.hostSets (rig.processor->program, 2.0f);
    rig.open();
    EXPECT_EQ (rig.editor->sampleSetBox->getNumItems(), 2);
    EXPECT_EQ (rig.editor->sampleSetBox->getSelectedItemIndex(), -1);
    EXPECT_EQ (rig.processor->program->get(), 2);
}
