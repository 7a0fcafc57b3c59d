#include "browser/html/authorstyles.h"

#include <QHash>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace qh::browser::css {

namespace {

bool isSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

bool hasWord(QStringView list, QStringView word)
{
    if (word.isEmpty())
        return false;
    const qsizetype size = list.size();
    for (qsizetype from = 0; (from = list.indexOf(word, from)) >= 0; ++from) {
        const qsizetype end = from + word.size();
        if ((from == 0 || isSpace(list[from - 1])) && (end == size || isSpace(list[end])))
            return true;
    }
    return false;
}

// Outcomes of matching the rest of a selector, which tell a failed descendant or sibling search whether trying
// further ancestors or siblings could help; this keeps selectors like "a b c d" from costing depth^4 on deep trees.
enum class Result
{
    Matched,
    RestartFromLaterSibling,
    RestartFromDescendant,
    FailedGlobally,
};

// Matches selectors against one tree, with each element's previous element sibling and position known.
class Matcher
{
public:
    explicit Matcher(const DomTree &tree) : m_tree(tree)
    {
        const int count = tree.nodeCount();
        m_previous.assign(std::size_t(count), -1);
        m_position.assign(std::size_t(count), 0);
        std::vector<int> lastChild(std::size_t(count), -1);
        m_childCount.assign(std::size_t(count), 0);
        int lastRoot = -1;
        for (int i = 0; i < count; ++i) {
            const DomNode &node = tree.node(i);
            if (node.kind != NodeKind::Element)
                continue;
            int &last = node.parent < 0 ? lastRoot : lastChild[std::size_t(node.parent)];
            m_previous[std::size_t(i)] = last;
            m_position[std::size_t(i)] = last < 0 ? 1 : m_position[std::size_t(last)] + 1;
            last = i;
            (node.parent < 0 ? m_rootChildren : m_childCount[std::size_t(node.parent)]) = m_position[std::size_t(i)];
        }
    }

    bool matches(const Selector &selector, int node) const
    {
        return !selector.compounds.empty() && matchFrom(selector, 0, node, 0) == Result::Matched;
    }

private:
    static constexpr int kMaxDepth = 32;

    int parentElement(int node) const
    {
        const int parent = m_tree.node(node).parent;
        return parent >= 0 && m_tree.node(parent).kind == NodeKind::Element ? parent : -1;
    }

    // Positions among the siblings of the same type, counted once for the whole tree on first use.
    int positionOfType(int node, bool fromEnd) const
    {
        if (m_typePosition.empty()) {
            QHash<quint64, int> counts; // (parent, tag) -> siblings of that type so far
            m_typePosition.assign(m_previous.size(), 0);
            for (int i = 0; i < m_tree.nodeCount(); ++i) {
                const DomNode &element = m_tree.node(i);
                if (element.kind == NodeKind::Element)
                    m_typePosition[std::size_t(i)] = ++counts[typeKey(element)];
            }
            m_typeCount = std::move(counts);
        }
        const int position = m_typePosition[std::size_t(node)];
        return fromEnd ? m_typeCount.value(typeKey(m_tree.node(node))) - position + 1 : position;
    }

    static quint64 typeKey(const DomNode &element)
    {
        return quint64(quint32(element.parent + 1)) << 16 | element.tagId;
    }

    int positionFromEnd(int node) const
    {
        const int parent = m_tree.node(node).parent;
        const int siblings = parent < 0 ? m_rootChildren : m_childCount[std::size_t(parent)];
        return siblings - m_position[std::size_t(node)] + 1;
    }

    static bool nthMatches(int a, int b, int position)
    {
        const long long offset = (long long)position - b;
        if (a == 0)
            return offset == 0;
        return offset / a >= 0 && offset % a == 0;
    }

    bool attributeMatches(const SimpleSelector &part, const DomNode &element) const
    {
        const QStringView value = m_tree.findAttribute(element, part.name);
        if (value.isNull())
            return false;
        using Match = SimpleSelector::AttributeMatch;
        const Qt::CaseSensitivity cs = part.caseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive;
        switch (part.match) {
        case Match::Exists:
            return true;
        case Match::Equals:
            return value.compare(part.value, cs) == 0;
        case Match::Word:
            if (part.caseInsensitive)
                return hasWord(value.toString().toLower(), part.value.toLower());
            return hasWord(value, part.value);
        case Match::Dash:
            return value.compare(part.value, cs) == 0 ||
                   (value.startsWith(part.value, cs) && value.size() > part.value.size() &&
                    value[part.value.size()] == u'-');
        case Match::Prefix:
            return !part.value.isEmpty() && value.startsWith(part.value, cs);
        case Match::Suffix:
            return !part.value.isEmpty() && value.endsWith(part.value, cs);
        case Match::Contains:
            return !part.value.isEmpty() && value.contains(part.value, cs);
        }
        return false;
    }

    bool isHtmlNamed(const DomNode &element, QStringView name) const
    {
        const TagInfo &tag = m_tree.tagOf(element);
        return tag.ns == ElementNamespace::Html && tag.localName == name;
    }

    bool isFormControl(const DomNode &element) const
    {
        static const QStringView controls[] = {u"button",   u"input",  u"select",  u"textarea",
                                               u"optgroup", u"option", u"fieldset"};
        for (const QStringView name : controls) {
            if (isHtmlNamed(element, name))
                return true;
        }
        return false;
    }

    bool partMatches(const SimpleSelector &part, int node, int depth) const
    {
        const DomNode &element = m_tree.node(node);
        using Kind = SimpleSelector::Kind;
        switch (part.kind) {
        case Kind::Type: {
            const TagInfo &tag = m_tree.tagOf(element);
            return tag.ns == ElementNamespace::Html ? tag.localName == part.name
                                                    : tag.localName.compare(part.name, Qt::CaseInsensitive) == 0;
        }
        case Kind::Id:
            return m_tree.findAttribute(element, u"id") == part.name;
        case Kind::Class:
            return hasWord(m_tree.findAttribute(element, u"class"), part.name);
        case Kind::Attribute:
            return attributeMatches(part, element);
        case Kind::FirstChild:
            return m_previous[std::size_t(node)] < 0;
        case Kind::LastChild:
            return positionFromEnd(node) == 1;
        case Kind::OnlyChild:
            return m_previous[std::size_t(node)] < 0 && positionFromEnd(node) == 1;
        case Kind::NthChild:
            return nthMatches(part.a, part.b, part.fromEnd ? positionFromEnd(node) : m_position[std::size_t(node)]);
        case Kind::FirstOfType:
            return positionOfType(node, false) == 1;
        case Kind::LastOfType:
            return positionOfType(node, true) == 1;
        case Kind::OnlyOfType:
            return positionOfType(node, false) == 1 && positionOfType(node, true) == 1;
        case Kind::NthOfType:
            return nthMatches(part.a, part.b, positionOfType(node, part.fromEnd));
        case Kind::Root:
            return element.parent < 0;
        case Kind::Empty:
            for (int i = node + 1; i < element.end; i = m_tree.node(i).end) {
                if (m_tree.node(i).kind != NodeKind::Comment)
                    return false;
            }
            return true;
        case Kind::AnyLink:
            return (isHtmlNamed(element, u"a") || isHtmlNamed(element, u"area")) &&
                   m_tree.hasAttribute(element, u"href");
        case Kind::Checked:
            return (isHtmlNamed(element, u"input") && m_tree.hasAttribute(element, u"checked")) ||
                   (isHtmlNamed(element, u"option") && m_tree.hasAttribute(element, u"selected"));
        case Kind::Disabled:
            return isFormControl(element) && m_tree.hasAttribute(element, u"disabled");
        case Kind::Enabled:
            return isFormControl(element) && !m_tree.hasAttribute(element, u"disabled");
        case Kind::Not:
        case Kind::Is: {
            if (depth > kMaxDepth)
                return false;
            bool any = false;
            for (const Selector &argument : part.arguments) {
                if (!argument.compounds.empty() && matchFrom(argument, 0, node, depth + 1) == Result::Matched) {
                    any = true;
                    break;
                }
            }
            return part.kind == Kind::Not ? !any : any;
        }
        case Kind::Never:
            return false;
        }
        return false;
    }

    bool compoundMatches(const Compound &compound, int node, int depth) const
    {
        for (const SimpleSelector &part : compound.parts) {
            if (!partMatches(part, node, depth))
                return false;
        }
        return true;
    }

    Result matchFrom(const Selector &selector, std::size_t index, int node, int depth) const
    {
        const Compound &compound = selector.compounds[index];
        if (!compoundMatches(compound, node, depth))
            return Result::RestartFromLaterSibling;
        if (index + 1 == selector.compounds.size())
            return Result::Matched;
        const Combinator combinator = compound.toLeft;
        const bool sibling = combinator == Combinator::NextSibling || combinator == Combinator::LaterSibling;
        int candidate = node;
        for (;;) {
            candidate = sibling ? m_previous[std::size_t(candidate)] : parentElement(candidate);
            if (candidate < 0)
                return sibling ? Result::RestartFromDescendant : Result::FailedGlobally;
            const Result result = matchFrom(selector, index + 1, candidate, depth);
            if (result == Result::Matched || result == Result::FailedGlobally || combinator == Combinator::NextSibling)
                return result;
            if (combinator == Combinator::Child)
                return Result::RestartFromDescendant;
            if (result == Result::RestartFromDescendant && combinator == Combinator::LaterSibling)
                return result;
        }
    }

    const DomTree &m_tree;
    std::vector<int> m_previous;   // previous element sibling, -1 for none
    std::vector<int> m_position;   // 1-based among the element siblings
    std::vector<int> m_childCount; // element children
    int m_rootChildren = 0;
    mutable std::vector<int> m_typePosition; // 1-based among the element siblings of the same type
    mutable QHash<quint64, int> m_typeCount;
};

struct IndexedRule
{
    const Selector *selector;
    const Declaration *begin;
    const Declaration *end;
    quint32 order;
};

// Later, more specific and important declarations weigh more; a style attribute outweighs every selector.
quint64 weight(bool important, quint32 specificity, quint32 order)
{
    return quint64(important) << 62 | quint64(specificity) << 30 | quint64(order & 0x3FFFFFFFu);
}

constexpr quint32 kInlineSpecificity = 0x3FFFFFFFu;

// Rules filed by the most telling part of their subject (its id, a class, its type), so an element meets only
// the rules that could match it.
class RuleIndex
{
public:
    void add(const IndexedRule &rule)
    {
        const Compound &subject = rule.selector->compounds.front();
        const SimpleSelector *byClass = nullptr;
        const SimpleSelector *byType = nullptr;
        for (const SimpleSelector &part : subject.parts) {
            if (part.kind == SimpleSelector::Kind::Id) {
                m_byId[part.name].push_back(rule);
                return;
            }
            if (part.kind == SimpleSelector::Kind::Class && !byClass)
                byClass = &part;
            if (part.kind == SimpleSelector::Kind::Type && !byType)
                byType = &part;
            if (part.kind == SimpleSelector::Kind::Never)
                return; // can never match
        }
        if (byClass)
            m_byClass[byClass->name].push_back(rule);
        else if (byType)
            m_byType[byType->name].push_back(rule);
        else
            m_universal.push_back(rule);
    }

    template<typename Visit> void forCandidates(const DomTree &tree, const DomNode &element, Visit &&visit) const
    {
        for (const IndexedRule &rule : m_universal)
            visit(rule);
        if (!m_byType.isEmpty()) {
            const TagInfo &tag = tree.tagOf(element);
            const auto it =
                m_byType.constFind(tag.ns == ElementNamespace::Html ? tag.localName : tag.localName.toLower());
            if (it != m_byType.cend()) {
                for (const IndexedRule &rule : *it)
                    visit(rule);
            }
        }
        if (!m_byId.isEmpty()) {
            const QStringView id = tree.findAttribute(element, u"id");
            if (!id.isEmpty()) {
                if (const auto it = m_byId.constFind(id.toString()); it != m_byId.cend()) {
                    for (const IndexedRule &rule : *it)
                        visit(rule);
                }
            }
        }
        if (!m_byClass.isEmpty()) {
            const QStringView classes = tree.findAttribute(element, u"class");
            if (classes.isEmpty())
                return;
            // Each distinct class once: a rule filed under a class repeated in the attribute must not count twice.
            QStringList seen;
            const qsizetype size = classes.size();
            for (qsizetype i = 0; i < size;) {
                while (i < size && isSpace(classes[i]))
                    ++i;
                qsizetype end = i;
                while (end < size && !isSpace(classes[end]))
                    ++end;
                if (end > i) {
                    QString key = classes.sliced(i, end - i).toString();
                    if (!seen.contains(key)) {
                        if (const auto it = m_byClass.constFind(key); it != m_byClass.cend()) {
                            for (const IndexedRule &rule : *it)
                                visit(rule);
                        }
                        seen.append(std::move(key));
                    }
                }
                i = end;
            }
        }
    }

    bool isEmpty() const
    {
        return m_universal.empty() && m_byType.isEmpty() && m_byId.isEmpty() && m_byClass.isEmpty();
    }

private:
    std::vector<IndexedRule> m_universal;
    QHash<QString, std::vector<IndexedRule>> m_byType;
    QHash<QString, std::vector<IndexedRule>> m_byId;
    QHash<QString, std::vector<IndexedRule>> m_byClass;
};

} // namespace

AuthorStyles::AuthorStyles(const DomTree &tree, const std::vector<std::shared_ptr<const StyleSheet>> &sheets)
{
    RuleIndex index;
    quint32 order = 0;
    for (const std::shared_ptr<const StyleSheet> &sheet : sheets) {
        for (const StyleRule &rule : sheet->rules) {
            const Declaration *declarations = sheet->declarations.data();
            index.add(
                {&rule.selector, declarations + rule.declarationsBegin, declarations + rule.declarationsEnd, order++});
        }
    }
    const bool anyRules = !index.isEmpty();
    const Matcher matcher(tree);

    const int count = tree.nodeCount();
    for (int i = 0; i < count; ++i) {
        const DomNode &node = tree.node(i);
        if (node.kind != NodeKind::Element || node.inTemplate)
            continue;
        std::array<quint64, PropertyCount> best{};
        DeclaredStyle style;
        bool any = false;
        const auto declare = [&](const Declaration &declaration, quint32 specificity, quint32 ruleOrder) {
            const std::size_t property = std::size_t(declaration.property);
            const quint64 w = weight(declaration.important, specificity, ruleOrder) + 1; // 0 means unset
            if (w >= best[property]) {
                best[property] = w;
                style.values[property] = declaration.value;
                any = true;
            }
        };
        if (anyRules) {
            index.forCandidates(tree, node, [&](const IndexedRule &rule) {
                if (!matcher.matches(*rule.selector, i))
                    return;
                for (const Declaration *d = rule.begin; d != rule.end; ++d)
                    declare(*d, rule.selector->specificity, rule.order);
            });
        }
        const QStringView styleAttribute = tree.findAttribute(node, u"style");
        if (!styleAttribute.isEmpty()) {
            quint32 position = 0;
            for (const Declaration &declaration : parseDeclarations(styleAttribute))
                declare(declaration, kInlineSpecificity, position++);
        }
        if (!any)
            continue;
        if (m_slotOfNode.empty())
            m_slotOfNode.assign(std::size_t(count), -1);
        m_slotOfNode[std::size_t(i)] = int(m_styles.size());
        m_styles.push_back(style);
    }
}

bool selectorMatches(const DomTree &tree, const Selector &selector, int nodeIndex)
{
    return Matcher(tree).matches(selector, nodeIndex);
}

} // namespace qh::browser::css
