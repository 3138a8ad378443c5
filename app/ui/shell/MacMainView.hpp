#pragma once

#include "app/dictation/AfterRecording.hpp"
#include "app/dictation/RecordingOutcome.hpp"
#include "app/recorder/RecordingResult.hpp"
#include "app/ui/AppServices.hpp"
#include "app/ui/shell/BoolBinding.hpp"

#include <QPointer>
#include <QWidget>

#include <functional>

class QListWidget;
class QMessageBox;
class QSplitter;
class QStackedWidget;

namespace parlino {

class MacRecordView;
class PushToTalkPill;

// The main window's content: the sidebar with Record, Recordings and Settings, the screen of the
// chosen destination and the push-to-talk pill over it. It hands a finished recording to
// AfterRecording and tells its outcome, runs the global hotkey's two-press cycle and the start-up
// step of each appearance.
class MacMainView : public QWidget {
    Q_OBJECT

public:
    enum class MainViewSelection { record, recordings, settings };

    // Builds the screen of a destination other than Record the first time it is chosen; without
    // one, Recordings is the recordings browser and Settings the settings pane.
    using ScreenFactory = std::function<QWidget*(AppServices& services, QWidget* parent)>;
    struct Destinations {
        ScreenFactory recordings;
        ScreenFactory settings;
    };

    explicit MacMainView(AppServices& services, Destinations destinations = {}, QWidget* parent = nullptr);
    ~MacMainView() override;

    MainViewSelection selectedView() const { return selectedView_; }
    void setSelectedView(MainViewSelection selection);
    bool shouldAutoStartRecording() const { return shouldAutoStartRecording_->value(); }
    bool showAccessibilityAlert() const { return !accessibilityAlert_.isNull(); }
    QWidget* currentScreen() const;

    void handleAppear();
    void handleRecordingComplete(const RecordingResult& result);
    void handleHotkeyPressed();
    void handleHotkeyTranscript();
    // Ctrl R: stops the recording that runs, else starts one on the Record screen.
    void toggleRecording();

    // `grant` empty: what an X11 session needs.
    static QString accessibilityAlertMessage(const QString& grant = {});

signals:
    void selectedViewChanged(MainViewSelection selection);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QListWidget* sidebar();
    void addShortcuts();
    void presentAccessibilityAlert();
    void placePill();
    // Decides what happens to a finished recording and does it.
    RecordingOutcome afterRecording(const RecordingResult& result, AfterRecording::Road road);
    // Shows where the transcript went, or, when nothing kept it, the transcript itself.
    void tell(const RecordingOutcome& outcome, const QString& transcript);
    // Whether one of this program's windows has the keyboard focus, so that a paste would land in
    // its own fields.
    bool ownWindowInFront() const;

    AppServices& services_;
    Destinations destinations_;
    MainViewSelection selectedView_ = MainViewSelection::record;
    BoolBinding* shouldAutoStartRecording_;
    bool appeared_ = false;
    bool hotkeyStopInFlight_ = false;

    QSplitter* split_ = nullptr;
    bool sidebarMovedByUser_ = false;
    QListWidget* sidebar_ = nullptr;
    QWidget* detail_ = nullptr;
    QStackedWidget* screens_ = nullptr;
    MacRecordView* recordView_ = nullptr;
    QWidget* recordingsScreen_ = nullptr;
    QWidget* settingsScreen_ = nullptr;
    PushToTalkPill* pill_ = nullptr;
    // Cleared by itself when the alert closes (it deletes itself then).
    QPointer<QMessageBox> accessibilityAlert_;
};

} // namespace parlino
