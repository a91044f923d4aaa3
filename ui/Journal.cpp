#include "Journal.h"

#include "TextRules.h"

#include <QTextCursor>
#include <QTime>

TJournal::TJournal(QWidget* parent) : QTextEdit(parent)
{
    setObjectName(QStringLiteral("re_LogOut"));
    setReadOnly(true);
    setFixedHeight(89);
    setLineWrapMode(QTextEdit::NoWrap);
}

void TJournal::Add(const QString& text, const QColor& color)
{
    if (TrimText(text).isEmpty())
        return;
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::Start);
    QTextCharFormat textFormat;
    textFormat.setForeground(color);
    cursor.insertText(text, textFormat);

    // Then the line feed, the time and the separator in front of it, so the
    // journal starts with an empty line above the newest entry.
    cursor.movePosition(QTextCursor::Start);
    QTextCharFormat timeFormat;
    timeFormat.setForeground(QColor(Qt::black));
    cursor.insertText(QStringLiteral("\n") + QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) +
                          QStringLiteral(" >> "),
                      timeFormat);
    // The newest entry is on top; keep it in view.
    moveCursor(QTextCursor::Start);
}
