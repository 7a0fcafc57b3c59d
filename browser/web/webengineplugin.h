#pragma once

#include "browser/browser.h"

#include <QtPlugin>

namespace qh::browser {

// The web engine as a plugin, for programs that should not load Chromium's libraries unless a page needs them
// (the command-line program starts many times a day and mostly reads static pages).
class WebEnginePlugin
{
public:
    virtual ~WebEnginePlugin() = default;
    // A web browser set up for grabbing, owned by parent.
    virtual Browser *createGrabBrowser(QObject *parent) = 0;
};

} // namespace qh::browser

#define QuillhaulWebEnginePlugin_iid "org.quillhaul.WebEnginePlugin/1"
Q_DECLARE_INTERFACE(qh::browser::WebEnginePlugin, QuillhaulWebEnginePlugin_iid)
