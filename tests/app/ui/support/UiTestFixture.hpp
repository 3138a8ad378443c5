#pragma once

#include "FakeAudioPlayback.hpp"
#include "FakeDictation.hpp"
#include "FakeLibrary.hpp"
#include "FakeRecorder.hpp"
#include "ManualAnimationClock.hpp"

#include "app/dictation/support/ManualClock.hpp"
#include "app/ui/AppServices.hpp"
#include "platform/settings/UserDefaults.hpp"

#include "support/TemporaryDirectory.hpp"

#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <streambuf>
#include <vector>

namespace uitest {

// Collects what the code under test prints on standard output, line by line.
class CapturedStdout {
public:
    CapturedStdout();
    ~CapturedStdout();
    CapturedStdout(const CapturedStdout&) = delete;
    CapturedStdout& operator=(const CapturedStdout&) = delete;

    QStringList lines() const;
    void clear() { buffer_.str({}); }

private:
    std::stringstream buffer_;
    std::streambuf* previous_;
};

// A widget test with the whole look pinned (fonts, style, palette, locale, time zone, scale), a
// private settings file and fakes for every service.
class UiTest : public ::testing::Test {
protected:
    UiTest();
    ~UiTest() override;

    parlino::AppServices& services() { return *services_; }
    // The same fakes around another library (a real one, for one).
    parlino::AppServices servicesWith(parlino::LibraryService& library);

    // Shows the widget at this size and lets its layout settle.
    void showAt(QWidget& widget, QSize size);
    // Runs the event loop until the condition holds.
    bool waitFor(const std::function<bool()>& condition);

    testsupport::TemporaryDirectory folder;
    std::unique_ptr<platform::UserDefaults> defaults;
    ManualAnimationClock clock;
    std::unique_ptr<FakeRecorder> recorder;
    std::unique_ptr<FakeLibrary> library;
    FakeAudioPlayback audioPlayer;
    // The export manager of the fixture's own services.
    parlino::FolderExportManager* exportManager = nullptr;
    FakeGlobeDictation globeDictation;
    FakeHotkey hotkey;
    FakeDictationHelper dictationHelper;
    FakeClipboard clipboard;
    FakeUrlOpener urlOpener;
    dictationtest::ManualClock timer;

private:
    std::vector<std::unique_ptr<parlino::FolderExportManager>> exportManagers_;
    std::unique_ptr<parlino::AppServices> services_;
};

// The widget's picture, saved under build/test-artifacts/ui/<name>.png.
QImage saveScreenshot(QWidget& widget, const QString& name);

// The share of pixels in `area` of `image` that `matches` accepts.
double shareOfPixels(const QImage& image, const QRect& area, const std::function<bool(QColor)>& matches);
// Whether the colour is close to the target (per channel, within `tolerance`).
bool near(QColor colour, QColor target, int tolerance);
// Whether the colour is a strong red (the danger gradient), or a strong blue (the brand).
bool isDangerRed(QColor colour);
bool isBrandBlue(QColor colour);
// How many distinct colours the image has, up to `limit`: a blank picture has one or two.
int distinctColours(const QImage& image, int limit = 64);

// The widget of that object name under `root`, failing the test when there is none.
template <typename T = QWidget>
T* child(QObject& root, const char* objectName)
{
    T* found = root.findChild<T*>(QString::fromLatin1(objectName));
    EXPECT_NE(found, nullptr) << "no " << objectName;
    return found;
}

// Clicks a button-like widget in its middle.
void click(QWidget* widget);

// A dialog's frame as the window manager is asked for it: a title and a close button, no
// maximise or minimise button.
bool hasSheetFrame(const QWidget& window);

} // namespace uitest
