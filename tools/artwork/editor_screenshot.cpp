// Renders the editor as a host would show it, with a small set folder and a
// mix of switch and knob settings, and writes the picture as a PNG.
#include "PluginEditor.h"
#include "PluginProcessor.h"
#include "samples/SetEncoder.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cmath>
#include <iostream>

namespace
{
void writeDemoSet (const juce::File& file)
{
    ZoneSource zone;
    zone.rootNote = 60;
    zone.samples.resize (2048);
    for (size_t i = 0; i < zone.samples.size(); ++i)
        zone.samples[i] = (int16_t) std::lround (8000.0 * std::sin (0.05 * (double) i));
    writeSetFile (file.getFullPathName().toStdString(), { zone }, 0);
}

void set (juce::RangedAudioParameter* parameter, float realValue)
{
    parameter->setValueNotifyingHost (parameter->convertTo0to1 (realValue));
}
} // namespace

int main (int argc, char** argv)
{
    const juce::File output = argc > 1 ? juce::File::getCurrentWorkingDirectory().getChildFile (argv[1])
                                       : juce::File (TOLVEK_SOURCE_DIR).getChildFile ("docs/editor.png");
    juce::ScopedJuceInitialiser_GUI framework;

    const juce::File folder = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("Tolvek Samples");
    folder.createDirectory();
    writeDemoSet (folder.getChildFile ("Tolvek Stage.rks"));

    int status = 1;
    {
        auto processorOwner = std::make_unique<TolvekAudioProcessor>();
        auto& processor = *processorOwner;
        processor.setSampleFolderForThisInstance (folder.getFullPathName());
        processor.setRateAndBufferSizeDetails (44100.0, 256);
        processor.prepareToPlay (44100.0, 256);

        set (processor.tremon, 1.0f);
        set (processor.choruson, 0.0f);
        set (processor.reverbon, 1.0f);
        set (processor.tineon, 0.0f);
        set (processor.driveon, 1.0f);
        set (processor.eqon, 0.0f);
        set (processor.attack, 0.05f);
        set (processor.decay, 0.4f);
        set (processor.sustain, 0.8f);
        set (processor.release, 1.5f);
        set (processor.tremspeed, 0.35f);
        set (processor.tremapm, 0.6f);
        set (processor.chorusmix, 0.4f);
        set (processor.reverbmix, 0.25f);
        set (processor.tail, 0.5f);
        set (processor.drivegain, 12.0f);
        set (processor.tinemix, 0.3f);
        set (processor.low, 1.6f);
        set (processor.high, 0.7f);
        set (processor.drivecab, 2.0f);

        std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditorIfNeeded());
        // Let the lists' notifications and a few polls run, then take the picture.
        juce::Image image;
        juce::Timer::callAfterDelay (200, [&]
        {
            image = editor->createComponentSnapshot (editor->getLocalBounds(), true, 1.0f);
            juce::MessageManager::getInstance()->stopDispatchLoop();
        });
        juce::MessageManager::getInstance()->runDispatchLoop();

        output.deleteFile();
        juce::FileOutputStream stream (output);
        juce::PNGImageFormat png;
        if (stream.openedOk() && png.writeImageToStream (image, stream))
        {
            std::cout << "wrote " << output.getFullPathName() << " (" << image.getWidth() << " x " << image.getHeight() << ")\n";
            status = 0;
        }
        else
        {
            std::cerr << "could not write " << output.getFullPathName() << "\n";
        }
        editor.reset();
    }
    folder.deleteRecursively();
    return status;
}
