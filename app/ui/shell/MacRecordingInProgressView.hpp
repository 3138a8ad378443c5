#pragma once

#include "app/ui/AppServices.hpp"

#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QScrollArea;

namespace parlino {

namespace design {
class PNFloatingParticles;
class PNGlassModifier;
class PNGradientText;
class PNShimmerModifier;
} // namespace design

// The screen of a running recording: pulsing emblem, level bars, the timer, the live transcript
// (or "Listening..."), the compact options and the stop button, over drifting particles.
class MacRecordingInProgressView : public QWidget {
    Q_OBJECT

public:
    MacRecordingInProgressView(AppServices& services, QString transcription, double duration,
        std::function<void()> onStop, QWidget* parent = nullptr);

    void setTranscription(const QString& transcription);
    void setDuration(double duration);
    QString transcription() const { return transcription_; }
    double duration() const { return duration_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* liveTranscriptView();
    void fitTranscript();

    QString transcription_;
    double duration_;
    std::function<void()> onStop_;
    design::PNFloatingParticles* particles_ = nullptr;
    design::PNGradientText* timer_ = nullptr;
    design::PNGlassModifier* liveTranscript_ = nullptr;
    QScrollArea* transcriptScroll_ = nullptr;
    QLabel* transcriptText_ = nullptr;
    design::PNShimmerModifier* listening_ = nullptr;
};

} // namespace parlino
