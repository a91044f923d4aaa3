#include "uAuthForm.h"

#include "SessionJobs.h"

#include "KkmText.h"
#include "PageHost.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>

TAuthForm::TAuthForm(TPageHost* host) : QDialog(host->Window()), Host(host)
{
    setObjectName(QStringLiteral("AuthForm"));
    setWindowTitle(QStringLiteral("Авторизация"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    Label1 = new QLabel(QStringLiteral("Пользователь"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    cb_UserList = new QComboBox(this);
    cb_UserList->setObjectName(QStringLiteral("cb_UserList"));
    cb_UserList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cb_UserList->setMinimumContentsLength(16);
    Label2 = new QLabel(QStringLiteral("Пароль"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    ed_Password = new QLineEdit(this);
    ed_Password->setObjectName(QStringLiteral("ed_Password"));
    ed_Password->setEchoMode(QLineEdit::Password);
    ed_Password->setMaxLength(6);
    ed_Password->installEventFilter(this);
    b_Auth = new QPushButton(QStringLiteral("Авторизовать"), this);
    b_Auth->setObjectName(QStringLiteral("b_Auth"));
    b_Auth->setDefault(true);
    b_Cancel = new QPushButton(QStringLiteral("Отмена"), this);
    b_Cancel->setObjectName(QStringLiteral("b_Cancel"));
    b_Cancel->setAutoDefault(false);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(12, 12, 12, 10);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(cb_UserList, 0, 1);
    grid->addWidget(Label2, 1, 0);
    grid->addWidget(ed_Password, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(b_Auth);
    buttons->addStretch(1);
    buttons->addWidget(b_Cancel);
    grid->addLayout(buttons, 2, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    setMinimumSize(297, 120);

    connect(b_Auth, &QPushButton::clicked, this, &TAuthForm::b_AuthClick);
    connect(b_Cancel, &QPushButton::clicked, this, &QDialog::reject);

    Host->Adopt(this);
}

QString TAuthForm::UserEntry(const TArrayOfByte& record)
{
    return kkm::UserEntryText(record);
}

void TAuthForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TAuthForm::FormShow()
{
    Host->Guard(QStringLiteral("TAuthForm.FormShow"), [&] {
        cb_UserList->clear();
        ed_Password->clear();
        Host->StartJob(
            QStringLiteral("TAuthForm.FormShow"),
            [this](kkm::TJobContext& job) {
                kkm::UserListJob(job, [this, &job](const TArrayOfByte& record) {
                    job.Post([this, record] {
                        cb_UserList->addItem(UserEntry(record));
                        if (cb_UserList->count() == 1)
                            cb_UserList->setCurrentIndex(0);
                    });
                });
            });
    });
}

bool TAuthForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ed_Password && event->type() == QEvent::KeyPress) {
        bool accepted = true;
        Host->Guard(QStringLiteral("TAuthForm.ed_PasswordKeyPress"), [&] {
            accepted = ed_PasswordKeyPress(static_cast<QKeyEvent*>(event));
        });
        return !accepted;
    }
    return QDialog::eventFilter(watched, event);
}

bool TAuthForm::ed_PasswordKeyPress(const QKeyEvent* key)
{
    // Keys that type nothing (arrows, Delete, Home, End) and the dialog's
    // own keys (Enter, Escape, Tab) are not characters and pass.
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
        return true;
    default:
        break;
    }
    const QString text = key->text();
    if (text.isEmpty())
        return true;
    // Every other character but the digits and backspace is dropped, the
    // control characters of Ctrl+V and the like included.
    const QChar ch = text.at(0);
    return text.size() == 1 && ((ch >= u'0' && ch <= u'9') || ch == u'\b');
}

void TAuthForm::b_AuthClick()
{
    // No guard of its own: an error (a pasted password that is no number)
    // is reported as unhandled and the dialog stays open.
    RunUnguarded(this, [&] {
        const QString password = TrimText(ed_Password->text());
        if (password.isEmpty()) {
            QMessageBox box(QMessageBox::Warning, QStringLiteral("Внимание!"),
                            QStringLiteral("Поле пароль не должно быть пустое!"), QMessageBox::Ok,
                            this);
            box.exec();
            return;
        }
        const auto user = static_cast<std::uint8_t>(cb_UserList->currentIndex() + 1);
        const std::int64_t number = StrToInt64(password);
        // A press while the list is read or the first press waits is
        // refused ("Передатчик занят."), and the running one's outcome stands.
        auto result = std::make_shared<std::int32_t>(0);
        Host->StartJob(
            QStringLiteral("TAuthForm.b_AuthClick"),
            [user, number, result](kkm::TJobContext& job) {
                *result = kkm::AuthoriseJob(job, user, number);
            },
            [this, result, entry = cb_UserList->currentText()] {
                // Taken also when the dialog was cancelled meanwhile: the
                // register has authorised the user.
                if (*result == 0) {
                    Host->Authorised(entry);
                    accept();
                    return;
                }
                Host->WriteLog(TOmvekCP::ErrorText(*result), QColor(clRed));
                reject();
            });
    });
}
