#include "app/templatewizard.h"

#include "browser/html/encoding.h"
#include "browser/html/htmlparser.h"
#include "browser/html/staticbrowser.h"
#include "engine/anchormatch.h"
#include "templates/sitehead.h"
#include "templates/templatefile.h"
#include "templates/templatestore.h"

#include <QFileInfo>
#include <QPointer>

#ifdef QH_HAVE_WEBENGINE
#include "browser/web/webbrowser.h"

#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#endif

#include <map>
#include <mutex>

using namespace Qt::StringLiterals;

namespace qh::app {

// The bytes each parsed document was built from, so that the view shows exactly that text. Keyed by the document's
// tree, since an abandoned parse may still finish after the next one, and the document the browser hands out is
// made again around the same tree once the page's style sheets are in. Written on the parse thread, read on the
// wizard's.
struct PageCapture
{
    struct Source
    {
        QByteArray bytes;
        QByteArray contentType;
    };
    std::mutex mutex;
    std::map<const browser::DomTree *, Source> sources;

    static const browser::DomTree *keyOf(const browser::Document *document)
    {
        const auto *page = dynamic_cast<const browser::StaticDocument *>(document);
        return page ? &page->tree() : nullptr;
    }
};

namespace {

constexpr std::chrono::milliseconds DefaultSettleDelay{5000};

bool isWebAddress(const QString &address)
{
    return address.left(7).toLower() == u"http://"_s || address.left(8).toLower() == u"https://"_s;
}

} // namespace

TemplateWizard::TemplateWizard(TemplateWizardUi &ui, QString templateFile, QObject *parent)
    : QObject(parent), m_ui(ui), m_templateFile(std::move(templateFile)), m_browser(new browser::StaticBrowser(this)),
      m_pageCapture(std::make_shared<PageCapture>())
{
    m_browser->setParseFunction([capture = m_pageCapture](const QByteArray &bytes, const QByteArray &contentType,
                                                          const QUrl &url, std::stop_token stop) {
        std::shared_ptr<const browser::StaticDocument> document =
            browser::parseHtmlDocumentUntil(bytes, contentType, url, std::move(stop));
        if (document) {
            const std::lock_guard lock(capture->mutex);
            capture->sources[&document->tree()] = {bytes, contentType};
        }
        return std::shared_ptr<const browser::Document>(std::move(document));
    });
    connect(m_browser, &browser::Browser::loadFinished, this, &TemplateWizard::onStaticLoaded);
    m_settle.setSingleShot(true);
    m_settle.setInterval(DefaultSettleDelay);
    connect(&m_settle, &QTimer::timeout, this, &TemplateWizard::onSettled);
#ifdef QH_HAVE_WEBENGINE
    m_view.scriptsAvailable = true;
#endif
}

TemplateWizard::~TemplateWizard() = default;

void TemplateWizard::setAddress(const QString &address)
{
    if (m_address == address)
        return;
    m_address = address;
    changed();
}

bool TemplateWizard::capturesClicks() const
{
    return m_state == wizardstate::Title || m_state == wizardstate::Content || m_state == wizardstate::Link;
}

void TemplateWizard::setHelp(const QString &text)
{
    m_view.help = text;
    changed();
}

bool TemplateWizard::templateFileExists() const
{
    return QFileInfo(m_templateFile).isFile();
}

void TemplateWizard::FormShow()
{
    // The grabber's request puts its page into the address box; a new definition starts from an empty one.
    if (m_redefineIndex == 0)
        m_address.clear();
    // A new definition starts with the static engine; a redefinition with the template's, once the store is read.
    if (m_redefineIndex == 0)
        setEngine(templates::GrabEngine::Static);
    m_engineFromTemplate = m_redefineIndex > 0;
    m_view.beginEnabled = false;
    m_view.beginCaption = wizardtext::BeginCaption;
    m_view.saveEnabled = false;
    m_view.titleText.clear();
    m_view.contentText.clear();
    changed();
}

void TemplateWizard::FormActivate()
{
    m_view.listEnabled = m_redefineIndex == 0;
    changed();
    if (!templateFileExists())
        return;
    const templates::TemplateStore store = templates::LoadTemplateFile(m_templateFile);
    fillList(store);
    if (m_redefineIndex > 0)
        Q_EMIT selectListRow(m_redefineIndex - 1);
    // Later activations (after a message box, say) keep what the user chose.
    if (m_engineFromTemplate && m_redefineIndex > 0) {
        m_engineFromTemplate = false;
        setEngine(templates::engineOfTemplate(store, m_listNames.value(m_redefineIndex - 1)));
    }
}

void TemplateWizard::FormClose()
{
    // However the window closes, a running definition ends as "关闭窗口" ends it.
    m_settle.stop();
    m_browser->stop();
#ifdef QH_HAVE_WEBENGINE
    // A closed window runs no page scripts: the web browser goes, and the next web load makes a new one.
    if (m_webBrowser) {
        m_ui.showWebPage(nullptr);
        m_webBrowser->disconnect(this);
        m_webBrowser->page()->disconnect(this);
        m_webBrowser->stop();
        m_webBrowser->deleteLater();
        m_webBrowser = nullptr;
    }
#endif
    m_state = wizardstate::Aborted;
    m_question.reset();
    m_view.questionVisible = false;
    // The next opening starts without a page, whichever engine it uses.
    m_document.reset();
    m_readingClick = false;
    m_redefineIndex = 0;
    changed();
}

void TemplateWizard::BBtnGoClick()
{
    if (!isWebAddress(m_address)) {
        m_ui.ShowMsg(wizardtext::NeedHttp);
        return;
    }
    // A running definition ends here: its clicks would be taken on the new page.
    m_state = wizardstate::Loading;
    m_question.reset();
    m_view.questionVisible = false;
    m_view.beginEnabled = false;
    m_document.reset();
    m_readingClick = false;
    m_followingPageLoad = false;
    {
        const std::lock_guard lock(m_pageCapture->mutex);
        m_pageCapture->sources.clear();
    }
    m_settle.stop();
    setHelp(wizardtext::Loading);
#ifdef QH_HAVE_WEBENGINE
    if (webMode()) {
        ensureWebBrowser();
        m_webBrowser->Navigate(QUrl(m_address));
        return;
    }
#endif
    m_browser->Navigate(QUrl(m_address));
}

void TemplateWizard::CBoxScriptClick(bool checked)
{
    const templates::GrabEngine engine = checked ? templates::GrabEngine::Web : templates::GrabEngine::Static;
    if (!m_view.scriptsAvailable || m_values.engine == engine) {
        changed(); // the box shows the wizard's state again
        return;
    }
    // Positions recorded in one engine's document mean nothing in the other's.
    const bool hadPage = m_document || m_state == wizardstate::Loading;
    m_view.saveEnabled = false;
    setEngine(engine);
    if (hadPage && isWebAddress(m_address)) {
        BBtnGoClick();
        return;
    }
    // Nothing loaded: no sequence can run without a page.
    m_state.clear();
    m_question.reset();
    m_view.questionVisible = false;
    m_view.beginEnabled = false;
    setHelp(wizardtext::StartHelp);
}

void TemplateWizard::setEngine(templates::GrabEngine engine)
{
    const bool web = engine == templates::GrabEngine::Web && m_view.scriptsAvailable;
    m_values.engine = web ? templates::GrabEngine::Web : templates::GrabEngine::Static;
    if (m_view.scriptsNeeded == web)
        return;
    m_view.scriptsNeeded = web;
#ifdef QH_HAVE_WEBENGINE
    if (!web && m_webBrowser) {
        m_webBrowser->stop();
        m_ui.showWebPage(nullptr);
    }
#endif
    if (!web)
        m_browser->stop();
    m_document.reset();
    m_readingClick = false;
    changed();
}

void TemplateWizard::ensureWebBrowser()
{
#ifdef QH_HAVE_WEBENGINE
    if (m_webBrowser)
        return;
    m_webBrowser = new browser::WebBrowser(this);
    connect(m_webBrowser, &browser::Browser::loadFinished, this, &TemplateWizard::onWebLoaded);
    connect(m_webBrowser->page(), &QWebEnginePage::loadingChanged, this, &TemplateWizard::onWebLoading);
#endif
}

void TemplateWizard::onWebLoaded(bool ok)
{
#ifdef QH_HAVE_WEBENGINE
    if (m_state != wizardstate::Loading || !webMode())
        return;
    if (!ok) {
        setHelp(wizardtext::StartHelp);
        m_ui.ShowMsg(m_webBrowser->lastError().message);
        return;
    }
    m_document = m_webBrowser->GetHtmlDocument();
    // The page is complete and the view shows it as it is: no second load to wait for.
    m_ui.showWebPage(m_webBrowser->page());
    setHelp(QString());
    m_settle.start();
#else
    Q_UNUSED(ok);
#endif
}

// A load the live page starts by itself (a followed link, a script) leaves the recorded document behind. Nothing is
// captured while it runs; once it has ended its address is loaded again as if it had been typed, as a followed link
// is in the static view. (Asking the browser for it while the page's own load runs would not be seen to start.)
void TemplateWizard::onWebLoading(const QWebEngineLoadingInfo &info)
{
#ifdef QH_HAVE_WEBENGINE
    // Our own Navigate is loading until loadFinished.
    if (!webMode() || m_webBrowser->ReadyState() == browser::Browser::State::Loading)
        return;
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
        m_state = wizardstate::Loading;
        m_question.reset();
        m_view.questionVisible = false;
        m_view.beginEnabled = false;
        m_document.reset();
        m_readingClick = false;
        m_settle.stop();
        m_followingPageLoad = true;
        m_address = info.url().toString();
        setHelp(wizardtext::Loading);
        return;
    }
    if (m_followingPageLoad && m_state == wizardstate::Loading) {
        m_followingPageLoad = false;
        BBtnGoClick();
    }
#else
    Q_UNUSED(info);
#endif
}

void TemplateWizard::onStaticLoaded(bool ok)
{
    if (m_state != wizardstate::Loading || webMode())
        return;
    if (!ok) {
        setHelp(wizardtext::StartHelp);
        m_ui.ShowMsg(m_browser->lastError().message);
        return;
    }
    m_document = m_browser->GetHtmlDocument();
    PageCapture::Source source;
    {
        const std::lock_guard lock(m_pageCapture->mutex);
        source = std::move(m_pageCapture->sources[PageCapture::keyOf(m_document.get())]);
        m_pageCapture->sources.clear();
    }
    m_ui.showPage(browser::decodeHtml(source.bytes, source.contentType), m_document->url());
}

void TemplateWizard::pageShown(bool ok)
{
    // A live page is shown once it is complete; the view's own loads of it say nothing more.
    if (m_state != wizardstate::Loading || !m_document || webMode())
        return;
    if (!ok) {
        m_document.reset();
        setHelp(wizardtext::StartHelp);
        return;
    }
    setHelp(QString());
    m_settle.start();
}

void TemplateWizard::onSettled()
{
    if (m_state != wizardstate::Loading || !m_document)
        return;
    m_view.beginEnabled = true;
    setHelp(wizardtext::Loaded);
}

void TemplateWizard::BBtnBeginClick()
{
    if (!m_view.beginEnabled)
        return;
    m_view.beginCaption = wizardtext::RestartCaption;
    m_view.beginEnabled = false;
    m_state = wizardstate::Title;
    setHelp(wizardtext::ClickTitle);
}

void TemplateWizard::elementClicked(int sourceIndex, const QString &viewTagName)
{
    // Clicks while a question is open are ignored, so one answer belongs to one element.
    if (!capturesClicks() || m_question || m_readingClick)
        return;
    if (!m_document) {
        resolveClick(-1, viewTagName);
        return;
    }
    // A live page may have gone on since it was read: it is read again, so the values are what the view shows
    // now. A static document answers at once.
    m_readingClick = true;
    const std::shared_ptr<const browser::Document> document = m_document;
    const QString state = m_state;
    document->refresh([self = QPointer<TemplateWizard>(this), document, state, sourceIndex, viewTagName] {
        // Whoever replaced the document has also dropped the click.
        if (!self || self->m_document != document)
            return;
        self->m_readingClick = false;
        if (self->m_state == state)
            self->resolveClick(sourceIndex, viewTagName);
    });
}

void TemplateWizard::resolveClick(int sourceIndex, const QString &viewTagName)
{
    if (!m_document)
        sourceIndex = -1;
    if (sourceIndex >= 0 && (sourceIndex >= m_document->elementCount() ||
                             m_document->tagNameAt(sourceIndex).compare(viewTagName, Qt::CaseInsensitive) != 0)) {
        // The view built another tree than the grabber will (or the live page changed between the click and its
        // reading): a position recorded here would point elsewhere.
        m_ui.ShowMsg(wizardtext::Mismatch);
        return;
    }
    if (m_state == wizardstate::Link) {
        captureLink(sourceIndex);
        return;
    }
    const Capture capture = m_state == wizardstate::Title ? Capture::Title : Capture::Content;
    if (sourceIndex < 0) {
        captureFailed(capture);
        return;
    }
    askAbout(capture, sourceIndex);
}

void TemplateWizard::askAbout(Capture capture, int index)
{
    m_question = capture;
    m_candidate = index;
    const QString text = m_document->innerTextAt(index);
    if (capture == Capture::Title)
        m_view.titleText = text;
    else
        m_view.contentText = text;
    m_view.questionVisible = true;
    setHelp(capture == Capture::Title ? wizardtext::CheckTitle : wizardtext::CheckContent);
}

void TemplateWizard::endQuestion()
{
    m_question.reset();
    m_view.questionVisible = false;
    changed();
}

void TemplateWizard::captureFailed(Capture capture)
{
    m_ui.ShowMsg(capture == Capture::Title ? wizardtext::NoTitle : wizardtext::NoContent);
}

void TemplateWizard::BBtnYesClick()
{
    if (m_question)
        acceptCandidate();
}

void TemplateWizard::BBtnNoClick()
{
    if (!m_question)
        return;
    const Capture capture = *m_question;
    const int parent = m_document->parentIndexAt(m_candidate);
    if (parent < 0) {
        endQuestion();
        m_ui.ShowMsg(capture == Capture::Title ? wizardtext::NotTitle : wizardtext::NotContent);
        captureFailed(capture);
        return;
    }
    askAbout(capture, parent);
}

void TemplateWizard::BtnCancelClick()
{
    if (!m_question)
        return;
    const Capture capture = *m_question;
    m_state = wizardstate::Aborted;
    m_view.help = wizardtext::Interrupted;
    m_view.beginEnabled = true;
    endQuestion();
    captureFailed(capture);
}

void TemplateWizard::acceptCandidate()
{
    const Capture capture = *m_question;
    const int index = m_candidate;
    endQuestion();
    // The root element is no title or text: its position would match any page.
    const int parent = m_document->parentIndexAt(index);
    if (parent < 0) {
        captureFailed(capture);
        return;
    }
    const QString text = m_document->innerTextAt(index);
    if (capture == Capture::Title) {
        m_values.ititleindex = index;
        m_values.sTitleTagname = m_document->tagNameAt(index);
        m_values.titleAnchor = engine::anchorOf(browser::Element(m_document.get(), index));
    } else {
        m_values.icontentindex = index;
        m_values.iparentindex = parent;
        m_values.sContentTagname = m_document->tagNameAt(index);
        m_values.contentAnchor = engine::anchorOf(browser::Element(m_document.get(), index));
    }
    if (text.isEmpty()) {
        captureFailed(capture);
        return;
    }
    if (capture == Capture::Title) {
        m_view.titleText = text;
        m_state = wizardstate::Content;
        setHelp(wizardtext::ClickContent);
    } else {
        m_view.contentText = text;
        m_state = wizardstate::Link;
        setHelp(wizardtext::ClickLink);
    }
}

void TemplateWizard::captureLink(int index)
{
    int e = index;
    while (e >= 0 && m_document->tagNameAt(e).toUpper() != u"A"_s)
        e = m_document->parentIndexAt(e);
    m_values.linkname = e >= 0 ? m_document->innerHtmlAt(e) : QString();
    m_values.linkAnchor = e >= 0 ? engine::anchorOf(browser::Element(m_document.get(), e)) : templates::ElementAnchor();
    if (m_values.linkname.isEmpty()) {
        m_ui.ShowMsg(wizardtext::NoLink);
        return;
    }
    m_state = wizardstate::Save;
    m_view.saveEnabled = true;
    setHelp(wizardtext::ReadyToSave);
}

void TemplateWizard::BBtnSaveClick()
{
    if (!m_view.saveEnabled)
        return;
    const bool redefine = m_redefineIndex > 0;
    const QString name = redefine ? m_listNames.value(m_redefineIndex - 1)
                                  : m_ui.InputText(wizardtext::NameCaption, wizardtext::NamePrompt, QString());
    if (name.isEmpty()) {
        m_ui.ShowMsg(wizardtext::NeedName);
        return;
    }
    templates::TemplateStore store =
        templateFileExists() ? templates::LoadTemplateFile(m_templateFile) : templates::TemplateStore();
    QString head;
    if (store.FindTemplateByName(name)) {
        if (!redefine && !m_ui.askYesNo(wizardtext::QuestionCaption, wizardtext::Replace))
            return;
    } else {
        head = templates::SiteHeadOf(m_address);
        // A record without a head would never be chosen for a page, so it is not written.
        if (head.isEmpty()) {
            m_ui.ShowMsg(wizardtext::NeedHttp);
            return;
        }
    }
    templates::storeTemplateValues(store, name, head, m_values);
    // Written before the list shows it, so the list never holds a template the file lacks.
    templates::SaveTemplateFile(m_templateFile, store);
    fillList(store);
    m_view.beginEnabled = false;
    m_view.saveEnabled = false;
    m_view.beginCaption = wizardtext::BeginCaption;
    setHelp(wizardtext::StartHelp);
}

void TemplateWizard::fillList(const templates::TemplateStore &store)
{
    m_listNames = store.ListTemplateNames(false);
    m_listHeads = store.ListTemplateHeads();
    Q_EMIT listChanged();
}

void TemplateWizard::BtnUpClick(int selected)
{
    moveOrDelete(selected, -1);
}

void TemplateWizard::BtnDownClick(int selected)
{
    moveOrDelete(selected, 1);
}

void TemplateWizard::BtnDelClick(int selected)
{
    moveOrDelete(selected, 0);
}

// direction -1 moves up, 1 down, 0 deletes.
void TemplateWizard::moveOrDelete(int selected, int direction)
{
    if (m_redefineIndex > 0 || selected < 0 || selected >= m_listNames.size() || !templateFileExists())
        return;
    templates::TemplateStore store = templates::LoadTemplateFile(m_templateFile);
    const QString name = m_listNames.at(selected);
    bool done = false;
    if (direction < 0)
        done = store.MoveTemplateUp(name, m_ui);
    else if (direction > 0)
        done = store.MoveTemplateDown(name, m_ui);
    else
        done = store.DeleteTemplate(name);
    if (!done)
        return;
    templates::SaveTemplateFile(m_templateFile, store);
    fillList(store);
    int next = selected + direction;
    if (direction == 0 && next >= m_listNames.size())
        next = int(m_listNames.size()) - 1;
    Q_EMIT selectListRow(next);
}

} // namespace qh::app
