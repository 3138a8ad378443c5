#include "UiTestFixture.hpp"

#include "app/ui/design/Theme.hpp"

#include <QApplication>
#include <QDir>
#include <QLayout>
#include <QPointer>
#include <QSet>
#include <QTest>

#include <cstdlib>
#include <iostream>

namespace uitest {

CapturedStdout::CapturedStdout()
    : previous_(std::cout.rdbuf(buffer_.rdbuf()))
{
}

CapturedStdout::~CapturedStdout()
{
    std::cout.rdbuf(previous_);
}

QStringList CapturedStdout::lines() const
{
    QStringList lines = QString::fromStdString(buffer_.str()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.back().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

UiTest::UiTest()
{
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    parlino::design::Theme::apply(*qApp);
    defaults = std::make_unique<platform::UserDefaults>(folder / "parlino.conf");
    recorder = std::make_unique<FakeRecorder>(*defaults);
    library = std::make_unique<FakeLibrary>(folder / "Documents" / "Parlino");
    services_ = std::make_unique<parlino::AppServices>(servicesWith(*library));
    exportManager = &services_->exportManager;
}

parlino::AppServices UiTest::servicesWith(parlino::LibraryService& library)
{
    // The real export manager, over this library and the private settings.
    exportManagers_.push_back(std::make_unique<parlino::FolderExportManager>(*defaults, library));
    return parlino::AppServices{
        .defaults = *defaults,
        .recorder = *recorder,
        .library = library,
        .audioPlayer = audioPlayer,
        .exportManager = *exportManagers_.back(),
        .globeDictation = globeDictation,
        .hotkey = hotkey,
        .dictationHelper = dictationHelper,
        .clipboard = clipboard,
        .urlOpener = urlOpener,
        .timer = timer,
        .clock = clock,
        .randomSeed = 7,
    };
}

UiTest::~UiTest()
{
    // Windows a test left behind go first: they hold on to the services and the clock. Popups
    // belong to their owners and go with them.
    QList<QPointer<QWidget>> windows;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->parent()) {
            windows.append(window);
        }
    }
    for (const QPointer<QWidget>& window : windows) {
        delete window.data();
    }
}

void UiTest::showAt(QWidget& widget, QSize size)
{
    widget.resize(size);
    widget.show();
    QApplication::setActiveWindow(&widget);
    QCoreApplication::processEvents();
    if (widget.layout()) {
        widget.layout()->activate();
    }
    QCoreApplication::processEvents();
}

bool UiTest::waitFor(const std::function<bool()>& condition)
{
    return QTest::qWaitFor(condition, 10000);
}

QImage saveScreenshot(QWidget& widget, const QString& name)
{
    // A layout change reaches the outer layouts one posted request per level.
    for (int pass = 0; pass < 6; ++pass) {
        QCoreApplication::processEvents();
    }
    const QImage image = widget.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QString folder = QStringLiteral(PARLINO_BINARY_DIR "/test-artifacts/ui");
    QDir().mkpath(folder);
    EXPECT_TRUE(image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"))) << name.toStdString();
    return image;
}

double shareOfPixels(const QImage& image, const QRect& area, const std::function<bool(QColor)>& matches)
{
    const QRect box = area.intersected(image.rect());
    if (box.isEmpty()) {
        return 0;
    }
    qint64 hits = 0;
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            hits += matches(image.pixelColor(x, y)) ? 1 : 0;
        }
    }
    return static_cast<double>(hits) / static_cast<double>(box.width() * box.height());
}

bool near(QColor colour, QColor target, int tolerance)
{
    return std::abs(colour.red() - target.red()) <= tolerance && std::abs(colour.green() - target.green()) <= tolerance
        && std::abs(colour.blue() - target.blue()) <= tolerance;
}

bool isDangerRed(QColor colour)
{
    return colour.red() > 190 && colour.green() < 140 && colour.blue() < 140;
}

bool isBrandBlue(QColor colour)
{
    return colour.blue() > 180 && colour.red() < 110 && colour.green() < 130;
}

int distinctColours(const QImage& image, int limit)
{
    QSet<QRgb> seen;
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) {
            seen.insert(image.pixel(x, y));
            if (seen.size() >= limit) {
                return limit;
            }
        }
    }
    return static_cast<int>(seen.size());
}

bool hasSheetFrame(const QWidget& window)
{
    const Qt::WindowFlags flags = window.windowFlags();
    return window.isWindow() && (flags & Qt::CustomizeWindowHint) && (flags & Qt::WindowCloseButtonHint)
        && !(flags & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint));
}

void click(QWidget* widget)
{
    ASSERT_NE(widget, nullptr);
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center());
}

} // namespace uitest
