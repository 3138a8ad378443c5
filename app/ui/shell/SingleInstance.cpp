#include "app/ui/shell/SingleInstance.hpp"

#include "app/ui/ConsoleLog.hpp"
#include "platform/system/Folders.hpp"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMessageBox>
#include <QThread>

#include <cstdlib>

namespace parlino {

namespace {

constexpr std::chrono::milliseconds retryPause {50};
// Other names tried when something that cannot be removed sits at the socket's path.
constexpr int socketNames = 10;

QString text(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

// One name per library, so that launches on different libraries in one runtime folder keep apart.
std::string socketStem(const std::filesystem::path& library)
{
    std::error_code error;
    auto canonical = std::filesystem::weakly_canonical(library, error);
    if (error) {
        canonical = library;
    }
    const QByteArray digest = QCryptographicHash::hash(QByteArray::fromStdString(canonical.string()), QCryptographicHash::Sha256);
    return "parlino-" + digest.toHex().left(16).toStdString();
}

std::chrono::milliseconds leftUntil(std::chrono::steady_clock::time_point deadline)
{
    return std::max(std::chrono::milliseconds(0),
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
}

// Connects and waits for the running program's answer; the reason when it did not come.
std::optional<QString> ask(const std::filesystem::path& socketPath, std::chrono::steady_clock::time_point deadline)
{
    QLocalSocket socket;
    socket.connectToServer(text(socketPath));
    if (!socket.waitForConnected(static_cast<int>(leftUntil(deadline).count()))) {
        return socket.errorString();
    }
    QByteArray heard;
    while (!heard.contains('\n')) {
        // A frozen program's socket still takes the connection; only the answer shows it is alive.
        if (!socket.waitForReadyRead(static_cast<int>(leftUntil(deadline).count()))) {
            return QStringLiteral("it did not answer within ")
                + QString::number(SingleInstance::activationTimeout.count() / 1000) + QStringLiteral(" seconds");
        }
        heard += socket.readAll();
    }
    socket.disconnectFromServer();
    return heard == SingleInstance::answer ? std::nullopt : std::optional(QStringLiteral("it gave a wrong answer"));
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

SingleInstance::SingleInstance(const std::filesystem::path& library, const std::filesystem::path& socketFolder, QObject* parent)
    : QObject(parent)
    , lockFile_(library / lockName)
{
    try {
        std::filesystem::create_directories(library);
        lock_ = platform::InstanceLock::acquire(lockFile_);
    } catch (const std::exception& error) {
        consoleLine(QStringLiteral("⚠️ Cannot make sure Parlino runs once: ") + QString::fromUtf8(error.what()));
        return;
    }
    primary_ = lock_.has_value();
    if (primary_) {
        listen(socketFolder, library);
    }
}

SingleInstance::~SingleInstance() = default;

void SingleInstance::listen(const std::filesystem::path& socketFolder, const std::filesystem::path& library)
{
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    try {
        lock_->setNote({});
        std::filesystem::create_directories(socketFolder);
    } catch (const std::exception& error) {
        consoleLine(QStringLiteral("⚠️ Cannot listen for other launches: ") + QString::fromUtf8(error.what()));
        return;
    }
    const std::string stem = socketStem(library);
    for (int number = 1; number <= socketNames && socket_.empty(); ++number) {
        const auto candidate = socketFolder / (stem + (number == 1 ? "" : "-" + std::to_string(number)) + ".socket");
        // Holding the lock, whatever is at the path is a dead holder's: a socket, a file, an empty
        // folder. A folder with something in it is left alone and the next name taken.
        std::error_code ignored;
        std::filesystem::remove(candidate, ignored);
        if (server_->listen(text(candidate))) {
            socket_ = candidate;
        }
    }
    if (socket_.empty()) {
        consoleLine(QStringLiteral("⚠️ Cannot listen for other launches: ") + server_->errorString());
        return;
    }
    try {
        lock_->setNote(socket_.string());
    } catch (const std::exception& error) {
        consoleLine(QStringLiteral("⚠️ Cannot listen for other launches: ") + QString::fromUtf8(error.what()));
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* connection = server_->nextPendingConnection()) {
            connection->write(answer);
            connection->disconnectFromServer();
            connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
            if (connection->state() == QLocalSocket::UnconnectedState) {
                connection->deleteLater();
            }
        }
        emit activationRequested();
    });
}

bool SingleInstance::activateRunning(std::chrono::milliseconds within) const
{
    const auto deadline = std::chrono::steady_clock::now() + within;
    QString reason = QStringLiteral("it noted no place to reach it");
    for (;;) {
        // The running program may hold the lock and not listen yet: it started a moment ago.
        const std::string note = platform::InstanceLock::noteOf(lockFile_);
        if (!note.empty()) {
            const auto failure = ask(note, deadline);
            if (!failure) {
                return true;
            }
            reason = *failure;
        }
        if (std::chrono::steady_clock::now() + retryPause >= deadline) {
            break;
        }
        QThread::msleep(static_cast<unsigned long>(retryPause.count()));
    }
    consoleLine(QStringLiteral("❌ Parlino is already running, but its window could not be reached: ") + reason);
    return false;
}

void SingleInstance::showUnreachable()
{
    QMessageBox alert(QMessageBox::Warning, QStringLiteral("Parlino is already running"),
        QStringLiteral("Parlino is already running on this library, but it does not answer. Quit it, or end it in "
                       "the system monitor if it stays frozen, and open Parlino again."),
        QMessageBox::Ok);
    alert.setObjectName(QStringLiteral("alreadyRunningAlert"));
    alert.exec();
}

} // namespace parlino
