// kkm-cli run as a program against register emulators on pseudo-terminals
// in this process: wrong usage, bad input that must touch nothing, a wrong
// password, the goods list through a file and back, profiles, a lost line
// and a fleet with a silent register.
#include "Cp1251.h"
#include "PtyRegister.h"
#include "TestWait.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace kkm::emu;

namespace {

// Generous: a loaded machine (or a sanitizer build) must not turn a slow
// answer into a failure. The silent register costs this much per run.
const QString kTimeOut = QStringLiteral("15000");

struct TRun {
    int Exit = -1;
    QString Out;
    QString Err;
    QByteArray OutBytes; // standard output as written (a goods file is Windows-1251)
};

// Runs kkm-cli with Args (and Input on its standard input); the password
// variable is never inherited from the test's environment.
TRun RunCli(const QStringList& args, const QByteArray& input = {},
            const QProcessEnvironment& extra = QProcessEnvironment())
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("KKM_PASSWORD"));
    for (const QString& key : extra.keys())
        env.insert(key, extra.value(key));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(KKM_CLI_PATH), args);
    TRun run;
    if (!process.waitForStarted(30000))
        return run;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(300000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.Exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.OutBytes = process.readAllStandardOutput();
    run.Out = QString::fromUtf8(run.OutBytes);
    run.Err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// The same with a long time-out for the register's answers.
TRun Cli(QStringList args, const QByteArray& input = {}, const QProcessEnvironment& extra = QProcessEnvironment())
{
    args << QStringLiteral("--timeout") << kTimeOut;
    return RunCli(args, input, extra);
}

std::string Show(const TRun& r)
{
    return ("exit " + QString::number(r.Exit) + "\nstdout:\n" + r.Out + "\nstderr:\n" + r.Err).toStdString();
}

std::unique_ptr<PtyRegister> StartRegister(std::int64_t serial, int baud = 0)
{
    auto reg = std::make_unique<PtyRegister>();
    PtyOptions options;
    options.Publish = false;
    options.Baud = baud;
    options.LogSink = [](const std::string&) {};
    QString error;
    if (!reg->Start(options, &error)) {
        ADD_FAILURE() << error.toStdString();
        return reg;
    }
    reg->WithModel([serial](RegisterModel& m) { m.State().identity.SerialNumber = serial; });
    return reg;
}

void AddFault(PtyRegister& reg, const char* text)
{
    std::string error;
    const auto fault = ParseFault(text, &error);
    ASSERT_TRUE(fault) << error;
    reg.AddFault(*fault);
}

// The command codes of the requests the register received, in order.
std::vector<int> Codes(const PtyRegister& reg)
{
    std::vector<int> codes;
    for (const RequestRecord& r : reg.Requests())
        if (r.Body.size() > 3)
            codes.push_back(r.Body[3]);
    return codes;
}

bool Has(const std::vector<int>& codes, int code)
{
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

// Requests that change the register: record and field writes, sales, logo.
bool AnyWrite(const PtyRegister& reg)
{
    const std::vector<int> c = Codes(reg);
    return Has(c, 14) || Has(c, 15) || Has(c, 20) || Has(c, 7);
}

QByteArray Cp1251Lines(const QStringList& lines)
{
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += ToCp1251(line) + "\r\n";
    return bytes;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<no file>");
}

// Goods lines as a read of the register exports them: names padded to the
// record's 32 characters, every cell filled, no sales.
QByteArray CanonicalGoods()
{
    const auto line = [](int item, const QString& name, const char* rest) {
        return QString::number(item) + QLatin1Char(';') + name.leftJustified(32) + QLatin1Char(';') +
               QString::fromUtf8(rest);
    };
    return Cp1251Lines({
        line(1, QStringLiteral("Хлеб белый"), "4600000000017;1;25.90;НЕТ;0"),
        line(2, QStringLiteral("Молоко 2.5% 1 л"), "4607025390015;2;89.90;НЕТ;0"),
        line(3, QStringLiteral("Сыр весовой"), "2000000000039;16;999999.99;ДА;0"),
        line(4, QStringLiteral("Жевательная резинка со вкусом мя"), "0000000000000;0;0.05;НЕТ;0"),
        line(5, QStringLiteral("Гвозди"), "1234567890128;3;12.00;ДА;0"),
    });
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString Path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};

} // namespace

// Wrong usage ends with status 2 and a reason, before any port is opened.
TEST_F(CliTest, WrongUsageExitsTwoAndTouchesNothing)
{
    auto reg = StartRegister(1001);
    const QString p = reg->SlavePath();
    const QString csv = Path(QStringLiteral("g.csv"));
    ASSERT_TRUE(WriteFile(csv, CanonicalGoods()));
    const QString bmp = Path(QStringLiteral("p.bmp"));
    const struct {
        QStringList args;
        const char* says; // part of the error text
    } cases[] = {
        {{}, "не указана команда"},
        {{"frobnicate"}, "неизвестная команда"},
        {{"goods"}, "после \"goods\" нужно одно из: read, write"},
        {{"info"}, "не указан порт"},
        {{"info", "-p", p, "-b", "1234"}, "скорость \"1234\""},
        {{"info", "-p", p, "-p", p}, "указан дважды"},
        {{"info", "-p", p, "extra"}, "лишний аргумент \"extra\""},
        {{"info", "-p", p, "--zero-sales"}, "--zero-sales не используется с командой info"},
        {{"info", "-p"}, "после -p нужно значение"},
        {{"info", "-p", p, "--bogus"}, "неизвестный параметр \"--bogus\""},
        {{"goods", "read", "-p", p, "-p", "ttyS99"}, "не указана папка для файлов (-o ПАПКА)"},
        {{"goods", "read", "-p", p, "-p", "ttyS99", "-o", "-"}, "-o -: в стандартный вывод можно читать только одну ККМ"},
        {{"settings", "read", "-p", p, "-t", "options", "--table=options"}, "-t options: таблица указана дважды"},
        {{"goods", "write", "-p", p, "-u", "1", "-w-", "-"}, "стандартный ввод не может дать и файл, и пароль"},
        {{"logo", "upload", "-p", p, "-u", "1", "-w", "1", "-"}, "изображение нужно файлом"},
        {{"info", "-p" + p, "--port=" + p}, "указан дважды"},
        {{"info", "-vp" + p, "-b9600", "--baud=1200"}, "-b указан дважды"},
        {{"info", "--json=yes", "-p", p}, "--json не принимает значения"},
        {{"info", "-p", p, "--timeout=soon"}, "тайм-аут \"soon\""},
        {{"info", "-p", p, "--", "-v"}, "лишний аргумент \"-v\""},
        {{"info", "-p", p, "-x"}, "неизвестный параметр \"-x\""},
        {{"events"}, "не указан порт"},
        {{"events", "-p", p, "-o", "x"}, "-o не используется с командой events"},
        {{"goods", "read", "-p", p, "-o", csv, "-r", "0..5"}, "интервал товаров \"0..5\""},
        {{"goods", "read", "-p", p, "-o", csv, "-r", "7..3"}, "интервал товаров \"7..3\""},
        {{"goods", "read", "-p", p, "-o", csv, "-r", "1..10000"}, "интервал товаров"},
        {{"goods", "write", "-p", p, "-u", "1", "-w", "1"}, "не указан файл"},
        {{"goods", "write", "-p", p, "-w", "1", csv}, "не указан пользователь"},
        {{"goods", "write", "-p", p, "-u", "8", "-w", "1", csv}, "номер от 1 до 7"},
        {{"goods", "write", "-p", p, "-u", "1", csv}, "не указан пароль"},
        {{"goods", "write", "-p", p, "-u", "1", "-w", "12a", csv}, "только цифры"},
        {{"goods", "write", "-p", p, "-u", "1", "-w", "1234567", csv}, "не больше 6"},
        {{"goods", "write", "-p", p, "-u", "1", "-w", " ", csv}, "Поле пароль не должно быть пустое!"},
        {{"logo", "upload", "-p", p, "-u", "1", "-w", "1", "--contrast", "101", bmp}, "контраст"},
        {{"logo", "upload", "-p", p, "-u", "1", "-w", "1", "--scale-h", "15", bmp}, "--scale-h \"15\""},
        {{"logo", "upload", "-p", p, "-u", "1", "-w", "1", "--frame", "1,2,3", bmp}, "--frame \"1,2,3\""},
        {{"settings", "read", "-p", p, "-o", csv, "-t", "nonsense"}, "-t nonsense: нет такой таблицы"},
    };
    for (const auto& c : cases) {
        const TRun r = RunCli(c.args);
        EXPECT_EQ(r.Exit, 2) << c.args.join(' ').toStdString() << "\n" << Show(r);
        EXPECT_TRUE(r.Err.contains(QString::fromUtf8(c.says))) << c.args.join(' ').toStdString() << "\n" << Show(r);
        EXPECT_TRUE(r.Out.isEmpty()) << Show(r);
    }
    EXPECT_EQ(reg->RequestCount(), 0u);
    EXPECT_EQ(reg->ClientCloses(), 0u) << "a port was opened";

    const TRun help = RunCli({"--help"});
    EXPECT_EQ(help.Exit, 0);
    for (const char* says : {"-w -", "KKM_PASSWORD", "списке процессов", "logo upload", "settings diff"})
        EXPECT_TRUE(help.Out.contains(QString::fromUtf8(says))) << says;
}

// Input that cannot be used is refused before any register is touched: the
// port is not even opened.
TEST_F(CliTest, BadInputTouchesNothing)
{
    auto reg = StartRegister(1001);
    const QString p = reg->SlavePath();
    const auto file = [&](const char* name, const QByteArray& bytes) {
        const QString path = Path(QString::fromUtf8(name));
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    };
    const QString goods = file("goods.csv", CanonicalGoods());
    const QString section17 = file("s17.csv", Cp1251Lines({"1;Хлеб;;1;1.00;НЕТ;0", "2;Соль;;17;1.00;НЕТ;0"}));
    const QString header = file("header.csv", Cp1251Lines({"Товар;Наименование;Штрих-код;Отдел;Цена;Дробное;Продажи"}));
    const QString item0 = file("item0.csv", Cp1251Lines({"0;Ничто;;1;1.00;НЕТ;0"}));
    const QString badPrice = file("price.csv", Cp1251Lines({"1;Хлеб;;1;дорого;НЕТ;0"}));
    const QString badBarcode = file("barcode.csv", Cp1251Lines({"1;Хлеб;4600000000017;1;1.00;НЕТ;0", "2;Соль;abc;1;1.00;НЕТ;0"}));
    const QString empty = file("empty.csv", QByteArray());
    const QString notBmp = file("garbage.bmp", "BM but not a bitmap");
    const QString png = file("picture.png", "\x89PNG");
    const QString profile = file("bad.json", R"({"format":"kkm-profile","version":1,"tables":{"options":{"bogus":1}}})");
    const QString notJson = file("not.json", "{");
    const QStringList auth{"-u", "1", "-w", "1"};
    const QStringList goodsWrite = QStringList{"goods", "write", "-p", p} + auth;
    const QStringList logo = QStringList{"logo", "upload", "-p", p} + auth;
    const QStringList settings = QStringList{"settings", "write", "-p", p} + auth;

    const struct {
        QStringList args;
        int exit;
        QString says;
    } cases[] = {
        {goodsWrite + QStringList{Path("missing.csv")}, 2, "missing.csv: "},
        {goodsWrite + QStringList{section17}, 2, "Номер отдела не может иметь значение больше 16!"},
        {goodsWrite + QStringList{section17}, 2, "Ошибка в записи № 2"},
        {goodsWrite + QStringList{"-r", "1..3", goods}, 2, "Ошибка в записи № 4: товар вне интервала 1..3"},
        {goodsWrite + QStringList{header}, 2, "header.csv: "},
        {goodsWrite + QStringList{item0}, 2, "Ошибка в записи № 0"},
        {goodsWrite + QStringList{badPrice}, 2, "Цена имеет неправильный тип!"},
        {goodsWrite + QStringList{badBarcode}, 2, "Ошибка в записи № 2: 'abc' не является целым числом"},
        {goodsWrite + QStringList{empty}, 2, "в файле нет товаров"},
        {goodsWrite + QStringList{"-p", "/dev/kkm-no-such-port", goods}, 4,
         "/dev/kkm-no-such-port: Попытка открыть несуществующий порт."},
        {{"goods", "read", "-p", p, "-o", Path("no/such/folder/g.csv")}, 2, "нет папки"},
        {logo + QStringList{Path("missing.bmp")}, 2, "missing.bmp: Файл не найден"},
        {logo + QStringList{notBmp}, 2, "garbage.bmp: "},
        {logo + QStringList{png}, 2, "picture.png: Неподдерживаемый тип файла"},
        {settings + QStringList{profile}, 2, "таблица options, поле bogus"},
        {settings + QStringList{notJson}, 2, "not.json: "},
        {{"settings", "diff", "-p", p, Path("missing.json")}, 2, "missing.json: "},
    };
    for (const auto& c : cases) {
        const TRun r = Cli(c.args);
        EXPECT_EQ(r.Exit, c.exit) << c.args.join(' ').toStdString() << "\n" << Show(r);
        EXPECT_TRUE(r.Err.contains(c.says)) << c.says.toStdString() << "\n" << Show(r);
    }
    EXPECT_EQ(reg->RequestCount(), 0u);
    EXPECT_EQ(reg->ClientCloses(), 0u) << "a port was opened";
    EXPECT_FALSE(QFile::exists(Path("no/such/folder/g.csv")));
}

// A refused authorisation ends every write command before it writes
// anything, with the register's text and status 3.
TEST_F(CliTest, WrongPasswordChangesNothing)
{
    auto reg = StartRegister(1001);
    const QString p = reg->SlavePath();
    const QString goods = Path(QStringLiteral("goods.csv"));
    ASSERT_TRUE(WriteFile(goods, CanonicalGoods()));
    const QString profile = Path(QStringLiteral("profile.json"));
    ASSERT_EQ(Cli({"settings", "read", "-p", p, "-o", profile}).Exit, 0);
    const QString bmp = Path(QStringLiteral("p.bmp"));
    {
        // A 16 x 2 grey bitmap, bottom-up rows of 48 bytes.
        QByteArray b("BM");
        const auto le32 = [&](quint32 v) { for (int i = 0; i < 4; ++i) b += char(v >> (8 * i)); };
        const auto le16 = [&](quint16 v) { b += char(v & 0xFF); b += char(v >> 8); };
        le32(54 + 96); le32(0); le32(54); le32(40); le32(16); le32(2); le16(1); le16(24);
        le32(0); le32(96); le32(2835); le32(2835); le32(0); le32(0);
        b += QByteArray(96, '\x40');
        ASSERT_TRUE(WriteFile(bmp, b));
    }
    const RegisterState before = reg->WithModel([](RegisterModel& m) { return m.State(); });

    const QStringList commands[] = {
        {"goods", "write", "-p", p, "-u", "1", "-w", "-", "--zero-sales", goods},
        {"settings", "write", "-p", p, "-u", "Администратор", "-w", "-", profile},
        {"logo", "upload", "-p", p, "-u", "1", "-w", "-", bmp},
    };
    for (const QStringList& args : commands) {
        reg->ClearRequests();
        const TRun r = Cli(args, "2\n");
        EXPECT_EQ(r.Exit, 3) << Show(r);
        EXPECT_TRUE(r.Err.contains(QStringLiteral("Доступ запрещён"))) << Show(r);
        EXPECT_TRUE(Has(Codes(*reg), 30)) << "authorisation was not tried";
        EXPECT_FALSE(AnyWrite(*reg)) << args.join(' ').toStdString();
    }
    EXPECT_EQ(reg->WithModel([](RegisterModel& m) { return m.State(); }), before);
}

// --dry-run checks everything and authorises, and sends no write.
TEST_F(CliTest, DryRunWritesNothing)
{
    auto reg = StartRegister(1001);
    const QString p = reg->SlavePath();
    const QString goods = Path(QStringLiteral("goods.csv"));
    ASSERT_TRUE(WriteFile(goods, CanonicalGoods()));
    const QString profile = Path(QStringLiteral("profile.json"));
    ASSERT_EQ(Cli({"settings", "read", "-p", p, "-o", profile}).Exit, 0);
    const RegisterState before = reg->WithModel([](RegisterModel& m) { return m.State(); });
    const QProcessEnvironment env = [] {
        QProcessEnvironment e;
        e.insert(QStringLiteral("KKM_PASSWORD"), QStringLiteral("1"));
        return e;
    }();
    const QStringList commands[] = {
        {"goods", "write", "-p", p, "-u", "1", "--zero-sales", "--dry-run", goods},
        {"settings", "write", "-p", p, "-u", "1", "--dry-run", profile},
    };
    for (const QStringList& args : commands) {
        reg->ClearRequests();
        const TRun r = Cli(args, {}, env);
        EXPECT_EQ(r.Exit, 0) << Show(r);
        EXPECT_TRUE(Has(Codes(*reg), 30)) << "not authorised";
        EXPECT_FALSE(AnyWrite(*reg)) << args.join(' ').toStdString();
    }
    EXPECT_EQ(reg->WithModel([](RegisterModel& m) { return m.State(); }), before);
}

// A goods file written to a register and read back gives the same file,
// byte for byte; the password comes from standard input.
TEST_F(CliTest, GoodsWriteThenReadGivesTheSameFile)
{
    auto reg = StartRegister(1001);
    const QString p = reg->SlavePath();
    const QString in = Path(QStringLiteral("in.csv"));
    const QString out = Path(QStringLiteral("out.csv"));
    ASSERT_TRUE(WriteFile(in, CanonicalGoods()));

    const TRun write = Cli({"goods", "write", "-p", p, "-u", "1", "-w", "-", "--zero-sales", in}, "1\n");
    ASSERT_EQ(write.Exit, 0) << Show(write);
    EXPECT_TRUE(write.Out.isEmpty());
    const TRun read = Cli({"goods", "read", "-p", p, "-r", "1..5", "-o", out});
    ASSERT_EQ(read.Exit, 0) << Show(read);
    EXPECT_EQ(ReadFile(out), ReadFile(in));
    // Quiet on a pipe: no progress line, no journal lines.
    EXPECT_TRUE(read.Err.isEmpty()) << Show(read);
}

// "-" is standard input for a file and standard output for a read, which
// is also where one register's read goes without -o; options are taken in
// the forms other tools know (attached values, --opt=value, bundled flags).
TEST_F(CliTest, StandardInputAndOutput)
{
    auto reg = StartRegister(1001);
    const QString p = reg->SlavePath();

    const TRun write = Cli({"goods", "write", "-p" + p, "-u1", "-w1", "--zero-sales", "-"}, CanonicalGoods());
    ASSERT_EQ(write.Exit, 0) << Show(write);
    for (const QStringList& args : {QStringList{"goods", "read", "-p", p, "-r", "1..5"},
                                    QStringList{"goods", "read", "--port=" + p, "--range=1..5", "-o", "-"}}) {
        const TRun read = Cli(args);
        EXPECT_EQ(read.Exit, 0) << Show(read);
        EXPECT_EQ(read.OutBytes, CanonicalGoods()) << args.join(' ').toStdString();
    }

    const TRun profile = Cli({"settings", "read", "-p", p, "-o", "-"});
    ASSERT_EQ(profile.Exit, 0) << Show(profile);
    EXPECT_TRUE(QJsonDocument::fromJson(profile.OutBytes).object().value("tables").isObject()) << Show(profile);
    const TRun same = Cli({"settings", "diff", "-p", p, "-"}, profile.OutBytes);
    EXPECT_EQ(same.Exit, 0) << Show(same);

    // -v and -p bundled, the port attached: the journal's lines on stderr.
    const TRun info = Cli({"info", "-vp" + p, "-b115200"});
    EXPECT_EQ(info.Exit, 0) << Show(info);
    EXPECT_TRUE(info.Err.contains(QStringLiteral("Подключение успешно. Порт [") + p)) << Show(info);
}

// Profiles: read, compared (status 0 alike, 1 with one line per
// difference), written to another register and read back from it the same.
TEST_F(CliTest, ProfileDiffAndRoundTrip)
{
    auto a = StartRegister(1001);
    auto b = StartRegister(1002);
    const QString fa = Path(QStringLiteral("a.json"));
    ASSERT_EQ(Cli({"settings", "read", "-p", a->SlavePath(), "-o", fa}).Exit, 0);

    const TRun same = Cli({"settings", "diff", "-p", a->SlavePath(), fa});
    EXPECT_EQ(same.Exit, 0) << Show(same);
    EXPECT_TRUE(same.Out.isEmpty()) << Show(same);

    // Two changes in the file: a number and an operator's name.
    QJsonObject doc = QJsonDocument::fromJson(ReadFile(fa)).object();
    QJsonObject tables = doc.value("tables").toObject();
    QJsonObject options = tables.value("options").toObject();
    const int backlight = options.value("backlight_seconds").toInt();
    options.insert("backlight_seconds", backlight + 1);
    tables.insert("options", options);
    QJsonArray operators = tables.value("operators").toArray();
    QJsonObject third = operators.at(2).toObject();
    const QString oldName = third.value("name").toString();
    third.insert("name", QStringLiteral("Петров Пётр"));
    operators.replace(2, third);
    tables.insert("operators", operators);
    doc.insert("tables", tables);
    const QString changed = Path(QStringLiteral("changed.json"));
    ASSERT_TRUE(WriteFile(changed, QJsonDocument(doc).toJson()));

    const TRun diff = Cli({"settings", "diff", "-p", a->SlavePath(), changed});
    EXPECT_EQ(diff.Exit, 1) << Show(diff);
    // The lines as the window's "Сравнить с профилем..." writes them.
    EXPECT_EQ(diff.Out, QStringLiteral("options, backlight_seconds: %1 → %2\n"
                                       "operators[3], name: \"%3\" → \"Петров Пётр\"\n")
                            .arg(backlight)
                            .arg(backlight + 1)
                            .arg(oldName))
        << Show(diff);

    // The changed profile to B, then B read back: the same tables.
    const TRun write = Cli({"settings", "write", "-p", b->SlavePath(), "-u", "1", "-w", "1", changed});
    ASSERT_EQ(write.Exit, 0) << Show(write);
    const QString fb = Path(QStringLiteral("b.json"));
    ASSERT_EQ(Cli({"settings", "read", "-p", b->SlavePath(), "-o", fb}).Exit, 0);
    const QJsonObject readBack = QJsonDocument::fromJson(ReadFile(fb)).object();
    EXPECT_EQ(readBack.value("tables"), doc.value("tables"));
    EXPECT_EQ(readBack.value("serial").toString(), QStringLiteral("1002"));
    EXPECT_EQ(Cli({"settings", "diff", "-p", b->SlavePath(), changed}).Exit, 0);
}

// The register goes away in the middle of a transfer: status 4, the lost
// line named, and no file from a list read only in part.
TEST_F(CliTest, LostLineInATransfer)
{
    auto reg = StartRegister(1001, 115200);
    const QString out = Path(QStringLiteral("out.csv"));
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(KKM_CLI_PATH),
                  {"goods", "read", "-p", reg->SlavePath(), "-o", out, "--timeout", kTimeOut});
    ASSERT_TRUE(process.waitForStarted(30000));
    // Well into the goods: connect and the information came first.
    ASSERT_TRUE(reg->WaitForRequests(40, std::chrono::seconds(60)));
    ASSERT_TRUE(reg->HangUp());
    ASSERT_TRUE(process.waitForFinished(120000));
    const QString err = QString::fromUtf8(process.readAllStandardError());
    EXPECT_EQ(process.exitCode(), 4) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("Связь с ККМ потеряна: порт закрыт."))) << err.toStdString();
    EXPECT_FALSE(QFile::exists(out));
}

namespace {

// The pseudo-terminal's settings as a client of the slave sees them.
bool PortSettings(const QString& path, termios& t)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::tcgetattr(fd, &t) == 0;
    ::close(fd);
    return ok;
}

bool SameSettings(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           ::cfgetispeed(&a) == ::cfgetispeed(&b) && ::cfgetospeed(&a) == ::cfgetospeed(&b) &&
           std::equal(std::begin(a.c_cc), std::end(a.c_cc), std::begin(b.c_cc));
}

} // namespace

// Ctrl-C or SIGTERM in the middle of a read: the status tells which, the
// port has its settings back, stderr says where the transfer stopped, and
// no file (nor a part of one) is left.
TEST_F(CliTest, InterruptedReadRestoresThePort)
{
    const struct {
        int signal;
        int exit;
    } cases[] = {{SIGINT, 130}, {SIGTERM, 143}};
    for (const auto& c : cases) {
        // Paced as a slow line, so that the read is far from done.
        auto reg = StartRegister(1001, 9600);
        const QString port = reg->SlavePath();
        termios before{};
        ASSERT_TRUE(PortSettings(port, before));
        const QString folder = Path(QStringLiteral("out%1").arg(c.signal));
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString out = QDir(folder).filePath(QStringLiteral("goods.csv"));
        QProcess process;
        process.start(QStringLiteral(KKM_CLI_PATH), {"goods", "read", "-p", port, "-o", out, "--timeout", kTimeOut});
        ASSERT_TRUE(process.waitForStarted(30000));
        ASSERT_TRUE(reg->WaitForRequests(40, std::chrono::seconds(60)));
        termios during{};
        ASSERT_TRUE(PortSettings(port, during));
        EXPECT_FALSE(SameSettings(before, during)) << "the program did not set the port up; the check below proves nothing";
        ASSERT_EQ(::kill(static_cast<pid_t>(process.processId()), c.signal), 0);
        ASSERT_TRUE(process.waitForFinished(120000));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << err.toStdString();
        EXPECT_EQ(process.exitCode(), c.exit) << err.toStdString();
        EXPECT_TRUE(err.contains(QRegularExpression(QStringLiteral("^прервано на \\d+ из 1\\.\\.9999$"),
                                                    QRegularExpression::MultilineOption)))
            << err.toStdString();
        termios after{};
        ASSERT_TRUE(PortSettings(port, after));
        EXPECT_TRUE(SameSettings(before, after)) << "signal " << c.signal;
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList()) << "signal " << c.signal;
    }
}

// Four registers at once, one of them silent: the others are written and
// read as if alone, each port ends with its summary line, and the status is
// the worst.
TEST_F(CliTest, FleetWithASilentRegister)
{
    std::vector<std::unique_ptr<PtyRegister>> regs;
    QStringList portArgs;
    for (int i = 0; i < 4; ++i) {
        regs.push_back(StartRegister(1001 + i));
        portArgs << "-p" << regs.back()->SlavePath();
    }
    AddFault(*regs[2], "silent");
    const QString in = Path(QStringLiteral("in.csv"));
    ASSERT_TRUE(WriteFile(in, CanonicalGoods()));
    const QString silentPort = regs[2]->SlavePath();
    const QString timedOut = QStringLiteral("Истёк тайм-аут ожидания ответа.");

    const TRun write = Cli(QStringList{"goods", "write", "-u", "1", "-w", "-", "--zero-sales", in} + portArgs, "1\n");
    EXPECT_EQ(write.Exit, 4) << Show(write);
    QStringList expected;
    for (int i = 0; i < 4; ++i)
        expected << (i == 2 ? silentPort + ": 4 " + timedOut
                            : QStringLiteral("%1: 0 ККМ № %2: товары 1..5 записаны, продажи обнулены")
                                  .arg(regs[static_cast<std::size_t>(i)]->SlavePath())
                                  .arg(1001 + i));
    // The summary closes the output, one line per port in the order given;
    // the silent port's error line came before it.
    QStringList err = write.Err.split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(err.size(), 4) << Show(write);
    EXPECT_EQ(err.mid(err.size() - 4), expected) << Show(write);
    EXPECT_TRUE(err.contains(silentPort + ": " + timedOut)) << Show(write);

    const QString folder = Path(QStringLiteral("fleet"));
    const TRun read = Cli(QStringList{"goods", "read", "-r", "1..5", "-o", folder} + portArgs);
    EXPECT_EQ(read.Exit, 4) << Show(read);
    err = read.Err.split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(err.size(), 4) << Show(read);
    EXPECT_EQ(err.last(2), QStringList({silentPort + ": 4 " + timedOut,
                                         QStringLiteral("%1: 0 ККМ № 1004: товары 1..5 → %2")
                                             .arg(regs[3]->SlavePath(), QDir(folder).filePath("1004.csv"))}))
        << Show(read);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList({"1001.csv", "1002.csv", "1004.csv"}));
    for (const char* name : {"1001.csv", "1002.csv", "1004.csv"})
        EXPECT_EQ(ReadFile(QDir(folder).filePath(name)), CanonicalGoods()) << name;
}

// The ports list holds the emulators' published ports, as the connect
// dialog's does; --json gives the same as an array.
TEST_F(CliTest, PortsListsPublishedEmulators)
{
    auto reg = std::make_unique<PtyRegister>();
    PtyOptions options;
    options.Directory = Path(QStringLiteral("ports"));
    options.LogSink = [](const std::string&) {};
    ASSERT_TRUE(reg->Start(options));
    QProcessEnvironment env;
    env.insert(QStringLiteral("KKM_EMULATOR_DIR"), options.Directory);
    const TRun plain = Cli({"ports"}, {}, env);
    EXPECT_EQ(plain.Exit, 0);
    EXPECT_TRUE(plain.Out.split('\n').contains(reg->PublishedPath())) << Show(plain);
    const TRun json = Cli({"ports", "--json"}, {}, env);
    EXPECT_TRUE(QJsonDocument::fromJson(json.Out.toUtf8()).array().contains(reg->PublishedPath())) << Show(json);

    // A bare name finds it there too.
    const QString name = QFileInfo(reg->PublishedPath()).fileName();
    const TRun info = Cli({"info", "-p", name, "--json"}, {}, env);
    EXPECT_EQ(info.Exit, 0) << Show(info);
    EXPECT_EQ(QJsonDocument::fromJson(info.Out.toUtf8()).object().value("port").toString(), reg->PublishedPath());
}

namespace {

// kkm-cli events running against the test's registers: its output as it
// comes, read while waiting on a condition.
class TEventsRun {
public:
    explicit TEventsRun(const QStringList& args)
    {
        process_.start(QStringLiteral(KKM_CLI_PATH),
                       QStringList{"events", "-v", "--timeout", kTimeOut} + args);
    }
    ~TEventsRun()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }

    // Waits (generously) until Condition holds for what came so far.
    template <class Condition>
    bool WaitFor(Condition condition)
    {
        QDeadlineTimer deadline(std::chrono::seconds(60));
        for (;;) {
            Take();
            if (condition())
                return true;
            if (deadline.hasExpired() || process_.state() == QProcess::NotRunning)
                return false;
            process_.waitForReadyRead(50);
        }
    }
    // Connected on every one of Ports: from then on every message is taken.
    bool WaitListening(int ports)
    {
        return WaitFor([&] { return err.count(QStringLiteral("Подключение успешно")) == ports; });
    }
    QStringList Lines() const { return out.split('\n', Qt::SkipEmptyParts); }
    int Interrupt()
    {
        ::kill(static_cast<pid_t>(process_.processId()), SIGINT);
        return Finish();
    }
    int Finish()
    {
        if (!process_.waitForFinished(120000))
            return -1;
        Take();
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -2;
    }
    std::string Show() const { return ("stdout:\n" + out + "\nstderr:\n" + err).toStdString(); }

    QString out, err;

private:
    void Take()
    {
        out += QString::fromUtf8(process_.readAllStandardOutput());
        err += QString::fromUtf8(process_.readAllStandardError());
    }
    QProcess process_;
};

} // namespace

// Every kind of the register's messages comes out as one JSON line with
// the component's event and field names; a frame with a bad CRC and one of
// no known kind give none (they are told with -v), and Ctrl-C ends with 0.
TEST_F(CliTest, EventsAsJson)
{
    auto reg = StartRegister(1001);
    const QString p = reg->SlavePath();
    const Date day{28, 2, 2009};
    const Time moment{23, 59, 59};
    const struct {
        Message message;
        const char* json; // the fields expected besides port and time
    } cases[] = {
        {SaleOnFree{1, 2, 1500, 19990, 3, 4, 17},
         R"({"code":32,"event":"onSaleOnFree","tOper":1,"vOper":2,"Quant":1.5,"Price":199.9,"nSection":3,"nOperator":4,"nDoc":17})"},
        {SaleOnCode{1, 0, 2000, 123456789012, 2, 18},
         R"({"code":33,"event":"onSaleOnCode","tOper":1,"vOper":0,"Quant":2,"wCode":123456789012,"nOperator":2,"nDoc":18})"},
        {SaleOnBarcode{0, 1, 250, 3, 19, "4601234567893"},
         R"({"code":34,"event":"onSaleOnBarcode","Quant":0.25,"wBCode":"4601234567893","nOperator":3,"nDoc":19})"},
        {FreeDisc{1, 2, 0, 1050, 5, 20},
         R"({"code":35,"event":"onFreeDisc","tOper":1,"tDisc":2,"vOper":0,"dSumm":10.5,"nOperator":5,"nDoc":20})"},
        {DiscOnQuery{0, 1, 1, 99, 1, 21}, R"({"code":36,"event":"onDiscOnQuery","tDisc":1,"rSumm":0.99,"nDoc":21})"},
        {DiscOnCode{0, 1, 0, 500, 777, 1, 22}, R"({"code":37,"event":"onDiscOnCode","rSumm":5,"dCode":777,"nDoc":22})"},
        {DiscOnBarcode{0, 2, 0, 12345, 6, 7, "2000000000039"},
         R"({"code":38,"event":"onDiscOnBarcode","rSumm":123.45,"dBCode":"2000000000039","nOperator":6,"nDoc":7})"},
        {PayReceipt{2, 0, 0, 100000, 1, 23}, R"({"code":39,"event":"onPayReceipt","tPay":2,"rSumm":1000,"nDoc":23})"},
        {CloseReceipt{0, day, moment, 25090, 1, 24},
         R"({"code":41,"event":"onCloseReceipt","rDate":"2009-02-28","rTime":"23:59:59","rSumm":250.9,"nDoc":24})"},
        {AbortReceipt{1, day, Time{8, 5, 0}, 2, 25},
         R"({"code":42,"event":"onAbortReceipt","tOper":1,"rDate":"2009-02-28","rTime":"08:05:00","nOperator":2,"nDoc":25})"},
        {InSumm{500000, day, moment, 1, 26, 3},
         R"({"code":43,"event":"onInSumm","inSumm":5000,"inDate":"2009-02-28","inTime":"23:59:59","nDoc":26,"nIn":3})"},
        {OutSumm{120000, day, moment, 1, 27, 4},
         R"({"code":44,"event":"onOutSumm","outSumm":1200,"outDate":"2009-02-28","nDoc":27,"nOut":4})"},
        {CloseSession{9876543, day, moment, 7, 28, 42},
         R"({"code":45,"event":"onCloseSession","cSumm":98765.43,"cTime":"23:59:59","nOperator":7,"nDoc":28,"nSession":42})"},
        {Confirmation{12345, true}, R"({"code":46,"event":"onConfirmation","rSumm":123.45,"RClose":true})"},
        {Confirmation{}, R"({"code":46,"event":"onConfirmation","rSumm":0,"RClose":false})"},
    };

    TEventsRun run({"-p", p, "--json"});
    ASSERT_TRUE(run.WaitListening(1)) << run.Show();
    // Before them, a frame spoilt on the line and one of no known kind.
    reg->SendRaw(FrameBody(BuildMessageBody(Confirmation{}, 9), 0x0101));
    reg->SendBody(TArrayOfByte{MessageAR, MessageAT, 10, 0x28});
    for (const auto& c : cases)
        reg->SendMessage(c.message);
    const auto total = static_cast<qsizetype>(std::size(cases));
    // The -v lines come through the main thread, the events straight from
    // the ports' workers: either may be first.
    ASSERT_TRUE(run.WaitFor([&] {
        return run.Lines().size() >= total && run.err.contains(QStringLiteral("неверная контрольная сумма")) &&
               run.err.contains(QStringLiteral("с кодом 0x28"));
    })) << run.Show();
    EXPECT_EQ(run.Interrupt(), 0) << run.Show();

    const QStringList lines = run.Lines();
    ASSERT_EQ(lines.size(), total) << run.Show();
    for (qsizetype i = 0; i < total; ++i) {
        QJsonParseError error{};
        const QJsonObject got = QJsonDocument::fromJson(lines[i].toUtf8(), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << lines[i].toStdString();
        const QJsonObject expected = QJsonDocument::fromJson(cases[i].json).object();
        for (auto it = expected.begin(); it != expected.end(); ++it)
            EXPECT_EQ(got.value(it.key()), it.value()) << it.key().toStdString() << " in " << lines[i].toStdString();
        EXPECT_EQ(got.value("port").toString(), p);
        EXPECT_EQ(got.value("AT").toInt(), 2);
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d)$"))
                        .match(got.value("time").toString())
                        .hasMatch())
            << lines[i].toStdString();
    }
}

// Two registers' messages interleave, each line with its port and what
// happened in words; a lost line ends the listening with status 4.
TEST_F(CliTest, EventsFromTwoPortsAndALostLine)
{
    auto a = StartRegister(1001);
    auto b = StartRegister(1002);
    TEventsRun run({"-p", a->SlavePath(), "-p", b->SlavePath()});
    ASSERT_TRUE(run.WaitListening(2)) << run.Show();
    a->SendMessage(Confirmation{12345, true});
    ASSERT_TRUE(run.WaitFor([&] { return run.Lines().size() >= 1; })) << run.Show();
    b->SendMessage(PayReceipt{2, 0, 0, 100000, 3, 23});
    ASSERT_TRUE(run.WaitFor([&] { return run.Lines().size() >= 2; })) << run.Show();
    a->SendMessage(InSumm{50, Date{1, 12, 2026}, Time{9, 30, 0}, 1, 26, 3});
    ASSERT_TRUE(run.WaitFor([&] { return run.Lines().size() >= 3; })) << run.Show();
    EXPECT_EQ(run.Interrupt(), 0) << run.Show();
    const QStringList lines = run.Lines();
    ASSERT_EQ(lines.size(), 3) << run.Show();
    const QString stamp = QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ");
    const QString expected[] = {
        a->SlavePath() + QStringLiteral(" Подтверждение: сумма 123.45, чек закрыт да"),
        b->SlavePath() + QStringLiteral(" Оплата чека: вид оплаты 2, операция 0, вид 0, сумма 1000.00, оператор 3, документ 23"),
        a->SlavePath() + QStringLiteral(" Внесение денег: сумма 0.50, дата 01.12.2026, время 09:30:00, оператор 1, документ 26, внесение № 3"),
    };
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(QRegularExpression(stamp + QRegularExpression::escape(expected[i]) + QLatin1Char('$')).match(lines[i]).hasMatch())
            << lines[i].toStdString();

    TEventsRun lost({"-p", a->SlavePath()});
    ASSERT_TRUE(lost.WaitListening(1)) << lost.Show();
    ASSERT_TRUE(a->HangUp());
    EXPECT_EQ(lost.Finish(), 4) << lost.Show();
    EXPECT_TRUE(lost.err.contains(QStringLiteral("Связь с ККМ потеряна"))) << lost.Show();
}

// "-w -" on a terminal asks for the password and does not show it as it is
// typed; the terminal's echo is on again afterwards.
TEST_F(CliTest, PasswordFromATerminalIsNotShown)
{
    auto reg = StartRegister(1001);
    const QString goods = Path(QStringLiteral("goods.csv"));
    ASSERT_TRUE(WriteFile(goods, CanonicalGoods()));
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const QString terminal = QString::fromLocal8Bit(::ptsname(master));
    termios before{};
    ASSERT_TRUE(PortSettings(terminal, before));
    ASSERT_TRUE(before.c_lflag & ECHO);

    QProcess process;
    process.setStandardInputFile(terminal);
    process.start(QStringLiteral(KKM_CLI_PATH), {"goods", "write", "-p", reg->SlavePath(), "-u", "1", "-w", "-",
                                                 "--dry-run", goods, "--timeout", kTimeOut});
    ASSERT_TRUE(process.waitForStarted(30000));
    QString err;
    QDeadlineTimer deadline(std::chrono::seconds(60));
    while (!err.contains(QStringLiteral("Пароль: ")) && !deadline.hasExpired() && process.state() == QProcess::Running) {
        process.waitForReadyRead(50);
        err += QString::fromUtf8(process.readAllStandardError());
    }
    ASSERT_TRUE(err.contains(QStringLiteral("Пароль: "))) << err.toStdString();
    ASSERT_EQ(::write(master, "1\n", 2), 2);
    ASSERT_TRUE(process.waitForFinished(120000));
    err += QString::fromUtf8(process.readAllStandardError());
    EXPECT_EQ(process.exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(Has(Codes(*reg), 30)) << "not authorised";

    // What the terminal showed of the typing: nothing of it.
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    char shown[64];
    const ssize_t n = ::read(master, shown, sizeof shown);
    EXPECT_LE(n, 0) << std::string(shown, n > 0 ? static_cast<std::size_t>(n) : 0);
    termios after{};
    ASSERT_TRUE(PortSettings(terminal, after));
    EXPECT_TRUE(SameSettings(before, after));
    ::close(master);
}

// The status comes from the result the write got, whatever words the
// journal puts before it: a refusal is 3, no answer 4.
TEST_F(CliTest, WriteStatusFollowsTheResult)
{
    auto reg = StartRegister(1001);
    const QString p = reg->SlavePath();
    const QString profile = Path(QStringLiteral("profile.json"));
    ASSERT_EQ(Cli({"settings", "read", "-p", p, "-o", profile}).Exit, 0);
    const struct {
        const char* faults[2];
        int exit;
        const char* says;
    } cases[] = {
        {{"refuse 4 code=14", "refuse 4 code=15"}, 3, ""},
        {{"silent code=14", "silent code=15"}, 4, "Истёк тайм-аут ожидания ответа."},
    };
    for (const auto& c : cases) {
        reg->ClearFaults();
        for (const char* fault : c.faults)
            AddFault(*reg, fault);
        // A short wait for the silent register's answer: the answers that
        // come are instant.
        const TRun r = RunCli({"settings", "write", "-p", p, "-u", "1", "-w", "1", profile, "--timeout", "3000"});
        EXPECT_EQ(r.Exit, c.exit) << Show(r);
        EXPECT_TRUE(r.Err.contains(QString::fromUtf8(c.says))) << Show(r);
    }
}
