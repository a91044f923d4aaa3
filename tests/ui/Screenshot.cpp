// Takes the pictures of the README's user's guide: the main window connected
// to an emulator in this process, each page filled with the emulator's data,
// rendered on Qt's offscreen platform.
//
//   kkm_screenshot [folder]     (default: docs)
//
// writes, in this order:
//   screenshot.png              just connected, information page, read only
//   page-info.png               after authorising as the administrator
//   page-settings.png           settings page, "Опции ДЛФ" read
//   page-settings-operators.png settings page, operators read
//   page-goods.png              goods page, items 1..20 read
//   page-logo.png               logo page, a generated picture loaded through
//                               the page's loader, the frame moved inside it
#include "PtyRegister.h"
#include "UiTestSupport.h"
#include "uAuthForm.h"
#include "uConnectForm.h"
#include "uMainForm.h"

#include "TTrackBar.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFont>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>

#include <cstdio>

namespace {

bool Save(TMainForm& form, const QString& folder, const char* name)
{
    // Let the idle-time update settle the commands and lamps first.
    QApplication::processEvents();
    SpinUntil([] { return false; }, 200);
    const QString path = QDir(folder).filePath(QLatin1String(name));
    if (!form.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// Runs the speed bar's read command on the page in front, as a click would,
// once the idle-time update has made it available there.
bool ReadFrontPage(TMainForm& form)
{
    if (!SpinUntil([&] { return form.si_ReadTableFromKKM->isEnabled(); })) {
        std::fprintf(stderr, "the read command stayed disabled\n");
        return false;
    }
    form.si_ReadTableFromKKM->click();
    // A page's read may run as a job; the picture shows what it read.
    if (!WaitIdle(form)) {
        std::fprintf(stderr, "the read did not end\n");
        return false;
    }
    return true;
}

// A picture for the logo page: a shop sign drawn with text and shapes.
bool DrawSign(const QString& path)
{
    // The register's full width, so that the preview shows all of it.
    QImage img(384, 240, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 5));
    p.drawRoundedRect(QRectF(6, 6, 372, 228), 20, 20);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 40, 40));
    p.drawEllipse(QPointF(70, 85), 42, 42);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(70, 85), 16, 16);
    QFont big(QStringLiteral("DejaVu Sans"));
    big.setPixelSize(38);
    big.setBold(true);
    p.setFont(big);
    p.setPen(Qt::black);
    p.drawText(QRectF(120, 45, 250, 80), Qt::AlignCenter, QStringLiteral("РОМАШКА"));
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(20);
    p.setFont(small);
    p.drawText(QRectF(16, 140, 352, 36), Qt::AlignCenter, QStringLiteral("продукты  ·  с 8 до 22"));
    QLinearGradient shade(QPointF(24, 0), QPointF(360, 0));
    shade.setColorAt(0, Qt::black);
    shade.setColorAt(1, Qt::white);
    p.fillRect(QRectF(24, 190, 336, 26), shade);
    p.end();
    return img.save(path, "BMP");
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kkm-configurator"));
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QDir().mkpath(folder);

    kkm::emu::PtyRegister reg;
    QString error;
    if (!reg.Start({}, &error)) {
        std::fprintf(stderr, "emulator: %s\n", qPrintable(error));
        return 1;
    }
    reg.WithModel([](kkm::emu::RegisterModel& m) {
        m.State().device.FixedClock = kkm::emu::ClockValue{{28, 2, 2025}, {14, 35, 12}};
    });

    TMainForm mainForm;
    TConnectForm connectForm(&mainForm);
    TAuthForm authForm(&mainForm);
    mainForm.show();

    // Connect: the connect dialog with the emulator's port at 115200.
    if (!ConnectThroughDialog(mainForm, reg.PublishedPath())) {
        std::fprintf(stderr, "could not connect to the emulator at %s\n", qPrintable(reg.PublishedPath()));
        return 1;
    }
    SpinUntil([&] { return mainForm.mm_c_auth->isEnabled(); });
    if (!Save(mainForm, folder, "screenshot.png"))
        return 1;

    // Authorise as the administrator (the emulator's user n has password n).
    if (!AuthoriseThroughDialog(mainForm)) {
        std::fprintf(stderr, "could not authorise\n");
        return 1;
    }
    if (!Save(mainForm, folder, "page-info.png"))
        return 1;

    // Settings: the main options, then the operators.
    mainForm.eb_KKMOptions->click();
    mainForm.ts_KKMOptions->pc_Options->setCurrentIndex(TSettingsPage::spMainOptions);
    if (!ReadFrontPage(mainForm) || !Save(mainForm, folder, "page-settings.png"))
        return 1;
    mainForm.ts_KKMOptions->pc_Options->setCurrentIndex(TSettingsPage::spOperators);
    if (!ReadFrontPage(mainForm) || !Save(mainForm, folder, "page-settings-operators.png"))
        return 1;

    // Goods: the range 1..20 read.
    mainForm.eb_Goods->click();
    mainForm.ts_Goods->ed_GoodsStart->setText(QStringLiteral("1"));
    mainForm.ts_Goods->ed_GoodsEND->setText(QStringLiteral("20"));
    if (!ReadFrontPage(mainForm) || !Save(mainForm, folder, "page-goods.png"))
        return 1;

    // Logo: a picture drawn here, loaded through the page's loader.
    mainForm.eb_Logo->click();
    QTemporaryDir temp;
    const QString sign = temp.filePath(QStringLiteral("sign.bmp"));
    if (!temp.isValid() || !DrawSign(sign)) {
        std::fprintf(stderr, "cannot write the picture %s\n", qPrintable(sign));
        return 1;
    }
    {
        TModalDriver driver;
        driver.OnDialog<QFileDialog>([sign](QFileDialog* d) {
            if (auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                name->setText(sign);
            QMetaObject::invokeMethod(d, "accept");
        });
        mainForm.ts_Logo->bt_load_logoClick();
        if (!driver.Done() || !driver.Unexpected.isEmpty() || mainForm.ts_Logo->SourcePicture.IsEmpty()) {
            std::fprintf(stderr, "the picture was not loaded\n");
            return 1;
        }
    }
    TLogoPage* logo = mainForm.ts_Logo;
    // The frame around the sign's name and circle, the gradient left out.
    logo->tb_width->setValue(336);
    logo->tb_height->setValue(160);
    logo->tb_left->setValue(24);
    logo->tb_top->setValue(20);
    logo->rb_LogoType1->setChecked(true);
    if (!Save(mainForm, folder, "page-logo.png"))
        return 1;
    return 0;
}
