#include "app/dictation/GlobeDictationManager.hpp"

#include "app/dictation/ChosenRecordingOptions.hpp"
#include "app/dictation/DictationHelper.hpp"
#include "app/dictation/SettingsKeys.hpp"
#include "app/dictation/InputBackends.hpp"
#include "app/library/ConsoleLine.hpp"
#include "app/library/RecordingsManager.hpp"
#include "app/recorder/WhisperRecorder.hpp"
#include "platform/input/Keys.hpp"

#include <QPointer>

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace parlino {

namespace keysym = platform::input::keysym;
namespace modifier = platform::input::modifier;
using Transition = platform::input::KeyTapEvent::Transition;

namespace {

struct TriggerSetting {
    GlobeDictationService::Trigger trigger;
    const char* key;
    bool defaultValue;
};

constexpr TriggerSetting triggerSettings[] {
    {GlobeDictationService::Trigger::capsLock, SettingsKeys::dictationCapsLockEnabled, SettingsKeys::dictationCapsLockEnabledDefault},
    {GlobeDictationService::Trigger::rightShift, SettingsKeys::dictationRightShiftEnabled, SettingsKeys::dictationRightShiftEnabledDefault},
    {GlobeDictationService::Trigger::globe, SettingsKeys::dictationGlobeEnabled, SettingsKeys::dictationGlobeEnabledDefault},
};

const TriggerSetting& settingOf(GlobeDictationService::Trigger trigger)
{
    return *std::find_if(std::begin(triggerSettings), std::end(triggerSettings),
                         [trigger](const TriggerSetting& setting) { return setting.trigger == trigger; });
}

// Shift, Control, Alt, Super and AltGr held with Right Ctrl make it part of a shortcut, not a trigger.
constexpr unsigned globeExcludingModifiers = modifier::shift | modifier::control | modifier::mod1 | modifier::mod4 | modifier::mod5;

} // namespace

GlobeDictationManager::GlobeDictationManager(Dependencies dependencies, QObject* parent)
    : GlobeDictationService(parent)
    , dependencies_(std::move(dependencies))
{
    loadTriggerSettings();
    if (isAnyTriggerEnabled()) {
        dependencies_.clock.schedule(delayedTapStart, this, [this] { startEventTap(); });
    }
}

GlobeDictationManager::~GlobeDictationManager()
{
    stopEventTap();
    ++permissionPoll_;
}

GlobeDictationManager& GlobeDictationManager::shared()
{
    TriggerInput* input = &InputBackends::shared().triggers();
    static GlobeDictationManager* manager = new GlobeDictationManager(
        {platform::UserDefaults::standard(), WhisperRecorder::shared(), RecordingsManager::shared(), DictationHelper::shared(),
         *input, SystemClock::shared()});
    return *manager;
}

QString GlobeDictationManager::sourceLabel(Trigger trigger)
{
    switch (trigger) {
    case Trigger::globe: return QStringLiteral("⌃R");
    case Trigger::rightShift: return QStringLiteral("⇧R");
    case Trigger::capsLock: return QStringLiteral("⇪");
    }
    return {};
}

void GlobeDictationManager::loadTriggerSettings()
{
    auto& defaults = dependencies_.defaults;
    for (const auto& setting : triggerSettings) {
        const QString key = QString::fromLatin1(setting.key);
        if (!defaults.contains(key)) {
            defaults.setBool(key, setting.defaultValue);
        }
    }
    const auto stored = [&](Trigger trigger) {
        const auto& setting = settingOf(trigger);
        return defaults.boolValue(QString::fromLatin1(setting.key), setting.defaultValue);
    };
    setCapsLockTriggerEnabled(stored(Trigger::capsLock));
    setRightShiftTriggerEnabled(stored(Trigger::rightShift));
    setGlobeTriggerEnabled(stored(Trigger::globe));
}

void GlobeDictationManager::triggerChanged(Trigger trigger, bool enabled)
{
    dependencies_.defaults.setBool(QString::fromLatin1(settingOf(trigger).key), enabled);
    if (!enabled && trigger != Trigger::capsLock) {
        holdKey(trigger).isPressed = false;
        holdKey(trigger).recordingStarted = false;
    }
    if (isAnyTriggerEnabled()) {
        if (!dependencies_.input.isTapRunning()) {
            startEventTap();
        }
    } else {
        stopEventTap();
    }
}

bool GlobeDictationManager::isEnabled(Trigger trigger) const
{
    switch (trigger) {
    case Trigger::globe: return globeTriggerEnabled();
    case Trigger::rightShift: return rightShiftTriggerEnabled();
    case Trigger::capsLock: return capsLockTriggerEnabled();
    }
    return false;
}

GlobeDictationManager::HoldKey& GlobeDictationManager::holdKey(Trigger trigger)
{
    return trigger == Trigger::globe ? globe_ : rightShift_;
}

bool& GlobeDictationManager::recordingStarted(Trigger trigger)
{
    return trigger == Trigger::capsLock ? capsLockRecordingStarted_ : holdKey(trigger).recordingStarted;
}

void GlobeDictationManager::startEventTap()
{
    // A restart keeps what the keys were doing, so that a key held across it still ends its dictation.
    dependencies_.input.stopTap();
    const std::string missing = dependencies_.input.missing();
    if (!missing.empty()) {
        log(QStringLiteral("🎙️ Push-to-talk: No Accessibility permission"));
        log(QStringLiteral("   ") + QString::fromStdString(missing));
        setNeedsAccessibilityPermission(true, QString::fromStdString(missing), grantText());
        return;
    }
    setNeedsAccessibilityPermission(false);
    try {
        dependencies_.input.startTap({
            .onKey = [this](const platform::input::KeyTapEvent& event) { handleKey(event); },
            .onCapsLock = [this](bool isOn) { handleCapsLock(isOn); },
            .onBroken = [this] { handleTapBroken(); },
            .onOtherInput = [this] { cancelWaitingHolds(std::nullopt); },
            .onNoticeChanged = [this] { showTriggerNotice(); },
        });
    } catch (const std::exception& error) {
        log(QStringLiteral("❌ Push-to-talk: Failed to create ") + QString::fromStdString(dependencies_.input.tapName()));
        log(QStringLiteral("   ") + QString::fromUtf8(error.what()));
        setNeedsAccessibilityPermission(true, QString::fromUtf8(error.what()), grantText());
        return;
    }
    reconcileHeldKeys();
    log(QStringLiteral("🎙️ Push-to-talk: ") + QString::fromStdString(dependencies_.input.tapName()) + QStringLiteral(" ACTIVE"));
    showTriggerNotice();
}

void GlobeDictationManager::showTriggerNotice()
{
    setTriggerNoticeText(QString::fromStdString(dependencies_.input.notice()));
}

void GlobeDictationManager::reconcileHeldKeys()
{
    const auto held = dependencies_.input.keysHeldAtStart();
    const auto isHeld = [&](platform::input::Keysym key) { return std::find(held.begin(), held.end(), key) != held.end(); };
    // A key let go while no tap was listening is released now.
    if (globe_.isPressed && !isHeld(keysym::controlRight)) {
        releaseHoldKey(Trigger::globe);
    }
    if (rightShift_.isPressed && !isHeld(keysym::shiftRight)) {
        releaseHoldKey(Trigger::rightShift);
    }
    const bool capsLockOn = dependencies_.input.isCapsLockOn();
    if (wasCapsLockOn_ && !capsLockOn) {
        handleCapsLock(false);
    } else {
        // A lock already lit when listening starts does not start a dictation.
        wasCapsLockOn_ = capsLockOn;
    }
}

void GlobeDictationManager::stopEventTap()
{
    dependencies_.input.stopTap();
    resetKeyState();
    setTriggerNoticeText({});
}

void GlobeDictationManager::resetKeyState()
{
    globe_.isPressed = false;
    globe_.recordingStarted = false;
    rightShift_.isPressed = false;
    rightShift_.recordingStarted = false;
    wasCapsLockOn_ = false;
    capsLockRecordingStarted_ = false;
}

void GlobeDictationManager::handleTapBroken()
{
    const QString reason = QString::fromStdString(dependencies_.input.brokenReason());
    stopEventTap();
    log(QStringLiteral("❌ Push-to-talk: ") + reason);
    setNeedsAccessibilityPermission(true, reason, grantText());
}

QString GlobeDictationManager::grantText()
{
    const std::string grant = dependencies_.input.howToGrant();
    return grant == TriggerInput::x11Grant ? QString() : QString::fromStdString(grant);
}

void GlobeDictationManager::requestAccessibilityPermission()
{
    const std::string missing = dependencies_.input.missing();
    // There is no settings pane to open: say what is missing and how to get it.
    if (missing.empty()) {
        log(QStringLiteral("🎙️ Push-to-talk: this X11 session lets Parlino watch and type keys"));
    } else {
        log(QStringLiteral("🎙️ Push-to-talk: ") + QString::fromStdString(missing));
        log(QStringLiteral("   ") + QString::fromStdString(dependencies_.input.howToGrant()));
    }
    startPermissionPolling();
}

void GlobeDictationManager::startPermissionPolling()
{
    const auto poll = ++permissionPoll_;
    dependencies_.clock.schedule(permissionPollInterval, this, [this, poll] { pollPermission(poll); });
}

void GlobeDictationManager::pollPermission(std::uint64_t poll)
{
    if (poll != permissionPoll_) {
        return;
    }
    if (!dependencies_.input.missing().empty()) {
        dependencies_.clock.schedule(permissionPollInterval, this, [this, poll] { pollPermission(poll); });
        return;
    }
    ++permissionPoll_;
    setNeedsAccessibilityPermission(false);
    startEventTap();
}

void GlobeDictationManager::captureFrontmostApp()
{
    const auto front = dependencies_.input.frontmost();
    // This program's own windows never become the paste target.
    if (front && front->pid == static_cast<int>(::getpid())) {
        return;
    }
    previousFrontmostApp_ = front;
}

void GlobeDictationManager::cancelWaitingHolds(std::optional<Trigger> except)
{
    // A modifier held with other input is part of a shortcut or a click; a dictation already
    // running keeps going, so that nothing the user said is lost.
    for (const Trigger trigger : {Trigger::globe, Trigger::rightShift}) {
        HoldKey& key = holdKey(trigger);
        if (trigger != except && isEnabled(trigger) && key.isPressed && !key.recordingStarted) {
            key.isPressed = false;
        }
    }
}

void GlobeDictationManager::handleKey(const platform::input::KeyTapEvent& event)
{
    const bool pressed = event.transition == Transition::pressed;
    if (pressed) {
        cancelWaitingHolds(event.keysym == keysym::controlRight ? Trigger::globe : Trigger::rightShift);
    }
    if (event.keysym == keysym::controlRight) {
        if (!globeTriggerEnabled()) {
            globe_.isPressed = pressed;
            return;
        }
        if (pressed) {
            if (!globe_.isPressed && (event.modifiers & globeExcludingModifiers) == 0) {
                pressHoldKey(Trigger::globe, globeHoldThreshold);
            }
        } else if (globe_.isPressed) {
            releaseHoldKey(Trigger::globe);
        }
        return;
    }
    if (event.keysym == keysym::shiftRight) {
        if (!rightShiftTriggerEnabled()) {
            rightShift_.isPressed = pressed;
            return;
        }
        if (pressed && !rightShift_.isPressed) {
            pressHoldKey(Trigger::rightShift, rightShiftHoldThreshold);
        } else if (rightShift_.isPressed) {
            releaseHoldKey(Trigger::rightShift);
        }
    }
}

void GlobeDictationManager::pressHoldKey(Trigger trigger, Clock::Duration threshold)
{
    HoldKey& key = holdKey(trigger);
    key.isPressed = true;
    key.pressStartTime = dependencies_.clock.now();
    key.recordingStarted = false;
    key.press = ++pressCount_;
    captureFrontmostApp();
    dependencies_.clock.schedule(threshold, this, [this, trigger, press = key.press] { holdCheck(trigger, press); });
}

void GlobeDictationManager::holdCheck(Trigger trigger, std::uint64_t press)
{
    HoldKey& key = holdKey(trigger);
    // A check left over from an earlier press of the key has nothing to start.
    if (!key.isPressed || key.press != press) {
        return;
    }
    key.recordingStarted = true;
    startDictation(trigger);
}

void GlobeDictationManager::releaseHoldKey(Trigger trigger)
{
    HoldKey& key = holdKey(trigger);
    key.isPressed = false;
    if (key.recordingStarted) {
        key.recordingStarted = false;
        stopDictation(trigger, Clock::seconds(key.pressStartTime, dependencies_.clock.now()), false);
    }
}

void GlobeDictationManager::handleCapsLock(bool isOn)
{
    if (isOn) {
        if (wasCapsLockOn_) {
            return;
        }
        wasCapsLockOn_ = true;
        if (capsLockTriggerEnabled()) {
            captureFrontmostApp();
            capsLockRecordingStarted_ = true;
            startDictation(Trigger::capsLock);
        }
        return;
    }
    if (!wasCapsLockOn_) {
        return;
    }
    wasCapsLockOn_ = false;
    if (capsLockTriggerEnabled() && capsLockRecordingStarted_) {
        capsLockRecordingStarted_ = false;
        stopDictation(Trigger::capsLock, 0, true);
    }
}

void GlobeDictationManager::startDictation(Trigger trigger)
{
    const QString source = sourceLabel(trigger);
    RecorderService& recorder = dependencies_.recorder;
    // A refused start leaves nothing behind for the trigger's release to stop.
    if (dictation_ || recorder.isRecording() || recorder.isTranscribing()) {
        recordingStarted(trigger) = false;
        return;
    }
    if (!recorder.aurisReady()) {
        log(QStringLiteral("⚠️ Dictation [") + source + QStringLiteral("]: Auris not ready"));
        recordingStarted(trigger) = false;
        return;
    }
    const auto generation = ++dictationCount_;
    dictation_ = Dictation {.owner = trigger, .phase = Phase::starting, .pendingStop = std::nullopt, .generation = generation};
    activeDictation_ = generation;
    setIsActive(true);
    dependencies_.helper.playFeedbackSound(FeedbackSound::start);
    recorder.startRecording([self = QPointer(this), generation](std::exception_ptr error) {
        if (self) {
            self->startFinished(generation, error);
        }
    });
}

void GlobeDictationManager::startFinished(std::uint64_t generation, std::exception_ptr error)
{
    if (!dictation_ || dictation_->generation != generation) {
        return;
    }
    if (error) {
        log(QStringLiteral("❌ Dictation [") + sourceLabel(dictation_->owner) + QStringLiteral("]: failed to start: ")
            + describe(error));
        recordingStarted(dictation_->owner) = false;
        dictation_.reset();
        setIsActive(false);
        return;
    }
    dictation_->phase = Phase::recording;
    // The trigger was let go while the recording was starting: stop it now that it runs.
    if (const auto pending = std::exchange(dictation_->pendingStop, std::nullopt)) {
        performStop(*pending);
    }
}

void GlobeDictationManager::stopDictation(Trigger trigger, double holdDuration, bool isToggle)
{
    if (!dictation_ || dictation_->owner != trigger) {
        return;
    }
    switch (dictation_->phase) {
    case Phase::starting:
        dictation_->pendingStop = PendingStop {holdDuration, isToggle};
        return;
    case Phase::recording:
        performStop({holdDuration, isToggle});
        return;
    case Phase::stopping:
        return;
    }
}

void GlobeDictationManager::performStop(PendingStop stop)
{
    RecorderService& recorder = dependencies_.recorder;
    const auto generation = dictation_->generation;
    if (!recorder.isRecording()) {
        dictation_.reset();
        setIsActive(false);
        return;
    }
    dictation_->phase = Phase::stopping;
    if (!stop.isToggle && stop.holdDuration < shortHoldSeconds) {
        recorder.stopRecording([self = QPointer(this), generation](RecordingResult) {
            if (self && self->dictation_ && self->dictation_->generation == generation) {
                self->dictation_.reset();
                self->setIsActive(false);
            }
        });
        return;
    }
    dependencies_.helper.playFeedbackSound(FeedbackSound::stop);
    recorder.stopRecording([self = QPointer(this), generation](RecordingResult result) {
        if (self) {
            self->finishDictation(generation, result);
        }
    });
}

void GlobeDictationManager::finishDictation(std::uint64_t generation, const RecordingResult& result)
{
    if (!dictation_ || dictation_->generation != generation) {
        return;
    }
    const QString source = sourceLabel(dictation_->owner);
    dictation_.reset();
    fileRecording(source, result);
    if (result.transcription.isEmpty()) {
        setIsActive(false);
        log(QStringLiteral("⚠️ Dictation [") + source + QStringLiteral("]: empty transcription, nothing to paste"));
        return;
    }
    dependencies_.helper.pasteIntoApplication(result.transcription, std::exchange(previousFrontmostApp_, std::nullopt));
    dependencies_.clock.schedule(activeResetDelay, this, [this, generation] {
        // A newer dictation owns the state by now.
        if (activeDictation_ == generation) {
            setIsActive(false);
        }
    });
}

void GlobeDictationManager::fileRecording(const QString& source, const RecordingResult& result)
{
    auto& defaults = dependencies_.defaults;
    const auto setting = [&](const char* key) {
        const QString name = QString::fromLatin1(key);
        return defaults.contains(name) && defaults.boolValue(name, false);
    };
    // A recording that could not be transcribed, or not wholly written, is never thrown away.
    if (setting(SettingsKeys::saveToRecordings) || result.mustBeKept()) {
        try {
            const Recording saved = dependencies_.library.saveRecording(result);
            ChosenRecordingOptions::apply(dependencies_.library, defaults, saved);
        } catch (const std::exception& error) {
            log(QStringLiteral("❌ Dictation [") + source + QStringLiteral("]: save failed: ") + describe(error));
        }
        return;
    }
    if (!setting(SettingsKeys::saveAudioFile) && result.audioURL) {
        std::error_code ignored;
        std::filesystem::remove(*result.audioURL, ignored);
    }
}

} // namespace parlino
