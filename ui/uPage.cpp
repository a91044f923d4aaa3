#include "uPage.h"

TPage::TPage(TPageHost* host, const char* name, const QString& caption, QWidget* parent)
    : QWidget(parent), Host(host)
{
    setObjectName(QLatin1String(name));
    // The pages are never shown with tabs; the caption stays as the title.
    setWindowTitle(caption);
}
