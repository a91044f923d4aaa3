// Writers of small picture files for the loader's tests and the benchmark:
// JPEG through libjpeg, Windows bitmaps byte by byte (every depth and header
// variant a test needs, including the broken ones).
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGui/qrgb.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace PictureFiles {

enum class TJpegColours { Rgb, YCbCr, Grey, AdobeCmyk };

struct TJpegLayout {
    int Width = 0;
    int Height = 0;
    TJpegColours Colours = TJpegColours::YCbCr;
    int Quality = 100;
    bool Progressive = false;
    // Sequential, but one scan per component instead of one interleaved
    // scan: the decoder then keeps the whole picture, as for a progressive one.
    bool ScanPerComponent = false;
};

// Fills one row of samples: Width x components bytes (3 for Rgb and YCbCr,
// given as R, G, B; 1 for Grey; 4 for AdobeCmyk, given inverted as Adobe
// stores them).
using TRowFiller = std::function<void(int y, std::uint8_t* samples)>;

// Writes the JPEG; false when the file cannot be written.
bool WriteJpeg(const QString& Path, const TJpegLayout& Layout, const TRowFiller& Fill);

// A bitmap: Bits 1, 4, 8 (palette), 16, 24 or 32. Pixels are given as
// palette indices (1 to 8 bits), raw 16-bit words, or RGB colours (24, 32).
struct TBmpLayout {
    int Width = 0;
    int Height = 0;
    int Bits = 24;
    bool TopDown = false;
    std::vector<QRgb> Palette;
    // 16 or 32 bits with explicit masks (BI_BITFIELDS); empty for BI_RGB.
    std::vector<std::uint32_t> Masks;
    std::function<std::uint32_t(int x, int y)> Pixel;
    // 8 bits only: run-length encoded (BI_RLE8), every pixel a run of one.
    bool Rle8 = false;
};

QByteArray BitmapBytes(const TBmpLayout& Layout);

bool WriteFile(const QString& Path, const QByteArray& Bytes);
QByteArray ReadFile(const QString& Path);

}  // namespace PictureFiles
