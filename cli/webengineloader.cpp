#include "cli/webengineloader.h"

#include "browser/web/webengineplugin.h"
#include "common/installlayout.h"

#include <QCoreApplication>
#include <QPluginLoader>

namespace qh::cli {

session::EngineBrowsers::WebBrowserFactory webEnginePluginFactory(QTextStream &err)
{
#ifdef QUILLHAUL_WEBENGINE_PLUGIN
    return [&err](QObject *parent) -> browser::Browser * {
        const QString name = QStringLiteral(QUILLHAUL_WEBENGINE_PLUGIN);
        const QString path = InstallLayout::findFile(InstallLayout::Folder::Plugin, name);
        QPluginLoader loader(path.isEmpty() ? QCoreApplication::applicationDirPath() + u'/' + name : path);
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
