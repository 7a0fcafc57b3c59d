#include "app/mainwindow.h"

#include "session/bookupdates.h"

#include "app/statuslabel.h"

#include "browser/html/staticbrowser.h"
#include "core/queuefile.h"
#ifdef QH_HAVE_WEBENGINE
#include "browser/web/webbrowser.h"
#endif
#include "common/error.h"
#include "common/installlayout.h"
#include "dialogs/aboutdialog.h"
#include "dialogs/dialogfont.h"
#include "dialogs/inputbox.h"
#include "dialogs/messagedialog.h"
#include "dialogs/settingsdialog.h"
#include "dialogs/waitdialog.h"
#include "settings/proxyaddress.h"
#include "templates/selection.h"
#include "templates/templatefile.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#ifndef QT_NO_SESSIONMANAGER
#include <QSessionManager>
#endif

using namespace Qt::StringLiterals;

// Resources of a static library are registered by hand, and only from the global namespace.
static void initResources()
{
    Q_INIT_RESOURCE(quillhaul);
}

namespace qh::app {

namespace {

const QString BusyPicture = u":/quillhaul/busy.png"_s;
const QString RestPicture = u":/quillhaul/rest.png"_s;

QToolButton *toolButton(QWidget *parent, const char *name, const QString &caption, const QString &hint,
                        const QRect &geometry)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setText(caption);
    button->setToolTip(hint);
    button->setGeometry(geometry);
    button->setAutoRaise(true);
    return button;
}

QToolButton *iconButton(QWidget *parent, const char *name, QStyle::StandardPixmap icon, const QString &hint, int y)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setIcon(parent->style()->standardIcon(icon));
    button->setToolTip(hint);
    button->setGeometry(710, y, 27, 27);
    return button;
}

QFrame *divider(QWidget *parent, int x)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(x, 10, 2, 29);
    return line;
}

QLabel *caption(QWidget *parent, const QString &text, int x)
{
    auto *label = new QLabel(text, parent);
    label->setGeometry(x, 56, 200, 14);
    return label;
}

// What the page view shows: the text of the page's body as a reader sees it.
QString pageText(const browser::Document &document)
{
    for (int i = 0; i < document.elementCount(); ++i) {
        if (document.tagNameAt(i) == u"BODY")
            return document.innerTextAt(i);
    }
    return document.elementCount() > 0 ? document.innerTextAt(0) : QString();
}

QString defaultHelpFile()
{
    const QString installed = InstallLayout::findFile(InstallLayout::Folder::Data, u"help.html"_s);
    if (!installed.isEmpty())
        return installed;
    return QStringLiteral(QH_HELP_FILE);
}

} // namespace

// WidgetDialogs

QString WidgetDialogs::InputText(const QString &caption, const QString &prompt, const QString &defaultText)
{
    return dialogs::InputText(m_owner, caption, prompt, defaultText);
}

void WidgetDialogs::ShowMsg(const QString &text)
{
    dialogs::ShowMsg(m_owner, text);
}

void WidgetDialogs::showError(const QString &message)
{
    ApplicationEvents1Exception(m_owner, message);
}

QString WidgetDialogs::getOpenFileName(const QString &filter)
{
    return QFileDialog::getOpenFileName(m_owner, u"导入模板"_s, QString(), filter);
}

QString WidgetDialogs::getSaveFileName(const QString &filter, const QString &defaultSuffix)
{
    QFileDialog dialog(m_owner, u"导出模板"_s, QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

bool WidgetDialogs::askYesNo(const QString &caption, const QString &text)
{
    return QMessageBox::question(m_owner, caption, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void WidgetDialogs::askLater(const QString &caption, const QString &text, std::function<void(bool)> answered)
{
    auto *box = new QMessageBox(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, m_owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, box, [box, answered = std::move(answered)](int) {
        answered(box->clickedButton() == box->button(QMessageBox::Yes));
    });
    box->open();
}

std::optional<settings::AppSettings> WidgetDialogs::editSettings(const settings::AppSettings &current,
                                                                 const QString &iniPath)
{
    dialogs::TFrmCfg dialog(current, iniPath, m_owner);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.result();
}

void WidgetDialogs::showAbout()
{
    dialogs::TFrmAbout dialog(m_owner);
    dialog.setUrlOpener([this](const QUrl &url) {
        if (!openUrl(url))
            ShowMsg(openFailedMessage(u"网址"_s, url));
    });
    dialog.exec();
}

bool WidgetDialogs::openUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

MainWindowOptions defaultMainWindowOptions()
{
    MainWindowOptions options;
    options.oldFile = QCoreApplication::applicationFilePath() + u".old"_s;
    return options;
}

QString mainWindowTitle(const QString &demoFolder)
{
    const QString title = u"Quillhaul "_s + QStringLiteral(QUILLHAUL_VERSION);
    if (demoFolder.isEmpty())
        return title;
    return title + u" - 演示（数据在 %1，程序结束时删除）"_s.arg(QDir::toNativeSeparators(demoFolder));
}

QString openFailedMessage(const QString &what, const QUrl &url)
{
    const QString where = url.isLocalFile() ? QDir::toNativeSeparators(url.toLocalFile()) : url.toString();
    return u"没有找到能打开%1的程序，请手动打开：\n%2"_s.arg(what, where);
}

QMessageBox *ApplicationEvents1Exception(QWidget *owner, const QString &message)
{
    auto *box = new QMessageBox(QMessageBox::NoIcon, QString(), message, QMessageBox::Ok, owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
    return box;
}

// ComboTemplateChooser

int ComboTemplateChooser::count() const
{
    return m_box.count();
}

QString ComboTemplateChooser::itemText(int index) const
{
    return m_box.itemText(index);
}

int ComboTemplateChooser::currentIndex() const
{
    return m_box.currentIndex();
}

QString ComboTemplateChooser::currentText() const
{
    return m_box.currentIndex() < 0 ? QString() : m_box.currentText();
}

void ComboTemplateChooser::setCurrentIndex(int index)
{
    m_box.setCurrentIndex(index < m_box.count() ? index : -1);
}

void ComboTemplateChooser::setItems(const QStringList &items)
{
    m_box.clear();
    m_box.addItems(items);
}

// TFrmMain

TFrmMain::TFrmMain(const DataFolder &folder, MainWindowOptions options, std::unique_ptr<WindowDialogs> dialogs,
                   QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_folder(folder), m_options(std::move(options)), m_dialogs(std::move(dialogs))
{
    initResources();
    if (!m_dialogs)
        m_dialogs = std::make_unique<WidgetDialogs>(this);

    buildControls();
    session::SessionOptions sessionOptions;
    sessionOptions.engine = m_options.engine;
    sessionOptions.chooser = std::make_unique<ComboTemplateChooser>(*m_CBoxTemplate);
#ifdef QH_HAVE_WEBENGINE
    sessionOptions.webBrowserFactory = [](QObject *owner) { return browser::createWebGrabBrowser(owner); };
#endif
    m_session = std::make_unique<session::Session>(m_folder, *this, std::move(sessionOptions));
    m_books = std::make_unique<BookListModel>(m_session->queue());
    m_LVDownList->setModel(m_books.get());
    m_listCommands = std::make_unique<core::QueueCommands>(m_session->queue(), m_session->scheduler(), *this);
    m_templateCommands = std::make_unique<TemplateCommands>(
        m_session->store(), m_session->chooser(), m_session->scheduler(), *m_dialogs, m_folder.templateFile());
#ifdef QH_HAVE_WEBENGINE
    m_templateCommands->setWizard([this](std::function<void()> closed) { runTemplateWizard(std::move(closed)); });
#endif
    m_wait = new dialogs::TFrmWait(m_session->queue(), this, m_options.waitInterval);
    m_wait->hide();
    connectEngine();
    FormCreate();
}

TFrmMain::~TFrmMain()
{
    qApp->removeEventFilter(this);
    // Children that hold on to the list (rows of adds in flight, the wait dialog, the view) go before it does; the
    // scheduler holds references to the browser and the chooser.
    qDeleteAll(findChildren<AddBook *>(Qt::FindDirectChildrenOnly));
    delete m_wait;
    m_LVDownList->setModel(nullptr);
    m_listCommands.reset();
    m_templateCommands.reset();
    m_books.reset();
    m_session.reset();
}

void TFrmMain::buildControls()
{
    setObjectName(u"FrmMain"_s);
    setWindowTitle(mainWindowTitle(m_options.demoFolder));
    dialogs::applyWindowLook(this);
    setFixedSize(745, 425);

    buildToolBar();
    buildListArea();

    auto *statusBar = new QStatusBar(this);
    statusBar->setObjectName(u"StatusBar1"_s);
    statusBar->setSizeGripEnabled(false);
    statusBar->setGeometry(0, 425 - 19, 745, 19);
    // Each panel as wide as its text; the book's gives way, cut in the middle, when the line is longer than the bar.
    m_statusBook = new StatusLabel(statusBar);
    m_statusBook->setObjectName(u"StatusBook"_s);
    m_statusPages = new StatusLabel(statusBar);
    m_statusPages->setObjectName(u"StatusPages"_s);
    m_statusPages->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    m_statusSpeed = new StatusLabel(statusBar);
    m_statusSpeed->setObjectName(u"StatusSpeed"_s);
    m_statusSpeed->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    statusBar->addWidget(m_statusBook);
    statusBar->addWidget(m_statusPages);
    statusBar->addWidget(m_statusSpeed, 1);

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // The window sees Ctrl+Enter and Ctrl+Space before the control that has the focus.
    qApp->installEventFilter(this);
}

void TFrmMain::buildToolBar()
{
    // Positions are measured inside the tool bar's panel, which starts 9 pixels from the window's left edge.
    auto *panel = new QWidget(this);
    panel->setObjectName(u"ToolBar"_s);
    panel->setGeometry(9, 0, 745 - 9, 53);

    m_BtnDownload = toolButton(panel, "BtnDownload", u"下载"_s, u"添加要下载的电子书"_s, {9, 8, 72, 33});
    divider(panel, 85);
    m_BtnBegin = toolButton(panel, "BtnBegin", u"开始"_s, u"开始下载"_s, {92, 8, 72, 33});
    m_BtnStop = toolButton(panel, "BtnStop", u"停止"_s, u"停止下载"_s, {170, 8, 72, 33});
    divider(panel, 247);
    m_BtnTemplate = toolButton(panel, "BtnTemplate", u"模板"_s, u"管理抓书模板"_s, {253, 8, 85, 33});
    divider(panel, 343);
    m_BtnConfig = toolButton(panel, "BtnConfig", u"设置"_s, u"软件设置"_s, {350, 8, 72, 33});
    divider(panel, 427);
    m_BtnHelp = toolButton(panel, "BtnHelp", u"帮助"_s, u"软件帮助"_s, {434, 8, 85, 33});

    auto *templateMenu = new QMenu(m_BtnTemplate);
    templateMenu->addAction(u"定制"_s, this, &TFrmMain::N24Click)->setObjectName(u"N24"_s);
    templateMenu->addAction(u"导入"_s, this, &TFrmMain::N25Click)->setObjectName(u"N25"_s);
    templateMenu->addAction(u"导出"_s, this, &TFrmMain::N26Click)->setObjectName(u"N26"_s);
    m_BtnTemplate->setMenu(templateMenu);
    m_BtnTemplate->setPopupMode(QToolButton::InstantPopup);

    auto *helpMenu = new QMenu(m_BtnHelp);
    QAction *checkUpdates = helpMenu->addAction(u"检查更新"_s, this, &TFrmMain::checkUpdatesClick);
    checkUpdates->setObjectName(u"CheckUpdates"_s);
    checkUpdates->setToolTip(u"看看下载完的书有没有新章节，有就接着下载"_s);
    helpMenu->addAction(u"帮助"_s, this, &TFrmMain::MenuItem1Click)->setObjectName(u"MenuItem1"_s);
    helpMenu->addAction(u"关于"_s, this, &TFrmMain::MenuItem3Click)->setObjectName(u"MenuItem3"_s);
    m_BtnHelp->setMenu(helpMenu);
    m_BtnHelp->setPopupMode(QToolButton::InstantPopup);

    auto *label = new QLabel(u"选择模板：（默认自动）"_s, panel);
    label->setObjectName(u"Label1"_s);
    label->setGeometry(530, 8, 150, 14);
    m_CBoxTemplate = new QComboBox(panel);
    m_CBoxTemplate->setObjectName(u"CBoxTemplate"_s);
    m_CBoxTemplate->setGeometry(529, 23, 145, 20);
    m_CBoxTemplate->setToolTip(u"手动选择抓书模板"_s);
    m_CBoxTemplate->addItem(templates::AutomaticChoice.toString());
    m_CBoxTemplate->setCurrentIndex(0);

    m_activity = new QLabel(panel);
    m_activity->setObjectName(u"Image1"_s);
    m_activity->setGeometry(685, 9, 33, 31);
    m_activity->setPixmap(QPixmap(RestPicture));

    connect(m_BtnDownload, &QToolButton::clicked, this, &TFrmMain::BtnDownloadClick);
    connect(m_BtnBegin, &QToolButton::clicked, this, &TFrmMain::BtnBeginClick);
    connect(m_BtnStop, &QToolButton::clicked, this, &TFrmMain::BtnStopClick);
    connect(m_BtnConfig, &QToolButton::clicked, this, &TFrmMain::BtnConfigClick);
}

void TFrmMain::buildListArea()
{
    caption(this, u"当前下载页内容预览"_s, 8);
    m_MemoPreview = new QPlainTextEdit(this);
    m_MemoPreview->setObjectName(u"MemoPreview"_s);
    m_MemoPreview->setReadOnly(true);
    m_MemoPreview->setGeometry(8, 72, 193, 329);

    caption(this, u"电子书下载列表"_s, 208);
    m_LVDownList = new QTableView(this);
    m_LVDownList->setObjectName(u"LVDownList"_s);
    m_LVDownList->setGeometry(208, 72, 497, 329);
    m_LVDownList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_LVDownList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_LVDownList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_LVDownList->setSortingEnabled(false);
    m_LVDownList->setShowGrid(false);
    m_LVDownList->setWordWrap(false);
    m_LVDownList->verticalHeader()->hide();
    m_LVDownList->verticalHeader()->setDefaultSectionSize(18);
    m_LVDownList->horizontalHeader()->setSectionsClickable(false);
    m_LVDownList->horizontalHeader()->setHighlightSections(false);
    const int widths[] = {170, 50, 50, 200};
    for (int column = 0; column < BookListModel::ColumnCount; ++column)
        m_LVDownList->setColumnWidth(column, widths[column]);
    // The selection stays visible when the list loses the focus to a button.
    QPalette listPalette = m_LVDownList->palette();
    for (const auto role : {QPalette::Highlight, QPalette::HighlightedText})
        listPalette.setColor(QPalette::Inactive, role, listPalette.color(QPalette::Active, role));
    m_LVDownList->setPalette(listPalette);

    // EWB1 sits behind the list until Ctrl+Enter: a read-only view of the grabbed page's text (no scripts, no
    // network).
    m_pageView = new QTextEdit(this);
    m_pageView->setObjectName(u"EWB1"_s);
    m_pageView->setReadOnly(true);
    m_pageView->setAcceptRichText(false);
    m_pageView->setGeometry(231, 120, 458, 265);
    m_pageView->hide();

    const struct
    {
        const char *name;
        QStyle::StandardPixmap icon;
        const char16_t *hint;
        int y;
        void (TFrmMain::*command)();
    } buttons[] = {
        {"BtnUp", QStyle::SP_ArrowUp, u"向上移动选中的书", 72, &TFrmMain::BtnUpClick},
        {"BtnDelete", QStyle::SP_TrashIcon, u"删除选中的书", 104, &TFrmMain::BtnDeleteClick},
        {"BtnDown", QStyle::SP_ArrowDown, u"向下移动选中的书", 136, &TFrmMain::BtnDownClick},
        {"BtnBrowse", QStyle::SP_DirOpenIcon, u"打开下载书所在文件夹", 177, &TFrmMain::BtnBrowseClick},
    };
    for (const auto &spec : buttons) {
        QToolButton *button = iconButton(this, spec.name, spec.icon, QString::fromUtf16(spec.hint), spec.y);
        connect(button, &QToolButton::clicked, this, spec.command);
    }

    auto *image2 = new QToolButton(this);
    image2->setObjectName(u"Image2"_s);
    image2->setAutoRaise(true);
    image2->setIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));
    image2->setIconSize(QSize(16, 16));
    image2->setGeometry(711, 375, 19, 19);
    image2->setCursor(Qt::PointingHandCursor);
    image2->setToolTip(u"点击访问本软件的主页"_s);
    connect(image2, &QToolButton::clicked, this, &TFrmMain::Image2Click);
}

void TFrmMain::connectEngine()
{
    engine::DownloadScheduler *const scheduler = &m_session->scheduler();
    connect(scheduler, &engine::DownloadScheduler::activityChanged, this,
            [this](bool busy) { m_activity->setPixmap(QPixmap(busy ? BusyPicture : RestPicture)); });
    connect(scheduler, &engine::DownloadScheduler::previewChanged, this, [this](const QString &text) {
        // Only a book being grabbed has its text previewed, and it is the head row.
        m_previewBook.reset();
        if (!text.isEmpty() && !m_session->queue().isEmpty())
            m_previewBook = m_session->queue().idAt(0);
        m_MemoPreview->setPlainText(text);
        refreshPageView();
    });
    connect(&m_session->queue(), &core::BookQueue::aboutToRemove, this, &TFrmMain::onRowAboutToGo);
    connect(&grabBrowser(), &browser::Browser::loadFinished, this, [this](bool ok) {
        if (ok)
            m_pageViewCleared = false;
    });
    connect(scheduler, &engine::DownloadScheduler::progress, this,
            [this](const QString &bookName, int pagesDone, const QUrl &, double pagesPerSecond) {
                onProgress(bookName, pagesDone, pagesPerSecond);
            });
    // An update's panel says how many of its pages are new. Its end is shown after the scheduler's end of the book.
    session::BookUpdates *const updates = &m_session->updates();
    connect(updates, &session::BookUpdates::newPages, this, [this](const QString &bookName, int pages) {
        m_statusBook->setStatusText(session::BookUpdates::outcomeText(bookName, pages));
    });
    connect(
        updates, &session::BookUpdates::ended, this,
        [this](const QString &bookName, int newPages, bool ok) {
            m_statusBook->setStatusText(ok ? session::BookUpdates::outcomeText(bookName, newPages)
                                           : u"《%1》：更新失败"_s.arg(bookName));
        },
        Qt::QueuedConnection);
    connect(
        updates, &session::BookUpdates::allEnded, this,
        [this](int booksWithNewPages, int failed) {
            QString text = u"检查更新完毕：%1 本书有新章节。"_s.arg(booksWithNewPages);
            if (failed > 0)
                text += u"%1 本书没能检查。"_s.arg(failed);
            m_statusBook->setStatusText(text);
            ShowMsg(text);
        },
        Qt::QueuedConnection);
    connect(scheduler, &engine::DownloadScheduler::bookEnded, this,
            [this](engine::GrabEnd end, const QString &bookName) {
                // A finished book says so until the next one starts: on a fast site it may be done before anyone looks.
                m_statusSpeed->clearStatusText();
                if (end == engine::GrabEnd::Complete) {
                    m_statusBook->setStatusText(u"《%1》下载完成"_s.arg(bookName));
                } else {
                    m_statusBook->clearStatusText();
                    m_statusPages->clearStatusText();
                }
                // A close that waited for the grab to write its book goes on now.
                if (m_closeAfterGrab)
                    QTimer::singleShot(0, this, &QWidget::close);
            });
#ifndef QT_NO_SESSIONMANAGER
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &) { winexit(); });
#endif
}

void TFrmMain::FormCreate()
{
    if (!m_options.oldFile.isEmpty() && QFileInfo::exists(m_options.oldFile))
        QFile::remove(m_options.oldFile);

    const QString documents =
        m_options.documentsFolder.isEmpty() ? settings::DocumentsFolder() : m_options.documentsFolder;
    try {
        m_session->loadSettings(documents);
    } catch (const Error &error) {
        m_session->applySettings(settings::LoadSettings(QString(), documents));
        showError(error.message());
    }

    // Only the last level of the save folder is made; a folder that cannot be made gives way to the default.
    settings::AppSettings current = m_session->settings();
    if (!QFileInfo(current.SavePath).isDir() && !QDir().mkdir(current.SavePath)) {
        current.SavePath = settings::defaultSavePath(documents);
        QDir().mkpath(current.SavePath);
        m_session->applySettings(current);
        guarded([this] { settings::SaveSettings(m_folder.settingsFile(), m_session->settings()); });
    }

    guarded([this] { m_session->loadTemplates(); });
}

void TFrmMain::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        FormShow();
    }
}

void TFrmMain::FormShow()
{
    guarded([this] { m_session->loadQueue(); });
    if (m_session->settings().AutoDownload)
        scheduler().start(); // BBtnBeginClick
}

void TFrmMain::closeEvent(QCloseEvent *event)
{
    if (FormCloseQuery()) {
        m_wait->hide();
        event->accept();
    } else {
        event->ignore();
    }
}

bool TFrmMain::FormCloseQuery()
{
    scheduler().requestStop(engine::DownloadScheduler::StopPicture::KeepPicture); // BBtnStopClick
    // The grab writes the book's text when it winds down, which it does at once, from the event loop: closing
    // before that would lose every page of this run.
    if (scheduler().isGrabbing()) {
        m_closeAfterGrab = true;
        return false;
    }
    m_closeAfterGrab = false;
    // A book still being probed is given up: its placeholder must not reach the list file.
    for (AddBook *operation : findChildren<AddBook *>()) {
        operation->abandon();
        operation->deleteLater();
    }
    core::BookQueue &queue = m_session->queue();
    for (int row = queue.size() - 1; row >= 0; --row) {
        if (queue.entry(row).Status == core::BookStatus::Downloaded)
            queue.remove(row);
    }
    guarded([this] { m_session->saveQueue(); });
    return true;
}

void TFrmMain::winexit()
{
    scheduler().requestStop(engine::DownloadScheduler::StopPicture::KeepPicture); // BBtnStopClick
}

bool TFrmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget *>(watched)->window() == this) {
        const auto *key = static_cast<const QKeyEvent *>(event);
        if (key->modifiers() == Qt::ControlModifier) {
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                showPageView();
                return true;
            }
            if (key->key() == Qt::Key_Space) {
                hidePageView();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TFrmMain::showPageView()
{
    refreshPageView();
    m_pageView->show();
    m_pageView->raise();
}

void TFrmMain::hidePageView()
{
    m_pageView->hide();
}

void TFrmMain::refreshPageView()
{
    const auto document = m_pageViewCleared ? nullptr : grabBrowser().GetHtmlDocument();
    if (!document) {
        m_pageView->setPlainText(QString());
        return;
    }
    // A live page reads its texts on demand.
    document->readAllValues([self = QPointer<TFrmMain>(this), document] {
        if (self && !self->m_pageViewCleared && self->grabBrowser().GetHtmlDocument() == document)
            self->m_pageView->setPlainText(pageText(*document));
    });
}

void TFrmMain::onRowAboutToGo(int row)
{
    if (!m_previewBook || m_session->queue().idAt(row) != *m_previewBook)
        return;
    m_previewBook.reset();
    m_pageViewCleared = true;
    m_MemoPreview->clear();
    m_pageView->clear();
}

void TFrmMain::onProgress(const QString &bookName, int pagesDone, double pagesPerSecond)
{
    if (!m_session->updates().follows(bookName))
        m_statusBook->setStatusText(bookName);
    m_statusPages->setStatusText(u"%1 页"_s.arg(pagesDone));
    m_statusSpeed->setStatusText(u"%1 页/秒"_s.arg(pagesPerSecond, 0, 'f', 2));
}

core::BookListPaths TFrmMain::bookListPaths() const
{
    return {m_folder.bookListFile(), m_session->settings().SavePath, m_folder.tempFolder(),
            m_folder.finishedBooksFile()};
}

QList<int> TFrmMain::selectedRows() const
{
    QList<int> rows;
    for (int row = 0; row < m_books->rowCount(); ++row) {
        if (m_LVDownList->selectionModel()->rowIntersectsSelection(row, QModelIndex()))
            rows.append(row);
    }
    return rows;
}

void TFrmMain::selectRow(int row)
{
    m_LVDownList->selectionModel()->setCurrentIndex(m_books->index(row, 0),
                                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TFrmMain::guarded(const std::function<void()> &command)
{
    try {
        command();
    } catch (const Error &error) {
        showError(error.message());
    } catch (const std::exception &error) {
        showError(QString::fromLocal8Bit(error.what()));
    }
}

QWidget *TFrmMain::waitDialog() const
{
    return m_wait;
}

// Commands

void TFrmMain::BtnDownloadClick()
{
    // Each book has a probe of its own (ewb2), so a second add does not cut the first one's load short.
    auto *operation = new AddBook(
        m_session->queue(), m_session->makeProbeBrowser(), *m_dialogs,
        AddBookPaths{m_session->settings().SavePath, m_folder.bookListFile(), m_session->settings().OutputFormat},
        this);
    connect(operation, &AddBook::finished, operation, &QObject::deleteLater);
    guarded([operation] { operation->start(); });
}

void TFrmMain::BtnBeginClick()
{
    scheduler().start();
}

void TFrmMain::BtnStopClick()
{
    scheduler().requestStop();
}

void TFrmMain::checkUpdatesClick()
{
    guarded([this] {
        const QList<core::FinishedBook> books = m_session->finishedBooks();
        if (books.isEmpty())
            return ShowMsg(u"还没有下载完的书。"_s);
        m_session->updates().queue(books);
        if (m_session->updates().isBusy())
            scheduler().start();
    });
}

void TFrmMain::N24Click()
{
    guarded([this] { m_templateCommands->N24Click(); });
}

void TFrmMain::N25Click()
{
    guarded([this] { m_templateCommands->N25Click(); });
}

void TFrmMain::N26Click()
{
    guarded([this] { m_templateCommands->N26Click(); });
}

void TFrmMain::BtnConfigClick()
{
    const auto chosen = m_dialogs->editSettings(m_session->settings(), m_folder.settingsFile());
    if (!chosen)
        return;
    m_session->applySettings(*chosen);
}

void TFrmMain::MenuItem1Click()
{
    const QString help = m_options.helpFile.isEmpty() ? defaultHelpFile() : m_options.helpFile;
    openOrSay(u"帮助文档"_s, QUrl::fromLocalFile(help));
}

void TFrmMain::MenuItem3Click()
{
    m_dialogs->showAbout();
}

void TFrmMain::BtnUpClick()
{
    guarded([this] {
        if (const auto moved = m_listCommands->MoveBookUp(selectedRows()))
            selectRow(*moved);
    });
}

void TFrmMain::BtnDeleteClick()
{
    guarded([this] {
        QList<core::BookQueue::BookId> selected;
        for (const int row : selectedRows())
            selected.append(m_session->queue().idAt(row));
        m_listCommands->DeleteSelectedBooks(selected, bookListPaths());
    });
}

void TFrmMain::BtnDownClick()
{
    guarded([this] {
        if (const auto moved = m_listCommands->MoveBookDown(selectedRows()))
            selectRow(*moved);
    });
}

void TFrmMain::BtnBrowseClick()
{
    openOrSay(u"文件夹"_s, QUrl::fromLocalFile(QDir::fromNativeSeparators(m_session->settings().SavePath)));
}

void TFrmMain::Image2Click()
{
    openOrSay(u"网址"_s, QUrl(dialogs::ProjectAddress));
}

void TFrmMain::openOrSay(const QString &what, const QUrl &url)
{
    if (!m_dialogs->openUrl(url))
        m_dialogs->ShowMsg(openFailedMessage(what, url));
}

// EngineHost

void TFrmMain::ShowMsg(const QString &text)
{
    m_dialogs->ShowMsg(text);
}

void TFrmMain::askYesNo(const QString &caption, const QString &text, std::function<void(bool)> answered)
{
    // The answer may come after the window has gone.
    m_dialogs->askLater(caption, text, [window = QPointer<TFrmMain>(this), answered = std::move(answered)](bool yes) {
        if (window)
            answered(yes);
    });
}

void TFrmMain::requestRedefinition(int index, const QUrl &address)
{
    RequestRedefinition(index, address.toString());
}

void TFrmMain::RequestRedefinition(int index, const QString &address)
{
#ifdef QH_HAVE_WEBENGINE
    ensureTemplateWizard();
    m_wizard->wizard().setRedefineIndex(index);
    m_wizard->wizard().setAddress(address);
    N24Click();
#else
    Q_UNUSED(index);
    Q_UNUSED(address);
    m_dialogs->ShowMsg(WizardMissingMessage);
#endif
}

#ifdef QH_HAVE_WEBENGINE
// Made on first use: its page view starts Chromium, which a session that never defines a template need not pay for.
// It then lives as long as the window, keeping the values of the last definition.
void TFrmMain::ensureTemplateWizard()
{
    if (!m_wizard)
        m_wizard = new TFrmTemplate(*m_dialogs, m_folder.templateFile(), this);
}

// Window-modal without a nested event loop: the engine and the timer go on while it is open.
void TFrmMain::runTemplateWizard(std::function<void()> closed)
{
    ensureTemplateWizard();
    connect(m_wizard, &QDialog::finished, this, std::move(closed), Qt::SingleShotConnection);
    m_wizard->open();
}
#endif

void TFrmMain::showWaitDialog()
{
    m_wait->show();
    m_wait->raise();
}

void TFrmMain::showError(const QString &message)
{
    m_dialogs->showError(message);
}

} // namespace qh::app
