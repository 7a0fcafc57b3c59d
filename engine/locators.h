#pragma once

#include "browser/document.h"
#include "engine/clock.h"
#include "engine/stopflag.h"
#include "templates/elementanchor.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringView>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

// The element locators: they find a page's chapter title, chapter text and next-page link in its document, as a
// grab template records them. Each search is an object that probes the document one element at a time, returning
// to the event loop between probes, and reports its outcome with one finished signal.
//
// Texts are UTF-16 QStrings as the document gives them; they are converted to the book's encoding when it is written.
namespace qh::engine {

inline constexpr int DefaultLocatorTimeLimitMs = 10'000;

struct LocatorConfig
{
    // Runs step on a later turn of the event loop, and not at all once context is destroyed.
    using Scheduler = std::function<void(QObject *context, std::function<void()> step)>;

    const Clock *clock = nullptr; // null: steadyClock(); must outlive the search
    int timeLimitMs = DefaultLocatorTimeLimitMs;
    Scheduler schedule; // empty: QTimer::singleShot(0, context, step)
    // A document that cannot change is probed in slices of this many probes or this much time, whichever ends first,
    // so that scanning a large page never holds up the window for long.
    int maxProbesPerSlice = 4096;
    int maxSliceMs = 5;
    // A live document is read again this long after a pass over it found nothing (its scripts may still be
    // adding the element).
    int livePollMs = 100;
};

// The next probe position of a title or text search after the element at current was rejected: r, r-1, r+1, r-2,
// r+2, then it stays at r+2. Wide integers, so that recorded positions near the ends of int cannot overflow.
qint64 nextProbePosition(qint64 recorded, qint64 current);

// Tag names are equal when they are equal after upper-casing their ASCII letters (and only those).
bool sameTagName(QStringView a, QStringView b);

// The value of the element's href attribute as written (entities decoded), or empty when it has none.
QString HrefOf(const browser::Element &element);

// One locator search over one document. start() returns at once; finished follows exactly once, always from a later
// turn of the event loop and never from within start(), so a caller may connect before or after calling start().
// The search ends when a probe finds its element, when StopFlag is seen set before a probe, or when a fruitless probe
// ends more than the time limit after start(). The last two, and a document read that fails (see errorMessage()),
// give an empty result.
//
// On a document that cannot change, a search whose outcome is settled ends at once with the empty result it would
// otherwise give at the time limit. A live document is searched in passes: it is refreshed, then probed from the
// first probe position on until a pass over that state is settled; a fruitless pass is followed by another after
// a pause, until the time limit, or until a pass over a document that has settled (Document::isSettled) finds
// nothing. So an element that the page's scripts add late is found wherever it lands within the search's reach, as
// in a page that had it from the start, and a page that has stopped changing costs no more than its quiet time.
// On a live document a title or text element whose text is still empty (or white space) is no result yet: the
// passes go on until a script fills it, and only at the time limit is its empty text the result.
//
// The search keeps the document alive; the stop flag and the clock must outlive it. Deleting the search at any time,
// also from a slot connected to finished, cancels it quietly, as abort() does.
class LocatorSearch : public QObject
{
    Q_OBJECT

public:
    ~LocatorSearch() override;

    // Where a search on a live document begins.
    enum class FirstPass
    {
        OnANewReading,     // reads the page again first
        OnTheLatestReading // the document has just been read (its load has just finished): no reading again first
    };
    void start(FirstPass firstPass = FirstPass::OnANewReading);
    // Starts the search in the event-loop turn in which previous has just finished (from a slot connected to
    // previous's finished), going on with previous's slice: on a document that cannot change, probing begins at once
    // while that slice lasts, and on a live one that previous found its element on, the first pass goes over the
    // reading previous ended on; so finished may come before this returns; connect first. Otherwise as start().
    // Saves a turn of the event loop (and, on a live page, a reading) per search when searches follow one another on
    // the same page.
    void startAfter(const LocatorSearch &previous);
    // Ends a running search without a finished signal.
    void abort();

    bool isRunning() const { return m_state == State::Running; }
    // Set when a document read failed: the search then finished with the empty result, and this says why.
    const QString &errorMessage() const { return m_errorMessage; }
    // Probes made so far.
    int probeCount() const { return m_probeCount; }
    // Whether the search ended on its element (whose text may be empty), rather than on none.
    bool found() const { return m_found; }

Q_SIGNALS:
    // The title or text found, the link's href, or empty.
    void finished(const QString &result);

protected:
    LocatorSearch(std::shared_ptr<const browser::Document> document, const StopFlag &stopFlag,
                  const LocatorConfig &config);

    // One probe of the document: the result when the element at the current position is accepted, else none, after
    // moving on to the position of the next probe.
    virtual std::optional<QString> probe(const browser::Document &document) = 0;
    // True when probing an unchanging document again can no longer find anything.
    virtual bool isSettled() const = 0;
    // Goes back to the first probe position, for a new pass over a live document.
    virtual void rewind() = 0;
    // True when an element found with empty text is waited on, on a live document, for a script to fill it.
    virtual bool waitsForText() const { return false; }

private:
    enum class State
    {
        Idle,
        Running,
        Done,
    };

    void scheduleStep();
    void step();
    void probeSlice();
    void onRefreshed();
    void livePass();
    void readValues();
    void startRefreshGuard();
    bool probeOnce();
    void finish(const QString &result);

    std::shared_ptr<const browser::Document> m_document;
    const StopFlag &m_stopFlag;
    const Clock &m_clock;
    LocatorConfig::Scheduler m_schedule;
    int m_timeLimitMs;
    int m_maxProbesPerSlice;
    int m_maxSliceMs;

    State m_state = State::Idle;
    bool m_static = true;
    bool m_awaitingRefresh = false;
    qint64 m_startMs = 0;
    int m_probeCount = 0;
    bool m_found = false;
    QElapsedTimer m_slice; // the current slice of a static search
    int m_sliceProbes = 0;
    QString m_errorMessage;
    // Ends the search if a live document never answers a refresh.
    QTimer m_refreshGuard;
    // The pause between two passes over a live document.
    QTimer m_livePoll;
};

// The title: the innerText of the element at ititleindex or near it whose tag is sTitleTagname.
std::unique_ptr<LocatorSearch> FindTitle(std::shared_ptr<const browser::Document> document, int ititleindex,
                                         const QString &sTitleTagname, const StopFlag &stopFlag,
                                         const LocatorConfig &config = {});

// The chapter text: the innerText of the element at icontentindex or near it whose tag is sContentTagname and whose
// parent stands at most 2 positions from iparentindex.
std::unique_ptr<LocatorSearch> FindContent(std::shared_ptr<const browser::Document> document, int icontentindex,
                                           int iparentindex, const QString &sContentTagname, const StopFlag &stopFlag,
                                           const LocatorConfig &config = {});

// The next-page link: the href of the first A element in document order whose innerHTML equals linkname exactly.
// A script link ("javascript" in its href) is clicked, and its href read again after the click.
std::unique_ptr<LocatorSearch> FindNextLink(std::shared_ptr<const browser::Document> document, const QString &linkname,
                                            const StopFlag &stopFlag, const LocatorConfig &config = {});

// The title or the text by its anchor: the element at recordedIndex or near it that fits the anchor exactly, else
// the best fit in the whole document (exact before compatible, then nearest to recordedIndex, then first). Its
// innerText; empty when no element fits. For templates with anchors, in place of FindTitle and FindContent.
std::unique_ptr<LocatorSearch> FindAnchored(std::shared_ptr<const browser::Document> document, int recordedIndex,
                                            const templates::ElementAnchor &anchor, const StopFlag &stopFlag,
                                            const LocatorConfig &config = {});

// As FindNextLink; when no link has the markup linkname and linkAnchor is not empty, the first link whose place fits
// it (see linkPlaceFitOf) and whose text reads as a next page, exact fits before compatible ones. So the "下一章" of
// a chapter's last page is followed by a template recorded on a "下一页".
std::unique_ptr<LocatorSearch> FindNextLink(std::shared_ptr<const browser::Document> document, const QString &linkname,
                                            const templates::ElementAnchor &linkAnchor, const StopFlag &stopFlag,
                                            const LocatorConfig &config = {});

} // namespace qh::engine
