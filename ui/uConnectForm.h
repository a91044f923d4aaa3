// The connect dialog: choose a port and a speed, open the port and greet the
// register. Created once after the main window and shown modally on demand;
// it keeps its last choice between uses.
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;
class TPageHost;

class TConnectForm : public QDialog {
    Q_OBJECT

public:
    explicit TConnectForm(TPageHost* Host);

    QLabel* lb_port = nullptr;
    QComboBox* cb_Port = nullptr;
    QLabel* lb_PortSpeed = nullptr;
    QComboBox* cb_PortSpeed = nullptr;
    QPushButton* b_Connect = nullptr;
    QPushButton* b_cancel = nullptr;

public slots:
    void FormCreate();
    void b_ConnectClick();
    void reject() override;

private:
    TPageHost* const Host;
    // This dialog's connect job runs.
    bool attempting_ = false;
};
