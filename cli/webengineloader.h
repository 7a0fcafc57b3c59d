#pragma once

#include "session/enginebrowsers.h"

#include <QTextStream>

namespace qh::cli {

// Makes web browsers from the web engine plugin next to this program, which is loaded only when a page first needs
// it: most runs read static pages and never pay for loading Chromium. A plugin that cannot be loaded is reported on
// err, and the web engine is then unavailable.
session::EngineBrowsers::WebBrowserFactory webEnginePluginFactory(QTextStream &err);

} // namespace qh::cli
