// The new-canvas dialog: its layout, the integer texts it accepts, and how it ends.
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <vector>

#include "windows_fixture.h"

namespace {

using NewCanvasDialogTest = WindowsTest;

void Press(QWidget *widget, int key, Qt::KeyboardModifiers modifiers = {})
{
    QKeyEvent event(QEvent::KeyPress, key, modifiers);
    QCoreApplication::sendEvent(widget, &event);
}

// Shows the dialog modally and runs `whileOpen` inside its loop. Whatever `whileOpen` leaves
// open is cancelled afterwards, so a test that fails never hangs.
int ShowAndDo(const std::function<void()> &whileOpen)
{
    QTimer::singleShot(0, Form3, [whileOpen] {
        whileOpen();
        if (Form3->isVisible())
            QTimer::singleShot(0, Form3, [] { Form3->Button2->click(); });
    });
    return Form3->ShowModal();
}

TEST_F(NewCanvasDialogTest, LaysOutEveryControlAsDesigned)
{
    EXPECT_EQ(Form3->windowTitle(), "New");
    EXPECT_FALSE(Form3->isVisible());
    EXPECT_EQ(Form3->pos(), QPoint(214, 130));
    EXPECT_EQ(Form3->size(), QSize(147, 68));
    EXPECT_EQ(Form3->minimumSize(), Form3->maximumSize());
    const auto flags = Form3->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(Form3->palette().color(QPalette::Window), QColor(0, 128, 128));
    EXPECT_EQ(Form3->font().pixelSize(), 12);
    EXPECT_EQ(Form3->NewWidth, 0);
    EXPECT_EQ(Form3->NewHeight, 0);

    struct Control {
        QWidget *widget;
        QRect rect;
        QString text;
    };
    const Control controls[] = {
        {Form3->Edit1, {16, 8, 41, 20}, Form3->Edit1->text()},
        {Form3->Label1, {64, 16, 7, 12}, Form3->Label1->text()},
        {Form3->Edit2, {80, 8, 41, 20}, Form3->Edit2->text()},
        {Form3->Button1, {16, 40, 57, 25}, Form3->Button1->text()},
        {Form3->Button2, {80, 40, 57, 25}, Form3->Button2->text()},
    };
    const char *texts[] = {"640", "X", "480", "OK", "CANCEL"};
    for (size_t i = 0; i < std::size(controls); ++i) {
        EXPECT_EQ(controls[i].widget->geometry(), controls[i].rect) << texts[i];
        EXPECT_EQ(controls[i].text, texts[i]);
    }
    EXPECT_EQ(Form3->Edit1->palette().color(QPalette::Base), QColor(128, 128, 0));
    EXPECT_EQ(Form3->Edit2->palette().color(QPalette::Base), QColor(128, 0, 0));
    EXPECT_EQ(Form3->Edit1->palette().color(QPalette::Text), QColor(Qt::white));

    // Tab goes from the width to the height, then OK, then CANCEL.
    const std::vector<QWidget *> tabOrder = {Form3->Edit1, Form3->Edit2, Form3->Button1, Form3->Button2};
    std::vector<QWidget *> chain;
    for (QWidget *w = Form3->Edit1; chain.size() < tabOrder.size(); w = w->nextInFocusChain())
        if (std::find(tabOrder.begin(), tabOrder.end(), w) != tabOrder.end())
            chain.push_back(w);
    EXPECT_EQ(chain, tabOrder);
    for (QPushButton *button : {Form3->Button1, Form3->Button2}) {
        EXPECT_FALSE(button->isDefault());
        EXPECT_FALSE(button->autoDefault());
    }
}

TEST_F(NewCanvasDialogTest, OkConvertsBothTextsWithTheIntegerGrammar)
{
    struct Row {
        const char *width, *height;
        bool accepted;
        int32_t newWidth, newHeight;
        const char *refused; // the text the message names
    };
    const Row rows[] = {
        {"640", "480", true, 640, 480, nullptr},
        {" 640", "  480", true, 640, 480, nullptr},
        {"640 ", "480", false, 0, 0, "640 "},
        {"\t640", "480", false, 0, 0, "\t640"},
        {"+640", "-640", true, 640, -640, nullptr},
        {"$280", "0x1E0", true, 640, 480, nullptr},
        {"0X1e0", "x1e0", true, 480, 480, nullptr},
        {"X1E0", "0640", true, 480, 640, nullptr},
        {"2147483647", "-2147483648", true, 2147483647, INT32_MIN, nullptr},
        {"2147483648", "1", false, 0, 0, "2147483648"},
        {"-2147483649", "1", false, 0, 0, "-2147483649"},
        {"$FFFFFFFF", "$100000000", false, -1, 0, "$100000000"},
        {"-$10", "1", false, 0, 0, "-$10"},
        {"+0x10", "1", false, 0, 0, "+0x10"},
        {"", "1", false, 0, 0, ""},
        {"   ", "1", false, 0, 0, "   "},
        {"-", "1", false, 0, 0, "-"},
        {"0x", "1", false, 0, 0, "0x"},
        {"$", "1", false, 0, 0, "$"},
        {"12a", "b", false, 0, 0, "12a"},
        {"0", "-1", true, 0, -1, nullptr},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string("'") + row.width + "' x '" + row.height + "'");
        errors.clear();
        Form3->NewWidth = 0;
        Form3->NewHeight = 0;
        bool stayedOpen = false;
        int resultWhileOpen = -1;
        const int result = ShowAndDo([&] {
            Form3->Edit1->setText(row.width);
            Form3->Edit2->setText(row.height);
            Form3->Button1->click();
            stayedOpen = Form3->isVisible();
            resultWhileOpen = Form3->ModalResult();
        });
        EXPECT_EQ(result, row.accepted ? 1 : 2);
        EXPECT_EQ(stayedOpen, !row.accepted);
        EXPECT_EQ(Form3->NewWidth, row.newWidth);
        EXPECT_EQ(Form3->NewHeight, row.newHeight);
        if (row.accepted) {
            EXPECT_TRUE(errors.empty());
        } else {
            EXPECT_EQ(resultWhileOpen, 0);
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_EQ(errors[0].text, QString("'") + QString::fromUtf8(row.refused) + "' は整数ではありません.");
            // A refused text stays in its edit for the user to mend.
            EXPECT_EQ(Form3->Edit1->text(), QString::fromUtf8(row.width));
            EXPECT_EQ(Form3->Edit2->text(), QString::fromUtf8(row.height));
        }
    }
}

TEST_F(NewCanvasDialogTest, CancelTheCloseBoxAndEscapeEndOnlyAsTheyShould)
{
    EXPECT_EQ(ShowAndDo([] { Form3->Button2->click(); }), 2);
    EXPECT_FALSE(Form3->isVisible());
    // The close box, the system menu and Alt+F4 all close the window.
    EXPECT_EQ(ShowAndDo([] { Form3->close(); }), 2);

    // Esc presses no cancel button and Enter in an edit presses no default button.
    bool openAfterKeys = false;
    const int result = ShowAndDo([&] {
        Press(Form3->Edit1, Qt::Key_Escape);
        Press(Form3, Qt::Key_Escape);
        Press(Form3->Edit2, Qt::Key_Return);
        Press(Form3->Edit1, Qt::Key_Enter);
        openAfterKeys = Form3->isVisible() && Form3->ModalResult() == 0;
    });
    EXPECT_TRUE(openAfterKeys);
    EXPECT_EQ(result, 2);
    EXPECT_EQ(Form3->NewWidth, 0);
    EXPECT_EQ(Form3->NewHeight, 0);
    EXPECT_TRUE(errors.empty());
}

TEST_F(NewCanvasDialogTest, TextsAreKeptBetweenShowings)
{
    EXPECT_EQ(ShowAndDo([] {
                  Form3->Edit1->setText("800");
                  Form3->Edit2->setText("600");
                  Form3->Button1->click();
              }),
              1);
    QString width, height;
    EXPECT_EQ(ShowAndDo([&] {
                  width = Form3->Edit1->text();
                  height = Form3->Edit2->text();
                  Form3->Button2->click();
              }),
              2);
    EXPECT_EQ(width, "800");
    EXPECT_EQ(height, "600");

    // Texts typed and then cancelled are offered again as well.
    ShowAndDo([] {
        Form3->Edit1->setText("7");
        Form3->Button2->click();
    });
    EXPECT_EQ(Form3->Edit1->text(), "7");
    EXPECT_EQ(Form3->NewWidth, 800);
}

} // namespace
