#include "templates/selection.h"

#include "common/messagesink.h"
#include "templates/elementanchor.h"
#include "templates/enginekey.h"
#include "templates/templatechooser.h"
#include "templates/templatefile.h"
#include "templates/templatestore.h"

using namespace Qt::StringLiterals;

namespace qh::templates {

namespace {

// Reads one position; a missing one is -1 and the user is told, but the book starts anyway.
int readPosition(const TemplateStore &store, const QString &head, const QString &key, QString &name,
                 MessageSink &messages)
{
    const int value = toTemplateInt(store.ReadTemplateParam(head, key, name));
    if (value == -1)
        messages.ShowMsg(u"提取模板参数错误"_s);
    return value;
}

} // namespace

GrabParams SelectTemplate(const TemplateStore &store, const QString &head, TemplateChooser &chooser,
                          MessageSink &messages)
{
    GrabParams params;
    // In automatic mode the first read sets name, and every later read goes by it.
    QString name = chooser.currentText();
    params.ititleindex = readPosition(store, head, u"ititleindex"_s, name, messages);
    if (!name.trimmed().isEmpty())
        selectChooserItem(chooser, name);
    params.icontentindex = readPosition(store, head, u"icontentindex"_s, name, messages);
    params.iparentindex = readPosition(store, head, u"iparentindex"_s, name, messages);
    params.linkname = linknameOfStored(store.ReadTemplateParam(head, u"linkname"_s, name));
    params.sContentTagname = store.ReadTemplateParam(head, u"sContentTagname"_s, name);
    params.sTitleTagname = store.ReadTemplateParam(head, u"sTitleTagname"_s, name);
    params.engine = engineOfValue(store.ReadTemplateParam(head, EngineKey.toString(), name));
    params.titleAnchor = parseAnchor(store.ReadTemplateParam(head, TitleAnchorKey.toString(), name));
    params.contentAnchor = parseAnchor(store.ReadTemplateParam(head, ContentAnchorKey.toString(), name));
    params.linkAnchor = parseAnchor(store.ReadTemplateParam(head, LinkAnchorKey.toString(), name));
    return params;
}

void fillTemplateChooser(TemplateChooser &chooser, const TemplateStore &store)
{
    chooser.setItems(store.ListTemplateNames(true));
}

int selectChooserItem(TemplateChooser &chooser, const QString &text)
{
    int index = -1;
    for (int i = 0; i < chooser.count() && index < 0; ++i) {
        if (chooser.itemText(i).compare(text, Qt::CaseInsensitive) == 0)
            index = i;
    }
    chooser.setCurrentIndex(index);
    return index;
}

} // namespace qh::templates
