#include "cli/webengineloader.h"

#include "browser/web/webengineplugin.h"

#include <QCoreApplication>
#include <QPluginLoader>

namespace qh::cli {

session::EngineBrowsers::WebBrowserFactory webEnginePluginFactory(QTextStream &err)
{
#ifdef QUILLHAUL_WEBENGINE_PLUGIN
    return [&err](QObject *parent) -> browser::Browser * {
        QPluginLoader loader(QCoreApplication::applicationDirPath() + QStringLiteral("/" QUILLHAUL_WEBENGINE_PLUGIN));
        auto *plugin = qobject_cast<browser::WebEnginePlugin *>(loader.instance());
        if (!plugin) {
            err << "quillhaul-cli: the web engine could not be loaded: " << loader.errorString() << Qt::endl;
            return nullptr;
        }
        return plugin->createGrabBrowser(parent);
    };
#else
    Q_UNUSED(err);
    return {};
#endif
}

} // namespace qh::cli
