#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include "WindowManagerAtoms.h"

int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);
    const WindowManagerAtoms windowManagerAtoms;
    // The framework (message manager, fonts) must be up before any processor exists.
    juce::ScopedJuceInitialiser_GUI framework;
    return RUN_ALL_TESTS();
}
