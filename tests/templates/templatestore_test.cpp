#include "common/messagesink.h"
#include "support/testutils.h"
#include "templates/templatestore.h"

#include <functional>

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

const QString Sep = u"@@@@@@@@@@"_s;

// Three records: "a" and "c" share a head, "b" lacks iparentindex, and a second "a" (as an imported file may hold)
// comes last.
QStringList sampleLines()
{
    return {
        Sep,
        u"name=a"_s,
        u"head=http://h1"_s,
        u"linkname=next=1"_s,
        u"ititleindex=1"_s,
        u"noise without key"_s,
        Sep,
        u"name=b"_s,
        u"head=http://h2"_s,
        u"ititleindex=2"_s,
        Sep,
        u"name=c"_s,
        u"head=http://h1"_s,
        u"ititleindex=3"_s,
        Sep,
        u"name=a"_s,
        u"head=http://h3"_s,
        u"ititleindex=4"_s,
    };
}

QStringList recordA()
{
    return sampleLines().mid(0, 6);
}
QStringList recordB()
{
    return sampleLines().mid(6, 4);
}
QStringList recordC()
{
    return sampleLines().mid(10, 4);
}
QStringList recordA2()
{
    return sampleLines().mid(14, 4);
}

struct StoreCase
{
    const char *what;
    QStringList before;
    std::function<QString(TemplateStore &, qh::MessageSink &)> operation; // the operation's result as text
    QString result;
    QStringList after;
    QStringList messages;
};

QString text(bool value)
{
    return value ? u"true"_s : u"false"_s;
}

} // namespace

// Every mutating store operation against the Part's algorithms: result, resulting lines and messages shown.
TEST(TemplateStoreTest, OperationsMatchTheirAlgorithms)
{
    const QStringList sample = sampleLines();
    const StoreCase cases[] = {
        {"add a new name appends three lines",
         sample,
         [](TemplateStore &s, qh::MessageSink &) { return s.AddTemplateRecord(u"d"_s, u"http://h4"_s); },
         u"success"_s,
         sample + QStringList{Sep, u"name=d"_s, u"head=http://h4"_s},
         {}},
        {"add an existing name changes nothing",
         sample,
         [](TemplateStore &s, qh::MessageSink &) { return s.AddTemplateRecord(u"b"_s, u"http://other"_s); },
         u"error"_s,
         sample,
         {}},
        {"write replaces a key where it stands",
         sample,
         [](TemplateStore &s, qh::MessageSink &) {
             return s.WriteTemplateParam(u"a"_s, u"ignored"_s, u"ititleindex"_s, u"9"_s);
         },
         u"success"_s,
         QStringList{Sep, u"name=a"_s, u"head=http://h1"_s, u"linkname=next=1"_s, u"ititleindex=9"_s,
                     u"noise without key"_s} +
             recordB() + recordC() + recordA2(),
         {}},
        {"write appends a missing key as the record's last line",
         sample,
         [](TemplateStore &s, qh::MessageSink &) {
             return s.WriteTemplateParam(u"b"_s, {}, u"iparentindex"_s, u"7"_s);
         },
         u"success"_s,
         recordA() + recordB() + QStringList{u"iparentindex=7"_s} + recordC() + recordA2(),
         {}},
        {"write to the last record appends at the end of the store",
         sample,
         [](TemplateStore &s, qh::MessageSink &) { return s.WriteTemplateParam(u"c"_s, {}, u"sEngine"_s, u"x"_s); },
         u"success"_s,
         recordA() + recordB() + recordC() + QStringList{u"sEngine=x"_s} + recordA2(),
         {}},
        {"write by a duplicated name goes to the first",
         sample,
         [](TemplateStore &s, qh::MessageSink &) { return s.WriteTemplateParam(u"a"_s, {}, u"sEngine"_s, u"x"_s); },
         u"success"_s,
         recordA() + QStringList{u"sEngine=x"_s} + recordB() + recordC() + recordA2(),
         {}},
        {"write never rewrites the head line",
         sample,
         [](TemplateStore &s, qh::MessageSink &) {
             return s.WriteTemplateParam(u"b"_s, u"http://new"_s, u"linkname"_s, u"n"_s);
         },
         u"success"_s,
         recordA() + recordB() + QStringList{u"linkname=n"_s} + recordC() + recordA2(),
         {}},
        {"write with an empty name finds the record by its exact head",
         sample,
         [](TemplateStore &s, qh::MessageSink &) {
             return s.WriteTemplateParam({}, u"http://h2"_s, u"ititleindex"_s, u"5"_s);
         },
         u"success"_s,
         recordA() + QStringList{Sep, u"name=b"_s, u"head=http://h2"_s, u"ititleindex=5"_s} + recordC() + recordA2(),
         {}},
        {"write to an unknown name",
         sample,
         [](TemplateStore &s, qh::MessageSink &) { return s.WriteTemplateParam(u"zz"_s, {}, u"k"_s, u"v"_s); },
         u"errornoname"_s,
         sample,
         {}},
        {"write to an unknown head",
         sample,
         [](TemplateStore &s, qh::MessageSink &) { return s.WriteTemplateParam({}, u"http://zz"_s, u"k"_s, u"v"_s); },
         u"errornohead"_s,
         sample,
         {}},
        {"write when the name line is the store's last line",
         QStringList{Sep, u"name=z"_s},
         [](TemplateStore &s, qh::MessageSink &) { return s.WriteTemplateParam(u"z"_s, {}, u"k"_s, u"v"_s); },
         u"errornoname"_s,
         QStringList{Sep, u"name=z"_s},
         {}},
        {"move up exchanges with the record before",
         sample,
         [](TemplateStore &s, qh::MessageSink &m) { return text(s.MoveTemplateUp(u"c"_s, m)); },
         u"true"_s,
         recordA() + recordC() + recordB() + recordA2(),
         {}},
        {"move up of the first record",
         sample,
         [](TemplateStore &s, qh::MessageSink &m) { return text(s.MoveTemplateUp(u"a"_s, m)); },
         u"false"_s,
         sample,
         {u"已经是第一个，无法向上移动。"_s}},
        {"move down moves the first of duplicated names",
         sample,
         [](TemplateStore &s, qh::MessageSink &m) { return text(s.MoveTemplateDown(u"a"_s, m)); },
         u"true"_s,
         recordB() + recordA() + recordC() + recordA2(),
         {}},
        {"move down exchanges with the record after",
         sample,
         [](TemplateStore &s, qh::MessageSink &m) { return text(s.MoveTemplateDown(u"c"_s, m)); },
         u"true"_s,
         recordA() + recordB() + recordA2() + recordC(),
         {}},
        {"move down of the last record",
         recordA() + recordB(),
         [](TemplateStore &s, qh::MessageSink &m) { return text(s.MoveTemplateDown(u"b"_s, m)); },
         u"false"_s,
         recordA() + recordB(),
         {u"已经是最后一个，无法向下移动。"_s}},
        {"move of an unknown name, no message",
         sample,
         [](TemplateStore &s, qh::MessageSink &m) -> QString {
             const QString up = text(s.MoveTemplateUp(u"zz"_s, m));
             return up + text(s.MoveTemplateDown(u"zz"_s, m));
         },
         u"falsefalse"_s,
         sample,
         {}},
        {"delete removes the last of duplicated names",
         sample,
         [](TemplateStore &s, qh::MessageSink &) { return text(s.DeleteTemplate(u"a"_s)); },
         u"true"_s,
         recordA() + recordB() + recordC(),
         {}},
        {"delete of a middle record",
         sample,
         [](TemplateStore &s, qh::MessageSink &) { return text(s.DeleteTemplate(u"b"_s)); },
         u"true"_s,
         recordA() + recordC() + recordA2(),
         {}},
        {"delete of the only template empties the store",
         recordB(),
         [](TemplateStore &s, qh::MessageSink &) { return text(s.DeleteTemplate(u"b"_s)); },
         u"true"_s,
         {},
         {}},
        {"delete of an unknown name",
         sample,
         [](TemplateStore &s, qh::MessageSink &) { return text(s.DeleteTemplate(u"zz"_s)); },
         u"false"_s,
         sample,
         {}},
        {"a name line at the very top has no separator to remove",
         QStringList{u"name=top"_s, u"k=1"_s, Sep, u"name=b"_s},
         [](TemplateStore &s, qh::MessageSink &m) -> QString {
             const QString moved = text(s.MoveTemplateUp(u"top"_s, m));
             return moved + text(s.DeleteTemplate(u"top"_s));
         },
         u"falsetrue"_s,
         QStringList{Sep, u"name=b"_s},
         {u"已经是第一个，无法向上移动。"_s}},
    };
    for (const StoreCase &c : cases) {
        TemplateStore store(c.before);
        RecordingSink sink;
        EXPECT_EQ(c.operation(store, sink), c.result) << c.what;
        EXPECT_EQ(store.lines(), c.after) << c.what;
        EXPECT_EQ(sink.messages, c.messages) << c.what;
    }
}

// Reads: first match by name, "-1" for what is missing, the record's bounds, and the automatic choice by head
// setting the name.
TEST(TemplateStoreTest, ReadTemplateParamFindsTheRightRecord)
{
    const TemplateStore store(sampleLines());
    const struct
    {
        const char *what;
        QString head;
        QString key;
        QString name;
        QString value;
        QString nameAfter;
    } cases[] = {
        {"by name, first of duplicates", u"http://h3"_s, u"ititleindex"_s, u"a"_s, u"1"_s, u"a"_s},
        {"by name, whatever the head", u"http://none"_s, u"ititleindex"_s, u"b"_s, u"2"_s, u"b"_s},
        {"value holding =", {}, u"linkname"_s, u"a"_s, u"next=1"_s, u"a"_s},
        {"key only in a later record", {}, u"linkname"_s, u"b"_s, u"-1"_s, u"b"_s},
        {"keyless line is no key", {}, u"noise without key"_s, u"a"_s, u"-1"_s, u"a"_s},
        {"unknown name", u"http://h1"_s, u"ititleindex"_s, u"zz"_s, u"-1"_s, u"zz"_s},
        {"automatic takes the first with the head", u"http://h1"_s, u"ititleindex"_s, {}, u"1"_s, u"a"_s},
        {"自动 is automatic", u"http://h2"_s, u"ititleindex"_s, u"自动"_s, u"2"_s, u"b"_s},
        {"automatic, unknown head leaves the name", u"http://zz"_s, u"ititleindex"_s, u"自动"_s, u"-1"_s, u"自动"_s},
        {"automatic, key missing still sets the name", u"http://h2"_s, u"linkname"_s, {}, u"-1"_s, u"b"_s},
    };
    for (const auto &c : cases) {
        QString name = c.name;
        EXPECT_EQ(store.ReadTemplateParam(c.head, c.key, name), c.value) << c.what;
        EXPECT_EQ(name, c.nameAfter) << c.what;
    }
}

// A head line as the store's last line, or at its very top, reads as missing or nameless, never out of range.
TEST(TemplateStoreTest, ReadTemplateParamOnTruncatedStores)
{
    QString name;
    EXPECT_EQ(TemplateStore({Sep, u"name=a"_s, u"head=http://h"_s}).ReadTemplateParam(u"http://h"_s, u"k"_s, name),
              u"-1"_s);
    EXPECT_EQ(name, QString());
    EXPECT_EQ(TemplateStore({u"head=http://h"_s, u"k=v"_s}).ReadTemplateParam(u"http://h"_s, u"k"_s, name), u"v"_s);
    EXPECT_EQ(name, QString());
}

// Lookups by exact line; heads also across http and https of the same host.
TEST(TemplateStoreTest, FindsNamesAndHeads)
{
    const TemplateStore store(sampleLines());
    EXPECT_TRUE(store.FindTemplateByName(u"b"_s));
    EXPECT_FALSE(store.FindTemplateByName(u"B"_s));
    EXPECT_FALSE(store.FindTemplateByName(u""_s));
    EXPECT_TRUE(store.TemplateExistsForHead(u"http://h2"_s));
    EXPECT_TRUE(store.TemplateExistsForHead(u"https://h2"_s));
    EXPECT_FALSE(store.TemplateExistsForHead(u"http://h"_s));
    EXPECT_FALSE(store.TemplateExistsForHead(u"http://www.h2"_s));
    EXPECT_FALSE(TemplateStore().TemplateExistsForHead(QString()));
}

// Names and heads in store order, "自动" first on request, duplicates kept.
TEST(TemplateStoreTest, ListsNamesAndHeads)
{
    const TemplateStore store(sampleLines());
    EXPECT_EQ(store.ListTemplateNames(false), (QStringList{u"a"_s, u"b"_s, u"c"_s, u"a"_s}));
    EXPECT_EQ(store.ListTemplateNames(true), (QStringList{u"自动"_s, u"a"_s, u"b"_s, u"c"_s, u"a"_s}));
    EXPECT_EQ(store.ListTemplateHeads(), (QStringList{u"http://h1"_s, u"http://h2"_s, u"http://h1"_s, u"http://h3"_s}));
    EXPECT_EQ(TemplateStore().ListTemplateNames(true), QStringList{u"自动"_s});
    EXPECT_EQ(store.recordOf(u"a"_s), recordA());
    EXPECT_EQ(store.recordOf(u"c"_s), recordC());
    EXPECT_EQ(store.recordOf(u"zz"_s), QStringList());
}
