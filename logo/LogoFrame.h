// The rules of the four frame sliders (width, height, left, top) and the
// frame a freshly loaded picture gets. Each function gives the position one
// step of a slider's change handler assigns; Frame is the copy frame as last
// drawn (CopyRect).
#pragma once

#include "LogoPreview.h"

enum class TFrameSlider { Width, Height, Left, Top };

struct TSliderRange {
    int Min;
    int Max;
    constexpr int Clamp(int v) const { return v < Min ? Min : (v > Max ? Max : v); }
};

// tb_width 8..384, tb_height 1..255, tb_left 0..383, tb_top 0..254.
constexpr TSliderRange FrameSliderRange(TFrameSlider Slider)
{
    switch (Slider) {
    case TFrameSlider::Width: return {8, 384};
    case TFrameSlider::Height: return {1, 255};
    case TFrameSlider::Left: return {0, 383};
    case TFrameSlider::Top: return {0, 254};
    }
    return {0, 0};
}

// tb_widthChange, first step: position div 8 x 8.
constexpr int WidthToStep(int Position) { return Position / 8 * 8; }
// tb_widthChange, second step: 384 - Left when Left + position > 384.
constexpr int WidthLimit(int Position, const TCopyRect& Frame)
{
    return Frame.Left + Position > LogoPreviewWidth ? LogoPreviewWidth - Frame.Left : Position;
}
// tb_heightChange: 255 - Top when Top + position > 255.
constexpr int HeightLimit(int Position, const TCopyRect& Frame)
{
    return Frame.Top + Position > LogoPreviewHeight ? LogoPreviewHeight - Frame.Top : Position;
}
// tb_leftChange: 383 - (Right - Left) when (Right - Left) + position > 383.
constexpr int LeftLimit(int Position, const TCopyRect& Frame)
{
    const int span = Frame.Right - Frame.Left;
    return span + Position > LogoPreviewWidth - 1 ? LogoPreviewWidth - 1 - span : Position;
}
// tb_topChange: 254 - (Bottom - Top) when (Bottom - Top) + position > 254.
constexpr int TopLimit(int Position, const TCopyRect& Frame)
{
    const int span = Frame.Bottom - Frame.Top;
    return span + Position > LogoPreviewHeight - 1 ? LogoPreviewHeight - 1 - span : Position;
}

// The first position the slider's handler assigns, or Position itself when
// the handler leaves it (width: the step of 8 first, then the limit).
int FrameSliderStep(TFrameSlider Slider, int Position, const TCopyRect& Frame);

// Where a slider settles when Assigned is given to it while it stands at
// Current: the value is clamped to the range; if it differs from Current the
// handler runs and may assign again, nested, until nothing changes. Models a
// slider whose change handler runs only on a real change.
int SettleFrameSlider(TFrameSlider Slider, int Current, int Assigned, const TCopyRect& Frame);

// The frame a loaded picture gets: the width, 384 above 320, rounded up to a
// multiple of 8; the height, at most 255.
constexpr int InitialFrameWidth(int PictureWidth)
{
    const int w = PictureWidth > 320 ? LogoPreviewWidth : PictureWidth;
    return (w + 7) / 8 * 8;
}
constexpr int InitialFrameHeight(int PictureHeight)
{
    return PictureHeight > LogoPreviewHeight ? LogoPreviewHeight : PictureHeight;
}
