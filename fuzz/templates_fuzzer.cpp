// Template files come from anywhere: whatever the bytes, loading ends in a store or a qh::Error, and the store's
// operations and the choice of a template never crash on what was loaded.
#include "common/error.h"
#include "common/messagesink.h"
#include "templates/elementanchor.h"
#include "templates/selection.h"
#include "templates/sitehead.h"
#include "templates/templatechooser.h"
#include "templates/templatefile.h"
#include "templates/templatestore.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;
using namespace qh::templates;

namespace {

class NullSink final : public qh::MessageSink
{
public:
    void ShowMsg(const QString &) override {}
};

// Any value read as an anchor or a stored link name writes back to what reads the same.
void checkValueRoundTrips(const TemplateStore &loaded)
{
    for (const QString &line : loaded.lines()) {
        const QString value = line.mid(line.indexOf(u'=') + 1);
        const ElementAnchor anchor = parseAnchor(value);
        if (!anchor.isEmpty() && parseAnchor(formatAnchor(anchor)) != anchor)
            std::abort();
        if (linknameOfStored(storedLinkname(value)) != value)
            std::abort();
    }
}

void exerciseStore(const TemplateStore &loaded)
{
    checkValueRoundTrips(loaded);
    NullSink sink;
    const QStringList names = loaded.ListTemplateNames(false);
    const QStringList heads = loaded.ListTemplateHeads();
    for (const QString &head : heads) {
        (void)loaded.TemplateExistsForHead(head);
        QString name;
        (void)loaded.ReadTemplateParam(head, u"linkname"_s, name);
        (void)SiteHeadOf(head + u"/page.html"_s);
        // Automatic choice, then the name it settled on.
        ListTemplateChooser chooser;
        fillTemplateChooser(chooser, loaded);
        try {
            (void)SelectTemplate(loaded, head, chooser, sink);
            (void)SelectTemplate(loaded, head, chooser, sink);
        } catch (const qh::Error &) {
            // A position that is not an integer: the book does not start.
        }
    }
    for (const QString &name : names) {
        (void)loaded.recordOf(name);
        TemplateStore store = loaded;
        (void)store.WriteTemplateParam(name, QString(), u"ititleindex"_s, u"7"_s);
        (void)store.WriteTemplateParam(QString(), name, u"sEngine"_s, u"static"_s);
        (void)store.MoveTemplateUp(name, sink);
        (void)store.MoveTemplateDown(name, sink);
        (void)store.AddTemplateRecord(name + u'x', u"http://h"_s);
        (void)store.DeleteTemplate(name);
        (void)store.DeleteTemplate(name + u'x');
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses the input's meaning: the bytes of a template file, or the plain text of a store. Only
    // the second reaches the store operations with structured records, since a random file seldom unscrambles to
    // one.
    const QByteArray bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    TemplateStore store;
    try {
        if (data[0] & 1) {
            store = parseTemplateFile(bytes);
        } else {
            const QByteArray file = ScrambleText(bytes) + "\r\n";
            store = parseTemplateFile(file);
        }
    } catch (const qh::Error &) {
        return 0;
    }
    // A saved store reads back identically, unless it holds U+0000, whose byte the format cannot keep.
    if (!store.lines().join(QString()).contains(QChar(0)) && parseTemplateFile(formatTemplateFile(store)) != store)
        std::abort();
    exerciseStore(store);
    return 0;
}
