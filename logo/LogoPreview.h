// The one-bit preview of the logo and its copy frame.
//
// The preview is a 384 x 255 QImage of Format_RGB888 whose pixels take only
// four colours: black (0, 0, 0) and white (255, 255, 255) dots, and the frame
// colours (255, 0, 0) over a white dot and (254, 0, 0) over a black one, so
// that a pixel under the frame can be restored and still be read as a dot.
#pragma once

#include "SourcePicture.h"

#include <QImage>

#include <cstdint>

constexpr int LogoPreviewWidth = 384;
constexpr int LogoPreviewHeight = 255;

// The copy frame in inclusive preview coordinates (all 0 before the first
// frame is drawn).
struct TCopyRect {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;

    friend bool operator==(const TCopyRect&, const TCopyRect&) = default;
};

// A new all-white preview.
QImage NewLogoPreview();

// True when a preview pixel counts as a printed dot: its red component is
// not 255 (a black dot, or the frame over a black dot). Pixels outside the
// preview are no dots.
bool IsDotPixel(const QImage& Preview, int x, int y);

// The scaled size of one side: Size x Percent / 100 rounded to the nearest
// integer, an exact half to the even one. Percent is ten times the scale
// slider's position (10 to 500). Exact: no floating point involved.
int ScaledLength(int Size, int Percent);

struct TFillOptions {
    int ScaleH = 10;     // tb_Res_h position, 1..50 (tenths of the size)
    int ScaleV = 10;     // tb_res_v position, 1..50
    int Contrast = 50;   // tb_Contrast position, 0..100
    bool Invert = false; // cb_invertion
    bool Dither = false; // cb_dither: error diffusion instead of the plain threshold
};

// Plain threshold: a grey level g is white when 100 x g >= 255 x Contrast.
constexpr bool IsWhiteLevel(int Grey, int Contrast) { return 100 * Grey >= 255 * Contrast; }

// Rebuilds the preview from the picture (everything of the preview rebuild
// except the frame): the preview turns white, the picture is scaled by
// nearest neighbour to ScaledLength(W, 10 x ScaleH) x ScaledLength(H,
// 10 x ScaleV), its top left part of at most 384 x 255 is thresholded (or
// dithered), optionally inverted, and written as black and white pixels.
// Only the pixels shown are computed; no scaled copy of the picture is made.
// An empty picture gives an all-white preview.
//
// The frame is not drawn: call DrawRect afterwards with the current frame
// (the preview holds no frame pixels then, so nothing is erased).
// Throws std::invalid_argument when Preview is not a 384 x 255 RGB888 image.
void FillImage(const TSourcePicture& Picture, const TFillOptions& Options, QImage& Preview);

// Moves the frame: erases the one recorded in CopyRect (a (254, 0, 0) pixel
// becomes black, a (255, 0, 0) pixel white, any other stays), marks the
// outline Left..Left + Width - 1, Top..Top + Height - 1 once per pixel (black
// becomes (254, 0, 0), anything else (255, 0, 0)) and then sets CopyRect to
// it. Parts of a frame outside the preview are neither drawn nor erased.
// Throws std::invalid_argument (CopyRect unchanged) when Preview is not a
// 384 x 255 RGB888 image or Width or Height is below 1.
void DrawRect(QImage& Preview, TCopyRect& CopyRect, int Left, int Top, int Width, int Height);
