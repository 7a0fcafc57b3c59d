#include "engine/locators.h"

#include "common/error.h"

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

class NextLinkSearch final : public LocatorSearch
{
public:
    NextLinkSearch(std::shared_ptr<const Document> document, const StopFlag &stopFlag, const LocatorConfig &config,
                   QString linkname)
        : LocatorSearch(std::move(document), stopFlag, config), m_linkname(std::move(linkname))
    {}

protected:
    std::optional<QString> probe(const Document &document) override
    {
        const browser::ElementCollection all = document.all();
        if (const std::optional<Element> element = all.item(m_position)) {
            if (sameTagName(element->tagName(), u"A") && element->innerHTML() == m_linkname) {
                if (HrefOf(*element).toLower().contains(u"javascript"_s))
                    element->click();
                return HrefOf(*element);
            }
        }
        ++m_position;
        if (m_position >= all.length())
            m_position = 0;
        ++m_misses;
        m_scannedAll = m_misses >= qMax(all.length(), 1);
        return std::nullopt;
    }

    bool isSettled() const override { return m_scannedAll; }

    void rewind() override
    {
        m_position = 0;
        m_misses = 0;
        m_scannedAll = false;
    }

private:
    QString m_linkname;
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

void LocatorSearch::start()
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
        const qint64 remainingMs = m_timeLimitMs - (m_clock.nowMs() - m_startMs);
        m_refreshGuard.start(int(std::clamp<qint64>(remainingMs, 0, qMax(m_timeLimitMs, 0))));
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
    // One whole pass over the state just read; it cannot change until the next refresh.
    rewind();
    do {
        if (probeOnce())
            return; // the search may be gone already
    } while (!isSettled());
    m_livePoll.start();
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
    return std::make_unique<NextLinkSearch>(std::move(document), stopFlag, config, linkname);
}

} // namespace qh::engine
