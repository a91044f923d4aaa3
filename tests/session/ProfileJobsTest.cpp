// Profiles against two emulated registers whose settings differ: a profile
// read from one and written to the other reads back the same from it, the
// comparison lists what differs, a dry run sends nothing, a refused table
// stops the write, and a value that cannot be encoded sends nothing at all.
#include "JobRecorder.h"
#include "ProfileJobs.h"
#include "PtyRegister.h"
#include "SessionJobs.h"

#include "Cp1251.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace kkm;
using namespace kkm::emu;

namespace {

constexpr std::uint32_t kGenerousTimeOut = 30000;

void PutText(TArrayOfByte& record, std::size_t offset, std::size_t width, const QString& text)
{
    emu::PutText(record, offset, width, ToCp1251(text).toStdString());
}

// Register B: every table differs from the shipped one, the read-only ones
// included.
void MakeDifferent(RegisterModel& m)
{
    m.State().identity.SerialNumber = 222;
    m.Record(2, 1) = {0x05, 0x00, 0x00, 0x01, 0x00, 0x03, 0x01, 0x20, 0x45, 0x00};
    m.Record(2, 1).resize(16);
    PutBcd(m.Record(2, 1), 10, 6, 42);
    m.Record(3, 1) = {4, 8, 1, 0, 0x21, 0x00, 0x7F, 0x00};
    for (int n = 1; n <= 9; ++n) {
        PutText(m.Record(4, n), 0, 32, QStringLiteral("Другая строка %1").arg(n));
        m.Record(4, n)[32] = static_cast<std::uint8_t>(n % 8);
    }
    for (int n = 1; n <= 7; ++n) {
        PutText(m.Record(9, n), 0, 32, QStringLiteral("Оператор %1").arg(n));
        PutText(m.Record(9, n), 32, 32, QStringLiteral("Должность %1").arg(n));
        m.Record(9, n)[67] = static_cast<std::uint8_t>(n);
    }
    PutText(m.Record(7, 1), 0, 11, QStringLiteral("Бакалея"));
    PutText(m.Record(10, 3), 0, 12, QStringLiteral("КАРТА"));
}

QStringList InputTableKeys()
{
    QStringList keys;
    for (const TRegisterTable& t : SettingsTables())
        if (TakesInput(t))
            keys << t.Key;
    return keys;
}

// The profile's file without the register's identity and time.
QByteArray Settings(TProfile p)
{
    p.Model.clear();
    p.Serial.clear();
    p.Time = QDateTime();
    return ProfileToJson(p);
}

std::array<std::vector<TArrayOfByte>, TableCount> Tables(PtyRegister& reg)
{
    return reg.WithModel([](RegisterModel& m) { return m.State().Tables; });
}

class ProfileJobs : public ::testing::Test {
protected:
    void SetUp() override
    {
        PtyOptions options;
        options.Publish = false;
        options.LogSink = [](const std::string&) {};
        QString error;
        ASSERT_TRUE(regA.Start(options, &error)) << error.toStdString();
        ASSERT_TRUE(regB.Start(options, &error)) << error.toStdString();
        regA.WithModel([](RegisterModel& m) { m.State().identity.SerialNumber = 111; });
        regB.WithModel(MakeDifferent);
        for (TOmvekCP* p : {&protoA, &protoB})
            p->setTimeOut(kGenerousTimeOut);
        ASSERT_TRUE(ConnectJob(jobA, regA.SlavePath(), 115200).Ok());
        ASSERT_TRUE(ConnectJob(jobB, regB.SlavePath(), 115200).Ok());
    }

    TProfile Read(TJobRecorder& job, const QStringList& keys = {})
    {
        TProfile p;
        EXPECT_TRUE(ProfileReadJob(job, keys, p)) << job.Lines.join(u'\n').toStdString();
        return p;
    }

    PtyRegister regA, regB;
    TOmvekCP protoA, protoB;
    TJobRecorder jobA{protoA}, jobB{protoB};
};

TEST_F(ProfileJobs, ReadFromOneWrittenToAnotherReadsBackTheSame)
{
    const TProfile a = Read(jobA);
    EXPECT_EQ(a.Serial, QStringLiteral("111"));
    EXPECT_FALSE(a.Model.isEmpty());
    EXPECT_TRUE(a.Time.isValid());
    EXPECT_EQ(a.Tables.size(), SettingsTables().size());
    EXPECT_EQ(jobA.Lines.first(), QStringLiteral("Чтение профиля ККМ ..."));
    EXPECT_EQ(jobA.Lines.last(), QStringLiteral("Чтение профиля ККМ завершено."));
    EXPECT_FALSE(jobA.Lines.join(u'\n').contains(u'!'));

    // Through the file, as a profile travels.
    TProfile file;
    QString error;
    ASSERT_TRUE(ProfileFromJson(ProfileToJson(a), file, error)) << error.toStdString();

    const TProfile before = Read(jobB);
    EXPECT_EQ(before.Serial, QStringLiteral("222"));
    const std::vector<TProfileDifference> differences = CompareProfiles(before, file);
    QStringList paths;
    for (const TProfileDifference& d : differences) {
        paths << d.Field;
        EXPECT_NE(d.RegisterValue, d.FileValue) << d.Field.toStdString();
    }
    for (const char* path : {"options.inn", "options.registration", "print_options.contrast",
                             "print_options.receipt_options", "text_lines[1].text", "text_lines[9].attributes",
                             "operators[7].rights", "operators[2].post", "sections[1].name", "pay_types[3].name"})
        EXPECT_TRUE(paths.contains(QLatin1String(path))) << path;
    EXPECT_FALSE(paths.contains(QStringLiteral("devices.pc_speed")));
    const auto inn = std::find_if(differences.begin(), differences.end(),
                                  [](const TProfileDifference& d) { return d.Field == "options.inn"; });
    ASSERT_NE(inn, differences.end());
    EXPECT_EQ(inn->RegisterValue, QStringLiteral("\"000000000042\""));
    EXPECT_EQ(inn->FileValue, QStringLiteral("\"770112345678\""));

    ASSERT_EQ(AuthoriseJob(jobB, 1, 1), 0);
    jobB.Lines.clear();
    EXPECT_TRUE(ProfileWriteJob(jobB, file, false)) << jobB.Lines.join(u'\n').toStdString();
    EXPECT_EQ(jobB.Lines.first(), QStringLiteral("Запись профиля в ККМ ..."));
    EXPECT_EQ(jobB.Lines.last(), QStringLiteral("Запись профиля в ККМ завершена."));

    // Every table that takes input now reads as in A; the others are B's own.
    const TProfile after = Read(jobB);
    TProfile aInput = a;
    TProfile afterInput = after;
    for (TProfile* p : {&aInput, &afterInput})
        for (auto it = p->Tables.begin(); it != p->Tables.end();)
            it = InputTableKeys().contains(it->first) ? std::next(it) : p->Tables.erase(it);
    EXPECT_EQ(aInput.Tables.size(), 4u);
    EXPECT_EQ(Settings(afterInput).toStdString(), Settings(aInput).toStdString());
    for (const TProfileDifference& d : CompareProfiles(after, file))
        EXPECT_FALSE(InputTableKeys().contains(d.Table)) << d.Field.toStdString();
    EXPECT_FALSE(CompareProfiles(after, file).empty()) << "B's read-only tables stay its own";
    EXPECT_EQ(after.Serial, QStringLiteral("222"));
}

TEST_F(ProfileJobs, SomeTablesOnly)
{
    const TProfile p = Read(jobA, {QStringLiteral("operators"), QStringLiteral("options")});
    EXPECT_EQ(p.Tables.size(), 2u);
    EXPECT_NE(p.Find(QStringLiteral("operators")), nullptr);

    TProfile none;
    jobA.Lines.clear();
    EXPECT_FALSE(ProfileReadJob(jobA, {QStringLiteral("goods")}, none));
    EXPECT_EQ(jobA.Lines, QStringList{QStringLiteral("! Неизвестная таблица настроек goods")});
    EXPECT_TRUE(none.Tables.empty());
}

TEST_F(ProfileJobs, DryRunSendsNothing)
{
    const TProfile a = Read(jobA);
    ASSERT_EQ(AuthoriseJob(jobB, 1, 1), 0);
    const auto tables = Tables(regB);
    regB.ClearRequests();
    jobB.Lines.clear();
    EXPECT_TRUE(ProfileWriteJob(jobB, a, true));
    EXPECT_EQ(regB.RequestCount(), 0u);
    EXPECT_EQ(Tables(regB), tables);
    EXPECT_EQ(jobB.Lines, (QStringList{"Без записи: таблица options (2), записей: 1",
                                       "Без записи: таблица print_options (3), записей: 1",
                                       "Без записи: таблица text_lines (4), записей: 9",
                                       "Без записи: таблица operators (9), полей: 21"}));
}

TEST_F(ProfileJobs, RefusedTableStopsTheWrite)
{
    const TProfile a = Read(jobA);
    // B's session is not authorised: the first table is refused.
    const auto tables = Tables(regB);
    jobB.Lines.clear();
    EXPECT_FALSE(ProfileWriteJob(jobB, a, false));
    EXPECT_EQ(Tables(regB), tables);
    EXPECT_EQ(jobB.Lines, (QStringList{"Запись профиля в ККМ ...", FindTable(2)->WriteStartLine,
                                       "! " + TOmvekCP::ErrorText(5)}));
}

TEST_F(ProfileJobs, ValueThatCannotBeEncodedSendsNothing)
{
    TProfile a = Read(jobA);
    // Only a profile made in code can hold it: a file is checked on loading.
    a.Tables[QStringLiteral("operators")][6][2].Value.Text = QStringLiteral("много");
    ASSERT_EQ(AuthoriseJob(jobB, 1, 1), 0);
    const auto tables = Tables(regB);
    regB.ClearRequests();
    jobB.Lines.clear();
    EXPECT_FALSE(ProfileWriteJob(jobB, a, false));
    EXPECT_EQ(regB.RequestCount(), 0u);
    EXPECT_EQ(Tables(regB), tables);
    ASSERT_EQ(jobB.Lines.size(), 1);
    EXPECT_TRUE(jobB.Lines[0].startsWith(QStringLiteral("! Профиль: таблица operators: "))) << jobB.Lines[0].toStdString();
}

} // namespace
