#include "app/ui/RecordingsFixture.hpp"

#include "app/ui/StatusNotice.hpp"
#include "app/ui/settings/FeedbackView.hpp"
#include "app/ui/settings/HelpView.hpp"
#include "app/ui/shell/MacMainView.hpp"
#include "app/ui/shell/Parlino_macOS.hpp"
#include "app/dictation/SettingsKeys.hpp"
#include "app/ui/design/DesktopAppearance.hpp"
#include "app/ui/design/Theme.hpp"

#include "support/ChildProcess.hpp"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QListWidget>
#include <QPalette>

using namespace parlino;
using namespace uitest;
using design::Appearance;
using design::DesktopAppearance;
using Selection = MacMainView::MainViewSelection;

namespace {

// The settings portal as a desktop offers it, with the colour scheme the test sets.
class FakeSettingsPortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    explicit FakeSettingsPortal(QDBusConnection bus)
        : bus_(std::move(bus))
    {
    }

    bool publish()
    {
        return bus_.registerService(QString::fromLatin1(DesktopAppearance::portalService))
            && bus_.registerObject(QString::fromLatin1(DesktopAppearance::portalPath), this, QDBusConnection::ExportAllSlots);
    }

public slots:
    // As the portal does: the value comes wrapped in one variant more than the signal's.
    QDBusVariant Read(const QString& group, const QString& key)
    {
        if (group == QLatin1String("org.freedesktop.appearance") && key == QLatin1String("color-scheme")) {
            return QDBusVariant(QVariant::fromValue(QDBusVariant(scheme)));
        }
        return QDBusVariant(QVariant::fromValue(QDBusVariant(QString())));
    }

public:
    void say(uint newScheme)
    {
        scheme = newScheme;
        QDBusMessage changed = QDBusMessage::createSignal(QString::fromLatin1(DesktopAppearance::portalPath),
            QString::fromLatin1(DesktopAppearance::settingsInterface), QStringLiteral("SettingChanged"));
        changed << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme")
                << QVariant::fromValue(QDBusVariant(newScheme));
        bus_.send(changed);
    }

    uint scheme = 0;

private:
    QDBusConnection bus_;
};

QColor windowColour()
{
    return QApplication::palette().color(QPalette::Window);
}

class DesktopColours : public RecordingsTest {
protected:
    void SetUp() override
    {
        std::string whyNot;
        busDaemon = testsupport::ChildProcess::start({"dbus-daemon", "--session", "--nofork", "--print-address"}, whyNot);
        ASSERT_NE(busDaemon, nullptr) << whyNot;
        const std::optional<std::string> address = busDaemon->waitForLine(
            [](const std::string& line) { return line.rfind("unix:", 0) == 0; }, std::chrono::seconds(10));
        ASSERT_TRUE(address) << busDaemon->output();
        busAddress = QString::fromStdString(*address);
    }

    void TearDown() override
    {
        app.reset();
        appearance.reset();
        portal.reset();
        for (const QString& name : {QStringLiteral("portal-side"), QStringLiteral("application-side")}) {
            QDBusConnection::disconnectFromBus(name);
        }
        design::Theme::apply(*qApp);
        if (busDaemon) {
            busDaemon->terminate();
        }
    }

    QDBusConnection bus(const QString& name) { return QDBusConnection::connectToBus(busAddress, name); }

    void followDesktop()
    {
        appearance = std::make_unique<DesktopAppearance>(*qApp, bus(QStringLiteral("application-side")));
    }

    void openMainWindow()
    {
        defaults->setBool(QString::fromLatin1(SettingsKeys::hasSeenOnboarding), true);
        app = std::make_unique<Parlino_macOS>(*defaults, clock, [this]() -> AppServices& { return services(); });
        app->show();
        app->window()->resize(1180, 720);
        QApplication::setActiveWindow(app->window());
        clock.advance(1.5);
    }

    QColor sidebarColour()
    {
        const QImage sidebar = child(*app->window(), "sidebar")->grab().toImage();
        return sidebar.pixelColor(sidebar.width() / 2, sidebar.height() - 4);
    }

    void shoot(const QString& name)
    {
        clock.advance(1.5);
        saveScreenshot(*app->window(), name);
    }

    std::unique_ptr<testsupport::ChildProcess> busDaemon;
    QString busAddress;
    std::unique_ptr<FakeSettingsPortal> portal;
    std::unique_ptr<DesktopAppearance> appearance;
    std::unique_ptr<Parlino_macOS> app;
};

} // namespace

TEST_F(DesktopColours, FollowTheSettingsPortalLiveAndThePaletteWhereNoneAnswers)
{
    // No portal on the bus: the palette the application started with decides, dark or light.
    design::Theme::apply(*qApp, Appearance::dark);
    followDesktop();
    EXPECT_EQ(appearance->appearance(), Appearance::dark);
    appearance.reset();
    design::Theme::apply(*qApp, Appearance::light);
    followDesktop();
    EXPECT_EQ(appearance->appearance(), Appearance::light);
    EXPECT_GT(windowColour().lightness(), 200);
    appearance.reset();

    portal = std::make_unique<FakeSettingsPortal>(bus(QStringLiteral("portal-side")));
    ASSERT_TRUE(portal->publish());
    portal->scheme = 1;
    followDesktop();
    ASSERT_TRUE(waitFor([&] { return appearance->appearance() == Appearance::dark; }));
    EXPECT_LT(windowColour().lightness(), 60);
    EXPECT_EQ(design::Color::textPrimary().resolved(), QColor(0xF2, 0xF2, 0xF7));

    library->setList(samples());
    openMainWindow();
    EXPECT_TRUE(near(sidebarColour(), QColor(0x2C, 0x2C, 0x2E), 3)) << sidebarColour().name().toStdString();
    shoot(QStringLiteral("dark-ready"));
    recorder->setIsRecording(true);
    recorder->setRecordingDuration(12.4);
    recorder->setTranscription(QStringLiteral("Tomorrow at nine we meet the design team to review the new onboarding flow."));
    shoot(QStringLiteral("dark-recording"));
    recorder->setIsRecording(false);
    recorder->publishTranscribing(0.62, QStringLiteral("~2s remaining"));
    shoot(QStringLiteral("dark-transcribing"));
    recorder->setIsTranscribing(false);
    app->mainView()->setSelectedView(Selection::recordings);
    qobject_cast<MacRecordingsListView*>(app->mainView()->currentScreen())
        ->setSelectedRecording(library->recordings().front().id);
    shoot(QStringLiteral("dark-recordings"));
    app->mainView()->setSelectedView(Selection::settings);
    shoot(QStringLiteral("dark-settings"));
    HelpView* help = HelpView::present(app->mainView());
    clock.advance(1.0);
    saveScreenshot(*help, QStringLiteral("dark-help"));
    help->close();

    // What the user is told when something did not work reads as well in dark.
    FeedbackView* feedback = FeedbackView::present(urlOpener, app->mainView());
    clock.advance(1.0);
    saveScreenshot(*feedback, QStringLiteral("dark-feedback-no-address"));
    feedback->close();
    StatusNotice::post(*app->mainView(), timer, QStringLiteral("Could not open the recordings folder"));
    shoot(QStringLiteral("dark-failure-notice"));
    timer.advance(StatusNotice::shownFor);
    recorder->setAurisReady(true);
    recorder->setModelFailure(ModelFailure {QStringLiteral("tiny"), ModelFailure::Reason::notFound});
    shoot(QStringLiteral("dark-settings-model-switch-failed"));
    recorder->setAurisReady(false);
    recorder->setModelFailure(ModelFailure {recorder->whisperModel(), ModelFailure::Reason::noConnection});
    app->mainView()->setSelectedView(Selection::record);
    shoot(QStringLiteral("dark-ready-model-missing"));

    // The desktop turns light, then dark again, while the window is open.
    portal->say(2);
    ASSERT_TRUE(waitFor([&] { return appearance->appearance() == Appearance::light; }));
    EXPECT_GT(windowColour().lightness(), 200);
    clock.advance(0.5);
    EXPECT_TRUE(near(sidebarColour(), QColor(0xF2, 0xF2, 0xF7), 3)) << sidebarColour().name().toStdString();
    portal->say(1);
    ASSERT_TRUE(waitFor([&] { return appearance->appearance() == Appearance::dark; }));
    clock.advance(0.5);
    EXPECT_TRUE(near(sidebarColour(), QColor(0x2C, 0x2C, 0x2E), 3)) << sidebarColour().name().toStdString();

    // "No preference" leaves it to the palette the application started with.
    portal->say(0);
    ASSERT_TRUE(waitFor([&] { return appearance->appearance() == Appearance::light; }));
}

#include "DesktopAppearanceTest.moc"
