#include "model/LoginAutostart.h"

#include <gtest/gtest.h>

using parlo::LoginAutostart;

TEST(LoginAutostart, TheExecLineQuotesAndEscapesThePathByTheDesktopEntryRules) {
    EXPECT_EQ(LoginAutostart::execValue(QStringLiteral("/usr/bin/mello-parlo")),
              QStringLiteral("/usr/bin/mello-parlo --background"));
    EXPECT_EQ(LoginAutostart::execValue(QStringLiteral("/home/a b/mello-parlo")),
              QStringLiteral("\"/home/a b/mello-parlo\" --background"));
    // Inside the quotes '$', '"' and '\' take a backslash, which the value's own escapes then double;
    // '%' is doubled so that it does not start a field code.
    EXPECT_EQ(LoginAutostart::execValue(QStringLiteral(R"(/opt/$x "y"\z%f)")),
              QStringLiteral(R"("/opt/\\$x \\"y\\"\\\\z%%f" --background)"));
}
