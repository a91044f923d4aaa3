#include "uConnectForm.h"

#include "KkmText.h"
#include "PortDirectory.h"
#include "uMainForm.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QThread>

namespace {

// A plain box: no icon, the program's name as caption, an OK button.
void ShowMessage(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text,
                    QMessageBox::Ok, parent);
    box.exec();
}

} // namespace

TConnectForm::TConnectForm(TMainForm* main) : QDialog(main), Main(main)
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

    Main->ConnectForm = this;
    FormCreate();
}

void TConnectForm::FormCreate()
{
    Main->Guard(QStringLiteral("TConnectForm.FormCreate"), [&] {
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
    Main->Guard(QStringLiteral("TConnectForm.b_ConnectClick"), [&] {
        TOmvekCP* protokol = Main->Protokol;
        if (protokol->Port.Opened) {
            protokol->Port.Close();
            // The pause is the program's own custom; nothing depends on it
            // (Close has already stopped the reader). A register still
            // sending an answer finishes meanwhile.
            QThread::msleep(protokol->TimeOut());
        }
        const int speed = StrToInt(cb_PortSpeed->currentText());
        const int opened = protokol->Port.Open(cb_Port->currentText(), static_cast<std::uint32_t>(speed));
        if (opened != 0) {
            ShowMessage(this, TComPort::ResultText(opened));
            return;
        }
        const std::int32_t r = protokol->Connect(TMainForm::AR, TMainForm::AT, 5, 5);
        if (r == 0) {
            accept();
            return;
        }
        // The port stays open; the next attempt closes it first.
        ShowMessage(this, TOmvekCP::ErrorText(r));
    });
}
