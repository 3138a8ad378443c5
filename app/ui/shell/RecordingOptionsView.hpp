#pragma once

#include "app/recorder/RecordingCategory.hpp"
#include "app/ui/design/AnimationClock.hpp"
#include "platform/settings/UserDefaults.hpp"

#include <QWidget>

#include <vector>

class QComboBox;
class QLineEdit;
class QToolButton;

namespace parlino {

namespace design {
class SwitchToggle;
}

// The after-recording options: pending title, category, four switches and a keywords line, each
// written to its setting at once and redrawn whenever anything else writes it. Full on the ready
// screen, compact (tighter spacing only) while recording.
class RecordingOptionsView : public QWidget {
    Q_OBJECT

public:
    // `cloudSynced`: the library reaches a cloud store, so a kept transcript is said to be synced.
    RecordingOptionsView(platform::UserDefaults& defaults, design::AnimationClock& clock, bool compact = false,
        bool cloudSynced = false,
        QWidget* parent = nullptr);

    bool isCompact() const { return compact_; }

    static QString categoryIcon(RecordingCategory category);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* titleRow();
    QWidget* categoryRow();
    QWidget* togglesBlock(design::AnimationClock& clock);
    QWidget* keywordsRow();
    QWidget* toggleRow(design::AnimationClock& clock, const QString& icon, const QString& title,
        const QString& subtitle, const char* key, bool defaultValue, const QString& objectName);
    QToolButton* clearButton(const QString& objectName);

    void readSetting(const QString& key);

    platform::UserDefaults& defaults_;
    bool compact_;
    bool cloudSynced_;
    QLineEdit* title_ = nullptr;
    QToolButton* clearTitle_ = nullptr;
    QComboBox* category_ = nullptr;
    QLineEdit* keywords_ = nullptr;
    QToolButton* clearKeywords_ = nullptr;
    std::vector<std::pair<QString, design::SwitchToggle*>> switches_;
    std::vector<bool> switchDefaults_;
};

} // namespace parlino
