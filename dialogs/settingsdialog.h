#pragma once

#include "settings/appsettings.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace qh::dialogs {

// The settings dialog "系统设置". It edits a copy of the settings: "确定" writes them to the INI file and accepts,
// "取消" and the close box change nothing. The caller applies result() after an accepted run.
class TFrmCfg : public QDialog
{
    Q_OBJECT

public:
    // Asks the user for an existing folder; returns its path, or an empty text when the user cancels.
    using FolderChooser = std::function<QString(QWidget *parent)>;

    TFrmCfg(const settings::AppSettings &settings, const QString &iniPath, QWidget *parent = nullptr);

    // The settings as saved by "确定"; until then the settings the dialog was given.
    settings::AppSettings result() const { return m_settings; }

    // Replaces the system's folder chooser, for tests.
    void setFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }

private:
    void BBtnllClick();
    void BBtnokClick();

    settings::AppSettings m_settings;
    QString m_iniPath;
    FolderChooser m_chooseFolder;

    QLineEdit *m_EdtSavePath;
    QPushButton *m_BBtnll;
    QCheckBox *m_CBoxAutoDown;
    QLineEdit *m_EdtProxy;
    QLineEdit *m_EdtProxyPort;
    QComboBox *m_CBoxEncoding;
    QSpinBox *m_EdtPageDelay;
    QComboBox *m_CBoxFormat; // "输出格式"
    QPushButton *m_BBtnok;
    QPushButton *m_BBtnCancel;
};

} // namespace qh::dialogs
