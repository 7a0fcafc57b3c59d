#include "templates/templatechooser.h"

#include "templates/templatestore.h"

namespace qh::templates {

ListTemplateChooser::ListTemplateChooser() : m_items{AutomaticChoice.toString()} {}

QString ListTemplateChooser::itemText(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items.at(index) : QString();
}

void ListTemplateChooser::setCurrentIndex(int index)
{
    m_current = index >= 0 && index < m_items.size() ? index : -1;
}

void ListTemplateChooser::setItems(const QStringList &items)
{
    m_items = items;
    m_current = m_items.isEmpty() ? -1 : 0;
}

} // namespace qh::templates
