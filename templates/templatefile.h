#pragma once

#include "common/error.h"
#include "templates/templatestore.h"

#include <QByteArray>
#include <QString>

// The template file (".tpe"): the store's lines joined with CR LF, encoded in GB18030 and scrambled into one line
// of upper-case hex digits followed by CR LF. Template files are shared between users, so every reader treats the
// bytes as untrusted: a bad file ends in qh::Error, never in a partial store.
namespace qh::templates {

// Template files are a few kilobytes; anything larger is refused before it is read whole.
inline constexpr qint64 MaxTemplateFileBytes = qint64(16) << 20;

// The conversion error of the template file and of integer values: "'<text>' is not a valid integer value".
Error conversionError(const QString &text);

// A template value as an integer (decimal, optional sign). Throws conversionError(text) when it is not one.
int toTemplateInt(const QString &text);

// Returns the seed and the scrambled bytes as upper-case hex digits (two per byte, no line break). A new random
// seed is drawn on every call.
QByteArray ScrambleText(const QByteArray &plain);

// The reverse of ScrambleText. digits must hold no line breaks; upper- and lower-case digits are accepted and a
// single digit left over at the end is ignored. Throws conversionError("$" + pair) for a pair that is not two hex
// digits and conversionError("$") when the seed is missing.
QByteArray UnscrambleText(const QByteArray &digits);

// The store held in the bytes of a template file (line breaks anywhere are ignored). Throws qh::Error.
TemplateStore parseTemplateFile(const QByteArray &fileBytes);

// Reads and parses a template file. The caller keeps its own store until this returns. Throws qh::Error for a
// file that cannot be read, is larger than MaxTemplateFileBytes, or is not a template file.
TemplateStore LoadTemplateFile(const QString &path);

// The whole content SaveTemplateFile writes for store: the scrambled digits followed by CR LF.
QByteArray formatTemplateFile(const TemplateStore &store);

// Replaces the file atomically with the scrambled store. Throws qh::Error naming the file and the cause; the old
// file then stays as it was.
void SaveTemplateFile(const QString &path, const TemplateStore &store);

} // namespace qh::templates
