#include "app/ui/support/UiTestFixture.hpp"

#include "app/ui/settings/MacSettingsView.hpp"
#include "app/ui/shell/ScreenProbe.hpp"

#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

using namespace parlino;
using namespace uitest;

namespace {

class ScreenProbeTest : public UiTest {
protected:
    ~ScreenProbeTest() override { ::unsetenv(ScreenProbe::geometryVariable); }

    // The place last told for `name`, if any.
    std::optional<QRect> lastTold(const std::string& name) const
    {
        std::optional<QRect> place;
        const std::string prefix = "🧪 geometry " + name + " ";
        for (const std::string& line : lines) {
            if (line.rfind(prefix, 0) == 0) {
                const QStringList parts = QString::fromStdString(line.substr(prefix.size())).split(QLatin1Char(' '));
                place = QRect(parts[0].toInt(), parts[1].toInt(), parts[2].toInt(), parts[3].toInt());
            }
        }
        return place;
    }

    std::vector<std::string> lines;
};

} // namespace

TEST_F(ScreenProbeTest, AWidgetInAScrolledPaneIsToldAtItsNewPlace)
{
    ::setenv(ScreenProbe::geometryVariable, "aboutSection,configurationSection", 1);
    const auto probe = ScreenProbe::fromEnvironment(
        *qApp, [this](const std::string& line) { lines.push_back(line); });
    ASSERT_NE(probe, nullptr);

    MacSettingsView settings(services());
    showAt(settings, {900, 600});
    auto* scroll = settings.findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    const std::optional<QRect> before = lastTold("configurationSection");
    ASSERT_TRUE(before.has_value()) << "a section in view is told once painted";

    // Scrolled: both sections are told again, moved up by the distance scrolled, painted or not.
    const int scrolled = std::min(300, scroll->verticalScrollBar()->maximum());
    ASSERT_GT(scrolled, 0);
    scroll->verticalScrollBar()->setValue(scrolled);
    QCoreApplication::processEvents();
    const std::optional<QRect> after = lastTold("configurationSection");
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->y(), before->y() - scrolled);
    EXPECT_EQ(after->size(), before->size());
    ASSERT_TRUE(lastTold("aboutSection").has_value());
    EXPECT_EQ(lastTold("aboutSection")->topLeft(),
        settings.findChild<QWidget*>(QStringLiteral("aboutSection"))->mapToGlobal(QPoint(0, 0)));
}
