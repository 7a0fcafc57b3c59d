#include "dialogs/inputbox.h"

#include "dialogtestutils.h"
#include "support/testutils.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qh::dialogs;

namespace {

struct InputCase
{
    const char *name;
    const char16_t *defaultText;
    const char16_t *typed; // nullptr: the default is left in the edit
    bool confirm;
    const char16_t *expected;
};

void PrintTo(const InputCase &c, std::ostream *os)
{
    *os << c.name;
}

class InputTextCase : public ::testing::TestWithParam<InputCase>
{};

} // namespace

// InputText returns the edit's text as typed when confirmed, an empty edit included, and the default text when
// cancelled, whatever was typed.
TEST_P(InputTextCase, ReturnsTypedTextOrDefault)
{
    const InputCase &c = GetParam();
    qh::test::onModalWindow([&c](QWidget *modal) {
        auto *box = qobject_cast<TFrmInputbox *>(modal);
        if (!box) {
            ADD_FAILURE() << "the modal window is not the input box";
            modal->close();
            return;
        }
        if (c.typed) {
            // insert(), as keyClicks() types ASCII only.
            box->edit()->clear();
            box->edit()->insert(QString::fromUtf16(c.typed));
        }
        QTest::mouseClick(c.confirm ? box->okButton() : box->cancelButton(), Qt::LeftButton);
    });

    const QString result = InputText(nullptr, u"另存为"_s, u"请输入新的书名"_s, QString::fromUtf16(c.defaultText));

    EXPECT_EQ(result, QString::fromUtf16(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Table, InputTextCase,
                         ::testing::Values(InputCase{"TypedTextUntrimmed", u"", u"  http://a.example/1.html ", true,
                                                     u"  http://a.example/1.html "},
                                           InputCase{"EmptyEditConfirmed", u"旧书名", u"", true, u""},
                                           InputCase{"DefaultConfirmedUntouched", u"旧书名", nullptr, true, u"旧书名"},
                                           InputCase{"CancelledAfterTyping", u"旧书名", u"新书名", false, u"旧书名"},
                                           InputCase{"CancelledWithEmptyDefault", u"", u"abc", false, u""}),
                         [](const ::testing::TestParamInfo<InputCase> &param) {
                             return std::string(param.param.name);
                         });

// The box shows the caption, the prompt and the default text, and has no close box to end it any other way.
TEST(TFrmInputbox, ShowsCaptionPromptAndDefaultWithoutCloseBox)
{
    TFrmInputbox box(u"模板名称"_s, u"请输入模板的名称"_s, u"默认"_s);

    EXPECT_EQ(box.windowTitle(), u"模板名称"_s);
    const auto *prompt = box.findChild<QLabel *>(u"sLabel1"_s);
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(prompt->text(), u"请输入模板的名称"_s);
    EXPECT_EQ(box.edit()->text(), u"默认"_s);
    EXPECT_FALSE(box.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(box.okButton()->text(), u"确定"_s);
    EXPECT_EQ(box.cancelButton()->text(), u"取消"_s);
    // Before any answer the result is the default.
    EXPECT_EQ(box.resultText(), u"默认"_s);
}
