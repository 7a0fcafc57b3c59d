#include "cli/clicontext.h"
#include "cli/webengineloader.h"
#include "common/datafolder.h"
#include "common/error.h"
#include "common/messagesink.h"
#include "common/textfile.h"
#include "engine/anchormatch.h"
#include "engine/locators.h"
#include "engine/nexturl.h"
#include "session/enginebrowsers.h"
#include "templates/sitehead.h"
#include "templates/templatefile.h"
#include "templates/templatestore.h"
#include "templates/wizardsave.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;

namespace qh::cli {

namespace {

using templates::TemplateStore;

const char Usage[] = "Usage: quillhaul-cli [--data-dir DIR] templates list\n"
                     "       quillhaul-cli [--data-dir DIR] templates show|delete|up|down NAME\n"
                     "       quillhaul-cli [--data-dir DIR] templates import|export FILE\n"
                     "       quillhaul-cli [--data-dir DIR] templates define --name NAME [--url SAMPLE_URL]\n"
                     "           --linkname TEXT --title-index N --title-tag TAG --content-index N\n"
                     "           --content-tag TAG --parent-index N [--engine web|static]\n"
                     "  define replaces the values of an existing template, keeping its place and head;\n"
                     "  a new template needs --url, whose site head it gets. Tags as the page has them (e.g. DIV).\n"
                     "  --engine web reads the pages with scripts run; without --engine a new template is static\n"
                     "  and an existing one keeps its engine.\n"
                     "  With --url the sample page is loaded: the indexes must name elements of the tags given and\n"
                     "  the link must be on it; the template then also records what the elements look like, so that\n"
                     "  they are found where other pages have them, and define prints what it takes from the page.\n";

// A usage problem, as opposed to an operation that failed.
struct UsageError
{
    QString message;
};

// The store's notices (the move messages) go to stderr, since the command then fails.
class StreamSink final : public MessageSink
{
public:
    explicit StreamSink(QTextStream &stream) : m_stream(stream) {}
    void ShowMsg(const QString &text) override { m_stream << "quillhaul-cli: " << text << '\n'; }

private:
    QTextStream &m_stream;
};

// "system.tpe" in the data folder; a missing file is a store without templates.
class StoreFile
{
public:
    explicit StoreFile(const QString &dataDirOverride) : m_path(DataFolder::locate(dataDirOverride).templateFile()) {}

    const QString &path() const { return m_path; }
    bool exists() const { return QFileInfo(m_path).isFile(); }
    TemplateStore load() const { return exists() ? templates::LoadTemplateFile(m_path) : TemplateStore(); }
    void save(const TemplateStore &store) const { templates::SaveTemplateFile(m_path, store); }

private:
    QString m_path;
};

Error noSuchTemplate(const QString &name)
{
    return Error(u"没有名为“%1”的模板。"_s.arg(name));
}

QString singleArgument(const QStringList &args, const char *what)
{
    if (args.size() != 1)
        throw UsageError{u"expected one %1"_s.arg(QString::fromLatin1(what))};
    return args.first();
}

int list(CliContext &context, const StoreFile &file)
{
    if (!context.args.isEmpty())
        throw UsageError{u"list takes no arguments"_s};
    const TemplateStore store = file.load();
    const QStringList names = store.ListTemplateNames(false);
    const QStringList heads = store.ListTemplateHeads();
    // The k-th name and head belong together, as in the wizard's list; a broken record may lack either.
    for (qsizetype k = 0; k < std::max(names.size(), heads.size()); ++k)
        context.out << names.value(k) << '\t' << heads.value(k) << '\n';
    return ExitOk;
}

int show(CliContext &context, const StoreFile &file)
{
    const QString name = singleArgument(context.args, "NAME");
    const QStringList lines = file.load().recordOf(name);
    if (lines.isEmpty())
        throw noSuchTemplate(name);
    for (const QString &line : lines)
        context.out << line << '\n';
    return ExitOk;
}

// A byte-for-byte copy, so an export and its re-import give an identical file; a file that does not load is
// refused before "system.tpe" is touched.
int importFile(CliContext &context, const StoreFile &file)
{
    const QString source = singleArgument(context.args, "FILE");
    const QByteArray bytes = text::readFile(source, templates::MaxTemplateFileBytes);
    templates::parseTemplateFile(bytes);
    text::writeFileAtomically(file.path(), bytes);
    return ExitOk;
}

int exportFile(CliContext &context, const StoreFile &file)
{
    const QString target = singleArgument(context.args, "FILE");
    if (!file.exists())
        throw Error(u"模板文件“%1”不存在，没有可导出的模板。"_s.arg(file.path()));
    text::writeFileAtomically(target, text::readFile(file.path(), templates::MaxTemplateFileBytes));
    return ExitOk;
}

int deleteTemplate(CliContext &context, const StoreFile &file)
{
    const QString name = singleArgument(context.args, "NAME");
    TemplateStore store = file.load();
    if (!store.DeleteTemplate(name))
        throw noSuchTemplate(name);
    file.save(store);
    return ExitOk;
}

int moveTemplate(CliContext &context, const StoreFile &file, bool up)
{
    const QString name = singleArgument(context.args, "NAME");
    TemplateStore store = file.load();
    if (!store.FindTemplateByName(name))
        throw noSuchTemplate(name);
    StreamSink sink(context.err);
    const bool moved = up ? store.MoveTemplateUp(name, sink) : store.MoveTemplateDown(name, sink);
    if (!moved)
        return ExitError;
    file.save(store);
    return ExitOk;
}

int nonNegativeInteger(const QCommandLineParser &parser, const QString &option)
{
    const QString value = parser.value(option);
    bool ok = false;
    const int number = value.toInt(&ok, 10);
    if (!ok || number < 0 || value != QString::number(number))
        throw UsageError{u"--%1 needs a number 0 or greater, not '%2'"_s.arg(option, value)};
    return number;
}

// --engine as given; none when it is not.
std::optional<templates::GrabEngine> engineOption(const QCommandLineParser &parser)
{
    if (!parser.isSet(u"engine"_s))
        return std::nullopt;
    const QString value = parser.value(u"engine"_s);
    if (value == templates::WebEngineValue)
        return templates::GrabEngine::Web;
    if (value == templates::StaticEngineValue)
        return templates::GrabEngine::Static;
    throw UsageError{u"--engine must be web or static, not '%1'"_s.arg(value)};
}

// The sample page as the template's engine reads it; null with a warning when it cannot be loaded.
std::shared_ptr<const browser::Document> loadSample(const QUrl &url, templates::GrabEngine engine, CliContext &context)
{
    session::EngineBrowsers browsers(webEnginePluginFactory(context.err));
    browser::Browser *const browser = browsers.browserFor(engine);
    if (!browser) {
        context.err << "quillhaul-cli: this build has no web engine to read the sample page\n";
        return nullptr;
    }
    std::shared_ptr<const browser::Document> document;
    QObject::connect(browser, &browser::Browser::loadFinished, browser, [&](bool ok) {
        if (!ok) {
            context.err << "quillhaul-cli: " << browser->lastError().message << '\n';
            QCoreApplication::exit(0);
            return;
        }
        // A live page's texts and markup are read when asked for; the checks below read them synchronously.
        document = browser->GetHtmlDocument();
        if (!document)
            return QCoreApplication::exit(0);
        document->readAllValues([] { QCoreApplication::exit(0); });
    });
    browser->Navigate(url);
    QCoreApplication::exec();
    return document;
}

// The element at index, refused unless it has the tag given.
browser::Element sampleElement(const browser::Document &document, int index, const QString &tag, const char *what)
{
    const std::optional<browser::Element> element = document.all().item(index);
    if (!element)
        throw Error(u"样本网页只有 %1 个元素，没有 %2 位置 %3。"_s.arg(document.elementCount())
                        .arg(QString::fromLatin1(what), QString::number(index)));
    if (!engine::sameTagName(element->tagName(), tag))
        throw Error(u"样本网页位置 %1 的元素是 %2，不是 %3 给出的 %4。"_s.arg(
            QString::number(index), element->tagName(), QString::fromLatin1(what), tag));
    return *element;
}

QString oneLine(QString text, qsizetype length)
{
    text = text.simplified();
    if (text.size() > length)
        text = text.first(length) + u"…"_s;
    return text;
}

// Checks the values against the sample page, records the anchors and prints what the template takes from it.
void takeFromSample(const browser::Document &document, templates::TemplateValues &values, CliContext &context)
{
    const browser::Element title = sampleElement(document, values.ititleindex, values.sTitleTagname, "--title-index");
    const browser::Element content =
        sampleElement(document, values.icontentindex, values.sContentTagname, "--content-index");
    const std::optional<browser::Element> parent = content.parentElement();
    if (!parent || parent->sourceIndex() != values.iparentindex)
        throw Error(u"样本网页位置 %1 的元素的父元素在位置 %2，不是 --parent-index 给出的 %3。"_s.arg(
            QString::number(values.icontentindex), QString::number(parent ? parent->sourceIndex() : -1),
            QString::number(values.iparentindex)));
    std::optional<browser::Element> link;
    const browser::ElementCollection all = document.all();
    for (int i = 0; i < all.length() && !link && !values.linkname.isEmpty(); ++i) {
        const browser::Element element = *all.item(i);
        if (engine::sameTagName(element.tagName(), u"A") && element.innerHTML() == values.linkname)
            link = element;
    }
    if (!values.linkname.isEmpty() && !link)
        throw Error(u"样本网页上没有内部标记为“%1”的链接。"_s.arg(values.linkname));

    values.titleAnchor = engine::anchorOf(title);
    values.contentAnchor = engine::anchorOf(content);
    if (link)
        values.linkAnchor = engine::anchorOf(*link);
    context.out << "title: " << oneLine(title.innerText(), 80) << '\n';
    context.out << "text: " << oneLine(content.innerText(), 40) << '\n';
    if (link) {
        const QUrl next = engine::resolveNextUrl(document.url(), engine::baseHrefOf(document), engine::HrefOf(*link));
        context.out << "next: " << next.toString() << '\n';
    }
}

// What the wizard's save does, without questions.
int define(CliContext &context, const StoreFile &file)
{
    QCommandLineParser parser;
    const QStringList required = {u"name"_s,          u"linkname"_s,    u"title-index"_s, u"title-tag"_s,
                                  u"content-index"_s, u"content-tag"_s, u"parent-index"_s};
    for (const QString &option : required + QStringList{u"url"_s, u"engine"_s})
        parser.addOption(QCommandLineOption(option, QString(), u"value"_s));
    if (!parser.parse(QStringList{u"define"_s} + context.args))
        throw UsageError{parser.errorText()};
    if (!parser.positionalArguments().isEmpty())
        throw UsageError{u"unexpected argument '%1'"_s.arg(parser.positionalArguments().first())};
    for (const QString &option : required) {
        if (!parser.isSet(option))
            throw UsageError{u"--%1 is required"_s.arg(option)};
    }
    const QString name = parser.value(u"name"_s);
    if (name.isEmpty())
        throw Error(u"必须输入模板名称才能保存模板。"_s);
    const int titleIndex = nonNegativeInteger(parser, u"title-index"_s);
    const int contentIndex = nonNegativeInteger(parser, u"content-index"_s);
    const int parentIndex = nonNegativeInteger(parser, u"parent-index"_s);
    const std::optional<templates::GrabEngine> engine = engineOption(parser);

    TemplateStore store = file.load();
    QString head;
    if (!store.FindTemplateByName(name)) {
        if (!parser.isSet(u"url"_s))
            throw UsageError{u"a new template needs --url"_s};
        head = templates::SiteHeadOf(parser.value(u"url"_s));
        if (head.isEmpty())
            throw UsageError{u"--url must be an http:// or https:// address"_s};
    }
    templates::TemplateValues values;
    values.linkname = parser.value(u"linkname"_s);
    values.ititleindex = titleIndex;
    values.icontentindex = contentIndex;
    values.iparentindex = parentIndex;
    values.sContentTagname = parser.value(u"content-tag"_s);
    values.sTitleTagname = parser.value(u"title-tag"_s);
    values.engine = engine.value_or(templates::engineOfTemplate(store, name));
    if (parser.isSet(u"url"_s)) {
        const QUrl url(parser.value(u"url"_s));
        if (const auto document = loadSample(url, values.engine, context))
            takeFromSample(*document, values, context);
        else
            context.err << "quillhaul-cli: the sample page could not be read; the template is saved without "
                           "anchors and is matched by position alone\n";
    }
    templates::storeTemplateValues(store, name, head, values);
    file.save(store);
    return ExitOk;
}

int run(CliContext &context)
{
    using Subcommand = int (*)(CliContext &, const StoreFile &);
    static const struct
    {
        QStringView name;
        Subcommand run;
    } subcommands[] = {
        {u"list", list},
        {u"show", show},
        {u"import", importFile},
        {u"export", exportFile},
        {u"delete", deleteTemplate},
        {u"up", [](CliContext &c, const StoreFile &f) { return moveTemplate(c, f, true); }},
        {u"down", [](CliContext &c, const StoreFile &f) { return moveTemplate(c, f, false); }},
        {u"define", define},
    };
    if (context.args.isEmpty())
        throw UsageError{u"missing subcommand"_s};
    const QString name = context.args.takeFirst();
    for (const auto &subcommand : subcommands) {
        if (subcommand.name == name)
            return subcommand.run(context, StoreFile(context.dataDirOverride));
    }
    throw UsageError{u"unknown subcommand '%1'"_s.arg(name)};
}

} // namespace

// Works on "system.tpe" in the data folder; see Usage.
int templatesCommand(CliContext &context)
{
    if (context.helpRequested()) {
        context.out << Usage;
        return ExitOk;
    }
    try {
        return run(context);
    } catch (const UsageError &error) {
        context.err << "quillhaul-cli templates: " << error.message << '\n' << Usage;
        return ExitUsage;
    } catch (const Error &error) {
        context.err << "quillhaul-cli: " << error.message() << '\n';
        return ExitError;
    }
}

} // namespace qh::cli
