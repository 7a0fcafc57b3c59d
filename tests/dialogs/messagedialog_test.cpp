#include "dialogs/dialogmessagesink.h"
#include "dialogs/messagedialog.h"

#include "support/testutils.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qh::dialogs;

namespace {

void processDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

// ShowMsg returns while its notice is still open (the caller is not reentered), the notice is modal with the caption
// "提醒" and the text, and "确定" closes and frees it.
TEST(ShowMsg, ShowsModalNoticeWithoutBlockingAndFreesItOnOk)
{
    QPointer<TFrmMsg> dialog = ShowMsg(nullptr, u"模板保存成功"_s);

    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(dialog->windowTitle(), u"提醒"_s);
    EXPECT_EQ(dialog->text(), u"模板保存成功"_s);
    EXPECT_EQ(dialog->okButton()->text(), u"确定"_s);

    QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
    EXPECT_FALSE(dialog && dialog->isVisible());
    processDeferredDeletes();
    EXPECT_TRUE(dialog.isNull());
}

// A text longer than the label is cut at the label's edge: neither the label nor the dialog grows, and markup in a
// message (an address, a page title) is shown as text.
TEST(ShowMsg, LongTextKeepsTheDialogsSize)
{
    const QString longText = QString(u"很长的提示文字<b>，"_s).repeated(40);
    TFrmMsg dialog(longText);
    dialog.show();

    const auto *label = dialog.findChild<QLabel *>(u"Label1"_s);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->size(), QSize(321, 41));
    EXPECT_EQ(dialog.size(), QSize(371, 107));
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_TRUE(label->wordWrap());
}

// The main window's message sink shows each notice in a TFrmMsg of its own above the window.
TEST(DialogMessageSink, ShowsEachNoticeInItsOwnDialog)
{
    QWidget window;
    DialogMessageSink sink(&window);

    sink.ShowMsg(u"第一条"_s);
    sink.ShowMsg(u"第二条"_s);

    const QList<TFrmMsg *> shown = window.findChildren<TFrmMsg *>();
    ASSERT_EQ(shown.size(), 2);
    QStringList texts;
    for (const TFrmMsg *dialog : shown) {
        EXPECT_TRUE(dialog->isVisible());
        texts << dialog->text();
    }
    texts.sort();
    EXPECT_EQ(texts, QStringList({u"第一条"_s, u"第二条"_s}));
}

// A sink whose window has gone still shows its notices, without a parent.
TEST(DialogMessageSink, OutlivesItsWindow)
{
    auto window = std::make_unique<QWidget>();
    DialogMessageSink sink(window.get());
    window.reset();

    sink.ShowMsg(u"窗口已关闭"_s);

    auto *modal = qobject_cast<TFrmMsg *>(QApplication::activeModalWidget());
    ASSERT_NE(modal, nullptr);
    EXPECT_EQ(modal->text(), u"窗口已关闭"_s);
    modal->accept();
    processDeferredDeletes();
}
