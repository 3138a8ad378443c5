#pragma once

#include "platform/system/InstanceLock.hpp"

#include <QObject>

#include <chrono>
#include <filesystem>
#include <optional>

class QLocalServer;

namespace parlino {

// One running program per user. The first launch holds a lock file in the user's runtime folder
// and listens on a local socket beside it; a later launch finds the lock held, connects to the
// socket so that the running program brings its window to the front, and ends. A lock whose holder
// died is free again, and its socket file is replaced.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    static constexpr const char* lockName = "parlino.lock";
    static constexpr const char* socketName = "parlino.socket";
    static constexpr std::chrono::milliseconds activationTimeout {5000};

    // $XDG_RUNTIME_DIR, else the program's cache folder.
    static std::filesystem::path standardFolder();

    // A folder whose lock cannot be made at all leaves this launch running unguarded, with a line
    // saying so: refusing to start would help nobody.
    explicit SingleInstance(const std::filesystem::path& folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    bool isPrimary() const { return primary_; }
    // For a later launch: asks the running program to show its window. False, with a line saying
    // so, when it could not be reached within the time.
    bool activateRunning(std::chrono::milliseconds within = activationTimeout) const;

signals:
    // Another launch asked for the window.
    void activationRequested();

private:
    void listen();

    std::filesystem::path socket_;
    std::optional<platform::InstanceLock> lock_;
    bool primary_ = true;
    QLocalServer* server_ = nullptr;
};

} // namespace parlino
