// A working page of the main window. The main window routes the speed-bar
// commands (read, write, import, export) to the page in front; a page that
// has nothing to do for a command leaves it as a no-op. The commands run
// inside the main window's error guard with the command's location text, so
// a page may simply raise an error to end one.
#pragma once

#include <QWidget>

class TMainForm;

class TPage : public QWidget {
    Q_OBJECT

public:
    TPage(TMainForm* Main, const char* Name, const QString& Caption, QWidget* Parent);

    virtual void ReadTable() {}
    virtual void WriteTable() {}
    virtual void Import() {}
    virtual void Export() {}

    // The main window's services: journal, error box and guard, work mode,
    // protocol component, stop flag, goods item flags.
    TMainForm* const Main;
};
