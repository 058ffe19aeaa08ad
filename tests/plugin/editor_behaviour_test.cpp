// What the editor's controls do: parameters, the set list, the cabinet and
// drive actions, the poll, and the sample-folder chooser with its path file.
#include "editor_fixtures.h"

#include "dsp/TubeTables.h"

using namespace editortest;

namespace
{
// Records what the host is told: value changes and gestures.
struct HostSpy : juce::AudioProcessorListener
{
    void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float value) override
    {
        changes.push_back ({ index, value });
    }
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
    void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int) override { ++gestures; }
    void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int) override { ++gestures; }

    std::vector<std::pair<int, float>> changes;
    int gestures = 0;
};

int indexOf (TolvekAudioProcessor& p, const juce::String& id)
{
    const auto& parameters = p.getParameters();
    for (int i = 0; i < parameters.size(); ++i)
        if (dynamic_cast<juce::RangedAudioParameter*> (parameters[i])->paramID == id)
            return i;
    return -1;
}

void unloadSet (TolvekAudioProcessor& p)
{
    p.loadSamples ({}, &p.tableSize, &p.samples, &p.table);
}
} // namespace

TEST (EditorBehaviour, MovingASliderSetsItsParameterWithoutGestures)
{
    TemporaryHome home;
    SetFolder sets;
    EditorRig rig (sets.folder);
    rig.open();
    HostSpy spy;
    rig.processor->addListener (&spy);

    auto* slider = rig.control<juce::Slider> ("roomsize");
    slider->setValue (42.5, juce::sendNotificationSync);
    EXPECT_NEAR (rig.processor->roomsize->get(), 42.5f, 0.006f);   // the parameter's own grid applies
    ASSERT_EQ (spy.changes.size(), (size_t) 1);
    EXPECT_EQ (spy.changes[0].first, indexOf (*rig.processor, "roomsize"));
    EXPECT_FLOAT_EQ (spy.changes[0].second, rig.processor->roomsize->convertTo0to1 (42.5f));

    // The parameter's own value again tells nobody.
    slider->setValue (rig.processor->roomsize->get(), juce::dontSendNotification);
    rig.editor->sliderValueChanged (slider);
    EXPECT_EQ (spy.changes.size(), (size_t) 1);
    EXPECT_EQ (spy.gestures, 0);
    rig.processor->removeListener (&spy);
}

TEST (EditorBehaviour, ClickingAToggleSetsItsSwitch)
{
    TemporaryHome home;
    SetFolder sets;
    EditorRig rig (sets.folder);
    rig.open();
    auto* button = rig.control<juce::Button> ("reverbon");
    ASSERT_FALSE (rig.processor->reverbon->get());
    button->triggerClick();
    pumpUntil ([&] { return rig.processor->reverbon->get(); });
    EXPECT_TRUE (rig.processor->reverbon->get());
    EXPECT_TRUE (button->getToggleState());
    button->triggerClick();
    pumpUntil ([&] { return ! rig.processor->reverbon->get(); });
    EXPECT_FALSE (rig.processor->reverbon->get());
}

TEST (EditorBehaviour, ChoosingACabinetSelectsItInTheDriveStage)
{
    TemporaryHome home;
    SetFolder sets;
    EditorRig rig (sets.folder);
    rig.hostSets (rig.processor->drivecab, 1.0f);
    rig.processor->prepareToPlay (44100.0, 256);
    rig.open();
    rig.processOneBlock();
    ASSERT_EQ (rig.processor->drive.cabinetFilter.cabinetIndex, 0);

    auto* box = rig.control<juce::ComboBox> ("drivecab");
    box->setSelectedItemIndex (3, juce::sendNotificationAsync);   // "cab3", as a user picks it
    ASSERT_TRUE (pumpUntil ([&] { return rig.processor->drivecab->get() == 3; }));
    EXPECT_EQ (box->getText(), "cab3");
    rig.processOneBlock();
    EXPECT_EQ (rig.processor->drive.cabinetFilter.cabinetIndex, 2);

    // "NoCab" only sets the parameter: the cabinet filter stays as it was.
    box->setSelectedItemIndex (0, juce::sendNotificationAsync);
    ASSERT_TRUE (pumpUntil ([&] { return rig.processor->drivecab->get() == 0; }));
    rig.processOneBlock();
    EXPECT_EQ (rig.processor->drive.cabinetFilter.cabinetIndex, 2);
}

TEST (EditorBehaviour, SwitchingDriveOnSetsCurvesAndCabinet)
{
    TemporaryHome home;
    SetFolder sets;
    EditorRig rig (sets.folder);
    rig.hostSets (rig.processor->drivecab, 4.0f);
    rig.open();
    rig.processOneBlock();   // takes over what opening the editor asked for

    auto& drive = rig.processor->drive;
    auto spoil = [&]
    {
        drive.preampCurve = TubeCurve {};
        drive.powerCurve = TubeCurve {};
        drive.cabinetFilter.selectCabinet (0);
    };

    spoil();
    auto* button = rig.control<juce::Button> ("driveon");
    button->triggerClick();
    ASSERT_TRUE (pumpUntil ([&] { return rig.processor->driveon->get(); }));
    rig.processOneBlock();
    EXPECT_EQ (drive.preampCurve.values, ecc_vo);
    EXPECT_EQ (drive.powerCurve.values, el_vo);
    EXPECT_EQ (drive.cabinetFilter.cabinetIndex, 3);

    // Off only changes the parameter.
    spoil();
    button->triggerClick();
    ASSERT_TRUE (pumpUntil ([&] { return ! rig.processor->driveon->get(); }));
    rig.processOneBlock();
    EXPECT_EQ (drive.preampCurve.values, nullptr);
    EXPECT_EQ (drive.powerCurve.values, nullptr);
    EXPECT_EQ (drive.cabinetFilter.cabinetIndex, 0);
}

TEST (EditorBehaviour, OpeningLoadsTheSetAtProgram)
{
    TemporaryHome home;
    SetFolder sets { "one.rks", "two.rks", "three.rks" };
    EditorRig rig (sets.folder);
    unloadSet (*rig.processor);
    rig.open();
    ASSERT_TRUE (pumpUntil ([&] { return rig.processor->loadedSetName.isNotEmpty(); }));
    EXPECT_EQ (rig.processor->loadedSetName, sets.listed()[0]);
    EXPECT_GT (rig.processor->tableSize, 0);
}

TEST (EditorBehaviour, PollFollowsHostChanges)
{
    TemporaryHome home;
    SetFolder sets { "one.rks", "two.rks", "three.rks" };
    EditorRig rig (sets.folder);
    rig.open();
    const juce::StringArray listed = sets.listed();
    ASSERT_TRUE (pumpUntil ([&] { return rig.processor->loadedSetName == listed[0]; }));

    // A host change of program moves the list, which loads that set.
    rig.hostSets (rig.processor->program, 2.0f);
    ASSERT_TRUE (pumpUntil ([&] { return rig.processor->loadedSetName == listed[2]; }));
    EXPECT_EQ (rig.editor->sampleSetBox->getSelectedItemIndex(), 2);

    // Past the end of the list nothing changes in the editor.
    rig.hostSets (rig.processor->program, 7.0f);
    pump (120);
    EXPECT_EQ (rig.editor->sampleSetBox->getSelectedItemIndex(), 2);
    EXPECT_EQ (rig.processor->loadedSetName, listed[2]);

    // Sliders and switches follow without writing back.
    HostSpy spy;
    rig.processor->addListener (&spy);
    setQuietly (rig.processor->tail, rig.processor->tail->convertTo0to1 (0.75f));
    setQuietly (rig.processor->tremon, 1.0f);
    ASSERT_TRUE (pumpUntil ([&] { return rig.control<juce::Button> ("tremon")->getToggleState(); }));
    ASSERT_TRUE (pumpUntil ([&] { return rig.control<juce::Slider> ("tail")->getValue() == (double) rig.processor->tail->get(); }));
    EXPECT_NEAR (rig.processor->tail->get(), 0.75f, 1e-5f);
    pump (50);
    EXPECT_TRUE (spy.changes.empty());
    rig.processor->removeListener (&spy);

    // A host change of the cabinet reaches the drive stage through the list.
    rig.hostSets (rig.processor->drivecab, 5.0f);
    ASSERT_TRUE (pumpUntil ([&] { return rig.control<juce::ComboBox> ("drivecab")->getText() == "cab5"; }));
    pump (20);
    rig.processOneBlock();
    EXPECT_EQ (rig.processor->drive.cabinetFilter.cabinetIndex, 4);
}

TEST (EditorBehaviour, PickingASetLoadsItAndSetsProgram)
{
    TemporaryHome home;
    SetFolder sets { "one.rks", "two.rks", "three.rks" };
    EditorRig rig (sets.folder);
    rig.open();
    const juce::StringArray listed = sets.listed();
    rig.editor->sampleSetBox->setSelectedItemIndex (1, juce::sendNotificationAsync);
    ASSERT_TRUE (pumpUntil ([&] { return rig.processor->loadedSetName == listed[1]; }));
    EXPECT_EQ (rig.processor->program->get(), 1);
}

//==============================================================================
namespace
{
class EditorFolder : public ::testing::Test
{
protected:
    TemporaryHome home;
};

juce::MemoryBlock readAll (const juce::File& file)
{
    juce::MemoryBlock bytes;
    file.loadFileAsData (bytes);
    return bytes;
}
} // namespace

TEST_F (EditorFolder, ChosenFolderIsStoredInTheOneKilobytePathFile)
{
    SetFolder first { "old.rks" };
    SetFolder chosen ({ "x.rks", "y.rks" }, juce::String::fromUTF8 (u8"Klänge für Tölvek ✓"));
    EditorRig rig (first.folder);
    rig.hostSets (rig.processor->program, 1.0f);
    rig.open();

    rig.editor->sampleFolderChosen (chosen.folder);

    const juce::String path = chosen.folder.getFullPathName();
    const juce::MemoryBlock bytes = readAll (home.pathFile());
    ASSERT_EQ (bytes.getSize(), (size_t) 1024);
    const size_t length = std::strlen (path.toRawUTF8());
    EXPECT_EQ (std::memcmp (bytes.getData(), path.toRawUTF8(), length), 0);
    EXPECT_EQ (static_cast<const char*> (bytes.getData())[length], 0);
    EXPECT_EQ (std::memcmp (bytes.getData(), rig.processor->samplePath, 1024), 0);

    // The button shows the path unchanged, the list the new folder's sets with
    // program's item selected, and that set is loaded at once.
    EXPECT_EQ (rig.editor->sampleFolderButton.getButtonText(), path);
    const juce::StringArray listed = chosen.listed();
    ASSERT_EQ (rig.editor->sampleSetBox->getNumItems(), 2);
    EXPECT_EQ (rig.editor->sampleSetBox->getItemText (0), listed[0]);
    EXPECT_EQ (rig.editor->sampleSetBox->getSelectedItemIndex(), 1);
    EXPECT_EQ (rig.processor->loadedSetName, listed[1]);
    pump (50);
    EXPECT_EQ (rig.processor->loadedSetName, listed[1]);

    // The next processor reads the folder back.
    const auto next = std::make_unique<TolvekAudioProcessor>();
    EXPECT_EQ (SamplePath::text (next->samplePath), path);
}

TEST_F (EditorFolder, CancelledChooserStillRefreshesAndLoads)
{
    SetFolder sets { "a.rks", "b.rks" };
    EditorRig rig (sets.folder);
    rig.open();
    pump (50);
    unloadSet (*rig.processor);

    rig.editor->sampleFolderChosen (juce::File());
    EXPECT_FALSE (home.pathFile().exists());
    EXPECT_EQ (rig.editor->sampleFolderButton.getButtonText(), sets.folder.getFullPathName());
    EXPECT_EQ (rig.processor->loadedSetName, sets.listed()[0]);
}

TEST_F (EditorFolder, EmptyFolderChosenResetsProgramAndUnloads)
{
    SetFolder sets { "a.rks", "b.rks" };
    SetFolder empty;
    EditorRig rig (sets.folder);
    rig.hostSets (rig.processor->program, 1.0f);
    rig.open();
    ASSERT_TRUE (pumpUntil ([&] { return rig.processor->loadedSetName == sets.listed()[1]; }));

    rig.editor->sampleFolderChosen (empty.folder);
    EXPECT_EQ (rig.editor->sampleSetBox->getNumItems(), 0);
    EXPECT_EQ (rig.processor->program->get(), 0);
    EXPECT_TRUE (rig.processor->loadedSetName.isEmpty());
    EXPECT_EQ (rig.processor->tableSize, 0);
}

TEST_F (EditorFolder, TooLongAPathIsRefused)
{
    SetFolder sets { "a.rks" };
    EditorRig rig (sets.folder);
    rig.open();
    const juce::File tooLong = sets.folder.getChildFile (juce::String::repeatedString ("d", 1100));
    rig.editor->sampleFolderChosen (tooLong);
    EXPECT_EQ (SamplePath::text (rig.processor->samplePath), sets.folder.getFullPathName());
    EXPECT_EQ (rig.editor->sampleFolderButton.getButtonText(), sets.folder.getFullPathName());
    EXPECT_FALSE (home.pathFile().exists());
}

namespace
{
template <typename Type>
Type* findChild (juce::Component& parent)
{
    for (auto* child : parent.getChildren())
    {
        if (auto* found = dynamic_cast<Type*> (child))
            return found;
        if (auto* found = findChild<Type> (*child))
            return found;
    }
    return nullptr;
}

juce::FileChooserDialogBox* openDialog()
{
    auto& desktop = juce::Desktop::getInstance();
    for (int i = 0; i < desktop.getNumComponents(); ++i)
        if (auto* dialog = dynamic_cast<juce::FileChooserDialogBox*> (desktop.getComponent (i)))
            return dialog;
    return nullptr;
}
} // namespace

// The whole click: the framework's own dialog (no native one is installed
// here), closed with a folder and cancelled.
TEST_F (EditorFolder, FolderButtonRunsTheChooserAsynchronously)
{
    SetFolder sets { "a.rks" };
    SetFolder chosen { "c.rks" };
    EditorRig rig (sets.folder);
    rig.open();
    auto& editor = *rig.editor;

    editor.sampleFolderButton.triggerClick();
    if (! pumpUntil ([] { return openDialog() != nullptr; }, 3000))
        GTEST_SKIP() << "no framework dialog: a native chooser is in use";
    EXPECT_NE (editor.folderChooser, nullptr);
    juce::FileChooserDialogBox* dialog = openDialog();
    auto* browser = findChild<juce::FileBrowserComponent> (*dialog);
    ASSERT_NE (browser, nullptr);
    browser->setRoot (chosen.folder);
    browser->setFileName ({});   // nothing typed: the folder itself is chosen
    pump (50);
    dialog->exitModalState (1);
    ASSERT_TRUE (pumpUntil ([&] { return editor.sampleFolderButton.getButtonText() == chosen.folder.getFullPathName(); }));
    EXPECT_EQ (readAll (home.pathFile()).getSize(), (size_t) 1024);
    EXPECT_EQ (editor.sampleSetBox->getItemText (0), "c.rks");
    EXPECT_EQ (rig.processor->loadedSetName, "c.rks");

    // Cancelled: the same refresh from the unchanged folder.
    unloadSet (*rig.processor);
    editor.sampleFolderButton.triggerClick();
    ASSERT_TRUE (pumpUntil ([] { return openDialog() != nullptr; }, 3000));
    juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
    ASSERT_TRUE (pumpUntil ([&] { return rig.processor->loadedSetName == "c.rks"; }));

    // Closing the editor with the dialog still open is safe.
    editor.sampleFolderButton.triggerClick();
    ASSERT_TRUE (pumpUntil ([] { return openDialog() != nullptr; }, 3000));
    rig.editor.reset();
    pump (50);
    EXPECT_EQ (openDialog(), nullptr);
}
