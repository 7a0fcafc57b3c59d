#include "engine/locators.h"

#include "common/error.h"
#include "engine/anchormatch.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace qh::engine {

using browser::Document;
using browser::Element;

namespace {

char16_t asciiUpper(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c;
}

std::optional<Element> elementAt(const Document &document, qint64 position)
{
    if (position < std::numeric_limits<int>::min() || position > std::numeric_limits<int>::max())
        return std::nullopt;
    return document.all().item(int(position));
}

// The title and text searches: r, then the positions around it, then staying where the sequence ends.
class NearbySearch : public LocatorSearch
{
public:
    NearbySearch(std::shared_ptr<const Document> document, const StopFlag &stopFlag, const LocatorConfig &config,
                 int recorded)
        : LocatorSearch(std::move(document), stopFlag, config), m_recorded(recorded), m_position(recorded)
    {}

protected:
    enum class Verdict
    {
        Accept,
        Reject,
        Unjudged, // counts as no element at the position: the position does not move
    };

    virtual Verdict judge(const Element &element) const = 0;

    std::optional<QString> probe(const Document &document) override
    {
        const std::optional<Element> element = elementAt(document, m_position);
        const Verdict verdict = element ? judge(*element) : Verdict::Unjudged;
        if (verdict == Verdict::Accept)
            return element->innerText();
        const qint64 next = verdict == Verdict::Reject ? nextProbePosition(m_recorded, m_position) : m_position;
        m_stayed = next == m_position;
        m_position = next;
        return std::nullopt;
    }

    bool isSettled() const override { return m_stayed; }
    bool waitsForText() const override { return true; }

    void rewind() override
    {
        m_position = m_recorded;
        m_stayed = false;
    }

private:
    qint64 m_recorded;
    qint64 m_position;
    bool m_stayed = false;
};

class TitleSearch final : public NearbySearch
{
public:
    TitleSearch(std::shared_ptr<const Document> document, const StopFlag &stopFlag, const LocatorConfig &config,
                int ititleindex, QString sTitleTagname)
        : NearbySearch(std::move(document), stopFlag, config, ititleindex), m_tagName(std::move(sTitleTagname))
    {}

protected:
    Verdict judge(const Element &element) const override
    {
        return sameTagName(element.tagName(), m_tagName) ? Verdict::Accept : Verdict::Reject;
    }

private:
    QString m_tagName;
};

class ContentSearch final : public NearbySearch
{
public:
    ContentSearch(std::shared_ptr<const Document> document, const StopFlag &stopFlag, const LocatorConfig &config,
                  int icontentindex, int iparentindex, QString sContentTagname)
        : NearbySearch(std::move(document), stopFlag, config, icontentindex), m_parentIndex(iparentindex),
          m_tagName(std::move(sContentTagname))
    {}

protected:
    Verdict judge(const Element &element) const override
    {
        const std::optional<Element> parent = element.parentElement();
        if (!parent)
            return Verdict::Unjudged;
        const qint64 p = parent->sourceIndex();
        const bool near = m_parentIndex - 3 < p && p < m_parentIndex + 3;
        return sameTagName(element.tagName(), m_tagName) && near ? Verdict::Accept : Verdict::Reject;
    }

private:
    qint64 m_parentIndex;
    QString m_tagName;
};

// A title or text search with an anchor: the positions the nearby search probes first, taking an element there
// only when it fits the anchor exactly; then the whole document, taking the best fit: an exact one before a
// compatible one, then the one nearest the recorded position, then the first. An element of another kind at the
// recorded position is never taken, and one that moved any distance is still found.
class AnchoredSearch final : public LocatorSearch
{
public:
    AnchoredSearch(std::shared_ptr<const Document> document, const StopFlag &stopFlag, const LocatorConfig &config,
                   int recorded, templates::ElementAnchor anchor)
        : LocatorSearch(std::move(document), stopFlag, config), m_recorded(recorded), m_anchor(std::move(anchor))
    {}

protected:
    std::optional<QString> probe(const Document &document) override
    {
        const int length = document.all().length();
        if (m_nearby < NearbyProbes) {
            const qint64 position = m_recorded + NearbyOffsets[m_nearby++];
            const std::optional<Element> element = elementAt(document, position);
            if (element && fitOf(m_anchor, *element) == AnchorFit::Exact)
                return element->innerText();
            return std::nullopt;
        }
        if (m_scan < length) {
            const int index = m_scan++;
            const Element element = *document.all().item(index);
            if (const AnchorFit fit = fitOf(m_anchor, element); fit != AnchorFit::None) {
                const Rank rank{fit == AnchorFit::Exact ? 0 : 1, qAbs(index - m_recorded)};
                if (m_best < 0 || rank < m_bestRank) {
                    m_best = index;
                    m_bestRank = rank;
                }
            }
        }
        if (m_scan < length)
            return std::nullopt;
        m_scanned = true;
        if (m_best >= 0)
            return document.all().item(m_best)->innerText();
        return std::nullopt;
    }

    bool isSettled() const override { return m_scanned; }
    bool waitsForText() const override { return true; }

    void rewind() override
    {
        m_nearby = 0;
        m_scan = 0;
        m_best = -1;
        m_scanned = false;
    }

private:
    static constexpr int NearbyProbes = 5;
    static constexpr int NearbyOffsets[NearbyProbes] = {0, -1, 1, -2, 2};
    using Rank = std::pair<int, qint64>; // fit (exact first), distance from the recorded position

    qint64 m_recorded;
    templates::ElementAnchor m_anchor;
    int m_nearby = 0;
    int m_scan = 0;
    int m_best = -1;
    Rank m_bestRank;
    bool m_scanned = false;
};

class NextLinkSearch final : public LocatorSearch
{
public:
    NextLinkSearch(std::shared_ptr<const Document> document, const StopFlag &stopFlag, const LocatorConfig &config,
                   QString linkname, templates::ElementAnchor anchor)
        : LocatorSearch(std::move(document), stopFlag, config), m_linkname(std::move(linkname)),
          m_anchor(std::move(anchor))
    {}

protected:
    std::optional<QString> probe(const Document &document) override
    {
        const browser::ElementCollection all = document.all();
        // A link is clicked only on values read: a pass over values not read yet is made again.
        if (const std::optional<Element> element = all.item(m_position)) {
            if (sameTagName(element->tagName(), u"A") && element->innerHTML() == m_linkname &&
                !document.hasUnreadValues())
                return follow(*element);
            if (!m_anchor.isEmpty())
                considerByPlace(*element);
        }
        ++m_position;
        if (m_position >= all.length())
            m_position = 0;
        ++m_misses;
        m_scannedAll = m_misses >= qMax(all.length(), 1);
        // No link has the recorded markup: the link at the recorded place that reads as a next page stands in.
        if (m_scannedAll && m_byPlace >= 0 && !document.hasUnreadValues()) {
            if (const std::optional<Element> byPlace = all.item(m_byPlace))
                return follow(*byPlace);
        }
        return std::nullopt;
    }

    bool isSettled() const override { return m_scannedAll; }

    void rewind() override
    {
        m_position = 0;
        m_misses = 0;
        m_scannedAll = false;
        m_byPlace = -1;
    }

private:
    static QString follow(const Element &element)
    {
        if (HrefOf(element).toLower().contains(u"javascript"_s))
            element.click();
        return HrefOf(element);
    }

    // Keeps the first link in document order of the best fit (exact before compatible).
    void considerByPlace(const Element &element)
    {
        const AnchorFit fit = linkPlaceFitOf(m_anchor, element);
        if (fit == AnchorFit::None || (m_byPlace >= 0 && fit <= m_byPlaceFit))
            return;
        if (!readsAsNextPage(element.innerText()))
            return;
        m_byPlace = element.sourceIndex();
        m_byPlaceFit = fit;
    }

    QString m_linkname;
    templates::ElementAnchor m_anchor;
    int m_byPlace = -1;
    AnchorFit m_byPlaceFit = AnchorFit::None;
    int m_position = 0;
    int m_misses = 0;
    bool m_scannedAll = false;
};

} // namespace

qint64 nextProbePosition(qint64 recorded, qint64 current)
{
    const qint64 offset = current - recorded;
    switch (offset) {
    case 0:
        return recorded - 1;
    case -1:
        return recorded + 1;
    case 1:
        return recorded - 2;
    case -2:
        return recorded + 2;
    default:
        return current;
    }
}

bool sameTagName(QStringView a, QStringView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (asciiUpper(a[i].unicode()) != asciiUpper(b[i].unicode()))
            return false;
    }
    return true;
}

QString HrefOf(const Element &element)
{
    return element.attribute(u"href"_s).value_or(QString());
}

LocatorSearch::LocatorSearch(std::shared_ptr<const Document> document, const StopFlag &stopFlag,
                             const LocatorConfig &config)
    : m_document(std::move(document)), m_stopFlag(stopFlag), m_clock(config.clock ? *config.clock : steadyClock()),
      m_schedule(config.schedule), m_timeLimitMs(config.timeLimitMs),
      m_maxProbesPerSlice(qMax(config.maxProbesPerSlice, 1)), m_maxSliceMs(config.maxSliceMs)
{
    if (!m_schedule) {
        // A queued call is one posted event; a zero timer costs a timer object and a deferred delete as well.
        m_schedule = [](QObject *context, std::function<void()> step) {
            QMetaObject::invokeMethod(context, std::move(step), Qt::QueuedConnection);
        };
    }
    m_livePoll.setSingleShot(true);
    m_livePoll.setInterval(qMax(config.livePollMs, 0));
    connect(&m_livePoll, &QTimer::timeout, this, [this] { step(); });
    m_refreshGuard.setSingleShot(true);
    connect(&m_refreshGuard, &QTimer::timeout, this, [this] {
        if (m_state == State::Running && m_awaitingRefresh)
            finish({});
    });
}

LocatorSearch::~LocatorSearch() = default;

void LocatorSearch::start(FirstPass firstPass)
{
    if (m_state != State::Idle)
        return;
    m_state = State::Running;
    m_startMs = m_clock.nowMs();
    m_static = !m_document || m_document->isStatic();
    if (m_stopFlag.isSet() || !m_document) {
        // No probe and no pump; the empty result still comes from the event loop, as every result does.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_state == State::Running)
                    finish({});
            },
            Qt::QueuedConnection);
        return;
    }
    if (!m_static && firstPass == FirstPass::OnTheLatestReading) {
        // A pass asks for the values it compares, which are read only if the page has not changed since this
        // reading: an older one is never taken for the page as it is.
        m_schedule(this, [this] {
            if (m_state != State::Running)
                return;
            if (m_stopFlag.isSet())
                return finish({});
            livePass();
        });
        return;
    }
    scheduleStep();
}

void LocatorSearch::abort()
{
    m_state = State::Done;
    m_refreshGuard.stop();
    m_livePoll.stop();
}

void LocatorSearch::scheduleStep()
{
    m_schedule(this, [this] { step(); });
}

void LocatorSearch::step()
{
    if (m_state != State::Running)
        return;
    if (m_stopFlag.isSet()) {
        finish({});
        return;
    }
    if (!m_static) {
        m_awaitingRefresh = true;
        startRefreshGuard();
        m_document->refresh([self = QPointer<LocatorSearch>(this)] {
            if (self)
                self->onRefreshed();
        });
        return;
    }
    m_slice.start();
    m_sliceProbes = 0;
    probeSlice();
}

void LocatorSearch::startAfter(const LocatorSearch &previous)
{
    if (m_state != State::Idle)
        return;
    // A live page's reading that the previous search has just found its element on is as fresh for this one: no
    // reading again before the first pass.
    const bool sameReading = previous.m_state == State::Done && !previous.m_static && previous.m_found && m_document &&
                             previous.m_document == m_document && !m_document->isStatic();
    if (sameReading && !m_stopFlag.isSet()) {
        m_state = State::Running;
        m_startMs = m_clock.nowMs();
        m_static = false;
        livePass();
        return;
    }
    const bool sliceLeft = previous.m_state == State::Done && previous.m_static && previous.m_slice.isValid() &&
                           previous.m_sliceProbes < m_maxProbesPerSlice && previous.m_slice.elapsed() < m_maxSliceMs;
    if (!sliceLeft || !m_document || !m_document->isStatic()) {
        start();
        return;
    }
    m_state = State::Running;
    m_startMs = m_clock.nowMs();
    m_static = true;
    m_slice = previous.m_slice;
    m_sliceProbes = previous.m_sliceProbes;
    probeSlice();
}

// Probes a static document while the current slice lasts, the stop flag checked before every probe.
void LocatorSearch::probeSlice()
{
    do {
        if (m_stopFlag.isSet()) {
            finish({});
            return;
        }
        ++m_sliceProbes;
        if (probeOnce())
            return; // the search may be gone already
    } while (m_sliceProbes < m_maxProbesPerSlice && m_slice.elapsed() < m_maxSliceMs);
    scheduleStep();
}

void LocatorSearch::onRefreshed()
{
    if (m_state != State::Running || !m_awaitingRefresh)
        return;
    m_awaitingRefresh = false;
    m_refreshGuard.stop();
    // Stop commands may have run while the document was being read.
    if (m_stopFlag.isSet()) {
        finish({});
        return;
    }
    livePass();
}

// One whole pass over the live document as last read; it cannot change until the next refresh. A pass that asked
// for values the document had not read yet proves nothing: they are read, and the pass is made again.
void LocatorSearch::livePass()
{
    rewind();
    std::optional<QString> found;
    do {
        ++m_probeCount;
        try {
            found = probe(*m_document);
        } catch (const Error &error) {
            m_errorMessage = error.message();
            finish({});
            return;
        }
    } while (!found && !isSettled());
    // All the values the pass asked for are read in one go.
    if (m_document->hasUnreadValues())
        return readValues();
    const bool timeUp = m_clock.nowMs() - m_startMs > m_timeLimitMs;
    if (found) {
        // An element that a script has not filled in yet is no result while there is time to wait for its text.
        const bool blank = waitsForText() && found->trimmed().isEmpty();
        if (!blank || timeUp) {
            m_found = true;
            finish(*found);
            return;
        }
    } else if (timeUp || m_document->isSettled()) {
        finish({});
        return;
    }
    m_livePoll.start();
}

void LocatorSearch::readValues()
{
    m_awaitingRefresh = true;
    startRefreshGuard();
    m_document->readValues([self = QPointer<LocatorSearch>(this)] {
        if (self)
            self->onRefreshed();
    });
}

void LocatorSearch::startRefreshGuard()
{
    const qint64 remainingMs = m_timeLimitMs - (m_clock.nowMs() - m_startMs);
    m_refreshGuard.start(int(std::clamp<qint64>(remainingMs, 0, qMax(m_timeLimitMs, 0))));
}

// Returns true when the search has finished; the search may then be gone already.
bool LocatorSearch::probeOnce()
{
    ++m_probeCount;
    std::optional<QString> found;
    try {
        found = probe(*m_document);
    } catch (const Error &error) {
        // The event loop cannot carry the error to the grabber; it reads it from the finished search instead.
        m_errorMessage = error.message();
        finish({});
        return true;
    }
    if (found) {
        m_found = true;
        finish(*found);
        return true;
    }
    if (m_clock.nowMs() - m_startMs > m_timeLimitMs || (m_static && isSettled())) {
        finish({});
        return true;
    }
    return false;
}

void LocatorSearch::finish(const QString &result)
{
    m_state = State::Done;
    m_refreshGuard.stop();
    m_livePoll.stop();
    // Last statement: a receiver may delete this search.
    Q_EMIT finished(result);
}

std::unique_ptr<LocatorSearch> FindTitle(std::shared_ptr<const Document> document, int ititleindex,
                                         const QString &sTitleTagname, const StopFlag &stopFlag,
                                         const LocatorConfig &config)
{
    return std::make_unique<TitleSearch>(std::move(document), stopFlag, config, ititleindex, sTitleTagname);
}

std::unique_ptr<LocatorSearch> FindContent(std::shared_ptr<const Document> document, int icontentindex,
                                           int iparentindex, const QString &sContentTagname, const StopFlag &stopFlag,
                                           const LocatorConfig &config)
{
    return std::make_unique<ContentSearch>(std::move(document), stopFlag, config, icontentindex, iparentindex,
                                           sContentTagname);
}

std::unique_ptr<LocatorSearch> FindNextLink(std::shared_ptr<const Document> document, const QString &linkname,
                                            const StopFlag &stopFlag, const LocatorConfig &config)
{
    return std::make_unique<NextLinkSearch>(std::move(document), stopFlag, config, linkname,
                                            templates::ElementAnchor());
}

std::unique_ptr<LocatorSearch> FindAnchored(std::shared_ptr<const Document> document, int recordedIndex,
                                            const templates::ElementAnchor &anchor, const StopFlag &stopFlag,
                                            const LocatorConfig &config)
{
    return std::make_unique<AnchoredSearch>(std::move(document), stopFlag, config, recordedIndex, anchor);
}

std::unique_ptr<LocatorSearch> FindNextLink(std::shared_ptr<const Document> document, const QString &linkname,
                                            const templates::ElementAnchor &linkAnchor, const StopFlag &stopFlag,
                                            const LocatorConfig &config)
{
    return std::make_unique<NextLinkSearch>(std::move(document), stopFlag, config, linkname, linkAnchor);
}

} // namespace qh::engine
