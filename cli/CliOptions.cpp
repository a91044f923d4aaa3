#include "CliOptions.h"

#include "SessionJobs.h"
#include "SettingsMap.h"
#include "TextRules.h"

#include <QCommandLineParser>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

namespace kkm::cli {

namespace {

enum TOption {
    optPort,
    optBaud,
    optTimeOut,
    optUser,
    optPassword,
    optRange,
    optOutput,
    optTable,
    optJson,
    optDryRun,
    optZeroSales,
    optVerbose,
    optContrast,
    optScaleH,
    optScaleV,
    optInvert,
    optHalftone,
    optFoot,
    optFrame,
    optHelp,
    optVersion,
};

struct TOptionDef {
    TOption Id;
    const char* Short;     // without "-", or nullptr
    const char* Long;      // without "--"
    const char* ValueName; // nullptr: a flag
};

const TOptionDef OptionTable[] = {
    {optPort, "p", "port", "ПОРТ"},
    {optBaud, "b", "baud", "СКОРОСТЬ"},
    {optTimeOut, nullptr, "timeout", "МС"},
    {optUser, "u", "user", "ПОЛЬЗОВАТЕЛЬ"},
    {optPassword, "w", "password", "ПАРОЛЬ"},
    {optRange, "r", "range", "ПЕРВЫЙ..ПОСЛЕДНИЙ"},
    {optOutput, "o", "output", "ФАЙЛ"},
    {optTable, "t", "table", "ТАБЛИЦА"},
    {optJson, nullptr, "json", nullptr},
    {optDryRun, nullptr, "dry-run", nullptr},
    {optZeroSales, nullptr, "zero-sales", nullptr},
    {optVerbose, "v", "verbose", nullptr},
    {optContrast, nullptr, "contrast", "N"},
    {optScaleH, nullptr, "scale-h", "P"},
    {optScaleV, nullptr, "scale-v", "P"},
    {optInvert, nullptr, "invert", nullptr},
    {optHalftone, nullptr, "halftone", nullptr},
    {optFoot, nullptr, "foot", nullptr},
    {optFrame, nullptr, "frame", "Л,В,Ш,В"},
    {optHelp, "h", "help", nullptr},
    {optVersion, nullptr, "version", nullptr},
};

QStringList OptionNames(const TOptionDef& option)
{
    QStringList names;
    if (option.Short)
        names << QLatin1String(option.Short);
    names << QLatin1String(option.Long);
    return names;
}

// The option a name the parser found stands for (short or long).
const TOptionDef* FindOption(const QString& name)
{
    for (const TOptionDef& option : OptionTable)
        if (OptionNames(option).contains(name))
            return &option;
    return nullptr;
}

// A name as it was typed: one letter after "-", a word after "--".
QString Dashed(const QString& name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

QString OptionName(const TOptionDef& option)
{
    return option.Short ? QStringLiteral("-") + QLatin1String(option.Short)
                      : QStringLiteral("--") + QLatin1String(option.Long);
}

// What each command takes besides -v, -h and --timeout.
std::set<TOption> Allowed(TCommand c)
{
    switch (c) {
    case TCommand::Help:
    case TCommand::Version:
        return {};
    case TCommand::Ports:
        return {optJson};
    case TCommand::Info:
    case TCommand::Events:
        return {optPort, optBaud, optJson};
    case TCommand::SettingsRead:
        return {optPort, optBaud, optTable, optOutput};
    case TCommand::SettingsDiff:
        return {optPort, optBaud, optTable, optJson};
    case TCommand::SettingsWrite:
        return {optPort, optBaud, optUser, optPassword, optDryRun};
    case TCommand::GoodsRead:
        return {optPort, optBaud, optRange, optOutput};
    case TCommand::GoodsWrite:
        return {optPort, optBaud, optUser, optPassword, optRange, optZeroSales, optDryRun};
    case TCommand::LogoUpload:
        return {optPort, optBaud, optUser, optPassword, optDryRun, optContrast, optScaleH, optScaleV,
                optInvert, optHalftone, optFoot, optFrame};
    }
    return {};
}

bool ToInt(const QString& text, int& value)
{
    std::int64_t v = 0;
    if (!TryStrToInt64(TrimText(text), v) || v < -1000000 || v > 1000000)
        return false;
    value = static_cast<int>(v);
    return true;
}

// "FIRST..LAST" or a single item.
bool ParseRange(const QString& text, int& first, int& last, QString& error)
{
    const QStringList parts = text.split(QStringLiteral(".."));
    error = QStringLiteral("интервал товаров \"%1\": нужно ПЕРВЫЙ..ПОСЛЕДНИЙ, от 1 до %2").arg(text).arg(GoodsItemCount);
    if (parts.size() > 2 || !ToInt(parts.front(), first) || !ToInt(parts.back(), last))
        return false;
    if (first < 1 || last > GoodsItemCount || first > last)
        return false;
    error.clear();
    return true;
}

bool ParseFrame(const QString& text, std::array<int, 4>& frame)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return false;
    for (int i = 0; i < 4; ++i)
        if (!ToInt(parts[i], frame[static_cast<std::size_t>(i)]))
            return false;
    return true;
}

bool ParseScale(const QString& text, int& percent)
{
    QString t = TrimText(text);
    if (t.endsWith(QLatin1Char('%')))
        t.chop(1);
    return ToInt(t, percent) && percent >= 10 && percent <= 500 && percent % 10 == 0;
}

bool ParseCommand(QStringList& words, TCommand& command, QString& error)
{
    if (words.isEmpty()) {
        error = QStringLiteral("не указана команда");
        return false;
    }
    const QString first = words.takeFirst();
    struct TWords {
        const char* Group;
        const char* Action; // nullptr: a command of one word
        TCommand Command;
    };
    static const TWords table[] = {
        {"ports", nullptr, TCommand::Ports},
        {"info", nullptr, TCommand::Info},
        {"events", nullptr, TCommand::Events},
        {"help", nullptr, TCommand::Help},
        {"settings", "read", TCommand::SettingsRead},
        {"settings", "diff", TCommand::SettingsDiff},
        {"settings", "write", TCommand::SettingsWrite},
        {"goods", "read", TCommand::GoodsRead},
        {"goods", "write", TCommand::GoodsWrite},
        {"logo", "upload", TCommand::LogoUpload},
    };
    bool group = false;
    for (const TWords& w : table) {
        if (first != QLatin1String(w.Group))
            continue;
        group = true;
        if (!w.Action) {
            command = w.Command;
            return true;
        }
        if (!words.isEmpty() && words.front() == QLatin1String(w.Action)) {
            words.takeFirst();
            command = w.Command;
            return true;
        }
    }
    if (group) {
        QStringList actions;
        for (const TWords& w : table)
            if (first == QLatin1String(w.Group))
                actions << QLatin1String(w.Action);
        error = QStringLiteral("после \"%1\" нужно одно из: %2").arg(first, actions.join(QStringLiteral(", ")));
    } else {
        error = QStringLiteral("неизвестная команда \"%1\"").arg(first);
    }
    return false;
}

} // namespace

QString CommandName(TCommand c)
{
    switch (c) {
    case TCommand::Help: return QStringLiteral("help");
    case TCommand::Version: return QStringLiteral("--version");
    case TCommand::Ports: return QStringLiteral("ports");
    case TCommand::Info: return QStringLiteral("info");
    case TCommand::Events: return QStringLiteral("events");
    case TCommand::SettingsRead: return QStringLiteral("settings read");
    case TCommand::SettingsDiff: return QStringLiteral("settings diff");
    case TCommand::SettingsWrite: return QStringLiteral("settings write");
    case TCommand::GoodsRead: return QStringLiteral("goods read");
    case TCommand::GoodsWrite: return QStringLiteral("goods write");
    case TCommand::LogoUpload: return QStringLiteral("logo upload");
    }
    return QString();
}

bool Writes(TCommand c)
{
    return c == TCommand::SettingsWrite || c == TCommand::GoodsWrite || c == TCommand::LogoUpload;
}

bool ParseArguments(const QStringList& args, TOptions& o, QString& error)
{
    o = TOptions();
    QCommandLineParser parser;
    // -p/dev/ttyUSB0 and -vp PORT as other tools take them.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    for (const TOptionDef& option : OptionTable) {
        QCommandLineOption qoption(OptionNames(option));
        if (option.ValueName)
            qoption.setValueName(QString::fromUtf8(option.ValueName));
        parser.addOption(qoption);
    }
    if (!parser.parse(QStringList{QStringLiteral("kkm-cli")} + args)) {
        if (!parser.unknownOptionNames().isEmpty()) {
            error = QStringLiteral("неизвестный параметр \"%1\"").arg(Dashed(parser.unknownOptionNames().front()));
            return false;
        }
        // The parser's own text names the option in quotes.
        const QString text = parser.errorText();
        const qsizetype open = text.indexOf(QLatin1Char('\''));
        const qsizetype close = text.lastIndexOf(QLatin1Char('\''));
        const QString name = open >= 0 && close > open ? text.mid(open + 1, close - open - 1) : text;
        if (text.startsWith(QLatin1String("Missing value")))
            error = QStringLiteral("после %1 нужно значение").arg(name);
        else if (text.startsWith(QLatin1String("Unexpected value")))
            error = QStringLiteral("%1 не принимает значения").arg(name);
        else
            error = text;
        return false;
    }

    // Every option in the order given, once per time it was given; the
    // values of each option in their order.
    std::vector<std::pair<const TOptionDef*, QString>> given;
    std::map<TOption, qsizetype> taken;
    for (const QString& name : parser.optionNames()) {
        const TOptionDef* option = FindOption(name);
        if (!option)
            continue;
        QString value;
        if (option->ValueName) {
            const QStringList values = parser.values(QLatin1String(option->Long));
            value = values.value(taken[option->Id]++);
        }
        given.emplace_back(option, value);
    }
    QStringList words = parser.positionalArguments();

    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version"))) {
        o.Command = parser.isSet(QStringLiteral("help")) ? TCommand::Help : TCommand::Version;
        return true;
    }
    if (!ParseCommand(words, o.Command, error))
        return false;
    if (o.Command == TCommand::Help)
        return true;

    const std::set<TOption> allowed = Allowed(o.Command);
    std::set<TOption> seen;
    for (const auto& [option, value] : given) {
        const QString name = OptionName(*option);
        if (option->Id != optTimeOut && option->Id != optVerbose && !allowed.count(option->Id)) {
            error = QStringLiteral("%1 не используется с командой %2").arg(name, CommandName(o.Command));
            return false;
        }
        if (option->Id != optPort && option->Id != optTable && !seen.insert(option->Id).second) {
            error = QStringLiteral("%1 указан дважды").arg(name);
            return false;
        }
        int number = 0;
        switch (option->Id) {
        case optPort:
            if (TrimText(value).isEmpty()) {
                error = QStringLiteral("пустое имя порта");
                return false;
            }
            if (o.Ports.contains(value)) {
                error = QStringLiteral("порт %1 указан дважды").arg(value);
                return false;
            }
            o.Ports << value;
            break;
        case optBaud:
            if (!ToInt(value, number) ||
                std::find(Bauds.begin(), Bauds.end(), static_cast<std::uint32_t>(number)) == Bauds.end()) {
                error = QStringLiteral("скорость \"%1\": возможны 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200")
                            .arg(value);
                return false;
            }
            o.Baud = static_cast<std::uint32_t>(number);
            break;
        case optTimeOut:
            if (!ToInt(value, number) || number < 1 || number > 600000) {
                error = QStringLiteral("тайм-аут \"%1\": нужно число миллисекунд от 1 до 600000").arg(value);
                return false;
            }
            o.TimeOutMs = number;
            break;
        case optUser:
            if (TrimText(value).isEmpty()) {
                error = QStringLiteral("пустое имя пользователя");
                return false;
            }
            o.User = TrimText(value);
            if (std::int64_t n = 0; TryStrToInt64(o.User, n) && (n < 1 || n > UserCount)) {
                error = QStringLiteral("пользователь %1: номер от 1 до %2 или имя").arg(o.User).arg(UserCount);
                return false;
            }
            break;
        case optPassword:
            o.Password = value;
            break;
        case optRange:
            if (!ParseRange(value, o.First, o.Last, error))
                return false;
            o.RangeGiven = true;
            break;
        case optOutput:
            if (value.isEmpty()) {
                error = QStringLiteral("пустое имя файла после -o");
                return false;
            }
            o.Output = value;
            break;
        case optTable:
            if (o.Tables.contains(value)) {
                error = QStringLiteral("-t %1: таблица указана дважды").arg(value);
                return false;
            }
            o.Tables << value;
            break;
        case optJson: o.Json = true; break;
        case optDryRun: o.DryRun = true; break;
        case optZeroSales: o.ZeroSales = true; break;
        case optVerbose: o.Verbose = true; break;
        case optInvert: o.Invert = true; break;
        case optHalftone: o.Halftone = true; break;
        case optFoot: o.Foot = true; break;
        case optContrast:
            if (!ToInt(value, number) || number < 0 || number > 100) {
                error = QStringLiteral("контраст \"%1\": нужно число от 0 до 100").arg(value);
                return false;
            }
            o.Contrast = number;
            break;
        case optScaleH:
        case optScaleV:
            if (!ParseScale(value, number)) {
                error = QStringLiteral("%1 \"%2\": нужно от 10 до 500 процентов с шагом 10").arg(name, value);
                return false;
            }
            (option->Id == optScaleH ? o.ScaleH : o.ScaleV) = number;
            break;
        case optFrame: {
            std::array<int, 4> frame{};
            if (!ParseFrame(value, frame)) {
                error = QStringLiteral("--frame \"%1\": нужно ЛЕВО,ВЕРХ,ШИРИНА,ВЫСОТА").arg(value);
                return false;
            }
            o.Frame = frame;
            break;
        }
        case optHelp:
        case optVersion:
            break;
        }
    }

    // The file, for the commands that take one.
    const bool takesFile = o.Command == TCommand::SettingsDiff || o.Command == TCommand::SettingsWrite ||
                           o.Command == TCommand::GoodsWrite || o.Command == TCommand::LogoUpload;
    if (takesFile) {
        if (words.isEmpty()) {
            error = o.Command == TCommand::LogoUpload ? QStringLiteral("не указан файл изображения")
                                                      : QStringLiteral("не указан файл");
            return false;
        }
        o.File = words.takeFirst();
    }
    if (!words.isEmpty()) {
        error = QStringLiteral("лишний аргумент \"%1\"").arg(words.front());
        return false;
    }

    if (o.Command != TCommand::Ports && o.Ports.isEmpty()) {
        error = QStringLiteral("не указан порт (-p ПОРТ)");
        return false;
    }
    if (o.Command == TCommand::GoodsRead || o.Command == TCommand::SettingsRead) {
        // One register's file may go to standard output; a fleet's are
        // several and need a folder.
        if (o.Ports.size() > 1 && o.Output.isEmpty()) {
            error = QStringLiteral("не указана папка для файлов (-o ПАПКА)");
            return false;
        }
        if (o.Ports.size() > 1 && o.Output == QLatin1String("-")) {
            error = QStringLiteral("-o -: в стандартный вывод можно читать только одну ККМ");
            return false;
        }
        if (o.Output.isEmpty())
            o.Output = QStringLiteral("-");
    }
    if (o.File == QLatin1String("-") && o.Password && *o.Password == QLatin1String("-")) {
        error = QStringLiteral("стандартный ввод не может дать и файл, и пароль (-w -)");
        return false;
    }
    if (o.Command == TCommand::LogoUpload && o.File == QLatin1String("-")) {
        error = QStringLiteral("изображение нужно файлом, не из стандартного ввода");
        return false;
    }
    if (Writes(o.Command) && o.User.isEmpty()) {
        error = QStringLiteral("не указан пользователь (-u ПОЛЬЗОВАТЕЛЬ)");
        return false;
    }
    return true;
}

QString HelpText()
{
    return QStringLiteral(
        "kkm-cli: настройка ККМ из командной строки, одной или сразу нескольких.\n"
        "\n"
        "Использование:\n"
        "  kkm-cli ports [--json]\n"
        "  kkm-cli info           -p ПОРТ [-b СКОРОСТЬ] [--json]\n"
        "  kkm-cli events         -p ПОРТ [-p ПОРТ]... [-b СКОРОСТЬ] [--json]\n"
        "  kkm-cli settings read  -p ПОРТ [-b СКОРОСТЬ] [-t ТАБЛИЦА]... [-o ФАЙЛ.json]\n"
        "  kkm-cli settings diff  -p ПОРТ [-b СКОРОСТЬ] [-t ТАБЛИЦА]... [--json] ФАЙЛ.json\n"
        "  kkm-cli settings write -p ПОРТ [-b СКОРОСТЬ] -u ПОЛЬЗОВАТЕЛЬ [-w ПАРОЛЬ] [--dry-run] ФАЙЛ.json\n"
        "  kkm-cli goods read     -p ПОРТ [-b СКОРОСТЬ] [-r ПЕРВЫЙ..ПОСЛЕДНИЙ] [-o ФАЙЛ.csv]\n"
        "  kkm-cli goods write    -p ПОРТ [-b СКОРОСТЬ] -u ПОЛЬЗОВАТЕЛЬ [-w ПАРОЛЬ] [-r ПЕРВЫЙ..ПОСЛЕДНИЙ]\n"
        "                         [--zero-sales] [--dry-run] ФАЙЛ.csv\n"
        "  kkm-cli logo upload    -p ПОРТ [-b СКОРОСТЬ] -u ПОЛЬЗОВАТЕЛЬ [-w ПАРОЛЬ] [--contrast N]\n"
        "                         [--scale-h P] [--scale-v P] [--invert] [--halftone]\n"
        "                         [--frame ЛЕВО,ВЕРХ,ШИРИНА,ВЫСОТА] [--foot] [--dry-run] ИЗОБРАЖЕНИЕ\n"
        "\n"
        "Команды:\n"
        "  ports           порты, которые предлагает окно подключения (и порты эмуляторов)\n"
        "  info            модель, заводской номер, версия, дата и время, состояние смены\n"
        "  events          сообщения ККМ (продажи, скидки, оплаты, закрытие чека и смены,\n"
        "                  внесения и выплаты) по строке на сообщение, пока не нажат Ctrl-C\n"
        "  settings read   таблицы настроек ККМ в файл профиля (все или названные -t)\n"
        "  settings diff   сравнить настройки ККМ с профилем; различия по одному в строке:\n"
        "                  таблица, поле: в ККМ → в файле\n"
        "  settings write  записать профиль в ККМ (файл проверяется целиком до записи)\n"
        "  goods read      товары интервала в файл CSV, как \"Экспорт\" на странице товаров\n"
        "  goods write     товары из файла CSV в ККМ; интервал по умолчанию: от первого\n"
        "                  до последнего товара файла; товары интервала, которых нет в\n"
        "                  файле, записываются пустыми, как из пустой таблицы окна\n"
        "  logo upload     изображение BMP или JPEG в ККМ, как на странице \"Изображение\"\n"
        "\n"
        "Параметры (значение можно писать слитно, -p/dev/ttyUSB0, или через =,\n"
        "--port=/dev/ttyUSB0; флаги можно объединять: -vp ПОРТ):\n"
        "  -p, --port ПОРТ       порт ККМ: /dev/ttyUSB0, ttyUSB0, порт эмулятора; можно указать\n"
        "                        несколько раз: команда выполняется со всеми ККМ сразу, каждая\n"
        "                        независимо от других, и в конце по строке итога на порт\n"
        "  -b, --baud СКОРОСТЬ   1200 ... 115200, по умолчанию 115200\n"
        "  -u, --user ПОЛЬЗ.     номер пользователя ККМ (1..7) или его имя из списка\n"
        "                        пользователей (\"Администратор\")\n"
        "  -w, --password ПАРОЛЬ пароль пользователя (цифры); \"-w -\" читает его из\n"
        "                        стандартного ввода; без -w берётся переменная окружения\n"
        "                        KKM_PASSWORD. Пароль в командной строке виден другим\n"
        "                        пользователям в списке процессов: лучше -w - или KKM_PASSWORD\n"
        "  -r, --range A..B      интервал товаров, 1..9999 (чтение по умолчанию: 1..9999)\n"
        "  -o, --output ФАЙЛ     файл результата; с несколькими портами: папка, файлы в ней\n"
        "                        называются по заводскому номеру ККМ; с одним портом без -o\n"
        "                        или с \"-o -\": стандартный вывод\n"
        "  -t, --table ТАБЛИЦА   таблица профиля (можно несколько раз)\n"        "  ФАЙЛ \"-\"              goods write, settings diff и settings write читают файл\n"
        "                        из стандартного ввода\n"
        "  --zero-sales          обнулить количество продаж записанных товаров\n"
        "  --dry-run             проверить всё и подключиться, но ничего не записывать\n"
        "  --json                вывод для программ (JSON)\n"
        "  --contrast N          контраст 0..100, по умолчанию 50\n"
        "  --scale-h P, --scale-v P  масштаб 10..500 %, шаг 10; одно значение задаёт оба\n"
        "                        (\"Сохранять пропорции\")\n"
        "  --invert, --halftone  инвертировать изображение, полутона\n"
        "  --frame Л,В,Ш,В       копируемая область: отступ слева, сверху, ширина (кратна 8),\n"
        "                        высота; по умолчанию размер изображения от левого верхнего угла\n"
        "  --foot                изображение в окончании чека (по умолчанию в заголовке)\n"
        "  --timeout МС          ожидание ответа ККМ, по умолчанию 200 мс\n"
        "  -v, --verbose         строки журнала (ход работы) в stderr\n"
        "  -h, --help            эта справка\n"
        "\n"
        "Ход длинных передач показывается строкой в stderr, если это терминал.\n"
        "Ctrl-C прерывает передачу: порты закрываются с прежними настройками, файл\n"
        "результата не создаётся, в stderr пишется, где передача остановлена; второй\n"
        "Ctrl-C завершает программу сразу. events завершается по Ctrl-C с кодом 0.\n"
        "\n"
        "Код завершения (с несколькими портами: худший):\n"
        "  0  успешно\n"
        "  1  settings diff: есть различия\n"
        "  2  неверный вызов или негодные входные данные (ничего не записано)\n"
        "  3  ККМ отказала в выполнении команды (текст ошибки в stderr)\n"
        "  4  ошибка порта или линии (не открывается, нет прав, линия потеряна, нет ответа)\n"
        "  130  прервано Ctrl-C (SIGINT), 143  прервано SIGTERM\n");
}

} // namespace kkm::cli
