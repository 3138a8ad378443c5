#pragma once

#include "app/recorder/Recording.hpp"
#include "app/ui/recordings/AIApp.hpp"
#include "app/ui/recordings/AILaunchMethod.hpp"
#include "app/ui/AppServices.hpp"
#include "app/ui/design/AnimatedValue.hpp"
#include "app/ui/design/AnimatedWidget.hpp"
#include "app/ui/design/LinearGradient.hpp"

#include <QUuid>

#include <functional>
#include <optional>
#include <vector>

class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QScrollArea;
class QVBoxLayout;

namespace parlino {

namespace design {
class BorderedButton;
class PNGlassModifier;
class PNGradientIcon;
class PlainLabel;
class RevealBox;
} // namespace design

// The right-hand pane of the recordings browser: one saved recording, found by its id in the
// library and redrawn whenever the library changes it, with its title (edited in place, saved on
// Return), date, duration and category (picked in place), Copy, Play or Stop, Re-transcribe and
// Delete, the Send-to-AI buttons and the transcript. Playback and deletion belong to the list,
// which hands in the play state and the three closures. A long transcript is laid out a piece at a
// time, the next one when the reader scrolls to the end; Copy and the AI buttons take all of it.
class RecordingDetailView : public design::AnimatedWidget {
    Q_OBJECT

public:
    // Characters of the transcript laid out at a time, ended between words where one is near. More
    // than a screenful; a longer piece's layout and card shadow would hold up every selection.
    static constexpr qsizetype transcriptPieceLength = 4000;

    explicit RecordingDetailView(AppServices& services, QWidget* parent = nullptr);

    std::optional<QUuid> recordingID() const { return recordingID_; }
    // The shown recording as the library holds it now.
    std::optional<Recording> recording() const;
    // Shows the recording with this id; editing begun on another recording ends unsaved.
    void setRecording(const QUuid& id);
    // As a freshly built pane: no editing, the launch method back to Copy to Clipboard.
    void reset();

    bool isPlaying() const { return isPlaying_; }
    // `startedAt`: when the playback of the shown recording began, which its position is counted from.
    void setIsPlaying(bool playing, std::optional<Clock::TimePoint> startedAt = std::nullopt);
    // "elapsed / length" while the shown recording plays, empty otherwise.
    QString playbackPositionText() const;
    void setOnPlay(std::function<void()> action) { onPlay_ = std::move(action); }
    void setOnStop(std::function<void()> action) { onStop_ = std::move(action); }
    void setOnDelete(std::function<void()> action) { onDelete_ = std::move(action); }

    QString editedTitle() const;
    bool isEditingTitle() const { return isEditingTitle_; }
    RecordingCategory editedCategory() const { return editedCategory_; }
    bool isEditingCategory() const { return isEditingCategory_; }
    // A re-transcription runs (of this recording or of one shown before).
    bool isReTranscribing() const { return reTranscribing_.has_value(); }
    AILaunchMethod aiLaunchMethod() const { return aiLaunchMethod_; }
    void setAILaunchMethod(AILaunchMethod method);
    bool appeared() const { return appeared_; }

    void beginTitleEditing();
    void saveTitle();
    void beginCategoryEditing();
    void saveCategory();
    void copyTranscription();
    void reTranscribe();

    // The tint of an AI app's button by its colour name, matched exactly; gray for any other.
    static QColor colorFromName(const QString& name);

protected:
    void appear() override;
    bool isAnimating() const override;
    void advance() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* headerBlock();
    QWidget* metadataRow();
    QWidget* actionCard();
    QWidget* sendToAICard();
    QWidget* transcriptionBlock();
    design::BorderedButton* aiAppButton(const AIApp& app);
    QWidget* heading(const QString& symbol, const design::LinearGradient& gradient, const QString& title);
    // Padded content on a glass card.
    static design::PNGlassModifier* glassCard(QWidget* content, int padding, double cornerRadius, QWidget* parent);

    void refresh();
    void refreshHeader(const Recording& shown);
    void refreshTranscript(const Recording& shown);
    static design::PlainLabel* transcriptLabel(QWidget* parent);
    static qsizetype transcriptPieceEnd(const QString& text, qsizetype from);
    void showTranscript(const QString& transcription);
    void showNextTranscriptPiece();
    void refreshActions();
    void refreshAppIcons();
    void applyEntrance();
    void endEditing();
    // An edit the library could not keep, said in the pane until the next edit is kept or another
    // recording is shown.
    void showSaveError(const std::optional<QString>& failure);

    void performReTranscription(const Recording& recording);
    // Ends the run at once, saying why, when no model is on its way; false while one may still come.
    bool giveUpWithoutModel();
    void waitForAuris(const Recording& recording, int sleeps);
    void transcribeWhenReady(const Recording& recording);
    void transcribe(const Recording& recording);
    void endReTranscription();
    void tickPlaybackPosition();

    AppServices& services_;
    std::optional<QUuid> recordingID_;
    bool isPlaying_ = false;
    std::optional<Clock::TimePoint> playbackStartedAt_;
    std::function<void()> onPlay_;
    std::function<void()> onStop_;
    std::function<void()> onDelete_;

    bool isEditingTitle_ = false;
    RecordingCategory editedCategory_ = RecordingCategory::personal;
    bool isEditingCategory_ = false;
    // The recording whose re-transcription runs.
    std::optional<QUuid> reTranscribing_;
    AILaunchMethod aiLaunchMethod_ = AILaunchMethod::clipboard;
    bool appeared_ = false;
    design::AnimatedValue entrance_;

    QScrollArea* scroll_ = nullptr;
    design::RevealBox* titleRow_ = nullptr;
    design::RevealBox* actions_ = nullptr;
    QWidget* badge_ = nullptr;
    design::PlainLabel* title_ = nullptr;
    design::PlainLabel* saveError_ = nullptr;
    QLineEdit* titleField_ = nullptr;
    design::PlainLabel* date_ = nullptr;
    design::PlainLabel* duration_ = nullptr;
    QWidget* categoryItem_ = nullptr;
    design::PlainLabel* category_ = nullptr;
    QComboBox* categoryPicker_ = nullptr;
    design::BorderedButton* copy_ = nullptr;
    design::BorderedButton* play_ = nullptr;
    design::PlainLabel* playbackPosition_ = nullptr;
    design::BorderedButton* reTranscribe_ = nullptr;
    design::BorderedButton* delete_ = nullptr;
    QWidget* sendToAI_ = nullptr;
    QComboBox* launchMethod_ = nullptr;
    std::vector<std::pair<AIApp, design::BorderedButton*>> appButtons_;
    design::PNGlassModifier* transcriptCard_ = nullptr;
    design::PlainLabel* transcript_ = nullptr;
    QVBoxLayout* transcriptPieces_ = nullptr;
    std::vector<design::PlainLabel*> morePieces_;
    QString shownTranscript_;
    qsizetype transcriptShown_ = 0;
    design::PlainLabel* noTranscript_ = nullptr;
    design::PlainLabel* noTranscriptHint_ = nullptr;
};

} // namespace parlino
