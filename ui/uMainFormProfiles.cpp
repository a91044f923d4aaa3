// The main window's profile commands of the "Файл" menu.
#include "uMainForm.h"
#include "uSettingsPage.h"

#include "ProfileJobs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QStackedWidget>

#include <memory>

namespace {

// As the goods CSV dialogs: the program's folder, an empty file name, and
// ".json" for a name typed without an extension.
QString ChooseProfileFile(QFileDialog* dialog)
{
    dialog->setDirectory(QCoreApplication::applicationDirPath());
    dialog->setNameFilter(QStringLiteral("Профиль ККМ (*.json)"));
    dialog->setDefaultSuffix(QStringLiteral("json"));
    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        name->clear();
    if (dialog->exec() != QDialog::Accepted)
        return QString();
    return dialog->selectedFiles().value(0);
}

// A profile file, checked whole; an error names the file or the table and field.
kkm::TProfile LoadProfile(const QString& path)
{
    kkm::TProfile profile;
    QString error;
    switch (kkm::ReadProfileFile(path, profile, error)) {
    case kkm::TProfileFileFault::None:
        break;
    case kkm::TProfileFileFault::Unreadable:
        throw EKkmError(QStringLiteral("Не удалось открыть файл %1: %2").arg(path, error));
    case kkm::TProfileFileFault::Invalid:
        throw EKkmError(error);
    }
    return profile;
}

} // namespace

void TMainForm::mm_f_saveProfileClick()
{
    const QString location = QStringLiteral("TMainForm.mm_f_saveProfileClick");
    Guard(location, [&] {
        if (Busy() || WorkMode < wmReadOnly)
            return;
        const QString path = ChooseProfileFile(saveDialog_);
        if (path.isEmpty())
            return;
        auto profile = std::make_shared<kkm::TProfile>();
        auto read = std::make_shared<bool>(false);
        StartJob(
            location, [profile, read](kkm::TJobContext& job) { *read = kkm::ProfileReadJob(job, {}, *profile); },
            [this, profile, read, path] {
                if (!*read)
                    return;
                QString error;
                if (!kkm::SaveProfileFile(path, *profile, error))
                    throw EKkmError(QStringLiteral("Не удалось записать файл %1: %2").arg(path, error));
                WriteLog(QStringLiteral("Профиль ККМ сохранён: ") + path, QColor(clBlack));
            });
    });
}

void TMainForm::mm_f_loadProfileClick()
{
    Guard(QStringLiteral("TMainForm.mm_f_loadProfileClick"), [&] {
        // A running read would overwrite what the file puts in the controls.
        if (Busy())
            return;
        const QString path = ChooseProfileFile(openDialog_);
        if (path.isEmpty())
            return;
        const kkm::TProfile profile = LoadProfile(path);
        ts_KKMOptions->ShowProfile(profile);
        PageControl->setCurrentIndex(pgKKMOptions);
        WriteLog(QStringLiteral("Профиль ККМ загружен: ") + path, QColor(clBlack));
    });
}

void TMainForm::mm_f_compareProfileClick()
{
    const QString location = QStringLiteral("TMainForm.mm_f_compareProfileClick");
    Guard(location, [&] {
        if (Busy() || WorkMode < wmReadOnly)
            return;
        const QString path = ChooseProfileFile(openDialog_);
        if (path.isEmpty())
            return;
        // A bad file is refused before the register is asked anything.
        auto file = std::make_shared<const kkm::TProfile>(LoadProfile(path));
        QStringList tables;
        for (const auto& [key, records] : file->Tables)
            tables << key;
        StartJob(location, [file, tables, path](kkm::TJobContext& job) {
            job.Line(QStringLiteral("Сравнение ККМ с профилем %1 ...").arg(path), kkm::TLineKind::Progress);
            kkm::TProfile reg;
            if (!kkm::ProfileReadJob(job, tables, reg))
                return;
            const std::vector<kkm::TProfileDifference> differences = kkm::CompareProfiles(reg, *file);
            for (const kkm::TProfileDifference& d : differences)
                job.Line(kkm::ProfileDifferenceLine(d), kkm::TLineKind::Progress);
            job.Line(QStringLiteral("Сравнение с профилем завершено, различий: %1.").arg(differences.size()),
                     kkm::TLineKind::Progress);
        });
    });
}
