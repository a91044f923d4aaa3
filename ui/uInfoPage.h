// Page 0: who the connected register is and what state it is in.
#pragma once

#include "uPage.h"

class QGroupBox;
class QLabel;
class QPushButton;

class TInfoPage : public TPage {
    Q_OBJECT

public:
    TInfoPage(TPageHost* Host, QWidget* Parent);

    QGroupBox* gb_KKMInfo = nullptr;
    QLabel* lb_c_ModelName = nullptr;
    QLabel* lb_ModelName = nullptr;
    QLabel* lb_c_znumber = nullptr;
    QLabel* lb_zNumber = nullptr;
    QLabel* lb_c_Sp = nullptr;
    QLabel* lb_SP = nullptr;
    QLabel* lb_c_KKMDate = nullptr;
    QLabel* lb_KKMDate = nullptr;
    QLabel* lb_c_KKMError = nullptr;
    QLabel* lb_KKMError = nullptr;
    QLabel* lb_c_Opertor = nullptr;
    QLabel* lb_Operator = nullptr;
    QLabel* lb_c_Smena = nullptr;
    QLabel* lb_Smena = nullptr;
    QLabel* lb_c_itog = nullptr;
    QLabel* lb_itog = nullptr;
    QLabel* lb_c_Nal = nullptr;
    QLabel* lb_Nal = nullptr;
    QPushButton* b_infoRefresh = nullptr;

public slots:
    // Reads the identity and the state; also run after every connection.
    void b_InfoRefreshClick();
};
