// Helpers of the logo page tests: picture files made on the spot, and the
// file name typed into the shared open dialog.
#pragma once

#include "PictureFiles.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>

#include <functional>

// A 24-bit bitmap Name in Dir; the path, or empty when it cannot be written.
inline QString WriteBmp(const QTemporaryDir& Dir, const QString& Name, int W, int H,
                        const std::function<QRgb(int, int)>& Pixel)
{
    PictureFiles::TBmpLayout layout;
    layout.Width = W;
    layout.Height = H;
    layout.Bits = 24;
    layout.Pixel = [Pixel](int x, int y) { return static_cast<std::uint32_t>(Pixel(x, y)); };
    const QString path = Dir.filePath(Name);
    return PictureFiles::WriteFile(path, PictureFiles::BitmapBytes(layout)) ? path : QString();
}

// Puts Path into the dialog's name field as a user types it. selectFile
// would not do: it leaves the field alone while the field has the focus.
inline void TypeFileName(QFileDialog* Dialog, const QString& Path)
{
    if (auto* name = Dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        name->setText(Path);
}
