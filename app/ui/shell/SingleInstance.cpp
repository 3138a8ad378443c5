#include "app/ui/shell/SingleInstance.hpp"

#include "app/ui/ConsoleLog.hpp"
#include "platform/system/Folders.hpp"

#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cstdlib>

namespace parlino {

namespace {

constexpr std::chrono::milliseconds retryPause {50};

QString text(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

} // namespace

std::filesystem::path SingleInstance::standardFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::error_code error;
    if (runtime && *runtime == '/' && std::filesystem::is_directory(runtime, error)) {
        return runtime;
    }
    return platform::Folders::caches() / "parlino";
}

SingleInstance::SingleInstance(const std::filesystem::path& folder, QObject* parent)
    : QObject(parent)
    , socket_(folder / socketName)
{
    try {
        std::filesystem::create_directories(folder);
        lock_ = platform::InstanceLock::acquire(folder / lockName);
    } catch (const std::exception& error) {
        consoleLine(QStringLiteral("⚠️ Cannot make sure Parlino runs once: ") + QString::fromUtf8(error.what()));
        return;
    }
    primary_ = lock_.has_value();
    if (primary_) {
        listen();
    }
}

SingleInstance::~SingleInstance() = default;

void SingleInstance::listen()
{
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // Holding the lock, any socket file there is a dead holder's.
    QLocalServer::removeServer(text(socket_));
    if (!server_->listen(text(socket_))) {
        consoleLine(QStringLiteral("⚠️ Cannot listen for other launches: ") + server_->errorString());
        return;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* connection = server_->nextPendingConnection()) {
            connection->disconnectFromServer();
            connection->deleteLater();
        }
        emit activationRequested();
    });
}

bool SingleInstance::activateRunning(std::chrono::milliseconds within) const
{
    const auto deadline = std::chrono::steady_clock::now() + within;
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(text(socket_));
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (socket.waitForConnected(static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0)))) {
            socket.disconnectFromServer();
            return true;
        }
        socket.abort();
        // The running program may hold the lock and not listen yet: it started a moment ago.
        if (std::chrono::steady_clock::now() + retryPause >= deadline) {
            break;
        }
        QThread::msleep(static_cast<unsigned long>(retryPause.count()));
    }
    consoleLine(QStringLiteral("❌ Parlino is already running, but its window could not be reached: ") + socket.errorString());
    return false;
}

} // namespace parlino
