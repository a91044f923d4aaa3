// The state a fresh emulator starts from: a register in a small shop.
#include "Cp1251.h"
#include "RegisterModel.h"

namespace kkm::emu {

namespace {

void Text(TArrayOfByte& rec, std::size_t offset, std::size_t width, std::string_view utf8)
{
    PutText(rec, offset, width, Utf8ToCp1251(utf8));
}

struct Goods {
    const char* name;
    std::uint64_t barcode;
    std::uint8_t section;
    std::uint64_t price; // hundredths
    std::uint8_t fractional;
    std::int64_t sold; // thousandths
};

const Goods kGoods[] = {
    {"Хлеб ржаной", 4601234567893ULL, 1, 3500, 0, 12000},
    {"Молоко 3,2% 1 л", 4607025390015ULL, 1, 8990, 0, 7000},
    {"Сахар-песок", 4600702000014ULL, 2, 7450, 1, 15250},
    {"Яблоки Гренни Смит", 2000000000039ULL, 2, 12990, 1, 8125},
    {"Пакет-майка", 4600000000055ULL, 3, 500, 0, 40000},
    {"Кофе в зёрнах 250 г", 4607001770112ULL, 3, 45900, 0, 3000},
};

struct User {
    const char* name;
    const char* post;
    std::uint8_t rights; // bit 0 sale ... bit 6 programming
};

const User kUsers[UserCount] = {
    {"Иванов Иван Иванович", "Администратор", 0x7F},
    {"Петрова Анна Сергеевна", "Старший кассир", 0x3F},
    {"Сидорова Ольга Петровна", "Кассир", 0x1D},
    {"Кузнецов Алексей Игоревич", "Кассир", 0x1D},
    {"Смирнова Мария Викторовна", "Кассир", 0x01},
    {"Волкова Елена Андреевна", "Кассир", 0x01},
    {"Орлов Дмитрий Николаевич", "Техник ЦТО", 0x40},
};

} // namespace

RegisterState DefaultState()
{
    RegisterState s;
    s.identity.SerialNumber = 110000123456;
    s.identity.InfoWord = 0x0102;
    s.identity.InfoByte = 1;
    s.identity.SoftVersion = 21;
    s.identity.SoftDate = {15, 5, 2009};
    s.identity.ModelName = Utf8ToCp1251("ОМВЕК-100Ф");

    s.device.ErrorCode = 0;
    s.device.ModeCode = 1;
    s.device.OperatorNo = 1;
    s.device.SessionOpen = 1;
    s.device.SessionTotal = 1234567;
    s.device.CashInDrawer = 563050;

    for (int t = 1; t <= TableCount; ++t) {
        auto& records = s.Tables[static_cast<std::size_t>(t - 1)];
        for (std::size_t size : RecordSizes(t))
            records.emplace_back(size, 0);
    }
    auto rec = [&s](int t, int r) -> TArrayOfByte& {
        return s.Tables[static_cast<std::size_t>(t - 1)][static_cast<std::size_t>(r - 1)];
    };

    // Goods: blank names are spaces, as the register pads its texts.
    for (auto& r : s.Tables[0])
        Text(r, 0, 32, "");
    for (std::size_t i = 0; i < std::size(kGoods); ++i) {
        const Goods& g = kGoods[i];
        TArrayOfByte& r = rec(1, static_cast<int>(i + 1));
        Text(r, 0, 32, g.name);
        PutBcd(r, 32, 7, g.barcode);
        r[39] = g.section;
        PutBcd(r, 40, 5, g.price);
        r[45] = g.fractional;
        s.Sales[i] = g.sold;
    }

    // Options: sale by code and free price, 12 V drawer, Z report by
    // sections, cashier 1, backlight 30 s, no auto-lock, journal on, INN.
    rec(2, 1) = {0x03, 0x00, 0x02, 0x01, 0x00, 0x01, 0x00, 0x30, 0x00, 0x01};
    rec(2, 1).resize(16);
    PutBcd(rec(2, 1), 10, 6, 770112345678ULL);
    // Print options: contrast 2, spacing 2, document separators, frame and
    // receipt settings.
    rec(3, 1) = {2, 2, 0, 1, 0x3F, 0x00, 0x45, 0x00};

    const std::pair<const char*, std::uint8_t> lines[9] = {
        {"     ООО \"РОМАШКА\"", 0x04},
        {"г. Москва, ул. Ленина, д. 1", 0},
        {"   ИНН 770112345678", 0},
        {"        КАССОВЫЙ ЧЕК", 0x03},
        {"   СПАСИБО ЗА ПОКУПКУ!", 0x04},
        {"     ЖДЁМ ВАС СНОВА", 0},
        {"", 0},
        {"ДОБРО ПОЖАЛОВАТЬ!", 0},
        {"  РОМАШКА", 0},
    };
    for (int i = 0; i < 9; ++i) {
        Text(rec(4, i + 1), 0, 32, lines[i].first);
        rec(4, i + 1)[32] = lines[i].second;
    }

    // Discounts: value digits one per byte (005.00 %), name, kind, sum kind,
    // authorisation.
    for (int r = 1; r <= 8; ++r)
        Text(rec(5, r), 5, 16, "");
    rec(5, 1)[2] = 5;
    Text(rec(5, 1), 5, 16, "Скидка 5%");
    rec(5, 2)[1] = 1;
    Text(rec(5, 2), 5, 16, "Наценка 10%");
    rec(5, 2)[21] = 1;
    rec(5, 2)[23] = 1;

    const std::pair<const char*, std::uint16_t> taxes[4] = {
        {"НДС18", 0x1800}, {"НДС10", 0x1000}, {"НСП", 0x0500}, {"БЕЗ", 0x0000}};
    for (int i = 0; i < 4; ++i) {
        Text(rec(6, i + 1), 0, 5, taxes[i].first);
        rec(6, i + 1)[5] = static_cast<std::uint8_t>(taxes[i].second >> 8);
        rec(6, i + 1)[6] = static_cast<std::uint8_t>(taxes[i].second & 0xFF);
    }

    for (int i = 1; i <= 16; ++i) {
        TArrayOfByte& r = rec(7, i);
        Text(r, 0, 11, "Отдел " + std::to_string(i));
        r[11] = i <= 2 ? 1 : 0;
        r[12] = 2;
        r[13] = i == 3 ? 1 : 0;
    }
    Text(rec(7, 3), 0, 11, "Услуги");

    // Scanner at 9600, no scales, PC at 9600.
    rec(8, 1) = {4};
    rec(8, 3) = {4};

    for (int u = 1; u <= UserCount; ++u) {
        TArrayOfByte& r = rec(9, u);
        Text(r, 0, 32, kUsers[u - 1].name);
        Text(r, 32, 32, kUsers[u - 1].post);
        r[67] = kUsers[u - 1].rights;
        s.Passwords[static_cast<std::size_t>(u - 1)] = static_cast<std::uint32_t>(u);
    }

    const std::pair<const char*, std::uint8_t> pays[3] = {
        {"НАЛИЧНЫЕ", 1}, {"БЕЗНАЛИЧНЫЕ", 1}, {"ТАРА", 0}};
    for (int i = 0; i < 3; ++i) {
        Text(rec(10, i + 1), 0, 12, pays[i].first);
        rec(10, i + 1)[12] = pays[i].second;
    }
    return s;
}

} // namespace kkm::emu
