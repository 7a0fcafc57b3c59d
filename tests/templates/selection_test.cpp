#include "common/error.h"
#include "common/messagesink.h"
#include "support/testutils.h"
#include "templates/selection.h"
#include "templates/sitehead.h"
#include "templates/templatechooser.h"
#include "templates/templatestore.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qh::templates;

namespace {

class RecordingSink final : public qh::MessageSink
{
public:
    void ShowMsg(const QString &text) override { messages << text; }
    QStringList messages;
};

QStringList record(const QString &name, const QString &head, int title, const QString &tag = u"DIV"_s)
{
    return {u"@@@@@@@@@@"_s,
            u"name="_s + name,
            u"head="_s + head,
            u"linkname=下一页"_s,
            u"ititleindex=%1"_s.arg(title),
            u"icontentindex=%1"_s.arg(title + 10),
            u"iparentindex=%1"_s.arg(title + 9),
            u"sContentTagname="_s + tag,
            u"sTitleTagname=H1"_s};
}

// A fixture: two templates for one site, one for another, and the chooser filled from the store.
class SelectTemplateTest : public ::testing::Test
{
protected:
    void SetUp() override { reload(); }
    void reload()
    {
        fillTemplateChooser(m_chooser, m_store);
        m_chooser.setCurrentIndex(0);
    }

    TemplateStore m_store{record(u"First"_s, u"http://www.site.cn"_s, 1) + record(u"Other"_s, u"http://b.cn"_s, 50) +
                          record(u"Second"_s, u"http://www.site.cn"_s, 2, u"TD"_s)};
    ListTemplateChooser m_chooser;
    RecordingSink m_sink;
};

} // namespace

// Automatic choice takes the first template for the head in store order and shows it in the chooser.
TEST_F(SelectTemplateTest, AutomaticTakesTheFirstForTheHead)
{
    const GrabParams params = SelectTemplate(m_store, u"http://www.site.cn"_s, m_chooser, m_sink);
    EXPECT_EQ(params, (GrabParams{u"下一页"_s, 1, 11, 10, u"DIV"_s, u"H1"_s}));
    EXPECT_EQ(m_chooser.currentText(), u"First"_s);
    EXPECT_TRUE(m_sink.messages.isEmpty());
}

// Moving the second template above the first makes automatic choice use it.
TEST_F(SelectTemplateTest, OrderDecidesAmongSameHead)
{
    ASSERT_TRUE(m_store.MoveTemplateUp(u"Second"_s, m_sink));
    ASSERT_TRUE(m_store.MoveTemplateUp(u"Second"_s, m_sink));
    reload();
    const GrabParams params = SelectTemplate(m_store, u"http://www.site.cn"_s, m_chooser, m_sink);
    EXPECT_EQ(params.ititleindex, 2);
    EXPECT_EQ(params.sContentTagname, u"TD"_s);
    EXPECT_EQ(m_chooser.currentText(), u"Second"_s);
}

// No item selected counts as automatic too.
TEST_F(SelectTemplateTest, NothingSelectedIsAutomatic)
{
    m_chooser.setCurrentIndex(-1);
    EXPECT_EQ(SelectTemplate(m_store, u"http://b.cn"_s, m_chooser, m_sink).ititleindex, 50);
    EXPECT_EQ(m_chooser.currentText(), u"Other"_s);
}

// A template chosen by hand is used whatever its head; the chooser item is matched ignoring letter case.
TEST_F(SelectTemplateTest, ChosenTemplateIsUsedWhateverItsHead)
{
    m_chooser.setCurrentIndex(2);
    ASSERT_EQ(m_chooser.currentText(), u"Other"_s);
    EXPECT_EQ(SelectTemplate(m_store, u"http://www.site.cn"_s, m_chooser, m_sink).ititleindex, 50);
    EXPECT_EQ(m_chooser.currentIndex(), 2);

    m_chooser.setItems({u"自动"_s, u"first"_s});
    m_chooser.setCurrentIndex(1);
    // "first" names no template (names compare exactly), but the box item still matches itself.
    EXPECT_EQ(SelectTemplate(m_store, u"http://www.site.cn"_s, m_chooser, m_sink).ititleindex, -1);
    EXPECT_EQ(m_chooser.currentIndex(), 1);
}

// An automatic choice whose name is not an item leaves nothing selected.
TEST_F(SelectTemplateTest, UnknownItemSelectsNothing)
{
    m_chooser.setItems({u"自动"_s});
    m_chooser.setCurrentIndex(0);
    EXPECT_EQ(SelectTemplate(m_store, u"http://b.cn"_s, m_chooser, m_sink).ititleindex, 50);
    EXPECT_EQ(m_chooser.currentIndex(), -1);
}

// Each missing position reads as -1 with its own "提取模板参数错误"; the texts are "-1" and no message.
TEST_F(SelectTemplateTest, MissingPositionsAreReportedOnceEach)
{
    const TemplateStore bare({u"@@@@@@@@@@"_s, u"name=bare"_s, u"head=http://bare.cn"_s, u"icontentindex=4"_s});
    fillTemplateChooser(m_chooser, bare);
    m_chooser.setCurrentIndex(0);
    const GrabParams params = SelectTemplate(bare, u"http://bare.cn"_s, m_chooser, m_sink);
    EXPECT_EQ(params, (GrabParams{u"-1"_s, -1, 4, -1, u"-1"_s, u"-1"_s}));
    EXPECT_EQ(m_sink.messages, (QStringList{u"提取模板参数错误"_s, u"提取模板参数错误"_s}));
}

// A position that is not an integer raises the conversion error, so the book does not start.
TEST_F(SelectTemplateTest, NonIntegerPositionRaisesConversionError)
{
    const TemplateStore bad(
        {u"@@@@@@@@@@"_s, u"name=bad"_s, u"head=http://bad.cn"_s, u"ititleindex=1"_s, u"icontentindex=12a"_s});
    try {
        SelectTemplate(bad, u"http://bad.cn"_s, m_chooser, m_sink);
        FAIL() << "no error";
    } catch (const qh::Error &error) {
        EXPECT_EQ(error.message(), u"'12a' is not a valid integer value"_s);
    }
}

// An https book is served by the template made on http for the same host, and the other way round.
TEST_F(SelectTemplateTest, HttpsPagesUseTheHostsTemplate)
{
    const QString head = SiteHeadOf(u"https://WWW.Site.cn/book/1.html"_s);
    ASSERT_TRUE(m_store.TemplateExistsForHead(head));
    EXPECT_EQ(SelectTemplate(m_store, head, m_chooser, m_sink).ititleindex, 1);

    const TemplateStore secure(record(u"S"_s, u"https://secure.cn"_s, 7));
    EXPECT_TRUE(secure.TemplateExistsForHead(SiteHeadOf(u"http://secure.cn/x"_s)));
    EXPECT_FALSE(secure.TemplateExistsForHead(SiteHeadOf(u"https://www.secure.cn/x"_s)));
}

// Site heads: http exactly as existing template files expect, https with its host, everything else empty.
TEST(SiteHeadTest, HeadOfAddresses)
{
    const struct
    {
        QString address;
        QString head;
    } cases[] = {
        {u"http://www.Example.COM/book/1.html"_s, u"http://www.example.com"_s},
        {u"HTTP://Host:8080/a/b"_s, u"http://host:8080"_s},
        {u"http://host"_s, u"http://"_s},
        {u"http://host?x=/y"_s, u"http://host?x="_s},
        {u"http://ÄHost/x"_s, u"http://Ähost"_s},
        {u"https://Secure.Example/a/b"_s, u"https://secure.example"_s},
        {u"HTTPS://host"_s, u"https://host"_s},
        {u"ftp://host/x"_s, QString()},
        {u"www.host.com/x"_s, QString()},
        {QString(), QString()},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SiteHeadOf(c.address), c.head) << c.address.toStdString();
}

// Heads serve each other when equal or when http and https name the same non-empty host.
TEST(SiteHeadTest, HeadsMatchAcrossSchemes)
{
    EXPECT_TRUE(headsMatch(u"http://h", u"http://h"));
    EXPECT_TRUE(headsMatch(u"http://h", u"https://h"));
    EXPECT_TRUE(headsMatch(u"https://h", u"http://h"));
    EXPECT_TRUE(headsMatch(u"http://", u"http://"));
    EXPECT_TRUE(headsMatch(u"", u""));
    EXPECT_FALSE(headsMatch(u"http://", u"https://"));
    EXPECT_FALSE(headsMatch(u"http://h", u"http://www.h"));
    EXPECT_FALSE(headsMatch(u"http://h", u""));
    EXPECT_FALSE(headsMatch(u"h", u"http://h"));
}
