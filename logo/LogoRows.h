// The dot rows of an upload, read straight from the preview over the copy
// frame: one bit per column, the leftmost in bit 7 of the first byte, a 1
// for a pixel whose red component is not 255.
#pragma once

#include "LogoPreview.h"

#include <cstdint>
#include <vector>

// Bytes per row: (Right - Left + 1) div 8. Rows: Bottom - Top + 1.
int LogoBytesPerRow(const TCopyRect& Frame);
int LogoRowCount(const TCopyRect& Frame);

// The bytes of preview row y over the frame's columns; the row numbered
// RowNumber (1 = the frame's top row) is preview row Top + RowNumber - 1.
// Columns beyond (Right - Left + 1) div 8 x 8 are not sent; columns and rows
// outside the preview read as no dot.
std::vector<std::uint8_t> PackLogoRow(const QImage& Preview, const TCopyRect& Frame, int RowNumber);

// All rows of the frame, top row first (for tests and benchmarks; the upload
// builds each row just before sending it).
std::vector<std::vector<std::uint8_t>> PackLogoRows(const QImage& Preview, const TCopyRect& Frame);
