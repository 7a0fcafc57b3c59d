#include "templates/wizardsave.h"

using namespace Qt::StringLiterals;

namespace qh::templates {

void storeTemplateValues(TemplateStore &store, const QString &name, const QString &head, const TemplateValues &values)
{
    if (!store.FindTemplateByName(name))
        store.AddTemplateRecord(name, head);
    store.WriteTemplateParam(name, QString(), u"linkname"_s, values.linkname);
    store.WriteTemplateParam(name, QString(), u"ititleindex"_s, QString::number(values.ititleindex));
    store.WriteTemplateParam(name, QString(), u"icontentindex"_s, QString::number(values.icontentindex));
    store.WriteTemplateParam(name, QString(), u"iparentindex"_s, QString::number(values.iparentindex));
    store.WriteTemplateParam(name, QString(), u"sContentTagname"_s, values.sContentTagname);
    store.WriteTemplateParam(name, QString(), u"sTitleTagname"_s, values.sTitleTagname);
}

} // namespace qh::templates
