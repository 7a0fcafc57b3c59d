#pragma once

#include "common/bookformat.h"
#include "common/textfile.h"

#include <QString>

namespace qh::settings {

// The program's settings, kept in "SysCfg.ini", section "system". Paths use the platform's separators.
struct AppSettings
{
    QString SavePath;         // "savepath": the folder that receives the books' text files
    QString Proxy;            // "proxy": the proxy's address; the masked field's bare dots mean none
    QString ProxyPort;        // "proxyport"
    bool AutoDownload = true; // "autodown": start downloading when the program starts
    text::Encoding BookEncoding = text::Encoding::Gb18030; // "encoding": of the books' text files
    int PageDelay = 0; // "pagedelay": least milliseconds between two page requests of the grabber
    BookFormat OutputFormat = BookFormat::Text; // "format": "text" or "epub", what new books are written as

    bool operator==(const AppSettings &) const = default;
};

// The user's documents folder as the platform reports it, created when missing; empty when there is none.
QString DocumentsFolder();

// documentsFolder + "我抓的书", joined with the platform's separator.
QString defaultSavePath(const QString &documentsFolder);

// Reads the settings; a missing file or key gives the default. Throws qh::Error when the file exists but cannot be
// read.
AppSettings LoadSettings(const QString &iniPath);
// The same with the documents folder given, for callers that have already asked for it.
AppSettings LoadSettings(const QString &iniPath, const QString &documentsFolder);

// Writes "savepath", "proxy", "proxyport", "autodown", "encoding", "pagedelay" and "format" in that order, creating the
// file or the section when missing and leaving every other line alone. Throws qh::Error when the file cannot be
// written.
void SaveSettings(const QString &iniPath, const AppSettings &settings);

// The text with every space (code 32) removed; what the dialog does to the masked proxy fields.
QString StripSpaces(const QString &text);

// "autodown" as Windows' integer reading takes it: decimal, or hexadecimal after "0x" or "$", with an optional
// sign. Zero is no; anything else, an empty or a non-numeric value included, is yes.
bool readAutoDownload(const QString &value);

// "pagedelay": a non-negative decimal number of milliseconds; anything else is 0.
int readPageDelay(const QString &value);

// "encoding": "utf-8" (or "utf8") in any case is UTF-8; anything else is GB18030.
text::Encoding readEncoding(const QString &value);

} // namespace qh::settings
