#pragma once

#include "app/dictation/Clock.hpp"
#include "app/ui/design/Color.hpp"

#include <QString>
#include <QWidget>

#include <cstdint>

class QLabel;

namespace parlino {

// A short line over the bottom of the window for a few seconds and then gone: why a click's action
// failed, or where the result of one went. One per window, made there when first needed; a newer
// message takes the place of the one shown. Its time goes through the screens' clock. Main thread only.
class StatusNotice final : public QWidget {
    Q_OBJECT

public:
    static constexpr Clock::Duration shownFor {4000};

    // Why something failed, where a result went, or what is being waited for.
    enum class Kind { problem, outcome, waiting };

    // Shows `message` at the bottom of the window `widget` is in.
    static void post(QWidget& widget, Clock& clock, const QString& message, Kind kind = Kind::problem);
    // The notice of the window `widget` is in, if one was made there.
    static StatusNotice* of(const QWidget& widget);

    QString message() const;
    Kind kind() const { return kind_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    StatusNotice(Clock& clock, QWidget& window);

    void showMessage(const QString& message, Kind kind);
    design::Color tint() const;
    void place();

    Clock& clock_;
    QLabel* icon_ = nullptr;
    QLabel* text_ = nullptr;
    Kind kind_ = Kind::problem;
    // Tells a pending hide which message it belongs to.
    std::uint64_t shown_ = 0;
};

} // namespace parlino
