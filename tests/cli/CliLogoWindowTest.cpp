// The same picture and settings uploaded by the window's logo page to one
// emulated register and by kkm-cli to another: both registers receive the
// same header and rows, bit for bit.
#include "LogoTestFiles.h"
#include "PictureFiles.h"
#include "PtyRegister.h"
#include "TTrackBar.h"
#include "UiTestSupport.h"
#include "uAuthForm.h"
#include "uConnectForm.h"
#include "uLogoPage.h"
#include "uMainForm.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

using namespace kkm::emu;

namespace {

constexpr std::uint8_t kLogo = 7;

// The logo requests a register received: payloads of code 7, in order.
QList<TArrayOfByte> LogoRequests(const PtyRegister& reg)
{
    QList<TArrayOfByte> out;
    for (const RequestRecord& r : reg.Requests())
        if (r.Body.size() > 3 && r.Body[3] == kLogo)
            out << TArrayOfByte(r.Body.begin() + 4, r.Body.end());
    return out;
}

std::unique_ptr<PtyRegister> StartRegister()
{
    auto reg = std::make_unique<PtyRegister>();
    PtyRegister::Options options;
    options.LogSink = [](const std::string&) {};
    QString error;
    if (!reg->Start(options, &error))
        qWarning("emulator: %s", qPrintable(error));
    return reg;
}

} // namespace

class CliLogoWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void sameRows_data();
    void sameRows();

private:
    bool Load(const QString& path);

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<PtyRegister> windowReg_;
    std::unique_ptr<PtyRegister> cliReg_;
    std::unique_ptr<TMainForm> main_;
};

void CliLogoWindowTest::initTestCase()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    windowReg_ = StartRegister();
    cliReg_ = StartRegister();
    QVERIFY(windowReg_->Running() && cliReg_->Running());

    main_ = std::make_unique<TMainForm>();
    new TConnectForm(main_.get());
    new TAuthForm(main_.get());
    main_->Session->SetTimeOut(5000);
    main_->show();
    QVERIFY(ConnectThroughDialog(*main_, windowReg_->PublishedPath()));
    QVERIFY(AuthoriseThroughDialog(*main_));
    main_->eb_Logo->click();
    QVERIFY(SpinUntil([&] { return main_->si_WriteTableToKKM->isEnabled(); }));
}

void CliLogoWindowTest::cleanupTestCase()
{
    main_.reset();
    windowReg_.reset();
    cliReg_.reset();
    dir_.reset();
}

// What a load does not reset: back as the page starts.
void CliLogoWindowTest::init()
{
    TLogoPage* p = main_->ts_Logo;
    if (p->rb_LogoType2->isChecked())
        p->rb_LogoType1->click();
    for (QCheckBox* box : {p->cb_invertion, p->cb_dither})
        if (box->isChecked())
            box->click();
    if (!p->cb_proportion->isChecked())
        p->cb_proportion->click();
}

bool CliLogoWindowTest::Load(const QString& path)
{
    TModalDriver driver;
    AnswerFileDialog(driver, path);
    main_->si_ImportClick();
    return driver.Done() && driver.Unexpected.isEmpty() && !main_->ts_Logo->SourcePicture.IsEmpty();
}

void CliLogoWindowTest::sameRows_data()
{
    QTest::addColumn<QString>("picture"); // "bmp W H" (a dot pattern) or "jpeg W H" (a grey ramp)
    QTest::addColumn<QString>("window");  // steps on the page after the load, in order
    QTest::addColumn<QStringList>("cli");

    QTest::newRow("as loaded") << "bmp 100 40" << "" << QStringList{};
    QTest::newRow("frame, foot, inverted")
        << "bmp 200 120" << "width=64 height=20 left=16 top=5 foot invert"
        << QStringList{"--frame", "16,5,64,20", "--foot", "--invert"};
    QTest::newRow("contrast, 250 %, halftones")
        << "jpeg 120 90" << "contrast=30 resv=25 dither"
        << QStringList{"--contrast", "30", "--scale-v", "250", "--halftone"};
    QTest::newRow("scales apart") << "jpeg 300 200" << "proportion resh=5 resv=20"
                                  << QStringList{"--scale-h", "50", "--scale-v", "200"};
    QTest::newRow("contrast applied by a rebuild")
        << "jpeg 384 255" << "contrast=70 invert invert width=128 left=256"
        << QStringList{"--contrast", "70", "--frame", "256,0,128,255"};
}

void CliLogoWindowTest::sameRows()
{
    QFETCH(QString, picture);
    QFETCH(QString, window);
    QFETCH(QStringList, cli);
    TLogoPage* p = main_->ts_Logo;

    const QStringList parts = picture.split(' ');
    const int w = parts[1].toInt();
    const int h = parts[2].toInt();
    QString path;
    if (parts[0] == "bmp") {
        path = WriteBmp(*dir_, "p.bmp", w, h, [](int x, int y) {
            return (x * 7 + y * 3) % 11 < 5 ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
        });
    } else {
        path = dir_->filePath("p.jpg");
        PictureFiles::TJpegLayout layout;
        layout.Width = w;
        layout.Height = h;
        layout.Colours = PictureFiles::TJpegColours::Rgb;
        QVERIFY(PictureFiles::WriteJpeg(path, layout, [w, h](int y, std::uint8_t* s) {
            for (int x = 0; x < w; ++x) {
                const auto v = static_cast<std::uint8_t>((x * 255 / w + y * 255 / h) / 2);
                s[3 * x] = v;
                s[3 * x + 1] = static_cast<std::uint8_t>(255 - v);
                s[3 * x + 2] = static_cast<std::uint8_t>(x * y % 256);
            }
        }));
    }
    QVERIFY(!path.isEmpty());
    QVERIFY(Load(path));

    for (const QString& step : window.split(' ', Qt::SkipEmptyParts)) {
        const QStringList kv = step.split('=');
        const QMap<QString, QSlider*> sliders{{"width", p->tb_width},   {"height", p->tb_height},
                                              {"left", p->tb_left},     {"top", p->tb_top},
                                              {"contrast", p->tb_Contrast}, {"resh", p->tb_Res_h},
                                              {"resv", p->tb_res_v}};
        if (sliders.contains(kv[0]))
            sliders[kv[0]]->setValue(kv[1].toInt());
        else if (step == "foot")
            p->rb_LogoType2->click();
        else if (step == "invert")
            p->cb_invertion->click();
        else if (step == "dither")
            p->cb_dither->click();
        else if (step == "proportion")
            p->cb_proportion->click();
        else
            QFAIL(qPrintable("unknown step " + step));
    }

    windowReg_->ClearRequests();
    QVERIFY(SpinUntil([&] { return main_->si_WriteTableToKKM->isEnabled(); }));
    QTest::mouseClick(main_->si_WriteTableToKKM, Qt::LeftButton);
    QVERIFY(WaitIdle(*main_));
    const QList<TArrayOfByte> fromWindow = LogoRequests(*windowReg_);
    QVERIFY(fromWindow.size() > 1);

    cliReg_->ClearRequests();
    QProcess process;
    process.start(QStringLiteral(KKM_CLI_PATH),
                  QStringList{"logo", "upload", "-p", cliReg_->PublishedPath(), "-u", "1", "-w", "1", "--timeout",
                              "5000"} +
                      cli + QStringList{path});
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitCode(), 0);
    const QList<TArrayOfByte> fromCli = LogoRequests(*cliReg_);
    QCOMPARE(fromCli.size(), fromWindow.size());
    for (qsizetype i = 0; i < fromCli.size(); ++i)
        QVERIFY2(fromCli[i] == fromWindow[i], qPrintable(QStringLiteral("request %1 differs").arg(i)));
    const auto logoOf = [](PtyRegister& reg) { return reg.WithModel([](RegisterModel& m) { return m.State().LastLogo; }); };
    QCOMPARE(logoOf(*cliReg_), logoOf(*windowReg_));

}

KKM_WINDOW_TEST_MAIN(CliLogoWindowTest)

#include "CliLogoWindowTest.moc"
