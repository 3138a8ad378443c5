#pragma once

#include "app/ui/design/Color.hpp"
#include "app/ui/design/LinearGradient.hpp"

#include <QFont>
#include <QString>
#include <QWidget>

namespace parlino {

// The emblem at the top of the feedback sheets: a soft radial halo behind a gradient-filled
// symbol that casts a glow of the halo's colour.
class GlowingSymbol : public QWidget {
    Q_OBJECT

public:
    struct Look {
        QString symbol;
        double symbolSize;
        design::LinearGradient gradient;
        design::Color haloColor;
        double haloOpacity;
        // The halo fades from the start radius to clear at the end radius.
        double haloStartRadius;
        double haloEndRadius;
        double glowRadius;
        int side;
    };

    explicit GlowingSymbol(Look look, QWidget* parent = nullptr);

    QString symbol() const { return look_.symbol; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Look look_;
};

// The centred head of a sheet: the emblem, a title and a subtitle, `spacing` apart, with
// `topPadding` above them.
QWidget* sheetHeader(GlowingSymbol::Look look, const QString& title, const QFont& titleFont, const QString& subtitle,
    const QFont& subtitleFont, int spacing, int topPadding, QWidget* parent);

} // namespace parlino
