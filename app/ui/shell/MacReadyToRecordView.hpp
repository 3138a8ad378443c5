#pragma once

#include "app/ui/AppServices.hpp"
#include "app/ui/design/AnimatedValue.hpp"
#include "app/ui/design/AnimatedWidget.hpp"

#include <functional>

class QLabel;

namespace parlino {

namespace design {
class PNGradientText;
class PNProgressRing;
class RevealBox;
} // namespace design

// The idle record screen: a floating microphone emblem, the title, the privacy badge, the full
// options panel and the start button; while the model loads, its download progress and a cancel
// button above them.
class MacReadyToRecordView : public design::AnimatedWidget {
    Q_OBJECT

public:
    MacReadyToRecordView(AppServices& services, std::function<void()> onStart, QWidget* parent = nullptr);

    bool iconFloat() const { return iconFloat_; }
    bool appeared() const { return appeared_; }
    // How far the entrance has come, 0 to 1 and more while the spring overshoots.
    double entrance() const { return entrance_.value(now()); }

protected:
    void appear() override;
    bool isAnimating() const override;
    void advance() override;

private:
    QWidget* modelDownloadSection();
    // Stands where the download section does while no model is ready and none is loading.
    QWidget* modelMissingSection();
    QWidget* privacyBadge();
    void updateModelDownload();
    void applyEntrance();

    AppServices& services_;
    std::function<void()> onStart_;
    bool iconFloat_ = false;
    bool appeared_ = false;
    design::AnimatedValue entrance_;
    QWidget* downloadSection_ = nullptr;
    design::PNProgressRing* downloadRing_ = nullptr;
    design::PNGradientText* downloadPercentText_ = nullptr;
    QWidget* missingSection_ = nullptr;
    QLabel* missingText_ = nullptr;
    design::RevealBox* title_ = nullptr;
    design::RevealBox* badge_ = nullptr;
    design::RevealBox* options_ = nullptr;
    design::RevealBox* startButton_ = nullptr;
};

} // namespace parlino
