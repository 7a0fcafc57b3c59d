#include "app/translations.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

using namespace Qt::StringLiterals;

namespace qh::app {

namespace {

QString fileFor(const QString &language, const QString &folder)
{
    QStringList parts = QString(language).replace(u'-', u'_').split(u'_', Qt::SkipEmptyParts);
    QStringList names;
    // "zh_Hant_TW": the files are named by language and territory ("zh_TW"), so that comes second.
    if (parts.size() == 3)
        names << parts.join(u'_') << parts.at(0) + u'_' + parts.at(2);
    for (; !parts.isEmpty(); parts.removeLast())
        names << parts.join(u'_');
    for (const QString &name : std::as_const(names)) {
        const QString path = folder + u"/qtbase_"_s + name + u".qm"_s;
        if (QFileInfo(path).isFile())
            return path;
    }
    return QString();
}

bool spokenByTheProgram(const QString &language)
{
    const QString base = language.section(u'-', 0, 0).section(u'_', 0, 0);
    return ProgramLanguages.contains(base, Qt::CaseInsensitive);
}

} // namespace

QString qtTranslationFile(const QStringList &uiLanguages, const QString &folder)
{
    for (const QString &language : uiLanguages) {
        if (!spokenByTheProgram(language))
            continue;
        if (const QString path = fileFor(language, folder); !path.isEmpty())
            return path;
    }
    return fileFor(FallbackLanguage, folder);
}

QString installQtTranslation(QCoreApplication &app, const QStringList &uiLanguages)
{
    const QString path = qtTranslationFile(uiLanguages, QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    if (path.isEmpty())
        return QString();
    auto *translator = new QTranslator(&app);
    if (!translator->load(path)) {
        delete translator;
        return QString();
    }
    QCoreApplication::installTranslator(translator);
    return path;
}

} // namespace qh::app
