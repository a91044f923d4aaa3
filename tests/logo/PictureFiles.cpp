#include "PictureFiles.h"

#include <QFile>

#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace PictureFiles {

bool WriteJpeg(const QString& Path, const TJpegLayout& Layout, const TRowFiller& Fill)
{
    std::FILE* f = std::fopen(QFile::encodeName(Path).constData(), "wb");
    if (!f)
        return false;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);  // a writer fault in a test may exit
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = static_cast<JDIMENSION>(Layout.Width);
    cinfo.image_height = static_cast<JDIMENSION>(Layout.Height);
    int components = 3;
    switch (Layout.Colours) {
    case TJpegColours::Rgb:
    case TJpegColours::YCbCr:
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        break;
    case TJpegColours::Grey:
        components = cinfo.input_components = 1;
        cinfo.in_color_space = JCS_GRAYSCALE;
        break;
    case TJpegColours::AdobeCmyk:
        components = cinfo.input_components = 4;
        cinfo.in_color_space = JCS_CMYK;
        break;
    }
    jpeg_set_defaults(&cinfo);
    if (Layout.Colours == TJpegColours::Rgb)
        jpeg_set_colorspace(&cinfo, JCS_RGB);
    if (Layout.Colours == TJpegColours::AdobeCmyk) {
        jpeg_set_colorspace(&cinfo, JCS_CMYK);
        cinfo.write_Adobe_marker = TRUE;
    }
    jpeg_set_quality(&cinfo, Layout.Quality, TRUE);
    if (Layout.Progressive)
        jpeg_simple_progression(&cinfo);
    std::vector<jpeg_scan_info> scans;
    if (Layout.ScanPerComponent) {
        for (int c = 0; c < cinfo.num_components; ++c) {
            jpeg_scan_info scan{};
            scan.comps_in_scan = 1;
            scan.component_index[0] = c;
            scan.Se = DCTSIZE2 - 1;
            scans.push_back(scan);
        }
        cinfo.scan_info = scans.data();
        cinfo.num_scans = static_cast<int>(scans.size());
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(Layout.Width) * components);
    while (cinfo.next_scanline < cinfo.image_height) {
        Fill(static_cast<int>(cinfo.next_scanline), row.data());
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&cinfo, &p, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(f) == 0;
}

namespace {

void Put16(QByteArray& b, std::uint32_t v)
{
    b.append(char(v & 0xFF));
    b.append(char((v >> 8) & 0xFF));
}

void Put32(QByteArray& b, std::uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

}  // namespace

QByteArray BitmapBytes(const TBmpLayout& Layout)
{
    const int stride = (Layout.Width * Layout.Bits + 31) / 32 * 4;
    const int paletteBytes = static_cast<int>(Layout.Palette.size()) * 4;
    const int maskBytes = static_cast<int>(Layout.Masks.size()) * 4;
    const int offset = 14 + 40 + maskBytes + paletteBytes;
    QByteArray rle;
    if (Layout.Rle8) {
        for (int row = 0; row < Layout.Height; ++row) {
            const int y = Layout.TopDown ? row : Layout.Height - 1 - row;
            for (int x = 0; x < Layout.Width; ++x) {
                rle.append(char(1));
                rle.append(char(Layout.Pixel(x, y)));
            }
            rle.append(QByteArray("\0\0", 2));  // end of line
        }
        rle.append(QByteArray("\0\1", 2));  // end of bitmap
    }
    const int imageBytes = Layout.Rle8 ? static_cast<int>(rle.size()) : stride * Layout.Height;

    QByteArray b;
    b.append("BM");
    Put32(b, static_cast<std::uint32_t>(offset + imageBytes));
    Put32(b, 0);
    Put32(b, static_cast<std::uint32_t>(offset));
    Put32(b, 40);
    Put32(b, static_cast<std::uint32_t>(Layout.Width));
    Put32(b, static_cast<std::uint32_t>(Layout.TopDown ? -Layout.Height : Layout.Height));
    Put16(b, 1);
    Put16(b, static_cast<std::uint32_t>(Layout.Bits));
    Put32(b, Layout.Rle8 ? 1 : (Layout.Masks.empty() ? 0 : 3));  // BI_RLE8, BI_RGB or BI_BITFIELDS
    Put32(b, static_cast<std::uint32_t>(imageBytes));
    Put32(b, 2835);
    Put32(b, 2835);
    Put32(b, static_cast<std::uint32_t>(Layout.Palette.size()));
    Put32(b, 0);
    for (std::uint32_t m : Layout.Masks)
        Put32(b, m);
    for (QRgb c : Layout.Palette) {
        b.append(char(qBlue(c)));
        b.append(char(qGreen(c)));
        b.append(char(qRed(c)));
        b.append(char(0));
    }
    if (Layout.Rle8)
        return b + rle;
    for (int row = 0; row < Layout.Height; ++row) {
        const int y = Layout.TopDown ? row : Layout.Height - 1 - row;
        QByteArray line(stride, '\0');
        auto* p = reinterpret_cast<std::uint8_t*>(line.data());
        for (int x = 0; x < Layout.Width; ++x) {
            const std::uint32_t v = Layout.Pixel(x, y);
            switch (Layout.Bits) {
            case 1:
                p[x / 8] |= static_cast<std::uint8_t>((v & 1) << (7 - x % 8));
                break;
            case 4:
                p[x / 2] |= static_cast<std::uint8_t>((v & 0xF) << (x % 2 ? 0 : 4));
                break;
            case 8:
                p[x] = static_cast<std::uint8_t>(v);
                break;
            case 16:
                p[2 * x] = static_cast<std::uint8_t>(v);
                p[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
                break;
            case 24:
                p[3 * x] = static_cast<std::uint8_t>(qBlue(v));
                p[3 * x + 1] = static_cast<std::uint8_t>(qGreen(v));
                p[3 * x + 2] = static_cast<std::uint8_t>(qRed(v));
                break;
            case 32:
                p[4 * x] = static_cast<std::uint8_t>(qBlue(v));
                p[4 * x + 1] = static_cast<std::uint8_t>(qGreen(v));
                p[4 * x + 2] = static_cast<std::uint8_t>(qRed(v));
                p[4 * x + 3] = static_cast<std::uint8_t>(qAlpha(v));
                break;
            }
        }
        b.append(line);
    }
    return b;
}

bool WriteFile(const QString& Path, const QByteArray& Bytes)
{
    QFile f(Path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(Bytes) == Bytes.size();
}

QByteArray ReadFile(const QString& Path)
{
    QFile f(Path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace PictureFiles
