#include "dialogs/aboutdialog.h"

#include "dialogs/linklabel.h"
#include "support/testutils.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qh::dialogs;

namespace {

// An about box that records the addresses it would open.
class AboutBox : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_about.setUrlOpener([this](const QUrl &url) { m_opened << url; });
        m_about.show();
    }

    TFrmAbout m_about;
    QList<QUrl> m_opened;
};

} // namespace

// The box names the program, its version and its licence, and is modal and borderless.
TEST_F(AboutBox, ShowsNameVersionAndLicence)
{
    QStringList lines;
    for (const QLabel *label : m_about.findChildren<QLabel *>())
        lines << label->text();

    EXPECT_TRUE(lines.contains(u"名称：    Quillhaul"_s));
    EXPECT_TRUE(lines.contains(u"版本：    "_s + QStringLiteral(QUILLHAUL_VERSION)));
    EXPECT_TRUE(lines.join(u'\n').contains(u"GPL-3.0-or-later"_s));
    EXPECT_TRUE(m_about.isModal());
    EXPECT_TRUE(m_about.windowFlags() & Qt::FramelessWindowHint);
}

// A click on the address opens it and leaves the box open.
TEST_F(AboutBox, LinkOpensTheAddress)
{
    auto *link = m_about.findChild<LinkLabel *>(u"SiteLink"_s);
    ASSERT_NE(link, nullptr);

    QTest::mouseClick(link, Qt::LeftButton);

    EXPECT_EQ(m_opened, QList<QUrl>({QUrl(u"https://quillhaul.org"_s)}));
    EXPECT_TRUE(m_about.isVisible());
}

// "关闭" and a click anywhere else on the panel, a label included, close the box without opening anything.
TEST_F(AboutBox, CloseButtonAndPanelClickClose)
{
    QTest::mouseClick(m_about.findChild<QPushButton *>(u"BtnClose"_s), Qt::LeftButton);
    EXPECT_FALSE(m_about.isVisible());

    m_about.show();
    QTest::mouseClick(m_about.findChild<QLabel *>(u"Version"_s), Qt::LeftButton);
    EXPECT_FALSE(m_about.isVisible());

    m_about.show();
    QTest::mouseClick(&m_about, Qt::LeftButton, {}, QPoint(290, 60));
    EXPECT_FALSE(m_about.isVisible());
    EXPECT_TRUE(m_opened.isEmpty());
}
