#include "uLogoPage.h"

#include "LogoJobs.h"

#include "LogoFrame.h"
#include "LogoPreview.h"
#include "LogoUpload.h"
#include "SourcePicture.h"
#include "TTrackBar.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

// The number a counter label shows ("17", or "50%" without its sign).
int LabelNumber(const QLabel* label)
{
    QString text = label->text().trimmed();
    if (text.endsWith(QLatin1Char('%')))
        text.chop(1);
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok)
        throw EKkmError(QStringLiteral("'") + label->text() + QStringLiteral("' is not a valid integer value"));
    return value;
}

void ShowLoadBox(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Ошибка"), text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("LoadBox"));
    box.exec();
}

}  // namespace

// ---------------------------------------------------------------------------

TLogoImage::TLogoImage(QWidget* parent) : QWidget(parent)
{
    Picture = NewLogoPreview();
    setFixedSize(Picture.size());
}

void TLogoImage::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(0, 0, Picture);
}

// ---------------------------------------------------------------------------
// Layout

TLogoPage::TLogoPage(TPageHost* host, QWidget* parent) : TPage(host, "ts_Logo", QStringLiteral("Логотип"), parent)
{
    BuildPreview();
    BuildCopyRes();
    BuildLogoProp();
    BuildLogoType();

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(8);
    grid->addWidget(bvl_Logo, 0, 0, Qt::AlignLeft | Qt::AlignTop);
    auto* right = new QVBoxLayout;
    right->setSpacing(8);
    right->addWidget(gb_CopyRes);
    right->addWidget(gb_LogoType);
    right->addStretch(1);
    grid->addLayout(right, 0, 1, 2, 1);
    grid->addWidget(gb_LogoProp, 1, 0);
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(2, 1);

    // Handlers are connected after the initial positions, so that start-up
    // draws no frame: the preview stays blank until something moves.
    for (auto [slider, handler] : {std::pair{tb_width, &TLogoPage::tb_widthChange},
                                   std::pair{tb_height, &TLogoPage::tb_heightChange},
                                   std::pair{tb_left, &TLogoPage::tb_leftChange},
                                   std::pair{tb_top, &TLogoPage::tb_topChange},
                                   std::pair{tb_Contrast, &TLogoPage::tb_ContrastChange},
                                   std::pair{tb_Res_h, &TLogoPage::tb_Res_hChange},
                                   std::pair{tb_res_v, &TLogoPage::tb_res_vChange}})
        connect(slider, &QSlider::valueChanged, this, handler);
    // Like a check box's click handler, these run on every change of the
    // tick, by the user or by the program.
    connect(cb_proportion, &QCheckBox::toggled, this, &TLogoPage::cb_proportionClick);
    connect(cb_invertion, &QCheckBox::toggled, this, &TLogoPage::cb_invertionClick);
    connect(cb_dither, &QCheckBox::toggled, this, &TLogoPage::cb_ditherClick);
}

void TLogoPage::BuildPreview()
{
    bvl_Logo = new QFrame(this);
    bvl_Logo->setObjectName(QStringLiteral("bvl_Logo"));
    bvl_Logo->setFrameShape(QFrame::Box);
    bvl_Logo->setFrameShadow(QFrame::Sunken);
    bvl_Logo->setFixedSize(401, 273);
    img_Logo = new TLogoImage(bvl_Logo);
    img_Logo->setObjectName(QStringLiteral("img_Logo"));
    img_Logo->move(8, 8);
}

namespace {

struct TSliderSteps {
    int Min, Max, Position, Single, Page, Ticks;
};

TTrackBar* MakeSlider(QWidget* parent, const char* name, const TSliderSteps& s)
{
    auto* slider = new TTrackBar(parent);
    slider->setObjectName(QLatin1String(name));
    slider->setRange(s.Min, s.Max);
    slider->setValue(s.Position);
    slider->setSingleStep(s.Single);
    slider->setPageStep(s.Page);
    slider->setTickInterval(s.Ticks);
    slider->setSelStart(s.Min);
    slider->setSelEnd(s.Position);
    return slider;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    return label;
}

// A caption and its counter on one line, the slider under them.
void AddSliderRow(QVBoxLayout* column, QLabel* caption, QLabel* counter, TTrackBar* slider)
{
    auto* line = new QHBoxLayout;
    line->setSpacing(4);
    line->addWidget(caption);
    line->addWidget(counter);
    line->addStretch(1);
    column->addLayout(line);
    column->addWidget(slider);
}

}  // namespace

void TLogoPage::BuildCopyRes()
{
    gb_CopyRes = new QGroupBox(QStringLiteral("Копируемая область"), this);
    gb_CopyRes->setObjectName(QStringLiteral("gb_CopyRes"));
    gb_CopyRes->setFixedWidth(300);
    auto* column = new QVBoxLayout(gb_CopyRes);
    column->setSpacing(2);

    lb_width = MakeLabel(gb_CopyRes, "lb_width", QStringLiteral("Ширина:"));
    lb_width_cnt = MakeLabel(gb_CopyRes, "lb_width_cnt", QStringLiteral("384"));
    tb_width = MakeSlider(gb_CopyRes, "tb_width", {8, 384, 384, 8, 80, 16});
    lb_height = MakeLabel(gb_CopyRes, "lb_height", QStringLiteral("Высота:"));
    lb_height_cnt = MakeLabel(gb_CopyRes, "lb_height_cnt", QStringLiteral("255"));
    tb_height = MakeSlider(gb_CopyRes, "tb_height", {1, 255, 255, 8, 80, 16});
    lb_left = MakeLabel(gb_CopyRes, "lb_left", QStringLiteral("Отступ слева:"));
    lb_left_cnt = MakeLabel(gb_CopyRes, "lb_left_cnt", QStringLiteral("0"));
    tb_left = MakeSlider(gb_CopyRes, "tb_left", {0, 383, 0, 1, 10, 15});
    lb_top = MakeLabel(gb_CopyRes, "lb_top", QStringLiteral("Отступ сверху:"));
    lb_top_cnt = MakeLabel(gb_CopyRes, "lb_top_cnt", QStringLiteral("0"));
    tb_top = MakeSlider(gb_CopyRes, "tb_top", {0, 254, 0, 1, 10, 15});

    AddSliderRow(column, lb_width, lb_width_cnt, tb_width);
    AddSliderRow(column, lb_height, lb_height_cnt, tb_height);
    AddSliderRow(column, lb_left, lb_left_cnt, tb_left);
    AddSliderRow(column, lb_top, lb_top_cnt, tb_top);
}

void TLogoPage::BuildLogoProp()
{
    gb_LogoProp = new QGroupBox(QStringLiteral("Настройки изображения"), this);
    gb_LogoProp->setObjectName(QStringLiteral("gb_LogoProp"));
    gb_LogoProp->setFixedWidth(401);
    auto* column = new QVBoxLayout(gb_LogoProp);
    column->setSpacing(2);

    lb_Contrast = MakeLabel(gb_LogoProp, "lb_Contrast", QStringLiteral("Контраст"));
    lb_Contrast_pr = MakeLabel(gb_LogoProp, "lb_Contrast_pr", QStringLiteral("50%"));
    tb_Contrast = MakeSlider(gb_LogoProp, "tb_Contrast", {0, 100, 51, 1, 10, 5});
    lb_Res_h = MakeLabel(gb_LogoProp, "lb_Res_h", QStringLiteral("Масштаб гор.: "));
    lb_Res_h_per = MakeLabel(gb_LogoProp, "lb_Res_h_per", QStringLiteral("100%"));
    tb_Res_h = MakeSlider(gb_LogoProp, "tb_Res_h", {1, 50, 10, 1, 2, 2});
    lb_res_v = MakeLabel(gb_LogoProp, "lb_res_v", QStringLiteral("Масштаб верт.: "));
    lb_res_v_per = MakeLabel(gb_LogoProp, "lb_res_v_per", QStringLiteral("100%"));
    tb_res_v = MakeSlider(gb_LogoProp, "tb_res_v", {1, 50, 10, 1, 2, 2});

    AddSliderRow(column, lb_Contrast, lb_Contrast_pr, tb_Contrast);
    AddSliderRow(column, lb_Res_h, lb_Res_h_per, tb_Res_h);
    AddSliderRow(column, lb_res_v, lb_res_v_per, tb_res_v);

    cb_proportion = new QCheckBox(QStringLiteral("Сохранять пропорции"), gb_LogoProp);
    cb_proportion->setObjectName(QStringLiteral("cb_proportion"));
    cb_proportion->setChecked(true);
    cb_invertion = new QCheckBox(QStringLiteral("Инвертировать изображение"), gb_LogoProp);
    cb_invertion->setObjectName(QStringLiteral("cb_invertion"));
    cb_dither = new QCheckBox(QStringLiteral("Полутона"), gb_LogoProp);
    cb_dither->setObjectName(QStringLiteral("cb_dither"));
    cb_dither->setToolTip(QStringLiteral("Рассеивание ошибки вместо порога: для фотографий"));
    column->addSpacing(4);
    column->addWidget(cb_proportion);
    column->addWidget(cb_invertion);
    column->addWidget(cb_dither);
}

void TLogoPage::BuildLogoType()
{
    gb_LogoType = new QGroupBox(QStringLiteral("Изображение записываемое в ДЛФ"), this);
    gb_LogoType->setObjectName(QStringLiteral("gb_LogoType"));
    gb_LogoType->setFixedWidth(300);
    auto* column = new QVBoxLayout(gb_LogoType);
    rb_LogoType1 = new QRadioButton(QStringLiteral("Изображение в заголовке чека"), gb_LogoType);
    rb_LogoType1->setObjectName(QStringLiteral("rb_LogoType1"));
    rb_LogoType1->setChecked(true);
    rb_LogoType2 = new QRadioButton(QStringLiteral("Изображение в окончании чека"), gb_LogoType);
    rb_LogoType2->setObjectName(QStringLiteral("rb_LogoType2"));
    column->addWidget(rb_LogoType1);
    column->addWidget(rb_LogoType2);
}

// ---------------------------------------------------------------------------
// Loading

void TLogoPage::Import()
{
    // The picture must not change under a running upload.
    if (uploading_)
        return;
    // Start with an empty name, not the one typed last time. The dialog
    // offers no call for that (selectFile ignores an empty name), so its
    // name field is cleared directly.
    if (auto* name = Host->OpenDialog()->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        name->clear();
    bt_load_logoClick();
}

void TLogoPage::bt_load_logoClick()
{
    if (uploading_)
        return;
    Host->Guard(QStringLiteral("Tfm_Main.bt_load_logoClick"), [&] {
        QFileDialog* dialog = Host->OpenDialog();
        // The dialog is shared with the goods exchange: its filter is set
        // for each use, and the option that hides the patterns put back.
        // It takes any name typed: a missing file is the loader's to report
        // ("Файл не найден"), after the check of the name's type.
        const bool hideDetails = dialog->testOption(QFileDialog::HideNameFilterDetails);
        const QFileDialog::FileMode fileMode = dialog->fileMode();
        dialog->setOption(QFileDialog::HideNameFilterDetails, true);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->setNameFilter(QStringLiteral("*.jpg, *.bmp (*.jpg *.bmp)"));
        const int answer = dialog->exec();
        dialog->setFileMode(fileMode);
        dialog->setOption(QFileDialog::HideNameFilterDetails, hideDetails);
        if (answer != QDialog::Accepted)
            return;
        const QString path = dialog->selectedFiles().value(0);

        QString error;
        switch (LoadLogoPicture(path, SourcePicture, error)) {
        case TLogoLoad::Ok:
            break;
        case TLogoLoad::Unsupported:
        case TLogoLoad::Missing:
            ShowLoadBox(this, error);
            return;
        case TLogoLoad::Failed:
            throw EKkmError(error);
        }

        const TLogoSettings loaded = LoadedLogoSettings(SourcePicture);
        AutoRebuild = false;
        tb_Contrast->setValue(loaded.Fill.Contrast);
        tb_Res_h->setValue(loaded.Fill.ScaleH);
        tb_res_v->setValue(loaded.Fill.ScaleV);

        tb_width->setValue(loaded.Width);
        tb_height->setValue(loaded.Height);
        tb_top->setValue(loaded.Top);
        tb_left->setValue(loaded.Left);

        FillImage();
        AutoRebuild = true;
    });
}

// ---------------------------------------------------------------------------
// Preview and frame

void TLogoPage::FillImage()
{
    Host->Guard(QStringLiteral("Tfm_Main.FillImage"), [&] {
        TFillOptions options;
        options.ScaleH = LabelNumber(lb_Res_h_per) / 10;
        options.ScaleV = LabelNumber(lb_res_v_per) / 10;
        options.Contrast = tb_Contrast->value();
        options.Invert = cb_invertion->isChecked();
        options.Dither = cb_dither->isChecked();
        ::FillImage(SourcePicture, options, img_Logo->Picture);
        img_Logo->update();
        DrawRect();
    });
}

void TLogoPage::DrawRect()
{
    Host->Guard(QStringLiteral("Tfm_Main.DrawRect"), [&] {
        const int left = LabelNumber(lb_left_cnt);
        const int top = LabelNumber(lb_top_cnt);
        ::DrawRect(img_Logo->Picture, CopyRect, left, top, tb_width->value(), tb_height->value());
        img_Logo->update();
    });
}

// Each frame handler may assign its own slider again; that runs the handler
// nested, and the outer run goes on with the position it settled at.
void TLogoPage::tb_widthChange()
{
    Host->Guard(QStringLiteral("Tfm_Main.tb_widthChange"), [&] {
        tb_width->setValue(WidthToStep(tb_width->value()));
        tb_width->setValue(WidthLimit(tb_width->value(), CopyRect));
        lb_width_cnt->setText(QString::number(tb_width->value()));
        DrawRect();
        tb_width->setSelEnd(tb_width->value());
    });
}

void TLogoPage::tb_heightChange()
{
    Host->Guard(QStringLiteral("Tfm_Main.tb_heightChange"), [&] {
        tb_height->setValue(HeightLimit(tb_height->value(), CopyRect));
        lb_height_cnt->setText(QString::number(tb_height->value()));
        DrawRect();
        tb_height->setSelEnd(tb_height->value());
    });
}

void TLogoPage::tb_leftChange()
{
    Host->Guard(QStringLiteral("Tfm_Main.tb_leftChange"), [&] {
        tb_left->setValue(LeftLimit(tb_left->value(), CopyRect));
        lb_left_cnt->setText(QString::number(tb_left->value()));
        DrawRect();
        tb_left->setSelEnd(tb_left->value());
    });
}

void TLogoPage::tb_topChange()
{
    Host->Guard(QStringLiteral("Tfm_Main.tb_topChange"), [&] {
        tb_top->setValue(TopLimit(tb_top->value(), CopyRect));
        lb_top_cnt->setText(QString::number(tb_top->value()));
        DrawRect();
        tb_top->setSelEnd(tb_top->value());
    });
}

void TLogoPage::tb_ContrastChange()
{
    Host->Guard(QStringLiteral("TMainForm.tb_ContrastChange"), [&] {
        // The new threshold takes effect at the next rebuild.
        lb_Contrast_pr->setText(QString::number(tb_Contrast->value()) + QStringLiteral("%"));
        tb_Contrast->setSelEnd(tb_Contrast->value());
    });
}

namespace {

// One scale slider's change: its label, the other slider following it when
// proportions are kept (without a rebuild of its own), then one rebuild.
template <class Rebuild>
void ScaleChanged(bool& autoRebuildSwitch, TTrackBar* moved, QLabel* label, TTrackBar* other, bool keepProportions,
                  Rebuild&& rebuild)
{
    label->setText(QString::number(10 * moved->value()) + QStringLiteral("%"));
    moved->setSelEnd(moved->value());
    if (keepProportions) {
        const bool autoRebuild = autoRebuildSwitch;
        autoRebuildSwitch = false;
        other->setValue(moved->value());
        autoRebuildSwitch = autoRebuild;
    }
    if (autoRebuildSwitch)
        rebuild();
}

}  // namespace

void TLogoPage::tb_Res_hChange()
{
    Host->Guard(QStringLiteral("Tfm_Main.tb_Res_hChange"), [&] {
        ScaleChanged(AutoRebuild, tb_Res_h, lb_Res_h_per, tb_res_v, cb_proportion->isChecked(), [this] { FillImage(); });
    });
}

void TLogoPage::tb_res_vChange()
{
    Host->Guard(QStringLiteral("Tfm_Main.tb_res_vChange"), [&] {
        ScaleChanged(AutoRebuild, tb_res_v, lb_res_v_per, tb_Res_h, cb_proportion->isChecked(), [this] { FillImage(); });
    });
}

void TLogoPage::cb_proportionClick()
{
    Host->Guard(QStringLiteral("Tfm_Main.cb_proportionClick"), [&] { tb_Res_h->setValue(tb_res_v->value()); });
}

void TLogoPage::cb_invertionClick()
{
    Host->Guard(QStringLiteral("Tfm_Main.cb_invertionClick"), [&] { FillImage(); });
}

void TLogoPage::cb_ditherClick()
{
    Host->Guard(QStringLiteral("Tfm_Main.cb_ditherClick"), [&] { FillImage(); });
}

// ---------------------------------------------------------------------------
// Upload

void TLogoPage::SetLocked(bool locked)
{
    // The frame sliders, the picture settings and the loader: nothing that
    // changes the preview while its rows are being read.
    gb_CopyRes->setEnabled(!locked);
    gb_LogoProp->setEnabled(!locked);
}

TTableCommands TLogoPage::Commands(bool, bool writable) const
{
    TTableCommands c;
    c.Write = writable;
    c.Import = true;
    return c;
}

void TLogoPage::Update(bool, bool busy)
{
    SetLocked(busy);
}

void TLogoPage::WriteTable()
{
    if (uploading_ || Host->Busy())
        return;
    // The rows are taken as the preview shows them now; the page stays
    // locked until the job has sent them.
    TLogoUpload upload;
    QString error;
    if (!PackLogoUpload(img_Logo->Picture, CopyRect, !rb_LogoType1->isChecked(), upload, error)) {
        Host->WriteLog(QStringLiteral("Запись изображения ..."), QColor(clBlack));
        Host->Guard(QStringLiteral("Tfm_Main.WrLogoRow"), [&] { throw EKkmError(error); });
        return;
    }
    uploading_ = Host->StartJob(
        QStringLiteral("Tfm_Main.WrLogoRow"),
        [upload = std::move(upload)](kkm::TJobContext& job) {
            kkm::LogoUploadJob(job, upload.Kind, upload.BytesPerRow, upload.Rows);
        },
        [this] { uploading_ = false; });
}
