// Reading and writing the settings tables and the goods list through the
// window's speed-bar commands, against the register emulator on a
// pseudo-terminal: what is asked in which order, what the controls show,
// what the register holds afterwards, and what the journal says.
#include "CheckComboBox.h"
#include "Cp1251.h"
#include "GoodsModel.h"
#include "PtyRegister.h"
#include "UiTestSupport.h"
#include "uAuthForm.h"
#include "uConnectForm.h"
#include "uMainForm.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <initializer_list>
#include <memory>

using namespace kkm::emu;

namespace {

// One register record as it should stand after a write.
struct TRecordBytes {
    int Table = 0;
    int Record = 0;
    QByteArray Bytes;
};
using TRecords = QList<TRecordBytes>;

QByteArray Hex(const char* hex)
{
    return QByteArray::fromHex(hex);
}

// Text in the register's code page, padded with spaces to Width bytes.
QByteArray Text(const QString& text, int width)
{
    return ToCp1251(text).leftJustified(width, ' ', true);
}

QString Pad(const QString& text, int width)
{
    return text.leftJustified(width, QLatin1Char(' '), true);
}

// Requests as the emulator describes them, without the packet identifier
// and without the written bytes ("WriteTableRecord table 2 record 1").
QStringList Requests(const PtyRegister& reg)
{
    QStringList out;
    for (const RequestRecord& r : reg.Requests()) {
        QString d = QString::fromStdString(DescribeRequest(r.Body));
        d = d.mid(d.indexOf(QLatin1Char(' '), 4) + 1);
        const int colon = d.indexOf(QLatin1Char(':'));
        out << (colon < 0 ? d : d.left(colon));
        if (out.back().startsWith(QLatin1String("WriteGoodsSales")))
            out.back() = out.back().section(QLatin1Char(' '), 0, 2);
    }
    return out;
}

QStringList RecordReads(int table, int first, int last)
{
    QStringList out;
    for (int r = first; r <= last; ++r)
        out << QStringLiteral("ReadTableRecord table %1 record %2").arg(table).arg(r);
    return out;
}

QStringList FieldReads(int table, int first, int last)
{
    QStringList out;
    for (int f = first; f <= last; ++f)
        out << QStringLiteral("ReadTableField table %1 record 1 field %2").arg(table).arg(f);
    return out;
}

QStringList GoodsReads(int first, int last)
{
    QStringList out;
    for (int i = first; i <= last; ++i)
        out << QStringLiteral("ReadTableRecord table 1 record %1").arg(i)
            << QStringLiteral("ReadGoodsSales item %1").arg(i);
    return out;
}

QStringList OperatorWrites(int lastRow, int lastField)
{
    QStringList out;
    for (int r = 1; r <= lastRow; ++r) {
        const int fields[] = {2, 1, 4};
        for (int i = 0; i < 3 && (r < lastRow || i < lastField); ++i)
            out << QStringLiteral("WriteTableField table 9 record %1 field %2").arg(r).arg(fields[i]);
    }
    return out;
}

// A control's state as text, addressed by name; grid cells as
// "Grid:column:row", the lists over the grids as "SectionsList:row" and
// "Rights:row".
QString Shown(TMainForm& m, const QString& key)
{
    const QStringList k = key.split(QLatin1Char(':'));
    TSettingsPage* p = m.ts_KKMOptions;
    if (k[0] == QLatin1String("Goods"))
        return m.ts_Goods->Cell(k[1].toInt(), k[2].toInt());
    if (k[0] == QLatin1String("SectionsSettings"))
        return p->SectionsCell(k[1].toInt(), k[2].toInt());
    if (k[0] == QLatin1String("Operators"))
        return p->OperatorsCell(k[1].toInt(), k[2].toInt());
    if (k[0] == QLatin1String("SectionsList"))
        return QStringLiteral("index %1").arg(p->SectionsList(k[1].toInt())->currentIndex());
    if (k[0] == QLatin1String("Rights")) {
        const QListWidget* list = p->OperatorRights(k[1].toInt());
        int mask = 0;
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->checkState() == Qt::Checked)
                mask |= 1 << i;
        return QStringLiteral("mask %1").arg(mask);
    }
    QWidget* c = m.findChild<QWidget*>(key);
    if (auto* checked = qobject_cast<TCheckComboBox*>(c))
        return QStringLiteral("mask %1").arg(checked->Mask());
    if (auto* list = qobject_cast<QComboBox*>(c))
        return QStringLiteral("index %1").arg(list->currentIndex());
    if (auto* edit = qobject_cast<QLineEdit*>(c))
        return edit->text();
    if (auto* box = qobject_cast<QCheckBox*>(c))
        return box->isChecked() ? QStringLiteral("checked") : QStringLiteral("unchecked");
    return QStringLiteral("?no control ") + key;
}

// Sets controls from "key=value" in the form Shown gives.
void Set(TMainForm& m, const QStringList& settings)
{
    for (const QString& s : settings) {
        const QString key = s.section(QLatin1Char('='), 0, 0);
        const QString value = s.section(QLatin1Char('='), 1);
        const QStringList k = key.split(QLatin1Char(':'));
        const int number = value.section(QLatin1Char(' '), 1).toInt();
        if (k[0] == QLatin1String("Goods")) {
            m.ts_Goods->SetCell(k[1].toInt(), k[2].toInt(), value);
            continue;
        }
        if (k[0] == QLatin1String("Operators")) {
            m.ts_KKMOptions->SetOperatorsCell(k[1].toInt(), k[2].toInt(), value);
            continue;
        }
        QWidget* c = m.findChild<QWidget*>(key);
        QVERIFY2(c, qPrintable(key));
        if (auto* checked = qobject_cast<TCheckComboBox*>(c))
            checked->SetMask(static_cast<std::uint32_t>(number));
        else if (auto* list = qobject_cast<QComboBox*>(c))
            list->setCurrentIndex(number);
        else if (auto* edit = qobject_cast<QLineEdit*>(c))
            edit->setText(value);
        else if (auto* box = qobject_cast<QCheckBox*>(c))
            box->setChecked(value == QLatin1String("checked"));
    }
}

// Record bytes in the register: "table.record.offset=HEX".
void Patch(PtyRegister& reg, const QStringList& patches)
{
    reg.WithModel([&](RegisterModel& model) {
        for (const QString& p : patches) {
            const QStringList at = p.section(QLatin1Char('='), 0, 0).split(QLatin1Char('.'));
            const QByteArray bytes = QByteArray::fromHex(p.section(QLatin1Char('='), 1).toLatin1());
            TArrayOfByte& rec = model.Record(at[0].toInt(), at[1].toInt());
            std::copy(bytes.begin(), bytes.end(), rec.begin() + at[2].toInt());
        }
    });
}

const QString kErr = QStringLiteral("!ERR");

} // namespace

Q_DECLARE_METATYPE(TRecordBytes)

class TablesTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readSubPage_data();
    void readSubPage();
    void writeSubPage_data();
    void writeSubPage();
    void readOnlySubPagesAreNotWritten();
    void errorInTheMiddle_data();
    void errorInTheMiddle();
    void emptyRightsCellStopsAfterPostAndName();
    void goodsRead();
    void goodsWriteFillsEmptyCells();
    void goodsWriteBadPriceStopsWithTheErrorBox();
    void goodsEmptyRange_data();
    void goodsEmptyRange();
    void goodsStop_data();
    void goodsStop();
    void strayStopIsForgotten_data();
    void strayStopIsForgotten();
    void windowStaysLiveDuringGoodsTransfer_data();
    void windowStaysLiveDuringGoodsTransfer();
    void commandsOffDuringSettingsTransfer_data();
    void commandsOffDuringSettingsTransfer();

private:
    void Connect(bool authorise);
    void ShowSettings(int subPage);
    void ShowGoods(int first, int last);
    void Read()
    {
        main_->si_ReadTableFromKKMClick();
        QVERIFY(WaitJobEnd(*main_));
    }
    void Write()
    {
        main_->si_WriteTableToKKMClick();
        QVERIFY(WaitJobEnd(*main_));
    }
    // Journal entries since Mark(), oldest first; red ones start with "!".
    void Mark() { mark_ = JournalEntries(main_->re_LogOut).size(); }
    QStringList NewJournal() const;
    QStringList ExpandErrors(QStringList lines, int code = 3) const;

    std::unique_ptr<PtyRegister> reg_;
    std::unique_ptr<TMainForm> main_;
    TConnectForm* connect_ = nullptr;
    TAuthForm* auth_ = nullptr;
    int mark_ = 0;
};

void TablesTest::init()
{
    reg_ = std::make_unique<PtyRegister>();
    QString error;
    QVERIFY2(reg_->Start(PtyRegister::Options(), &error), qPrintable(error));
    main_ = std::make_unique<TMainForm>();
    connect_ = new TConnectForm(main_.get());
    auth_ = new TAuthForm(main_.get());
    main_->show();
}

void TablesTest::cleanup()
{
    main_.reset();
    reg_.reset();
}

void TablesTest::Connect(bool authorise)
{
    // Not a test of time-outs: a loaded machine must not fail it, the
    // connect and the information read that follows it included.
    main_->Session->SetTimeOut(2000);
    QVERIFY(ConnectThroughDialog(*main_, reg_->PublishedPath()));
    if (authorise)
        QVERIFY(AuthoriseThroughDialog(*main_));
    reg_->ClearRequests();
}

void TablesTest::ShowSettings(int subPage)
{
    main_->PageControl->setCurrentIndex(TMainForm::pgKKMOptions);
    main_->ts_KKMOptions->pc_Options->setCurrentIndex(subPage);
}

void TablesTest::ShowGoods(int first, int last)
{
    main_->PageControl->setCurrentIndex(TMainForm::pgGoods);
    main_->ts_Goods->ed_GoodsStart->setText(QString::number(first));
    main_->ts_Goods->ed_GoodsEND->setText(QString::number(last));
}

QStringList TablesTest::NewJournal() const
{
    QList<TLogEntry> entries = JournalEntries(main_->re_LogOut);
    QStringList out;
    for (qsizetype i = entries.size() - mark_ - 1; i >= 0; --i)
        out << (entries[i].TextColor == QColor(clRed) ? QStringLiteral("!") : QString()) + entries[i].Text;
    return out;
}

QStringList TablesTest::ExpandErrors(QStringList lines, int code) const
{
    for (QString& l : lines)
        if (l == kErr)
            l = QStringLiteral("!") + TOmvekCP::ErrorText(code);
    return lines;
}

// ---------------------------------------------------------------------------
// Settings read

void TablesTest::readSubPage_data()
{
    QTest::addColumn<int>("subPage");
    QTest::addColumn<QStringList>("patches");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QStringList>("journal");
    QTest::addColumn<QStringList>("shown");

    QTest::newRow("options") << 0 << QStringList{"2.1.2=05", "2.1.6=0120"} << FieldReads(2, 1, 8)
        << QStringList{"Чтение настроек ККМ ...", "Чтение настроек ККМ Завершено."}
        << QStringList{"cb_RegOptions=mask 3", "cb_MoneyBoxList=index -1", "cb_zOptions=mask 1",
                       "cb_Kassir=index 1", "ed_ScreenDelay=120", "ed_AutoLock=0",
                       "cb_WritingJournal=index 1", "ed_INN=770112345678"};
    QTest::newRow("options, edge values") << 0
        << QStringList{"2.1.0=FF", "2.1.6=0000", "2.1.8=05", "2.1.10=FFFFFFFFFFFF"} << FieldReads(2, 1, 8)
        << QStringList{"Чтение настроек ККМ ...", "Чтение настроек ККМ Завершено."}
        << QStringList{"cb_RegOptions=mask 31", "ed_ScreenDelay=0", "ed_AutoLock=5", "ed_INN="};
    QTest::newRow("print options") << 1 << QStringList{} << FieldReads(3, 1, 6)
        << QStringList{"Чтение настроек печати ...", "Чтение настроек печати завершено."}
        << QStringList{"ed_PoContrast=2", "ed_PoStringInterval=2", "cb_PoEconFont=index 0",
                       "cb_PoDocSep=index 1", "cb_PoObraml=mask 63", "cb_PoCheck=mask 69"};
    // Values longer than what can be typed into their edits are shown whole.
    QTest::newRow("print options beyond the typing limits") << 1 << QStringList{"3.1.0=0A", "3.1.1=FF"}
        << FieldReads(3, 1, 6) << QStringList{"Чтение настроек печати ...", "Чтение настроек печати завершено."}
        << QStringList{"ed_PoContrast=10", "ed_PoStringInterval=255"};
    QTest::newRow("options beyond the typing limits") << 0 << QStringList{"2.1.6=1234"} << FieldReads(2, 1, 8)
        << QStringList{"Чтение настроек ККМ ...", "Чтение настроек ККМ Завершено."}
        << QStringList{"ed_ScreenDelay=1234"};
    QTest::newRow("text lines") << 2 << QStringList{"4.7.32=08"} << RecordReads(4, 1, 9)
        << QStringList{"Чтение рекламных строк ...", "Чтение рекламных строк закончено."}
        << QStringList{"ed_CheckBeginFirst=" + Pad("     ООО \"РОМАШКА\"", 32), "cb_CheckBeginfirstc=mask 4",
                       "ed_CheckTop=" + Pad("        КАССОВЫЙ ЧЕК", 32), "cb_checkTopc=mask 3",
                       "cb_CheckEndThirdc=mask 0", "ed_BuyDisplaySecond=" + Pad("  РОМАШКА", 32)};
    QTest::newRow("discounts") << 3 << QStringList{} << RecordReads(5, 1, 8)
        << QStringList{"Чтение скидок / наценок ...", "Чтение скидок / наценок завершено."}
        << QStringList{"ed_DscValue1=00500", "ed_DscName1=" + Pad("Скидка 5%", 16), "cb_DscType1=index 0",
                       "cb_DscSummType1=index 0", "cb_DscAuth1=unchecked", "ed_DscValue2=01000",
                       "cb_DscType2=index 1", "cb_DscAuth2=checked", "ed_DscValue8=00000"};
    QTest::newRow("taxes") << 4 << QStringList{"6.2.5=0550"} << RecordReads(6, 1, 4)
        << QStringList{"Чтение налогов ...", "Чтение налогов завершено."}
        << QStringList{"ed_txName1=НДС18", "ed_txValue1=18.00", "ed_txValue2=5.50", "ed_txValue3=5.00",
                       "ed_txName4=БЕЗ  ", "ed_txValue4=0.00"};
    QTest::newRow("sections") << 5 << QStringList{"7.4.13=02"} << RecordReads(7, 1, 16)
        << QStringList{"Чтение таблицы отделов ...", "Чтение таблицы отделов завершено"}
        << QStringList{"SectionsSettings:1:1=" + Pad("Отдел 1", 11), "SectionsSettings:2:1=1",
                       "SectionsSettings:3:1=2", "SectionsSettings:4:1=0", "SectionsList:1=index 0",
                       "SectionsSettings:1:3=" + Pad("Услуги", 11), "SectionsSettings:4:3=1",
                       "SectionsList:3=index 1", "SectionsSettings:4:4=0", "SectionsList:4=index 0",
                       "SectionsSettings:1:16=" + Pad("Отдел 16", 11)};
    QTest::newRow("devices") << 6 << QStringList{"8.2.1=09"} << RecordReads(8, 1, 3)
        << QStringList{"Чтение таблицы устройсв ...", "Чтение таблицы устройсв завершено."}
        << QStringList{"cb_BarcodeSpeed=index 4", "cb_ElectronicScaleSpeed=index 0",
                       "cb_ElectronicScaleProtocol=index -1", "cb_ElecticScalesInterface=index 0",
                       "cb_PCSpeed=index 4"};
    QTest::newRow("operators") << 7 << QStringList{} << RecordReads(9, 1, 7)
        << QStringList{"Чтение таблицы операторов ...", "Чтение таблицы операторов завершено."}
        << QStringList{"Operators:0:1=" + Pad("Администратор", 32),
                       "Operators:1:1=" + Pad("Иванов Иван Иванович", 32), "Operators:2:1=127",
                       "Rights:1=mask 127", "Operators:2:3=29", "Rights:3=mask 29", "Operators:2:7=64",
                       "Rights:7=mask 64"};
    QTest::newRow("payment types") << 8 << QStringList{} << RecordReads(10, 1, 3)
        << QStringList{"Чтение типов оплаты ...", "Чтение типов оплаты завершено."}
        << QStringList{"ed_PayType1=" + Pad("НАЛИЧНЫЕ", 12), "cb_PayType1=checked", "cb_PayType3=unchecked"};
}

void TablesTest::readSubPage()
{
    QFETCH(int, subPage);
    QFETCH(QStringList, patches);
    QFETCH(QStringList, requests);
    QFETCH(QStringList, journal);
    QFETCH(QStringList, shown);

    Patch(*reg_, patches);
    Connect(false);
    // Lists and marks that reading must clear hold something first.
    Set(*main_, {"cb_CheckEndThirdc=mask 7", "cb_ElectronicScaleProtocol=index 1"});
    main_->ts_KKMOptions->SetSectionsSphere(4, 1);
    ShowSettings(subPage);
    Mark();

    Read();

    QCOMPARE(Requests(*reg_), requests);
    QCOMPARE(NewJournal(), journal);
    for (const QString& s : shown)
        QCOMPARE(s.section(QLatin1Char('='), 0, 0) + "=" + Shown(*main_, s.section(QLatin1Char('='), 0, 0)), s);
    QVERIFY(main_->si_ReadTableFromKKM->isEnabled() && main_->si_WriteTableToKKM->isEnabled());
}

// ---------------------------------------------------------------------------
// Settings write

void TablesTest::writeSubPage_data()
{
    QTest::addColumn<int>("subPage");
    QTest::addColumn<bool>("readFirst");
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<TRecords>("records");
    QTest::addColumn<QStringList>("journal");
    QTest::addColumn<QStringList>("shownAfter");

    // Empty backlight and blank auto-lock get their defaults; the INN its
    // zeros; a list without selection goes as 255.
    QTest::newRow("options") << 0 << false
        << QStringList{"cb_RegOptions=mask 5", "cb_MoneyBoxList=index -1", "cb_zOptions=mask 9",
                       "cb_Kassir=index 7", "ed_ScreenDelay=", "ed_AutoLock= ", "cb_WritingJournal=index 0",
                       "ed_INN=1234"}
        << QStringList{"WriteTableRecord table 2 record 1"}
        << TRecords{{2, 1, Hex("05 00 FF 09 00 07 00 05 00 00 00 00 00 00 12 34")}}
        << QStringList{"Запись опций ККМ ...", "Запись опций ККМ завершена."}
        << QStringList{"ed_ScreenDelay=5", "ed_AutoLock=0", "ed_INN=000000001234"};
    QTest::newRow("options as read") << 0 << true << QStringList{}
        << QStringList{"WriteTableRecord table 2 record 1"}
        << TRecords{{2, 1, Hex("03 00 02 01 00 01 00 30 00 01 77 01 12 34 56 78")}}
        << QStringList{"Запись опций ККМ ...", "Запись опций ККМ завершена."}
        << QStringList{"ed_ScreenDelay=30", "ed_AutoLock=0"};
    QTest::newRow("print options") << 1 << false
        << QStringList{"ed_PoContrast=", "ed_PoStringInterval=8", "cb_PoEconFont=index 1",
                       "cb_PoDocSep=index 0", "cb_PoObraml=mask 33", "cb_PoCheck=mask 127"}
        << QStringList{"WriteTableRecord table 3 record 1"}
        << TRecords{{3, 1, Hex("02 08 01 00 21 00 7F 00")}}
        << QStringList{"Запись настроек печати ...", "Запись настроек печати завершена."}
        << QStringList{"ed_PoContrast=2", "ed_PoStringInterval=8"};
    {
        QStringList writes;
        for (int r = 1; r <= 9; ++r)
            writes << QStringLiteral("WriteTableRecord table 4 record %1").arg(r);
        QTest::newRow("text lines") << 2 << false
            << QStringList{"ed_CheckBeginFirst=Привет", "cb_CheckBeginfirstc=mask 7",
                           "ed_CheckTop=" + QString(32, 'W'), "cb_checkTopc=mask 2"}
            << writes
            << TRecords{{4, 1, Text("Привет", 32) + Hex("07")},
                        {4, 2, Text("", 32) + Hex("00")},
                        {4, 4, Text(QString(32, 'W'), 32) + Hex("02")},
                        {4, 9, Text("", 32) + Hex("00")}}
            << QStringList{"Запись рекламных строк ...", "Запись рекламных строк завершена."}
            << QStringList{"ed_CheckBeginFirst=Привет"};
    }
    // The post goes without its outer blanks, the name as it stands.
    QTest::newRow("operators") << 7 << true
        << QStringList{"Operators:0:2=  Кассир  ", "Operators:1:2= Новиков", "Operators:2:2=17"}
        << OperatorWrites(7, 3)
        << TRecords{{9, 2, Text(" Новиков", 32) + Text("Кассир", 32) + Hex("00 00 00 11 00")},
                    {9, 7, Text("Орлов Дмитрий Николаевич", 32) + Text("Техник ЦТО", 32) + Hex("00 00 00 40 00")}}
        << QStringList{"Запись таблицы операторов ...", "Запись таблицы операторов завершена."}
        << QStringList{"Operators:0:2=  Кассир  "};
}

void TablesTest::writeSubPage()
{
    QFETCH(int, subPage);
    QFETCH(bool, readFirst);
    QFETCH(QStringList, settings);
    QFETCH(QStringList, requests);
    QFETCH(TRecords, records);
    QFETCH(QStringList, journal);
    QFETCH(QStringList, shownAfter);

    Connect(true);
    ShowSettings(subPage);
    if (readFirst)
        Read();
    Set(*main_, settings);
    reg_->ClearRequests();
    Mark();

    Write();

    QCOMPARE(Requests(*reg_), requests);
    for (const TRecordBytes& r : records) {
        const TArrayOfByte stored = reg_->WithModel([&](RegisterModel& m) { return m.Record(r.Table, r.Record); });
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(stored.data()), qsizetype(stored.size())).toHex(' '),
                 r.Bytes.toHex(' '));
    }
    QCOMPARE(NewJournal(), journal);
    for (const QString& s : shownAfter)
        QCOMPARE(s.section(QLatin1Char('='), 0, 0) + "=" + Shown(*main_, s.section(QLatin1Char('='), 0, 0)), s);
    QVERIFY(main_->si_ReadTableFromKKM->isEnabled() && main_->si_WriteTableToKKM->isEnabled());
    QVERIFY(main_->ts_Goods->cb_QuantNull->isEnabled());
}

void TablesTest::readOnlySubPagesAreNotWritten()
{
    Connect(true);
    for (int subPage : {3, 4, 5, 6, 8}) {
        ShowSettings(subPage);
        Read();
        reg_->ClearRequests();
        Mark();
        Write();
        QCOMPARE(Requests(*reg_), QStringList());
        QCOMPARE(NewJournal(), QStringList());
    }
}

// ---------------------------------------------------------------------------
// An error answer in the middle of each kind of loop

void TablesTest::errorInTheMiddle_data()
{
    QTest::addColumn<QString>("page");     // settings sub-page index, or "goods"
    QTest::addColumn<QString>("command");  // read, write, or read then write
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QStringList>("journal");
    QTest::addColumn<QStringList>("shown"); // what the controls show afterwards

    const QStringList optionsRead = {"Чтение настроек ККМ ...", kErr, "Чтение настроек ККМ Завершено."};
    QTest::newRow("field read: options field 5") << "0" << "read" << "refuse 3 code=13 table=2 field=5"
        << QStringList{"ed_ScreenDelay=7", "ed_AutoLock=9", "ed_INN=1"} << FieldReads(2, 1, 5) << optionsRead
        << QStringList{"cb_RegOptions=mask 3", "cb_Kassir=index 1", "ed_ScreenDelay=7", "ed_AutoLock=9",
                       "cb_WritingJournal=index 0", "ed_INN=1"};
    QTest::newRow("record read: text line 3") << "2" << "read" << "refuse 3 code=12 table=4 record=3"
        << QStringList{"ed_CheckBeginThird=старая", "ed_CheckTop=тоже"} << RecordReads(4, 1, 3)
        << QStringList{"Чтение рекламных строк ...", kErr, "Чтение рекламных строк закончено."}
        << QStringList{"ed_CheckBeginSecond=" + Pad("г. Москва, ул. Ленина, д. 1", 32),
                       "ed_CheckBeginThird=старая", "ed_CheckTop=тоже"};
    QTest::newRow("record read: short record") << "5" << "read" << "shorter code=12 table=7 record=2"
        << QStringList{} << RecordReads(7, 1, 2)
        << QStringList{"Чтение таблицы отделов ...", "!Ответ ККМ короче записи 2 таблицы 7: 13 байт",
                       "Чтение таблицы отделов завершено"}
        << QStringList{"SectionsSettings:1:1=" + Pad("Отдел 1", 11), "SectionsSettings:1:2="};
    QStringList lines;
    for (int r = 1; r <= 4; ++r)
        lines << QStringLiteral("WriteTableRecord table 4 record %1").arg(r);
    QTest::newRow("record write: text line 4") << "2" << "write" << "refuse 3 code=14 table=4 record=4"
        << QStringList{} << lines << QStringList{"Запись рекламных строк ...", kErr} << QStringList{};
    QTest::newRow("record write: options") << "0" << "write" << "refuse 3 code=14"
        << QStringList{"ed_ScreenDelay="} << QStringList{"WriteTableRecord table 2 record 1"}
        << QStringList{"Запись опций ККМ ...", kErr} << QStringList{"ed_ScreenDelay=5"};
    QTest::newRow("field write: post of operator 2") << "7" << "read write" << "refuse 3 code=15 record=2 field=2"
        << QStringList{} << OperatorWrites(2, 1)
        << QStringList{"Запись таблицы операторов ...", "!Ошибка записи должности оператора 2", kErr,
                       "Запись таблицы операторов завершена."}
        << QStringList{};
    QTest::newRow("field write: name of operator 2") << "7" << "read write" << "refuse 3 code=15 record=2 field=1"
        << QStringList{} << OperatorWrites(2, 2)
        << QStringList{"Запись таблицы операторов ...", "!Ошибка записи ФИО оператора 2", kErr,
                       "Запись таблицы операторов завершена."}
        << QStringList{};
    QTest::newRow("field write: rights of operator 3") << "7" << "read write" << "refuse 3 code=15 record=3 field=4"
        << QStringList{} << OperatorWrites(3, 3)
        << QStringList{"Запись таблицы операторов ...", "!Ошибка записи прав доступа оператора 3", kErr,
                       "Запись таблицы операторов завершена."}
        << QStringList{};
    const QStringList goodsRead = {"Чтение списка товаров ...", kErr, "Чтение списка товаров завершено."};
    QTest::newRow("goods read: record of item 3") << "goods" << "read" << "refuse 3 code=12 table=1 record=3"
        << QStringList{"Goods:1:3=старое", "Goods:6:3=99"}
        << GoodsReads(1, 2) + QStringList{"ReadTableRecord table 1 record 3"} << goodsRead
        << QStringList{"Goods:1:2=" + Pad("Молоко 3,2% 1 л", 32), "Goods:6:2=7", "Goods:1:3=старое",
                       "Goods:6:3=99"};
    QTest::newRow("goods read: sales of item 2") << "goods" << "read" << "refuse 3 code=19 record=2"
        << QStringList{"Goods:1:2=старое", "Goods:6:2=99"} << GoodsReads(1, 2) << goodsRead
        << QStringList{"Goods:1:2=" + Pad("Молоко 3,2% 1 л", 32), "Goods:2:2=4607025390015", "Goods:3:2=1",
                       "Goods:4:2=89.90", "Goods:5:2=НЕТ", "Goods:6:2=99"};
    QTest::newRow("goods write: record of item 2") << "goods" << "write" << "refuse 3 code=14 table=1 record=2"
        << QStringList{"cb_QuantNull=checked"}
        << QStringList{"WriteTableRecord table 1 record 1", "WriteGoodsSales item 1",
                       "WriteTableRecord table 1 record 2"}
        << QStringList{"Запись списка товаров ...", kErr, "Запись списка товаров завершена."} << QStringList{};
    QTest::newRow("goods write: sales of item 1") << "goods" << "write" << "refuse 3 code=20 record=1"
        << QStringList{"cb_QuantNull=checked"}
        << QStringList{"WriteTableRecord table 1 record 1", "WriteGoodsSales item 1"}
        << QStringList{"Запись списка товаров ...", kErr, "Запись списка товаров завершена."} << QStringList{};
}

void TablesTest::errorInTheMiddle()
{
    QFETCH(QString, page);
    QFETCH(QString, command);
    QFETCH(QString, fault);
    QFETCH(QStringList, before);
    QFETCH(QStringList, requests);
    QFETCH(QStringList, journal);
    QFETCH(QStringList, shown);

    Connect(true);
    if (page == QLatin1String("goods"))
        ShowGoods(1, 9999);
    else
        ShowSettings(page.toInt());
    if (command.startsWith(QLatin1String("read ")))
        Read();
    QVERIFY(WaitIdle(*main_));
    Set(*main_, before);
    std::string error;
    const auto f = ParseFault(fault.toStdString(), &error);
    QVERIFY2(f, error.c_str());
    reg_->AddFault(*f);
    reg_->ClearRequests();
    Mark();

    if (command.endsWith(QLatin1String("write")))
        Write();
    else
        Read();
    QVERIFY(WaitIdle(*main_));

    QCOMPARE(Requests(*reg_), requests);
    QCOMPARE(NewJournal(), ExpandErrors(journal));
    for (const QString& s : shown)
        QCOMPARE(s.section(QLatin1Char('='), 0, 0) + "=" + Shown(*main_, s.section(QLatin1Char('='), 0, 0)), s);
    QVERIFY(main_->si_ReadTableFromKKM->isEnabled() && main_->si_WriteTableToKKM->isEnabled());
    QVERIFY(main_->ts_Goods->cb_QuantNull->isEnabled());
    QCOMPARE(main_->lb_StatusEmpty->text(), QString());
}

void TablesTest::emptyRightsCellStopsAfterPostAndName()
{
    // Nothing was read: the rights cells are empty.
    Connect(true);
    ShowSettings(7);
    Mark();
    TModalDriver driver;
    TSeenBox box;
    driver.AcceptBox(&box);

    Write();

    QVERIFY(driver.Done());
    QVERIFY(box.Text.startsWith(QStringLiteral("Ошибка по месту: TMainForm.si_WriteTableToKKMClick\n\r")));
    QCOMPARE(Requests(*reg_), OperatorWrites(1, 2));
    QCOMPARE(NewJournal(), QStringList{"Запись таблицы операторов ..."});
    QVERIFY(main_->si_ReadTableFromKKM->isEnabled() && main_->si_WriteTableToKKM->isEnabled());
    QVERIFY(main_->ts_Goods->cb_QuantNull->isEnabled());
}

// ---------------------------------------------------------------------------
// Goods

void TablesTest::goodsRead()
{
    Patch(*reg_, {"1.9999.32=00000000000005"});
    reg_->WithModel([](RegisterModel& m) { m.SetSales(9999, 1500); });
    Connect(false);
    ShowGoods(1, 9999);
    // Only the range is read.
    main_->ts_Goods->ed_GoodsStart->setText(QStringLiteral("3"));
    main_->ts_Goods->ed_GoodsEND->setText(QStringLiteral("4"));
    main_->ts_Goods->GoodsItemFlags[2] = 0;
    main_->ts_Goods->GoodsItemFlags[3] = 1;
    Mark();

    Read();
    QVERIFY(WaitIdle(*main_));

    QCOMPARE(Requests(*reg_), GoodsReads(3, 4));
    QCOMPARE(NewJournal(), (QStringList{"Чтение списка товаров ...", "Чтение списка товаров завершено."}));
    const TGoodsPage& g = *main_->ts_Goods;
    QCOMPARE(g.Cell(0, 3), QStringLiteral("3"));
    QCOMPARE(g.Cell(1, 3), Pad("Сахар-песок", 32));
    QCOMPARE(g.Cell(2, 3), QStringLiteral("4600702000014"));
    QCOMPARE(g.Cell(3, 3), QStringLiteral("2"));
    QCOMPARE(g.Cell(4, 3), QStringLiteral("74.50"));
    QCOMPARE(g.Cell(5, 3), QStringLiteral("ДА"));
    QCOMPARE(g.Cell(6, 3), QStringLiteral("15.25"));
    QCOMPARE(g.Cell(6, 4), QStringLiteral("8.125"));
    QCOMPARE(int(main_->ts_Goods->GoodsItemFlags[2]), 1);
    QCOMPARE(int(main_->ts_Goods->GoodsItemFlags[3]), 1);
    QCOMPARE(g.Cell(1, 2), QString());
    QCOMPARE(g.Cell(1, 5), QString());

    // The last item, with a barcode of leading zeros and a blank record.
    main_->ts_Goods->ed_GoodsStart->setText(QStringLiteral("9999"));
    main_->ts_Goods->ed_GoodsEND->setText(QStringLiteral("9999"));
    Read();
    QVERIFY(WaitIdle(*main_));
    QCOMPARE(g.Cell(1, 9999), QString(32, ' '));
    QCOMPARE(g.Cell(2, 9999), QStringLiteral("0000000000005"));
    QCOMPARE(g.Cell(3, 9999), QStringLiteral("0"));
    QCOMPARE(g.Cell(4, 9999), QStringLiteral("0.00"));
    QCOMPARE(g.Cell(5, 9999), QStringLiteral("НЕТ"));
    QCOMPARE(g.Cell(6, 9999), QStringLiteral("1.5"));
    QCOMPARE(int(main_->ts_Goods->GoodsItemFlags[9998]), 0);
    QCOMPARE(main_->lb_StatusEmpty->text(), QString());
}

void TablesTest::goodsWriteFillsEmptyCells()
{
    Connect(true);
    ShowGoods(1, 2);
    main_->ts_Goods->cb_QuantNull->setChecked(true);
    // Item 1 as edited, item 2 never read nor edited.
    Set(*main_, {"Goods:1:1=Чай", "Goods:2:1=46", "Goods:3:1=16", "Goods:4:1=12.5", "Goods:5:1=НЕТ"});
    main_->ts_Goods->GoodsItemFlags[0] = 0;
    main_->ts_Goods->GoodsItemFlags[1] = 0;
    Mark();

    Write();
    QVERIFY(WaitIdle(*main_));

    QCOMPARE(Requests(*reg_), (QStringList{"WriteTableRecord table 1 record 1", "WriteGoodsSales item 1",
                                           "WriteTableRecord table 1 record 2", "WriteGoodsSales item 2"}));
    const auto stored = [&](int item) {
        const TArrayOfByte r = reg_->WithModel([&](RegisterModel& m) { return m.Record(1, item); });
        return QByteArray(reinterpret_cast<const char*>(r.data()), qsizetype(r.size())).toHex(' ');
    };
    QCOMPARE(stored(1), (Text("Чай", 32) + Hex("00 00 00 00 00 00 46 10 00 00 00 12 50 00")).toHex(' '));
    QCOMPARE(stored(2), (Text("", 32) + Hex("00 00 00 00 00 00 00 00 00 00 00 00 00 01")).toHex(' '));
    QCOMPARE(reg_->WithModel([](RegisterModel& m) { return m.Sales(1) + m.Sales(2); }), std::int64_t(0));
    const TGoodsPage& g = *main_->ts_Goods;
    QCOMPARE(g.Cell(2, 2), QStringLiteral("0000000000000"));
    QCOMPARE(g.Cell(3, 2), QStringLiteral("0"));
    QCOMPARE(g.Cell(4, 2), QStringLiteral("0.00"));
    QCOMPARE(g.Cell(5, 2), QStringLiteral("ДА"));
    QCOMPARE(int(main_->ts_Goods->GoodsItemFlags[1]), 1);
    QCOMPARE(g.Cell(1, 2), QString()); // the name has no default: spaces are sent
    QCOMPARE(g.Cell(4, 1), QStringLiteral("12.5"));
    QCOMPARE(NewJournal(), (QStringList{"Запись списка товаров ...", "Запись списка товаров завершена."}));
}

void TablesTest::goodsWriteBadPriceStopsWithTheErrorBox()
{
    Connect(true);
    ShowGoods(1, 3);
    // Only an import brings three decimals into a price cell.
    Set(*main_, {"Goods:4:2=1.234"});
    Mark();
    TModalDriver driver;
    TSeenBox box;
    driver.AcceptBox(&box);

    Write();
    QVERIFY(WaitIdle(*main_));

    QVERIFY(driver.Done());
    QVERIFY(box.Text.startsWith(QStringLiteral("Ошибка по месту: TMainForm.si_WriteTableToKKMClick\n\r")));
    QVERIFY(box.Text.contains(QStringLiteral("1.234")));
    QCOMPARE(Requests(*reg_), QStringList{"WriteTableRecord table 1 record 1"});
    QCOMPARE(NewJournal(), QStringList{"Запись списка товаров ..."});
    // The defaults that came before the failing cell stay.
    QCOMPARE(main_->ts_Goods->Cell(2, 2), QStringLiteral("0000000000000"));
    QCOMPARE(main_->lb_StatusEmpty->text(), QString());
    QVERIFY(main_->ts_Goods->cb_QuantNull->isEnabled());
}

void TablesTest::goodsEmptyRange_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<QStringList>("journal");
    QTest::newRow("read") << false
                          << QStringList{"Чтение списка товаров ...", "Чтение списка товаров завершено."};
    QTest::newRow("write") << true
                           << QStringList{"Запись списка товаров ...", "Запись списка товаров завершена."};
}

void TablesTest::goodsEmptyRange()
{
    QFETCH(bool, write);
    QFETCH(QStringList, journal);
    Connect(true);
    ShowGoods(5, 3);
    Mark();
    write ? Write() : Read();
    QVERIFY(WaitIdle(*main_));
    QCOMPARE(Requests(*reg_), QStringList());
    QCOMPARE(NewJournal(), journal);
    QCOMPARE(main_->ts_Goods->Cell(2, 4), QString());
}

void TablesTest::goodsStop_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<int>("stopAt");
    QTest::addColumn<QStringList>("requests");

    QTest::newRow("read, stop during item 3") << false << 3 << GoodsReads(1, 3);
    QTest::newRow("write, stop during item 3") << true << 3
        << QStringList{"WriteTableRecord table 1 record 1", "WriteTableRecord table 1 record 2",
                       "WriteTableRecord table 1 record 3"};
}

void TablesTest::goodsStop()
{
    QFETCH(bool, write);
    QFETCH(int, stopAt);
    QFETCH(QStringList, requests);

    Connect(true);
    ShowGoods(1, 9999);
    QString progressSeen;
    QTimer press;
    {
        // The answer to item stopAt's record is held back; the stop button
        // is pressed while the window waits for it, once the status bar
        // shows the item (it follows the transfer a few times a second).
        std::string error;
        reg_->AddFault(*ParseFault(
            QStringLiteral("delay 1500 code=%1 table=1 record=%2").arg(write ? 14 : 12).arg(stopAt).toStdString(),
            &error));
        connect(&press, &QTimer::timeout, this, [&] {
            const QString shown = main_->lb_StatusEmpty->text();
            if (!shown.isEmpty())
                progressSeen = shown;
            if (reg_->RequestCount() == std::size_t(write ? stopAt : 2 * stopAt - 1)
                && shown == QStringLiteral("%1 / 1..9999").arg(stopAt)) {
                main_->si_StopReading->click();
                press.stop();
            }
        });
        main_->Session->SetTimeOut(5000);
        press.start(1);
        // The button is live while the command runs on the goods page.
        main_->si_StopReading->setEnabled(true);
    }
    Mark();

    write ? Write() : Read();
    QVERIFY(WaitIdle(*main_));

    QCOMPARE(Requests(*reg_), requests);
    QVERIFY(!main_->ts_Goods->StopRequested);
    QCOMPARE(main_->lb_StatusEmpty->text(), QString());
    QCOMPARE(progressSeen, QStringLiteral("%1 / 1..9999").arg(stopAt));
    if (!write) {
        // The item being read was completed first.
        QCOMPARE(main_->ts_Goods->Cell(6, stopAt), QStringLiteral("15.25"));
        QCOMPARE(main_->ts_Goods->Cell(1, stopAt + 1), QString());
    }
    const QStringList journal = write
        ? QStringList{"Запись списка товаров ...", "Запись списка товаров завершена."}
        : QStringList{"Чтение списка товаров ...", "Чтение списка товаров завершено."};
    QCOMPARE(NewJournal(), journal);
}

void TablesTest::strayStopIsForgotten_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<QStringList>("requests");
    QTest::newRow("read") << false << GoodsReads(1, 3);
    QTest::newRow("write") << true
        << QStringList{"WriteTableRecord table 1 record 1", "WriteTableRecord table 1 record 2",
                       "WriteTableRecord table 1 record 3"};
}

// A stop that no transfer took (pressed while nothing ran, or while a
// settings table was read) belongs to none: the next goods transfer runs
// whole.
void TablesTest::strayStopIsForgotten()
{
    QFETCH(bool, write);
    QFETCH(QStringList, requests);

    Connect(true);
    ShowGoods(1, 3);
    QVERIFY(SpinUntil([&] { return main_->si_StopReading->isEnabled(); }));
    main_->si_StopReading->click();
    Mark();

    write ? Write() : Read();
    QVERIFY(WaitIdle(*main_));

    QCOMPARE(Requests(*reg_), requests);
    const QStringList journal = write
        ? QStringList{"Запись списка товаров ...", "Запись списка товаров завершена."}
        : QStringList{"Чтение списка товаров ...", "Чтение списка товаров завершено."};
    QCOMPARE(NewJournal(), journal);
}

void TablesTest::windowStaysLiveDuringGoodsTransfer_data()
{
    QTest::addColumn<QString>("transfer"); // read, write or import
    QTest::addColumn<QString>("fault");    // holds each item's record a while
    QTest::newRow("goods read") << "read" << "delay 100 code=12 table=1";
    QTest::newRow("goods write") << "write" << "delay 100 code=14 table=1";
    QTest::newRow("csv import") << "import" << "";
}

void TablesTest::windowStaysLiveDuringGoodsTransfer()
{
    QFETCH(QString, transfer);
    QFETCH(QString, fault);
    const bool read = transfer == QLatin1String("read");
    const bool import = transfer == QLatin1String("import");

    Connect(true);
    ShowGoods(1, 9999);
    // Written with the sales zeroed: two requests an item, as a read has.
    main_->ts_Goods->cb_QuantNull->setChecked(transfer == QLatin1String("write"));
    for (int item = 1; item <= 200; ++item)
        main_->ts_Goods->SetCell(1, item, QStringLiteral("старое"));
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("goods.csv"));
    if (import) {
        // The list twenty times over: an import long enough that the window
        // sees it running however late a loaded machine lets it look.
        QByteArray list;
        for (int item = 1; item <= 9999; ++item)
            list += QByteArray::number(item) + ToCp1251(QStringLiteral(";Товар %1;;;;;\r\n").arg(item));
        const QByteArray lines = list.repeated(20);
        QFile file(csv);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(lines) == lines.size());
    }
    if (!fault.isEmpty()) {
        std::string error;
        const auto f = ParseFault(fault.toStdString(), &error);
        QVERIFY2(f, error.c_str());
        reg_->AddFault(*f);
    }
    // A name cell's editor is open, as it is wherever the current cell goes.
    TGoodsPage* goods = main_->ts_Goods;
    goods->Goods->setCurrentIndex(goods->GoodsModel->index(4, 1));
    QVERIFY(goods->Goods->indexWidget(goods->Goods->currentIndex()));
    QToolButton* start = read ? main_->si_ReadTableFromKKM : import ? main_->si_Import : main_->si_WriteTableToKKM;
    QVERIFY(SpinUntil([&] { return start->isEnabled() && main_->si_StopReading->isEnabled(); }));
    reg_->ClearRequests();
    Mark();

    // Once the transfer is under way (a goods transfer between the two
    // requests of an item, the import once its progress shows), a look at
    // what the window offers, a walk through the pages, and the stop.
    QStringList wrong;
    bool looked = false;
    std::size_t atStop = 0;
    std::size_t afterStop = 0;
    QTimer look;
    connect(&look, &QTimer::timeout, this, [&] {
        if (!main_->Busy())
            return;
        const std::size_t requests = reg_->RequestCount();
        if (import ? main_->lb_StatusEmpty->text().isEmpty() : requests < 3 || requests % 2 == 0)
            return;
        look.stop();
        looked = true;
        for (QWidget* off : std::initializer_list<QWidget*>{
                 main_->si_ReadTableFromKKM, main_->si_WriteTableToKKM, main_->si_Import, main_->si_Export,
                 main_->ts_Goods->cb_QuantNull, main_->ts_Information->b_infoRefresh})
            if (off->isEnabled())
                wrong << off->objectName() + QStringLiteral(" available");
        for (QAction* off : {main_->mm_c_connect, main_->mm_c_auth})
            if (off->isEnabled())
                wrong << off->objectName() + QStringLiteral(" available");
        for (QWidget* on : std::initializer_list<QWidget*>{main_->si_StopReading, main_->eb_Information,
                                                           main_->eb_KKMOptions, main_->eb_Goods, main_->eb_Logo})
            if (!on->isEnabled())
                wrong << on->objectName() + QStringLiteral(" unavailable");
        // The grid takes no edits: the job has taken its rows or fills them.
        const QString fractional = goods->Cell(5, 1);
        if (goods->GoodsSelectCell(5, 1) || goods->Cell(5, 1) != fractional ||
            goods->Goods->editTriggers() != QAbstractItemView::NoEditTriggers ||
            goods->Goods->indexWidget(goods->Goods->currentIndex()))
            wrong << QStringLiteral("Goods editable");
        // A dialog's own event loop goes idle too: it must not bring the
        // table commands back.
        {
            TModalDriver boxes(10000);
            bool seen = false;
            boxes.Then([&](QWidget* modal) {
                auto* box = qobject_cast<QMessageBox*>(modal);
                if (!box || !box->isVisible())
                    return false;
                seen = true;
                if (main_->si_ReadTableFromKKM->isEnabled() || main_->si_WriteTableToKKM->isEnabled() ||
                    main_->si_Import->isEnabled())
                    wrong << QStringLiteral("a table command available while a dialog is up");
                QTimer::singleShot(0, box, &QMessageBox::accept);
                return true;
            });
            QMessageBox box(QMessageBox::Information, QStringLiteral("Проба"), QStringLiteral("Проба"),
                            QMessageBox::Ok, main_.get());
            box.exec();
            if (!seen)
                wrong << QStringLiteral("the dialog was not seen");
        }
        main_->eb_Information->click();
        if (main_->ActivePage() != TMainForm::pgInformation)
            wrong << QStringLiteral("eb_Information did not switch");
        main_->eb_Goods->click();
        if (main_->ActivePage() != TMainForm::pgGoods)
            wrong << QStringLiteral("eb_Goods did not switch");
        atStop = reg_->RequestCount();
        main_->si_StopReading->click();
        afterStop = reg_->RequestCount();
        if (!main_->ts_Goods->StopRequested) {
            wrong << QStringLiteral("the stop did not take");
            main_->ts_Goods->StopRequested = true; // so that the transfer ends anyway
        }
    });
    look.start(1);
    TModalDriver driver;
    if (import)
        AnswerFileDialog(driver, csv);
    start->click();
    QVERIFY(WaitIdle(*main_, 120000));
    look.stop();

    QVERIFY(looked);
    QCOMPARE(wrong, QStringList());
    QVERIFY(driver.Done() && driver.Unexpected.isEmpty());
    const QStringList journal =
        read     ? QStringList{"Чтение списка товаров ...", "Чтение списка товаров завершено."}
        : import ? QStringList{"Выполняется импорт данных...", "Импорт данных завершен."}
                 : QStringList{"Запись списка товаров ...", "Запись списка товаров завершена."};
    QCOMPARE(NewJournal(), journal);
    if (import) {
        // Not a register transfer: it runs to its end, the stop unused.
        QCOMPARE(main_->ts_Goods->Cell(1, 9999), QStringLiteral("Товар 9999"));
        QVERIFY(main_->ts_Goods->StopRequested);
    } else {
        // The item in flight at the stop is completed, and none after it is
        // begun. Between the two looks at the request count the item's first
        // request was still unanswered, unless the window stalled for longer
        // than the answer's delay: then the next item may have begun first.
        const std::size_t item = (atStop + 1) / 2;
        const std::size_t items = reg_->RequestCount() / 2;
        QCOMPARE(reg_->RequestCount() % 2, std::size_t(0));
        if (afterStop == atStop)
            QCOMPARE(items, item);
        else
            QVERIFY(items == item || items == item + 1);
        QVERIFY(items < 200);
        QStringList requests;
        for (int i = 1; i <= int(items); ++i)
            requests << (read ? GoodsReads(i, i)
                              : QStringList{QStringLiteral("WriteTableRecord table 1 record %1").arg(i),
                                            QStringLiteral("WriteGoodsSales item %1").arg(i)});
        QCOMPARE(Requests(*reg_), requests);
        QVERIFY(!main_->ts_Goods->StopRequested);
        if (read) {
            QVERIFY(main_->ts_Goods->Cell(1, int(items)) != QStringLiteral("старое"));
            QCOMPARE(main_->ts_Goods->Cell(1, int(items) + 1), QStringLiteral("старое"));
        }
    }
    // Afterwards the commands and the grid's editing come back.
    QVERIFY(SpinUntil([&] { return start->isEnabled() && main_->si_Export->isEnabled(); }));
    QCOMPARE(goods->Goods->editTriggers(), QAbstractItemView::AllEditTriggers);
    QVERIFY(goods->Goods->indexWidget(goods->Goods->currentIndex()));
    QCOMPARE(main_->lb_StatusEmpty->text(), QString());
}

void TablesTest::commandsOffDuringSettingsTransfer_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<int>("subPage");
    QTest::addColumn<QString>("fault"); // holds each request a while
    QTest::addColumn<QStringList>("journal");
    QTest::newRow("operators read") << false << int(TSettingsPage::spOperators) << "delay 100 code=12 table=9"
        << QStringList{"Чтение таблицы операторов ...", "Чтение таблицы операторов завершено."};
    QTest::newRow("operators write") << true << int(TSettingsPage::spOperators) << "delay 100 code=15 table=9"
        << QStringList{"Запись таблицы операторов ...", "Запись таблицы операторов завершена."};
    QTest::newRow("text lines write") << true << int(TSettingsPage::spReklama) << "delay 100 code=14 table=4"
        << QStringList{"Запись рекламных строк ...", "Запись рекламных строк завершена."};
}

void TablesTest::commandsOffDuringSettingsTransfer()
{
    QFETCH(bool, write);
    QFETCH(int, subPage);
    QFETCH(QString, fault);
    QFETCH(QStringList, journal);

    Connect(true);
    ShowSettings(subPage);
    // Something to write: what the register holds.
    Read();
    std::string error;
    const auto f = ParseFault(fault.toStdString(), &error);
    QVERIFY2(f, error.c_str());
    reg_->AddFault(*f);
    QToolButton* start = write ? main_->si_WriteTableToKKM : main_->si_ReadTableFromKKM;
    QVERIFY(SpinUntil([&] { return start->isEnabled(); }));
    reg_->ClearRequests();
    Mark();

    // Once the second request is under way: what the window offers, also
    // while a dialog is up.
    QStringList wrong;
    bool looked = false;
    QTimer look;
    connect(&look, &QTimer::timeout, this, [&] {
        if (!main_->Busy() || reg_->RequestCount() < 2)
            return;
        look.stop();
        looked = true;
        auto offNow = [&](const QString& when) {
            for (QWidget* off : std::initializer_list<QWidget*>{
                     main_->si_ReadTableFromKKM, main_->si_WriteTableToKKM, main_->si_Import, main_->si_Export,
                     main_->ts_Goods->cb_QuantNull, main_->ts_Information->b_infoRefresh})
                if (off->isEnabled())
                    wrong << off->objectName() + QStringLiteral(" available") + when;
            for (QAction* off : {main_->mm_c_connect, main_->mm_c_auth})
                if (off->isEnabled())
                    wrong << off->objectName() + QStringLiteral(" available") + when;
        };
        offNow(QString());
        // "Прервать" belongs to the goods page; navigation stays live.
        for (QWidget* on : std::initializer_list<QWidget*>{main_->eb_Information, main_->eb_KKMOptions,
                                                           main_->eb_Goods, main_->eb_Logo})
            if (!on->isEnabled())
                wrong << on->objectName() + QStringLiteral(" unavailable");
        TModalDriver boxes(10000);
        boxes.Then([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box || !box->isVisible())
                return false;
            offNow(QStringLiteral(" while a dialog is up"));
            QTimer::singleShot(0, box, &QMessageBox::accept);
            return true;
        });
        QMessageBox box(QMessageBox::Information, QStringLiteral("Проба"), QStringLiteral("Проба"), QMessageBox::Ok,
                        main_.get());
        box.exec();
        // A second start while the first runs is refused before it asks
        // anything.
        start->click();
    });
    look.start(1);
    start->click();
    QVERIFY(WaitIdle(*main_, 120000));
    look.stop();

    QVERIFY(looked);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    // The clicks while it ran wrote nothing into its lines, and the register
    // was asked each thing once.
    QCOMPARE(NewJournal(), journal);
    const std::vector<RequestRecord> requests = reg_->Requests();
    const int expected = write ? (subPage == TSettingsPage::spOperators ? 21 : 9) : 7;
    QCOMPARE(int(requests.size()), expected);
    QVERIFY(SpinUntil([&] { return start->isEnabled(); }));
}

KKM_WINDOW_TEST_MAIN(TablesTest)
#include "TablesTest.moc"
