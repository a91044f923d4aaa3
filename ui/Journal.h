// The journal under the pages: a read-only rich-text box, newest entry on
// top, each entry the time in black, " >> " and the text in its colour. It
// lives only on screen and has no size limit.
#pragma once

#include <QTextEdit>

class TJournal : public QTextEdit {
    Q_OBJECT

public:
    explicit TJournal(QWidget* Parent = nullptr);

    // One entry on top; a blank text (spaces and control characters only)
    // adds nothing, any other is shown unchanged.
    void Add(const QString& Text, const QColor& Color);
};
