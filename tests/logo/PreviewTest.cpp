// The preview rebuild, the copy frame, the frame sliders' rules and the dot
// rows of an upload, all without a window.
#include "LogoFrame.h"
#include "LogoPreview.h"
#include "LogoRows.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

namespace {

using TRow = std::vector<std::uint8_t>;

TSourcePicture Picture(int w, int h, const std::function<int(int, int)>& grey)
{
    TSourcePicture p;
    p.Width = w;
    p.Height = h;
    p.Grey.resize(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.Grey[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint8_t>(grey(x, y));
    return p;
}

TSourcePicture Flat(int w, int h, int grey)
{
    return Picture(w, h, [grey](int, int) { return grey; });
}

QRgb At(const QImage& preview, int x, int y)
{
    return preview.pixel(x, y) & 0xFFFFFF;
}

constexpr QRgb Black = 0x000000;
constexpr QRgb White = 0xFFFFFF;
constexpr QRgb FrameOverWhite = 0xFF0000;
constexpr QRgb FrameOverBlack = 0xFE0000;

QImage Filled(const TSourcePicture& p, const TFillOptions& o)
{
    QImage preview = NewLogoPreview();
    FillImage(p, o, preview);
    return preview;
}

int CountWhite(const QImage& preview, int w, int h)
{
    int n = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            n += At(preview, x, y) == White;
    return n;
}

// ---------------------------------------------------------------- scale

TEST(ScaleTest, ScaledLengthRoundsExactHalvesToEven)
{
    const struct {
        int size, percent, expected;
    } cases[] = {
        {100, 100, 100}, {330, 100, 330}, {400, 500, 2000}, {10000, 10, 1000},
        {3, 10, 0},   // 0.3: a 3-pixel picture at 10% vanishes
        {4, 10, 0},   {6, 10, 1},  {5, 10, 0},   // 0.5 -> 0
        {15, 10, 2},  // 1.5 -> 2
        {25, 10, 2},  // 2.5 -> 2
        {1, 50, 0},   {3, 50, 2},  {5, 50, 2},  {7, 50, 4},
        {1, 150, 2},  {3, 150, 4}, // 4.5 -> 4
        {1, 250, 2},  {3, 250, 8}, // 7.5 -> 8
        {7, 30, 2},   // 2.1
        {0, 100, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ScaledLength(c.size, c.percent), c.expected) << c.size << " at " << c.percent << "%";
}

TEST(FillImageTest, ScaledPictureIsCutToThePreviewAndTheRestStaysWhite)
{
    const struct {
        int w, h, scaleH, scaleV, shownW, shownH;
    } cases[] = {
        {100, 50, 10, 10, 100, 50},
        {400, 300, 10, 10, 384, 255},
        {100, 50, 25, 25, 250, 125},
        {100, 50, 50, 1, 384, 5},
        {3, 3, 1, 10, 0, 3},      // scaled width 0: all white
        {15, 40, 1, 1, 2, 4},
        {1000, 1000, 50, 50, 384, 255},
    };
    for (const auto& c : cases) {
        const QImage preview = Filled(Flat(c.w, c.h, 0), {c.scaleH, c.scaleV, 50, false, false});
        for (int y = 0; y < LogoPreviewHeight; ++y)
            for (int x = 0; x < LogoPreviewWidth; ++x) {
                const bool inside = x < c.shownW && y < c.shownH;
                ASSERT_EQ(At(preview, x, y), inside ? Black : White)
                    << c.w << "x" << c.h << " at " << x << "," << y;
            }
    }
}

TEST(FillImageTest, NearestNeighbourTakesThePixelUnderEachCentre)
{
    // Upscaled 500%: two pixels become two runs of five.
    QImage up = Filled(Picture(2, 1, [](int x, int) { return x ? 255 : 0; }), {50, 50, 50, false, false});
    for (int x = 0; x < 11; ++x)
        EXPECT_EQ(At(up, x, 4), x < 5 ? Black : White) << x;
    EXPECT_EQ(At(up, 0, 5), White);

    // 10 000 pixels wide at 10%: preview column x shows source column
    // 10x + 5, the middle of its group of ten.
    const TSourcePicture wide = Picture(10000, 30, [](int x, int) { return x % 10 == 5 ? 0 : 255; });
    const QImage down = Filled(wide, {1, 10, 50, false, false});
    for (int x = 0; x < LogoPreviewWidth; ++x)
        ASSERT_EQ(At(down, x, 0), Black) << x;
    EXPECT_EQ(At(down, 0, 30), White);

    // Rows likewise: 3 rows at 200% show rows 0, 0, 1, 1, 2, 2.
    const QImage tall = Filled(Picture(1, 3, [](int, int y) { return y == 1 ? 0 : 255; }), {10, 20, 50, false, false});
    const QRgb expected[] = {White, White, Black, Black, White, White, White};
    for (int y = 0; y < 7; ++y)
        EXPECT_EQ(At(tall, 0, y), expected[y]) << y;
}

// ---------------------------------------------------------------- threshold

TEST(FillImageTest, ThresholdAndInversion)
{
    const struct {
        int contrast, grey;
        bool white;
    } cases[] = {
        {0, 0, true},    {0, 255, true},  // contrast 0: everything white
        {50, 127, false}, {50, 128, true},
        {51, 130, false}, {51, 131, true},
        {100, 254, false}, {100, 255, true},
        {1, 2, false},   {1, 3, true},
    };
    for (const auto& c : cases) {
        for (bool invert : {false, true}) {
            const QImage preview = Filled(Flat(1, 1, c.grey), {10, 10, c.contrast, invert, false});
            EXPECT_EQ(At(preview, 0, 0), c.white != invert ? White : Black)
                << "contrast " << c.contrast << " grey " << c.grey << " invert " << invert;
            EXPECT_EQ(At(preview, 1, 0), White) << "outside the picture stays white";
            EXPECT_EQ(At(preview, 0, 1), White);
        }
    }
}

TEST(FillImageTest, EmptyPictureGivesAWhitePreviewAndOldContentGoes)
{
    QImage preview = Filled(Flat(20, 20, 0), {10, 10, 50, false, false});
    TCopyRect frame;
    DrawRect(preview, frame, 0, 0, 16, 4);
    FillImage(TSourcePicture(), {10, 10, 50, true, false}, preview);
    EXPECT_EQ(CountWhite(preview, LogoPreviewWidth, LogoPreviewHeight), LogoPreviewWidth * LogoPreviewHeight);
}

TEST(FillImageTest, WrongPreviewIsRefused)
{
    QImage small(100, 100, QImage::Format_RGB888);
    QImage rgb32(LogoPreviewWidth, LogoPreviewHeight, QImage::Format_RGB32);
    TCopyRect frame{1, 2, 3, 4};
    for (QImage* p : {&small, &rgb32}) {
        EXPECT_THROW(FillImage(Flat(2, 2, 0), {}, *p), std::invalid_argument);
        EXPECT_THROW(DrawRect(*p, frame, 0, 0, 8, 8), std::invalid_argument);
    }
    QImage preview = NewLogoPreview();
    EXPECT_THROW(DrawRect(preview, frame, 0, 0, 0, 8), std::invalid_argument);
    EXPECT_EQ(frame, (TCopyRect{1, 2, 3, 4}));
}

// ---------------------------------------------------------------- dither

TEST(FillImageTest, DitheringKeepsTheGreyAsDotDensity)
{
    const int w = LogoPreviewWidth, h = LogoPreviewHeight, all = w * h;
    const struct {
        int grey, contrast;
        double whiteShare, tolerance;
    } cases[] = {
        {0, 50, 0.0, 0.0},     {255, 50, 1.0, 0.0},
        {0, 100, 0.0, 0.0},    {255, 100, 1.0, 0.0},  // pure black and white stay pure
        {64, 50, 64 / 255.0, 0.01},
        {128, 50, 128 / 255.0, 0.01},
        {200, 50, 200 / 255.0, 0.01},
        {77, 0, 1.0, 0.0},                            // contrast 0: all white, as without dithering
        {128, 75, 0.33, 0.02},                        // a higher threshold darkens
        {128, 25, 0.67, 0.02},
    };
    for (const auto& c : cases) {
        const QImage preview = Filled(Flat(w, h, c.grey), {10, 10, c.contrast, false, true});
        EXPECT_NEAR(double(CountWhite(preview, w, h)) / all, c.whiteShare, c.tolerance)
            << "grey " << c.grey << " contrast " << c.contrast;
    }
}

TEST(FillImageTest, DitheringInvertedIsTheExactNegativeAndDiffersFromThreshold)
{
    const TSourcePicture ramp = Picture(300, 200, [](int x, int y) { return (x + y) % 256; });
    const QImage plain = Filled(ramp, {10, 10, 50, false, true});
    const QImage inverted = Filled(ramp, {10, 10, 50, true, true});
    const QImage threshold = Filled(ramp, {10, 10, 50, false, false});
    int differ = 0;
    for (int y = 0; y < LogoPreviewHeight; ++y)
        for (int x = 0; x < LogoPreviewWidth; ++x) {
            const bool inside = x < 300 && y < 200;
            ASSERT_EQ(At(inverted, x, y), inside ? (At(plain, x, y) ^ 0xFFFFFF) : White) << x << "," << y;
            differ += At(plain, x, y) != At(threshold, x, y);
        }
    EXPECT_GT(differ, 300 * 200 / 10);
}

// ---------------------------------------------------------------- frame

TEST(DrawRectTest, FrameColoursTellWhatLiesUnder)
{
    // Black left half, white right half; a frame over both.
    QImage preview = Filled(Flat(100, 50, 0), {10, 10, 50, false, false});
    const QImage before = preview;
    TCopyRect frame;
    DrawRect(preview, frame, 90, 10, 16, 5);
    EXPECT_EQ(frame, (TCopyRect{90, 10, 105, 14}));
    for (int y = 0; y < LogoPreviewHeight; ++y)
        for (int x = 0; x < LogoPreviewWidth; ++x) {
            const bool onFrame = x >= 90 && x <= 105 && y >= 10 && y <= 14
                                 && (x == 90 || x == 105 || y == 10 || y == 14);
            const QRgb under = At(before, x, y);
            // Corners are marked once: a corner over black stays (254, 0, 0).
            ASSERT_EQ(At(preview, x, y), onFrame ? (under == Black ? FrameOverBlack : FrameOverWhite) : under)
                << x << "," << y;
        }
}

TEST(DrawRectTest, MovingTheFrameRestoresWhatWasUnder)
{
    // A checkered picture, so both frame colours occur everywhere.
    QImage preview = Filled(Picture(384, 255, [](int x, int y) { return (x / 3 + y / 2) % 2 ? 255 : 0; }),
                            {10, 10, 50, false, false});
    const QImage before = preview;
    const struct {
        int left, top, width, height;
    } moves[] = {
        {0, 0, 384, 255}, {10, 20, 8, 1},  // one row high over black and white
        {10, 21, 8, 1},   {0, 254, 384, 1}, {376, 0, 8, 255}, {100, 100, 104, 50}, {0, 0, 8, 1},
    };
    TCopyRect frame;
    for (const auto& m : moves) {
        DrawRect(preview, frame, m.left, m.top, m.width, m.height);
        int marked = 0;
        for (int y = 0; y < LogoPreviewHeight; ++y)
            for (int x = 0; x < LogoPreviewWidth; ++x) {
                const QRgb p = At(preview, x, y);
                if (p == FrameOverBlack || p == FrameOverWhite) {
                    ++marked;
                    ASSERT_EQ(p == FrameOverBlack, At(before, x, y) == Black);
                } else {
                    ASSERT_EQ(p, At(before, x, y)) << "left over at " << x << "," << y;
                }
            }
        const int w = m.width, h = m.height;
        EXPECT_EQ(marked, h == 1 ? w : 2 * w + 2 * (h - 2)) << m.left << "," << m.top;
    }
}

TEST(DrawRectTest, FrameBeyondThePreviewIsClipped)
{
    // Before the first frame CopyRect is all 0 while the sliders say 384
    // wide; moving the left offset then asks for a frame past the edge.
    QImage preview = NewLogoPreview();
    TCopyRect frame;
    DrawRect(preview, frame, 100, 0, 384, 255);
    EXPECT_EQ(frame, (TCopyRect{100, 0, 483, 254}));
    EXPECT_EQ(At(preview, 383, 0), FrameOverWhite);
    EXPECT_EQ(At(preview, 383, 1), White);
    EXPECT_EQ(At(preview, 100, 1), FrameOverWhite);
    DrawRect(preview, frame, 0, 0, 8, 1);
    EXPECT_EQ(At(preview, 383, 0), White);
    EXPECT_EQ(At(preview, 100, 254), White);
}

// ---------------------------------------------------------------- sliders

TEST(FrameSliderTest, LimitsSettleAsTheHandlersNest)
{
    const TCopyRect full{0, 0, 383, 254};
    const struct {
        TFrameSlider slider;
        int current, assigned;
        TCopyRect frame;
        int settled;
    } cases[] = {
        {TFrameSlider::Width, 384, 100, full, 96},
        {TFrameSlider::Width, 384, 5, full, 8},           // clamped to the range
        {TFrameSlider::Width, 8, 400, full, 384},
        {TFrameSlider::Width, 104, 384, {280, 0, 383, 254}, 104},
        {TFrameSlider::Width, 184, 384, {200, 0, 383, 254}, 184},
        {TFrameSlider::Width, 8, 384, {5, 0, 12, 254}, 376},  // 379, then the step of 8
        {TFrameSlider::Left, 0, 383, {0, 0, 103, 254}, 280},
        {TFrameSlider::Left, 0, 10, full, 0},
        {TFrameSlider::Left, 0, 383, {0, 0, 7, 254}, 376},
        {TFrameSlider::Height, 1, 255, {0, 100, 383, 100}, 155},
        {TFrameSlider::Height, 255, 0, full, 1},
        {TFrameSlider::Top, 0, 254, {0, 0, 383, 49}, 205},
        {TFrameSlider::Top, 0, 254, {0, 0, 383, 0}, 254},
        {TFrameSlider::Top, 0, 300, {0, 0, 383, 254}, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SettleFrameSlider(c.slider, c.current, c.assigned, c.frame), c.settled)
            << int(c.slider) << " " << c.assigned;
}

TEST(FrameSliderTest, FrameOfALoadedPicture)
{
    const struct {
        int w, h, frameW, frameH;
    } cases[] = {
        {100, 50, 104, 50}, {330, 300, 384, 255}, {400, 300, 384, 255}, {320, 255, 320, 255},
        {321, 256, 384, 255}, {1, 1, 8, 1}, {8, 254, 8, 254}, {10000, 3, 384, 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(InitialFrameWidth(c.w), c.frameW) << c.w;
        EXPECT_EQ(InitialFrameHeight(c.h), c.frameH) << c.h;
    }
}

// ---------------------------------------------------------------- rows

TEST(LogoRowsTest, SixteenByTwoExample)
{
    QImage preview = NewLogoPreview();
    preview.setPixel(0, 0, Black);
    preview.setPixel(9, 0, Black);
    const TCopyRect frame{0, 0, 15, 1};
    EXPECT_EQ(LogoBytesPerRow(frame), 2);
    EXPECT_EQ(LogoRowCount(frame), 2);
    const std::vector<TRow> expected = {{0x80, 0x40}, {0x00, 0x00}};
    EXPECT_EQ(PackLogoRows(preview, frame), expected);

    // The frame drawn over it changes nothing of what is sent.
    TCopyRect drawn;
    DrawRect(preview, drawn, 0, 0, 16, 2);
    EXPECT_EQ(drawn, frame);
    EXPECT_EQ(PackLogoRows(preview, drawn), expected);
}

TEST(LogoRowsTest, WholePreviewAndSmallestFrame)
{
    // Column x is black when x % 3 == 0 in even rows, x % 5 == 0 in odd rows.
    const TSourcePicture p = Picture(384, 255, [](int x, int y) { return (y % 2 ? x % 5 : x % 3) == 0 ? 0 : 255; });
    QImage preview = Filled(p, {10, 10, 50, false, false});
    TCopyRect frame;
    DrawRect(preview, frame, 0, 0, 384, 255);
    EXPECT_EQ(LogoBytesPerRow(frame), 48);
    EXPECT_EQ(LogoRowCount(frame), 255);
    const std::vector<TRow> rows = PackLogoRows(preview, frame);
    ASSERT_EQ(rows.size(), 255u);
    for (int y = 0; y < 255; ++y) {
        ASSERT_EQ(rows[y].size(), 48u);
        for (int x = 0; x < 384; ++x) {
            const bool dot = (y % 2 ? x % 5 : x % 3) == 0;
            ASSERT_EQ((rows[y][x / 8] >> (7 - x % 8)) & 1, dot ? 1 : 0) << x << "," << y;
        }
    }

    // 8 x 1 at the bottom right corner, one black dot in its last column.
    preview = NewLogoPreview();
    preview.setPixel(383, 254, Black);
    DrawRect(preview, frame, 376, 254, 8, 1);
    EXPECT_EQ(LogoBytesPerRow(frame), 1);
    EXPECT_EQ(LogoRowCount(frame), 1);
    EXPECT_EQ(PackLogoRows(preview, frame), (std::vector<TRow>{{0x01}}));
}

TEST(LogoRowsTest, WhatIsSentOutsideThePicture)
{
    // A 100 x 50 black picture in a 104-wide frame: the four columns right of
    // it are white.
    QImage preview = Filled(Flat(100, 50, 0), {10, 10, 50, false, false});
    TCopyRect frame;
    DrawRect(preview, frame, 0, 0, InitialFrameWidth(100), InitialFrameHeight(50));
    TRow expected(13, 0xFF);
    expected[12] = 0xF0;
    for (const TRow& row : PackLogoRows(preview, frame))
        ASSERT_EQ(row, expected);

    // Inverted, the dots are where the picture is light.
    preview = Filled(Flat(100, 50, 255), {10, 10, 50, true, false});
    DrawRect(preview, frame, 0, 0, 104, 50);
    for (const TRow& row : PackLogoRows(preview, frame))
        ASSERT_EQ(row, expected);

    // A frame reaching past the preview's edge reads no dots there.
    preview = Filled(Flat(384, 255, 0), {10, 10, 50, false, false});
    DrawRect(preview, frame, 368, 250, 24, 8);
    EXPECT_EQ(LogoRowCount(frame), 8);
    const std::vector<TRow> rows = PackLogoRows(preview, frame);
    EXPECT_EQ(rows[0], (TRow{0xFF, 0xFF, 0x00}));
    EXPECT_EQ(rows[4], (TRow{0xFF, 0xFF, 0x00}));
    EXPECT_EQ(rows[5], (TRow{0x00, 0x00, 0x00}));
}

}  // namespace
