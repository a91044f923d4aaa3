// The pieces the logo page and the command-line tool share: which frames
// may be asked for, and the load's checks in the order the page makes them.
#include "LogoFrame.h"
#include "LogoUpload.h"
#include "PictureFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Where the four frame sliders settle when a person sets width, height,
// left and top in that order, starting from the full frame a 384 x 255
// picture's load leaves.
TCopyRect FrameBySliders(int left, int top, int width, int height)
{
    TCopyRect rect{0, 0, 383, 254};
    int w = 384, h = 255, l = 0, t = 0;
    const auto redraw = [&] { rect = {l, t, l + w - 1, t + h - 1}; };
    w = SettleFrameSlider(TFrameSlider::Width, w, width, rect);
    redraw();
    h = SettleFrameSlider(TFrameSlider::Height, h, height, rect);
    redraw();
    l = SettleFrameSlider(TFrameSlider::Left, l, left, rect);
    redraw();
    t = SettleFrameSlider(TFrameSlider::Top, t, top, rect);
    redraw();
    return rect;
}

} // namespace

// A frame is accepted exactly when the sliders reach it as asked, so that
// whatever is accepted is something the page can show and upload too.
TEST(LogoFrameCheckTest, AcceptsWhatTheSlidersReach)
{
    const struct {
        int left, top, width, height;
    } cases[] = {
        {0, 0, 384, 255}, {0, 0, 8, 1},    {376, 254, 8, 1}, {101, 37, 8, 1},  {0, 0, 104, 50},
        {280, 0, 104, 255}, {0, 100, 384, 155}, {1, 0, 384, 255}, {0, 1, 384, 255}, {377, 0, 8, 1},
        {0, 0, 100, 50},  {0, 0, 0, 50},   {0, 0, 392, 50},  {0, 0, 8, 0},     {0, 0, 8, 256},
        {-1, 0, 8, 1},    {0, -1, 8, 1},   {384, 0, 8, 1},   {0, 255, 8, 1},   {200, 200, 184, 56},
    };
    for (const auto& c : cases) {
        const TCopyRect wanted{c.left, c.top, c.left + c.width - 1, c.top + c.height - 1};
        const bool reached = FrameBySliders(c.left, c.top, c.width, c.height) == wanted;
        const QString why = CheckLogoFrame(c.left, c.top, c.width, c.height);
        EXPECT_EQ(why.isEmpty(), reached) << c.left << "," << c.top << "," << c.width << "," << c.height
                                          << ": " << why.toStdString();
    }
}

// The name's type is judged before the file is looked for, and a refused
// load leaves the picture held before as it was.
TEST(LogoLoadTest, ChecksInThePagesOrder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    PictureFiles::TBmpLayout layout;
    layout.Width = 10;
    layout.Height = 4;
    layout.Pixel = [](int x, int) { return x % 2 ? 0u : 0xFFFFFFu; };
    const QString good = dir.filePath(QStringLiteral("good.bmp"));
    ASSERT_TRUE(PictureFiles::WriteFile(good, PictureFiles::BitmapBytes(layout)));
    const QString broken = dir.filePath(QStringLiteral("broken.bmp"));
    ASSERT_TRUE(PictureFiles::WriteFile(broken, "BM not really"));

    TSourcePicture picture;
    QString error;
    ASSERT_EQ(LoadLogoPicture(good, picture, error), TLogoLoad::Ok);
    const TSourcePicture held = picture;

    const struct {
        QString path;
        TLogoLoad result;
        QString error; // empty: the decoder's own
    } cases[] = {
        {dir.filePath(QStringLiteral("missing.jpeg")), TLogoLoad::Unsupported, QStringLiteral("Неподдерживаемый тип файла")},
        {dir.filePath(QStringLiteral("missing.bmp")), TLogoLoad::Missing, QStringLiteral("Файл не найден")},
        {QString(), TLogoLoad::Unsupported, QStringLiteral("Неподдерживаемый тип файла")},
        {broken, TLogoLoad::Failed, QString()},
    };
    for (const auto& c : cases) {
        error.clear();
        EXPECT_EQ(LoadLogoPicture(c.path, picture, error), c.result) << c.path.toStdString();
        if (c.error.isEmpty())
            EXPECT_FALSE(error.isEmpty());
        else
            EXPECT_EQ(error, c.error);
        EXPECT_EQ(picture.Grey, held.Grey);
        EXPECT_EQ(picture.Width, held.Width);
    }

    const TLogoSettings loaded = LoadedLogoSettings(picture);
    EXPECT_EQ(loaded.Width, 16);
    EXPECT_EQ(loaded.Height, 4);
    EXPECT_TRUE(CheckLogoFrame(loaded.Left, loaded.Top, loaded.Width, loaded.Height).isEmpty());
}
