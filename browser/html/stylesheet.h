#pragma once

#include <QString>
#include <QStringView>
#include <QUrl>

#include <array>
#include <optional>
#include <vector>

// Author style sheets as far as innerText needs them: the cascaded values of display, visibility, white-space and
// text-transform. A sheet keeps only the rules that declare one of those, so a site's layout and colour rules cost
// a quick scan and no memory. All text is UTF-16; selectors keep names as written (classes and ids are compared
// exactly, tag and attribute names in lower case).
namespace qh::browser::css {

enum class Display : quint8
{
    None,
    Inline,
    InlineBlock, // button, select, inline-block: trims white space inside, none around
    Replaced,    // img, input, textarea, iframe, svg ...: no text of its own (never from a sheet)
    Block,
    Table,
    RowGroup,
    Row,
    Cell,
    Caption,
};

enum class WhiteSpace : quint8
{
    Collapse,       // normal, nowrap
    PreserveAll,    // pre, pre-wrap, break-spaces
    PreserveBreaks, // pre-line
};

enum class TextTransform : quint8
{
    None,
    Uppercase,
    Lowercase,
    Capitalize,
};

enum class Property : quint8
{
    Display,
    Visibility, // value 1 for visible, 0 for hidden or collapse
    WhiteSpace,
    TextTransform,
};
constexpr std::size_t PropertyCount = 4;

// A declared value: the property's enum value, or one of the CSS-wide keywords.
enum class Wide : quint8
{
    Inherit = 200,
    Initial,
    Revert, // the user agent's value
};

struct Declaration
{
    Property property;
    quint8 value;
    bool important = false;
};

// The declaration "property: value" if it is one innerText depends on and its value is understood.
std::optional<Declaration> parseDeclaration(QStringView property, QStringView value);
// Every such declaration of a declaration block (a rule's body or a style attribute), in order.
std::vector<Declaration> parseDeclarations(QStringView block);

// The viewport of the desktop screen that pages are read for, in CSS pixels.
inline constexpr int ReadingViewportWidth = 1600;
inline constexpr int ReadingViewportHeight = 900;

// Whether a media query list (as in @media, a media attribute or an @import) holds for the desktop screen the
// static engine stands for: screen, a 1600 by 900 pixel viewport, light colours, a fine pointer. An empty list
// holds; print does not; what is not understood does not.
bool mediaMatches(QStringView mediaList);

// One simple selector of a compound: a type, an id, a class, an attribute test or a pseudo-class.
struct Selector;
struct SimpleSelector
{
    enum class Kind : quint8
    {
        Type,      // name: lower-case local name
        Id,        // name
        Class,     // name
        Attribute, // name (lower case), value, match, caseInsensitive
        FirstChild,
        LastChild,
        OnlyChild,
        NthChild, // a, b; from the end with fromEnd
        FirstOfType,
        LastOfType,
        OnlyOfType,
        NthOfType,
        Root,
        Empty,
        AnyLink,
        Checked,
        Disabled,
        Enabled,
        Not,   // none of the arguments
        Is,    // any of the arguments (also :where, :matches, :-webkit-any)
        Never, // a state a static page is never in (:hover, :focus ...) or a pseudo-element
    };
    enum class AttributeMatch : quint8
    {
        Exists,
        Equals,
        Word,     // ~=
        Dash,     // |=
        Prefix,   // ^=
        Suffix,   // $=
        Contains, // *=
    };

    Kind kind = Kind::Never;
    AttributeMatch match = AttributeMatch::Exists;
    bool caseInsensitive = false;
    bool fromEnd = false;
    int a = 0;
    int b = 0;
    QString name;
    QString value;
    std::vector<Selector> arguments;
};

enum class Combinator : quint8
{
    Descendant,
    Child,
    NextSibling,  // +
    LaterSibling, // ~
};

struct Compound
{
    std::vector<SimpleSelector> parts;          // all must match; empty for *
    Combinator toLeft = Combinator::Descendant; // how the compound to its left relates to it
};

struct Selector
{
    std::vector<Compound> compounds; // rightmost (the subject) first
    quint32 specificity = 0;         // ids << 20 | classes << 10 | types, each part capped
};

struct StyleRule
{
    Selector selector;         // a rule with a selector list is kept as one rule per selector
    int declarationsBegin = 0; // into the sheet's declarations
    int declarationsEnd = 0;
};

struct Import
{
    QUrl url; // resolved against the sheet's base
    QString media;
};

// One parsed sheet. Rules in @media blocks that do not hold are dropped while parsing; so are rules whose selector
// the matcher does not understand (:has and the like), as browsers drop a rule with an invalid selector.
struct StyleSheet
{
    std::vector<Import> imports;
    std::vector<StyleRule> rules;
    std::vector<Declaration> declarations;

    bool isEmpty() const { return imports.empty() && rules.empty(); }
};

// Parses a sheet's text; never fails (what cannot be read is skipped, as a browser skips it). base resolves
// @import addresses.
StyleSheet parseStyleSheet(QStringView text, const QUrl &base);

} // namespace qh::browser::css
