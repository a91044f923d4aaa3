#include "SourcePicture.h"

#include "LogoLog.h"

#include <QFile>
#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include <jpeglib.h>
#include <jerror.h>

Q_LOGGING_CATEGORY(lcLogo, "kkm.logo", QtWarningMsg)

TPictureFormat PictureFormatOfPath(const QString& Path)
{
    const QString upper = Path.toUpper();
    if (upper.contains(QLatin1String(".JPG")))
        return TPictureFormat::Jpeg;
    if (upper.contains(QLatin1String(".BMP")))
        return TPictureFormat::Bitmap;
    return TPictureFormat::Unsupported;
}

bool LoadSourcePicture(const QString& Path, TPictureFormat Format, TSourcePicture& Picture, QString& Error)
{
    switch (Format) {
    case TPictureFormat::Jpeg:
        return LoadJpegPicture(Path, Picture, Error);
    case TPictureFormat::Bitmap:
        return LoadBitmapPicture(Path, Picture, Error);
    case TPictureFormat::Unsupported:
        break;
    }
    Error = QStringLiteral("Неподдерживаемый тип файла");
    return false;
}

namespace {

QString TooLargeText(std::int64_t width, std::int64_t height)
{
    return QStringLiteral("Изображение слишком велико: %1 x %2 точек (допускается не более %3 миллионов точек)")
        .arg(width).arg(height).arg(MaxPicturePixels / 1'000'000);
}

QString NoMemoryText(std::int64_t width, std::int64_t height)
{
    return QStringLiteral("Недостаточно памяти для изображения %1 x %2 точек").arg(width).arg(height);
}

// ---------------------------------------------------------------- JPEG

// libjpeg reports fatal errors through error_exit, which must not return;
// it jumps back to the decoder, which then frees everything and reports the
// message. Warnings that mean the pixel data are damaged (a file that ends
// early, corrupt entropy-coded data) are made fatal as well: libjpeg would
// otherwise fill the rest of the picture with grey and carry on.
struct TJpegErrorManager {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
    // The fatal error was libjpeg running out of memory, or out of the
    // share MaxJpegDecoderMemory gives it: the user is told so, not shown
    // libjpeg's text.
    bool NoMemory;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<TJpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->Message);
    // Without a backing store libjpeg reports a whole-picture buffer over
    // max_memory_to_use as a missing backing store.
    err->NoMemory = cinfo->err->msg_code == JERR_OUT_OF_MEMORY || cinfo->err->msg_code == JERR_NO_BACKING_STORE;
    std::longjmp(err->Jump, 1);
}

bool IsDamageWarning(int code)
{
    switch (code) {
    case JWRN_JPEG_EOF:        // "Premature end of JPEG file"
    case JWRN_HIT_MARKER:      // premature end of data segment
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
        return true;
    default:
        return false;
    }
}

void JpegEmitMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return;  // trace messages
    if (IsDamageWarning(cinfo->err->msg_code))
        JpegErrorExit(cinfo);
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    qCDebug(lcLogo) << "JPEG warning:" << text;
    cinfo->err->num_warnings++;
}

// Everything the decoder touches lives here, outside the function that calls
// setjmp, so that nothing it needs after a jump is an automatic variable of
// that function.
struct TJpegJob {
    jpeg_decompress_struct Info;
    TJpegErrorManager Err;
    std::FILE* File = nullptr;
    std::vector<std::uint8_t> Grey;
    std::vector<JSAMPLE> Rows;
    int Width = 0;
    int Height = 0;
    bool TooLarge = false;
    bool NoMemory = false;
};

constexpr int RowsPerRead = 16;

// (R + G + B) div 3 for one decoded row of RGB triples.
void RgbRowToGrey(const JSAMPLE* in, std::uint8_t* out, int width)
{
    for (int x = 0; x < width; ++x, in += 3)
        out[x] = GreyLevel(in[0], in[1], in[2]);
}

// CMYK rows as libjpeg delivers them; Adobe's files store the inks inverted.
void CmykRowToGrey(const JSAMPLE* in, std::uint8_t* out, int width, bool inverted)
{
    for (int x = 0; x < width; ++x, in += 4) {
        unsigned c = in[0], m = in[1], y = in[2], k = in[3];
        if (!inverted) {
            c = 255 - c; m = 255 - m; y = 255 - y; k = 255 - k;
        }
        out[x] = GreyLevel(c * k / 255, m * k / 255, y * k / 255);
    }
}

// Returns true when all scanlines were read into job->Grey. A libjpeg error
// jumps back here and returns false with job->Err.Message set.
bool RunJpegDecode(TJpegJob* job)
{
    if (setjmp(job->Err.Jump))
        return false;

    jpeg_decompress_struct* cinfo = &job->Info;
    jpeg_create_decompress(cinfo);
    // A single-scan (baseline) picture is decoded a few rows at a time: its
    // strip buffers take a few MB even at 65500 points wide, and libjpeg
    // never checks them against this cap. A picture stored in several scans
    // (progressive, or one component per scan) keeps every DCT coefficient
    // of the picture until its last scan: 2 bytes per sample, so 2 bytes per
    // point in grey, 3 in 4:2:0 colour, 6 in full-resolution colour and 8 in
    // CMYK, up to 800 MB at the pixel limit. The cap lets every grey picture
    // under the pixel limit through, colour ones up to about 33 (CMYK) to
    // 89 (4:2:0) megapixels; libjpeg refuses the larger ones when it sets up
    // those buffers, before allocating them.
    cinfo->mem->max_memory_to_use = MaxJpegDecoderMemory;
    jpeg_stdio_src(cinfo, job->File);
    jpeg_read_header(cinfo, TRUE);

    job->Width = static_cast<int>(cinfo->image_width);
    job->Height = static_cast<int>(cinfo->image_height);
    if (static_cast<std::int64_t>(cinfo->image_width) * cinfo->image_height > MaxPicturePixels) {
        job->TooLarge = true;
        return false;
    }

    switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo->out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo->out_color_space = JCS_CMYK;
        break;
    default:
        cinfo->out_color_space = JCS_RGB;
        break;
    }
    jpeg_start_decompress(cinfo);

    const std::size_t width = cinfo->output_width;
    const int components = cinfo->output_components;
    try {
        job->Grey.resize(width * cinfo->output_height);
        if (components != 1)
            job->Rows.resize(width * static_cast<std::size_t>(components) * RowsPerRead);
    } catch (const std::bad_alloc&) {
        job->NoMemory = true;
        return false;
    }

    const bool adobe = cinfo->saw_Adobe_marker;
    JSAMPROW rows[RowsPerRead];
    while (cinfo->output_scanline < cinfo->output_height) {
        const std::size_t first = cinfo->output_scanline;
        for (int i = 0; i < RowsPerRead; ++i) {
            rows[i] = components == 1
                          ? job->Grey.data() + std::min<std::size_t>(first + i, cinfo->output_height - 1) * width
                          : job->Rows.data() + static_cast<std::size_t>(i) * width * components;
        }
        const JDIMENSION got = jpeg_read_scanlines(cinfo, rows, RowsPerRead);
        if (got == 0)
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        if (components == 1)
            continue;
        for (JDIMENSION i = 0; i < got; ++i) {
            std::uint8_t* out = job->Grey.data() + (first + i) * width;
            if (components == 3)
                RgbRowToGrey(rows[i], out, static_cast<int>(width));
            else
                CmykRowToGrey(rows[i], out, static_cast<int>(width), adobe);
        }
    }
    // The trailer after the last scanline is not read: a missing end marker
    // loses no pixel.
    return true;
}

}  // namespace

bool LoadJpegPicture(const QString& Path, TSourcePicture& Picture, QString& Error)
{
    TJpegJob job;
    std::memset(&job.Info, 0, sizeof job.Info);
    job.Info.err = jpeg_std_error(&job.Err.Pub);
    job.Err.Pub.error_exit = JpegErrorExit;
    job.Err.Pub.emit_message = JpegEmitMessage;
    job.Err.Message[0] = '\0';
    job.Err.NoMemory = false;

#ifdef _WIN32
    // Narrow names are in the system's code page there, which may lack
    // the name's letters: the wide call takes the name as it is.
    job.File = _wfopen(reinterpret_cast<const wchar_t*>(Path.utf16()), L"rb");
#else
    job.File = std::fopen(QFile::encodeName(Path).constData(), "rb");
#endif
    if (!job.File) {
        Error = QStringLiteral("Не удалось открыть файл \"%1\": %2")
                    .arg(Path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    bool ok = false;
    try {
        ok = RunJpegDecode(&job);
    } catch (const std::bad_alloc&) {
        job.NoMemory = true;
    }
    jpeg_destroy_decompress(&job.Info);
    std::fclose(job.File);

    if (!ok) {
        if (job.TooLarge)
            Error = TooLargeText(job.Width, job.Height);
        else if (job.NoMemory || job.Err.NoMemory)
            Error = NoMemoryText(job.Width, job.Height);
        else
            Error = QStringLiteral("Ошибка чтения JPEG: %1").arg(QString::fromLocal8Bit(job.Err.Message));
        qCDebug(lcLogo) << "JPEG refused:" << Path << Error;
        return false;
    }
    Picture.Width = job.Width;
    Picture.Height = job.Height;
    Picture.Grey = std::move(job.Grey);
    qCDebug(lcLogo) << "JPEG loaded:" << Path << Picture.Width << "x" << Picture.Height;
    return true;
}

// ---------------------------------------------------------------- BMP

namespace {

void ArgbRowToGrey(const QRgb* in, std::uint8_t* out, int width)
{
    for (int x = 0; x < width; ++x)
        out[x] = GreyLevel(qRed(in[x]), qGreen(in[x]), qBlue(in[x]));
}

// The bitmap file as Qt's reader sees it, noting whether the reader ever
// asked for bytes past the end: Qt's bitmap reader keeps the rows it could
// not read blank and reports success, so a truncated file shows only here.
class TBitmapFile : public QFile {
public:
    using QFile::QFile;
    bool ShortRead = false;

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 got = QFile::readData(data, maxSize);
        if (got < maxSize)
            ShortRead = true;
        return got;
    }
};

// Qt's reader refuses a header announcing more than 16384 x 16384 pixels
// without saying why; the size it announces is taken from the header here
// only to say so. Windows info headers (40 bytes and longer) hold the width
// and the height as 32-bit values at offsets 18 and 22.
bool AnnouncedBitmapSize(const QString& Path, std::int64_t& Width, std::int64_t& Height)
{
    QFile f(Path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = f.read(26);
    if (head.size() < 26 || !head.startsWith("BM"))
        return false;
    const auto le32 = [&head](int at) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint8_t>(head[at]))
                                         | static_cast<std::uint32_t>(static_cast<std::uint8_t>(head[at + 1])) << 8
                                         | static_cast<std::uint32_t>(static_cast<std::uint8_t>(head[at + 2])) << 16
                                         | static_cast<std::uint32_t>(static_cast<std::uint8_t>(head[at + 3])) << 24);
    };
    if (le32(14) < 40)
        return false;
    Width = std::abs(std::int64_t(le32(18)));
    Height = std::abs(std::int64_t(le32(22)));
    return true;
}

}  // namespace

bool LoadBitmapPicture(const QString& Path, TSourcePicture& Picture, QString& Error)
{
    TBitmapFile file(Path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        Error = QStringLiteral("Не удалось открыть файл \"%1\": %2").arg(Path, file.errorString());
        return false;
    }
    // The name decides the format, not the content: only Qt's bitmap reader
    // is used, whatever the file turns out to hold.
    QImageReader reader(&file, QByteArrayLiteral("bmp"));
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(false);

    const auto readError = [&reader](const QString& why) {
        return QStringLiteral("Ошибка чтения BMP: %1")
            .arg(reader.error() != QImageReader::UnknownError ? reader.errorString() : why);
    };
    // The header only. A top-down bitmap announces a negative height.
    const QSize size = reader.size();
    if (size.width() <= 0 || size.height() == 0) {
        std::int64_t w = 0, h = 0;
        if (AnnouncedBitmapSize(Path, w, h) && w * h > MaxPicturePixels)
            Error = TooLargeText(w, h);
        else
            Error = readError(QStringLiteral("неверный заголовок файла"));
        return false;
    }
    const std::int64_t width = size.width();
    const std::int64_t height = std::abs(size.height());
    if (width * height > MaxPicturePixels) {
        Error = TooLargeText(width, height);
        return false;
    }
    // The reader refuses images over its allocation limit with a generic
    // message; say why instead, before it allocates anything.
    const int limitMb = QImageReader::allocationLimit();
    if (limitMb > 0) {
        QImage::Format format = reader.imageFormat();
        if (format == QImage::Format_Invalid)
            format = QImage::Format_ARGB32;
        const std::int64_t depth = QImage::toPixelFormat(format).bitsPerPixel();
        const std::int64_t bytesPerLine = (width * depth + 31) / 32 * 4;
        const std::int64_t bytes = bytesPerLine * height;
        if (bytes > static_cast<std::int64_t>(limitMb) * 1024 * 1024) {
            Error = QStringLiteral("Изображение слишком велико: %1 x %2 точек требуют %3 МБ памяти "
                                   "(допускается не более %4 МБ)")
                        .arg(width).arg(height).arg((bytes + 1024 * 1024 - 1) / (1024 * 1024)).arg(limitMb);
            return false;
        }
    }

    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        Error = readError(QStringLiteral("данные изображения не читаются"));
        return false;
    }
    if (file.ShortRead) {
        Error = QStringLiteral("Ошибка чтения BMP: файл обрывается раньше конца изображения");
        return false;
    }

    std::vector<std::uint8_t> grey;
    try {
        grey.resize(static_cast<std::size_t>(image.width()) * static_cast<std::size_t>(image.height()));
    } catch (const std::bad_alloc&) {
        Error = NoMemoryText(image.width(), image.height());
        return false;
    }
    const int w = image.width();
    const bool direct = image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32;
    const QList<QRgb> colours = image.colorTable();
    for (int y = 0; y < image.height(); ++y) {
        std::uint8_t* out = grey.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
        if (direct) {
            ArgbRowToGrey(reinterpret_cast<const QRgb*>(image.constScanLine(y)), out, w);
            continue;
        }
        // Other depths and palettes: convert one row at a time, so that a
        // whole 32-bit copy of the picture never exists. Alpha is ignored,
        // the colours are taken as they stand.
        QImage line(image.constScanLine(y), w, 1, image.bytesPerLine(), image.format());
        if (!colours.isEmpty())
            line.setColorTable(colours);
        const QImage argb = line.convertToFormat(QImage::Format_ARGB32);
        ArgbRowToGrey(reinterpret_cast<const QRgb*>(argb.constScanLine(0)), out, w);
    }
    Picture.Width = image.width();
    Picture.Height = image.height();
    Picture.Grey = std::move(grey);
    qCDebug(lcLogo) << "BMP loaded:" << Path << Picture.Width << "x" << Picture.Height << image.format();
    return true;
}
