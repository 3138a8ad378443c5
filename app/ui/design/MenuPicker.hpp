#pragma once

#include <QComboBox>

namespace parlino::design {

// A menu-style picker: the toolkit's combo box with the up-and-down chevron that marks a menu.
class MenuPicker : public QComboBox {
    Q_OBJECT

public:
    explicit MenuPicker(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace parlino::design
