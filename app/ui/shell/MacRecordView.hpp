#pragma once

#include "app/recorder/RecordingResult.hpp"
#include "app/ui/AppServices.hpp"
#include "app/ui/shell/BoolBinding.hpp"

#include <QPointer>
#include <QWidget>

#include <exception>
#include <functional>

class QLabel;
class QMessageBox;
class QStackedWidget;

namespace parlino {

class MacReadyToRecordView;
class MacRecordingInProgressView;

namespace design {
class PNGradientText;
class ScreenTransition;
class PNProgressRing;
} // namespace design

// The Record destination: one of four screens chosen from the recorder's state (recording,
// preprocessing, transcribing, ready), the start and stop actions, and the auto start that the
// global hotkey asks for. A change of recording or transcribing swaps the screens with a spring:
// the in-progress screen grows from 0.85 and leaves growing to 1.1, the ready screen grows from 0.9
// and leaves shrinking to 0.85, the two panels fade.
class MacRecordView : public QWidget {
    Q_OBJECT

public:
    enum class Screen { inProgress, preprocessing, transcribing, ready };

    MacRecordView(AppServices& services, BoolBinding& autoStart,
        std::function<void(const RecordingResult&)> onRecordingComplete, QWidget* parent = nullptr);

    Screen currentScreen() const { return screen_; }
    static Screen screenFor(const RecorderService& recorder);

    void startRecording();
    void stopRecording();
    void checkAutoStart();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QWidget* preprocessingView();
    QWidget* transcribingView();
    QWidget* pageOf(Screen screen) const;
    void selectScreen();
    void updateProgress();
    // Says on screen why a recording could not start or go on; one alert at a time.
    void showProblem(const QString& title, const QString& message);
    // Starts the recorder; an automatic start clears its request once the recorder answers.
    void beginStart(bool endsAutoStart);
    void startFailed(const std::exception_ptr& error);

    AppServices& services_;
    BoolBinding& autoStart_;
    std::function<void(const RecordingResult&)> onRecordingComplete_;
    Screen screen_ = Screen::ready;
    bool startInFlight_ = false;
    bool stopInFlight_ = false;
    bool wasRecording_ = false;
    bool wasTranscribing_ = false;
    bool screensPlaced_ = false;

    QStackedWidget* screens_ = nullptr;
    design::ScreenTransition* transition_ = nullptr;
    MacRecordingInProgressView* inProgress_ = nullptr;
    MacReadyToRecordView* ready_ = nullptr;
    QWidget* preprocessing_ = nullptr;
    QLabel* preprocessingStatus_ = nullptr;
    QWidget* transcribing_ = nullptr;
    design::PNProgressRing* transcribingRing_ = nullptr;
    design::PNGradientText* transcribingPercent_ = nullptr;
    QLabel* transcriptionETA_ = nullptr;
    QPointer<QMessageBox> problemAlert_;
};

} // namespace parlino
