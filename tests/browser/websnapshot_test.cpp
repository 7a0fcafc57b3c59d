#include "browser/web/websnapshot.h"
#include "support/testutils.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using qh::browser::parseWebSnapshot;

// What the page reader returns is checked before it becomes a document: lists of one length, parents before their
// children. Anything else reads as no snapshot rather than as a document that indexes out of range.
TEST(WebSnapshot, ReadsOnlyWholeTrees)
{
    const QByteArray good = R"({"url":"http://h/1","title":"T","contentType":"text/html","refreshSeconds":-1,
        "tags":["HTML","BODY"],"parents":[-1,0],"texts":["x","x"],"innerHtmls":["<body>x</body>","x"],
        "startTags":["<html>","<body>"],"endTags":["</html>","</body>"],"attributes":[[],["class","c"]]})";
    const auto snapshot = parseWebSnapshot(good);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->size(), 2);
    EXPECT_EQ(snapshot->url, QUrl(u"http://h/1"_s));
    EXPECT_EQ(snapshot->parents, (QList<int>{-1, 0}));
    EXPECT_EQ(snapshot->attributes.at(1), (QStringList{u"class"_s, u"c"_s}));
    EXPECT_TRUE(snapshot->isPage());

    const struct
    {
        const char *what;
        QByteArray from;
        QByteArray to;
    } broken[] = {
        {"not JSON", "{", "["},
        {"a list too short", R"("texts":["x","x"])", R"("texts":["x"])"},
        {"a list missing", R"("endTags":["</html>","</body>"],)", ""},
    };
    for (const auto &c : broken) {
        QByteArray text = good;
        text.replace(c.from, c.to);
        EXPECT_FALSE(parseWebSnapshot(text)) << c.what;
    }
    // A parent after its child, or out of range, is taken as no parent.
    QByteArray loop = good;
    loop.replace(R"("parents":[-1,0])", R"("parents":[1,7])");
    const auto unparented = parseWebSnapshot(loop);
    ASSERT_TRUE(unparented);
    EXPECT_EQ(unparented->parents, (QList<int>{-1, -1}));
}
