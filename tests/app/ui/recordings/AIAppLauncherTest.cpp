#include "app/ui/RecordingsFixture.hpp"

#include "app/ui/recordings/AIAppLauncher.hpp"
#include "app/ui/DesktopApplications.hpp"
#include "app/ui/UrlOpener.hpp"
#include "app/ui/design/Symbol.hpp"

#include "support/ScopedEnvironment.hpp"

#include <QImage>

using namespace parlino;
using namespace uitest;

namespace {

// Desktop entries in a private XDG tree: the user's folder first, then the system's.
class AIApps : public RecordingsTest {
protected:
    AIApps()
        : dataHome_("XDG_DATA_HOME", (folder / "home-data").string())
        , dataDirs_("XDG_DATA_DIRS", (folder / "local-data").string() + ":" + (folder / "system-data").string())
    {
    }

    std::filesystem::path entry(const std::string& tree, const std::string& id, const std::string& body)
    {
        const std::filesystem::path path = folder / tree / "applications" / (id + ".desktop");
        std::filesystem::create_directories(path.parent_path());
        testsupport::writeFile(path, body);
        return path;
    }

    const AIApp& app(const QString& name)
    {
        for (const AIApp& row : AIApp::allApps()) {
            if (row.name == name) {
                return row;
            }
        }
        ADD_FAILURE() << "no app " << name.toStdString();
        return AIApp::allApps().front();
    }

    // Installs ChatGPT with an icon file; Claude is installed for the system but hidden by the user.
    void installApps()
    {
        const std::filesystem::path icon = folder / "chatgpt.png";
        QImage image(64, 64, QImage::Format_ARGB32);
        image.fill(QColor(16, 163, 127));
        image.save(QString::fromStdString(icon.string()));
        entry("system-data", "com.openai.chat",
            "[Desktop Entry]\nType=Application\nName=ChatGPT\nExec=chatgpt %U\nIcon=" + icon.string() + "\n");
        entry("system-data", "com.anthropic.claude", "[Desktop Entry]\nType=Application\nName=Claude\nExec=claude\n");
        entry("home-data", "com.anthropic.claude", "[Desktop Entry]\nType=Application\nName=Claude\nExec=claude\nHidden=true\n");
        entry("local-data", "ai.perplexity.app",
            "[Desktop Entry]\nType=Application\nName=Perplexity\nExec=perplexity\nTryExec=/nonexistent/perplexity\n");
    }

    QStringList launch(const QString& name, const QString& text, AILaunchMethod method)
    {
        console.clear();
        AIAppLauncher::launch(app(name), text, method, services());
        return console.lines();
    }

    CapturedStdout console;

private:
    testsupport::ScopedEnvironment dataHome_;
    testsupport::ScopedEnvironment dataDirs_;
};

// A text that would break a link or a command line: separators, a fragment, a newline, quotes,
// a shell substitution, and 200 KB of it.
QString hostileText()
{
    QString text = QStringLiteral("Q&A + notes #1\nsecond line \"quoted\" $(rm -rf ~) 100% ?x=y/z ");
    while (text.size() < 200 * 1024) {
        text += QStringLiteral("Ďalší riadok & viac + ešte # koniec\n");
    }
    return text;
}

} // namespace

TEST_F(AIApps, TheTableHoldsSixServicesWithTheirWebPagesAndMethods)
{
    const auto& apps = AIApp::allApps();
    const QStringList names = {QStringLiteral("ChatGPT"), QStringLiteral("Claude"), QStringLiteral("Gemini"),
        QStringLiteral("Grok"), QStringLiteral("Perplexity"), QStringLiteral("Copilot")};
    const QStringList paths = {QStringLiteral("/"), QStringLiteral("/new"), QStringLiteral("/app"), QStringLiteral("/i/grok"),
        QStringLiteral("/"), QStringLiteral("/")};
    ASSERT_EQ(apps.size(), 6u);
    for (std::size_t i = 0; i < apps.size(); ++i) {
        SCOPED_TRACE(apps[i].name.toStdString());
        EXPECT_EQ(apps[i].name, names[static_cast<qsizetype>(i)]);
        const QUrl url(apps[i].webURL, QUrl::StrictMode);
        EXPECT_TRUE(url.isValid());
        EXPECT_EQ(url.scheme(), QStringLiteral("https"));
        EXPECT_EQ(url.path(), paths[static_cast<qsizetype>(i)]);
        EXPECT_FALSE(url.hasQuery());
        EXPECT_FALSE(url.hasFragment());
        EXPECT_TRUE(design::symbolGlyph(apps[i].icon).has_value());
    }
    EXPECT_FALSE(apps[1].shortcutName.has_value());
    EXPECT_EQ(apps[0].shortcutKey(), QStringLiteral("shortcut_ChatGPT"));

    QStringList methods;
    for (const AILaunchMethod method : AILaunchMethod::allCases()) {
        methods << method.rawValue();
        EXPECT_EQ(AILaunchMethod::fromRawValue(method.rawValue()), method);
    }
    EXPECT_EQ(methods, (QStringList{QStringLiteral("Copy to Clipboard"), QStringLiteral("Desktop App"),
                           QStringLiteral("Web Browser"), QStringLiteral("Shortcut")}));
    EXPECT_FALSE(AILaunchMethod::fromRawValue(QStringLiteral("web browser")).has_value());

    EXPECT_EQ(RecordingDetailView::colorFromName(QStringLiteral("green")), QColor(0x34, 0xC7, 0x59));
    EXPECT_EQ(RecordingDetailView::colorFromName(QStringLiteral("cyan")), QColor(0x32, 0xAD, 0xE6));
    EXPECT_EQ(RecordingDetailView::colorFromName(QStringLiteral("Green")), QColor(0x8E, 0x8E, 0x93));
    EXPECT_EQ(RecordingDetailView::colorFromName(QStringLiteral("teal")), QColor(0x8E, 0x8E, 0x93));
}

TEST_F(AIApps, DesktopEntriesAreFoundTheWayLaunchersFindThemAndTheirCommandLinesAreSplitWithoutAShell)
{
    installApps();
    const auto chatgpt = DesktopApplications::find(QStringLiteral("com.openai.chat"));
    ASSERT_TRUE(chatgpt.has_value());
    EXPECT_EQ(chatgpt->name, QStringLiteral("ChatGPT"));
    EXPECT_EQ(DesktopApplications::commandLine(*chatgpt), QStringList{QStringLiteral("chatgpt")});
    // The user's hidden copy hides the system's; a missing TryExec program means not installed.
    EXPECT_FALSE(DesktopApplications::find(QStringLiteral("com.anthropic.claude")).has_value());
    EXPECT_FALSE(DesktopApplications::find(QStringLiteral("ai.perplexity.app")).has_value());
    EXPECT_FALSE(DesktopApplications::find(QStringLiteral("no.such.app")).has_value());
    entry("home-data", "link.entry", "[Desktop Entry]\nType=Link\nName=Web\nURL=https://example.com\n");
    EXPECT_FALSE(DesktopApplications::find(QStringLiteral("link.entry")).has_value());
    entry("system-data", "evil", "[Desktop Entry]\nType=Application\nExec=evil\n");
    for (const char* bad : {"", "../system-data/applications/evil", "sub/evil", ".hidden"}) {
        EXPECT_FALSE(DesktopApplications::find(QString::fromUtf8(bad)).has_value()) << bad;
    }
    EXPECT_TRUE(DesktopApplications::find(QStringLiteral("evil")).has_value());

    DesktopEntry tricky;
    tricky.name = QStringLiteral("Tricky App");
    tricky.icon = QStringLiteral("tricky");
    tricky.path = "/apps/tricky.desktop";
    const auto split = [&](const QString& exec) {
        tricky.exec = exec;
        return DesktopApplications::commandLine(tricky);
    };
    EXPECT_EQ(split(QStringLiteral("\"/opt/My App/run\" --name=%c %i %U --pct=100%% %k")),
        (QStringList{QStringLiteral("/opt/My App/run"), QStringLiteral("--name=Tricky App"), QStringLiteral("--icon"),
            QStringLiteral("tricky"), QStringLiteral("--pct=100%"), QStringLiteral("/apps/tricky.desktop")}));
    EXPECT_EQ(split(QStringLiteral("run \"a \\\"quoted\\\" \\$HOME \\`x\\` \\\\ arg\"")),
        (QStringList{QStringLiteral("run"), QStringLiteral("a \"quoted\" $HOME `x` \\ arg")}));
    EXPECT_EQ(split(QStringLiteral("run;rm -rf ~")), (QStringList{QStringLiteral("run;rm"), QStringLiteral("-rf"), QStringLiteral("~")}));
    EXPECT_TRUE(split(QStringLiteral("run \"unclosed")).isEmpty());
    EXPECT_TRUE(split(QStringLiteral("%U")).isEmpty());

    // The real opener starts the program itself: the quoted name arrives whole, nothing is
    // substituted and no second command runs.
    const std::filesystem::path made = folder / "made by exec;$(touch injected)";
    entry("home-data", "org.example.Touch",
        "[Desktop Entry]\nType=Application\nName=Touch\nExec=/usr/bin/touch \"" + (folder / "made by exec;\\\\$(touch injected)").string()
            + "\" %U\n");
    const auto touch = DesktopApplications::find(QStringLiteral("org.example.Touch"));
    ASSERT_TRUE(touch.has_value());
    SystemUrlOpener opener;
    ASSERT_TRUE(opener.openApplication(*touch));
    EXPECT_TRUE(waitFor([&] { return std::filesystem::exists(made); }));
    EXPECT_FALSE(std::filesystem::exists(folder / "injected"));
    DesktopEntry broken = *touch;
    broken.exec = QStringLiteral("\"unclosed");
    EXPECT_FALSE(opener.openApplication(broken));
}

TEST_F(AIApps, EveryMethodOpensTheExpectedPlaceAndTheTextTravelsWholeOnTheClipboardOnly)
{
    installApps();
    const QString text = hostileText();
    // One user-perceived character per code unit in this text.
    const QString count = QString::number(text.size());

    EXPECT_EQ(launch(QStringLiteral("ChatGPT"), text, AILaunchMethod::clipboard), (QStringList{
        QStringLiteral("🚀 Opening ChatGPT via Copy to Clipboard..."),
        QStringLiteral("✅ Copied ") + count + QStringLiteral(" chars to clipboard"),
        QStringLiteral("✅ Opened native ChatGPT - paste with Ctrl+V"),
    }));
    EXPECT_EQ(clipboard.text(), text);
    EXPECT_EQ(urlOpener.openedApplications, std::vector<QString>{QStringLiteral("com.openai.chat")});
    EXPECT_TRUE(urlOpener.opened.empty());

    EXPECT_EQ(launch(QStringLiteral("Gemini"), text, AILaunchMethod::clipboard).back(),
        QStringLiteral("✅ Opened web Gemini - paste with Ctrl+V"));
    EXPECT_EQ(launch(QStringLiteral("Perplexity"), text, AILaunchMethod::clipboard).back(),
        QStringLiteral("✅ Opened web Perplexity - paste with Ctrl+V"));

    clipboard.contents = QStringLiteral("untouched");
    EXPECT_EQ(launch(QStringLiteral("Claude"), text, AILaunchMethod::desktop), (QStringList{
        QStringLiteral("🚀 Opening Claude via Desktop App..."),
        QStringLiteral("❌ Desktop app not installed"),
    }));
    EXPECT_EQ(launch(QStringLiteral("Grok"), text, AILaunchMethod::desktop).back(), QStringLiteral("❌ Desktop app not installed"));
    EXPECT_EQ(clipboard.text(), QStringLiteral("untouched"));
    EXPECT_EQ(launch(QStringLiteral("ChatGPT"), text, AILaunchMethod::desktop).back(), QStringLiteral("✅ Opened desktop ChatGPT"));
    EXPECT_EQ(urlOpener.openedApplications.size(), 2u);
    EXPECT_EQ(clipboard.text(), text);

    clipboard.contents.clear();
    EXPECT_EQ(launch(QStringLiteral("ChatGPT"), text, AILaunchMethod::web), (QStringList{
        QStringLiteral("🚀 Opening ChatGPT via Web Browser..."),
        QStringLiteral("✅ Opened web ChatGPT"),
    }));
    EXPECT_EQ(clipboard.text(), text);

    // Linux runs no shortcut: the method copies for the stored or default name, or refuses.
    EXPECT_EQ(launch(QStringLiteral("Claude"), text, AILaunchMethod::shortcut), (QStringList{
        QStringLiteral("🚀 Opening Claude via Shortcut..."),
        QStringLiteral("❌ No shortcut available for Claude"),
    }));
    defaults->setString(QStringLiteral("shortcut_Claude"), QStringLiteral("Ask & tell"));
    EXPECT_EQ(app(QStringLiteral("Claude")).effectiveShortcutName(*defaults), QStringLiteral("Ask & tell"));
    EXPECT_EQ(launch(QStringLiteral("Claude"), QStringLiteral("😀😀😀"), AILaunchMethod::shortcut), (QStringList{
        QStringLiteral("🚀 Opening Claude via Shortcut..."),
        QStringLiteral("✅ Copied 3 chars to clipboard"),
        QStringLiteral("⚠️ Shortcuts are not available on Linux - text copied for \"Ask & tell\""),
    }));
    EXPECT_EQ(clipboard.text(), QStringLiteral("😀😀😀"));
    defaults->setString(QStringLiteral("shortcut_ChatGPT"), QString());
    EXPECT_EQ(app(QStringLiteral("ChatGPT")).effectiveShortcutName(*defaults), QStringLiteral("Ask ChatGPT"));

    // Every page opened is the service's own address: no text ever went into a link.
    const QStringList expected = {QStringLiteral("https://gemini.google.com/app"), QStringLiteral("https://www.perplexity.ai/"),
        QStringLiteral("https://chatgpt.com/")};
    ASSERT_EQ(urlOpener.opened.size(), 3u);
    for (std::size_t i = 0; i < urlOpener.opened.size(); ++i) {
        EXPECT_EQ(urlOpener.opened[i].toString(QUrl::FullyEncoded), expected[static_cast<qsizetype>(i)]);
    }

    // A success line only follows an open that worked.
    urlOpener.opens = false;
    EXPECT_EQ(launch(QStringLiteral("Copilot"), text, AILaunchMethod::web).back(), QStringLiteral("❌ Could not open web Copilot"));
    EXPECT_EQ(launch(QStringLiteral("ChatGPT"), text, AILaunchMethod::clipboard).back(),
        QStringLiteral("❌ Could not open desktop ChatGPT"));
}

TEST_F(AIApps, TheDetailPaneShowsAnInstalledAppsIconAndTheSymbolOtherwise)
{
    installApps();
    library->setList(samples());
    open();
    clickRow(QStringLiteral("Q3 Budget Review"));
    EXPECT_TRUE(button("aiAppChatGPT")->hasImage());
    for (const char* name : {"aiAppClaude", "aiAppGemini", "aiAppGrok", "aiAppPerplexity", "aiAppCopilot"}) {
        EXPECT_FALSE(button(name)->hasImage()) << name;
    }
    EXPECT_EQ(button("aiAppClaude")->symbol(), QStringLiteral("brain.head.profile"));
    clock.advance(1.5);
    const QImage picture = saveScreenshot(*view, QStringLiteral("recording-detail-installed-app"));
    auto* chatgpt = button("aiAppChatGPT");
    const QRect area(chatgpt->mapTo(view.get(), QPoint(0, 0)), chatgpt->size());
    EXPECT_GT(shareOfPixels(picture, area, [](QColor c) { return near(c, QColor(16, 163, 127), 12); }), 0.02);

    click(chatgpt);
    EXPECT_EQ(urlOpener.openedApplications, std::vector<QString>{QStringLiteral("com.openai.chat")});
    EXPECT_EQ(clipboard.text(), byTitle(QStringLiteral("Q3 Budget Review")).transcription);
}
