#pragma once

#include "app/ui/design/Color.hpp"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <vector>

namespace parlino {

// One topic card of the help sheet.
struct HelpSection {
    QString title;
    QString icon;
    design::Color color;
    QStringList tips;
};

// One line of the keyboard-shortcut card.
struct ShortcutRow {
    QString key;
    QString description;
};

// The read-only help sheet in Slovak: four topic cards of tips and the keyboard shortcuts in a
// scrolling area between a fixed header and a fixed close button. It reads no settings; closing
// is all it does.
class HelpView : public QDialog {
    Q_OBJECT

public:
    explicit HelpView(QWidget* parent = nullptr);

    static const std::vector<HelpSection>& sections();
    static const std::vector<ShortcutRow>& shortcutRows();

    // Opens the sheet over `parent`'s window; it deletes itself when closed.
    static HelpView* present(QWidget* parent);
};

} // namespace parlino
