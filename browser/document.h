#pragma once

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

// The document model that the grabber, the locators, the wizard and the add operation read. Both browser engines
// offer it: the static engine builds it once from the fetched bytes, the web engine reads it from a live page.
//
// Strings are UTF-16 QStrings as the page's text decodes to; nothing here converts to a file encoding.
namespace qh::browser {

class Document;

// A value handle on one element of a document: the document and the element's position in `all`. It stays valid
// as long as the document it came from; it owns nothing.
class Element
{
public:
    Element(const Document *document, int sourceIndex) : m_document(document), m_index(sourceIndex) {}

    int sourceIndex() const { return m_index; }
    QString tagName() const;                      // upper case for HTML elements
    std::optional<Element> parentElement() const; // none at the root
    QString innerText() const;
    QString innerHTML() const;
    QString outerHTML() const;
    std::optional<QString> attribute(const QString &name) const; // as written, entities decoded; none when absent
    void click() const;

    bool operator==(const Element &other) const = default;

private:
    const Document *m_document;
    int m_index;
};

// The `all` collection: every element in document order.
class ElementCollection
{
public:
    explicit ElementCollection(const Document *document) : m_document(document) {}

    int length() const;
    std::optional<Element> item(int index) const; // none below 0 or at or past length()

private:
    const Document *m_document;
};

class Document
{
public:
    virtual ~Document() = default;

    Document(const Document &) = delete;
    Document &operator=(const Document &) = delete;

    // A static document never changes after loading: a search over it that has settled cannot change its outcome
    // by waiting. A live document (scripts still running) may change between any two reads.
    virtual bool isStatic() const = 0;

    // Re-reads a live document so that the next reads see its current state, then calls done (possibly later, from
    // the event loop). A static document calls done at once.
    virtual void refresh(std::function<void()> done) const { done(); }

    // Whether waiting can still change what the document holds. A live document has settled when, at its latest
    // reading, it had completed loading, had not changed for a quiet time and waited for none of its requests; a
    // static document always has. A search over a settled document ends as it would on a static one.
    virtual bool isSettled() const { return isStatic(); }
    // Changes whenever a reading of a live document finds that the page has changed; 0 for a static document.
    virtual quint64 version() const { return 0; }

    // A live document may read an element's innerText and innerHTML (and so its outerHTML) only once they are asked
    // for: until then such a read answers empty and notes the value. hasUnreadValues() tells that a read since the
    // last readValues() was answered so; readValues() reads the noted values and calls done, after which they are
    // answered until the next reading that finds the page changed. A static document has every value at once.
    virtual bool hasUnreadValues() const { return false; }
    virtual void readValues(std::function<void()> done) const { done(); }
    // Reads every element's values now, for readers that walk the whole document (a dump, a preview).
    virtual void readAllValues(std::function<void()> done) const { done(); }

    virtual QUrl url() const = 0; // the address the document was loaded from, after redirects
    virtual QString title() const = 0;

    ElementCollection all() const { return ElementCollection(this); }

    // Per-element reads behind Element and ElementCollection; index is always within 0..elementCount()-1.
    virtual int elementCount() const = 0;
    virtual QString tagNameAt(int index) const = 0;
    virtual int parentIndexAt(int index) const = 0; // -1 at the root
    virtual QString innerTextAt(int index) const = 0;
    virtual QString innerHtmlAt(int index) const = 0;
    virtual QString outerHtmlAt(int index) const = 0;
    virtual std::optional<QString> attributeAt(int index, const QString &name) const = 0;
    // Runs the element's activation behaviour. On a static document there are no scripts and nothing happens.
    virtual void clickAt(int index) const { Q_UNUSED(index); }

protected:
    Document() = default;
};

} // namespace qh::browser
