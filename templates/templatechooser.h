#pragma once

#include <QString>
#include <QStringList>

namespace qh::templates {

// The template choice as SelectTemplate and the template commands see it: a list of items, "自动" first, then the
// template names, with at most one selected. The main window wraps its drop-down list (CBoxTemplate) in this;
// headless callers use ListTemplateChooser.
class TemplateChooser
{
public:
    virtual ~TemplateChooser() = default;

    virtual int count() const = 0;
    virtual QString itemText(int index) const = 0;
    // -1 when no item is selected, which means automatic selection.
    virtual int currentIndex() const = 0;
    // The selected item's text; empty when none is selected.
    virtual QString currentText() const = 0;
    // -1 selects nothing.
    virtual void setCurrentIndex(int index) = 0;
    // Replaces all items; which item is selected afterwards is up to the caller to set.
    virtual void setItems(const QStringList &items) = 0;
};

// A chooser without widgets: the items in memory.
class ListTemplateChooser final : public TemplateChooser
{
public:
    ListTemplateChooser();

    int count() const override { return int(m_items.size()); }
    QString itemText(int index) const override;
    int currentIndex() const override { return m_current; }
    QString currentText() const override { return itemText(m_current); }
    void setCurrentIndex(int index) override;
    void setItems(const QStringList &items) override;

private:
    QStringList m_items;
    int m_current = 0;
};

} // namespace qh::templates
