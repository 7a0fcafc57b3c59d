#include "templates/wizardsave.h"

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

namespace qh::templates {

// Read from the record itself: ReadTemplateParam would take the name "自动" as the automatic choice.
namespace {

bool recordHasKey(const QStringList &record, QStringView key)
{
    return std::any_of(record.cbegin(), record.cend(),
                       [key](const QString &line) { return line.startsWith(key + u'='); });
}

} // namespace

GrabEngine engineOfTemplate(const TemplateStore &store, const QString &name)
{
    const QStringList record = store.recordOf(name);
    for (const QString &line : record) {
        if (line.startsWith(EngineKey + u'='))
            return engineOfValue(QStringView(line).sliced(EngineKey.size() + 1));
    }
    return GrabEngine::Static;
}

void storeTemplateValues(TemplateStore &store, const QString &name, const QString &head, const TemplateValues &values)
{
    const bool wasWeb = engineOfTemplate(store, name) == GrabEngine::Web;
    if (!store.FindTemplateByName(name))
        store.AddTemplateRecord(name, head);
    store.WriteTemplateParam(name, QString(), u"linkname"_s, storedLinkname(values.linkname));
    store.WriteTemplateParam(name, QString(), u"ititleindex"_s, QString::number(values.ititleindex));
    store.WriteTemplateParam(name, QString(), u"icontentindex"_s, QString::number(values.icontentindex));
    store.WriteTemplateParam(name, QString(), u"iparentindex"_s, QString::number(values.iparentindex));
    store.WriteTemplateParam(name, QString(), u"sContentTagname"_s, values.sContentTagname);
    store.WriteTemplateParam(name, QString(), u"sTitleTagname"_s, values.sTitleTagname);
    if (values.engine == GrabEngine::Web)
        store.WriteTemplateParam(name, QString(), EngineKey.toString(), WebEngineValue.toString());
    else if (wasWeb)
        store.WriteTemplateParam(name, QString(), EngineKey.toString(), StaticEngineValue.toString());
    const QStringList record = store.recordOf(name);
    const std::pair<QStringView, const ElementAnchor &> anchors[] = {{TitleAnchorKey, values.titleAnchor},
                                                                     {ContentAnchorKey, values.contentAnchor},
                                                                     {LinkAnchorKey, values.linkAnchor}};
    for (const auto &[key, anchor] : anchors) {
        if (!anchor.isEmpty() || recordHasKey(record, key))
            store.WriteTemplateParam(name, QString(), key.toString(), formatAnchor(anchor));
    }
}

} // namespace qh::templates
