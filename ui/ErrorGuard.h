// The error guard that every window handler runs its body under: an error
// ends the body where it happened (nothing is rolled back) and is shown with
// the handler's location text.
#pragma once

#include <QString>

#include <exception>
#include <stdexcept>
#include <utility>

class QWidget;

// An error raised by the windows themselves, for example a text that is not
// a number. The message is UTF-8.
class EKkmError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    explicit EKkmError(const QString& Message) : std::runtime_error(Message.toStdString()) {}
};

// Message shown for an error that carries no text of its own.
QString UnknownErrorText();

// Runs Body; on an error calls Report(Location, message) and returns false.
template <class Reporter, class Body>
bool RunGuarded(Reporter&& Report, const QString& Location, Body&& body)
{
    try {
        std::forward<Body>(body)();
        return true;
    } catch (const std::exception& e) {
        Report(Location, QString::fromUtf8(e.what()));
    } catch (...) {
        Report(Location, UnknownErrorText());
    }
    return false;
}

// The report for handlers that have no guard of their own: a box with the
// program's name as caption and the bare message, the way an unhandled
// error is shown. The window stays as it is.
void ShowUnhandledError(QWidget* Parent, const QString& Message);

// Runs Body; an error goes to ShowUnhandledError.
template <class Body>
bool RunUnguarded(QWidget* Parent, Body&& body)
{
    return RunGuarded([Parent](const QString&, const QString& Message) {
        ShowUnhandledError(Parent, Message);
    }, QString(), std::forward<Body>(body));
}
