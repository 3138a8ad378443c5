#include "app/ui/support/UiTestFixture.hpp"

#include "app/ui/shell/MacMainView.hpp"
#include "app/ui/shell/MacOnboardingView.hpp"
#include "app/ui/shell/Parlino_macOS.hpp"
#include "app/ui/shell/RecordingOptionsView.hpp"
#include "app/dictation/SettingsKeys.hpp"
#include "app/ui/design/SwitchToggle.hpp"

#include <QApplication>
#include <QComboBox>
#include <QSystemTrayIcon>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <algorithm>

using namespace parlino;
using namespace uitest;

namespace {

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

class Onboarding : public UiTest {
protected:
    int servicesBuilt = 0;
    Parlino_macOS::ServicesProvider provider()
    {
        return [this]() -> AppServices& {
            ++servicesBuilt;
            return services();
        };
    }
};

class OptionsPanel : public UiTest {};

} // namespace

TEST_F(Onboarding, FourPagesThenGetStartedOpensTheMainWindowForGood)
{
    // A flag stored as false is a first launch too.
    defaults->setBool(key(SettingsKeys::hasSeenOnboarding), false);
    {
        Parlino_macOS app(*defaults, clock, provider());
        app.show();
        ASSERT_NE(app.onboardingView(), nullptr);
        EXPECT_EQ(app.mainView(), nullptr);
        EXPECT_EQ(servicesBuilt, 0); // nothing of the managers runs during onboarding
        EXPECT_EQ(app.window()->size(), QSize(500, 400));
        // Without a tray to bring a hidden window back, closing the window ends the program.
        EXPECT_EQ(QApplication::quitOnLastWindowClosed(), !QSystemTrayIcon::isSystemTrayAvailable());

        auto* button = child<QPushButton>(*app.window(), "onboardingButton");
        auto* title = child<QLabel>(*app.window(), "onboardingTitle");
        auto* subtitle = child<QLabel>(*app.window(), "onboardingSubtitle");
        const QStringList titles = {"Parlino", "99 Languages", "100% Private", "Ready to Record"};
        for (int page = 0; page < 4; ++page) {
            EXPECT_EQ(app.onboardingView()->currentPage(), page);
            EXPECT_EQ(title->text(), titles[page]);
            EXPECT_EQ(subtitle->text().count(QLatin1Char('\n')), 1);
            EXPECT_EQ(button->text(), page <= 2 ? QStringLiteral("Next") : QStringLiteral("Get Started"));
            clock.advance(0.4);
            if (page == 3) {
                saveScreenshot(*app.window(), QStringLiteral("onboarding-last-page"));
                break;
            }
            click(button);
        }
        EXPECT_FALSE(defaults->boolValue(key(SettingsKeys::hasSeenOnboarding)));
        click(button);
        EXPECT_TRUE(defaults->boolValue(key(SettingsKeys::hasSeenOnboarding)));
        QCoreApplication::processEvents();
        ASSERT_NE(app.mainView(), nullptr);
        EXPECT_EQ(app.onboardingView(), nullptr);
        EXPECT_EQ(servicesBuilt, 1);
        EXPECT_EQ(app.window()->minimumSize(), QSize(900, 600));
        EXPECT_GE(app.window()->width(), 900);
        EXPECT_TRUE(app.mainView()->isVisible());
    }
    // Later launches go straight to the main window.
    Parlino_macOS again(*defaults, clock, provider());
    EXPECT_EQ(again.onboardingView(), nullptr);
    ASSERT_NE(again.mainView(), nullptr);
    EXPECT_EQ(again.window()->minimumSize(), QSize(900, 600));
}

TEST_F(OptionsPanel, FirstLaunchShowsTheDefaultsAndEveryEditIsStoredAtOnce)
{
    RecordingOptionsView panel(*defaults, clock);
    showAt(panel, panel.sizeHint());
    auto* copy = child<design::SwitchToggle>(panel, "copyToClipboardSwitch");
    auto* enter = child<design::SwitchToggle>(panel, "autoEnterSwitch");
    auto* save = child<design::SwitchToggle>(panel, "saveToRecordingsSwitch");
    auto* keep = child<design::SwitchToggle>(panel, "saveAudioFileSwitch");
    auto* category = child<QComboBox>(panel, "categoryPicker");
    auto* title = child<QLineEdit>(panel, "recordingTitleField");
    auto* keywords = child<QLineEdit>(panel, "recordingKeywordsField");
    auto* clearTitle = child<QToolButton>(panel, "clearRecordingTitle");
    EXPECT_TRUE(copy->isChecked());
    EXPECT_FALSE(enter->isChecked());
    EXPECT_FALSE(save->isChecked());
    EXPECT_FALSE(keep->isChecked());
    EXPECT_EQ(category->currentText(), QStringLiteral("Personal"));
    EXPECT_TRUE(title->text().isEmpty());
    EXPECT_FALSE(clearTitle->isVisible());
    EXPECT_TRUE(child<QLabel>(panel, "keywordsOptionalLabel")->isVisible());
    EXPECT_FALSE(defaults->contains(key(SettingsKeys::saveToRecordings))); // reading stores nothing

    click(copy);
    click(enter);
    click(save);
    click(keep);
    EXPECT_FALSE(defaults->boolValue(key(SettingsKeys::copyToClipboardAfterRecording), true));
    EXPECT_TRUE(defaults->boolValue(key(SettingsKeys::autoEnterAfterPaste)));
    EXPECT_TRUE(defaults->boolValue(key(SettingsKeys::saveToRecordings)));
    EXPECT_TRUE(defaults->boolValue(key(SettingsKeys::saveAudioFile)));

    // Six categories, never "All"; choosing one stores its raw value.
    ASSERT_EQ(category->count(), 6);
    EXPECT_EQ(category->itemText(0), QStringLiteral("Work"));
    EXPECT_EQ(category->findText(QStringLiteral("All")), -1);
    category->setCurrentIndex(2);
    emit category->activated(2);
    EXPECT_EQ(defaults->stringValue(key(SettingsKeys::selectedRecordingCategory)), QStringLiteral("Meeting"));

    QTest::keyClicks(title, QStringLiteral("Standup"));
    EXPECT_EQ(defaults->stringValue(key(SettingsKeys::recordingTitle)), QStringLiteral("Standup"));
    EXPECT_TRUE(clearTitle->isVisible());
    click(clearTitle);
    EXPECT_EQ(defaults->stringValue(key(SettingsKeys::recordingTitle)), QString());
    EXPECT_TRUE(title->text().isEmpty());
    EXPECT_FALSE(clearTitle->isVisible());

    // The kept transcript is called cloud-synced only where the library reaches a cloud store.
    const auto says = [](const QWidget& options, const QString& text) {
        const auto labels = options.findChildren<QLabel*>();
        return std::any_of(labels.begin(), labels.end(), [&](const QLabel* label) { return label->text() == text; });
    };
    const QString local = QStringLiteral("Keep the transcript in the Recordings list");
    const QString synced = local + QStringLiteral(" (cloud-synced)");
    EXPECT_TRUE(says(panel, local));
    EXPECT_FALSE(says(panel, synced));
    const RecordingOptionsView withCloud(*defaults, clock, false, true);
    EXPECT_TRUE(says(withCloud, synced));

    QTest::keyClicks(keywords, QStringLiteral("q3, budget"));
    EXPECT_EQ(defaults->stringValue(key(SettingsKeys::recordingKeywords)), QStringLiteral("q3, budget"));
    EXPECT_TRUE(child<QLabel>(panel, "keywordsOptionalLabel")->isVisible());
}

TEST_F(OptionsPanel, TwoPanelsShowOneSetOfValuesAndAStoredAllSelectsNothing)
{
    RecordingOptionsView full(*defaults, clock, false);
    RecordingOptionsView compact(*defaults, clock, true);
    showAt(full, full.sizeHint());
    showAt(compact, compact.sizeHint());
    click(child<design::SwitchToggle>(full, "saveToRecordingsSwitch"));
    EXPECT_TRUE(child<design::SwitchToggle>(compact, "saveToRecordingsSwitch")->isChecked());
    QTest::keyClicks(child<QLineEdit>(compact, "recordingTitleField"), QStringLiteral("Idea & plan"));
    EXPECT_EQ(child<QLineEdit>(full, "recordingTitleField")->text(), QStringLiteral("Idea & plan"));

    defaults->setString(key(SettingsKeys::selectedRecordingCategory), QStringLiteral("All"));
    EXPECT_EQ(child<QComboBox>(full, "categoryPicker")->currentIndex(), -1);
    defaults->setString(key(SettingsKeys::selectedRecordingCategory), QStringLiteral("Task"));
    EXPECT_EQ(child<QComboBox>(compact, "categoryPicker")->currentText(), QStringLiteral("Task"));

    // The compact panel differs only in its spacing and padding.
    EXPECT_EQ(full.layout()->spacing(), 10);
    EXPECT_EQ(compact.layout()->spacing(), 6);
    EXPECT_EQ(full.layout()->contentsMargins(), QMargins(16, 10, 16, 10));
    EXPECT_EQ(compact.layout()->contentsMargins(), QMargins(8, 6, 8, 6));
    saveScreenshot(full, QStringLiteral("options-panel"));
}
