// The next-link search over a large parsed page, end to end through the event loop: from start() to finished,
// with the page parsed afresh (outside the timing) for every run, so no read is served from an earlier run's cache.
#include "browser/html/htmlparser.h"
#include "engine/locators.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr int PageElements = 10'000;
const QString LinkName = u"下一页"_s;

// A chapter page of about PageElements elements: paragraphs and links, with the next-page link (when wanted) a few
// elements before the end.
QString chapterPage(bool withNextLink)
{
    QString html = u"<html><head><title>第一章</title></head><body><h1>第一章</h1><div id=\"content\">"_s;
    // html, head, title, body, h1, div so far; each round adds p, a, br.
    const int rounds = (PageElements - 6 - 2) / 3;
    for (int i = 0; i < rounds; ++i) {
        html += u"<p>正文第 "_s + QString::number(i) + u" 段，内容若干。</p><a href=\"/book/"_s + QString::number(i) +
                u".html\">第 "_s + QString::number(i) + u" 章</a><br>"_s;
    }
    html += u"</div><div class=\"nav\"><a href=\"/book/0.html\">目录</a>"_s;
    if (withNextLink)
        html += u"<a href=\"/book/2.html\">"_s + LinkName + u"</a>"_s;
    html += u"</div></body></html>"_s;
    return html;
}

void runNextLinkSearch(benchmark::State &state, bool withNextLink)
{
    const QString html = chapterPage(withNextLink);
    const QUrl url(u"http://bench.test/book/1.html"_s);
    const qh::engine::StopFlag stopFlag;
    qint64 longestSliceNs = 0;
    qint64 totalSliceNs = 0;
    qint64 timedSlices = 0;
    qint64 slices = 0;
    int elements = 0;
    QString result;

    for (auto _ : state) {
        state.PauseTiming();
        std::shared_ptr<const qh::browser::Document> document = qh::browser::parseHtmlText(html, url);
        elements = document->elementCount();
        QElapsedTimer sliceTimer;
        const auto endSlice = [&] {
            if (!sliceTimer.isValid())
                return;
            const qint64 ns = sliceTimer.nsecsElapsed();
            longestSliceNs = std::max(longestSliceNs, ns);
            totalSliceNs += ns;
            ++timedSlices;
        };
        qh::engine::LocatorConfig config;
        // The default scheduling, timed: how long each slice holds the event loop.
        config.schedule = [&](QObject *context, std::function<void()> step) {
            endSlice();
            ++slices;
            QTimer::singleShot(0, context, [&sliceTimer, step = std::move(step)] {
                sliceTimer.start();
                step();
            });
        };
        state.ResumeTiming();

        QEventLoop loop;
        auto search = qh::engine::FindNextLink(document, LinkName, stopFlag, config);
        QObject::connect(search.get(), &qh::engine::LocatorSearch::finished, &loop, [&](const QString &href) {
            endSlice();
            result = href;
            loop.quit();
        });
        search->start();
        loop.exec();
    }
    if (result != (withNextLink ? u"/book/2.html"_s : QString()))
        state.SkipWithError("unexpected search result");
    state.counters["elements"] = elements;
    state.counters["slices_per_search"] = double(slices) / double(state.iterations());
    state.counters["mean_slice_ms"] = timedSlices ? double(totalSliceNs) / double(timedSlices) / 1e6 : 0.0;
    // Wall time: on a busy machine this includes the worst preemption seen.
    state.counters["longest_slice_ms"] = double(longestSliceNs) / 1e6;
}

void BM_FindNextLink_MatchNearEnd(benchmark::State &state)
{
    runNextLinkSearch(state, true);
}

void BM_FindNextLink_NoMatch(benchmark::State &state)
{
    runNextLinkSearch(state, false);
}

} // namespace

BENCHMARK(BM_FindNextLink_MatchNearEnd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindNextLink_NoMatch)->Unit(benchmark::kMillisecond);

// The searches need an application object for their event loop.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
