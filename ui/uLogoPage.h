// Page 3: the logo. A BMP or JPEG picture becomes a one-bit preview of at
// most 384 x 255 dots with a red copy frame on it; the write command sends
// the framed part to the register row by row as the head or foot picture of
// receipts. The page holds the loaded picture, the frame and the rebuild
// switch; the image work itself is the logo library's.
#pragma once

#include "uPage.h"

#include "LogoPreview.h"
#include "SourcePicture.h"

#include <QImage>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QRadioButton;
class TTrackBar;

// Shows a picture at its own size, top left.
class TLogoImage : public QWidget {
    Q_OBJECT

public:
    explicit TLogoImage(QWidget* Parent = nullptr);

    // The picture shown; call update() after changing it.
    QImage Picture;

protected:
    void paintEvent(QPaintEvent* Event) override;
};

class TLogoPage : public TPage {
    Q_OBJECT

public:
    TLogoPage(TPageHost* Host, QWidget* Parent);

    TTableCommands Commands(bool Connected, bool Writable) const override;
    // While a job runs the picture and its settings stay as the job took
    // them.
    void Update(bool InFront, bool Busy) override;

    // The loaded picture (empty until one is loaded), the copy frame on the
    // preview, and whether a slider's change rebuilds the preview (off while
    // a load sets them all).
    TSourcePicture SourcePicture;
    TCopyRect CopyRect;
    bool AutoRebuild = false;
    // An upload's job runs.
    bool Uploading() const { return uploading_; }

    // Preview in its bevel.
    QFrame* bvl_Logo = nullptr;
    TLogoImage* img_Logo = nullptr;

    // The copy frame.
    QGroupBox* gb_CopyRes = nullptr;
    QLabel* lb_width = nullptr;
    QLabel* lb_width_cnt = nullptr;
    TTrackBar* tb_width = nullptr;
    QLabel* lb_height = nullptr;
    QLabel* lb_height_cnt = nullptr;
    TTrackBar* tb_height = nullptr;
    QLabel* lb_left = nullptr;
    QLabel* lb_left_cnt = nullptr;
    TTrackBar* tb_left = nullptr;
    QLabel* lb_top = nullptr;
    QLabel* lb_top_cnt = nullptr;
    TTrackBar* tb_top = nullptr;

    // Threshold, scales, inversion, halftones.
    QGroupBox* gb_LogoProp = nullptr;
    QLabel* lb_Contrast = nullptr;
    QLabel* lb_Contrast_pr = nullptr;
    TTrackBar* tb_Contrast = nullptr;
    QLabel* lb_Res_h = nullptr;
    QLabel* lb_Res_h_per = nullptr;
    TTrackBar* tb_Res_h = nullptr;
    QLabel* lb_res_v = nullptr;
    QLabel* lb_res_v_per = nullptr;
    TTrackBar* tb_res_v = nullptr;
    QCheckBox* cb_proportion = nullptr;
    QCheckBox* cb_invertion = nullptr;
    QCheckBox* cb_dither = nullptr;

    // Head or foot of the receipt.
    QGroupBox* gb_LogoType = nullptr;
    QRadioButton* rb_LogoType1 = nullptr;
    QRadioButton* rb_LogoType2 = nullptr;

    // Speed-bar commands: the write command uploads the framed preview, the
    // import command loads a picture.
    void WriteTable() override;
    void Import() override;

    // Rebuilds the preview from the picture and draws the frame again.
    void FillImage();
    // Moves the frame to the sliders' place.
    void DrawRect();

public slots:
    void bt_load_logoClick();
    void tb_widthChange();
    void tb_heightChange();
    void tb_leftChange();
    void tb_topChange();
    void tb_ContrastChange();
    void tb_Res_hChange();
    void tb_res_vChange();
    void cb_proportionClick();
    void cb_invertionClick();
    void cb_ditherClick();

private:
    void BuildPreview();
    void BuildCopyRes();
    void BuildLogoProp();
    void BuildLogoType();
    void SetLocked(bool Locked);
    bool uploading_ = false;

};
