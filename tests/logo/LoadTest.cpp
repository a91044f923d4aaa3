// Loading pictures into grey: JPEG through libjpeg, bitmaps through Qt's
// reader, and the refusals of broken and oversized files.
#include "PictureFiles.h"
#include "SourcePicture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

using namespace PictureFiles;

namespace {

class LoadTest : public ::testing::Test {
protected:
    QTemporaryDir dir_;

    QString PathOf(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

    // A 16 x 8 RGB JPEG of two flat 8 x 8 blocks: exact after decoding.
    QString TwoBlockJpeg(const char* name, TJpegColours colours = TJpegColours::Rgb)
    {
        const QString path = PathOf(name);
        TJpegLayout layout{16, 8, colours, 100, false};
        EXPECT_TRUE(WriteJpeg(path, layout, [](int, std::uint8_t* s) {
            for (int x = 0; x < 16; ++x) {
                const bool left = x < 8;
                s[3 * x] = left ? 10 : 255;
                s[3 * x + 1] = left ? 20 : 254;
                s[3 * x + 2] = left ? 31 : 0;
            }
        }));
        return path;
    }

    QString PhotoJpeg(const char* name, int w, int h)
    {
        const QString path = PathOf(name);
        EXPECT_TRUE(WriteJpeg(path, TJpegLayout{w, h, TJpegColours::YCbCr, 90, false}, [w](int y, std::uint8_t* s) {
            for (int x = 0; x < w; ++x) {
                s[3 * x] = static_cast<std::uint8_t>(x * 7 + y);
                s[3 * x + 1] = static_cast<std::uint8_t>(y * 3);
                s[3 * x + 2] = static_cast<std::uint8_t>(x ^ y);
            }
        }));
        return path;
    }

    QString Write(const char* name, const QByteArray& bytes)
    {
        const QString path = PathOf(name);
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }

    // A picture that a failed load must leave alone.
    static TSourcePicture Previous()
    {
        TSourcePicture p;
        p.Width = 3;
        p.Height = 2;
        p.Grey = {1, 2, 3, 4, 5, 6};
        return p;
    }

    static void ExpectRefused(const QString& path, TPictureFormat format, const char* errorPart)
    {
        TSourcePicture picture = Previous();
        QString error;
        EXPECT_FALSE(LoadSourcePicture(path, format, picture, error)) << path.toStdString();
        EXPECT_TRUE(error.contains(QString::fromUtf8(errorPart)))
            << "error: " << error.toStdString() << " expected part: " << errorPart;
        EXPECT_EQ(picture.Width, 3);
        EXPECT_EQ(picture.Height, 2);
        EXPECT_EQ(picture.Grey, Previous().Grey);
    }
};

TEST(PictureFormatTest, NameDecidesTheReader)
{
    const struct {
        const char* path;
        TPictureFormat format;
    } cases[] = {
        {"/tmp/a.jpg", TPictureFormat::Jpeg},
        {"/tmp/A.JPG", TPictureFormat::Jpeg},
        {"/tmp/a.Jpg", TPictureFormat::Jpeg},
        {"/tmp/a.jpeg", TPictureFormat::Unsupported},
        {"/tmp/a.bmp", TPictureFormat::Bitmap},
        {"/tmp/a.bmp.jpg", TPictureFormat::Jpeg},
        {"/tmp/a.jpg.bmp", TPictureFormat::Jpeg},
        {"/tmp/x.jpgs/a.png", TPictureFormat::Jpeg},
        {"/tmp/a.png", TPictureFormat::Unsupported},
        {"/tmp/abmp", TPictureFormat::Unsupported},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PictureFormatOfPath(QString::fromUtf8(c.path)), c.format) << c.path;
}

TEST_F(LoadTest, JpegGreyIsTheIntegerMeanOfTheChannels)
{
    const QString path = TwoBlockJpeg("two.jpg");
    TSourcePicture picture;
    QString error;
    ASSERT_TRUE(LoadJpegPicture(path, picture, error)) << error.toStdString();
    ASSERT_EQ(picture.Width, 16);
    ASSERT_EQ(picture.Height, 8);
    ASSERT_EQ(picture.Grey.size(), 128u);
    for (int y = 0; y < 8; ++y) {
        EXPECT_EQ(picture.At(0, y), (10 + 20 + 31) / 3);
        EXPECT_EQ(picture.At(7, y), 20);
        EXPECT_EQ(picture.At(8, y), (255 + 254 + 0) / 3);
        EXPECT_EQ(picture.At(15, y), 169);
    }
}

TEST_F(LoadTest, JpegColourModels)
{
    // Grey and Adobe CMYK files, and a progressive one: flat pictures whose
    // grey is known.
    struct Case {
        const char* name;
        TJpegColours colours;
        bool progressive;
        int expected;
    };
    const Case cases[] = {
        {"grey.jpg", TJpegColours::Grey, false, 77},
        {"cmyk.jpg", TJpegColours::AdobeCmyk, false, 255},
        {"ycc.jpg", TJpegColours::YCbCr, true, 77},
    };
    for (const Case& c : cases) {
        const QString path = PathOf(c.name);
        ASSERT_TRUE(WriteJpeg(path, TJpegLayout{24, 16, c.colours, 100, c.progressive}, [&c](int, std::uint8_t* s) {
            const int n = c.colours == TJpegColours::Grey ? 1 : (c.colours == TJpegColours::AdobeCmyk ? 4 : 3);
            // Adobe CMYK is stored inverted: 255 everywhere is no ink at all.
            std::memset(s, c.colours == TJpegColours::AdobeCmyk ? 255 : 77, 24 * n);
        }));
        TSourcePicture picture;
        QString error;
        ASSERT_TRUE(LoadJpegPicture(path, picture, error)) << c.name << ": " << error.toStdString();
        ASSERT_EQ(picture.Width, 24);
        ASSERT_EQ(picture.Height, 16);
        for (std::uint8_t g : picture.Grey)
            ASSERT_NEAR(g, c.expected, 1) << c.name;
    }
}

TEST_F(LoadTest, BrokenJpegFilesAreRefusedAndThePreviousPictureStays)
{
    const QByteArray good = ReadFile(PhotoJpeg("photo.jpg", 64, 48));
    ASSERT_GT(good.size(), 600);
    const int sos = good.indexOf(QByteArray("\xFF\xDA", 2));
    ASSERT_GT(sos, 0);

    const int sof = good.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    QByteArray badPrecision = good;
    badPrecision[sof + 4] = 9;  // 9-bit samples: no such baseline JPEG
    QByteArray badComponents = good;
    badComponents[sof + 9] = 0;  // a frame of no components
    QByteArray damagedScan = good;
    const int mid = sos + (good.size() - sos) / 2;
    damagedScan.replace(mid, 2, QByteArray("\xFF\xD9", 2));  // end of image inside the data
    QByteArray noImage = good;
    noImage.replace(sos, 2, QByteArray("\xFF\xD9", 2));  // header, then the end: no scan

    const struct {
        const char* name;
        QByteArray bytes;
        const char* errorPart;
    } cases[] = {
        {"empty.jpg", QByteArray(), "Ошибка чтения JPEG"},
        {"text.jpg", QByteArray("not a picture at all"), "Ошибка чтения JPEG"},
        {"precision.jpg", badPrecision, "Ошибка чтения JPEG"},
        {"components.jpg", badComponents, "Ошибка чтения JPEG"},
        {"cut-header.jpg", good.left(sos / 2), "Ошибка чтения JPEG"},
        {"cut-half.jpg", good.left(sos + (good.size() - sos) / 2), "Premature end"},
        {"cut-end.jpg", good.left(good.size() - 40), "Ошибка чтения JPEG"},
        {"damaged.jpg", damagedScan, "Ошибка чтения JPEG"},
        {"noscan.jpg", noImage, "Ошибка чтения JPEG"},
    };
    for (const auto& c : cases)
        ExpectRefused(Write(c.name, c.bytes), TPictureFormat::Jpeg, c.errorPart);

    // A bitmap named .jpg.bmp is read as a JPEG, and refused.
    const QByteArray bmp = BitmapBytes({4, 4, 24, false, {}, {}, [](int, int) { return qRgb(0, 0, 0); }});
    const QString both = Write("x.jpg.bmp", bmp);
    ExpectRefused(both, PictureFormatOfPath(both), "Ошибка чтения JPEG");
    ExpectRefused(PathOf("missing.jpg"), TPictureFormat::Jpeg, "Не удалось открыть файл");
}

TEST_F(LoadTest, OversizedJpegIsRefusedFromItsHeader)
{
    const QByteArray good = ReadFile(PhotoJpeg("small.jpg", 16, 16));
    const int sof = good.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    // SOF0: marker, length (2), precision (1), height (2), width (2).
    const auto withSize = [&](int w, int h) {
        QByteArray b = good;
        b[sof + 5] = char(h >> 8);
        b[sof + 6] = char(h & 0xFF);
        b[sof + 7] = char(w >> 8);
        b[sof + 8] = char(w & 0xFF);
        return b;
    };
    ExpectRefused(Write("huge.jpg", withSize(20000, 20000)), TPictureFormat::Jpeg,
                  "Изображение слишком велико: 20000 x 20000 точек");
    ExpectRefused(Write("justover.jpg", withSize(10001, 10000)), TPictureFormat::Jpeg,
                  "Изображение слишком велико: 10001 x 10000");
    ExpectRefused(Write("widest.jpg", withSize(65500, 65500)), TPictureFormat::Jpeg,
                  "Изображение слишком велико");
}

// The file with the size in its frame header replaced. libjpeg sets up its
// buffers from that header before it reads any scan, so a small file can
// stand for a large picture as far as memory goes.
QByteArray WithFrameSize(QByteArray b, int w, int h)
{
    int at = 2;  // after SOI
    while (at + 9 <= b.size() && static_cast<std::uint8_t>(b[at]) == 0xFF) {
        const auto marker = static_cast<std::uint8_t>(b[at + 1]);
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
            // SOFn: marker, length (2), precision (1), height (2), width (2).
            b[at + 5] = char(h >> 8);
            b[at + 6] = char(h & 0xFF);
            b[at + 7] = char(w >> 8);
            b[at + 8] = char(w & 0xFF);
            return b;
        }
        at += 2 + (static_cast<std::uint8_t>(b[at + 2]) << 8 | static_cast<std::uint8_t>(b[at + 3]));
    }
    ADD_FAILURE() << "no frame header";
    return b;
}

TEST_F(LoadTest, JpegKeptWholeOverTheMemoryCapIsRefusedForMemory)
{
    // Under the pixel limit, but stored in several scans, so libjpeg would
    // keep every coefficient: 2 bytes per sample. The refusal comes before
    // those buffers exist. The baseline one of the same size passes the
    // check and fails only on its data, which end after 16 x 16 points.
    const struct {
        const char* name;
        TJpegColours colours;
        bool progressive;
        bool scanPerComponent;
        int w, h;
        int bytesPerPoint;  // coefficient memory when kept whole
        const char* errorPart;
    } cases[] = {
        {"rgb-progressive.jpg", TJpegColours::Rgb, true, false, 7000, 7000, 6,
         "Недостаточно памяти для изображения 7000 x 7000 точек"},
        {"ycc420-progressive.jpg", TJpegColours::YCbCr, true, false, 10000, 9500, 3,
         "Недостаточно памяти для изображения 10000 x 9500 точек"},
        {"cmyk-progressive.jpg", TJpegColours::AdobeCmyk, true, false, 6000, 6000, 8,
         "Недостаточно памяти для изображения 6000 x 6000 точек"},
        {"rgb-scan-per-component.jpg", TJpegColours::Rgb, false, true, 7000, 7000, 6,
         "Недостаточно памяти для изображения 7000 x 7000 точек"},
        {"cmyk-baseline.jpg", TJpegColours::AdobeCmyk, false, false, 6000, 6000, 0, "Ошибка чтения JPEG"},
    };
    for (const auto& c : cases) {
        ASSERT_LE(std::int64_t(c.w) * c.h, MaxPicturePixels) << c.name;
        if (c.bytesPerPoint > 0) {
            ASSERT_GT(std::int64_t(c.w) * c.h * c.bytesPerPoint, MaxJpegDecoderMemory) << c.name;
        }
        const QString small = PathOf("small.jpg");
        TJpegLayout layout{16, 16, c.colours, 90, c.progressive};
        layout.ScanPerComponent = c.scanPerComponent;
        ASSERT_TRUE(WriteJpeg(small, layout, [&c](int y, std::uint8_t* s) {
            const int n = c.colours == TJpegColours::AdobeCmyk ? 4 : 3;
            for (int i = 0; i < 16 * n; ++i)
                s[i] = static_cast<std::uint8_t>(i * 13 + y * 7);
        }));
        ExpectRefused(Write(c.name, WithFrameSize(ReadFile(small), c.w, c.h)), TPictureFormat::Jpeg, c.errorPart);
    }
}

TEST_F(LoadTest, JpegTenThousandPixelsWide)
{
    const QString path = PathOf("wide.jpg");
    ASSERT_TRUE(WriteJpeg(path, TJpegLayout{10000, 8, TJpegColours::Rgb, 100, false}, [](int, std::uint8_t* s) {
        for (int x = 0; x < 10000; ++x)
            s[3 * x] = s[3 * x + 1] = s[3 * x + 2] = (x / 8) % 2 ? 255 : 0;
    }));
    TSourcePicture picture;
    QString error;
    ASSERT_TRUE(LoadJpegPicture(path, picture, error)) << error.toStdString();
    EXPECT_EQ(picture.Width, 10000);
    EXPECT_EQ(picture.Height, 8);
    for (int x : {0, 7, 8, 15, 9992, 9999})
        EXPECT_EQ(picture.At(x, 3), (x / 8) % 2 ? 255 : 0) << x;
}

// ---------------------------------------------------------------- BMP

TEST_F(LoadTest, BitmapDepthsAndPalettes)
{
    const std::vector<QRgb> palette16 = {qRgb(0, 0, 0), qRgb(10, 20, 31), qRgb(255, 254, 0), qRgb(255, 255, 255),
                                         qRgb(1, 1, 2), qRgb(90, 0, 0), qRgb(0, 90, 0), qRgb(0, 0, 90),
                                         qRgb(9, 9, 9), qRgb(8, 8, 8), qRgb(7, 7, 7), qRgb(6, 6, 6),
                                         qRgb(5, 5, 5), qRgb(4, 4, 4), qRgb(3, 3, 3), qRgb(200, 100, 50)};
    std::vector<QRgb> palette256(256);
    for (int i = 0; i < 256; ++i)
        palette256[i] = qRgb(255 - i, i, (i * 7) & 0xFF);
    const auto expectGrey = [](QRgb c) { return (qRed(c) + qGreen(c) + qBlue(c)) / 3; };
    const auto rgbAt = [](int x, int y) { return qRgb((x * 37) & 0xFF, (y * 91) & 0xFF, (x * y * 13) & 0xFF); };

    struct Case {
        const char* name;
        TBmpLayout layout;
        std::function<int(int, int)> grey;
    };
    const int w = 21, h = 5;  // odd width: every row is padded
    const std::vector<Case> cases = {
        {"1bit", {w, h, 1, false, {qRgb(200, 10, 3), qRgb(0, 255, 0)}, {}, [](int x, int y) { return (x + y) % 2u; }},
         [](int x, int y) { return (x + y) % 2 ? 85 : 71; }},
        {"4bit", {w, h, 4, false, palette16, {}, [](int x, int y) { return (x + 3 * y) % 16u; }},
         [&](int x, int y) { return expectGrey(palette16[(x + 3 * y) % 16]); }},
        {"8bit", {w, h, 8, false, palette256, {}, [](int x, int y) { return (x * 11 + y * 5) % 256u; }},
         [&](int x, int y) { return expectGrey(palette256[(x * 11 + y * 5) % 256]); }},
        {"8bit-topdown", {w, h, 8, true, palette256, {}, [](int x, int y) { return (x * 11 + y * 5) % 256u; }},
         [&](int x, int y) { return expectGrey(palette256[(x * 11 + y * 5) % 256]); }},
        {"8bit-rle", {w, h, 8, false, palette256, {}, [](int x, int y) { return (x * 11 + y * 5) % 256u; }, true},
         [&](int x, int y) { return expectGrey(palette256[(x * 11 + y * 5) % 256]); }},
        {"24bit", {w, h, 24, false, {}, {}, rgbAt}, [&](int x, int y) { return expectGrey(rgbAt(x, y)); }},
        {"24bit-topdown", {w, h, 24, true, {}, {}, rgbAt}, [&](int x, int y) { return expectGrey(rgbAt(x, y)); }},
        {"32bit", {w, h, 32, false, {}, {}, rgbAt}, [&](int x, int y) { return expectGrey(rgbAt(x, y)); }},
        // 16 bits, 5-5-5 without masks and 5-6-5 with them: black, white and
        // one pure channel at full strength.
        {"16bit-555", {w, h, 16, false, {}, {}, [](int x, int) -> std::uint32_t {
                           return x % 3 == 0 ? 0x0000 : (x % 3 == 1 ? 0x7FFF : 0x7C00);
                       }},
         [](int x, int) { return x % 3 == 0 ? 0 : (x % 3 == 1 ? 255 : 85); }},
        {"16bit-565", {w, h, 16, false, {}, {0xF800, 0x07E0, 0x001F}, [](int x, int) -> std::uint32_t {
                           return x % 3 == 0 ? 0x0000 : (x % 3 == 1 ? 0xFFFF : 0x07E0);
                       }},
         [](int x, int) { return x % 3 == 0 ? 0 : (x % 3 == 1 ? 255 : 85); }},
    };
    for (const Case& c : cases) {
        const QString path = Write((std::string(c.name) + ".bmp").c_str(), BitmapBytes(c.layout));
        TSourcePicture picture;
        QString error;
        ASSERT_TRUE(LoadBitmapPicture(path, picture, error)) << c.name << ": " << error.toStdString();
        ASSERT_EQ(picture.Width, w) << c.name;
        ASSERT_EQ(picture.Height, h) << c.name;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                // Qt widens 5-bit channels by a shift: full strength is 248.
                ASSERT_NEAR(picture.At(x, y), c.grey(x, y), c.layout.Bits == 16 ? 7 : 0)
                    << c.name << " at " << x << "," << y;
    }
}

TEST_F(LoadTest, BrokenBitmapsAreRefusedAndThePreviousPictureStays)
{
    const QByteArray good = BitmapBytes({40, 30, 24, false, {}, {}, [](int x, int y) { return qRgb(x, y, 0); }});
    QByteArray badMagic = good;
    badMagic[1] = 'X';
    QByteArray badHeaderSize = good;
    badHeaderSize[14] = 7;
    std::vector<QRgb> grey256(256);
    for (int i = 0; i < 256; ++i)
        grey256[i] = qRgb(i, i, i);
    const QByteArray rle = BitmapBytes({40, 30, 8, false, grey256, {}, [](int x, int) { return x * 5u; }, true});
    QByteArray badDepth = good;
    badDepth[28] = 7;

    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"empty.bmp", QByteArray()},
        {"magic.bmp", badMagic},
        {"headersize.bmp", badHeaderSize},
        {"depth.bmp", badDepth},
        {"cut-header.bmp", good.left(30)},
        {"cut-pixels.bmp", good.left(14 + 40 + 40 * 3 * 10)},
        {"cut-last-byte.bmp", good.left(good.size() - 1)},
        {"cut-rle.bmp", rle.left(rle.size() - 30)},
    };
    for (const auto& c : cases)
        ExpectRefused(Write(c.name, c.bytes), TPictureFormat::Bitmap, "Ошибка чтения BMP");
    ExpectRefused(PathOf("missing.bmp"), TPictureFormat::Bitmap, "Не удалось открыть файл");
}

TEST_F(LoadTest, OversizedBitmapIsRefusedFromItsHeader)
{
    const auto withSize = [](int bits, int w, int h) {
        QByteArray b = BitmapBytes({8, 8, bits, false, bits == 8 ? std::vector<QRgb>(256, qRgb(1, 2, 3)) : std::vector<QRgb>(),
                                    {}, [](int, int) { return 0u; }});
        for (int i = 0; i < 4; ++i) {
            b[18 + i] = char((w >> (8 * i)) & 0xFF);
            b[22 + i] = char((h >> (8 * i)) & 0xFF);
        }
        return b;
    };
    // Over 100 megapixels, whatever the depth.
    ExpectRefused(Write("huge.bmp", withSize(24, 20000, 20000)), TPictureFormat::Bitmap,
                  "Изображение слишком велико: 20000 x 20000 точек");
    ExpectRefused(Write("huge8.bmp", withSize(8, 10001, 10000)), TPictureFormat::Bitmap,
                  "Изображение слишком велико: 10001 x 10000 точек");
    // Under 100 megapixels but over what Qt's reader may allocate (256 MB
    // by default): 81 megapixels of 32-bit pixels.
    ExpectRefused(Write("limit.bmp", withSize(24, 9000, 9000)), TPictureFormat::Bitmap, "МБ памяти");
}

TEST_F(LoadTest, BitmapTenThousandPixelsWide)
{
    const QString path = Write("wide.bmp", BitmapBytes({10000, 3, 24, false, {}, {}, [](int x, int y) {
                                                            return x % 10 == 5 ? qRgb(0, 0, 0) : qRgb(255, 255, y);
                                                        }}));
    TSourcePicture picture;
    QString error;
    ASSERT_TRUE(LoadBitmapPicture(path, picture, error)) << error.toStdString();
    EXPECT_EQ(picture.Width, 10000);
    EXPECT_EQ(picture.Height, 3);
    EXPECT_EQ(picture.At(5, 0), 0);
    EXPECT_EQ(picture.At(9995, 2), 0);
    EXPECT_EQ(picture.At(9999, 2), (255 + 255 + 2) / 3);
}

TEST_F(LoadTest, SuccessfulLoadReplacesThePicture)
{
    TSourcePicture picture = Previous();
    QString error;
    ASSERT_TRUE(LoadSourcePicture(TwoBlockJpeg("ok.jpg"), TPictureFormat::Jpeg, picture, error));
    EXPECT_EQ(picture.Width, 16);
    EXPECT_EQ(picture.Grey.size(), 128u);
}

// A folder and a name with Cyrillic letters and spaces, as pictures are
// kept on a Russian Windows: libjpeg reads from a file the loader opens.
TEST_F(LoadTest, JpegInAFolderWithCyrillicLettersAndSpaces)
{
    const QString folder = dir_.filePath(QStringLiteral("Логотип магазина"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/чек 1.jpg");
    ASSERT_TRUE(QFile::copy(TwoBlockJpeg("plain.jpg"), path));
    TSourcePicture picture;
    QString error;
    ASSERT_TRUE(LoadSourcePicture(path, TPictureFormat::Jpeg, picture, error)) << error.toStdString();
    EXPECT_EQ(picture.Width, 16);
    EXPECT_EQ(picture.Height, 8);
}

}  // namespace
