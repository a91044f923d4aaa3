#include "uPage.h"

#include "uMainForm.h"

TPage::TPage(TMainForm* main, const char* name, const QString& caption, QWidget* parent)
    : QWidget(parent), Main(main)
{
    setObjectName(QLatin1String(name));
    // The pages are never shown with tabs; the caption stays as the title.
    setWindowTitle(caption);
}
