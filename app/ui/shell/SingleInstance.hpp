#pragma once

#include "platform/system/InstanceLock.hpp"

#include <QObject>
#include <QString>

#include <chrono>
#include <filesystem>
#include <optional>

class QLocalServer;

namespace parlino {

// One running program per library. The first launch on a library holds a lock file in the library
// folder, so that launches from other sessions or with other environments meet it too, and listens
// on a local socket in its runtime folder whose path it notes in the lock file. A later launch
// finds the lock held, asks the running program through that socket to bring its window to the
// front, and ends once it has answered. A lock whose holder died is free again; whatever is left at
// the socket's path is replaced.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    static constexpr const char* lockName = ".parlino.lock";
    static constexpr std::chrono::milliseconds activationTimeout {5000};
    // The word the running program answers with once it has been asked.
    static constexpr const char* answer = "shown\n";

    // $XDG_RUNTIME_DIR, else the program's cache folder.
    static std::filesystem::path standardFolder();

    // A library whose lock cannot be made at all leaves this launch running unguarded, with a line
    // saying so: refusing to start would help nobody.
    SingleInstance(const std::filesystem::path& library, const std::filesystem::path& socketFolder, QObject* parent = nullptr);
    ~SingleInstance() override;

    bool isPrimary() const { return primary_; }
    // For a later launch: asks the running program to show its window. False, with a line saying
    // so, when it did not answer within the time (it is frozen, or stopped).
    bool activateRunning(std::chrono::milliseconds within = activationTimeout) const;
    // After a failed `activateRunning`: tells the user on screen, until dismissed.
    static void showUnreachable();

    // The socket this launch listens on, empty when it does not.
    const std::filesystem::path& socket() const { return socket_; }

signals:
    // Another launch asked for the window.
    void activationRequested();

private:
    void listen(const std::filesystem::path& socketFolder, const std::filesystem::path& library);

    std::filesystem::path lockFile_;
    std::filesystem::path socket_;
    std::optional<platform::InstanceLock> lock_;
    bool primary_ = true;
    QLocalServer* server_ = nullptr;
};

} // namespace parlino
