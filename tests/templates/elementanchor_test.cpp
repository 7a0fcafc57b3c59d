#include "common/messagesink.h"
#include "common/textfile.h"
#include "support/testutils.h"
#include "templates/elementanchor.h"
#include "templates/selection.h"
#include "templates/templatechooser.h"
#include "templates/templatefile.h"
#include "templates/templatestore.h"
#include "templates/wizardsave.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qh::templates;

namespace {

const QString Head = u"http://www.site.cn"_s;

class NullSink final : public qh::MessageSink
{
public:
    void ShowMsg(const QString &text) override { messages << text; }
    QStringList messages;
};

ElementAnchor textAnchor()
{
    return {{u"DIV"_s, u"content"_s, {u"big"_s, u"txt"_s}}, {{u"DIV"_s, {}, {u"box_con"_s}}, {u"BODY"_s, {}, {}}}};
}

// A link anchor whose values hold every character the format escapes, and a key-like "=".
ElementAnchor linkAnchor()
{
    return {{u"A"_s, u"n|1"_s, {u"a;b"_s, u"next"_s}}, {{u"DIV"_s, u"p%2"_s, {}}}, u"next"_s, u"下一页 = 100%\n>"_s};
}

TemplateValues anchoredValues()
{
    TemplateValues values{u"下一页"_s, 3, 20, 19, u"DIV"_s, u"H1"_s};
    values.titleAnchor = {{u"H1"_s, {}, {}}, {{u"DIV"_s, {}, {u"bookname"_s}}, {u"DIV"_s, u"wrapper"_s, {}}}};
    values.contentAnchor = textAnchor();
    values.linkAnchor = linkAnchor();
    return values;
}

GrabParams select(const TemplateStore &store)
{
    ListTemplateChooser chooser;
    fillTemplateChooser(chooser, store);
    chooser.setCurrentIndex(0);
    NullSink sink;
    return SelectTemplate(store, Head, chooser, sink);
}

} // namespace

// Anchors read back as written, each on one line; damaged or foreign values read as no anchor.
TEST(ElementAnchorTest, FormatRoundTripsAndRefusesDamage)
{
    for (const ElementAnchor &anchor : {textAnchor(), linkAnchor(), ElementAnchor{{u"P"_s, {}, {}}, {}}}) {
        const QString line = formatAnchor(anchor);
        EXPECT_FALSE(line.contains(u'\n') || line.contains(u'\r')) << line.toStdString();
        EXPECT_EQ(parseAnchor(line), anchor) << line.toStdString();
    }
    EXPECT_EQ(formatAnchor({}), QString());
    for (const QString &bad : {u""_s, u"-1"_s, u"2|DIV;;;;"_s, u"1|"_s, u"1|DIV;x"_s, u"1|DIV;;;;|DIV;%zz;"_s,
                               u"1|;;;;"_s, u"1|DIV;;;;|DIV;;;x"_s, u"1|DIV;;;;%4"_s})
        EXPECT_TRUE(parseAnchor(bad).isEmpty()) << bad.toStdString();
}

// Link markup spread over lines is stored on one line and read back whole; other markup is stored as it is.
TEST(ElementAnchorTest, MultiLineLinkMarkupRoundTrips)
{
    const QString cases[] = {u"下一页"_s,  u"\n下一页\n"_s,  u"\r\n  <span>下一页</span>\r\n"_s,
                             u"a\\nb\n"_s, u"{qh-lines}x"_s, u""_s};
    for (const QString &markup : cases) {
        const QString stored = storedLinkname(markup);
        EXPECT_FALSE(stored.contains(u'\n') || stored.contains(u'\r')) << markup.toStdString();
        EXPECT_EQ(linknameOfStored(stored), markup) << markup.toStdString();
        if (!markup.contains(u'\n') && !markup.startsWith(u"{qh-lines}"_s)) {
            EXPECT_EQ(stored, markup);
        }
    }
}

// A definition with anchors and a multi-line link goes through the template file and comes back in the engine's
// parameters; the record stays one key line per value.
TEST(ElementAnchorTest, AnchoredDefinitionRoundTripsThroughTheFile)
{
    TemplateStore store;
    TemplateValues values = anchoredValues();
    values.linkname = u"\n下一页\n"_s;
    storeTemplateValues(store, u"t"_s, Head, values);
    const TemplateStore loaded = parseTemplateFile(formatTemplateFile(store));
    EXPECT_EQ(loaded, store);
    for (const QString &line : loaded.lines().mid(1))
        EXPECT_TRUE(line.contains(u'=')) << line.toStdString();

    const GrabParams params = select(loaded);
    EXPECT_EQ(params.linkname, values.linkname);
    EXPECT_EQ(params.titleAnchor, values.titleAnchor);
    EXPECT_EQ(params.contentAnchor, values.contentAnchor);
    EXPECT_EQ(params.linkAnchor, values.linkAnchor);
}

// A reader that knows only the six keys finds their values in a record with anchors, through the store's lookups.
TEST(ElementAnchorTest, SixKeysReadAsBeforeBesideAnchors)
{
    TemplateStore store;
    storeTemplateValues(store, u"t"_s, Head, anchoredValues());
    const QStringList record = store.recordOf(u"t"_s);
    ASSERT_EQ(record.size(), 12);
    EXPECT_EQ(record.mid(0, 9), (QStringList{u"@@@@@@@@@@"_s, u"name=t"_s, u"head="_s + Head, u"linkname=下一页"_s,
                                             u"ititleindex=3"_s, u"icontentindex=20"_s, u"iparentindex=19"_s,
                                             u"sContentTagname=DIV"_s, u"sTitleTagname=H1"_s}));
    const struct
    {
        const char16_t *key;
        const char16_t *value;
    } six[] = {{u"linkname", u"下一页"}, {u"ititleindex", u"3"},       {u"icontentindex", u"20"},
               {u"iparentindex", u"19"}, {u"sContentTagname", u"DIV"}, {u"sTitleTagname", u"H1"}};
    for (const auto &key : six) {
        QString name = u"自动"_s;
        EXPECT_EQ(store.ReadTemplateParam(Head, QString::fromUtf16(key.key), name), QString::fromUtf16(key.value));
        EXPECT_EQ(name, u"t"_s);
    }
}

// A template file of an older version: its records have no anchors, its six values are read as before, and
// redefining one with the same values and no anchors leaves the plain text byte for byte as it was.
TEST(ElementAnchorTest, OldFilesKeepTheirMeaningAndBytes)
{
    const TemplateStore old = LoadTemplateFile(qh::test::dataPath(u"tpe-handmade.tpe"_s));
    ASSERT_FALSE(old.isEmpty());
    const QByteArray plain = qh::text::joinLines(old.lines());
    for (const QString &name : old.ListTemplateNames(false)) {
        SCOPED_TRACE(name.toStdString());
        ListTemplateChooser chooser;
        fillTemplateChooser(chooser, old);
        selectChooserItem(chooser, name);
        NullSink sink;
        QString head;
        for (const QString &line : old.recordOf(name)) {
            if (line.startsWith(u"head="_s))
                head = line.mid(5);
        }
        const GrabParams params = SelectTemplate(old, head, chooser, sink);
        EXPECT_TRUE(params.titleAnchor.isEmpty() && params.contentAnchor.isEmpty() && params.linkAnchor.isEmpty());

        TemplateStore redefined = old;
        const TemplateValues same{params.linkname,     params.ititleindex,     params.icontentindex,
                                  params.iparentindex, params.sContentTagname, params.sTitleTagname,
                                  params.engine};
        storeTemplateValues(redefined, name, QString(), same);
        EXPECT_EQ(qh::text::joinLines(redefined.lines()), plain);
    }
}

// Redefining without a sample page clears anchors the record has, so they never outlive their positions.
TEST(ElementAnchorTest, RedefinitionWithoutAnchorsClearsThem)
{
    TemplateStore store;
    storeTemplateValues(store, u"t"_s, Head, anchoredValues());
    storeTemplateValues(store, u"t"_s, QString(), TemplateValues{u"下一页"_s, 4, 21, 20, u"DIV"_s, u"H1"_s});
    const QStringList record = store.recordOf(u"t"_s);
    EXPECT_EQ(record.mid(9), (QStringList{u"sTitleAnchor="_s, u"sContentAnchor="_s, u"sLinkAnchor="_s}));
    const GrabParams params = select(store);
    EXPECT_TRUE(params.titleAnchor.isEmpty() && params.contentAnchor.isEmpty() && params.linkAnchor.isEmpty());
    EXPECT_EQ(params.ititleindex, 4);
}
