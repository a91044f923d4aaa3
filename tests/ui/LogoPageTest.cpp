// The logo page without a register: its controls, the frame sliders with
// their limits and nested changes, the scale coupling, the loader with its
// file dialog and message boxes, and the preview it shows.
#include "LogoFrame.h"
#include "LogoPreview.h"
#include "LogoTestFiles.h"
#include "PictureFiles.h"
#include "TTrackBar.h"
#include "UiTestSupport.h"
#include "uLogoPage.h"
#include "uMainForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

// A preview pixel as (R, G, B).
struct TRgb {
    int R, G, B;
    bool operator==(const TRgb&) const = default;
};

TRgb PixelAt(const QImage& image, int x, int y)
{
    const uchar* p = image.constScanLine(y) + 3 * x;
    return {p[0], p[1], p[2]};
}

constexpr TRgb kBlack{0, 0, 0};
constexpr TRgb kWhite{255, 255, 255};
constexpr TRgb kFrameOverWhite{255, 0, 0};
constexpr TRgb kFrameOverBlack{254, 0, 0};

// The preview the window should show: the library's rebuild of the picture
// with the given settings and the frame drawn at the sliders' place.
QImage ExpectedPreview(const TMainForm& m, const TFillOptions& options)
{
    QImage preview = NewLogoPreview();
    FillImage(m.ts_Logo->SourcePicture, options, preview);
    TCopyRect frame;
    const TLogoPage* p = m.ts_Logo;
    DrawRect(preview, frame, p->tb_left->value(), p->tb_top->value(), p->tb_width->value(), p->tb_height->value());
    return preview;
}

bool AllPixels(const QImage& image, const TRgb& colour)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!(PixelAt(image, x, y) == colour))
                return false;
    return true;
}

QString WriteJpeg(const QTemporaryDir& dir, const QString& name, int w, int h, int grey)
{
    PictureFiles::TJpegLayout layout;
    layout.Width = w;
    layout.Height = h;
    layout.Colours = PictureFiles::TJpegColours::Grey;
    const QString path = dir.filePath(name);
    const bool ok = PictureFiles::WriteJpeg(path, layout, [w, grey](int, std::uint8_t* samples) {
        std::fill(samples, samples + w, static_cast<std::uint8_t>(grey));
    });
    return ok ? path : QString();
}

struct TLoadOutcome {
    bool DialogShown = false;
    QString NameOnShow;     // the dialog's file name when it came up
    QStringList Filters;    // its filters when it came up
    bool FilterDetailsHidden = false;
    QList<TSeenBox> Boxes;  // the boxes shown after it, in order
    QStringList Unexpected;
};

// Runs Start (which opens the loader) and answers the open dialog with Path
// (cancels it when Path is empty), then presses OK on Boxes message boxes.
// The dialog takes a name that does not exist: the loader reports it.
TLoadOutcome RunLoader(const std::function<void()>& start, const QString& path, int boxes = 0)
{
    TLoadOutcome out;
    TModalDriver driver;
    driver.OnDialog<QFileDialog>([&out, path](QFileDialog* d) {
        out.DialogShown = true;
        if (auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            out.NameOnShow = name->text();
        out.Filters = d->nameFilters();
        out.FilterDetailsHidden = d->testOption(QFileDialog::HideNameFilterDetails);
        if (path.isEmpty()) {
            d->reject();
            return;
        }
        TypeFileName(d, path);
        static_cast<QDialog*>(d)->accept(); // QFileDialog::accept, with its checks
    });
    QList<TSeenBox> seen(boxes);
    for (int i = 0; i < boxes; ++i)
        driver.AcceptBox(&seen[i]);
    start();
    out.Boxes = seen;
    out.Unexpected = driver.Unexpected;
    if (!driver.Done())
        out.Unexpected << QStringLiteral("steps left over");
    return out;
}

// Sets slider positions one after another: "width=104 left=383".
void Apply(TLogoPage* p, const QString& steps)
{
    const QHash<QString, QSlider*> sliders{{"width", p->tb_width}, {"height", p->tb_height},
                                           {"left", p->tb_left},   {"top", p->tb_top},
                                           {"contrast", p->tb_Contrast}, {"resh", p->tb_Res_h},
                                           {"resv", p->tb_res_v}};
    for (const QString& step : steps.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList kv = step.split(QLatin1Char('='));
        QSlider* s = sliders.value(kv.value(0));
        QVERIFY2(s, qPrintable(step));
        s->setValue(kv.value(1).toInt());
    }
}

QString Frame(const TCopyRect& r)
{
    return QStringLiteral("%1,%2,%3,%4").arg(r.Left).arg(r.Top).arg(r.Right).arg(r.Bottom);
}

} // namespace

class LogoPageTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void controlsAtStart();
    void frameSliders_data();
    void frameSliders();
    void beforeTheFirstLoad();
    void loadRules_data();
    void loadRules();
    void loadSetsTheFrame_data();
    void loadSetsTheFrame();
    void loadKeepsFrameWidthOfPreviousOffset();
    void frameOverBlackPixelsMovedAway();
    void scalesAndProportions();
    void contrastTakesEffectAtTheNextRebuild();
    void halftones();
    void importOpensTheLoader();
    void drawRectErrorKeepsTheFrame();

private:
    TLogoPage* Page() const { return main_->ts_Logo; }
    // Loads Path through the import command on the logo page; true when the
    // dialog came and went with no box.
    bool Load(const QString& path);

    std::unique_ptr<TMainForm> main_;
    std::unique_ptr<QTemporaryDir> dir_;
};

void LogoPageTest::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    main_ = std::make_unique<TMainForm>();
    main_->show();
    main_->eb_Logo->click();
    QCOMPARE(main_->ActivePage(), int(TMainForm::pgLogo));
}

void LogoPageTest::cleanup()
{
    main_.reset();
    dir_.reset();
}

bool LogoPageTest::Load(const QString& path)
{
    const TLoadOutcome out = RunLoader([this] { main_->si_ImportClick(); }, path);
    if (!out.Unexpected.isEmpty())
        qWarning() << out.Unexpected;
    return out.DialogShown && out.Unexpected.isEmpty();
}

void LogoPageTest::controlsAtStart()
{
    TLogoPage* p = Page();
    QCOMPARE(p->objectName(), QStringLiteral("ts_Logo"));
    QCOMPARE(p->windowTitle(), QStringLiteral("Логотип"));
    QCOMPARE(main_->FrontPage(), static_cast<TPage*>(p));

    struct TRow {
        TTrackBar* Slider;
        const char* Name;
        int Min, Max, Position, Single, PageStep, Ticks;
        QLabel* Caption;
        QString CaptionText;
        QLabel* Counter;
        QString CounterText;
    };
    const TRow rows[] = {
        {p->tb_width, "tb_width", 8, 384, 384, 8, 80, 16, p->lb_width, "Ширина:", p->lb_width_cnt, "384"},
        {p->tb_height, "tb_height", 1, 255, 255, 8, 80, 16, p->lb_height, "Высота:", p->lb_height_cnt, "255"},
        {p->tb_left, "tb_left", 0, 383, 0, 1, 10, 15, p->lb_left, "Отступ слева:", p->lb_left_cnt, "0"},
        {p->tb_top, "tb_top", 0, 254, 0, 1, 10, 15, p->lb_top, "Отступ сверху:", p->lb_top_cnt, "0"},
        {p->tb_Contrast, "tb_Contrast", 0, 100, 51, 1, 10, 5, p->lb_Contrast, "Контраст", p->lb_Contrast_pr, "50%"},
        {p->tb_Res_h, "tb_Res_h", 1, 50, 10, 1, 2, 2, p->lb_Res_h, "Масштаб гор.: ", p->lb_Res_h_per, "100%"},
        {p->tb_res_v, "tb_res_v", 1, 50, 10, 1, 2, 2, p->lb_res_v, "Масштаб верт.: ", p->lb_res_v_per, "100%"},
    };
    for (const TRow& r : rows) {
        QCOMPARE(r.Slider->objectName(), QLatin1String(r.Name));
        QCOMPARE(r.Slider->minimum(), r.Min);
        QCOMPARE(r.Slider->maximum(), r.Max);
        QCOMPARE(r.Slider->value(), r.Position);
        QCOMPARE(r.Slider->singleStep(), r.Single);
        QCOMPARE(r.Slider->pageStep(), r.PageStep);
        QCOMPARE(r.Slider->tickInterval(), r.Ticks);
        QCOMPARE(r.Slider->SelStart(), r.Min);
        QCOMPARE(r.Slider->SelEnd(), r.Position);
        QCOMPARE(r.Caption->text(), r.CaptionText);
        QCOMPARE(r.Counter->text(), r.CounterText);
    }
    for (auto [slider, group] : {std::pair{p->tb_width, p->gb_CopyRes}, {p->tb_top, p->gb_CopyRes},
                                 {p->tb_Contrast, p->gb_LogoProp}, {p->tb_res_v, p->gb_LogoProp}})
        QCOMPARE(slider->parentWidget(), static_cast<QWidget*>(group));
    QCOMPARE(p->gb_CopyRes->title(), QStringLiteral("Копируемая область"));
    QCOMPARE(p->gb_LogoProp->title(), QStringLiteral("Настройки изображения"));
    QCOMPARE(p->gb_LogoType->title(), QStringLiteral("Изображение записываемое в ДЛФ"));

    QCOMPARE(p->cb_proportion->text(), QStringLiteral("Сохранять пропорции"));
    QVERIFY(p->cb_proportion->isChecked());
    QCOMPARE(p->cb_invertion->text(), QStringLiteral("Инвертировать изображение"));
    QVERIFY(!p->cb_invertion->isChecked());
    QCOMPARE(p->cb_dither->objectName(), QStringLiteral("cb_dither"));
    QCOMPARE(p->cb_dither->text(), QStringLiteral("Полутона"));
    QVERIFY(!p->cb_dither->isChecked());
    QApplication::processEvents();
    QVERIFY(p->cb_proportion->y() < p->cb_invertion->y());
    QVERIFY(p->cb_invertion->y() < p->cb_dither->y());

    QCOMPARE(p->rb_LogoType1->text(), QStringLiteral("Изображение в заголовке чека"));
    QVERIFY(p->rb_LogoType1->isChecked());
    QCOMPARE(p->rb_LogoType2->text(), QStringLiteral("Изображение в окончании чека"));
    QVERIFY(!p->rb_LogoType2->isChecked());

    QCOMPARE(p->bvl_Logo->objectName(), QStringLiteral("bvl_Logo"));
    QCOMPARE(p->bvl_Logo->size(), QSize(401, 273));
    QCOMPARE(p->img_Logo->objectName(), QStringLiteral("img_Logo"));
    QCOMPARE(p->img_Logo->parentWidget(), static_cast<QWidget*>(p->bvl_Logo));
    QCOMPARE(p->img_Logo->pos(), QPoint(8, 8));
    QCOMPARE(p->img_Logo->Picture.size(), QSize(384, 255));
    QCOMPARE(p->img_Logo->Picture.format(), QImage::Format_RGB888);
    QVERIFY(AllPixels(p->img_Logo->Picture, kWhite));

    QVERIFY(main_->ts_Logo->SourcePicture.IsEmpty());
    QVERIFY(!main_->ts_Logo->AutoRebuild);
    QCOMPARE(Frame(main_->ts_Logo->CopyRect), QStringLiteral("0,0,0,0"));
}

void LogoPageTest::frameSliders_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("positions"); // width height left top
    QTest::addColumn<QString>("frame");

    QTest::newRow("width to a multiple of 8") << "width=100" << "96 255 0 0" << "0,0,95,254";
    QTest::newRow("width 383 steps down to 376") << "width=383" << "376 255 0 0" << "0,0,375,254";
    QTest::newRow("width below the range") << "width=3" << "8 255 0 0" << "0,0,7,254";
    QTest::newRow("left stops at 280 with width 104") << "width=104 left=383" << "104 255 280 0" << "280,0,383,254";
    QTest::newRow("then width stops at 104") << "width=104 left=383 width=384" << "104 255 280 0"
                                             << "280,0,383,254";
    QTest::newRow("width limited by the left offset") << "width=184 left=200 width=384" << "184 255 200 0"
                                                      << "200,0,383,254";
    QTest::newRow("width limit then step") << "width=200 left=180 width=210" << "200 255 180 0"
                                           << "180,0,379,254";
    QTest::newRow("left with the full width") << "left=10" << "384 255 0 0" << "0,0,383,254";
    QTest::newRow("top stops at 205 with height 50") << "height=50 top=254" << "384 50 0 205" << "0,205,383,254";
    QTest::newRow("then height stops at 50") << "height=50 top=254 height=255" << "384 50 0 205"
                                             << "0,205,383,254";
    QTest::newRow("top with the full height") << "top=10" << "384 255 0 0" << "0,0,383,254";
    QTest::newRow("one dot") << "width=8 height=1 left=376 top=254" << "8 1 376 254" << "376,254,383,254";
}

void LogoPageTest::frameSliders()
{
    QFETCH(QString, steps);
    QFETCH(QString, positions);
    QFETCH(QString, frame);
    TLogoPage* p = Page();
    // As after any load: the frame drawn at the sliders' start positions.
    p->DrawRect();
    QCOMPARE(Frame(main_->ts_Logo->CopyRect), QStringLiteral("0,0,383,254"));

    Apply(p, steps);

    const QList<TTrackBar*> sliders{p->tb_width, p->tb_height, p->tb_left, p->tb_top};
    const QList<QLabel*> counters{p->lb_width_cnt, p->lb_height_cnt, p->lb_left_cnt, p->lb_top_cnt};
    const QStringList want = positions.split(QLatin1Char(' '));
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(QString::number(sliders[i]->value()), want[i]);
        QCOMPARE(counters[i]->text(), want[i]);
        QCOMPARE(QString::number(sliders[i]->SelEnd()), want[i]);
    }
    QCOMPARE(Frame(main_->ts_Logo->CopyRect), frame);
    // Exactly one frame on the preview, where CopyRect says.
    QCOMPARE(p->img_Logo->Picture, ExpectedPreview(*main_, {}));
}

void LogoPageTest::beforeTheFirstLoad()
{
    TLogoPage* p = Page();
    // The scale sliders change only their labels.
    p->tb_res_v->setValue(25);
    QCOMPARE(p->lb_res_v_per->text(), QStringLiteral("250%"));
    QCOMPARE(p->lb_Res_h_per->text(), QStringLiteral("250%"));
    QVERIFY(AllPixels(p->img_Logo->Picture, kWhite));
    QCOMPARE(Frame(main_->ts_Logo->CopyRect), QStringLiteral("0,0,0,0"));

    // A frame slider draws the frame on the blank preview.
    p->tb_height->setValue(100);
    QCOMPARE(Frame(main_->ts_Logo->CopyRect), QStringLiteral("0,0,383,99"));
    QCOMPARE(PixelAt(p->img_Logo->Picture, 0, 0), kFrameOverWhite);
    QCOMPARE(PixelAt(p->img_Logo->Picture, 383, 99), kFrameOverWhite);
    QCOMPARE(PixelAt(p->img_Logo->Picture, 1, 1), kWhite);

    // Inverting rebuilds: a white preview (no picture to invert) with the frame.
    p->cb_invertion->click();
    QCOMPARE(p->img_Logo->Picture, ExpectedPreview(*main_, {25, 25, 51, true, false}));
    QCOMPARE(PixelAt(p->img_Logo->Picture, 1, 1), kWhite);
}

void LogoPageTest::loadRules_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("content"); // jpg, bmp, garbage or none (no file)
    QTest::addColumn<QString>("box");     // the box's text, empty for none
    QTest::addColumn<bool>("loaded");

    const QString unsupported = QStringLiteral("Неподдерживаемый тип файла");
    const QString missing = QStringLiteral("Файл не найден");
    QTest::newRow("jpg") << "p.jpg" << "jpg" << "" << true;
    QTest::newRow("upper-case BMP") << "P.BMP" << "bmp" << "" << true;
    QTest::newRow("bmp.jpg read as JPEG") << "p.bmp.jpg" << "jpg" << "" << true;
    QTest::newRow(".jpg in a folder name") << "pics.jpg.d/p.bmp" << "jpg" << "" << true;
    QTest::newRow("jpeg is unsupported") << "p.jpeg" << "jpg" << unsupported << false;
    QTest::newRow("png is unsupported") << "p.png" << "bmp" << unsupported << false;
    QTest::newRow("unsupported before missing") << "nothing.gif" << "none" << unsupported << false;
    QTest::newRow("missing jpg") << "nothing.jpg" << "none" << missing << false;
    QTest::newRow("missing bmp in a missing folder") << "gone/nothing.bmp" << "none" << missing << false;
    QTest::newRow("missing jpeg is unsupported") << "nothing.jpeg" << "none" << unsupported << false;
    QTest::newRow("jpg.bmp is a JPEG: a bitmap fails") << "p.jpg.bmp" << "bmp"
                                                       << "Ошибка по месту: Tfm_Main.bt_load_logoClick" << false;
    QTest::newRow("corrupt bmp") << "p.bmp" << "garbage" << "Ошибка по месту: Tfm_Main.bt_load_logoClick"
                                 << false;
    QTest::newRow("cancelled") << "" << "none" << "" << false;
}

void LogoPageTest::loadRules()
{
    QFETCH(QString, name);
    QFETCH(QString, content);
    QFETCH(QString, box);
    QFETCH(bool, loaded);
    TLogoPage* p = Page();

    // A picture already there, framed at 64 x 20 from 8, 3, the settings moved.
    const QString first = WriteBmp(*dir_, "first.bmp", 64, 20, [](int x, int) { return x < 32 ? qRgb(0, 0, 0) : qRgb(255, 255, 255); });
    QVERIFY(Load(first));
    Apply(p, "left=8 top=3 contrast=70");
    p->tb_res_v->setValue(12);
    const TSourcePicture before = main_->ts_Logo->SourcePicture;
    const QImage previewBefore = p->img_Logo->Picture;
    const TCopyRect frameBefore = main_->ts_Logo->CopyRect;

    QString path;
    if (!name.isEmpty()) {
        path = dir_->filePath(name);
        if (content != "none")
            QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        if (content == "jpg")
            QVERIFY(!WriteJpeg(*dir_, name, 24, 10, 0).isEmpty());
        else if (content == "bmp")
            QVERIFY(!WriteBmp(*dir_, name, 24, 10, [](int, int) { return qRgb(0, 0, 0); }).isEmpty());
        else if (content == "garbage")
            QVERIFY(PictureFiles::WriteFile(path, QByteArray("BM not a bitmap at all")));
    }

    const TLoadOutcome out = RunLoader([this] { main_->si_ImportClick(); }, path, box.isEmpty() ? 0 : 1);
    QVERIFY2(out.Unexpected.isEmpty(), qPrintable(out.Unexpected.join('\n')));
    QVERIFY(out.DialogShown);
    // The goods import gets the dialog back as it was.
    QCOMPARE(main_->OpenDialog()->fileMode(), QFileDialog::ExistingFile);
    if (!box.isEmpty()) {
        QVERIFY2(out.Boxes[0].Text.startsWith(box), qPrintable(out.Boxes[0].Text));
        QCOMPARE(out.Boxes[0].Title, QStringLiteral("Ошибка"));
        QCOMPARE(out.Boxes[0].Icon, QMessageBox::Critical);
    }
    if (loaded) {
        QCOMPARE(main_->ts_Logo->SourcePicture.Width, 24);
        QCOMPARE(main_->ts_Logo->SourcePicture.Height, 10);
        QCOMPARE(p->tb_width->value(), 24);
        QCOMPARE(p->tb_height->value(), 10);
        QCOMPARE(p->lb_Contrast_pr->text(), QStringLiteral("50%"));
        QCOMPARE(p->lb_res_v_per->text(), QStringLiteral("100%"));
        QCOMPARE(Frame(main_->ts_Logo->CopyRect), QStringLiteral("0,0,23,9"));
        QCOMPARE(p->img_Logo->Picture, ExpectedPreview(*main_, {10, 10, 50, false, false}));
    } else {
        // Everything as it was.
        QCOMPARE(main_->ts_Logo->SourcePicture.Grey, before.Grey);
        QCOMPARE(main_->ts_Logo->SourcePicture.Width, before.Width);
        QCOMPARE(p->img_Logo->Picture, previewBefore);
        QCOMPARE(main_->ts_Logo->CopyRect, frameBefore);
        QCOMPARE(p->tb_Contrast->value(), 70);
        QCOMPARE(p->tb_res_v->value(), 12);
        QCOMPARE(p->tb_left->value(), 8);
    }
    QVERIFY(main_->ts_Logo->AutoRebuild);
}

void LogoPageTest::loadSetsTheFrame_data()
{
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<QString>("frame");

    QTest::newRow("100 x 50") << 100 << 50 << "0,0,103,49";
    QTest::newRow("320 x 1") << 320 << 1 << "0,0,319,0";
    QTest::newRow("321 wide") << 321 << 10 << "0,0,383,9";
    QTest::newRow("330 wide") << 330 << 10 << "0,0,383,9";
    QTest::newRow("400 x 300, cut") << 400 << 300 << "0,0,383,254";
    QTest::newRow("3 x 2") << 3 << 2 << "0,0,7,1";
}

void LogoPageTest::loadSetsTheFrame()
{
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(QString, frame);
    TLogoPage* p = Page();

    // Black everywhere: every dot of the picture is black, what lies beyond white.
    QVERIFY(Load(WriteBmp(*dir_, "black.bmp", w, h, [](int, int) { return qRgb(0, 0, 0); })));
    QCOMPARE(Frame(main_->ts_Logo->CopyRect), frame);
    QCOMPARE(p->lb_width_cnt->text(), QString::number(main_->ts_Logo->CopyRect.Right + 1));
    QCOMPARE(p->lb_height_cnt->text(), QString::number(main_->ts_Logo->CopyRect.Bottom + 1));
    const QImage& preview = p->img_Logo->Picture;
    QCOMPARE(preview, ExpectedPreview(*main_, {}));
    // Inside the picture, off the frame: black; right of it: white.
    if (w > 2 && h > 2)
        QCOMPARE(PixelAt(preview, 1, 1), kBlack);
    if (w < main_->ts_Logo->CopyRect.Right + 1) // the frame's top row, past the picture
        QCOMPARE(PixelAt(preview, w, 0), kFrameOverWhite);
    if (w < 383 && h > 2)
        QCOMPARE(PixelAt(preview, w, 1), kWhite);
    QCOMPARE(PixelAt(preview, 0, 0), kFrameOverBlack);
    QVERIFY(main_->ts_Logo->AutoRebuild);
}

void LogoPageTest::loadKeepsFrameWidthOfPreviousOffset()
{
    TLogoPage* p = Page();
    QVERIFY(Load(WriteBmp(*dir_, "a.bmp", 184, 10, [](int, int) { return qRgb(0, 0, 0); })));
    p->tb_left->setValue(200);
    QCOMPARE(p->tb_left->value(), 200);
    // The width is set while the old frame still stands at 200.
    QVERIFY(Load(WriteBmp(*dir_, "b.bmp", 384, 10, [](int, int) { return qRgb(0, 0, 0); })));
    QCOMPARE(p->tb_width->value(), 184);
    QCOMPARE(p->tb_left->value(), 0);
    QCOMPARE(Frame(main_->ts_Logo->CopyRect), QStringLiteral("0,0,183,9"));
}

void LogoPageTest::frameOverBlackPixelsMovedAway()
{
    TLogoPage* p = Page();
    QVERIFY(Load(WriteBmp(*dir_, "black.bmp", 384, 255, [](int, int) { return qRgb(0, 0, 0); })));
    p->tb_height->setValue(1);
    QCOMPARE(Frame(main_->ts_Logo->CopyRect), QStringLiteral("0,0,383,0"));
    const QImage& preview = p->img_Logo->Picture;
    for (int x = 0; x < 384; ++x)
        QCOMPARE(PixelAt(preview, x, 0), kFrameOverBlack);
    QCOMPARE(PixelAt(preview, 5, 1), kBlack);

    p->tb_top->setValue(5);
    for (int x = 0; x < 384; ++x) {
        QCOMPARE(PixelAt(preview, x, 0), kBlack);
        QCOMPARE(PixelAt(preview, x, 5), kFrameOverBlack);
    }
    // Narrower: the columns given up are black again.
    p->tb_width->setValue(16);
    QCOMPARE(PixelAt(preview, 15, 5), kFrameOverBlack);
    QCOMPARE(PixelAt(preview, 16, 5), kBlack);
    QCOMPARE(PixelAt(preview, 383, 5), kBlack);
}

void LogoPageTest::scalesAndProportions()
{
    TLogoPage* p = Page();
    QVERIFY(Load(WriteBmp(*dir_, "ramp.bmp", 60, 40,
                          [](int x, int y) { return (x / 3 + y / 2) % 2 ? qRgb(0, 0, 0) : qRgb(255, 255, 255); })));
    const TCopyRect frame = main_->ts_Logo->CopyRect;

    // Kept: the vertical scale takes the horizontal one with it, one rebuild
    // after both labels show 250 %.
    p->tb_res_v->setValue(25);
    QCOMPARE(p->tb_Res_h->value(), 25);
    QCOMPARE(p->lb_Res_h_per->text(), QStringLiteral("250%"));
    QCOMPARE(p->lb_res_v_per->text(), QStringLiteral("250%"));
    QCOMPARE(p->tb_Res_h->SelEnd(), 25);
    QCOMPARE(p->tb_res_v->SelEnd(), 25);
    QCOMPARE(p->img_Logo->Picture, ExpectedPreview(*main_, {25, 25, 50, false, false}));
    QCOMPARE(main_->ts_Logo->CopyRect, frame); // the frame stays where it was
    QVERIFY(main_->ts_Logo->AutoRebuild);

    // Not kept: each moves alone.
    p->cb_proportion->click();
    QCOMPARE(p->tb_Res_h->value(), 25);
    p->tb_Res_h->setValue(3);
    QCOMPARE(p->tb_res_v->value(), 25);
    QCOMPARE(p->img_Logo->Picture, ExpectedPreview(*main_, {3, 25, 50, false, false}));
    p->tb_res_v->setValue(50);
    QCOMPARE(p->tb_Res_h->value(), 3);
    QCOMPARE(p->img_Logo->Picture, ExpectedPreview(*main_, {3, 50, 50, false, false}));

    // Ticked again: the horizontal scale follows the vertical one at once.
    p->cb_proportion->click();
    QCOMPARE(p->tb_Res_h->value(), 50);
    QCOMPARE(p->lb_Res_h_per->text(), QStringLiteral("500%"));
    QCOMPARE(p->img_Logo->Picture, ExpectedPreview(*main_, {50, 50, 50, false, false}));

    // Keyboard steps move the slider like the mouse does.
    p->tb_res_v->setFocus();
    QTest::keyClick(p->tb_res_v, Qt::Key_PageDown);
    QCOMPARE(p->tb_res_v->value(), 48);
    QCOMPARE(p->tb_Res_h->value(), 48);
    QCOMPARE(p->img_Logo->Picture, ExpectedPreview(*main_, {48, 48, 50, false, false}));
}

void LogoPageTest::contrastTakesEffectAtTheNextRebuild()
{
    TLogoPage* p = Page();
    // Grey levels 0, 128, 131 and 255 in bands of 10 columns.
    const int levels[] = {0, 128, 131, 255};
    QVERIFY(Load(WriteBmp(*dir_, "grey.bmp", 40, 8, [&](int x, int) {
        const int g = levels[x / 10];
        return qRgb(g, g, g);
    })));
    const QImage at50 = p->img_Logo->Picture;
    QCOMPARE(PixelAt(at50, 15, 3), kWhite); // 128 at 50 %
    QCOMPARE(PixelAt(at50, 25, 3), kWhite);

    p->tb_Contrast->setValue(51);
    QCOMPARE(p->lb_Contrast_pr->text(), QStringLiteral("51%"));
    QCOMPARE(p->tb_Contrast->SelEnd(), 51);
    QCOMPARE(p->img_Logo->Picture, at50);

    // The next inversion applies it: 128 is below the threshold of 51 %.
    p->cb_invertion->click();
    QCOMPARE(p->img_Logo->Picture, ExpectedPreview(*main_, {10, 10, 51, true, false}));
    QCOMPARE(PixelAt(p->img_Logo->Picture, 15, 3), kWhite);
    QCOMPARE(PixelAt(p->img_Logo->Picture, 25, 3), kBlack);
    QCOMPARE(PixelAt(p->img_Logo->Picture, 35, 3), kBlack);

    // And a scale change does too.
    p->tb_Contrast->setValue(100);
    p->tb_res_v->setValue(11);
    QCOMPARE(p->img_Logo->Picture, ExpectedPreview(*main_, {11, 11, 100, true, false}));
    QCOMPARE(PixelAt(p->img_Logo->Picture, 35, 3), kBlack);
    QCOMPARE(PixelAt(p->img_Logo->Picture, 30, 3), kWhite); // 131 inverted
}

void LogoPageTest::halftones()
{
    TLogoPage* p = Page();
    QVERIFY(Load(WriteBmp(*dir_, "mid.bmp", 64, 64, [](int, int) { return qRgb(128, 128, 128); })));
    const QImage plain = p->img_Logo->Picture;
    QCOMPARE(PixelAt(plain, 10, 10), kWhite);

    p->cb_dither->click();
    const QImage dithered = p->img_Logo->Picture;
    QCOMPARE(dithered, ExpectedPreview(*main_, {10, 10, 50, false, true}));
    // Mid-grey comes out as about half the dots.
    int black = 0;
    for (int y = 1; y < 63; ++y)
        for (int x = 1; x < 63; ++x)
            black += PixelAt(dithered, x, y) == kBlack;
    QVERIFY2(black > 62 * 62 * 2 / 5 && black < 62 * 62 * 3 / 5, qPrintable(QString::number(black)));

    p->cb_dither->click();
    QCOMPARE(p->img_Logo->Picture, plain);
}

void LogoPageTest::importOpensTheLoader()
{
    TLogoPage* p = Page();
    const QString path = WriteBmp(*dir_, "pic.bmp", 16, 4, [](int, int) { return qRgb(0, 0, 0); });
    main_->OpenDialog()->selectFile(dir_->filePath("old-name.csv"));
    main_->OpenDialog()->setOption(QFileDialog::HideNameFilterDetails, false);

    // Through the button, once the idle routine has made it available.
    QVERIFY(SpinUntil([&] { return main_->si_Import->isEnabled(); }));
    const TLoadOutcome out = RunLoader([this] { QTest::mouseClick(main_->si_Import, Qt::LeftButton); }, path);
    QVERIFY2(out.Unexpected.isEmpty(), qPrintable(out.Unexpected.join('\n')));
    QVERIFY(out.DialogShown);
    QCOMPARE(out.NameOnShow, QString());
    QCOMPARE(out.Filters, QStringList{QStringLiteral("*.jpg, *.bmp (*.jpg *.bmp)")});
    QVERIFY(out.FilterDetailsHidden);
    // The shared dialog's option is given back.
    QVERIFY(!main_->OpenDialog()->testOption(QFileDialog::HideNameFilterDetails));
    QCOMPARE(main_->OpenDialog()->objectName(), QStringLiteral("OpenDialog"));
    QCOMPARE(main_->ts_Logo->SourcePicture.Width, 16);
    QCOMPARE(p->tb_width->value(), 16);
}

void LogoPageTest::drawRectErrorKeepsTheFrame()
{
    TLogoPage* p = Page();
    p->DrawRect();
    p->lb_top_cnt->setText(QStringLiteral("x"));
    TModalDriver driver;
    TSeenBox seen;
    driver.AcceptBox(&seen);
    p->tb_width->setValue(96);
    QVERIFY(driver.Done());
    QVERIFY2(seen.Text.startsWith(QStringLiteral("Ошибка по месту: Tfm_Main.DrawRect\n\r")), qPrintable(seen.Text));
    QCOMPARE(Frame(main_->ts_Logo->CopyRect), QStringLiteral("0,0,383,254"));
    // The handler went on after the frame's error.
    QCOMPARE(p->lb_width_cnt->text(), QStringLiteral("96"));
}

KKM_WINDOW_TEST_MAIN(LogoPageTest)
#include "LogoPageTest.moc"
