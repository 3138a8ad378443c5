#pragma once

#include "app/ui/support/UiTestFixture.hpp"

#include "app/ui/recordings/MacRecordingsListView.hpp"
#include "app/ui/recordings/RecordingDetailView.hpp"
#include "app/ui/design/BorderedButton.hpp"

#include <QListView>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <memory>

namespace uitest {

// The recordings pane over the fake library, with a handful of recordings the tests name by title.
class RecordingsTest : public UiTest {
protected:
    static parlino::Recording sample(const QString& title, const QString& transcript, parlino::RecordingCategory category,
        const QString& date, double duration)
    {
        parlino::Recording recording;
        recording.id = QUuid::createUuid();
        recording.title = title;
        recording.transcription = transcript;
        recording.category = category;
        recording.date = QDateTime::fromString(date, Qt::ISODate);
        recording.duration = duration;
        return recording;
    }

    // Six recordings, newest first, each with an audio file in the library's folder.
    QList<parlino::Recording> samples()
    {
        using parlino::RecordingCategory;
        QList<parlino::Recording> list = {
            sample(QStringLiteral("Q3 Budget Review"),
                QStringLiteral("We went through the Q3 budget line by line. Marketing stays flat, engineering gets two "
                               "more hires, and the offsite moves to October."),
                RecordingCategory::work, QStringLiteral("2025-03-14T09:30:00Z"), 312.4),
            sample(QStringLiteral("Team Standup"),
                QStringLiteral("Anna finished the onboarding flow, Peter is blocked on the API keys, and we agreed to "
                               "ship the beta on Friday."),
                RecordingCategory::meeting, QStringLiteral("2025-03-13T10:05:00Z"), 185),
            sample(QStringLiteral("Grocery List"),
                QStringLiteral("Milk, eggs, sourdough bread, spinach, and something nice for the budget dinner on Saturday."),
                RecordingCategory::personal, QStringLiteral("2025-03-12T18:40:00Z"), 42.7),
            sample(QStringLiteral("App Idea: Voice Journal"),
                QStringLiteral("A journaling app that turns a two-minute voice note into a tidy daily summary with mood tags."),
                RecordingCategory::idea, QStringLiteral("2025-03-10T21:15:00Z"), 96),
            sample(QStringLiteral("Voice Memo"), QString(), RecordingCategory::note, QStringLiteral("2025-03-09T08:00:00Z"), 7.9),
            sample(QStringLiteral("Everything Board"), QStringLiteral("Loose thoughts for every project at once."),
                RecordingCategory::all, QStringLiteral("2025-03-08T16:20:00Z"), 75.9),
        };
        std::filesystem::create_directories(library->documentsURL());
        for (parlino::Recording& recording : list) {
            recording.audioURL = library->documentsURL() / (recording.title.toStdString() + ".m4a");
            std::ofstream(recording.audioURL) << "audio";
        }
        return list;
    }

    parlino::MacRecordingsListView& open(QSize size = {1100, 720})
    {
        view = std::make_unique<parlino::MacRecordingsListView>(services());
        showAt(*view, size);
        clock.advance(1.0);
        return *view;
    }

    const parlino::Recording& byTitle(const QString& title) const
    {
        for (const parlino::Recording& recording : library->recordings()) {
            if (recording.title == title) {
                return recording;
            }
        }
        ADD_FAILURE() << "no recording " << title.toStdString();
        static const parlino::Recording none;
        return none;
    }

    QStringList listedTitles() const
    {
        QStringList titles;
        QAbstractItemModel* model = view->listView()->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            titles << model->index(row, 0).data().toString();
        }
        return titles;
    }

    // Clicks the list row of the recording with this title.
    void clickRow(const QString& title)
    {
        QListView* list = view->listView();
        QAbstractItemModel* model = list->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            const QModelIndex index = model->index(row, 0);
            if (index.data().toString() == title) {
                list->scrollTo(index);
                QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualRect(index).center());
                return;
            }
        }
        ADD_FAILURE() << "no row " << title.toStdString();
    }

    parlino::RecordingDetailView& detail() { return *view->detailView(); }

    template <typename T = QWidget>
    T* find(const char* name)
    {
        return child<T>(*view, name);
    }

    parlino::design::BorderedButton* button(const char* name) { return find<parlino::design::BorderedButton>(name); }

    std::unique_ptr<parlino::MacRecordingsListView> view;
};

} // namespace uitest
