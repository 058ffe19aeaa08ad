#include "PluginProcessor.h"
#include "PluginEditor.h"

#include <chrono>
#include <cmath>
#include <cstring>

namespace
{
constexpr const char* stateTag = "MYPLUGINSETTINGS";
constexpr const char* tineSetName = "tines.tin";

// Cabinet requests travel as one word: rate, cabinet index, and whether only
// the cabinet is re-selected within the current rate's tables.
constexpr int cabinetIndexShift = 20;
constexpr int selectOnlyBit = 1 << 23;
constexpr int rateMask = (1 << cabinetIndexShift) - 1;

bool isSwitchOn (const juce::AudioParameterBool* p) { return p->get(); }
} // namespace

//==============================================================================
TolvekAudioProcessor::BusesProperties TolvekAudioProcessor::makeBuses()
{
    // The output bus is active by default: hosts that follow the declared
    // defaults would otherwise give the instrument no output channels at all.
    BusesProperties buses;
    // JUCE's LV2 host leaves the ports of an inactive bus unconnected, so the
    // LV2 build declares no input bus; the voices overwrite channel 0 anyway.
    if (juce::PluginHostType::getPluginLoadedAs() != juce::AudioProcessor::wrapperType_LV2)
        buses = buses.withInput ("Input", juce::AudioChannelSet::stereo(), false);
    return buses.withOutput ("Output", juce::AudioChannelSet::stereo(), true);
}

TolvekAudioProcessor::TolvekAudioProcessor() : TolvekAudioProcessor (true, {}) {}

TolvekAudioProcessor::TolvekAudioProcessor (const juce::String& sampleFolder) : TolvekAudioProcessor (false, sampleFolder) {}

TolvekAudioProcessor::TolvekAudioProcessor (bool readPathFile, const juce::String& sampleFolder)
    : juce::AudioProcessor (makeBuses())
{
    drive.setTubeCurves();
    if (readPathFile)
        SamplePath::read (samplePath);
    else
        setSampleFolderForThisInstance (sampleFolder);
    createParameters();
    addListener (this);
}

TolvekAudioProcessor::~TolvekAudioProcessor()
{
    removeListener (this);
    delete[] samples;
    delete[] table;
    delete[] tineSamples;
    delete[] tineTable;
    for (const auto& retired : retiredSets)
    {
        delete[] retired.first;
        delete[] retired.second;
    }
}

void TolvekAudioProcessor::createParameters()
{
    auto addFloat = [this] (juce::AudioParameterFloat*& member, const char* id, const char* name, float minimum, float maximum, float defaultValue)
    {
        member = new juce::AudioParameterFloat (juce::ParameterID { id, 1 }, name, minimum, maximum, defaultValue);
        addParameter (member);
    };
    auto addInt = [this] (juce::AudioParameterInt*& member, const char* id, const char* name, int maximum, int defaultValue)
    {
        member = new juce::AudioParameterInt (juce::ParameterID { id, 1 }, name, 0, maximum, defaultValue, juce::String());
        addParameter (member);
    };
    auto addBool = [this] (juce::AudioParameterBool*& member, const char* id, const char* name)
    {
        member = new juce::AudioParameterBool (juce::ParameterID { id, 1 }, name, false, juce::String());
        addParameter (member);
    };

    addFloat (attack, "attack", "Attack", 0.0f, 1.0f, 0.0f);
    addFloat (release, "release", "Release", 0.0f, 5.0f, 0.1f);
    addFloat (decay, "decay", "Decay", 0.0f, 1.0f, 0.0f);
    addFloat (sustain, "sustain", "Sustain", 0.0f, 1.0f, 1.0f);
    addFloat (tinemix, "tinemix", "Tine Mix", 0.0f, 1.0f, 0.0f);
    addFloat (low, "low", "Low", 0.1778f, 5.6234f, 1.0f);
    addFloat (mid, "mid", "Mid", 0.1778f, 5.6234f, 1.0f);
    addFloat (high, "high", "High", 0.1778f, 5.6234f, 1.0f);
    addFloat (tremspeed, "tremspeed", "Trem Speed", 0.0f, 1.0f, 0.5f);
    addFloat (tremapm, "tremapm", "Trem Amp", 0.0f, 1.0f, 0.5f);
    addFloat (drivegain, "drivegain", "Drive Gain", 1.0f, 50.0f, 1.0f);
    addFloat (reverbmix, "reverbmix", "Reverb Mix", 0.0f, 1.0f, 0.3f);
    addFloat (reverbrefecl, "reverbrefecl", "Reflection Fact.", 0.0f, 1.0f, 0.3f);
    addFloat (roomsize, "roomsize", "Room Size", 10.0f, 100.0f, 10.0f);
    addFloat (tail, "tail", "Reverb Tail", 0.0f, 1.0f, 0.2f);
    addFloat (chorusdelay, "chorusdelay", "Chorus Speed.", 0.3f, 8.0f, 3.0f);
    addFloat (chorusmix, "chorusmix", "Chorus Streng.", 0.1f, 1.0f, 0.5f);
    addFloat (mainout, "mainout", "Output Vol.", 0.0f, 5.0f, 1.0f);
    addInt (drivecab, "drivecab", "Cabinet", 5, 3);
    addInt (program, "program", "Program", 255, 0);
    addBool (choruson, "choruson", "Chorus");
    addBool (reverbon, "reverbon", "Reverb");
    addBool (eqon, "eqon", "EQ");
    addBool (tineon, "tineon", "Tine Octave Up");
    addBool (tremon, "tremon", "Trem");
    addBool (driveon, "driveon", "Drive");

    for (auto* p : getParameters())
        parameterList.push_back (dynamic_cast<juce::RangedAudioParameter*> (p));
    jassert ((int) parameterList.size() == numParameters);
}

juce::RangedAudioParameter* TolvekAudioProcessor::getParameterById (const juce::String& id) const
{
    for (auto* p : parameterList)
        if (p->paramID == id)
            return p;
    return nullptr;
}

float TolvekAudioProcessor::parameterValue (int index) const
{
    auto* p = parameterList[(size_t) index];
    if (auto* f = dynamic_cast<juce::AudioParameterFloat*> (p))
        return f->get();
    if (auto* i = dynamic_cast<juce::AudioParameterInt*> (p))
        return (float) i->get();
    if (auto* b = dynamic_cast<juce::AudioParameterBool*> (p))
        return b->get() ? 1.0f : 0.0f;
    return p->getValue();
}

//==============================================================================
const juce::String TolvekAudioProcessor::getName() const { return "Tolvek"; }
double TolvekAudioProcessor::getTailLengthSeconds() const { return 0.0; }
bool TolvekAudioProcessor::acceptsMidi() const { return true; }
bool TolvekAudioProcessor::producesMidi() const { return false; }
bool TolvekAudioProcessor::isMidiEffect() const { return false; }
bool TolvekAudioProcessor::hasEditor() const { return true; }
juce::AudioProcessorEditor* TolvekAudioProcessor::createEditor() { return new TolvekAudioProcessorEditor (*this); }
int TolvekAudioProcessor::getNumPrograms() { return 1; }
int TolvekAudioProcessor::getCurrentProgram() { return 0; }
void TolvekAudioProcessor::setCurrentProgram (int) {}
const juce::String TolvekAudioProcessor::getProgramName (int) { return {}; }
void TolvekAudioProcessor::changeProgramName (int, const juce::String&) {}
void TolvekAudioProcessor::audioProcessorChanged (juce::AudioProcessor*, const juce::AudioProcessorListener::ChangeDetails&) {}

//==============================================================================
void TolvekAudioProcessor::prepareToPlay (double, int)
{
    reset();
    keyboardState.reset();
}

void TolvekAudioProcessor::releaseResources()
{
    keyboardState.reset();
}

int TolvekAudioProcessor::currentRateHz() const
{
    return (int) getSampleRate();
}

void TolvekAudioProcessor::reset()
{
    {
        // Hosts hold the callback lock while they process, so the audio state is
        // never rewritten under a running block. Disk work happens after it.
        const juce::ScopedLock processingLock (getCallbackLock());

        eqInitRequest.store (0);
        cabinetRequest.store (noCabinetRequest);
        tubeCurvesRequest.store (false);

        engine.reset();
        sampleRateHz = currentRateHz();
        equaliser.init (sampleRateHz);
        drive.setTubeCurves();
        drive.updateCabinet (drivecab->get(), sampleRateHz);
    }
    selectSetForProgram();
}

void TolvekAudioProcessor::selectSetForProgram()
{
    const int position = program->get();
    const juce::StringArray sets = SamplePath::listSets (getSampleFolder());
    if (position >= 0 && position < sets.size())
        loadSamples (sets[position], &tableSize, &samples, &table);
}

//==============================================================================
bool TolvekAudioProcessor::onAudioThread() const
{
    return audioThread.load() == std::this_thread::get_id();
}

void TolvekAudioProcessor::setTubeCurves()
{
    if (onAudioThread())
        drive.setTubeCurves();
    else
        tubeCurvesRequest.store (true);
}

void TolvekAudioProcessor::updateCabinet()
{
    const int cabinet = drivecab->get();
    if (cabinet < 1)
        return;
    const int rate = currentRateHz();
    if (onAudioThread())
        drive.updateCabinet (cabinet, rate);
    else
        cabinetRequest.store ((rate & rateMask) | ((cabinet - 1) << cabinetIndexShift));
}

void TolvekAudioProcessor::selectCabinet (int cabinetIndex)
{
    if (cabinetIndex < 0 || cabinetIndex > 4)
        return;
    if (onAudioThread())
        drive.cabinetFilter.selectCabinet (cabinetIndex);
    else
        cabinetRequest.store (selectOnlyBit | (cabinetIndex << cabinetIndexShift));
}

void TolvekAudioProcessor::audioProcessorParameterChanged (juce::AudioProcessor*, int parameterIndex, float)
{
    if (announcingRestoredValues || parameterIndex < 0 || parameterIndex >= (int) parameterList.size())
        return;
    const juce::String& id = parameterList[(size_t) parameterIndex]->paramID;
    if (id == "drivecab")
    {
        updateCabinet();
    }
    else if (id == "eqon")
    {
        const int rate = currentRateHz();
        if (onAudioThread())
            equaliser.init (rate);
        else
            eqInitRequest.store (rate > 0 ? rate : -1);
    }
}

void TolvekAudioProcessor::applyPendingChanges()
{
    const int view = pendingView.exchange (-1);
    if (view >= 0)
    {
        audioView = publishedViews[view];
        engine.deactivateAll();
        setSwapCount.fetch_add (1);
    }

    const int eqRate = eqInitRequest.exchange (0);
    if (eqRate != 0)
        equaliser.init (eqRate);

    if (tubeCurvesRequest.exchange (false))
        drive.setTubeCurves();

    const int cabinet = cabinetRequest.exchange (noCabinetRequest);
    if (cabinet != noCabinetRequest)
    {
        const int index = (cabinet >> cabinetIndexShift) & 7;
        if ((cabinet & selectOnlyBit) != 0)
            drive.cabinetFilter.selectCabinet (index);
        else
            drive.cabinetFilter.init (cabinet & rateMask, index);
    }
}

//==============================================================================
void TolvekAudioProcessor::loadSamples (juce::String fileName, short* zoneCount, const short** samplesOut, const tableDataType** tableOut)
{
    const std::lock_guard<std::recursive_mutex> lock (loaderMutex);
    ++loaderDepth;
    loadSamplesLocked (fileName, zoneCount, samplesOut, tableOut);
    --loaderDepth;
    if (loaderDepth == 0 && setsChanged)
    {
        setsChanged = false;
        publishSets();
    }
}

void TolvekAudioProcessor::loadSamplesLocked (const juce::String& fileName, short* zoneCount, const short** samplesOut, const tableDataType** tableOut)
{
    if (fileName == loadedSetName)
        return;
    loadedSetName = fileName;
    setsChanged = true;   // every voice stops when the audio thread takes the new sets

    // The old buffers may still be read by a running block: they are released
    // once the audio thread has moved on (publishSets).
    if (*samplesOut != nullptr)
    {
        retiredSets.emplace_back (*samplesOut, *tableOut);
        *zoneCount = 0;
        *samplesOut = nullptr;
        *tableOut = nullptr;
    }

    if (fileName.isEmpty())
        return;
    const juce::File file = getSampleFolder().getChildFile (fileName);

    SetFileReader reader;
    if (! reader.open (file.getFullPathName().toRawUTF8()))
        return;

    SetFileHeader header;
    if (! reader.readHeader (header))
        return;

    setKind = (short) header.kind;
    if (header.kind == 2)
    {
        loadSamplesLocked (tineSetName, &tineTableSize, &tineSamples, &tineTable);
        setKind = 2;
    }

    DecodedSet decoded;
    if (reader.decode (header, decoded) != SetDecodeStatus::ok)
        return;

    *zoneCount = decoded.zoneCount;
    *samplesOut = decoded.samples.release();
    *tableOut = decoded.table.release();
}

void TolvekAudioProcessor::publishSets()
{
    const int slot = nextViewSlot;
    nextViewSlot ^= 1;

    SetView& view = publishedViews[slot];
    view.samples = samples;
    view.table = table;
    view.tableSize = tableSize;
    view.tineSamples = tineSamples;
    view.tineTable = tineTable;
    view.tineTableSize = tineTableSize;
    view.setKind = setKind;
    pendingView.store (slot);

    if (retiredSets.empty())
        return;

    // A block that started before the view was published may still read the old
    // buffers; any later block takes the new view before it reads anything.
    const uint32_t epoch = audioEpoch.load();
    if ((epoch & 1u) != 0)
    {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds (2);
        while (audioEpoch.load() == epoch)
        {
            if (std::chrono::steady_clock::now() > giveUp)
                return;   // a stalled block: keep the old buffers rather than free them under it
            std::this_thread::sleep_for (std::chrono::microseconds (200));
        }
    }

    for (const auto& retired : retiredSets)
    {
        delete[] retired.first;
        delete[] retired.second;
    }
    retiredSets.clear();
}

bool TolvekAudioProcessor::chooseSampleFolder (const juce::String& folderPath)
{
    return SamplePath::choose (samplePath, folderPath);
}

bool TolvekAudioProcessor::setSampleFolderForThisInstance (const juce::String& folderPath)
{
    return SamplePath::set (samplePath, folderPath);
}

//==============================================================================
void TolvekAudioProcessor::setProgramFromMidi (int programNumber)
{
    // Assigning notifies the host and listeners, and only when the value changes.
    *program = programNumber;
}

void TolvekAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    juce::ScopedNoDenormals noDenormals;
    audioThread.store (std::this_thread::get_id());
    audioEpoch.fetch_add (1);   // odd: a block is running

    applyPendingChanges();

    const int numSamples = buffer.getNumSamples();
    const int numInputs = getTotalNumInputChannels();
    const int numOutputs = getTotalNumOutputChannels();
    for (int channel = numInputs; channel < numOutputs; ++channel)
        if (channel < buffer.getNumChannels())
            buffer.clear (channel, 0, numSamples);

    keyboardState.processNextMidiBuffer (midi, 0, numSamples, true);

    // Parameters are read once per block: hosts change them between blocks, and
    // the output equals reading them at every sample for values held over a block.
    VoiceParams voiceParams;
    voiceParams.attack = attack->get();
    voiceParams.release = release->get();
    voiceParams.decay = decay->get();
    voiceParams.sustain = sustain->get();
    voiceParams.tinemix = tinemix->get();
    voiceParams.tremspeed = tremspeed->get();
    voiceParams.tremapm = tremapm->get();
    voiceParams.tineon = isSwitchOn (tineon);
    voiceParams.tremon = isSwitchOn (tremon);

    for (const auto metadata : midi)
    {
        const int programNumber = engine.handleMidi (metadata.data, metadata.numBytes, audioView, voiceParams, sampleRateHz);
        if (programNumber >= 0)
            setProgramFromMidi (programNumber);
    }

    float* channel0 = buffer.getNumChannels() > 0 ? buffer.getWritePointer (0) : nullptr;
    for (int offset = 0; offset < numSamples; offset += maxSliceLength)
    {
        const int n = juce::jmin (maxSliceLength, numSamples - offset);
        renderSlice (channel0 != nullptr ? channel0 + offset : silentOutput, n, voiceParams);
    }

    if (numOutputs == 2 && buffer.getNumChannels() >= 2)
        buffer.copyFrom (1, 0, buffer, 0, 0, numSamples);

    audioEpoch.fetch_add (1);   // even: no block running
}

void TolvekAudioProcessor::renderSlice (float* x, int n, const VoiceParams& voiceParams)
{
    engine.render (x, n, audioView, voiceParams, sampleRateHz);

    drive.process (x, n, isSwitchOn (driveon), drivegain->get(), drivecab->get());
    equaliser.process (x, n, isSwitchOn (eqon), low->get(), mid->get(), high->get());
    chorus.process (x, n, isSwitchOn (choruson), chorusdelay->get(), chorusmix->get(), getSampleRate());
    reverb.process (x, n, isSwitchOn (reverbon), reverbrefecl->get(), reverbmix->get(), tail->get(), roomsize->get(), sampleRateHz);

    const float volume = mainout->get();
    for (int i = 0; i < n; ++i)
        x[i] *= volume;
}

//==============================================================================
void TolvekAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    juce::XmlElement xml (stateTag);
    for (auto* p : parameterList)
        xml.setAttribute (juce::Identifier (p->paramID), (double) p->getValue());
    destData.reset();
    copyXmlToBinary (xml, destData);
}

void TolvekAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes < 9)
        return;

    const auto* bytes = static_cast<const uint8_t*> (data);
    if (std::memcmp (bytes, "VC2!", 4) != 0)
        return;

    const int32_t declaredLength = (int32_t) juce::ByteOrder::littleEndianInt (bytes + 4);
    if (declaredLength <= 0)
        return;

    const int textLength = juce::jmin ((int) declaredLength, sizeInBytes - 8);
    const char* textStart = reinterpret_cast<const char*> (bytes + 8);
    // Bytes that are no UTF-8 cannot be parsed safely: such a block is unparsable.
    if (bytes[8] != 0 && ! juce::CharPointer_UTF8::isValidString (textStart, textLength))
        return;
    const juce::String text = bytes[8] == 0 ? juce::String() : juce::String::fromUTF8 (textStart, textLength);

    const std::unique_ptr<juce::XmlElement> xml = juce::parseXML (text);
    if (xml == nullptr)
        return;

    std::vector<float> before;
    const bool tagMatches = xml->getTagName().equalsIgnoreCase (stateTag);
    if (tagMatches)
    {
        for (auto* p : parameterList)
        {
            before.push_back (p->getValue());
            const juce::Identifier id (p->paramID);
            float value = xml->hasAttribute (id) ? (float) xml->getDoubleAttribute (id) : p->getValue();
            // "nan" or "inf" would pass the framework's clamp and poison the effect
            // lines for good; they count as no number. Switches do not clamp at all.
            value = std::isfinite (value) ? juce::jlimit (0.0f, 1.0f, value) : 0.0f;
            p->setValue (value);   // nobody is told: the editor's poll picks it up
        }
    }
    reset();

    // VST3 hosts read the values back after a restore. The LV2 wrapper learns
    // values only from change messages, so there the changed ones are announced,
    // once the restore is complete; the processor's own listener ignores them.
    if (tagMatches && wrapperType == wrapperType_LV2)
    {
        const juce::ScopedValueSetter<bool> announcing (announcingRestoredValues, true);
        for (size_t i = 0; i < parameterList.size(); ++i)
            if (parameterList[i]->getValue() != before[i])
                parameterList[i]->sendValueChangedMessageToListeners (parameterList[i]->getValue());
    }
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new TolvekAudioProcessor();
}
