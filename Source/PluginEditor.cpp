#include "PluginEditor.h"

#include "PluginArtwork.h"
#include "PluginProcessor.h"
#include "PluginSamplePath.h"

namespace
{
struct Placement
{
    const char* id;
    int x, y, width, height;
};

const Placement comboBoxPlacements[] = {
    { "drivecab", 525, 400, 73, 30 },
    { "program", 20, 150, 470, 30 },
};

const Placement sliderPlacements[] = {
    { "attack", 632, 120, 50, 160 },
    { "decay", 682, 120, 50, 160 },
    { "sustain", 732, 120, 50, 160 },
    { "release", 782, 120, 50, 160 },
    { "mainout", 510, 82, 102, 102 },
    { "tinemix", 410, 284, 102, 102 },
    { "low", 607, 385, 102, 102 },
    { "mid", 682, 385, 102, 102 },
    { "high", 757, 385, 102, 102 },
    { "tremspeed", 0, 282, 102, 102 },
    { "tremapm", 0, 384, 102, 102 },
    { "chorusmix", 102, 282, 102, 102 },
    { "chorusdelay", 102, 384, 102, 102 },
    { "reverbrefecl", 204, 282, 102, 102 },
    { "tail", 306, 282, 102, 102 },
    { "roomsize", 204, 384, 102, 102 },
    { "reverbmix", 306, 384, 102, 102 },
    { "drivegain", 510, 282, 102, 102 },
};

const Placement buttonPlacements[] = {
    { "tremon", 0, 220, 102, 70 },
    { "choruson", 102, 220, 102, 70 },
    { "reverbon", 204, 220, 204, 70 },
    { "tineon", 408, 420, 102, 70 },
    { "driveon", 510, 220, 102, 70 },
    { "eqon", 612, 310, 240, 70 },
};

template <size_t N>
void place (juce::Component& child, const Placement (&table)[N])
{
    for (const auto& entry : table)
        if (child.getName() == entry.id)
        {
            child.setBounds (entry.x, entry.y, entry.width, entry.height);
            return;
        }
}

bool isEnvelope (const juce::String& id)
{
    return id == "attack" || id == "decay" || id == "sustain" || id == "release";
}

bool hasGentleSkew (const juce::String& id)
{
    return id == "mainout" || id == "tremapm" || id == "tinemix" || id == "chorusmix" || id == "chorusdelay";
}

bool isEqualiserGain (const juce::String& id)
{
    return id == "low" || id == "mid" || id == "high";
}

// The parameter's own value, not its normalised one.
float realValue (juce::AudioProcessorParameter* parameter)
{
    if (auto* floatParameter = dynamic_cast<juce::AudioParameterFloat*> (parameter))
        return floatParameter->get();
    if (auto* intParameter = dynamic_cast<juce::AudioParameterInt*> (parameter))
        return (float) intParameter->get();
    if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter))
        return ranged->convertFrom0to1 (ranged->getValue());
    return parameter != nullptr ? parameter->getValue() : 0.0f;
}

constexpr juce::uint32 panelColour = 0xFF1A1C1A;
} // namespace

//==============================================================================
TolvekAudioProcessorEditor::TolvekAudioProcessorEditor (TolvekAudioProcessor& p)
    : juce::AudioProcessorEditor (p),
      audioProcessor (p),
      logoImage (juce::ImageCache::getFromMemory (resource_keyGuiComponent_quarm_png, resource_keyGuiComponent_quarm_pngSize)),
      titleImage (juce::ImageCache::getFromMemory (resource_keyGuiComponent_name_png, resource_keyGuiComponent_name_pngSize))
{
    for (auto* frame : { &libraryFrame, &outputFrame, &headerFrame, &eqFrame, &envelopeFrame,
                         &tremoloFrame, &chorusFrame, &reverbFrame, &tineFrame, &driveFrame })
        addAndMakeVisible (frame);

    addAndMakeVisible (sampleFolderButton);
    sampleFolderButton.setButtonText (SamplePath::text (audioProcessor.samplePath));
    sampleFolderButton.setColour (juce::TextButton::buttonColourId, juce::Colour (panelColour));
    sampleFolderButton.addListener (this);

    for (auto* parameter : audioProcessor.getParameters())
    {
        if (auto* floatParameter = dynamic_cast<juce::AudioParameterFloat*> (parameter))
        {
            const juce::String id = floatParameter->paramID;
            auto* slider = paramSliders.add (new juce::Slider (id));
            slider->setRange (floatParameter->range.start, floatParameter->range.end, 0.0);
            slider->setSliderStyle (isEnvelope (id) ? juce::Slider::LinearVertical
                                                    : juce::Slider::RotaryHorizontalVerticalDrag);
            slider->setTextBoxStyle (juce::Slider::NoTextBox, true, 80, 20);
            if (isEnvelope (id))
            {
                slider->setSkewFactor (0.9, false);
                auto* label = paramLabels.add (new juce::Label (floatParameter->name, floatParameter->name));
                addAndMakeVisible (label);
                label->setJustificationType (juce::Justification::centredBottom);
                label->attachToComponent (slider, false);
            }
            slider->setLookAndFeel (&otherLookAndFeel);
            if (hasGentleSkew (id))
                slider->setSkewFactor (0.9, false);
            else if (isEqualiserGain (id))
                slider->setSkewFactorFromMidPoint (1.0);   // unity gain at mid travel
            slider->setComponentID (floatParameter->name);  // the knob's caption
            slider->setValue (floatParameter->get());
            slider->addListener (this);
            addAndMakeVisible (slider);
            paramControls.add (slider);
        }
        else if (auto* boolParameter = dynamic_cast<juce::AudioParameterBool*> (parameter))
        {
            auto* button = paramButtons.add (new juce::ToggleButton (boolParameter->paramID));
            button->setToggleState (boolParameter->get(), juce::dontSendNotification);   // on from 0.5
            button->addListener (this);
            button->setButtonText (boolParameter->name);
            button->setLookAndFeel (&otherLookAndFeel);
            addAndMakeVisible (button);
            paramControls.add (button);
        }
        else if (auto* intParameter = dynamic_cast<juce::AudioParameterInt*> (parameter))
        {
            const juce::String id = intParameter->paramID;
            auto* box = paramComboBoxes.add (new juce::ComboBox (id));
            box->setEditableText (false);
            box->setJustificationType (juce::Justification::centredLeft);
            box->setTextWhenNothingSelected (TRANS ("None"));
            box->setTextWhenNoChoicesAvailable (TRANS ("(no choices)"));
            box->setColour (juce::ComboBox::backgroundColourId, juce::Colour (panelColour));
            box->addListener (this);
            addAndMakeVisible (box);
            paramControls.add (box);

            if (id == "drivecab")
            {
                int itemId = 1;
                for (const char* text : { "NoCab", "cab1", "cab2", "cab3", "cab4", "cab5" })
                    box->addItem (TRANS (text), itemId++);
                box->setSelectedItemIndex (intParameter->get(), juce::sendNotificationAsync);
            }
            else if (id == "program")
            {
                sampleSetBox = box;
                getSampleLib (box, intParameter->get());
            }
        }
    }

    setSize (850, 500);
    startTimer (33);
}

TolvekAudioProcessorEditor::~TolvekAudioProcessorEditor()
{
    // The look and feel is destroyed before the controls that use it.
    for (auto* slider : paramSliders)
        slider->setLookAndFeel (nullptr);
    for (auto* button : paramButtons)
        button->setLookAndFeel (nullptr);
    for (auto* box : paramComboBoxes)
        box->setLookAndFeel (nullptr);
}

//==============================================================================
void TolvekAudioProcessorEditor::paint (juce::Graphics& g)
{
    g.setGradientFill (juce::ColourGradient (juce::Colour (0xFF464646), 50.0f, 50.0f,
                                             juce::Colour (panelColour), 400.0f, 400.0f, true));
    g.fillAll();

    if (titleImage.isValid())
    {
        const juce::Image title = titleImage.rescaled ((int) (titleImage.getWidth() * 0.7),
                                                       (int) (titleImage.getHeight() * 0.7));
        g.drawImageAt (title, 20, 20);
    }
    if (logoImage.isValid())
        g.drawImageAt (logoImage, 750, 25);

    g.setFont (juce::Font (12.0f, juce::Font::bold));
    g.setColour (juce::Colour (0xFFA1A1A1));
    g.drawFittedText (JucePlugin_VersionString, juce::Rectangle<int> (290, 52, 45, 20), juce::Justification::centredBottom, 1);
}

void TolvekAudioProcessorEditor::resized()
{
    headerFrame.setBounds (0, 0, 850, 80);
    libraryFrame.setBounds (0, 80, 510, 120);
    outputFrame.setBounds (512, 80, 102, 120);
    envelopeFrame.setBounds (612, 80, 240, 210);
    eqFrame.setBounds (612, 290, 240, 210);
    tremoloFrame.setBounds (0, 200, 102, 300);
    chorusFrame.setBounds (102, 200, 102, 300);
    reverbFrame.setBounds (204, 200, 204, 300);
    tineFrame.setBounds (408, 200, 102, 300);
    driveFrame.setBounds (510, 200, 102, 300);

    for (auto* box : paramComboBoxes)
        place (*box, comboBoxPlacements);
    sampleFolderButton.setBounds (20, 105, 470, 30);
    for (auto* slider : paramSliders)
        place (*slider, sliderPlacements);
    for (auto* button : paramButtons)
        place (*button, buttonPlacements);
}

//==============================================================================
juce::AudioProcessorParameter* TolvekAudioProcessorEditor::parameterFor (juce::Component* control) const
{
    const int index = paramControls.indexOf (control);
    const auto& parameters = audioProcessor.getParameters();
    if (index < 0 || index >= parameters.size())
        return nullptr;
    return parameters[index];
}

void TolvekAudioProcessorEditor::sliderValueChanged (juce::Slider* slider)
{
    if (auto* parameter = dynamic_cast<juce::AudioParameterFloat*> (parameterFor (slider)))
        *parameter = (float) slider->getValue();   // notifies the host only on a change
}

void TolvekAudioProcessorEditor::comboBoxChanged (juce::ComboBox* box)
{
    auto* parameter = dynamic_cast<juce::AudioParameterInt*> (parameterFor (box));
    if (parameter == nullptr)
        return;

    *parameter = box->getSelectedItemIndex();   // -1 clamps to the range start

    if (box->getName() == "drivecab")
    {
        const int cabinet = parameter->get();
        if (cabinet > 0)
            audioProcessor.selectCabinet (cabinet - 1);
    }
    if (box->getName() == "program")
        audioProcessor.loadSamples (box->getText(), &audioProcessor.tableSize, &audioProcessor.samples, &audioProcessor.table);
}

void TolvekAudioProcessorEditor::buttonClicked (juce::Button* button)
{
    if (auto* parameter = dynamic_cast<juce::AudioParameterBool*> (parameterFor (button)))
    {
        *parameter = button->getToggleState();
        if (button->getName() == "driveon" && parameter->get())
        {
            audioProcessor.setTubeCurves();
            audioProcessor.updateCabinet();
        }
    }

    if (button == &sampleFolderButton)
    {
        folderChooser = std::make_unique<juce::FileChooser> ("Please select the directory of sample ...",
                                                             juce::File::getSpecialLocation (juce::File::currentExecutableFile),
                                                             "*", true, false, nullptr);
        // Hosts cannot run modal loops safely, so the dialog runs asynchronously
        // and the rest of the click happens when it closes.
        folderChooser->launchAsync (juce::FileBrowserComponent::openMode | juce::FileBrowserComponent::canSelectDirectories,
                                    [safeThis = juce::Component::SafePointer<TolvekAudioProcessorEditor> (this)] (const juce::FileChooser& chooser)
                                    {
                                        if (safeThis != nullptr)
                                            safeThis->sampleFolderChosen (chooser.getResult());
                                    });
    }
}

void TolvekAudioProcessorEditor::sampleFolderChosen (const juce::File& chosen)
{
    // A path that does not fit the processor's buffer is refused there and
    // the old folder stays.
    if (chosen != juce::File())
        audioProcessor.chooseSampleFolder (chosen.getFullPathName());

    // Chosen or cancelled, the button and the set list show the current folder.
    sampleFolderButton.setButtonText (SamplePath::text (audioProcessor.samplePath));
    if (sampleSetBox != nullptr)
    {
        getSampleLib (sampleSetBox, audioProcessor.program->get());
        comboBoxChanged (sampleSetBox);
    }
}

void TolvekAudioProcessorEditor::getSampleLib (juce::ComboBox* box, int index)
{
    const juce::File folder = SamplePath::folder (audioProcessor.samplePath);
    box->clear (juce::sendNotificationAsync);
    int itemId = 1;
    for (const auto& name : SamplePath::listSets (folder))
        box->addItem (name, itemId++);
    box->setSelectedItemIndex (index, juce::sendNotificationAsync);
}

//==============================================================================
void TolvekAudioProcessorEditor::timerCallback()
{
    const auto& parameters = audioProcessor.getParameters();
    for (int i = 0; i < paramControls.size(); ++i)
    {
        juce::Component* control = paramControls[i];
        if (control == nullptr || i >= parameters.size())
            continue;
        const float value = realValue (parameters[i]);

        if (auto* slider = dynamic_cast<juce::Slider*> (control))
        {
            slider->setValue (value, juce::dontSendNotification);
        }
        else if (auto* button = dynamic_cast<juce::Button*> (control))
        {
            button->setToggleState (value >= 0.5f, juce::dontSendNotification);
        }
        else if (auto* box = dynamic_cast<juce::ComboBox*> (control))
        {
            // Past the end of the list the box keeps what it shows.
            const int item = juce::roundToInt (value);
            if (item < box->getNumItems())
                box->setSelectedItemIndex (item, juce::sendNotification);
        }
    }
}
