#include "dialogs/waitdialog.h"
#include "dialogs/waitprogress.h"

#include "core/bookentry.h"
#include "core/bookqueue.h"
#include "support/testutils.h"

#include <QApplication>
#include <QCloseEvent>
#include <QSpontaneKeyEvent>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qh;
using namespace std::chrono_literals;
using namespace qh::dialogs;
using qh::core::BookEntry;
using qh::core::BookQueue;

namespace {

qsizetype trailingDots(const QString &label)
{
    qsizetype dots = 0;
    while (dots < label.size() && label.at(label.size() - 1 - dots) == u'.')
        ++dots;
    return dots;
}

// One book per status, in that order.
void addBooks(core::BookQueue &list, const QList<core::BookStatus> &statuses)
{
    for (const core::BookStatus status : statuses)
        list.append({u"书"_s, 0, status, QUrl(u"http://a.example/1.html"_s)});
}

} // namespace

// The dots grow one per tick from three to ten and start again at three; eleven never show, and the words stay.
TEST(WaitProgress, DotsRunFromThreeToTenAndStartAgain)
{
    QString label = WaitCaption;
    QList<qsizetype> seen;
    for (int tick = 0; tick < 17; ++tick) {
        label = nextWaitLabel(label);
        EXPECT_TRUE(label.startsWith(u"正在停止中,请稍候"_s)) << label.toStdString();
        seen << trailingDots(label);
    }
    EXPECT_EQ(seen, QList<qsizetype>({4, 5, 6, 7, 8, 9, 10, 3, 4, 5, 6, 7, 8, 9, 10, 3, 4}));
}

// The stop is done when the list is empty or its head is queued; a downloading head, a head whose status the
// program does not know (a word that only looks alike in the list file), or a queued row behind a downloading head
// keep the wait going.
TEST(WaitProgress, StopCompletedOnEmptyListOrQueuedHead)
{
    const struct
    {
        QList<core::BookStatus> statuses;
        bool completed;
    } cases[] = {
        {{}, true},
        {{core::BookStatus::Queued}, true},
        {{core::BookStatus::Queued, core::BookStatus::Downloading}, true},
        {{core::BookStatus::Downloading}, false},
        {{core::BookStatus::Downloading, core::BookStatus::Queued}, false},
        {{core::BookStatus::Unknown}, false},
        {{core::BookStatus::Downloaded}, false},
    };
    for (const auto &c : cases) {
        core::BookQueue list;
        addBooks(list, c.statuses);
        EXPECT_EQ(stopCompleted(list), c.completed) << c.statuses.size();
    }
}

// The dialog stays up while the head is downloading, its dots going on, and hides itself within a tick of the head
// going back to "排队中".
TEST(TFrmWait, HidesItselfOnceTheHeadIsQueued)
{
    core::BookQueue list;
    addBooks(list, {core::BookStatus::Downloading});
    TFrmWait wait(list, nullptr, 5ms);
    wait.show();

    EXPECT_TRUE(QTest::qWaitFor([&] { return wait.labelText() != WaitCaption; }, 2000));
    QTest::qWait(30);
    EXPECT_TRUE(wait.isVisible());

    list.setStatus(0, qh::core::BookStatus::Queued);
    EXPECT_TRUE(QTest::qWaitFor([&] { return wait.isHidden(); }, 2000));
}

// A stop with an empty list: the dialog closes at the next tick.
TEST(TFrmWait, HidesAtOnceWithAnEmptyList)
{
    const core::BookQueue list;
    TFrmWait wait(list, nullptr, 5ms);
    wait.show();

    EXPECT_TRUE(QTest::qWaitFor([&] { return wait.isHidden(); }, 2000));
}

// The timer runs while the dialog is hidden without showing it, and showing it again does not reset the dots.
TEST(TFrmWait, TicksWhileHiddenAndKeepsItsDotsWhenShownAgain)
{
    core::BookQueue list;
    addBooks(list, {core::BookStatus::Downloading});
    TFrmWait wait(list, nullptr, 5ms);

    EXPECT_TRUE(QTest::qWaitFor([&] { return wait.labelText() != WaitCaption; }, 2000));
    EXPECT_TRUE(wait.isHidden());

    const QString before = wait.labelText();
    wait.show();
    EXPECT_EQ(wait.labelText(), before);
}

// The user cannot close the dialog: no close box, a close request from the window system is refused, and the dialog
// stays above the other windows without blocking them.
TEST(TFrmWait, UserCannotCloseIt)
{
    core::BookQueue list;
    addBooks(list, {core::BookStatus::Downloading});
    TFrmWait wait(list);
    wait.show();

    EXPECT_FALSE(wait.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(wait.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(wait.windowModality(), Qt::NonModal);

    QCloseEvent request;
    QSpontaneKeyEvent::setSpontaneous(&request);
    // notify() rather than sendEvent(), which would clear the spontaneous mark.
    QApplication::instance()->notify(&wait, &request);
    EXPECT_FALSE(request.isAccepted());
    EXPECT_TRUE(wait.isVisible());
}
