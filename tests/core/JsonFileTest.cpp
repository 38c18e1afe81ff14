#include "TestEnv.h"
#include "core/JsonFile.h"

using namespace lomex;

// Brackets inside strings, escaped quotes and closed levels do not count toward the depth.
TEST(JsonFileTest, DepthIsCountedOutsideStringsOnly) {
    const struct {
        QByteArray text;
        int limit;
        bool deeper;
    } cases[] = {
        {"{}", 1, false},
        {"{\"a\":{}}", 1, true},
        {"[[]][[]]", 2, false},
        {"{\"a\":\"[[[[[[\"}", 1, false},
        {"{\"a\":\"\\\"[[[[\"}", 1, false},
        {"{\"a\":\"\\\\\",\"b\":[[]]}", 2, true},
        {QByteArray(513, '[') + QByteArray(513, ']'), jsonfile::maxDepth, true},
        {QByteArray(512, '[') + QByteArray(512, ']'), jsonfile::maxDepth, false},
    };
    for (const auto& c : cases) EXPECT_EQ(jsonfile::nestsDeeperThan(c.text, c.limit), c.deeper) << c.text.left(40).constData();
}

// Whatever the bytes, parse gives a value or an error naming the file; nothing is thrown.
TEST(JsonFileTest, ParseNeverThrows) {
    const struct {
        QByteArray text;
        bool object;
    } cases[] = {
        {R"({"a":1e400})", false},
        {R"({"a":-1e999})", false},
        {R"({"a":[1,2,1e309]})", false},
        {"{\"a\":\"\xff\"}", false},
        {R"({"a":-1e308,"b":1.5,"c":18446744073709551616})", true},
        {" \n\t", true},
        // The parser quotes what it read last: a whole unclosed string of the file.
        {"{\"a\":\"" + QByteArray(1 << 20, 'x'), false},
    };
    for (const auto& c : cases) {
        std::variant<jsonfile::Json, LomexError> parsed;
        ASSERT_NO_THROW(parsed = jsonfile::parse("/x/settings.json", c.text)) << c.text.constData();
        EXPECT_EQ(std::holds_alternative<jsonfile::Json>(parsed), c.object) << c.text.constData();
        if (auto* e = std::get_if<LomexError>(&parsed)) {
            EXPECT_TRUE(jsonfile::isContentError(*e)) << e->message.toStdString();
            EXPECT_TRUE(e->message.startsWith("/x/settings.json")) << e->message.toStdString();
            EXPECT_LT(e->message.size(), 400) << "shown to the user as it is";
        }
    }
}
