#include "app/translations.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTranslator>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// Qt's texts follow the first of the user's languages that the program speaks (Chinese), from its most specific
// file down; any other language, or none, gets simplified Chinese.
TEST(QtTranslation, FollowsTheUsersChineseElseSimplifiedChinese)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (const char *language : {"zh_CN", "zh_TW", "en", "ja", "de"}) {
        QFile file(folder.filePath(u"qtbase_"_s + QLatin1String(language) + u".qm"_s));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const struct
    {
        QStringList uiLanguages;
        const char *chosen; // the language of the file chosen
    } cases[] = {
        {{u"zh-CN"_s}, "zh_CN"},
        {{u"zh-TW"_s, u"zh-CN"_s}, "zh_TW"},
        {{u"zh-Hant-TW"_s}, "zh_TW"},
        {{u"zh-Hant-HK"_s}, "zh_CN"}, // no file for it, nor for "zh_Hant" or "zh": the fallback
        {{u"en-US"_s}, "zh_CN"},
        {{u"ja-JP"_s, u"zh-TW"_s}, "zh_TW"},
        {{u"de-DE"_s, u"en-US"_s}, "zh_CN"},
        {{u"C"_s}, "zh_CN"},
        {{}, "zh_CN"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(qh::app::qtTranslationFile(c.uiLanguages, folder.path()),
                  folder.filePath(u"qtbase_"_s + QLatin1String(c.chosen) + u".qm"_s))
            << c.uiLanguages.join(u',').toStdString();
    }

    QTemporaryDir empty;
    EXPECT_EQ(qh::app::qtTranslationFile({u"zh-CN"_s}, empty.path()), QString());
}

// With Qt's translation loaded, the standard buttons of a question box and a notice read in Chinese even on an
// English system.
TEST(QtTranslation, StandardButtonsReadInChinese)
{
    const QString loaded = qh::app::installQtTranslation(*qApp, {u"en-US"_s});
    if (loaded.isEmpty())
        GTEST_SKIP() << "Qt's translations (qt6-translations-l10n) are not installed";
    EXPECT_TRUE(loaded.endsWith(u"qtbase_zh_CN.qm"_s)) << loaded.toStdString();

    QMessageBox box(QMessageBox::Question, u"提示"_s, u"是否继续？"_s,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok | QMessageBox::Cancel);
    const struct
    {
        QMessageBox::StandardButton button;
        const char16_t *text;
    } cases[] = {
        {QMessageBox::Yes, u"是"},
        {QMessageBox::No, u"否"},
        {QMessageBox::Ok, u"确定"},
        {QMessageBox::Cancel, u"取消"},
    };
    for (const auto &c : cases) {
        const QString text = box.button(c.button)->text().remove(u'&');
        EXPECT_TRUE(text.startsWith(QString::fromUtf16(c.text))) << text.toStdString();
    }

    // The other window tests expect Qt's own texts.
    for (QTranslator *translator : qApp->findChildren<QTranslator *>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

} // namespace
