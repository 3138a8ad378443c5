#pragma once

#include "app/dictation/Clock.hpp"
#include "app/dictation/DictationHelperService.hpp"
#include "app/dictation/DictationLog.hpp"
#include "app/dictation/GlobeDictationService.hpp"
#include "app/dictation/TriggerInput.hpp"
#include "app/library/LibraryService.hpp"
#include "app/recorder/RecorderService.hpp"
#include "platform/settings/UserDefaults.hpp"

#include <cstdint>
#include <exception>
#include <optional>

namespace parlino {

// Push-to-talk: turns the three trigger keys into dictations. Right Ctrl (the Globe trigger) held
// 0.7 s without another modifier, or Right Shift held 0.3 s, starts one and the release stops it; a
// hold counts only while no other key and no mouse button went down since its key did;
// Caps Lock turning on starts one and turning off stops it. A stopped dictation is filed or
// discarded as the after-recording options say, and its transcript is pasted into the window that
// was in front when the trigger went down. Main thread only; every delay goes through the clock.
//
// Each trigger stops only the dictation it started, and a start still on its way when the stop
// arrives is stopped as soon as it has begun.
class GlobeDictationManager final : public GlobeDictationService {
    Q_OBJECT

public:
    struct Dependencies {
        platform::UserDefaults& defaults;
        RecorderService& recorder;
        LibraryService& library;
        DictationHelperService& helper;
        TriggerInput& input;
        Clock& clock;
        LogSink log = systemLogSink();
    };

    static constexpr Clock::Duration globeHoldThreshold {700};
    static constexpr Clock::Duration rightShiftHoldThreshold {300};
    static constexpr Clock::Duration delayedTapStart {1000};
    static constexpr Clock::Duration permissionPollInterval {1500};
    static constexpr Clock::Duration activeResetDelay {1500};
    // A hold shorter than this was an accidental tap: its recording is dropped.
    static constexpr double shortHoldSeconds = 0.3;

    // Loads the trigger settings (starting the tap when one is on) and starts the tap afresh 1.0 s later.
    explicit GlobeDictationManager(Dependencies dependencies, QObject* parent = nullptr);
    ~GlobeDictationManager() override;

    // The application's manager on $DISPLAY with the shared recorder, library and helper.
    static GlobeDictationManager& shared();

    // Logs what this desktop lacks and how to get it, then polls every 1.5 s until it is there.
    void requestAccessibilityPermission() override;
    // Starts the tap in place of a running one. A trigger key held across the restart keeps its
    // dictation: its release still stops it.
    void startEventTap() override;
    // Removes the tap and forgets every key state.
    void stopEventTap();

    bool isEventTapRunning() const { return dependencies_.input.isTapRunning(); }
    bool isStartingRecording() const { return dictation_ && dictation_->phase == Phase::starting; }
    // The window that was in front when a trigger went down: the paste target.
    const std::optional<platform::input::FrontWindow>& previousFrontmostApp() const { return previousFrontmostApp_; }

    // Whether a hold trigger's key is down, and its hold not cancelled by other input, as the
    // manager last heard.
    bool isTriggerHeld(Trigger trigger) const
    {
        return trigger == Trigger::globe ? globe_.isPressed : trigger == Trigger::rightShift && rightShift_.isPressed;
    }

    // The dictation road; the triggers call these, and so may tests.
    void startDictation(Trigger trigger);
    void stopDictation(Trigger trigger, double holdDuration, bool isToggle);

    // The name of a trigger in log lines: "⌃R" for Right Ctrl, "⇧R", "⇪".
    static QString sourceLabel(Trigger trigger);

protected:
    void triggerChanged(Trigger trigger, bool enabled) override;

private:
    enum class Phase { starting, recording, stopping };

    struct HoldKey {
        bool isPressed = false;
        Clock::TimePoint pressStartTime {};
        bool recordingStarted = false;
        // Tells a hold check which press scheduled it.
        std::uint64_t press = 0;
    };

    struct PendingStop {
        double holdDuration = 0;
        bool isToggle = false;
    };

    struct Dictation {
        Trigger owner;
        Phase phase = Phase::starting;
        std::optional<PendingStop> pendingStop;
        std::uint64_t generation = 0;
    };

    void loadTriggerSettings();
    QString grantText();
    void startPermissionPolling();
    void pollPermission(std::uint64_t poll);
    void captureFrontmostApp();
    void handleKey(const platform::input::KeyTapEvent& event);
    // Other input before a hold's threshold cancels that hold for this press.
    void cancelWaitingHolds(std::optional<Trigger> except);
    void handleCapsLock(bool isOn);
    void pressHoldKey(Trigger trigger, Clock::Duration threshold);
    void releaseHoldKey(Trigger trigger);
    void holdCheck(Trigger trigger, std::uint64_t press);
    void reconcileHeldKeys();
    // Settings shows what the running tap says of how the triggers are pressed.
    void showTriggerNotice();
    void handleTapBroken();
    void resetKeyState();
    HoldKey& holdKey(Trigger trigger);
    bool& recordingStarted(Trigger trigger);
    bool isEnabled(Trigger trigger) const;

    void startFinished(std::uint64_t generation, std::exception_ptr error);
    void performStop(PendingStop stop);
    void finishDictation(std::uint64_t generation, const RecordingResult& result);
    void fileRecording(const QString& source, const RecordingResult& result);
    void log(const QString& line) const { dependencies_.log(line); }

    Dependencies dependencies_;
    std::optional<platform::input::FrontWindow> previousFrontmostApp_;
    HoldKey globe_;
    HoldKey rightShift_;
    bool wasCapsLockOn_ = false;
    bool capsLockRecordingStarted_ = false;
    std::optional<Dictation> dictation_;
    std::uint64_t dictationCount_ = 0;
    // The dictation whose end may still clear `isActive`.
    std::uint64_t activeDictation_ = 0;
    std::uint64_t pressCount_ = 0;
    std::uint64_t permissionPoll_ = 0;
};

} // namespace parlino
