#include "common/messagesink.h"
#include "support/testutils.h"
#include "templates/enginekey.h"
#include "templates/selection.h"
#include "templates/templatechooser.h"
#include "templates/templatefile.h"
#include "templates/templatestore.h"
#include "templates/wizardsave.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qh::templates;

namespace {

class QuietSink final : public qh::MessageSink
{
public:
    void ShowMsg(const QString &) override {}
};

const QString Head = u"http://www.site.cn"_s;

QStringList record(const QString &name, const QStringList &extraLines = {})
{
    return QStringList{u"@@@@@@@@@@"_s,      u"name="_s + name,        u"head="_s + Head,
                       u"linkname=下一页"_s, u"ititleindex=1"_s,       u"icontentindex=5"_s,
                       u"iparentindex=4"_s,  u"sContentTagname=DIV"_s, u"sTitleTagname=H1"_s} +
           extraLines;
}

TemplateValues values(GrabEngine engine)
{
    TemplateValues v;
    v.linkname = u"下一页"_s;
    v.ititleindex = 1;
    v.icontentindex = 5;
    v.iparentindex = 4;
    v.sContentTagname = u"DIV"_s;
    v.sTitleTagname = u"H1"_s;
    v.engine = engine;
    return v;
}

GrabParams select(const TemplateStore &store)
{
    ListTemplateChooser chooser;
    fillTemplateChooser(chooser, store);
    chooser.setCurrentIndex(0);
    QuietSink sink;
    return SelectTemplate(store, Head, chooser, sink);
}

} // namespace

// Only "web" selects the web engine; a missing key and every other value, "Web" and "web " included, are static.
TEST(TemplateEngineTest, SelectTemplateReadsTheEngineKey)
{
    const struct
    {
        QStringList extra;
        GrabEngine engine;
    } cases[] = {
        {{}, GrabEngine::Static},
        {{u"sEngine=web"_s}, GrabEngine::Web},
        {{u"sEngine=static"_s}, GrabEngine::Static},
        {{u"sEngine=Web"_s}, GrabEngine::Static},
        {{u"sEngine=web "_s}, GrabEngine::Static},
        {{u"sEngine="_s}, GrabEngine::Static},
        {{u"sEngine=chromium"_s}, GrabEngine::Static},
        {{u"sengine=web"_s}, GrabEngine::Static},
    };
    for (const auto &c : cases) {
        const TemplateStore store(record(u"t"_s, c.extra));
        const GrabParams params = select(store);
        EXPECT_EQ(params.engine, c.engine) << c.extra.join(u'|').toStdString();
        EXPECT_EQ(engineOfTemplate(store, u"t"_s), c.engine) << c.extra.join(u'|').toStdString();
        // The key changes nothing else.
        EXPECT_EQ(params.ititleindex, 1);
        EXPECT_EQ(params.sTitleTagname, u"H1"_s);
    }
}

// In automatic mode the engine comes from the template chosen by head, not from another template's record.
TEST(TemplateEngineTest, EngineBelongsToTheChosenTemplate)
{
    const TemplateStore store(record(u"first"_s) + record(u"second"_s, {u"sEngine=web"_s}));
    EXPECT_EQ(select(store).engine, GrabEngine::Static);
    EXPECT_EQ(engineOfTemplate(store, u"second"_s), GrabEngine::Web);
    EXPECT_EQ(engineOfTemplate(store, u"nobody"_s), GrabEngine::Static);
}

// What a save writes: a new static record is the nine lines older versions wrote, a web one gets "sEngine=web" as
// its last line; a redefinition keeps the key's place, turns a web template static with "sEngine=static", and
// leaves a static record without the key (or with a value of its own) as it was.
TEST(TemplateEngineTest, SaveWritesTheKeyOnlyWhereItMatters)
{
    const struct
    {
        const char *what;
        QStringList before; // empty: a new template
        GrabEngine engine;
        QStringList after;
    } cases[] = {
        {"new static", {}, GrabEngine::Static, record(u"t"_s)},
        {"new web", {}, GrabEngine::Web, record(u"t"_s, {u"sEngine=web"_s})},
        {"static stays", record(u"t"_s), GrabEngine::Static, record(u"t"_s)},
        {"static to web", record(u"t"_s), GrabEngine::Web, record(u"t"_s, {u"sEngine=web"_s})},
        {"web to static", record(u"t"_s, {u"sEngine=web"_s}), GrabEngine::Static,
         record(u"t"_s, {u"sEngine=static"_s})},
        {"web stays",
         {u"@@@@@@@@@@"_s, u"name=t"_s, u"head="_s + Head, u"sEngine=web"_s, u"ititleindex=9"_s},
         GrabEngine::Web,
         {u"@@@@@@@@@@"_s, u"name=t"_s, u"head="_s + Head, u"sEngine=web"_s, u"ititleindex=1"_s, u"linkname=下一页"_s,
          u"icontentindex=5"_s, u"iparentindex=4"_s, u"sContentTagname=DIV"_s, u"sTitleTagname=H1"_s}},
        {"own value kept", record(u"t"_s, {u"sEngine=old"_s}), GrabEngine::Static, record(u"t"_s, {u"sEngine=old"_s})},
    };
    for (const auto &c : cases) {
        const QStringList neighbour = record(u"other"_s, {u"sEngine=web"_s});
        TemplateStore store(c.before + neighbour);
        storeTemplateValues(store, u"t"_s, Head, values(c.engine));
        const QStringList expected = c.before.isEmpty() ? neighbour + c.after : c.after + neighbour;
        EXPECT_EQ(store.lines(), expected) << c.what;
        EXPECT_EQ(engineOfTemplate(store, u"t"_s), c.engine) << c.what;
    }
}

// A web definition survives the template file: saved, loaded again and chosen, it asks for the web engine; the
// templates of an older file that were not redefined keep their lines exactly.
TEST(TemplateEngineTest, WebTemplateRoundTripsThroughTheFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"system.tpe"_s);
    const TemplateStore old = LoadTemplateFile(qh::test::dataPath(u"tpe-handmade.tpe"_s));
    ASSERT_FALSE(old.isEmpty());

    TemplateStore store = old;
    storeTemplateValues(store, u"scripted"_s, Head, values(GrabEngine::Web));
    SaveTemplateFile(path, store);
    const TemplateStore loaded = LoadTemplateFile(path);
    EXPECT_EQ(loaded.lines().mid(0, old.lines().size()), old.lines());
    EXPECT_EQ(loaded.recordOf(u"scripted"_s).last(), u"sEngine=web"_s);

    const GrabParams params = select(loaded);
    EXPECT_EQ(params.engine, GrabEngine::Web);
    EXPECT_EQ(params, (GrabParams{u"下一页"_s, 1, 5, 4, u"DIV"_s, u"H1"_s, GrabEngine::Web}));
    for (const QString &name : old.ListTemplateNames(false))
        EXPECT_EQ(engineOfTemplate(loaded, name), GrabEngine::Static) << name.toStdString();
}
