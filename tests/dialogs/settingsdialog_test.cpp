#include "dialogs/portvalidator.h"
#include "dialogs/settingsdialog.h"

#include "common/textfile.h"
#include "settings/appsettings.h"
#include "support/testutils.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qh::dialogs;
using qh::settings::AppSettings;
using qh::text::Encoding;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A settings dialog on a temporary copy of a settings fixture, shown so that it takes clicks and keys.
class CfgDialog : public ::testing::Test
{
protected:
    void open(const QString &fixture)
    {
        ASSERT_TRUE(m_dir.isValid());
        m_iniPath = m_dir.filePath(u"SysCfg.ini"_s);
        ASSERT_TRUE(QFile::copy(qh::test::dataPath(fixture), m_iniPath));
        QFile::setPermissions(m_iniPath, QFile::ReadOwner | QFile::WriteOwner);
        m_loaded = qh::settings::LoadSettings(m_iniPath, m_dir.path());
        m_dialog = std::make_unique<TFrmCfg>(m_loaded, m_iniPath);
        m_dialog->show();
    }

    template<typename T> T *control(const QString &name) const
    {
        T *found = m_dialog->findChild<T *>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }

    void click(const QString &button) const { QTest::mouseClick(control<QPushButton>(button), Qt::LeftButton); }

    void retype(const QString &edit, const QString &text) const
    {
        QLineEdit *line = control<QLineEdit>(edit);
        line->clear();
        QTest::keyClicks(line, text);
    }

    QTemporaryDir m_dir;
    QString m_iniPath;
    AppSettings m_loaded;
    std::unique_ptr<TFrmCfg> m_dialog;
};

struct ShownProxyCase
{
    const char16_t *proxy;
    const char16_t *port;
    const char16_t *shownProxy;
    const char16_t *shownPort;
};

void PrintTo(const ShownProxyCase &c, std::ostream *os)
{
    *os << '"' << QString::fromUtf16(c.proxy).toStdString() << "\" \"" << QString::fromUtf16(c.port).toStdString()
        << '"';
}

class ShownProxy : public ::testing::TestWithParam<ShownProxyCase>
{};

struct PortCase
{
    const char16_t *input;
    bool acceptable;
};

void PrintTo(const PortCase &c, std::ostream *os)
{
    *os << '"' << QString::fromUtf16(c.input).toStdString() << '"';
}

class PortInput : public ::testing::TestWithParam<PortCase>
{};

} // namespace

// Every control starts from the settings it was given.
TEST_F(CfgDialog, FilledFromSettings)
{
    open(u"cfg-full.ini"_s);

    EXPECT_EQ(m_dialog->windowTitle(), u"系统设置"_s);
    EXPECT_EQ(control<QLineEdit>(u"EdtSavePath"_s)->text(), u"D:\\我的文档\\我抓的书"_s);
    EXPECT_TRUE(control<QLineEdit>(u"EdtSavePath"_s)->isReadOnly());
    EXPECT_FALSE(control<QCheckBox>(u"CBoxAutoDown"_s)->isChecked());
    EXPECT_EQ(control<QLineEdit>(u"EdtProxy"_s)->text(), u"192.168.1.10"_s);
    EXPECT_EQ(control<QLineEdit>(u"EdtProxyPort"_s)->text(), u"8080"_s);
    EXPECT_EQ(control<QComboBox>(u"CBoxEncoding"_s)->currentText(), u"UTF-8"_s);
    EXPECT_EQ(control<QSpinBox>(u"EdtPageDelay"_s)->value(), 1500);
    EXPECT_EQ(control<QComboBox>(u"CBoxFormat"_s)->currentText(), u"EPUB"_s);
}

// The old masked fields' leftovers (dots and spaces for no address, blanks around digits, ports above 65535) show
// as what they mean: a usable address and port, or nothing.
TEST_P(ShownProxy, OldMaskedValuesReadAsWhatTheyMean)
{
    AppSettings settings;
    settings.Proxy = QString::fromUtf16(GetParam().proxy);
    settings.ProxyPort = QString::fromUtf16(GetParam().port);
    TFrmCfg dialog(settings, QString());

    EXPECT_EQ(dialog.findChild<QLineEdit *>(u"EdtProxy"_s)->text(), QString::fromUtf16(GetParam().shownProxy));
    EXPECT_EQ(dialog.findChild<QLineEdit *>(u"EdtProxyPort"_s)->text(), QString::fromUtf16(GetParam().shownPort));
}

INSTANTIATE_TEST_SUITE_P(Table, ShownProxy,
                         ::testing::Values(ShownProxyCase{u"...", u"", u"", u""},
                                           ShownProxyCase{u"   .   .   .   ", u"     ", u"", u""},
                                           ShownProxyCase{u" 10. 0. 0. 1", u"80   ", u"10.0.0.1", u"80"},
                                           ShownProxyCase{u"proxy.example.org", u"3128", u"proxy.example.org", u"3128"},
                                           ShownProxyCase{u"10.0.0.1", u"99999", u"10.0.0.1", u""}));

// "确定" saves every choice to the file, leaves its other lines alone, and result() holds what was saved.
TEST_F(CfgDialog, OkSavesEveryChoice)
{
    open(u"cfg-legacy.ini"_s);
    const QString books = QDir::toNativeSeparators(m_dir.filePath(u"书"_s));
    m_dialog->setFolderChooser([&](QWidget *) { return m_dir.filePath(u"书"_s); });

    click(u"BBtnll"_s);
    control<QCheckBox>(u"CBoxAutoDown"_s)->setChecked(true);
    retype(u"EdtProxy"_s, u"proxy.example.org"_s);
    retype(u"EdtProxyPort"_s, u"8080"_s);
    control<QComboBox>(u"CBoxEncoding"_s)->setCurrentText(u"UTF-8"_s);
    control<QSpinBox>(u"EdtPageDelay"_s)->setValue(2500);
    EXPECT_EQ(control<QComboBox>(u"CBoxFormat"_s)->currentText(), u"文本"_s);
    control<QComboBox>(u"CBoxFormat"_s)->setCurrentText(u"EPUB"_s);
    click(u"BBtnok"_s);

    EXPECT_EQ(m_dialog->QDialog::result(), QDialog::Accepted);
    const AppSettings saved = m_dialog->result();
    EXPECT_EQ(saved.SavePath, books);
    EXPECT_TRUE(saved.AutoDownload);
    EXPECT_EQ(saved.Proxy, u"proxy.example.org"_s);
    EXPECT_EQ(saved.ProxyPort, u"8080"_s);
    EXPECT_EQ(saved.BookEncoding, Encoding::Utf8);
    EXPECT_EQ(saved.PageDelay, 2500);
    EXPECT_EQ(saved.OutputFormat, qh::BookFormat::Epub);
    EXPECT_EQ(qh::settings::LoadSettings(m_iniPath, m_dir.path()), saved);

    const QStringList lines = qh::text::readLines(m_iniPath);
    EXPECT_TRUE(lines.contains(u"skin=经典"_s));
    EXPECT_TRUE(lines.contains(u"last=http://www.example.com/book/1.html"_s));
}

// "确定" without touching anything on an old file writes an empty proxy, not the masked field's bare dots.
TEST_F(CfgDialog, OkUntouchedDropsTheMaskedDots)
{
    open(u"cfg-legacy.ini"_s);

    click(u"BBtnok"_s);

    const AppSettings saved = qh::settings::LoadSettings(m_iniPath, m_dir.path());
    EXPECT_EQ(saved.Proxy, QString());
    EXPECT_EQ(saved.ProxyPort, QString());
    EXPECT_EQ(saved.SavePath, m_loaded.SavePath);
    EXPECT_FALSE(saved.AutoDownload);
}

// "取消" after picking a folder and changing fields leaves the file byte for byte and the settings as they were.
TEST_F(CfgDialog, CancelChangesNothing)
{
    open(u"cfg-full.ini"_s);
    const QByteArray before = fileBytes(m_iniPath);
    m_dialog->setFolderChooser([&](QWidget *) { return m_dir.path(); });

    click(u"BBtnll"_s);
    retype(u"EdtProxy"_s, u"10.1.1.1"_s);
    control<QSpinBox>(u"EdtPageDelay"_s)->setValue(9);
    click(u"BBtnCancel"_s);

    EXPECT_EQ(m_dialog->QDialog::result(), QDialog::Rejected);
    EXPECT_FALSE(m_dialog->isVisible());
    EXPECT_EQ(m_dialog->result(), m_loaded);
    EXPECT_EQ(fileBytes(m_iniPath), before);
}

// A cancelled folder chooser leaves the shown folder as it was.
TEST_F(CfgDialog, CancelledChooserKeepsTheFolder)
{
    open(u"cfg-full.ini"_s);
    int asked = 0;
    m_dialog->setFolderChooser([&](QWidget *) {
        ++asked;
        return QString();
    });

    click(u"BBtnll"_s);

    EXPECT_EQ(asked, 1);
    EXPECT_EQ(control<QLineEdit>(u"EdtSavePath"_s)->text(), m_loaded.SavePath);
}

// A file that cannot be written: the error's message is shown, the dialog stays open with the user's choices and
// result() still holds the old settings.
TEST_F(CfgDialog, SaveErrorKeepsTheDialogOpen)
{
    open(u"cfg-full.ini"_s);
    QFile blocker(m_dir.filePath(u"not-a-folder"_s));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    TFrmCfg dialog(m_loaded, m_dir.filePath(u"not-a-folder/SysCfg.ini"_s));
    dialog.show();
    dialog.findChild<QSpinBox *>(u"EdtPageDelay"_s)->setValue(42);

    QTest::mouseClick(dialog.findChild<QPushButton *>(u"BBtnok"_s), Qt::LeftButton);

    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), m_loaded);
    EXPECT_EQ(dialog.findChild<QSpinBox *>(u"EdtPageDelay"_s)->value(), 42);
    const auto *box = dialog.findChild<QMessageBox *>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_FALSE(box->text().isEmpty());
    EXPECT_TRUE(box->windowTitle().isEmpty());
}

// The port field takes nothing but an empty text or a number from 0 to 65535.
TEST_P(PortInput, OnlyPortNumbersAreAccepted)
{
    PortValidator validator;
    QString input = QString::fromUtf16(GetParam().input);
    int pos = 0;
    EXPECT_EQ(validator.validate(input, pos) == QValidator::Acceptable, GetParam().acceptable);
}

INSTANTIATE_TEST_SUITE_P(Table, PortInput,
                         ::testing::Values(PortCase{u"", true}, PortCase{u"0", true}, PortCase{u"8080", true},
                                           PortCase{u"65535", true}, PortCase{u"65536", false},
                                           PortCase{u"99999", false}, PortCase{u"000080", false},
                                           PortCase{u"-1", false}, PortCase{u"80a", false}, PortCase{u" 80", false},
                                           PortCase{u"８０", false}));
