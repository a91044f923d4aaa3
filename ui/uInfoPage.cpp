#include "uInfoPage.h"

#include "SessionJobs.h"

#include "KkmText.h"


#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString Number(std::int64_t v)
{
    return QString::number(v);
}

QString FromStd(const std::string& s)
{
    return QString::fromStdString(s);
}

} // namespace

TInfoPage::TInfoPage(TPageHost* host, QWidget* parent)
    : TPage(host, "ts_Information", QStringLiteral("Информация"), parent)
{
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(8, 8, 8, 8);
    page->setSpacing(8);

    gb_KKMInfo = new QGroupBox(QStringLiteral(" Общие данные по ДЛФ"), this);
    gb_KKMInfo->setObjectName(QStringLiteral("gb_KKMInfo"));
    QFont bold = gb_KKMInfo->font();
    bold.setBold(true);
    gb_KKMInfo->setFont(bold);
    QFont regular = bold;
    regular.setBold(false);

    auto* grid = new QGridLayout(gb_KKMInfo);
    grid->setContentsMargins(16, 14, 16, 14);
    grid->setHorizontalSpacing(24);
    grid->setVerticalSpacing(9);
    grid->setColumnMinimumWidth(0, 220);
    grid->setColumnStretch(1, 1);
    int rowNo = 0;
    auto row = [&](QLabel*& caption, const char* captionName, const QString& text,
                   QLabel*& value, const char* valueName) {
        caption = new QLabel(text, gb_KKMInfo);
        caption->setObjectName(QLatin1String(captionName));
        caption->setFont(regular);
        value = new QLabel(QStringLiteral("--"), gb_KKMInfo);
        value->setObjectName(QLatin1String(valueName));
        value->setFont(regular);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(caption, rowNo, 0);
        grid->addWidget(value, rowNo, 1);
        ++rowNo;
    };
    row(lb_c_ModelName, "lb_c_ModelName", QStringLiteral("Название модели ККМ"), lb_ModelName,
        "lb_ModelName");
    row(lb_c_znumber, "lb_c_znumber", QStringLiteral("Заводской номер ККМ"), lb_zNumber,
        "lb_zNumber");
    row(lb_c_Sp, "lb_c_Sp", QStringLiteral("Версия и дата СП"), lb_SP, "lb_SP");
    row(lb_c_KKMDate, "lb_c_KKMDate", QStringLiteral("Дата и время в ККМ"), lb_KKMDate,
        "lb_KKMDate");
    row(lb_c_KKMError, "lb_c_KKMError", QStringLiteral("Код ошибки устройства"), lb_KKMError,
        "lb_KKMError");
    row(lb_c_Opertor, "lb_c_Opertor", QStringLiteral("Текущий оператор и код режима"), lb_Operator,
        "lb_Operator");
    row(lb_c_Smena, "lb_c_Smena", QStringLiteral("Состояние смены"), lb_Smena, "lb_Smena");
    row(lb_c_itog, "lb_c_itog", QStringLiteral("Сумма сменного итога"), lb_itog, "lb_itog");
    row(lb_c_Nal, "lb_c_Nal", QStringLiteral("Сумма наличности в ККМ"), lb_Nal, "lb_Nal");
    page->addWidget(gb_KKMInfo);

    b_infoRefresh = new QPushButton(QStringLiteral("Обновить"), this);
    b_infoRefresh->setObjectName(QStringLiteral("b_infoRefresh"));
    b_infoRefresh->setFixedSize(75, 25);
    page->addWidget(b_infoRefresh, 0, Qt::AlignLeft);
    page->addStretch(1);

    connect(b_infoRefresh, &QPushButton::clicked, this, &TInfoPage::b_InfoRefreshClick);
}

void TInfoPage::b_InfoRefreshClick()
{
    Host->Guard(QStringLiteral("TMainForm.b_InfoRefreshClick"), [&] {
        Host->StartJob(QStringLiteral("TMainForm.b_InfoRefreshClick"), [this](kkm::TJobContext& job) {
            kkm::InfoJob(
                job,
                [this, &job](const kkm::TDeviceInfo& info) {
                    job.Post([this, info] {
                        lb_zNumber->setText(Number(info.SerialNumber));
                        lb_ModelName->setText(KkmTextToString(info.ModelName));
                        lb_SP->setText(Number(info.SoftVersion) + QStringLiteral("  [") +
                                       FromStd(info.SoftDate.DateString()) + QStringLiteral("]"));
                    });
                },
                [this, &job](const kkm::TDeviceState& state) {
                    job.Post([this, state] {
                        lb_KKMDate->setText(FromStd(state.Date.DateString()) + QStringLiteral("  ") +
                                            FromStd(state.Time.TimeString()));
                        lb_KKMError->setText(Number(state.ErrorCode));
                        lb_Operator->setText(Number(state.OperatorNo) + QStringLiteral(" , ") +
                                             Number(state.ModeCode));
                        lb_Smena->setText(state.SessionOpen != 0 ? QStringLiteral("Смена открыта")
                                                                 : QStringLiteral("Смена закрыта"));
                        lb_itog->setText(FromStd(state.SessionTotal.ToShortString()));
                        lb_Nal->setText(FromStd(state.CashInDrawer.ToShortString()));
                    });
                });
        });
    });
}
