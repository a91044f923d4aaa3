// What the frame offers its pages and dialogs: jobs on the session, the busy
// state, the journal, the error box and guard, the shared file dialogs and
// the changes of work mode that a dialog brings about. Pages and dialogs
// know the frame only through this.
#pragma once

#include "ErrorGuard.h"
#include "Session.h"

#include <QColor>
#include <QString>

#include <functional>
#include <utility>

class QFileDialog;
class QWidget;
class TAuthForm;
class TConnectForm;
class TPage;

// Journal colours: progress and completion, errors, changes of work mode.
constexpr QRgb clBlack = qRgb(0, 0, 0);
constexpr QRgb clRed = qRgb(255, 0, 0);
constexpr QRgb clBlue = qRgb(0, 0, 255);

class TPageHost {
public:
    virtual ~TPageHost() = default;

    // Starts Body on the session. Done then runs on the window's thread
    // under the guard with Location, so it may raise an error to show one.
    // Refused with "Передатчик занят." in red while another job runs.
    virtual bool StartJob(const QString& Location, kkm::TSession::Job Body,
                          std::function<void()> Done = {}) = 0;
    // A job runs (one busy state for the whole window).
    virtual bool Busy() const = 0;

    // One journal entry on top: time in black, " >> ", the text in Color.
    // A blank text adds nothing.
    virtual void WriteLog(const QString& Text, const QColor& Color) = 0;
    // The error box; writes nothing to the journal.
    virtual void ShowError(const QString& Location, const QString& Message) = 0;
    // Runs a handler's body under the error guard; false when it ended on an
    // error, which has then been shown with Location.
    template <class Body>
    bool Guard(const QString& Location, Body&& body)
    {
        return RunGuarded([this](const QString& l, const QString& m) { ShowError(l, m); }, Location,
                          std::forward<Body>(body));
    }

    // The window, as the parent of boxes.
    virtual QWidget* Window() = 0;
    // Page is the one in front.
    virtual bool InFront(const TPage* Page) const = 0;
    // The file dialogs shared by the pages: choosing a file to read, and one
    // to write.
    virtual QFileDialog* OpenDialog() const = 0;
    virtual QFileDialog* SaveDialog() const = 0;

    // The dialogs enter themselves when they are created.
    virtual void Adopt(TConnectForm* Dialog) = 0;
    virtual void Adopt(TAuthForm* Dialog) = 0;
    // Ends the running job and closes the port; the next opening waits.
    virtual void ClosePort() = 0;
    // A connect attempt has closed the open port: offline from now on.
    virtual void OldPortClosed() = 0;
    // The register authorised User (an entry of the dialog's list): the
    // journal lines and read/write mode, whether or not the dialog is still
    // open.
    virtual void Authorised(const QString& User) = 0;
};
