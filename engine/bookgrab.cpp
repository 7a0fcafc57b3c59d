#include "engine/bookgrab.h"

#include "engine/nexturl.h"

#include <utility>

namespace qh::engine {

using browser::LoadError;

namespace {

// Failures that another try cannot mend: the server has said no for good, the certificate is wrong, or the answer
// will be the same bytes again.
bool isWorthRetrying(const LoadError &error)
{
    switch (error.kind) {
    case LoadError::Kind::Tls:
    case LoadError::Kind::TooLarge:
    case LoadError::Kind::ParseFailed:
    case LoadError::Kind::Stopped:
        return false;
    case LoadError::Kind::HttpStatus:
        return error.httpStatus != 403 && error.httpStatus != 404;
    default:
        return true;
    }
}

// The delay of a page's <meta http-equiv="refresh" content="N; url=...">, the way a throttle notice says when to
// come back; -1 when it has none.
int refreshSeconds(const browser::Document &document)
{
    const browser::ElementCollection all = document.all();
    for (int i = 0; i < all.length(); ++i) {
        const browser::Element element = *all.item(i);
        const QString httpEquiv = element.attribute(QStringLiteral("http-equiv")).value_or(QString());
        if (element.tagName() != u"META" || httpEquiv.compare(u"refresh", Qt::CaseInsensitive) != 0)
            continue;
        const QString content = element.attribute(QStringLiteral("content")).value_or(QString());
        bool ok = false;
        const int seconds = content.section(u';', 0, 0).trimmed().toInt(&ok);
        return ok && seconds >= 0 ? seconds : -1;
    }
    return -1;
}

QUrl withoutFragment(QUrl url)
{
    url.setFragment(QString());
    return url;
}

} // namespace

BookGrab::BookGrab(browser::Browser &browser, const StopFlag &stopFlag, const templates::GrabParams &params,
                   GrabTiming timing, const Clock &clock, QObject *parent)
    : QObject(parent), m_browser(browser), m_stopFlag(stopFlag), m_params(params), m_timing(std::move(timing)),
      m_clock(clock)
{
    m_wait.setSingleShot(true);
    m_wait.setTimerType(Qt::PreciseTimer); // a coarse timer may fire early, and the page delay is a least time
    connect(&m_wait, &QTimer::timeout, this, [this] {
        if (m_afterWait)
            (this->*m_afterWait)();
    });
    connect(&m_browser, &browser::Browser::loadFinished, this, &BookGrab::onLoadFinished);
}

BookGrab::~BookGrab()
{
    if (m_loading)
        m_browser.stop();
}

void BookGrab::start(const QUrl &url, const QSet<QUrl> &earlierPages, StartAt at, int inPlaceSteps)
{
    m_stepsToPass = qMax(0, inPlaceSteps);
    m_running = true;
    m_heldPage = at == StartAt::AfterPage;
    m_visited.clear();
    for (const QUrl &page : earlierPages)
        m_visited.insert(withoutFragment(page));
    m_lastTaken.reset();
    m_pagesTaken = 0;
    // The next page may be asked for while this one is parsed; with a delay between pages it must not.
    m_browser.setNextLinkHint(m_timing.pageDelayMs == 0 ? m_params.linkname : QString());
    loadPage(url);
}

void BookGrab::stopNow()
{
    if (!m_running)
        return;
    if (m_loading) {
        m_loading = false;
        m_browser.stop();
    }
    end(GrabEnd::Stopped);
}

void BookGrab::loadPage(const QUrl &url)
{
    m_url = url;
    m_inPlaceSteps = 0;
    m_attempt = 0;
    m_document.reset();
    m_title.clear();
    m_text.clear();

    const qint64 sinceLast = m_lastAnswerMs < 0 ? qint64(m_timing.pageDelayMs) : m_clock.nowMs() - m_lastAnswerMs;
    if (sinceLast < m_timing.pageDelayMs)
        waitThen(int(m_timing.pageDelayMs - sinceLast), &BookGrab::navigate);
    else
        navigate();
}

void BookGrab::navigate()
{
    if (m_stopFlag.isSet())
        return end(GrabEnd::Stopped);
    // A page shown in place is reached again from its address by the replacements that led to it.
    m_stepsToPass += std::exchange(m_inPlaceSteps, 0);
    m_loading = true;
    Q_EMIT pageStarted(m_url);
    m_browser.Navigate(m_url);
}

void BookGrab::onLoadFinished(bool ok)
{
    if (!m_loading)
        return; // a load this grab no longer waits for
    m_loading = false;
    if (std::exchange(m_followingScript, false))
        return onScriptLinkLanded(ok);
    // The delay counts from here: a request may leave well after Navigate (a new connection must be made first),
    // but it has surely gone once its answer is in.
    m_lastAnswerMs = m_clock.nowMs();
    if (m_stopFlag.isSet())
        return end(GrabEnd::Stopped);
    if (!ok)
        return retryOrFail(m_browser.lastError());
    m_document = m_browser.GetHtmlDocument();
    if (!m_document) {
        LoadError error;
        error.kind = LoadError::Kind::NotHtml;
        error.message = QStringLiteral("“%1”不是网页。").arg(m_url.toDisplayString());
        return retryOrFail(error);
    }
    if (m_stepsToPass > 0 && !m_document->isStatic())
        return passOverInPlace();
    m_stepsToPass = 0;
    findTitle();
}

// A resume inside a chain of chapters shown in place: the chapters the book holds already are passed over by
// following the next link without taking them.
void BookGrab::passOverInPlace()
{
    auto search = FindNextLink(m_document, m_params.linkname, m_params.linkAnchor, m_stopFlag, m_timing.locators);
    connect(search.get(), &LocatorSearch::finished, this, [this](const QString &href) {
        if (m_stopFlag.isSet())
            return end(GrabEnd::Stopped);
        if (isScriptHref(href))
            return followScriptLink();
        // The chain is not where it was: the page as it is now is where the book goes on.
        m_stepsToPass = 0;
        findTitle();
    });
    m_search = std::move(search);
    m_search->start(LocatorSearch::FirstPass::OnTheLatestReading);
}

void BookGrab::retryOrFail(const LoadError &error)
{
    if (!isWorthRetrying(error) || m_attempt >= m_timing.retryDelaysMs.size())
        return end(GrabEnd::LoadFailed, error.message);

    int delayMs = m_timing.retryDelaysMs.at(m_attempt);
    const bool busy = error.kind == LoadError::Kind::HttpStatus && (error.httpStatus == 429 || error.httpStatus == 503);
    // A page that is no chapter (a throttle notice) may say when to come back with a refresh.
    const bool serverSaysWhen = (busy || error.kind == LoadError::Kind::NotHtml) && error.retryAfterSeconds >= 0;
    if (serverSaysWhen)
        delayMs = int(std::min<qint64>(qint64(error.retryAfterSeconds) * 1000, m_timing.maxRetryAfterMs));
    ++m_attempt;
    waitThen(delayMs, &BookGrab::navigate);
}

void BookGrab::findTitle()
{
    m_search =
        m_params.titleAnchor.isEmpty()
            ? FindTitle(m_document, m_params.ititleindex, m_params.sTitleTagname, m_stopFlag, m_timing.locators)
            : FindAnchored(m_document, m_params.ititleindex, m_params.titleAnchor, m_stopFlag, m_timing.locators);
    connect(m_search.get(), &LocatorSearch::finished, this, [this](const QString &title) {
        if (m_stopFlag.isSet())
            return end(GrabEnd::Stopped);
        m_title = title;
        findContent();
    });
    // Every page is searched right after the browser has read it.
    m_search->start(LocatorSearch::FirstPass::OnTheLatestReading);
}

void BookGrab::findContent()
{
    auto search =
        m_params.contentAnchor.isEmpty()
            ? FindContent(m_document, m_params.icontentindex, m_params.iparentindex, m_params.sContentTagname,
                          m_stopFlag, m_timing.locators)
            : FindAnchored(m_document, m_params.icontentindex, m_params.contentAnchor, m_stopFlag, m_timing.locators);
    const LocatorSearch *const raw = search.get();
    connect(search.get(), &LocatorSearch::finished, this, [this, raw](const QString &text) {
        if (m_stopFlag.isSet())
            return end(GrabEnd::Stopped);
        // Without the text element at all, a page of a book that had it is no chapter (a throttle notice, an
        // error page served with 200): it fails as a load does, also on the held page an update starts after, which
        // had it when it was taken. On a book's first page the template is what is wrong.
        if (text.isEmpty() && !raw->found() && (m_pagesTaken > 0 || m_heldPage))
            return notAChapter();
        if (text.isEmpty())
            return end(GrabEnd::EmptyText);
        m_text = text;
        Q_EMIT textFound(m_text);
        if (!m_running)
            return; // stopped from a receiver of textFound
        if (m_params.linkname.isEmpty())
            return end(GrabEnd::NoLinkName);
        findNextLink();
    });
    startAfterCurrentSearch(std::move(search));
}

void BookGrab::findNextLink()
{
    auto search = FindNextLink(m_document, m_params.linkname, m_params.linkAnchor, m_stopFlag, m_timing.locators);
    connect(search.get(), &LocatorSearch::finished, this, &BookGrab::onNextLink);
    startAfterCurrentSearch(std::move(search));
}

void BookGrab::notAChapter()
{
    LoadError error;
    error.kind = LoadError::Kind::NotHtml;
    error.message = QStringLiteral("“%1”（网页标题“%2”）没有章节内容，不是章节页。")
                        .arg(m_url.toDisplayString(), m_document->title());
    error.retryAfterSeconds = refreshSeconds(*m_document);
    m_search.reset();
    m_document.reset();
    retryOrFail(error);
}

void BookGrab::startAfterCurrentSearch(std::unique_ptr<LocatorSearch> next)
{
    // Called while the current search emits finished; it lives on until the next one has taken over its slice.
    const std::unique_ptr<LocatorSearch> previous = std::exchange(m_search, std::move(next));
    // May run the rest of the page, and end or replace m_search, before it returns.
    m_search->startAfter(*previous);
}

void BookGrab::onNextLink(const QString &href)
{
    if (m_stopFlag.isSet())
        return end(GrabEnd::Stopped);
    if (isScriptHref(href) && !m_document->isStatic())
        return followScriptLink();
    if (isScriptHref(href)) {
        return end(GrabEnd::ScriptLinkNeedsScripts,
                   QStringLiteral("“%1”的“下一页”是脚本链接（%2），不运行脚本就无法跟随。该网站需要网页引擎，"
                                  "请为它定义需要脚本的模板。")
                       .arg(m_url.toDisplayString(), href));
    }

    m_visited.insert(withoutFragment(m_url));
    m_visited.insert(withoutFragment(m_document->url()));
    const QUrl next = resolveNextUrl(m_document->url(), baseHrefOf(*m_document), href);
    // A last chapter often links to itself or back into the book: that ends the book, it does not loop.
    const bool last = next.isEmpty() || m_visited.contains(next);
    m_search.reset();
    m_document.reset();
    if (m_heldPage) {
        passHeldPage(last ? QUrl() : next);
        if (m_running)
            loadPage(next);
        return;
    }
    // The same title and text as the page before: a link that only looks new (a session id in it) leading to the
    // same page again. The repeat is not taken, and the book ends.
    if (m_lastTaken && m_lastTaken->first == m_title && m_lastTaken->second == m_text)
        return end(GrabEnd::Complete);
    takePage(last ? QUrl() : next);
    if (!m_running)
        return; // stopped from a receiver of pageCompleted
    if (last)
        end(GrabEnd::Complete);
    else
        loadPage(next);
}

// The link's script has been run by the next-link search; the page in progress is taken once it is known where the
// script leads, so that a stop meanwhile leaves the book to resume at this page.
void BookGrab::followScriptLink()
{
    m_search.reset();
    m_visited.insert(withoutFragment(m_url));
    m_visited.insert(withoutFragment(m_document->url()));
    m_versionBeforeClick = m_document->version();
    m_addressBeforeClick = withoutFragment(m_document->url());
    m_loading = true;
    m_followingScript = true;
    // A script that fetches the next chapter to show it in place may take longer than the grace: the page is waited
    // on while it is still changing or waiting for its requests, up to the locators' time limit.
    m_browser.awaitScriptNavigation(std::chrono::milliseconds(m_timing.scriptLinkGraceMs),
                                    std::chrono::milliseconds(m_timing.locators.timeLimitMs));
}

void BookGrab::onScriptLinkLanded(bool ok)
{
    m_lastAnswerMs = m_clock.nowMs();
    if (m_stopFlag.isSet())
        return end(GrabEnd::Stopped);
    if (!ok) {
        // The page in progress has not been taken: trying again starts over from it, click included.
        m_document.reset();
        return retryOrFail(m_browser.lastError());
    }
    const std::shared_ptr<const browser::Document> landed = m_browser.GetHtmlDocument();
    if (!landed)
        return retryOrFail(m_browser.lastError());

    const bool inPlace = landed == m_document;
    const QUrl landedUrl = withoutFragment(landed->url());
    // No load: the script either replaced the chapter in place or did nothing at all (a last chapter's link).
    const bool last = inPlace ? landed->version() == m_versionBeforeClick : m_visited.contains(landedUrl);
    // In place at the same address, the next page is reached from this page's address by one more replacement.
    const bool sameAddress = inPlace && landedUrl == m_addressBeforeClick;
    const QUrl next = sameAddress ? m_url : landedUrl;
    const int nextSteps = sameAddress ? m_inPlaceSteps + 1 : 0;

    if (m_stepsToPass > 0) {
        // Passing over the chapters a resume holds already: nothing is taken.
        m_stepsToPass = sameAddress && !last ? m_stepsToPass - 1 : 0;
        readPageAt(landed, next, nextSteps);
        if (m_stepsToPass > 0)
            return passOverInPlace();
        return findTitle();
    }

    m_document.reset();
    if (m_heldPage) {
        passHeldPage(last ? QUrl() : next);
    } else {
        m_nextInPlaceSteps = last ? 0 : nextSteps;
        takePage(last ? QUrl() : next);
        m_nextInPlaceSteps = 0;
        if (m_running && last)
            end(GrabEnd::Complete);
    }
    if (!m_running)
        return; // ended, or stopped from a receiver of pageCompleted

    // The script has loaded the next page already: read it where it is.
    readPageAt(landed, next, nextSteps);
    Q_EMIT pageStarted(m_url);
    findTitle();
}

void BookGrab::readPageAt(const std::shared_ptr<const browser::Document> &document, const QUrl &url, int inPlaceSteps)
{
    m_url = url;
    m_inPlaceSteps = inPlaceSteps;
    m_attempt = 0;
    m_title.clear();
    m_text.clear();
    m_document = document;
}

void BookGrab::takePage(const QUrl &nextUrl)
{
    const QString title = std::exchange(m_title, QString());
    const QString text = std::exchange(m_text, QString());
    m_lastTaken = std::make_pair(title, text);
    ++m_pagesTaken;
    Q_EMIT pageCompleted(title, text, nextUrl);
}

void BookGrab::passHeldPage(const QUrl &nextUrl)
{
    m_heldPage = false;
    m_lastTaken = std::make_pair(std::exchange(m_title, QString()), std::exchange(m_text, QString()));
    if (nextUrl.isEmpty())
        return end(GrabEnd::Complete);
    Q_EMIT heldPageFollowed(nextUrl);
}

void BookGrab::waitThen(int ms, void (BookGrab::*next)())
{
    m_afterWait = next;
    m_wait.start(std::max(ms, 0));
}

void BookGrab::end(GrabEnd how, const QString &message)
{
    if (!m_running)
        return;
    m_running = false;
    m_followingScript = false;
    m_browser.setNextLinkHint(QString());
    m_wait.stop();
    m_afterWait = nullptr;
    m_search.reset();
    m_document.reset();
    // From the event loop, so that a receiver that deletes the grab never does so under one of its own calls.
    QMetaObject::invokeMethod(
        this, [this, how, message] { Q_EMIT finished(how, message); }, Qt::QueuedConnection);
}

} // namespace qh::engine
