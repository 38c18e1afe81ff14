#include "agents/APIErrorText.h"
#include "agents/TextCut.h"
#include "agents/ToolActivity.h"

#include <gtest/gtest.h>

using namespace lomex;

namespace {
const QChar ellipsis(0x2026);
}

TEST(TextCut, CountsGraphemeClusters)
{
    EXPECT_EQ(textcut::graphemeCount(QString()), 0);
    EXPECT_EQ(textcut::graphemeCount(QString::fromUtf8("Příliš žluťoučký")), 16);
    // e + combining acute, a family emoji joined with ZWJ, a flag, a skin-tone emoji.
    EXPECT_EQ(textcut::graphemeCount(QString::fromUtf8("e\u0301")), 1);
    EXPECT_EQ(textcut::graphemeCount(QString::fromUtf8("👨‍👩‍👧‍👦")), 1);
    EXPECT_EQ(textcut::graphemeCount(QString::fromUtf8("🇨🇿🇺🇸")), 2);
    EXPECT_EQ(textcut::graphemeCount(QString::fromUtf8("👍🏽x")), 2);
    EXPECT_EQ(textcut::graphemeCount(QString::fromUtf8("\r\n")), 1);
    EXPECT_EQ(textcut::graphemeCount(QString::fromUtf8("a\r\n\rb\n\r")), 6);
}

TEST(TextCut, ShortenNeverSplitsACluster)
{
    const QString family = QString::fromUtf8("👨‍👩‍👧‍👦"); // 11 UTF-16 units, one character
    const QString text = QString(78, QLatin1Char('a')) + family + family + QStringLiteral("tail");
    const QString cut = textcut::shorten(text, 80);
    EXPECT_EQ(cut, QString(78, QLatin1Char('a')) + family + ellipsis);
    EXPECT_EQ(textcut::graphemeCount(cut), 80);

    // Exactly the limit stays whole even though it is far longer in code units.
    QString flags;
    for (int i = 0; i < 80; ++i)
        flags += QString::fromUtf8("🇨🇿");
    EXPECT_EQ(textcut::shorten(flags, 80), flags);
    const QString cutFlags = textcut::shorten(flags + QString::fromUtf8("🇨🇿"), 80);
    EXPECT_EQ(textcut::graphemeCount(cutFlags), 80);
    EXPECT_TRUE(cutFlags.startsWith(flags.left(79 * 4)));
    EXPECT_EQ(cutFlags.size(), 79 * 4 + 1);

    // Combining marks stay with their letter.
    QString marks;
    for (int i = 0; i < 81; ++i)
        marks += QString::fromUtf8("c\u030C\u0301");
    const QString cutMarks = textcut::shorten(marks, 80);
    EXPECT_EQ(cutMarks.size(), 79 * 3 + 1);
    EXPECT_TRUE(cutMarks.endsWith(QString::fromUtf8("c\u030C\u0301…")));
}

TEST(TextCut, CzechCountsCharactersNotBytes)
{
    // 81 Czech letters with diacritics: cut to 79 and the ellipsis.
    const QString ceske = QString::fromUtf8("ěščřžýáíé").repeated(9);
    ASSERT_EQ(ceske.size(), 81);
    const auto detail = ToolActivity::describe("Bash", nlohmann::json{{"description", ceske.toStdString()}});
    ASSERT_TRUE(detail);
    EXPECT_EQ(*detail, ceske.left(79) + ellipsis);
    // The same text in decomposed form has the same number of characters.
    const QString decomposed = ceske.normalized(QString::NormalizationForm_D);
    ASSERT_GT(decomposed.size(), 81);
    const auto cutDecomposed = ToolActivity::describe("Bash", nlohmann::json{{"description", decomposed.toStdString()}});
    ASSERT_TRUE(cutDecomposed);
    EXPECT_EQ(cutDecomposed->normalized(QString::NormalizationForm_C), ceske.left(79) + ellipsis);
}

TEST(TextCut, LinesAndPathComponents)
{
    EXPECT_EQ(textcut::splitLines(QString::fromUtf8("a\r\nb\n\nc\u2028d")), (QStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(textcut::firstLine(QString::fromUtf8("\n\n  x\ny")), QString("  x"));
    EXPECT_EQ(textcut::firstLine(QString::fromUtf8("\n\r")), std::nullopt);
    EXPECT_EQ(textcut::lastPathComponent("/a/b/c.txt"), "c.txt");
    EXPECT_EQ(textcut::lastPathComponent("/a/b/"), "b");
    EXPECT_EQ(textcut::lastPathComponent("/a/b//"), "b");
    EXPECT_EQ(textcut::lastPathComponent("name"), "name");
    EXPECT_EQ(textcut::lastPathComponent("/"), "/");
    EXPECT_EQ(textcut::lastPathComponent(""), "");
}

TEST(APIErrorText, LabelsAndDetails)
{
    using APIErrorText::describe;
    EXPECT_EQ(describe(QString("overloaded"), QString(" \n "), QString("Overloaded, retry\nsecond line")),
              QString::fromUtf8("API is overloaded · Overloaded, retry"));
    EXPECT_EQ(describe(std::nullopt, std::nullopt, std::nullopt), "API error");
    EXPECT_EQ(describe(QString("teapot"), std::nullopt, std::nullopt), "API error");
    EXPECT_EQ(describe(QString("Rate_limit"), std::nullopt, std::nullopt), "API error");
    EXPECT_EQ(describe(QString("rate_limit"), QString("  Try again at 5pm  "), QString("ignored")),
              QString::fromUtf8("Rate limit reached · Try again at 5pm"));
    EXPECT_EQ(describe(QString("billing_error"), QString(), QString("\t")), "Billing problem");
    const std::pair<const char*, const char*> labels[] = {
        {"authentication_failed", "Authentication failed"}, {"oauth_org_not_allowed", "Organization not allowed"},
        {"account_on_hold", "Account on hold"},             {"invalid_request", "Invalid request"},
        {"model_not_found", "Model not found"},             {"server_error", "API server error"},
        {"max_output_tokens", "Response hit the token limit"}, {"cloud_credential_error", "Cloud credentials invalid"},
    };
    for (const auto& [code, label] : labels)
        EXPECT_EQ(describe(QString(code), std::nullopt, std::nullopt), QString(label)) << code;
}

TEST(APIErrorText, CutsTheLineToNinetyCharacters)
{
    const QString ninety = QString::fromUtf8("é").repeated(90);
    EXPECT_EQ(APIErrorText::describe(std::nullopt, ninety, std::nullopt), QString::fromUtf8("API error · ") + ninety);
    const QString longer = QString::fromUtf8("😀").repeated(91);
    EXPECT_EQ(APIErrorText::describe(std::nullopt, std::nullopt, longer),
              QString::fromUtf8("API error · ") + QString::fromUtf8("😀").repeated(89) + ellipsis);
}

// One letter with a huge run of combining marks is one character; laid out whole it froze the
// notch for half a minute. Outside text is bounded in units and in marks per character.
TEST(TextCut, HostileMarksAndLengthsAreBounded)
{
    const QString zalgo = QStringLiteral("a") + QString(200'000, QChar(0x0301)) + QStringLiteral("b");
    for (const QString& out : {textcut::shorten(zalgo, 240), textcut::leftGraphemes(zalgo, 400)}) {
        EXPECT_LE(out.size(), 2 * textcut::maxClusterUnits);
        EXPECT_TRUE(out.startsWith(QStringLiteral("a") + QString(textcut::maxClusterCodePoints - 1, QChar(0x0301))));
        EXPECT_NE(out.at(textcut::maxClusterCodePoints), QChar(0x0301));
    }
    // Cut by the unit bound shows the cut.
    EXPECT_TRUE(textcut::shorten(zalgo, 240).endsWith(ellipsis));
    // Many such characters: bounded by the count times the cluster bound.
    QString many;
    for (int i = 0; i < 1000; ++i)
        many += QStringLiteral("e") + QString(50, QChar(0x0300));
    EXPECT_LE(textcut::shorten(many, 240).size(), 240 * textcut::maxClusterUnits);
    EXPECT_EQ(textcut::graphemeCount(textcut::shorten(many, 240)), 240);

    // Real text passes unchanged: accents, a family emoji, a flag with tag characters.
    const QString real = QString::fromUtf8("Příliš žluťoučký kůň e\u0301 👨‍👩‍👧‍👦 🏴󠁧󠁢󠁥󠁮󠁧󠁿 👩🏻‍❤️‍💋‍👨🏼");
    EXPECT_EQ(textcut::bounded(real, 10'000), real);
    EXPECT_EQ(textcut::shorten(real, 240), real);
    bool cut = true;
    EXPECT_EQ(textcut::bounded(real, 10'000, &cut), real);
    EXPECT_FALSE(cut);
    // The unit cut never splits a surrogate pair.
    EXPECT_EQ(textcut::bounded(QString::fromUtf8("ab😀"), 3, &cut), "ab");
    EXPECT_TRUE(cut);
}

TEST(TextCut, BidiControlsAreWrittenOut)
{
    EXPECT_EQ(textcut::showBidiControls(QString::fromUtf8("rm -rf /\u202E gpj.txt\u2066x\u2069")),
              "rm -rf /<U+202E> gpj.txt<U+2066>x<U+2069>");
    EXPECT_EQ(textcut::showBidiControls("plain"), "plain");
}
