// The one Windows-1251 converter and the shared text rules.
#include "Cp1251.h"
#include "TextRules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

TEST(Cp1251, EveryByteIsOneCharacterAndComesBackUnchanged)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    const QString text = FromCp1251(all);
    ASSERT_EQ(text.size(), 256);
    bool exact = false;
    EXPECT_EQ(ToCp1251(text, &exact), all);
    EXPECT_TRUE(exact);
}

TEST(Cp1251, HandWrittenSamples)
{
    struct Case {
        QByteArray bytes;
        QString text;
    };
    const Case cases[] = {
        {QByteArray("\xCF\xF0\xE8\xE2\xE5\xF2", 6), QStringLiteral("Привет")},
        {QByteArray("\xC0\xDF\xE0\xFF", 4), QStringLiteral("АЯая")},
        {QByteArray("\xA8\xB8", 2), QStringLiteral("Ёё")},
        {QByteArray("\xB9 5 \x96 \x88", 7), QStringLiteral("№ 5 – €")},
        {QByteArray("OMVEK-100F;12.5", 15), QStringLiteral("OMVEK-100F;12.5")},
        {QByteArray("a\0b", 3), QStringView(u"a\0b", 3).toString()},
        {QByteArray("\x98", 1), QString(QChar(0x98))}, // the one byte without a letter
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FromCp1251(c.bytes), c.text) << c.bytes.toHex().constData();
        EXPECT_EQ(ToCp1251(c.text), c.bytes) << c.bytes.toHex().constData();
    }
}

TEST(Cp1251, CharactersOutsideTheCodePageBecomeOneQuestionMarkEach)
{
    struct Case {
        QString text;
        QByteArray bytes;
    };
    const Case cases[] = {
        {QStringLiteral("café"), "caf?"},
        {QStringLiteral("a😀b"), "a?b"},              // a surrogate pair is one character
        {QString(QChar(0xD800)) + u'x', "?x"},       // a lone surrogate
        {QStringLiteral("中文"), "??"},
    };
    for (const Case& c : cases) {
        bool exact = true;
        EXPECT_EQ(ToCp1251(c.text, &exact), c.bytes);
        EXPECT_FALSE(exact);
    }
}

TEST(Cp1251, Utf8Strings)
{
    bool exact = false;
    EXPECT_EQ(Utf8ToCp1251("Ж-5", &exact), std::string("\xC6-5"));
    EXPECT_TRUE(exact);
    EXPECT_EQ(Utf8ToCp1251("ü", &exact), "?");
    EXPECT_FALSE(exact);
    EXPECT_EQ(Cp1251ToUtf8("\xC6\xB9"), "Ж№");
}

TEST(TextRules, TrimRemovesBlanksAndControlCharactersAtBothEnds)
{
    EXPECT_EQ(TrimText(QStringView(u" \t\0 abc d\r\n", 11)), QStringLiteral("abc d"));
    EXPECT_EQ(TrimText(QStringLiteral("   ")), QString());
    EXPECT_EQ(TrimText(QStringLiteral("x")), QStringLiteral("x"));
}

TEST(TextRules, StrictIntegers)
{
    struct Case {
        const char* text;
        bool ok;
        std::int64_t value;
    };
    const Case cases[] = {
        {"0", true, 0},
        {"-17", true, -17},
        {"+5", true, 5},
        {"0012", true, 12},
        {"9223372036854775807", true, std::numeric_limits<std::int64_t>::max()},
        {"-9223372036854775808", true, std::numeric_limits<std::int64_t>::min()},
        {"9223372036854775808", false, 0},
        {"", false, 0},
        {"-", false, 0},
        {" 1", false, 0},
        {"1 ", false, 0},
        {"1a", false, 0},
        {"1.0", false, 0},
    };
    for (const Case& c : cases) {
        std::int64_t value = 42;
        EXPECT_EQ(TryStrToInt64(QString::fromLatin1(c.text), value), c.ok) << c.text;
        EXPECT_EQ(value, c.ok ? c.value : 42) << c.text;
    }
    EXPECT_EQ(NotAnIntegerText(QStringLiteral("abc")), QStringLiteral("'abc' не является целым числом"));
}

} // namespace
