#pragma once

#include "app/ui/design/AnimatedValue.hpp"
#include "app/ui/design/AnimatedWidget.hpp"
#include "app/ui/design/Color.hpp"
#include "platform/settings/UserDefaults.hpp"

#include <QString>

#include <array>

class QPushButton;

namespace parlino {

namespace design {
class PlainLabel;
}

// The four welcome pages shown until the user finishes them once; "Get Started" stores
// "parlino_hasSeenOnboarding".
class MacOnboardingView : public design::AnimatedWidget {
    Q_OBJECT

public:
    struct Page {
        QString icon;
        design::Color color;
        QString title;
        QString subtitle;
    };

    MacOnboardingView(platform::UserDefaults& defaults, design::AnimationClock& clock, QWidget* parent = nullptr);

    int currentPage() const { return currentPage_; }
    static const std::array<Page, 4>& pages();

protected:
    bool isAnimating() const override;
    void advance() override;
    void paintEvent(QPaintEvent* event) override;

private:
    void showPage();
    void next();

    platform::UserDefaults& defaults_;
    int currentPage_ = 0;
    design::AnimatedValue pageFade_{1};
    QWidget* symbol_ = nullptr;
    design::PlainLabel* title_ = nullptr;
    design::PlainLabel* subtitle_ = nullptr;
    QWidget* dots_ = nullptr;
    QPushButton* button_ = nullptr;
};

} // namespace parlino
