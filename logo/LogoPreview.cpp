#include "LogoPreview.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

void CheckPreview(const QImage& Preview)
{
    if (Preview.width() != LogoPreviewWidth || Preview.height() != LogoPreviewHeight
        || Preview.format() != QImage::Format_RGB888)
        throw std::invalid_argument("the logo preview must be a 384 x 255 RGB888 image");
}

bool Inside(int x, int y)
{
    return x >= 0 && x < LogoPreviewWidth && y >= 0 && y < LogoPreviewHeight;
}

// For each of the Shown target pixels of a side scaled from Size to Scaled,
// the source pixel whose area holds the target pixel's centre.
std::vector<int> NearestMap(int Size, int Scaled, int Shown)
{
    std::vector<int> map(static_cast<std::size_t>(Shown));
    for (int i = 0; i < Shown; ++i)
        map[i] = static_cast<int>((2 * std::int64_t(i) + 1) * Size / (2 * std::int64_t(Scaled)));
    return map;
}

// Grey levels as error diffusion sees them: the threshold level 2.55 x
// Contrast becomes mid-grey (half the dots), pure black and pure white stay
// as they are, levels between are stretched linearly. At 50 this is the
// identity up to rounding, and the split between levels at and above the
// threshold and those below is exactly the plain threshold's.
std::array<int, 256> DitherLevels(int Contrast)
{
    std::array<int, 256> out{};
    const int t100 = 255 * Contrast;  // threshold x 100
    for (int g = 0; g < 256; ++g) {
        const int g100 = 100 * g;
        double v;
        if (g100 >= t100)
            v = t100 >= 25500 ? 255.0 : 127.5 + 127.5 * (g100 - t100) / (25500.0 - t100);
        else
            v = 127.5 * g100 / t100;
        out[g] = static_cast<int>(v + 0.5);
    }
    if (Contrast <= 0)
        out.fill(255);
    return out;
}

}  // namespace

QImage NewLogoPreview()
{
    QImage preview(LogoPreviewWidth, LogoPreviewHeight, QImage::Format_RGB888);
    preview.fill(Qt::white);
    return preview;
}

bool IsDotPixel(const QImage& Preview, int x, int y)
{
    if (!Inside(x, y) || x >= Preview.width() || y >= Preview.height())
        return false;
    if (Preview.format() == QImage::Format_RGB888)
        return Preview.constScanLine(y)[3 * x] != 255;
    return qRed(Preview.pixel(x, y)) != 255;
}

int ScaledLength(int Size, int Percent)
{
    if (Size <= 0 || Percent <= 0)
        return 0;
    const std::int64_t product = std::int64_t(Size) * Percent;
    std::int64_t whole = product / 100;
    const std::int64_t rest = product % 100;
    if (rest > 50 || (rest == 50 && whole % 2 != 0))
        ++whole;
    return static_cast<int>(whole);
}

void FillImage(const TSourcePicture& Picture, const TFillOptions& Options, QImage& Preview)
{
    CheckPreview(Preview);
    Preview.fill(Qt::white);
    if (Picture.IsEmpty())
        return;

    const int scaledW = ScaledLength(Picture.Width, 10 * Options.ScaleH);
    const int scaledH = ScaledLength(Picture.Height, 10 * Options.ScaleV);
    const int shownW = std::min(scaledW, LogoPreviewWidth);
    const int shownH = std::min(scaledH, LogoPreviewHeight);
    if (shownW <= 0 || shownH <= 0)
        return;
    const std::vector<int> columns = NearestMap(Picture.Width, scaledW, shownW);
    const std::vector<int> rows = NearestMap(Picture.Height, scaledH, shownH);
    const std::uint8_t white = Options.Invert ? 0 : 255;
    const std::uint8_t black = Options.Invert ? 255 : 0;

    if (!Options.Dither) {
        std::array<std::uint8_t, 256> level{};
        for (int g = 0; g < 256; ++g)
            level[g] = IsWhiteLevel(g, Options.Contrast) ? white : black;
        for (int y = 0; y < shownH; ++y) {
            const std::uint8_t* src = Picture.Row(rows[y]);
            std::uint8_t* out = Preview.scanLine(y);
            for (int x = 0; x < shownW; ++x) {
                const std::uint8_t v = level[src[columns[x]]];
                out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = v;
            }
        }
        return;
    }

    // Floyd-Steinberg over the shown pixels only. The shares are whole
    // numbers and the right-hand neighbour's takes the rounding remainder,
    // so no error is lost to rounding. Shares that would fall outside the
    // shown part are dropped: at the right edge the right-hand and
    // below-right ones, at the left edge the below-left one, and all of the
    // last row's shares for the row below. The share for the right-hand
    // neighbour is carried in a register, the next row's shares in a buffer
    // written just ahead of its use (its first and last slots, for the
    // columns either side of the shown part, are never read).
    const std::array<int, 256> levels = DitherLevels(Options.Contrast);
    std::vector<int> errThis(static_cast<std::size_t>(shownW) + 2, 0);
    std::vector<int> errNext(static_cast<std::size_t>(shownW) + 2, 0);
    for (int y = 0; y < shownH; ++y) {
        std::swap(errThis, errNext);
        errNext[0] = errNext[1] = 0;
        const std::uint8_t* src = Picture.Row(rows[y]);
        std::uint8_t* out = Preview.scanLine(y);
        int* below = errNext.data();
        const int* here = errThis.data() + 1;
        int carry = 0;
        for (int x = 0; x < shownW; ++x) {
            const int v = levels[src[columns[x]]] + here[x] + carry;
            const int isWhite = v >= 128;
            const std::uint8_t c = isWhite ? white : black;
            out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = c;
            const int e = v - 255 * isWhite;
            const int e1 = e / 16, e3 = e * 3 / 16, e5 = e * 5 / 16;
            carry = e - e1 - e3 - e5;
            below[x] += e3;
            below[x + 1] += e5;
            below[x + 2] = e1;
        }
    }
}

void DrawRect(QImage& Preview, TCopyRect& CopyRect, int Left, int Top, int Width, int Height)
{
    CheckPreview(Preview);
    if (Width < 1 || Height < 1)
        throw std::invalid_argument("the logo frame must be at least one pixel wide and high");

    const auto erase = [&Preview](int x, int y) {
        if (!Inside(x, y))
            return;
        std::uint8_t* p = Preview.scanLine(y) + 3 * x;
        if (p[1] != 0 || p[2] != 0)
            return;
        if (p[0] == 254)
            p[0] = 0;
        else if (p[0] == 255)
            p[1] = p[2] = 255;
    };
    const auto mark = [&Preview](int x, int y) {
        if (!Inside(x, y))
            return;
        std::uint8_t* p = Preview.scanLine(y) + 3 * x;
        const bool black = p[0] == 0 && p[1] == 0 && p[2] == 0;
        p[0] = black ? 254 : 255;
        p[1] = p[2] = 0;
    };

    const TCopyRect old = CopyRect;
    for (int x = old.Left; x <= old.Right; ++x) {
        erase(x, old.Top);
        erase(x, old.Bottom);
    }
    for (int y = old.Top; y <= old.Bottom; ++y) {
        erase(old.Left, y);
        erase(old.Right, y);
    }

    const TCopyRect frame{Left, Top, Left + Width - 1, Top + Height - 1};
    for (int x = frame.Left; x <= frame.Right; ++x) {
        mark(x, frame.Top);
        if (frame.Bottom != frame.Top)
            mark(x, frame.Bottom);
    }
    for (int y = frame.Top + 1; y <= frame.Bottom - 1; ++y) {
        mark(frame.Left, y);
        if (frame.Right != frame.Left)
            mark(frame.Right, y);
    }
    CopyRect = frame;
}
