#include "app/templatewizard.h"

#include "browser/encoding.h"
#include "browser/htmlparser.h"
#include "browser/staticbrowser.h"
#include "templates/sitehead.h"
#include "templates/templatefile.h"
#include "templates/templatestore.h"

#include <QFileInfo>

#include <map>
#include <mutex>

using namespace Qt::StringLiterals;

namespace qh::app {

// The bytes each parsed document was built from, so that the view shows exactly that text. Keyed by the document,
// since an abandoned parse may still finish after the next one. Written on the parse thread, read on the wizard's.
struct PageCapture
{
    struct Source
    {
        QByteArray bytes;
        QByteArray contentType;
    };
    std::mutex mutex;
    std::map<const browser::Document *, Source> sources;
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
        std::shared_ptr<const browser::Document> document =
            browser::parseHtmlDocumentUntil(bytes, contentType, url, std::move(stop));
        if (document) {
            const std::lock_guard lock(capture->mutex);
            capture->sources[document.get()] = {bytes, contentType};
        }
        return document;
    });
    connect(m_browser, &browser::Browser::loadFinished, this, &TemplateWizard::onStaticLoaded);
    m_settle.setSingleShot(true);
    m_settle.setInterval(DefaultSettleDelay);
    connect(&m_settle, &QTimer::timeout, this, &TemplateWizard::onSettled);
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
    fillList(templates::LoadTemplateFile(m_templateFile));
    if (m_redefineIndex > 0)
        Q_EMIT selectListRow(m_redefineIndex - 1);
}

void TemplateWizard::FormClose()
{
    // However the window closes, a running definition ends as "关闭窗口" ends it.
    m_settle.stop();
    m_browser->stop();
    m_state = wizardstate::Aborted;
    m_question.reset();
    m_view.questionVisible = false;
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
    {
        const std::lock_guard lock(m_pageCapture->mutex);
        m_pageCapture->sources.clear();
    }
    m_settle.stop();
    setHelp(wizardtext::Loading);
    m_browser->Navigate(QUrl(m_address));
}

void TemplateWizard::onStaticLoaded(bool ok)
{
    if (m_state != wizardstate::Loading)
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
        source = std::move(m_pageCapture->sources[m_document.get()]);
        m_pageCapture->sources.clear();
    }
    m_ui.showPage(browser::decodeHtml(source.bytes, source.contentType), m_document->url());
}

void TemplateWizard::pageShown(bool ok)
{
    if (m_state != wizardstate::Loading || !m_document)
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
    if (!capturesClicks() || m_question)
        return;
    if (!m_document)
        sourceIndex = -1;
    if (sourceIndex >= 0 && (sourceIndex >= m_document->elementCount() ||
                             m_document->tagNameAt(sourceIndex).compare(viewTagName, Qt::CaseInsensitive) != 0)) {
        // The view built another tree than the grabber will: a position recorded here would point elsewhere.
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
    } else {
        m_values.icontentindex = index;
        m_values.iparentindex = parent;
        m_values.sContentTagname = m_document->tagNameAt(index);
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
