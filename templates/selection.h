#pragma once

#include "common/messagesink.h"
#include "templates/grabparams.h"

#include <QString>

namespace qh::templates {

class TemplateChooser;
class TemplateStore;

// Fills the engine's parameters for a book whose page has site head head. The choice is chooser's current text:
// empty or "自动" picks the first template in store order that serves head, a name picks that template whatever
// its head. The template in use is then selected in chooser (letter case ignored; nothing selected if no item
// matches). Each of the three positions the template lacks reads as -1 and shows "提取模板参数错误" through
// messages; the book starts anyway. The engine comes from the key "sEngine" (see enginekey.h), the anchors from
// their keys (see elementanchor.h: a missing or damaged one is empty). Throws the conversion
// error when a position is not an integer.
GrabParams SelectTemplate(const TemplateStore &store, const QString &head, TemplateChooser &chooser,
                          MessageSink &messages);

// The chooser's items become "自动" and the template names in store order; the caller then selects an item.
void fillTemplateChooser(TemplateChooser &chooser, const TemplateStore &store);

// Selects the first item equal to text, letter case ignored; selects nothing when no item is. Returns the index.
int selectChooserItem(TemplateChooser &chooser, const QString &text);

} // namespace qh::templates
