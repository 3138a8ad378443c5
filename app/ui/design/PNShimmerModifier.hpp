#pragma once

#include "app/ui/design/AnimatedValue.hpp"
#include "app/ui/design/AnimatedWidget.hpp"
#include "app/ui/design/Color.hpp"

#include <QFont>
#include <QString>

namespace parlino::design {

// A line of text with a soft highlight that sweeps across its glyphs every 2 s; the highlight
// shows only where the text draws.
class PNShimmerModifier : public AnimatedWidget {
    Q_OBJECT

public:
    PNShimmerModifier(AnimationClock& clock, QString text, QFont font, Color color, QWidget* parent = nullptr);

    QString text() const { return text_; }
    double phase() const { return phase_.value(now()); }

    QSize sizeHint() const override;

protected:
    void appear() override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QFont font_;
    Color color_;
    AnimatedValue phase_;
};

} // namespace parlino::design
