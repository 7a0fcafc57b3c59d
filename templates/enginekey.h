#pragma once

#include "templates/grabparams.h"

#include <QString>
#include <QStringView>

namespace qh::templates {

// The template key that names the engine of a template, and its values. Only "web" selects the web engine; a
// missing key (read as "-1") or any other value means the static engine, so older files keep their meaning.
inline constexpr QStringView EngineKey = u"sEngine";
inline constexpr QStringView WebEngineValue = u"web";
inline constexpr QStringView StaticEngineValue = u"static";

inline GrabEngine engineOfValue(QStringView value)
{
    return value == WebEngineValue ? GrabEngine::Web : GrabEngine::Static;
}

} // namespace qh::templates
