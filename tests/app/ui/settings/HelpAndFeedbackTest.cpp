#include "app/ui/support/UiTestFixture.hpp"

#include "app/ui/settings/FeedbackView.hpp"
#include "app/ui/settings/FormWarning.hpp"
#include "app/ui/settings/HelpView.hpp"
#include "app/ui/shell/MacMainView.hpp"
#include "app/ui/settings/ThankYouView.hpp"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QUrlQuery>

using namespace parlino;
using namespace uitest;

namespace {

class Sheets : public UiTest {
protected:
    Sheets() { showAt(owner, QSize(900, 700)); }

    QWidget owner;
    CapturedStdout console;
};

// How much of the star's icon is drawn in the amber of a lit star.
double amberShare(QToolButton* star)
{
    const QImage icon = star->icon().pixmap(32, 32).toImage();
    return shareOfPixels(icon, icon.rect(), [](QColor c) { return c.alpha() > 200 && near(c, QColor(0xF5, 0x9E, 0x0B), 30); });
}

} // namespace

TEST_F(Sheets, HelpClosesOnEscapeAndOnZavrietAndScrollsBetweenFixedParts)
{
    QPointer<HelpView> help = HelpView::present(&owner);
    ASSERT_TRUE(waitFor([&] { return help && help->isVisible(); }));
    EXPECT_EQ(help->size(), QSize(550, 600));
    QStringList titles;
    for (const HelpSection& section : HelpView::sections()) {
        titles << section.title;
    }
    EXPECT_EQ(titles, (QStringList{"Nahrávanie", "Organizácia", "AI Integrácia", "Synchronizácia"}));
    EXPECT_EQ(HelpView::sections()[2].tips.front(),
        QStringLiteral("Klikni na AI ikonu pre odoslanie prepisu do ChatGPT, Claude, Gemini, Perplexity alebo Copilot"));
    QStringList keys;
    for (const ShortcutRow& row : HelpView::shortcutRows()) {
        keys << row.key + QLatin1Char('=') + row.description;
    }
    EXPECT_EQ(keys, (QStringList{"Ctrl R=Nová nahrávka", "Ctrl ,=Nastavenia", "Ctrl F=Vyhľadávanie",
                        "Space=Prehrať/Zastaviť", "Delete=Zmazať nahrávku"}));

    // The cards are taller than the sheet: they scroll, the close button stays where it is.
    auto* scroll = child<QScrollArea>(*help, "helpScroll");
    QScrollBar* bar = scroll->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    auto* close = child<QPushButton>(*help, "closeHelpButton");
    const QPoint closeAt = close->mapTo(help, QPoint());
    const QImage top = saveScreenshot(*help, QStringLiteral("help-sheet"));
    EXPECT_GT(distinctColours(top), 30);
    bar->setValue(bar->maximum());
    saveScreenshot(*help, QStringLiteral("help-sheet-scrolled"));
    EXPECT_EQ(close->mapTo(help, QPoint()), closeAt);

    QTest::keyClick(help, Qt::Key_Escape);
    ASSERT_TRUE(waitFor([&] { return help.isNull(); }));

    help = HelpView::present(&owner);
    ASSERT_TRUE(waitFor([&] { return help && help->isVisible(); }));
    click(child<QPushButton>(*help, "closeHelpButton"));
    ASSERT_TRUE(waitFor([&] { return help.isNull(); }));
}

TEST_F(Sheets, LowRatingsComposeAnEncodedMailAndCloseTheForm)
{
    auto* feedback = new FeedbackView(urlOpener, &owner, QStringLiteral("feedback@example.com"));
    feedback->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<FeedbackView> form = feedback;
    feedback->open();
    ASSERT_TRUE(waitFor([&] { return feedback->isVisible(); }));
    EXPECT_EQ(feedback->width(), 500);
    EXPECT_GE(feedback->height(), 550);
    EXPECT_EQ(feedback->selectedCategory(), QStringLiteral("General"));

    // No rating, no sending, also not through Return.
    auto* send = child<QPushButton>(*feedback, "sendFeedbackButton");
    EXPECT_FALSE(send->isEnabled());
    send->setFocus();
    QTest::keyClick(feedback, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_TRUE(form);
    EXPECT_TRUE(urlOpener.opened.empty());

    auto* category = child<QComboBox>(*feedback, "feedbackCategoryPicker");
    category->setCurrentText(QStringLiteral("Bug Report"));
    click(child<QToolButton>(*feedback, "star3"));
    EXPECT_EQ(feedback->rating(), 3);
    for (const char* lit : {"star1", "star2", "star3"}) {
        EXPECT_GT(amberShare(child<QToolButton>(*feedback, lit)), 0.05) << lit;
    }
    for (const char* dark : {"star4", "star5"}) {
        EXPECT_EQ(amberShare(child<QToolButton>(*feedback, dark)), 0.0) << dark;
    }
    const QString text = QStringLiteral("abc & d=e?f/g #1 + ž\nnext");
    child<QPlainTextEdit>(*feedback, "feedbackText")->setPlainText(text);
    saveScreenshot(*feedback, QStringLiteral("feedback"));
    EXPECT_TRUE(send->isEnabled());
    click(send);

    ASSERT_EQ(urlOpener.opened.size(), 1u);
    const QUrl mail = urlOpener.opened.front();
    EXPECT_EQ(mail.scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(mail.path(), QStringLiteral("feedback@example.com"));
    const QByteArray encoded = mail.toEncoded();
    // Every value is whole: its delimiters, line breaks and letters are all escaped.
    EXPECT_TRUE(encoded.contains("%26%20d%3De%3Ff%2Fg%20%231%20%2B%20%C5%BE%0D%0Anext")) << encoded.toStdString();
    EXPECT_EQ(encoded.count('&'), 1);
    const QUrlQuery query(mail);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
        QStringLiteral("Parlino Feedback - Bug Report"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded),
        QStringLiteral("Kategória: Bug Report\r\nHodnotenie: ⭐️⭐️⭐️\r\n\r\nFeedback:\r\nabc & d=e?f/g #1 + ž\r\nnext"
                       "\r\n\r\n---\r\nApp: Parlino Linux\r\nVersion: 1.0"));
    EXPECT_EQ(console.lines(), QStringList{QStringLiteral("✅ Opened mail app with feedback")});
    ASSERT_TRUE(waitFor([&] { return form.isNull(); }));

    // Without an address the sheet says so under its buttons from the start, and one to three stars
    // cannot be sent: the form stays open with its text.
    console.clear();
    QPointer<FeedbackView> unaddressed = FeedbackView::present(urlOpener, &owner);
    ASSERT_TRUE(waitFor([&] { return unaddressed && unaddressed->isVisible(); }));
    auto* warning = child<FormWarning>(*unaddressed, "feedbackUnsentWarning");
    EXPECT_TRUE(warning->isVisible());
    EXPECT_EQ(warning->text(), QStringLiteral("Feedback zatiaľ nemožno poslať: chýba platná adresa príjemcu."));
    auto* unsendable = child<QPushButton>(*unaddressed, "sendFeedbackButton");
    const QRect buttonsAt(unsendable->mapTo(unaddressed, QPoint()), unsendable->size());
    EXPECT_GE(warning->mapTo(unaddressed, QPoint()).y(), buttonsAt.bottom());
    EXPECT_LE(warning->mapTo(unaddressed, QPoint()).y(), buttonsAt.bottom() + 24);
    EXPECT_TRUE(unaddressed->rect().contains(QRect(warning->mapTo(unaddressed, QPoint()), warning->size())));
    click(child<QToolButton>(*unaddressed, "star2"));
    child<QPlainTextEdit>(*unaddressed, "feedbackText")->setPlainText(QStringLiteral("Keep me"));
    EXPECT_FALSE(unsendable->isEnabled());
    click(unsendable);
    QTest::keyClick(unaddressed, Qt::Key_Return);
    unaddressed->submitFeedback();
    QCoreApplication::processEvents();
    ASSERT_TRUE(unaddressed);
    EXPECT_TRUE(unaddressed->isVisible());
    EXPECT_EQ(unaddressed->feedbackText(), QStringLiteral("Keep me"));
    EXPECT_EQ(urlOpener.opened.size(), 1u);
    EXPECT_EQ(console.lines(), QStringList{QStringLiteral("⚠️ No feedback address is set - feedback not sent")});
    const QImage unsent = saveScreenshot(*unaddressed, QStringLiteral("feedback-no-address"));
    EXPECT_GT(distinctColours(unsent), 30);
    // Four or five stars cannot look sent either: no thanks, and the text stays.
    for (const char* high : {"star4", "star5"}) {
        click(child<QToolButton>(*unaddressed, high));
        EXPECT_FALSE(unsendable->isEnabled()) << high;
        click(unsendable);
        QTest::keyClick(unaddressed, Qt::Key_Return);
        unaddressed->submitFeedback();
        QCoreApplication::processEvents();
        ASSERT_TRUE(unaddressed);
        EXPECT_FALSE(unaddressed->showThankYouSheet()) << high;
        EXPECT_EQ(unaddressed->feedbackText(), QStringLiteral("Keep me"));
    }
    EXPECT_EQ(urlOpener.opened.size(), 1u);
    click(child<QPushButton>(*unaddressed, "cancelFeedbackButton"));
    ASSERT_TRUE(waitFor([&] { return unaddressed.isNull(); }));

    // With an address but no mail program the line tells that instead, and the form stays.
    console.clear();
    urlOpener.opens = false;
    auto* unopened = new FeedbackView(urlOpener, &owner, QStringLiteral("feedback@example.com"));
    unopened->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<FeedbackView> stays = unopened;
    unopened->open();
    ASSERT_TRUE(waitFor([&] { return unopened->isVisible(); }));
    EXPECT_FALSE(child(*unopened, "feedbackUnsentWarning")->isVisible());
    click(child<QToolButton>(*unopened, "star1"));
    click(child<QPushButton>(*unopened, "sendFeedbackButton"));
    QCoreApplication::processEvents();
    ASSERT_TRUE(stays);
    EXPECT_EQ(urlOpener.opened.size(), 2u);
    EXPECT_TRUE(child(*unopened, "feedbackUnsentWarning")->isVisible());
    EXPECT_EQ(child<FormWarning>(*unopened, "feedbackUnsentWarning")->text(),
        QStringLiteral("Poštový program sa nepodarilo otvoriť."));
    EXPECT_EQ(console.lines(), QStringList{QStringLiteral("❌ No mail app could be opened - feedback not sent")});
    unopened->reject();
    ASSERT_TRUE(waitFor([&] { return stays.isNull(); }));
    EXPECT_EQ(FeedbackView::mailBody(QStringLiteral("General"), 1, QString()),
        QStringLiteral("Kategória: General\nHodnotenie: ⭐️\n\nFeedback:\n\n\n---\nApp: Parlino Linux\nVersion: 1.0"));
}

TEST_F(Sheets, HighRatingsAskForAReviewOverTheFormThatKeepsItsText)
{
    auto* sheet = new FeedbackView(urlOpener, &owner, QStringLiteral("feedback@example.com"));
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<FeedbackView> form = sheet;
    sheet->open();
    ASSERT_TRUE(waitFor([&] { return form && form->isVisible(); }));
    click(child<QToolButton>(*form, "star5"));
    child<QPlainTextEdit>(*form, "feedbackText")->setPlainText(QStringLiteral("Love it"));
    click(child<QPushButton>(*form, "sendFeedbackButton"));
    ASSERT_TRUE(waitFor([&] { return form->thankYouView() && form->thankYouView()->isVisible(); }));
    // What was written is not dropped behind the thanks: it went out as a mail first.
    ASSERT_EQ(urlOpener.opened.size(), 1u);
    EXPECT_TRUE(QUrlQuery(urlOpener.opened.front())
                    .queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded)
                    .contains(QStringLiteral("Feedback:\r\nLove it")));
    urlOpener.opened.clear();
    QPointer<ThankYouView> thanks = form->thankYouView();
    EXPECT_EQ(thanks->width(), 500);
    const QImage picture = saveScreenshot(*thanks, QStringLiteral("feedback-thank-you"));
    EXPECT_GT(distinctColours(picture), 30);

    click(child<QPushButton>(*thanks, "maybeLaterButton"));
    ASSERT_TRUE(waitFor([&] { return thanks.isNull(); }));
    ASSERT_TRUE(form);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->feedbackText(), QStringLiteral("Love it"));

    // Without a review page the review button cannot be pressed and a line under it says why. No
    // text, nothing mailed: only the thanks.
    child<QPlainTextEdit>(*form, "feedbackText")->clear();
    click(child<QPushButton>(*form, "sendFeedbackButton"));
    ASSERT_TRUE(waitFor([&] { return form->thankYouView() != nullptr; }));
    thanks = form->thankYouView();
    auto* review = child<QPushButton>(*thanks, "writeReviewButton");
    EXPECT_FALSE(review->isEnabled());
    auto* noPage = child<FormWarning>(*thanks, "reviewUnopenedWarning");
    EXPECT_TRUE(noPage->isVisible());
    EXPECT_EQ(noPage->text(), QStringLiteral("Recenziu zatiaľ nemožno napísať: chýba odkaz na obchod."));
    EXPECT_GE(noPage->mapTo(thanks, QPoint()).y(), review->mapTo(thanks, QPoint()).y() + review->height());
    console.clear();
    click(review);
    EXPECT_FALSE(thanks->openAppStoreReview());
    QCoreApplication::processEvents();
    ASSERT_TRUE(thanks);
    EXPECT_EQ(console.lines(), QStringList{QStringLiteral("⚠️ No store review page is set - nothing opened")});
    EXPECT_TRUE(urlOpener.opened.empty());
    click(child<QPushButton>(*thanks, "maybeLaterButton"));
    ASSERT_TRUE(waitFor([&] { return thanks.isNull(); }));
    EXPECT_TRUE(form);

    // With a page the button opens it and closes the sheet; when nothing opens it, the sheet stays and says so.
    auto* withPage = new ThankYouView(urlOpener, form, QStringLiteral("https://store.example/app/parlino?action=write-review"));
    withPage->setAttribute(Qt::WA_DeleteOnClose);
    thanks = withPage;
    withPage->open();
    ASSERT_TRUE(waitFor([&] { return withPage->isVisible(); }));
    EXPECT_FALSE(child(*withPage, "reviewUnopenedWarning")->isVisible());
    urlOpener.opens = false;
    click(child<QPushButton>(*withPage, "writeReviewButton"));
    QCoreApplication::processEvents();
    ASSERT_TRUE(thanks);
    EXPECT_TRUE(child(*withPage, "reviewUnopenedWarning")->isVisible());
    EXPECT_EQ(child<FormWarning>(*withPage, "reviewUnopenedWarning")->text(),
        QStringLiteral("Obchod s aplikáciami sa nepodarilo otvoriť."));
    urlOpener.opens = true;
    click(child<QPushButton>(*withPage, "writeReviewButton"));
    ASSERT_TRUE(waitFor([&] { return thanks.isNull(); }));
    ASSERT_EQ(urlOpener.opened.size(), 2u);
    EXPECT_EQ(urlOpener.opened.back().host(), QStringLiteral("store.example"));

    QTest::keyClick(form, Qt::Key_Escape);
    ASSERT_TRUE(waitFor([&] { return form.isNull(); }));
}

TEST_F(Sheets, TheRecordingsToolbarOpensBothSheets)
{
    MacMainView main(services());
    showAt(main, QSize(1120, 800));
    main.setSelectedView(MacMainView::MainViewSelection::recordings);
    click(child<QWidget>(main, "helpButton"));
    QPointer<HelpView> help = main.findChild<HelpView*>();
    ASSERT_TRUE(help);
    ASSERT_TRUE(waitFor([&] { return help->isVisible(); }));
    EXPECT_TRUE(hasSheetFrame(*help));
    QTest::keyClick(help, Qt::Key_Escape);
    ASSERT_TRUE(waitFor([&] { return help.isNull(); }));

    click(child<QWidget>(main, "feedbackButton"));
    QPointer<FeedbackView> feedback = main.findChild<FeedbackView*>();
    ASSERT_TRUE(feedback);
    ASSERT_TRUE(waitFor([&] { return feedback->isVisible(); }));
    EXPECT_TRUE(hasSheetFrame(*feedback));
    click(child<QPushButton>(*feedback, "cancelFeedbackButton"));
    ASSERT_TRUE(waitFor([&] { return feedback.isNull(); }));
}
