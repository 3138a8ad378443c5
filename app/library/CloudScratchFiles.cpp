#include "app/library/CloudScratchFiles.hpp"

#include "platform/system/FileDescriptor.hpp"

#include <QRegularExpression>
#include <QUuid>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace parlino {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const char* what, const fs::path& path, int error = errno)
{
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

void makePrivateFolder(const fs::path& folder)
{
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        throw fs::filesystem_error("Cannot create the folder", folder, error);
    }
    fs::permissions(folder, fs::perms::owner_all, error);
}

bool olderThan(const fs::directory_entry& entry, fs::file_time_type before)
{
    std::error_code error;
    const auto changed = entry.last_write_time(error);
    return !error && changed < before;
}

std::size_t removeOld(const fs::path& folder, fs::file_time_type before, bool (*wanted)(const std::string&))
{
    std::size_t removed = 0;
    std::error_code error;
    for (fs::directory_iterator entries(folder, error), end; !error && entries != end; entries.increment(error)) {
        const fs::directory_entry& entry = *entries;
        std::error_code typeError;
        if (!entry.is_regular_file(typeError) || !wanted(entry.path().filename().string()) || !olderThan(entry, before)) {
            continue;
        }
        std::error_code removeError;
        if (fs::remove(entry.path(), removeError)) {
            ++removed;
        }
    }
    return removed;
}

} // namespace

CloudScratchFiles::CloudScratchFiles(std::filesystem::path uploads, std::filesystem::path assets)
    : uploads_(std::move(uploads))
    , assets_(std::move(assets))
{
}

std::filesystem::path CloudScratchFiles::copyForUpload(const std::filesystem::path& source) const
{
    makePrivateFolder(uploads_);
    const platform::FileDescriptor input(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (input.get() < 0) {
        fail("Cannot open the file", source);
    }
    const fs::path copy = uploads_ / (QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString() + ".m4a");
    platform::FileDescriptor output(::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (output.get() < 0) {
        fail("Cannot create the file", copy);
    }
    const auto failAndRemove = [&](const char* what, const fs::path& path) {
        const int error = errno;
        ::unlink(copy.c_str());
        fail(what, path, error);
    };
    std::array<char, 1 << 16> buffer;
    for (;;) {
        const auto count = ::read(input.get(), buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            failAndRemove("Cannot read the file", source);
        }
        if (count == 0) {
            break;
        }
        if (!output.writeAll(buffer.data(), static_cast<std::size_t>(count))) {
            failAndRemove("Cannot write the file", copy);
        }
    }
    if (!output.close()) {
        failAndRemove("Cannot write the file", copy);
    }
    return copy;
}

bool CloudScratchFiles::isDownloadTemporary(const std::string& fileName)
{
    // AtomicFileWriter's names for a record's audio or sidecar.
    static const QRegularExpression form(QStringLiteral(
        R"(^\.[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\.(m4a|json)\.[0-9a-f]{16}\.tmp$)"));
    return form.match(QString::fromStdString(fileName)).hasMatch();
}

std::size_t CloudScratchFiles::removeLeftovers(const std::filesystem::path& libraryFolder,
                                               std::filesystem::file_time_type before) const
{
    const auto any = [](const std::string&) { return true; };
    return removeOld(uploads_, before, any) + removeOld(assets_, before, any)
         + removeOld(libraryFolder, before, &CloudScratchFiles::isDownloadTemporary);
}

} // namespace parlino
