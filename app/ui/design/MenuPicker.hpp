#pragma once

#include <QComboBox>

namespace parlino::design {

// A menu-style picker: the toolkit's combo box with the up-and-down chevron that marks a menu.
// Like a menu it changes only when chosen from: the wheel scrolls what it stands in, so scrolling a
// form past a picker never changes a setting.
class MenuPicker : public QComboBox {
    Q_OBJECT

public:
    explicit MenuPicker(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
};

// A picker's design width, grown to its longest choice where the text is larger.
void setWidthAtLeast(QComboBox& picker, int width);

} // namespace parlino::design
