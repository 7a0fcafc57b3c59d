#include "engine/nexturl.h"

#include "support/testutils.h"

using namespace Qt::StringLiterals;
using qh::engine::resolveNextUrl;

// Next-page hrefs resolve as a browser resolves them: against the page address after redirects, or its <base>.
TEST(NextUrl, ResolvesLikeABrowser)
{
    const struct
    {
        const char *page;
        const char *base;
        const char *href;
        const char *expected;
    } cases[] = {
        {"http://host", "", "https://other/b/2.html", "https://other/b/2.html"},
        {"http://host", "", "//cdn.host/p/2.html", "http://cdn.host/p/2.html"},
        {"https://host/a/1.html", "", "//cdn.host/p/2.html", "https://cdn.host/p/2.html"},
        {"http://host/book/12/100.html", "", "../x", "http://host/book/x"},
        {"http://host/book/12/100.html", "", "?page=2", "http://host/book/12/100.html?page=2"},
        {"http://host", "", "x.html", "http://host/x.html"},
        {"http://host", "", "p2.html", "http://host/p2.html"},
        {"http://host/book/12/100.html", "", "101.html", "http://host/book/12/101.html"},
        {"http://host/book/12/100.html", "", "/book/12/101.html", "http://host/book/12/101.html"},
        {"http://host/read.php?id=1", "", "read.php?id=2&amp;page=3", "http://host/read.php?id=2&page=3"},
        {"http://host/a/1.html", "", "2.html#top", "http://host/a/2.html"},
        {"http://host/a/1.html", "", "  2.html\n", "http://host/a/2.html"},
        {"http://host/a/1.html", "http://mirror/b/", "2.html", "http://mirror/b/2.html"},
        {"http://host/a/1.html", "/c/", "2.html", "http://host/c/2.html"},
        {"http://HOST:8080/a/1.html", "", "2.html", "http://host:8080/a/2.html"},
    };
    for (const auto &c : cases) {
        const QUrl result =
            resolveNextUrl(QUrl(QString::fromUtf8(c.page)), QString::fromUtf8(c.base), QString::fromUtf8(c.href));
        EXPECT_EQ(result, QUrl(QString::fromUtf8(c.expected))) << c.page << " + " << c.href;
    }
}

// An empty href or a bare "#" means the book has no further page.
TEST(NextUrl, EmptyAndHashMeanNoNextPage)
{
    for (const char *href : {"", "#", " # ", "amp;"})
        EXPECT_TRUE(resolveNextUrl(QUrl(u"http://host/a/1.html"_s), {}, QString::fromUtf8(href)).isEmpty()) << href;
}

// Script links are recognised whatever their case and leading blanks.
TEST(NextUrl, ScriptHrefs)
{
    EXPECT_TRUE(qh::engine::isScriptHref(u"javascript:next()"_s));
    EXPECT_TRUE(qh::engine::isScriptHref(u"  JavaScript:void(0)"_s));
    EXPECT_FALSE(qh::engine::isScriptHref(u"/javascript/2.html"_s));
}
