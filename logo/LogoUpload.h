// What the logo page and the command-line tool share between a picture file
// and the rows of an upload: loading with the page's checks and texts, the
// settings a fresh load leaves, the frame's rules, the preview with its
// frame, and the packed rows with the upload's limits. No widgets.
#pragma once

#include "LogoPreview.h"
#include "SourcePicture.h"

#include <QImage>
#include <QString>

#include <cstdint>
#include <vector>

enum class TLogoLoad {
    Ok,
    Unsupported, // the name says neither JPEG nor bitmap: "Неподдерживаемый тип файла"
    Missing,     // no such file: "Файл не найден"
    Failed,      // the decoder's message
};

// Checks the name's type, then that the file is there, then decodes it into
// Picture (left as it was on any failure); Error gets the text to show.
TLogoLoad LoadLogoPicture(const QString& Path, TSourcePicture& Picture, QString& Error);

// Everything the page's controls decide about an upload.
struct TLogoSettings {
    TFillOptions Fill;
    // The copy frame: width a multiple of 8, within the 384 x 255 preview.
    int Left = 0;
    int Top = 0;
    int Width = LogoPreviewWidth;
    int Height = LogoPreviewHeight;
    bool Foot = false; // printed at the foot of a receipt instead of its head
};

// What a load sets: contrast 50, both scales 100 %, no inversion or
// halftones, the frame of the picture's size (InitialFrameWidth and
// InitialFrameHeight) at the top left.
TLogoSettings LoadedLogoSettings(const TSourcePicture& Picture);

// Empty when the frame is one the page's sliders can reach; else why not.
QString CheckLogoFrame(int Left, int Top, int Width, int Height);

// The preview the page shows for these settings, frame drawn; Frame gets
// the copy frame as drawn.
QImage RenderLogoPreview(const TSourcePicture& Picture, const TLogoSettings& Settings, TCopyRect& Frame);

// An upload as the register gets it: the header's kind and row length, then
// the rows top first.
struct TLogoUpload {
    std::uint8_t Kind = 0; // 0 head, 1 foot
    std::uint8_t BytesPerRow = 0;
    std::vector<std::vector<std::uint8_t>> Rows;
};

// The framed part of Preview packed row by row. False, with Error, when the
// frame's rows or bytes per row do not fit the header's single bytes.
bool PackLogoUpload(const QImage& Preview, const TCopyRect& Frame, bool Foot, TLogoUpload& Upload,
                    QString& Error);
