#pragma once

#include "app/recorder/Recording.hpp"

#include <QObject>
#include <QString>

#include <optional>

namespace parlino {

// What the screens use to play one recording at a time. The player itself and the fakes of the UI
// tests derive from it. Lives on the Qt main thread; nothing here waits for the audio.
class AudioPlayback : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isPlaying READ isPlaying NOTIFY isPlayingChanged)

public:
    explicit AudioPlayback(QObject* parent = nullptr);
    ~AudioPlayback() override;

    bool isPlaying() const { return isPlaying_; }
    const std::optional<Recording>& currentRecording() const { return currentRecording_; }

    // Stops what plays and starts the recording's audio; returns at once. Playing ends with one of
    // `finished`, `decodeError` or `playbackFailed`, or with `stop`, which reports nothing. For a
    // file that is not there nothing changes but the `playbackFailed` that follows.
    virtual void play(const Recording& recording) = 0;
    virtual void stop() = 0;

signals:
    void isPlayingChanged();
    void currentRecordingChanged();
    // The last sample was played.
    void finished();
    // The audio file cannot be opened or decoded.
    void decodeError(const QString& description);
    // The file is not there, or the sound output cannot be used.
    void playbackFailed(const QString& description);

protected:
    void setIsPlaying(bool value);
    void setCurrentRecording(std::optional<Recording> recording);

private:
    bool isPlaying_ = false;
    std::optional<Recording> currentRecording_;
};

} // namespace parlino
