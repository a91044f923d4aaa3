// The authorisation dialog: pick one of the register's users, type that
// user's numeric password, and the register decides. The user list is read
// from the register every time the dialog opens.
#pragma once

#include "KkmTypes.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TPageHost;

class TAuthForm : public QDialog {
    Q_OBJECT

public:
    explicit TAuthForm(TPageHost* Host);

    // The entry of cb_UserList for a user record of table 9: the post, two
    // spaces, the full name, trimmed as a whole.
    static QString UserEntry(const TArrayOfByte& Record);

    QLabel* Label1 = nullptr;
    QComboBox* cb_UserList = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* ed_Password = nullptr;
    QPushButton* b_Auth = nullptr;
    QPushButton* b_Cancel = nullptr;

public slots:
    void FormShow();
    void b_AuthClick();

protected:
    void showEvent(QShowEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    // True when the typed key may reach the password edit.
    bool ed_PasswordKeyPress(const class QKeyEvent* Key);

    TPageHost* const Host;
};
