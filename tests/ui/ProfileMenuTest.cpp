// The profile commands of the "Файл" menu against the register emulator:
// when they are available, the saved file, a file loaded into the settings
// page (and a bad one refused with its table and field named), and the
// comparison's lines in the journal.
#include "CheckComboBox.h"
#include "Profile.h"
#include "PtyRegister.h"
#include "RegisterCodes.h"
#include "RegisterModel.h"
#include "UiTestSupport.h"
#include "uAuthForm.h"
#include "uConnectForm.h"
#include "uMainForm.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QThread>

#include <atomic>
#include <memory>

using namespace kkm::emu;

namespace {

// The shipped register's settings as a profile file, decoded from its
// records without a line in between.
QJsonObject ShippedProfile()
{
    RegisterModel model;
    kkm::TProfile p;
    p.Model = QStringLiteral("тест");
    for (const TRegisterTable& t : SettingsTables()) {
        kkm::TProfileRecords records;
        for (int r = t.FirstRecord; r <= t.LastRecord; ++r) {
            std::vector<TFieldValue> values;
            QString error;
            if (!DecodeRecord(t, r, model.Record(t.Table, r), values, error))
                qFatal("shipped record does not decode");
            records.push_back(std::move(values));
        }
        p.Tables[t.Key] = std::move(records);
    }
    return QJsonDocument::fromJson(kkm::ProfileToJson(p)).object();
}

// One value of the file: Row 0 for a table of one record.
void SetValue(QJsonObject& root, const char* table, int row, const char* key, const QJsonValue& value)
{
    QJsonObject tables = root.value("tables").toObject();
    if (row == 0) {
        QJsonObject o = tables.value(table).toObject();
        o.insert(key, value);
        tables.insert(table, o);
    } else {
        QJsonArray rows = tables.value(table).toArray();
        QJsonObject o = rows.at(row - 1).toObject();
        o.insert(key, value);
        rows.replace(row - 1, o);
        tables.insert(table, rows);
    }
    root.insert("tables", tables);
}

} // namespace

class ProfileMenuTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void menuItemsAndWhenTheyAreAvailable();
    void saveWritesTheRegistersProfile();
    void loadFillsTheSettingsPage();
    void loadRefusesABadFile();
    void compareListsTheDifferingFields();

private:
    void Connect();
    // Triggers Action; the file dialog is answered with Path; the next
    // message box, if Box, is accepted and noted. False when a modal window
    // came that was not expected or an expected one did not.
    bool Run(QAction* action, const QString& path, TSeenBox* box = nullptr);
    QString WriteFile(const QString& name, const QJsonObject& root);
    // Journal texts since Mark(), oldest first; red ones start with "!".
    void Mark() { mark_ = JournalEntries(main_->re_LogOut).size(); }
    QStringList NewJournal() const;

    std::unique_ptr<PtyRegister> reg_;
    std::unique_ptr<TMainForm> main_;
    std::unique_ptr<QTemporaryDir> dir_;
    qsizetype mark_ = 0;
};

void ProfileMenuTest::init()
{
    reg_ = std::make_unique<PtyRegister>();
    QString error;
    QVERIFY2(reg_->Start(PtyRegister::Options(), &error), qPrintable(error));
    main_ = std::make_unique<TMainForm>();
    new TConnectForm(main_.get());
    new TAuthForm(main_.get());
    main_->show();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void ProfileMenuTest::cleanup()
{
    main_.reset();
    reg_.reset();
    dir_.reset();
}

void ProfileMenuTest::Connect()
{
    // Not a test of time-outs: a loaded machine must not fail it.
    main_->Session->SetTimeOut(2000);
    QVERIFY(ConnectThroughDialog(*main_, reg_->PublishedPath()));
    QVERIFY(WaitIdle(*main_));
}

bool ProfileMenuTest::Run(QAction* action, const QString& path, TSeenBox* box)
{
    TModalDriver driver;
    AnswerFileDialog(driver, path);
    if (box)
        driver.AcceptBox(box);
    main_->act_mainFormUpdate();
    action->trigger();
    const bool idle = WaitIdle(*main_);
    if (!driver.Unexpected.isEmpty())
        qWarning() << "unexpected:" << driver.Unexpected;
    return idle && driver.Done() && driver.Unexpected.isEmpty();
}

QString ProfileMenuTest::WriteFile(const QString& name, const QJsonObject& root)
{
    QFile file(dir_->filePath(name));
    const QByteArray bytes = QJsonDocument(root).toJson();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write the test file");
    return file.fileName();
}

QStringList ProfileMenuTest::NewJournal() const
{
    const QList<TLogEntry> entries = JournalEntries(main_->re_LogOut);
    QStringList out;
    for (qsizetype i = entries.size() - mark_ - 1; i >= 0; --i)
        out << (entries[i].TextColor == QColor(clRed) ? QStringLiteral("!") : QString()) + entries[i].Text;
    return out;
}

// ---------------------------------------------------------------------------

void ProfileMenuTest::menuItemsAndWhenTheyAreAvailable()
{
    TMainForm& m = *main_;
    const QList<QAction*> actions = m.mm_File->actions();
    const QList<QPair<QAction*, QString>> items = {{m.mm_f_saveProfile, "Сохранить профиль ККМ..."},
                                                   {m.mm_f_loadProfile, "Загрузить профиль ККМ..."},
                                                   {m.mm_f_compareProfile, "Сравнить с профилем..."}};
    const QStringList names = {"mm_f_saveProfile", "mm_f_loadProfile", "mm_f_compareProfile"};
    qsizetype previous = -1;
    for (int i = 0; i < items.size(); ++i) {
        QAction* a = items[i].first;
        QVERIFY(a);
        QCOMPARE(a->objectName(), names[i]);
        QCOMPARE(a->text(), items[i].second);
        QCOMPARE(m.findChildren<QAction*>(names[i]).size(), 1);
        // In this order, above "Настроить...".
        QVERIFY(actions.indexOf(a) > previous);
        previous = actions.indexOf(a);
    }
    QVERIFY(previous < actions.indexOf(m.mm_f_settings));

    // Offline only a file can be loaded.
    QVERIFY(WaitIdle(m));
    QVERIFY(!m.mm_f_saveProfile->isEnabled());
    QVERIFY(!m.mm_f_compareProfile->isEnabled());
    QVERIFY(m.mm_f_loadProfile->isEnabled());

    Connect();
    QVERIFY(m.mm_f_saveProfile->isEnabled());
    QVERIFY(m.mm_f_compareProfile->isEnabled());
    QVERIFY(m.mm_f_loadProfile->isEnabled());

    // None while a job runs.
    std::atomic<bool> release{false};
    QVERIFY(m.StartJob(QStringLiteral("test"), [&release](kkm::TJobContext&) {
        for (int i = 0; i < 60000 && !release; ++i)
            QThread::msleep(1);
    }));
    m.act_mainFormUpdate();
    QVERIFY(!m.mm_f_saveProfile->isEnabled());
    QVERIFY(!m.mm_f_compareProfile->isEnabled());
    QVERIFY(!m.mm_f_loadProfile->isEnabled());
    release = true;
    QVERIFY(WaitIdle(m));
    QVERIFY(m.mm_f_saveProfile->isEnabled());
}

void ProfileMenuTest::saveWritesTheRegistersProfile()
{
    reg_->WithModel([](RegisterModel& m) { m.State().identity.SerialNumber = 4711; });
    Connect();
    const QString path = dir_->filePath(QStringLiteral("shop"));
    Mark();
    QVERIFY(Run(main_->mm_f_saveProfile, path));

    // ".json" added to a name typed without it.
    QFile file(path + QStringLiteral(".json"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    kkm::TProfile saved;
    QString error;
    QVERIFY2(kkm::ProfileFromJson(file.readAll(), saved, error), qPrintable(error));
    QCOMPARE(saved.Serial, QStringLiteral("4711"));
    QCOMPARE(saved.Tables.size(), SettingsTables().size());
    // Everything the shipped register holds, read over the line.
    kkm::TProfile shipped;
    QVERIFY(kkm::ProfileFromJson(QJsonDocument(ShippedProfile()).toJson(), shipped, error));
    QVERIFY(kkm::CompareProfiles(shipped, saved).empty());

    const QStringList journal = NewJournal();
    QCOMPARE(journal.value(0), QStringLiteral("Чтение профиля ККМ ..."));
    QCOMPARE(journal.value(journal.size() - 2), QStringLiteral("Чтение профиля ККМ завершено."));
    QCOMPARE(journal.last(), QStringLiteral("Профиль ККМ сохранён: ") + file.fileName());
    for (const QString& line : journal)
        QVERIFY2(!line.startsWith(u'!'), qPrintable(line));
}

void ProfileMenuTest::loadFillsTheSettingsPage()
{
    QJsonObject root = ShippedProfile();
    SetValue(root, "options", 0, "inn", "000000001234");
    SetValue(root, "options", 0, "default_cashier", "5");
    SetValue(root, "text_lines", 4, "text", "  ДОБРО");
    SetValue(root, "text_lines", 4, "attributes", QJsonArray{"По высоте"});
    SetValue(root, "operators", 3, "name", "Петров");
    SetValue(root, "operators", 3, "rights", QJsonArray{"продажа", "x-отчеты"});
    SetValue(root, "sections", 2, "sphere", "Услуги");
    const QString path = WriteFile(QStringLiteral("shop.json"), root);

    // No register is needed to look a file over.
    Mark();
    QVERIFY(Run(main_->mm_f_loadProfile, path));
    TSettingsPage* page = main_->ts_KKMOptions;
    QCOMPARE(main_->PageControl->currentIndex(), int(TMainForm::pgKKMOptions));
    QCOMPARE(page->ed_INN->text(), QStringLiteral("000000001234"));
    QCOMPARE(page->cb_Kassir->currentIndex(), 5);
    QCOMPARE(page->ed_CheckTop->text(), QStringLiteral("  ДОБРО"));
    QCOMPARE(page->cb_checkTopc->Mask(), 2u);
    QCOMPARE(page->OperatorsCell(1, 3), QStringLiteral("Петров"));
    QCOMPARE(page->OperatorsCell(2, 3), QStringLiteral("17"));
    QCOMPARE(page->OperatorRights(3)->item(4)->checkState(), Qt::Checked);
    QCOMPARE(page->SectionsCell(4, 2), QStringLiteral("1"));
    QCOMPARE(page->SectionsList(2)->currentIndex(), 1);
    // What the shipped register has elsewhere.
    QCOMPARE(page->ed_ScreenDelay->text(), QStringLiteral("30"));
    QCOMPARE(page->cb_PCSpeed->currentText(), QStringLiteral("9600"));
    QCOMPARE(NewJournal(), QStringList{QStringLiteral("Профиль ККМ загружен: ") + path});
}

void ProfileMenuTest::loadRefusesABadFile()
{
    QJsonObject root = ShippedProfile();
    SetValue(root, "options", 0, "inn", "000000001234");
    SetValue(root, "operators", 5, "rights", QJsonArray{"продажа", "кофе"});
    const QString path = WriteFile(QStringLiteral("bad.json"), root);
    Mark();
    TSeenBox box;
    QVERIFY(Run(main_->mm_f_loadProfile, path, &box));
    QCOMPARE(box.Title, QStringLiteral("Ошибка"));
    QVERIFY2(box.Text.contains(QStringLiteral("TMainForm.mm_f_loadProfileClick")), qPrintable(box.Text));
    QVERIFY2(box.Text.contains(QStringLiteral("Профиль: таблица operators, строка 5, поле rights: \"кофе\" нет в списке")),
             qPrintable(box.Text));
    // Nothing of the file is shown, and nothing is written to the journal.
    QCOMPARE(main_->ts_KKMOptions->ed_INN->text(), QString());
    QCOMPARE(NewJournal(), QStringList());
}

void ProfileMenuTest::compareListsTheDifferingFields()
{
    QJsonObject root = ShippedProfile();
    SetValue(root, "options", 0, "inn", "000000000001");
    SetValue(root, "operators", 3, "name", "Петров");
    SetValue(root, "devices", 0, "pc_speed", "115200");
    const QString path = WriteFile(QStringLiteral("other.json"), root);
    Connect();
    reg_->ClearRequests();
    Mark();
    QVERIFY(Run(main_->mm_f_compareProfile, path));
    const QStringList journal = NewJournal();
    QCOMPARE(journal.value(0), QStringLiteral("Сравнение ККМ с профилем %1 ...").arg(path));
    QCOMPARE(journal.value(1), QStringLiteral("Чтение профиля ККМ ..."));
    const QStringList tail = journal.mid(journal.size() - 5);
    QCOMPARE(tail, (QStringList{
                       "Чтение профиля ККМ завершено.",
                       "options, inn: \"770112345678\" → \"000000000001\"",
                       "devices, pc_speed: \"9600\" → \"115200\"",
                       "operators[3], name: \"Сидорова Ольга Петровна\" → \"Петров\"",
                       "Сравнение с профилем завершено, различий: 3.",
                   }));
    // Reading only: nothing written to the register.
    QVERIFY(!reg_->Requests().empty());
    for (const RequestRecord& r : reg_->Requests()) {
        QVERIFY(r.Body.size() > 3);
        QVERIFY(r.Body[3] != kkm::cmdWriteTableRecord && r.Body[3] != kkm::cmdWriteTableField);
    }
}

KKM_WINDOW_TEST_MAIN(ProfileMenuTest)
#include "ProfileMenuTest.moc"
