// A working page of the main window. The frame routes the speed-bar
// commands (read, write, import, export) to the page in front; a page that
// has nothing to do for a command leaves it as a no-op. The commands run
// inside the frame's error guard with the command's location text, so a
// page may simply raise an error to end one.
#pragma once

#include "PageHost.h"

#include <QWidget>

// The speed-bar commands a page offers.
struct TTableCommands {
    bool Read = false;
    bool Write = false;
    bool Import = false;
    bool Export = false;
    bool Stop = false;
};

class TPage : public QWidget {
    Q_OBJECT

public:
    TPage(TPageHost* Host, const char* Name, const QString& Caption, QWidget* Parent);

    // What the page offers while the register is connected (read-only) or
    // writable (authorised); the frame takes the busy state off on top.
    virtual TTableCommands Commands(bool Connected, bool Writable) const
    {
        (void)Connected;
        (void)Writable;
        return {};
    }
    // From the frame's idle update, for every page: whether it is in front
    // and whether a job runs.
    virtual void Update(bool InFront, bool Busy)
    {
        (void)InFront;
        (void)Busy;
    }

    virtual void ReadTable() {}
    virtual void WriteTable() {}
    virtual void Import() {}
    virtual void Export() {}
    virtual void Stop() {}

protected:
    TPageHost* const Host;
};
