#include "LogoRows.h"

int LogoBytesPerRow(const TCopyRect& Frame)
{
    const int width = Frame.Right - Frame.Left + 1;
    return width > 0 ? width / 8 : 0;
}

int LogoRowCount(const TCopyRect& Frame)
{
    const int rows = Frame.Bottom - Frame.Top + 1;
    return rows > 0 ? rows : 0;
}

std::vector<std::uint8_t> PackLogoRow(const QImage& Preview, const TCopyRect& Frame, int RowNumber)
{
    const int bytes = LogoBytesPerRow(Frame);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(bytes), 0);
    const int y = Frame.Top + RowNumber - 1;
    for (int i = 0; i < bytes * 8; ++i) {
        if (IsDotPixel(Preview, Frame.Left + i, y))
            row[i / 8] |= static_cast<std::uint8_t>(0x80u >> (i % 8));
    }
    return row;
}

std::vector<std::vector<std::uint8_t>> PackLogoRows(const QImage& Preview, const TCopyRect& Frame)
{
    std::vector<std::vector<std::uint8_t>> rows;
    const int count = LogoRowCount(Frame);
    rows.reserve(static_cast<std::size_t>(count));
    for (int n = 1; n <= count; ++n)
        rows.push_back(PackLogoRow(Preview, Frame, n));
    return rows;
}
