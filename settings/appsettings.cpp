#include "settings/appsettings.h"

#include "settings/inifile.h"

#include <QDir>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace qh::settings {

namespace {

const QString Section = u"system"_s;
const QString KeySavePath = u"savepath"_s;
const QString KeyProxy = u"proxy"_s;
const QString KeyProxyPort = u"proxyport"_s;
const QString KeyAutoDownload = u"autodown"_s;
const QString KeyEncoding = u"encoding"_s;
const QString KeyPageDelay = u"pagedelay"_s;
const QString KeyFormat = u"format"_s;

bool allDigits(QStringView text, int base)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        const bool decimal = c >= u'0' && c <= u'9';
        const bool hex = decimal || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        const bool ok = base == 16 ? hex : decimal;
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

QString DocumentsFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        return QString();
    QDir().mkpath(folder);
    return QDir::toNativeSeparators(folder);
}

QString defaultSavePath(const QString &documentsFolder)
{
    return QDir::toNativeSeparators(QDir::fromNativeSeparators(documentsFolder) + u"/我抓的书"_s);
}

AppSettings LoadSettings(const QString &iniPath)
{
    return LoadSettings(iniPath, DocumentsFolder());
}

AppSettings LoadSettings(const QString &iniPath, const QString &documentsFolder)
{
    const IniFile ini = IniFile::load(iniPath);
    AppSettings settings;
    settings.SavePath = ini.value(Section, KeySavePath).value_or(defaultSavePath(documentsFolder));
    settings.Proxy = ini.value(Section, KeyProxy).value_or(QString());
    settings.ProxyPort = ini.value(Section, KeyProxyPort).value_or(QString());
    settings.AutoDownload = readAutoDownload(ini.value(Section, KeyAutoDownload).value_or(QString()));
    settings.BookEncoding = readEncoding(ini.value(Section, KeyEncoding).value_or(QString()));
    settings.PageDelay = readPageDelay(ini.value(Section, KeyPageDelay).value_or(QString()));
    settings.OutputFormat = formatFromKey(ini.value(Section, KeyFormat).value_or(QString())).value_or(BookFormat::Text);
    return settings;
}

void SaveSettings(const QString &iniPath, const AppSettings &settings)
{
    IniFile ini = IniFile::load(iniPath);
    ini.setValue(Section, KeySavePath, settings.SavePath);
    ini.setValue(Section, KeyProxy, settings.Proxy);
    ini.setValue(Section, KeyProxyPort, settings.ProxyPort);
    ini.setValue(Section, KeyAutoDownload, settings.AutoDownload ? u"1"_s : u"0"_s);
    ini.setValue(Section, KeyEncoding, settings.BookEncoding == text::Encoding::Utf8 ? u"utf-8"_s : u"gb18030"_s);
    ini.setValue(Section, KeyPageDelay, QString::number(qMax(settings.PageDelay, 0)));
    ini.setValue(Section, KeyFormat, formatKey(settings.OutputFormat));
    ini.save(iniPath);
}

QString StripSpaces(const QString &text)
{
    QString result = text;
    result.remove(u' ');
    return result;
}

bool readAutoDownload(const QString &value)
{
    QStringView digits(value);
    if (digits.startsWith(u'-') || digits.startsWith(u'+'))
        digits = digits.mid(1);
    int base = 10;
    if (digits.startsWith(u'$')) {
        digits = digits.mid(1);
        base = 16;
    } else if (digits.startsWith(u"0x"_s, Qt::CaseInsensitive)) {
        digits = digits.mid(2);
        base = 16;
    }
    if (!allDigits(digits, base))
        return true;
    // Only the value zero means no, so the digits need not fit any integer type.
    for (const QChar c : digits) {
        if (c != u'0')
            return true;
    }
    return false;
}

int readPageDelay(const QString &value)
{
    if (!allDigits(value, 10))
        return 0;
    bool ok = false;
    const int delay = value.toInt(&ok);
    return ok ? delay : 0;
}

text::Encoding readEncoding(const QString &value)
{
    if (value.compare(u"utf-8"_s, Qt::CaseInsensitive) == 0 || value.compare(u"utf8"_s, Qt::CaseInsensitive) == 0)
        return text::Encoding::Utf8;
    return text::Encoding::Gb18030;
}

} // namespace qh::settings
