#include "platform/net/Url.hpp"

#include <gtest/gtest.h>

using platform::Url;

TEST(Url, ParsesOnlyAbsoluteWebAddresses)
{
    EXPECT_TRUE(Url::parse("https://hub.example"));
    EXPECT_TRUE(Url::parse("http://127.0.0.1:8080/base"));
    EXPECT_FALSE(Url::parse(""));
    EXPECT_FALSE(Url::parse("hub.example/path"));
    EXPECT_FALSE(Url::parse("file:///etc/passwd"));
    EXPECT_FALSE(Url::parse("ftp://hub.example"));
    EXPECT_FALSE(Url::parse("https://"));
    EXPECT_FALSE(Url::parse("http://exa mple.com"));
    EXPECT_FALSE(Url::parse(std::string("http://a\0b", 10)));
}

TEST(Url, AppendingPathEncodesEachSegment)
{
    const Url base = *Url::parse("http://127.0.0.1:8080");
    EXPECT_EQ(base.appendingPath("owner/name/resolve/main/a b#1?.json").string(),
        "http://127.0.0.1:8080/owner/name/resolve/main/a%20b%231%3f.json");
    EXPECT_EQ(base.appendingPath("100%/é").string(), "http://127.0.0.1:8080/100%25/%c3%a9");

    // A base with a path (with or without a final slash) keeps it; empty segments vanish.
    EXPECT_EQ(Url::parse("https://hub.example/mirror/")->appendingPath("o//n/").string(), "https://hub.example/mirror/o/n");
    EXPECT_EQ(Url::parse("https://hub.example/mirror")->appendingPath("o").appendingPath("n").string(),
        "https://hub.example/mirror/o/n");
}
