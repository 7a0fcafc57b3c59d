#include "browser/web/webengineplugin.h"

#include "browser/web/webbrowser.h"

#include <QObject>

namespace qh::browser {

class WebEngineModule final : public QObject, public WebEnginePlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QuillhaulWebEnginePlugin_iid)
    Q_INTERFACES(qh::browser::WebEnginePlugin)

public:
    Browser *createGrabBrowser(QObject *parent) override { return createWebGrabBrowser(parent); }
};

} // namespace qh::browser

#include "webengineplugin.moc"
