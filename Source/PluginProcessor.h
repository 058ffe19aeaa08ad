#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_audio_basics/juce_audio_basics.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "ChorusStage.h"
#include "DriveStage.h"
#include "EqualiserStage.h"
#include "PluginSamplePath.h"
#include "ReverbStage.h"
#include "VoiceEngine.h"
#include "samples/SampleSet.h"

class TolvekAudioProcessor : public juce::AudioProcessor,
                             public juce::AudioProcessorListener
{
public:
    static constexpr int numParameters = 26;
    static constexpr int maxSliceLength = 8192;   // effect buffers hold this many samples

    TolvekAudioProcessor();
    // For the renderer and tests: uses `sampleFolder` and never reads the path file.
    explicit TolvekAudioProcessor (const juce::String& sampleFolder);
    ~TolvekAudioProcessor() override;

    const juce::String getName() const override;
    void prepareToPlay (double sampleRate, int samplesPerBlock) override;
    void releaseResources() override;
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    using juce::AudioProcessor::processBlock;
    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    bool isMidiEffect() const override;
    void reset() override;
    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;
    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int index) override;
    const juce::String getProgramName (int index) override;
    void changeProgramName (int index, const juce::String& newName) override;
    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    void audioProcessorChanged (juce::AudioProcessor*, const juce::AudioProcessorListener::ChangeDetails&) override;
    void audioProcessorParameterChanged (juce::AudioProcessor*, int parameterIndex, float newValue) override;

    // Loads the set file `fileName` of the sample folder into the given set
    // members (the main set's or the tine set's). Runs on the message thread
    // or in reset(); the audio thread picks the new set up at its next block.
    void loadSamples (juce::String fileName, short* zoneCount, const short** samplesOut, const tableDataType** tableOut);

    // Drive stage actions that the editor and the parameter listener trigger.
    // From any thread but the audio thread they are handed over and take effect
    // at the start of the next block, so a block never sees half a change.
    void setTubeCurves();
    void updateCabinet();
    void selectCabinet (int cabinetIndex);

    // The sample folder: the editor chooses it here (refused when too long).
    bool chooseSampleFolder (const juce::String& folderPath);
    juce::File getSampleFolder() const { return SamplePath::folder (samplePath); }

    // Points the processor at a folder for this instance only, without the
    // path file (the renderer and tests use this).
    bool setSampleFolderForThisInstance (const juce::String& folderPath);

    // Parameter helpers.
    juce::RangedAudioParameter* getParameterById (const juce::String& id) const;
    // A parameter's plain value: the float, the whole number, or 0 / 1 for a switch.
    float parameterValue (int index) const;

    // Sample-set swap bookkeeping, for tests: how many sets the audio thread took over.
    uint32_t setSwapsSeen() const { return setSwapCount.load(); }

    //--------------------------------------------------------------------------
    juce::MidiKeyboardState keyboardState;

    // The loaded sets as the loader sees them (message thread / reset()).
    const short* samples = nullptr;
    const tableDataType* table = nullptr;
    short tableSize = 0;
    short setKind = 0;
    const short* tineSamples = nullptr;
    const tableDataType* tineTable = nullptr;
    short tineTableSize = 0;

    VoiceEngine engine;   // voices, tine voices, pitch bend, pedal, tremolo

    juce::String loadedSetName;
    int sampleRateHz = 44100;

    DriveStage drive;          // powerCurve, preampCurve, cabinetFilter
    EqualiserStage equaliser;  // triband and its band buffers
    ChorusStage chorus;
    ReverbStage reverb;

    char samplePath[SamplePath::bufferSize] {};

    juce::AudioParameterFloat* attack = nullptr;
    juce::AudioParameterFloat* release = nullptr;
    juce::AudioParameterFloat* decay = nullptr;
    juce::AudioParameterFloat* sustain = nullptr;
    juce::AudioParameterFloat* tinemix = nullptr;
    juce::AudioParameterFloat* low = nullptr;
    juce::AudioParameterFloat* mid = nullptr;
    juce::AudioParameterFloat* high = nullptr;
    juce::AudioParameterFloat* tremspeed = nullptr;
    juce::AudioParameterFloat* tremapm = nullptr;
    juce::AudioParameterFloat* drivegain = nullptr;
    juce::AudioParameterFloat* reverbmix = nullptr;
    juce::AudioParameterFloat* reverbrefecl = nullptr;
    juce::AudioParameterFloat* roomsize = nullptr;
    juce::AudioParameterFloat* tail = nullptr;
    juce::AudioParameterFloat* chorusdelay = nullptr;
    juce::AudioParameterFloat* chorusmix = nullptr;
    juce::AudioParameterFloat* mainout = nullptr;
    juce::AudioParameterInt* drivecab = nullptr;
    juce::AudioParameterInt* program = nullptr;
    juce::AudioParameterBool* choruson = nullptr;
    juce::AudioParameterBool* reverbon = nullptr;
    juce::AudioParameterBool* eqon = nullptr;
    juce::AudioParameterBool* tineon = nullptr;
    juce::AudioParameterBool* tremon = nullptr;
    juce::AudioParameterBool* driveon = nullptr;

private:
    TolvekAudioProcessor (bool readPathFile, const juce::String& sampleFolder);
    static BusesProperties makeBuses();
    void createParameters();
    void selectSetForProgram();
    void loadSamplesLocked (const juce::String& fileName, short* zoneCount, const short** samplesOut, const tableDataType** tableOut);
    void publishSets();
    void applyPendingChanges();
    void renderSlice (float* x, int n, const VoiceParams& voiceParams);
    bool onAudioThread() const;
    int currentRateHz() const;
    void setProgramFromMidi (int programNumber);

    std::vector<juce::RangedAudioParameter*> parameterList;

    // Set hand-over: the loader fills one of two views and marks it pending;
    // the audio thread takes it at the start of a block. audioEpoch is odd while
    // a block runs, so the loader knows when old buffers can no longer be read.
    std::recursive_mutex loaderMutex;
    int loaderDepth = 0;
    bool setsChanged = false;
    std::vector<std::pair<const short*, const tableDataType*>> retiredSets;
    SetView publishedViews[2];
    int nextViewSlot = 0;
    std::atomic<int> pendingView { -1 };
    std::atomic<uint32_t> audioEpoch { 0 };
    std::atomic<uint32_t> setSwapCount { 0 };
    SetView audioView;   // what the audio thread renders from

    // Filter changes requested from other threads, applied at block start.
    static constexpr int noCabinetRequest = -1;
    std::atomic<int> eqInitRequest { 0 };            // rate to initialise with, 0 for none
    std::atomic<int> cabinetRequest { noCabinetRequest };
    std::atomic<bool> tubeCurvesRequest { false };
    std::atomic<std::thread::id> audioThread {};

    bool announcingRestoredValues = false;
    float silentOutput[maxSliceLength] {};   // used when the host gives no output channel

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TolvekAudioProcessor)
};
