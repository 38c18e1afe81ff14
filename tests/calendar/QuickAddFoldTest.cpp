#include "QStringPrint.h"
#include "TestEnv.h"
#include "calendar/QuickAddParser.h"
#include "platform/TextFold.h"

namespace lomex {
namespace {

using Text = QuickAddParser::Text;

int characterCount(const QString& s) { return int(textfold::splitCharacters(s).size()); }

TEST(QuickAddFold, CzechLettersLoseCaseAndDiacritics) {
    EXPECT_EQ(textfold::fold(""), "");
    EXPECT_EQ(textfold::fold(QStringLiteral("ŽLUŤOUČKÝ kůň")), "zlutoucky kun");
    EXPECT_EQ(textfold::fold(QStringLiteral("Připomeň Zítra")), "pripomen zitra");
    EXPECT_EQ(textfold::fold(QStringLiteral("ĚŠČŘŽÝÁÍÉÚŮĎŤŇ ěščřžýáíéúůďťň")),
              "escrzyaieuudtn escrzyaieuudtn");
    EXPECT_EQ(textfold::fold("Meeting AT 10:30 !!"), "meeting at 10:30 !!");
    // Both cases of a word compare equal, also where lower case has two forms of a letter.
    EXPECT_EQ(textfold::fold(QStringLiteral("ΣΊΣΥΦΟΣ")), textfold::fold(QStringLiteral("Σίσυφος")));
    EXPECT_EQ(textfold::fold(QStringLiteral("ſ µ")), textfold::fold(QStringLiteral("S Μ")));
}

TEST(QuickAddFold, KeepsOneCharacterForEachCharacter) {
    // ß and the ﬁ ligature fold to two letters under full case folding: they stay as typed.
    EXPECT_EQ(textfold::fold(QStringLiteral("Straße")), QStringLiteral("straße"));
    EXPECT_EQ(textfold::fold(QStringLiteral("ﬁle")), QStringLiteral("ﬁle"));
    // İ lower-cases to i with a combining dot; the dot goes with the other accents.
    EXPECT_EQ(textfold::fold(QStringLiteral("İstanbul")), "istanbul");
    // A decomposed letter (e + combining acute) is one character and folds to e.
    EXPECT_EQ(textfold::fold(QStringLiteral("cafe\u0301 Ne\u030Cmec")), "cafe nemec");
    // Emoji, flags, ZWJ families and keycaps are single characters and come back unchanged.
    const QString emoji = QStringLiteral("Ahoj 👍🏽 🇨🇿 👨‍👩‍👧 1️⃣ ❤️");
    EXPECT_EQ(textfold::fold(emoji), QStringLiteral("ahoj 👍🏽 🇨🇿 👨‍👩‍👧 1️⃣ ❤️"));
    // A combining mark with nothing to sit on folds to nothing, so it is kept.
    const QString lone = QStringLiteral("\u0301x\n\u030C");
    EXPECT_EQ(textfold::fold(lone), lone);
    for (const QString& s : {QStringLiteral("ŽLUŤOUČKÝ kůň"), QStringLiteral("Straße ﬁ İ"), emoji, lone,
                             QStringLiteral("a\r\nb"), QStringLiteral("ΣΊΣΥΦΟΣ Ǆ ǅ")}) {
        EXPECT_EQ(characterCount(textfold::fold(s)), characterCount(s)) << s.toStdString();
    }
    EXPECT_EQ(characterCount(QStringLiteral("a\r\nb")), 3);
}

TEST(QuickAddText, ReadsTheUsersSpellingBackByPosition) {
    Text text(QStringLiteral("Koupit mléko 👍🏽 @Práce zítra"));
    auto m = text.match(R"((?:^|\s)@(\S+))");
    ASSERT_TRUE(m);
    EXPECT_EQ(*m->group(1), "prace");
    EXPECT_EQ(text.original(*m->range(1)), QStringLiteral("Práce"));
    text.consume(m->whole());
    EXPECT_FALSE(text.match(R"((?:^|\s)@(\S+))"));
    EXPECT_EQ(text.original(m->whole()).trimmed(), "");
    EXPECT_EQ(text.count(), characterCount(QStringLiteral("Koupit mléko 👍🏽 @Práce zítra")));
    EXPECT_EQ(text.folded().size(), textfold::fold(QStringLiteral("Koupit mléko 👍🏽        zítra")).size());
    // Positions after a multi-unit character stay aligned.
    auto z = text.match(R"(\bzitra\b)");
    ASSERT_TRUE(z);
    EXPECT_EQ(text.original(z->whole()), QStringLiteral("zítra"));
}

TEST(QuickAddText, GroupsConsumeAndBadPatterns) {
    Text text("ab cd");
    auto m = text.match("(ab)(x)?()");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->group(1), QString("ab"));
    EXPECT_FALSE(m->group(2).has_value());
    ASSERT_TRUE(m->group(3).has_value());
    EXPECT_TRUE(m->group(3)->isEmpty());
    EXPECT_FALSE(m->group(7).has_value());
    text.consume({2, 2});
    EXPECT_EQ(text.folded(), "ab cd");
    EXPECT_FALSE(text.match("(unclosed"));
    text.consume({0, 2});
    EXPECT_EQ(text.folded(), "   cd");
    EXPECT_EQ(text.remainingTitle(), "Cd");
}

TEST(QuickAddText, TitleDropsEdgeStopwordsAndTrims) {
    EXPECT_EQ(Text(QStringLiteral("  na schůzku s Petrem v  ")).remainingTitle(), QStringLiteral("Schůzku s Petrem"));
    EXPECT_EQ(Text(QStringLiteral("v")).remainingTitle(), ""); // the parser falls back to the line
    EXPECT_EQ(Text(QStringLiteral("- , .")).remainingTitle(), "");
    EXPECT_EQ(Text(QStringLiteral("ďábel – ")).remainingTitle(), QStringLiteral("Ďábel"));
    EXPECT_EQ(Text(QStringLiteral("ßtraße")).remainingTitle(), QStringLiteral("SStraße"));
}

} // namespace
} // namespace lomex
