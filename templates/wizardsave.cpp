#include "templates/wizardsave.h"

using namespace Qt::StringLiterals;

namespace qh::templates {

// Read from the record itself: ReadTemplateParam would take the name "自动" as the automatic choice.
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
    store.WriteTemplateParam(name, QString(), u"linkname"_s, values.linkname);
    store.WriteTemplateParam(name, QString(), u"ititleindex"_s, QString::number(values.ititleindex));
    store.WriteTemplateParam(name, QString(), u"icontentindex"_s, QString::number(values.icontentindex));
    store.WriteTemplateParam(name, QString(), u"iparentindex"_s, QString::number(values.iparentindex));
    store.WriteTemplateParam(name, QString(), u"sContentTagname"_s, values.sContentTagname);
    store.WriteTemplateParam(name, QString(), u"sTitleTagname"_s, values.sTitleTagname);
    if (values.engine == GrabEngine::Web)
        store.WriteTemplateParam(name, QString(), EngineKey.toString(), WebEngineValue.toString());
    else if (wasWeb)
        store.WriteTemplateParam(name, QString(), EngineKey.toString(), StaticEngineValue.toString());
}

} // namespace qh::templates
