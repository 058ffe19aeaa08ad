// The embedded images and the knob's two vector shapes.
#include <gtest/gtest.h>

#include "PluginArtwork.h"
#include "PluginEditorShapes.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cmath>

namespace
{
struct ImageCase
{
    const char* file;
    const char* data;
    int size;
    int width, height;
};

std::vector<ImageCase> imageCases()
{
    return {
        { "name.png", resource_keyGuiComponent_name_png, resource_keyGuiComponent_name_pngSize, 459, 73 },
        { "quarm.png", resource_keyGuiComponent_quarm_png, resource_keyGuiComponent_quarm_pngSize, 71, 29 },
        { "buttonOff.png", resource_keyGuiComponent_buttonOff_png, resource_keyGuiComponent_buttonOff_pngSize, 50, 50 },
        { "buttonOn.png", resource_keyGuiComponent_buttonOn_png, resource_keyGuiComponent_buttonOn_pngSize, 50, 50 },
        { "vsb.png", resource_keyGuiComponent_vsb_png, resource_keyGuiComponent_vsb_pngSize, 57, 102 },
    };
}

juce::Image decode (const ImageCase& c) { return juce::ImageCache::getFromMemory (c.data, c.size); }

struct PathCounts
{
    int moves = 0, lines = 0, quadratics = 0, cubics = 0, closes = 0;
};

PathCounts countCommands (const juce::Path& path)
{
    PathCounts counts;
    juce::Path::Iterator it (path);
    while (it.next())
    {
        switch (it.elementType)
        {
            case juce::Path::Iterator::startNewSubPath: ++counts.moves; break;
            case juce::Path::Iterator::lineTo: ++counts.lines; break;
            case juce::Path::Iterator::quadraticTo: ++counts.quadratics; break;
            case juce::Path::Iterator::cubicTo: ++counts.cubics; break;
            case juce::Path::Iterator::closePath: ++counts.closes; break;
        }
    }
    return counts;
}
} // namespace

TEST (EditorArtwork, ImagesDecodeToTheirSizesWithAlpha)
{
    for (const auto& c : imageCases())
    {
        SCOPED_TRACE (c.file);
        const juce::Image image = decode (c);
        ASSERT_TRUE (image.isValid());
        EXPECT_EQ (image.getWidth(), c.width);
        EXPECT_EQ (image.getHeight(), c.height);
        EXPECT_TRUE (image.hasAlphaChannel());
    }
}

TEST (EditorArtwork, CommittedFilesAreEightBitRgbaNotInterlaced)
{
    for (const auto& c : imageCases())
    {
        SCOPED_TRACE (c.file);
        const juce::File file = juce::File (TOLVEK_SOURCE_DIR).getChildFile ("Resources").getChildFile (c.file);
        juce::MemoryBlock bytes;
        ASSERT_TRUE (file.loadFileAsData (bytes));
        // The embedded block is the file itself.
        ASSERT_EQ ((int) bytes.getSize(), c.size);
        EXPECT_EQ (std::memcmp (bytes.getData(), c.data, bytes.getSize()), 0);

        const auto* b = static_cast<const unsigned char*> (bytes.getData());
        ASSERT_GE (bytes.getSize(), (size_t) 29);
        EXPECT_EQ (std::memcmp (b + 12, "IHDR", 4), 0);
        EXPECT_EQ ((int) juce::ByteOrder::bigEndianInt (b + 16), c.width);
        EXPECT_EQ ((int) juce::ByteOrder::bigEndianInt (b + 20), c.height);
        EXPECT_EQ (b[24], 8);   // bit depth
        EXPECT_EQ (b[25], 6);   // truecolour with alpha
        EXPECT_EQ (b[28], 0);   // not interlaced
    }
}

TEST (EditorArtwork, ButtonFacesDifferOnlyInTheLamp)
{
    const auto cases = imageCases();
    const juce::Image off = decode (cases[2]);
    const juce::Image on = decode (cases[3]);
    ASSERT_TRUE (off.isValid() && on.isValid());

    // The lamp sits in the top band's centre; everything else is the same face.
    const juce::Rectangle<int> lampArea (18, 2, 15, 14);
    int lampDifferences = 0;
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 50; ++x)
        {
            const juce::Colour a = off.getPixelAt (x, y);
            const juce::Colour b = on.getPixelAt (x, y);
            const bool same = a.getARGB() == b.getARGB();
            if (lampArea.contains (x, y))
                lampDifferences += same ? 0 : 1;
            else
                ASSERT_TRUE (same) << "at " << x << ", " << y;
        }
    EXPECT_GT (lampDifferences, 20);

    // Lit: orange; unlit: near black.
    const juce::Colour lit = on.getPixelAt (25, 9);
    const juce::Colour dark = off.getPixelAt (26, 10);
    EXPECT_GT (lit.getRed(), 170);
    EXPECT_GT (lit.getRed(), lit.getBlue() + 60);
    EXPECT_LT (dark.getRed() + dark.getGreen() + dark.getBlue(), 120);
}

TEST (EditorArtwork, FaderCapIsOpaqueWithABrightIndexLine)
{
    const juce::Image cap = decode (imageCases()[4]);
    int brightestRow = -1;
    float brightest = 0.0f;
    for (int y = 0; y < cap.getHeight(); ++y)
    {
        for (int x = 0; x < cap.getWidth(); ++x)
            ASSERT_EQ (cap.getPixelAt (x, y).getAlpha(), 255);
        const float b = cap.getPixelAt (28, y).getBrightness();
        if (b > brightest)
        {
            brightest = b;
            brightestRow = y;
        }
    }
    EXPECT_NEAR (brightestRow, 50, 1);
    EXPECT_GT (brightest, 0.9f);
}

TEST (EditorArtwork, KnobBodyIsOneClosedOutlineOfCubics)
{
    EXPECT_EQ (sizeof (pathData), (size_t) 564);
    EXPECT_EQ (pathData[0], 'n');
    EXPECT_EQ (pathData[1], 'm');
    EXPECT_EQ (pathData[560], 'c');
    EXPECT_EQ (pathData[561], 'e');

    juce::Path body;
    body.loadPathFromData (pathData, sizeof (pathData));
    EXPECT_TRUE (body.isUsingNonZeroWinding());

    const PathCounts counts = countCommands (body);
    EXPECT_EQ (counts.moves, 1);
    EXPECT_EQ (counts.cubics, 22);
    EXPECT_EQ (counts.closes, 1);
    EXPECT_EQ (counts.lines + counts.quadratics, 0);

    const auto bounds = body.getBounds();
    EXPECT_NEAR (bounds.getX(), 31.5f, 1e-4f);
    EXPECT_NEAR (bounds.getY(), 37.58f, 1e-4f);
    EXPECT_NEAR (bounds.getRight(), 109.4f, 1e-4f);
    EXPECT_NEAR (bounds.getBottom(), 114.3f, 1e-4f);
}

TEST (EditorArtwork, KnobBodyHasEightLobesBetweenNotches)
{
    juce::Path body;
    body.loadPathFromData (pathData, sizeof (pathData));
    const juce::Point<float> centre (72.4f, 76.9f);

    // Radius round the outline, finely sampled: eight maxima (lobes).
    juce::Path flat;
    flat.addPath (body);
    std::vector<float> radii;
    const float length = flat.getLength();
    for (int i = 0; i < 720; ++i)
        radii.push_back (flat.getPointAlongPath (length * (float) i / 720.0f).getDistanceFrom (centre));

    int lobes = 0;
    float smallest = 1e9f, largest = 0.0f;
    const int n = (int) radii.size();
    for (int i = 0; i < n; ++i)
    {
        smallest = std::min (smallest, radii[(size_t) i]);
        largest = std::max (largest, radii[(size_t) i]);
        // A lobe spans 45 degrees (90 samples): look 10 degrees each way.
        const float before = radii[(size_t) ((i + n - 20) % n)];
        const float after = radii[(size_t) ((i + 20) % n)];
        bool isPeak = radii[(size_t) i] > before + 0.5f && radii[(size_t) i] > after + 0.5f;
        for (int k = 1; k <= 20 && isPeak; ++k)
            isPeak = radii[(size_t) i] >= radii[(size_t) ((i + k) % n)] && radii[(size_t) i] >= radii[(size_t) ((i + n - k) % n)];
        lobes += isPeak ? 1 : 0;
    }
    EXPECT_EQ (lobes, 8);
    EXPECT_GT (largest, 36.0f);
    EXPECT_LT (largest, 42.0f);
    EXPECT_GT (smallest, 31.0f);
    EXPECT_LT (smallest, 35.0f);
}

TEST (EditorArtwork, RingIsACircleTracedInSteps)
{
    EXPECT_EQ (sizeof (pathCircle), (size_t) 1165);
    EXPECT_EQ (pathCircle[0], 'n');
    EXPECT_EQ (pathCircle[1162], 'e');

    juce::Path ring;
    ring.loadPathFromData (pathCircle, sizeof (pathCircle));
    EXPECT_TRUE (ring.isUsingNonZeroWinding());

    const PathCounts counts = countCommands (ring);
    EXPECT_EQ (counts.moves, 1);
    EXPECT_EQ (counts.lines, 128);
    EXPECT_EQ (counts.closes + counts.cubics + counts.quadratics, 0);

    // Recompute every point: the top point, 127 steps of 0.05 rad, the top again.
    juce::Path::Iterator it (ring);
    int index = 0;
    while (it.next())
    {
        const double angle = index <= 127 ? 0.05 * index : 0.0;
        EXPECT_NEAR (it.x1, 100.0 + 50.0 * std::sin (angle), 1e-4) << index;
        EXPECT_NEAR (it.y1, 150.0 - 50.0 * std::cos (angle), 1e-4) << index;
        ++index;
    }

    // Samples fall within 0.05 rad of the extremes.
    const auto bounds = ring.getBounds();
    EXPECT_NEAR (bounds.getX(), 50.0f, 0.015f);
    EXPECT_FLOAT_EQ (bounds.getY(), 100.0f);
    EXPECT_NEAR (bounds.getRight(), 150.0f, 0.015f);
    EXPECT_NEAR (bounds.getBottom(), 200.0f, 0.015f);
}
