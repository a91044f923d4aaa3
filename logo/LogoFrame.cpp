#include "LogoFrame.h"

int FrameSliderStep(TFrameSlider Slider, int Position, const TCopyRect& Frame)
{
    switch (Slider) {
    case TFrameSlider::Width:
        if (WidthToStep(Position) != Position)
            return WidthToStep(Position);
        return WidthLimit(Position, Frame);
    case TFrameSlider::Height:
        return HeightLimit(Position, Frame);
    case TFrameSlider::Left:
        return LeftLimit(Position, Frame);
    case TFrameSlider::Top:
        return TopLimit(Position, Frame);
    }
    return Position;
}

int SettleFrameSlider(TFrameSlider Slider, int Current, int Assigned, const TCopyRect& Frame)
{
    const TSliderRange range = FrameSliderRange(Slider);
    int position = Current;
    int next = range.Clamp(Assigned);
    // Each pass is one (nested) run of the handler; a handler whose slider
    // ends where it stands is not run again. The rules only ever lower the
    // position, so this ends.
    while (next != position) {
        position = next;
        next = range.Clamp(FrameSliderStep(Slider, position, Frame));
    }
    return position;
}
