#include "StateFile.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

using namespace kkm;
using namespace kkm::emu;

namespace {

RegisterState FromText(const char* json, bool* ok = nullptr, QString* error = nullptr)
{
    RegisterState s = DefaultState();
    const bool loaded = StateFromJson(QJsonDocument::fromJson(json).object(), s, error);
    if (ok)
        *ok = loaded;
    return s;
}

TEST(StateFileTest, SavedStateLoadsBackTheSame)
{
    RegisterState s = DefaultState();
    // Bytes that have no character as a model name, and a zero inside.
    s.identity = {999999999999, 0xFFFF, 99, 7, {29, 2, 2008}, std::string("\x98\xC0\x00Z", 4)};
    s.device = {5, ClockValue{{31, 12, 2009}, {24, 0, 0}}, 9, 99, 0, 1, 999999999999};
    s.Tables[0][9998] = TArrayOfByte(46, 0xFF); // the last goods item
    s.Tables[7][1] = {1, 2, 3};                  // the 3-byte devices record
    s.Tables[8][0][63] = 0x00;                   // a zero inside a user's post
    s.Tables[1][0] = TArrayOfByte(16, 0x5A);
    s.Sales[0] = 0;
    s.Sales[9998] = MaxSales;
    s.Passwords = {0, 12345678, 3, 4, 5, 6, 99999999};
    s.LastLogo = Logo{1, 48, 2, TArrayOfByte(96, 0xA5)};

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    QString error;
    ASSERT_TRUE(SaveStateFile(s, path, &error)) << error.toStdString();
    RegisterState loaded = DefaultState();
    ASSERT_TRUE(LoadStateFile(path, loaded, &error)) << error.toStdString();
    EXPECT_TRUE(loaded == s);

    // The local clock and a state without a logo come back too.
    s.device.FixedClock.reset();
    s.LastLogo.reset();
    ASSERT_TRUE(SaveStateFile(s, path, &error));
    loaded = DefaultState();
    loaded.LastLogo = Logo{0, 1, 1, {0}};
    loaded.device.FixedClock = ClockValue{};
    ASSERT_TRUE(LoadStateFile(path, loaded, &error));
    EXPECT_FALSE(loaded.device.FixedClock.has_value());
    EXPECT_TRUE(loaded == s);
}

TEST(StateFileTest, KeysLeftOutKeepTheDefaults)
{
    bool ok = false;
    const RegisterState s = FromText(R"({"identity": {"softVersion": 22, "modelName": "ККМ-Ф"},
                                         "sales": {"2": 5},
                                         "tables": {"4": {"9": "41414141414141414141414141414141 41414141414141414141414141414141 03"}},
                                         "passwords": {"7": 777}})",
                                     &ok);
    ASSERT_TRUE(ok);
    RegisterState expected = DefaultState();
    expected.identity.SoftVersion = 22;
    expected.identity.ModelName = "\xCA\xCA\xCC-\xD4";
    expected.Sales[1] = 5;
    expected.Tables[3][8] = TArrayOfByte(32, 0x41);
    expected.Tables[3][8].push_back(0x03);
    expected.Passwords[6] = 777;
    EXPECT_TRUE(s == expected);
}

struct BadFile {
    const char* json;
    const char* mentions;
};

class BadStateFileTest : public ::testing::TestWithParam<BadFile> {};

TEST_P(BadStateFileTest, IsRefusedAndChangesNothing)
{
    bool ok = true;
    QString error;
    const RegisterState s = FromText(GetParam().json, &ok, &error);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(error.contains(QString::fromUtf8(GetParam().mentions))) << error.toStdString();
    EXPECT_TRUE(s == DefaultState());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadStateFileTest,
    ::testing::Values(BadFile{R"({"sales": {"1": 5}, "tables": {"2": {"1": "00"}}})", "table 2 record 1"},
                      BadFile{R"({"tables": {"11": {"1": "00"}}})", "tables"},
                      BadFile{R"({"tables": {"8": {"4": "00"}}})", "table 8 record 4"},
                      BadFile{R"({"tables": {"3": {"1": "00 11 22 33 44 55 66 7"}}})", "odd"},
                      BadFile{R"({"tables": {"3": {"1": "zz112233445566ff"}}})", "hex"},
                      BadFile{R"({"sales": {"1": 100000000}})", "sales 1"},
                      BadFile{R"({"sales": {"0": 1}})", "sales"},
                      BadFile{R"({"passwords": {"1": 1.5}})", "password 1"},
                      BadFile{R"({"state": {"operatorNo": 100}})", "operatorNo"},
                      BadFile{R"({"state": {"clock": "yesterday"}})", "clock"},
                      BadFile{R"({"logo": {"kind": 0, "bytesPerRow": 2, "rows": 2, "dots": "00"}})", "logo"}));

TEST(StateFileTest, ReportsAFileThatIsNotJson)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.json"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("{\"sales\": ");
    f.close();
    RegisterState s = DefaultState();
    QString error;
    EXPECT_FALSE(LoadStateFile(path, s, &error));
    EXPECT_TRUE(error.startsWith(path));
    EXPECT_FALSE(LoadStateFile(dir.filePath(QStringLiteral("missing.json")), s, &error));
    EXPECT_TRUE(s == DefaultState());
}

} // namespace
