// The logo's source picture: one grey byte per pixel, decoded from a JPEG or
// a Windows bitmap file. The grey level (R + G + B) div 3 is all the preview
// ever uses, so nothing else of the picture is kept.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

struct TSourcePicture {
    int Width = 0;
    int Height = 0;
    // Width x Height grey levels, row after row, top row first.
    std::vector<std::uint8_t> Grey;

    bool IsEmpty() const { return Width <= 0 || Height <= 0; }
    std::uint8_t At(int x, int y) const
    {
        return Grey[static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) + static_cast<std::size_t>(x)];
    }
    const std::uint8_t* Row(int y) const
    {
        return Grey.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(Width);
    }
};

// The grey level of a pixel: (R + G + B) div 3, remainder dropped.
constexpr std::uint8_t GreyLevel(unsigned r, unsigned g, unsigned b)
{
    return static_cast<std::uint8_t>((r + g + b) / 3);
}

// Pictures announcing more pixels than this are refused before anything is
// allocated: the grey copy alone would take more than 100 MB.
constexpr std::int64_t MaxPicturePixels = 100'000'000;

// What libjpeg may allocate for one picture: the 256 MB Qt's reader may take
// for a bitmap by default. Only a picture stored in several scans comes near
// it (see SourcePicture.cpp); one over it is refused for want of memory
// before the buffers are allocated.
constexpr long MaxJpegDecoderMemory = 256L * 1024 * 1024;

enum class TPictureFormat { Unsupported, Jpeg, Bitmap };

// How the loader reads a path: ".JPG" anywhere in the upper-cased path makes
// it a JPEG, otherwise ".BMP" anywhere a bitmap, otherwise it is unsupported
// ("x.jpeg" is unsupported, "x.jpg.bmp" is read as a JPEG).
TPictureFormat PictureFormatOfPath(const QString& Path);

// Decode Path as the given format. On success Picture is replaced and true
// returned; on any failure (missing or unreadable file, corrupt or truncated
// data, a picture too large to hold) Picture is left exactly as it was and
// Error receives a message for the user. Never aborts the program.
bool LoadSourcePicture(const QString& Path, TPictureFormat Format, TSourcePicture& Picture, QString& Error);
bool LoadJpegPicture(const QString& Path, TSourcePicture& Picture, QString& Error);
bool LoadBitmapPicture(const QString& Path, TSourcePicture& Picture, QString& Error);
