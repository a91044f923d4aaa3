#include "uConnectForm.h"

#include "KkmText.h"
#include "PortDirectory.h"
#include "SessionJobs.h"
#include "PageHost.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

#include <memory>

namespace {

// A plain box: no icon, the program's name as caption, an OK button.
void ShowMessage(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text,
                    QMessageBox::Ok, parent);
    box.exec();
}

} // namespace

TConnectForm::TConnectForm(TPageHost* host) : QDialog(host->Window()), Host(host)
{
    setObjectName(QStringLiteral("ConnectForm"));
    setWindowTitle(QStringLiteral("Подключение"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    lb_port = new QLabel(QStringLiteral("Порт"), this);
    lb_port->setObjectName(QStringLiteral("lb_port"));
    cb_Port = new QComboBox(this);
    cb_Port->setObjectName(QStringLiteral("cb_Port"));
    cb_Port->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cb_Port->setMinimumContentsLength(10);
    lb_PortSpeed = new QLabel(QStringLiteral("Скорость"), this);
    lb_PortSpeed->setObjectName(QStringLiteral("lb_PortSpeed"));
    cb_PortSpeed = new QComboBox(this);
    cb_PortSpeed->setObjectName(QStringLiteral("cb_PortSpeed"));
    cb_PortSpeed->addItems({QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"),
                            QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                            QStringLiteral("57600"), QStringLiteral("115200")});
    b_Connect = new QPushButton(QStringLiteral("Подключить"), this);
    b_Connect->setObjectName(QStringLiteral("b_Connect"));
    b_Connect->setDefault(true);
    b_cancel = new QPushButton(QStringLiteral("Отмена"), this);
    b_cancel->setObjectName(QStringLiteral("b_cancel"));
    b_cancel->setAutoDefault(false);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(12, 12, 12, 10);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    grid->addWidget(lb_port, 0, 0);
    grid->addWidget(cb_Port, 0, 1);
    grid->addWidget(lb_PortSpeed, 1, 0);
    grid->addWidget(cb_PortSpeed, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(b_Connect);
    buttons->addStretch(1);
    buttons->addWidget(b_cancel);
    grid->addLayout(buttons, 2, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    setMinimumSize(224, 118);

    connect(b_Connect, &QPushButton::clicked, this, &TConnectForm::b_ConnectClick);
    connect(b_cancel, &QPushButton::clicked, this, &QDialog::reject);

    Host->Adopt(this);
    FormCreate();
}

void TConnectForm::FormCreate()
{
    Host->Guard(QStringLiteral("TConnectForm.FormCreate"), [&] {
        // The list is read once: a port that appears later cannot be chosen.
        QStringList ports;
        TComPort::GetPortList(ports);
        // Then the ports of running register emulators, so the program can
        // be tried and tested without hardware.
        ports << kkm::LiveEmulatorPorts(kkm::EmulatorPortDir());
        cb_Port->addItems(ports);
        cb_Port->setCurrentIndex(cb_Port->count() > 0 ? 0 : -1);
        cb_PortSpeed->setCurrentIndex(0);
    });
}

void TConnectForm::b_ConnectClick()
{
    Host->Guard(QStringLiteral("TConnectForm.b_ConnectClick"), [&] {
        const QString port = cb_Port->currentText();
        const int speed = StrToInt(cb_PortSpeed->currentText());
        // A second press while the first one works is not a second attempt.
        if (Host->Busy())
            return;
        auto result = std::make_shared<kkm::TConnectResult>();
        attempting_ = Host->StartJob(
            QStringLiteral("TConnectForm.b_ConnectClick"),
            [this, port, speed, result](kkm::TJobContext& job) {
                *result = kkm::ConnectJob(job, port, static_cast<std::uint32_t>(speed),
                                          [this, &job] { job.Post([this] { Host->OldPortClosed(); }); });
            },
            [this, result] {
                attempting_ = false;
                // Cancelled meanwhile: the attempt was ended and its port closed.
                if (!isVisible())
                    return;
                if (result->PortResult != 0)
                    ShowMessage(this, TComPort::ResultText(result->PortResult));
                else if (result->Result == 0)
                    accept();
                else // the port stays open; the next attempt closes it first
                    ShowMessage(this, TOmvekCP::ErrorText(result->Result));
            });
    });
}

void TConnectForm::reject()
{
    // "Отмена" while the attempt runs ends it and waits for it: the port is
    // closed, and a register that answers late connects nothing.
    if (attempting_) {
        Host->ClosePort();
        Host->OldPortClosed();
    }
    QDialog::reject();
}
