#pragma once

#include "app/ui/design/AnimationClock.hpp"
#include "app/ui/design/Color.hpp"
#include "app/ui/design/FrameDriver.hpp"

#include <QAbstractButton>
#include <QFont>
#include <QIcon>
#include <QMargins>
#include <QString>

#include <optional>

namespace parlino::design {

// The toolkit's bordered button in the design's colours: a rounded, lightly filled button with a
// symbol (or an application's image) before its title. With a tint the fill and the label take
// that colour; the prominent form is filled with the tint and labelled in white. While busy a
// turning spinner stands in front of the title. The title is drawn as plain text.
class BorderedButton : public QAbstractButton {
    Q_OBJECT

public:
    enum class Prominence { bordered, prominent };

    BorderedButton(AnimationClock& clock, QString title, std::optional<QString> symbol, Prominence prominence,
        std::optional<Color> tint = std::nullopt, QWidget* parent = nullptr);

    QString title() const { return title_; }
    std::optional<QString> symbol() const { return symbol_; }
    Prominence prominence() const { return prominence_; }
    bool isBusy() const { return busy_; }
    bool hasImage() const { return !image_.isNull(); }

    void setLabel(const QString& title, std::optional<QString> symbol, Prominence prominence);
    // An image in place of the symbol, drawn at `side` points with rounded corners.
    void setImage(const QIcon& image, int side, double cornerRadius);
    void setBusy(bool busy);
    // The label's font, the symbol's size and the padding around the label.
    void setMetrics(const QFont& font, double symbolSize, QMargins padding);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    double leadingWidth() const;
    void spin();

    AnimationClock& clock_;
    QString title_;
    std::optional<QString> symbol_;
    Prominence prominence_;
    std::optional<Color> tint_;
    QIcon image_;
    int imageSide_ = 0;
    double imageRadius_ = 0;
    bool busy_ = false;
    bool hovered_ = false;
    QFont font_;
    double symbolSize_ = 13;
    QMargins padding_ = {12, 6, 12, 6};
    FrameDriver frames_;
};

} // namespace parlino::design
