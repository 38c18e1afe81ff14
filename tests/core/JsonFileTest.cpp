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
