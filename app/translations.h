#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;

namespace qh::app {

// The languages the program's own texts are written in. Qt's texts (the standard buttons 是/否/确定/取消, the file
// dialogs) follow the user's language only among these, so that a window never mixes two languages.
inline const QStringList ProgramLanguages = {QStringLiteral("zh")};
// Qt's language when none of the user's is one of the program's.
inline const QString FallbackLanguage = QStringLiteral("zh_CN");

// The file of Qt's own translation ("qtbase_xx.qm" in folder) for the user's languages, in QLocale::uiLanguages'
// form ("zh-Hant-TW", "en-US"): the first of them the program speaks that has a file, tried from the most specific
// name down ("zh_Hant_TW", "zh_Hant", "zh"), else the fallback language's. Empty when neither has a file.
QString qtTranslationFile(const QStringList &uiLanguages, const QString &folder);

// Loads that file, for the system's languages from Qt's translation folder, into app. Returns the file loaded, or
// an empty text when there was none (Qt's texts then stay English).
QString installQtTranslation(QCoreApplication &app, const QStringList &uiLanguages);

} // namespace qh::app
