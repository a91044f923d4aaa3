// The logo upload through the real window against the register emulator on
// a pseudo-terminal: what reaches the register row by row, the journal
// lines, refusals of the header and of a row, and the page locked while the
// rows go out (or any other job runs), back as it was afterwards.
#include "LogoRows.h"
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
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <memory>

using namespace kkm;
using namespace kkm::emu;

namespace {

constexpr std::uint8_t kLogo = 7;

const QString kStart = QStringLiteral("Запись изображения ...");
const QString kDone = QStringLiteral("Запись изображения завершена.");
const QString kRowFailed = QStringLiteral("Ошибка записи строки изображения. ");

// The logo requests the register received: payloads of code 7, in order.
QList<TArrayOfByte> LogoRequests(const PtyRegister& reg)
{
    QList<TArrayOfByte> out;
    for (const RequestRecord& r : reg.Requests())
        if (r.Body.size() > 3 && r.Body[3] == kLogo)
            out << TArrayOfByte(r.Body.begin() + 4, r.Body.end());
    return out;
}

// The framed part of the preview read pixel by pixel, independently of the
// row packing: a dot wherever red is not 255, leftmost in bit 7.
TArrayOfByte FramedDots(const QImage& preview, const TCopyRect& f)
{
    TArrayOfByte dots;
    const int bytes = (f.Right - f.Left + 1) / 8;
    for (int y = f.Top; y <= f.Bottom; ++y)
        for (int b = 0; b < bytes; ++b) {
            std::uint8_t v = 0;
            for (int bit = 0; bit < 8; ++bit) {
                const int x = f.Left + 8 * b + bit;
                const bool dot = x < preview.width() && preview.pixelColor(x, y).red() != 255;
                v = static_cast<std::uint8_t>(v << 1 | (dot ? 1 : 0));
            }
            dots.push_back(v);
        }
    return dots;
}

// The names of the enabled widgets among Widgets.
QStringList EnabledOf(const QList<QWidget*>& widgets)
{
    QStringList names;
    for (const QWidget* w : widgets)
        if (w->isEnabled())
            names << w->objectName();
    return names;
}

} // namespace

class LogoUploadTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void upload_data();
    void upload();
    void refusedHeader();
    void refusedRow17();
    void pageLockedWhileUploading();
    void controlsOffWhileAJobRuns();
    void savedPictureMatchesThePreview();

private:
    // Loads the picture through the import command and its dialog.
    bool Load(const QString& path);
    // The write command on the logo page, through its button.
    void Write();
    QStringList Journal() const { return JournalTexts(main_->re_LogOut); }

    TLogoPage* Page() const { return main_->ts_Logo; }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<PtyRegister> reg_;
    std::unique_ptr<TMainForm> main_;
};

void LogoUploadTest::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    reg_ = std::make_unique<PtyRegister>();
    PtyRegister::Options options;
    options.LogoPath = dir_->filePath(QStringLiteral("saved.pbm"));
    options.LogSink = [](const std::string&) {}; // "logo saved to ..."
    QString error;
    QVERIFY2(reg_->Start(options, &error), qPrintable(error));

    main_ = std::make_unique<TMainForm>();
    auto* connectForm = new TConnectForm(main_.get());
    new TAuthForm(main_.get());
    main_->Session->SetTimeOut(2000);
    main_->show();

    const QString port = reg_->PublishedPath();
    QVERIFY(connectForm->cb_Port->findText(port) >= 0);
    QVERIFY(ConnectThroughDialog(*main_, port));
    QVERIFY(AuthoriseThroughDialog(*main_));

    main_->eb_Logo->click();
    QVERIFY(SpinUntil([&] { return main_->si_WriteTableToKKM->isEnabled(); }));
    reg_->ClearRequests();
}

void LogoUploadTest::cleanup()
{
    main_.reset();
    reg_.reset();
    dir_.reset();
}

bool LogoUploadTest::Load(const QString& path)
{
    TModalDriver driver;
    AnswerFileDialog(driver, path);
    main_->si_ImportClick();
    return driver.Done() && driver.Unexpected.isEmpty() && !main_->ts_Logo->SourcePicture.IsEmpty();
}

void LogoUploadTest::Write()
{
    QVERIFY(SpinUntil([&] { return main_->si_WriteTableToKKM->isEnabled(); }));
    QTest::mouseClick(main_->si_WriteTableToKKM, Qt::LeftButton);
    QVERIFY(WaitIdle(*main_));
}

void LogoUploadTest::upload_data()
{
    QTest::addColumn<int>("width");  // of the picture; the frame follows it
    QTest::addColumn<int>("height");
    QTest::addColumn<QString>("frame"); // slider steps after the load
    QTest::addColumn<bool>("foot");
    QTest::addColumn<bool>("invert");
    QTest::addColumn<int>("bytesPerRow");
    QTest::addColumn<int>("rows");

    QTest::newRow("384 x 255") << 384 << 255 << "" << false << false << 48 << 255;
    QTest::newRow("8 x 1 inside") << 384 << 255 << "width=8 height=1 left=101 top=37" << false << false << 1 << 1;
    QTest::newRow("8 x 1 at the far corner") << 384 << 255 << "width=8 height=1 left=376 top=254" << true << false
                                             << 1 << 1;
    QTest::newRow("foot, inverted") << 100 << 30 << "" << true << true << 13 << 30;
    QTest::newRow("beyond the picture") << 20 << 6 << "height=200 width=64" << false << false << 8 << 200;
}

void LogoUploadTest::upload()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QString, frame);
    QFETCH(bool, foot);
    QFETCH(bool, invert);
    QFETCH(int, bytesPerRow);
    QFETCH(int, rows);
    TLogoPage* p = Page();

    QVERIFY(Load(WriteBmp(*dir_, "p.bmp", width, height,
                          [](int x, int y) { return (x * 7 + y * 3) % 11 < 5 ? qRgb(0, 0, 0) : qRgb(255, 255, 255); })));
    for (const QString& step : frame.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList kv = step.split(QLatin1Char('='));
        QSlider* s = kv[0] == "width" ? p->tb_width : kv[0] == "height" ? p->tb_height
                   : kv[0] == "left"  ? static_cast<QSlider*>(p->tb_left) : p->tb_top;
        s->setValue(kv[1].toInt());
    }
    if (foot)
        p->rb_LogoType2->click();
    if (invert)
        p->cb_invertion->click();
    const QImage preview = p->img_Logo->Picture;
    const TCopyRect copyRect = main_->ts_Logo->CopyRect;
    const QStringList before = Journal();

    Write();

    // Header, then every row numbered from 1 with its bytes.
    const QList<TArrayOfByte> sent = LogoRequests(*reg_);
    QCOMPARE(sent.size(), rows + 1);
    QCOMPARE(sent[0], (TArrayOfByte{0, std::uint8_t(foot ? 1 : 0), std::uint8_t(bytesPerRow), std::uint8_t(rows)}));
    const TArrayOfByte dots = FramedDots(preview, copyRect);
    for (int n = 1; n <= rows; ++n) {
        QCOMPARE(int(sent[n].size()), 1 + bytesPerRow);
        QCOMPARE(int(sent[n][0]), n);
        QVERIFY(std::equal(sent[n].begin() + 1, sent[n].end(), dots.begin() + (n - 1) * bytesPerRow));
    }
    const auto logo = reg_->WithModel([](RegisterModel& m) { return m.State().LastLogo; });
    QVERIFY(logo);
    QCOMPARE(int(logo->Kind), foot ? 1 : 0);
    QCOMPARE(int(logo->BytesPerRow), bytesPerRow);
    QCOMPARE(int(logo->Rows), rows);
    QCOMPARE(logo->Dots, dots);

    const QList<TLogEntry> log = JournalEntries(main_->re_LogOut);
    QCOMPARE(log.size(), before.size() + 2);
    QCOMPARE(log[1].Text, kStart);
    QCOMPARE(log[0].Text, kDone);
    QCOMPARE(log[0].TextColor, QColor(clBlack));
    QCOMPARE(log[1].TextColor, QColor(clBlack));

    // Nothing on the page changed; the upload can be repeated.
    QCOMPARE(p->img_Logo->Picture, preview);
    QCOMPARE(main_->ts_Logo->CopyRect, copyRect);
    QVERIFY(p->gb_CopyRes->isEnabled() && p->gb_LogoProp->isEnabled());
    QVERIFY(main_->lb_StatusEmpty->text().isEmpty());
    reg_->ClearRequests();
    Write();
    QCOMPARE(LogoRequests(*reg_).size(), rows + 1);
    QCOMPARE(Journal().first(), kDone);
}

void LogoUploadTest::refusedHeader()
{
    QVERIFY(Load(WriteBmp(*dir_, "p.bmp", 64, 40, [](int x, int) { return x % 2 ? qRgb(0, 0, 0) : qRgb(255, 255, 255); })));
    std::string error;
    const auto fault = ParseFault("refuse 3 code=7 row=0", &error);
    QVERIFY2(fault, error.c_str());
    reg_->AddFault(*fault);
    const int entries = Journal().size();

    Write();

    // No row follows a refused header.
    QCOMPARE(LogoRequests(*reg_).size(), 1);
    const QList<TLogEntry> log = JournalEntries(main_->re_LogOut);
    QCOMPARE(log.size(), entries + 2);
    QCOMPARE(log[1].Text, kStart);
    QCOMPARE(log[0].Text, kRowFailed + TOmvekCP::ErrorText(3));
    QCOMPARE(log[0].TextColor, QColor(clRed));
    QVERIFY(!reg_->WithModel([](RegisterModel& m) { return m.State().LastLogo.has_value(); }));
    QVERIFY(Page()->gb_CopyRes->isEnabled() && Page()->gb_LogoProp->isEnabled());
    QVERIFY(main_->si_WriteTableToKKM->isEnabled());
}

void LogoUploadTest::refusedRow17()
{
    QVERIFY(Load(WriteBmp(*dir_, "p.bmp", 384, 255, [](int x, int y) { return (x ^ y) & 4 ? qRgb(0, 0, 0) : qRgb(255, 255, 255); })));
    std::string error;
    const auto fault = ParseFault("refuse 3 code=7 row=17", &error);
    QVERIFY2(fault, error.c_str());
    reg_->AddFault(*fault);
    const int entries = Journal().size();

    Write();

    const QList<TArrayOfByte> sent = LogoRequests(*reg_);
    QCOMPARE(sent.size(), 1 + 17); // the header, rows 1 to 16, the refused 17
    QCOMPARE(int(sent.last()[0]), 17);
    QCOMPARE(reg_->WithModel([](RegisterModel& m) { return m.LogoRowsReceived(); }), 16);
    const QList<TLogEntry> log = JournalEntries(main_->re_LogOut);
    QCOMPARE(log.size(), entries + 2);
    QCOMPARE(log[1].Text, kStart);
    QCOMPARE(log[0].Text, kRowFailed + TOmvekCP::ErrorText(3));
    QCOMPARE(log[0].TextColor, QColor(clRed));
    QVERIFY(main_->lb_StatusEmpty->text().isEmpty());
}

void LogoUploadTest::pageLockedWhileUploading()
{
    TLogoPage* p = Page();
    QVERIFY(Load(WriteBmp(*dir_, "p.bmp", 384, 255, [](int x, int y) { return (x + y) % 3 ? qRgb(0, 0, 0) : qRgb(255, 255, 255); })));
    const QImage preview = p->img_Logo->Picture;
    const TArrayOfByte dots = FramedDots(preview, main_->ts_Logo->CopyRect);
    // Slow answers, so that the test can act while rows go out.
    reg_->SetThinkTime(5);

    bool sawLocked = false;
    bool triedWhileLocked = false;
    QStringList seenWhileLocked;
    QTimer poke;
    poke.setInterval(20);
    connect(&poke, &QTimer::timeout, this, [&] {
        if (!p->Uploading() || triedWhileLocked)
            return;
        triedWhileLocked = true;
        sawLocked = !p->gb_CopyRes->isEnabled() && !p->gb_LogoProp->isEnabled() && !p->tb_width->isEnabled()
                    && !p->tb_Contrast->isEnabled() && !p->cb_invertion->isEnabled() && !p->cb_dither->isEnabled();
        // The user tries everything: keys on a slider, a click on a check
        // box, the import command.
        QTest::keyClick(p->tb_top, Qt::Key_PageUp);
        QTest::mouseClick(p->cb_invertion, Qt::LeftButton);
        TModalDriver driver(2000);
        main_->si_ImportClick();
        seenWhileLocked = driver.Unexpected;
        if (main_->si_Import->isEnabled())
            QTest::mouseClick(main_->si_Import, Qt::LeftButton);
        seenWhileLocked += driver.Unexpected;
    });
    poke.start();

    Write();
    poke.stop();

    QVERIFY(triedWhileLocked);
    QVERIFY(sawLocked);
    QVERIFY2(seenWhileLocked.isEmpty(), qPrintable(seenWhileLocked.join('\n')));
    QCOMPARE(Journal().first(), kDone);
    const auto logo = reg_->WithModel([](RegisterModel& m) { return m.State().LastLogo; });
    QVERIFY(logo);
    QCOMPARE(logo->Dots, dots);
    QCOMPARE(p->img_Logo->Picture, preview);
    QCOMPARE(p->tb_top->value(), 0);
    QVERIFY(!p->cb_invertion->isChecked());
    QVERIFY(p->gb_CopyRes->isEnabled() && p->gb_LogoProp->isEnabled());
}

void LogoUploadTest::controlsOffWhileAJobRuns()
{
    TLogoPage* p = Page();
    QVERIFY(Load(WriteBmp(*dir_, "p.bmp", 64, 40, [](int x, int y) { return (x + y) % 5 ? qRgb(0, 0, 0) : qRgb(255, 255, 255); })));
    const QList<QWidget*> controls{p->tb_width,    p->tb_height, p->tb_left,       p->tb_top,
                                   p->tb_Contrast, p->tb_Res_h,  p->tb_res_v,      p->cb_proportion,
                                   p->cb_invertion, p->cb_dither, main_->si_Import, main_->si_WriteTableToKKM};
    // A control that is off for a reason of its own stays off afterwards.
    p->cb_dither->setEnabled(false);
    QVERIFY(SpinUntil([&] { return main_->si_Import->isEnabled(); }));
    QStringList before = EnabledOf(controls);
    QVERIFY(!before.contains("cb_dither"));
    QCOMPARE(before.size(), controls.size() - 1);

    // The answer to row 3 comes late, so that rows are still due while the
    // window is looked at; the command waits for it.
    main_->Session->SetTimeOut(10000);
    std::string error;
    const auto fault = ParseFault("delay 1500 code=7 row=3", &error);
    QVERIFY2(fault, error.c_str());
    reg_->AddFault(*fault);

    QVERIFY(SpinUntil([&] { return main_->si_WriteTableToKKM->isEnabled(); }));
    QTest::mouseClick(main_->si_WriteTableToKKM, Qt::LeftButton);
    bool busy = false;
    int rowsIn = 0;
    QStringList during;
    QVERIFY(SpinUntil([&] {
        if (reg_->RequestCount() < 4) // the header, rows 1 to 3
            return false;
        busy = main_->Busy() && p->Uploading();
        rowsIn = reg_->WithModel([](RegisterModel& m) { return m.LogoRowsReceived(); });
        during = EnabledOf(controls);
        return true;
    }));
    QVERIFY(busy);
    QCOMPARE(rowsIn, 3);
    QCOMPARE(during, QStringList());
    // Called directly, the loader opens no dialog.
    TModalDriver driver(2000);
    p->bt_load_logoClick();
    main_->si_ImportClick();
    QVERIFY2(driver.Unexpected.isEmpty(), qPrintable(driver.Unexpected.join('\n')));

    QVERIFY(WaitIdle(*main_));
    QCOMPARE(Journal().first(), kDone);
    QCOMPARE(LogoRequests(*reg_).size(), 40 + 1);
    QCOMPARE(EnabledOf(controls), before);

    // Any job, not only an upload: the information refresh.
    main_->ts_Information->b_InfoRefreshClick();
    QVERIFY(main_->Busy());
    QCOMPARE(EnabledOf(controls), QStringList());
    QVERIFY(WaitIdle(*main_));
    QCOMPARE(EnabledOf(controls), before);
}

void LogoUploadTest::savedPictureMatchesThePreview()
{
    TLogoPage* p = Page();
    // The written example: black only at (0, 0) and (9, 0) of a 16 x 2 frame.
    QVERIFY(Load(WriteBmp(*dir_, "p.bmp", 16, 2,
                          [](int x, int y) { return y == 0 && (x == 0 || x == 9) ? qRgb(0, 0, 0) : qRgb(255, 255, 255); })));
    QCOMPARE(p->tb_width->value(), 16);
    QCOMPARE(p->tb_height->value(), 2);
    Write();
    const QList<TArrayOfByte> sent = LogoRequests(*reg_);
    QCOMPARE(sent, (QList<TArrayOfByte>{{0, 0, 2, 2}, {1, 0x80, 0x40}, {2, 0x00, 0x00}}));

    // A photo-like picture with halftones, framed in the middle: the saved
    // picture (PBM) holds exactly the framed preview.
    QVERIFY(Load(WriteBmp(*dir_, "q.bmp", 500, 400, [](int x, int y) {
        const int g = (x * 255 / 500 + y * 255 / 400) / 2;
        return qRgb(g, g, g);
    })));
    p->cb_dither->click();
    p->tb_width->setValue(200);
    p->tb_height->setValue(120);
    p->tb_left->setValue(77);
    p->tb_top->setValue(50);
    const TArrayOfByte dots = FramedDots(p->img_Logo->Picture, main_->ts_Logo->CopyRect);
    Write();
    QCOMPARE(Journal().first(), kDone);

    QFile saved(dir_->filePath(QStringLiteral("saved.pbm")));
    // The emulator saves each completed logo before it answers the last row.
    QVERIFY(saved.exists());
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray pbm = saved.readAll();
    const QByteArray header = "P4\n200 120\n";
    QVERIFY(pbm.startsWith(header));
    QCOMPARE(TArrayOfByte(pbm.begin() + header.size(), pbm.end()), dots);
}

KKM_WINDOW_TEST_MAIN(LogoUploadTest)
#include "LogoUploadTest.moc"
