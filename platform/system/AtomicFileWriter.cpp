#include "platform/system/AtomicFileWriter.hpp"

#include <array>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::size_t maxNameLength = 255;
constexpr std::string_view temporaryExtension = ".tmp";
constexpr std::size_t tokenDigits = 16;
constexpr mode_t temporaryMode = 0600;
constexpr mode_t newFileMode = 0666;

[[noreturn]] void fail(const char* what, const std::filesystem::path& path, int error = errno)
{
    throw std::filesystem::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

// ".name.1a2b3c4d5e6f7a8b.tmp", shortened where the whole would pass the longest name a folder takes.
std::filesystem::path temporaryName(const std::filesystem::path& destination)
{
    char suffix[24];
    // One system call: a random device opened for every file costs more than the file itself.
    unsigned long long token = 0;
    if (::getrandom(&token, sizeof token, 0) != static_cast<ssize_t>(sizeof token)) {
        fail("Cannot make a temporary name", destination);
    }
    std::snprintf(suffix, sizeof suffix, ".%016llx%s", token, temporaryExtension.data());
    std::string name = destination.filename().string();
    const std::size_t room = maxNameLength - 1 - std::string_view(suffix).size();
    if (name.size() > room) {
        name.resize(room);
    }
    return destination.parent_path() / ("." + name + suffix);
}

// Opens a new hidden file beside the destination and names it in `temporary`.
int createTemporary(const std::filesystem::path& destination, std::filesystem::path& temporary)
{
    if (destination.filename().empty()) {
        fail("Not a file name", destination, EISDIR);
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary = temporaryName(destination);
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, temporaryMode);
        if (fd >= 0) {
            return fd;
        }
        if (errno != EEXIST) {
            fail("Cannot create a temporary file", temporary);
        }
    }
    fail("Cannot create a temporary file", temporary, EEXIST);
}

// The process's umask, read without changing it (umask(2) would, for a moment, for every thread).
mode_t currentUmask()
{
    std::FILE* status = std::fopen("/proc/self/status", "re");
    unsigned int mask = 022;
    if (status) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            if (std::sscanf(line, "Umask: %o", &mask) == 1) {
                break;
            }
        }
        std::fclose(status);
    }
    return static_cast<mode_t>(mask);
}

mode_t finishedMode(const std::filesystem::path& destination)
{
    struct stat status {};
    if (::lstat(destination.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
        return status.st_mode & 07777;
    }
    return newFileMode & ~currentUmask();
}

} // namespace

bool AtomicFileWriter::isTemporaryName(std::string_view name)
{
    const std::size_t tail = 1 + tokenDigits + temporaryExtension.size();
    if (name.size() < 2 + tail || name.front() != '.' || !name.ends_with(temporaryExtension)) {
        return false;
    }
    const std::string_view token = name.substr(name.size() - tail, 1 + tokenDigits);
    return token.front() == '.'
        && token.substr(1).find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

AtomicFileWriter::AtomicFileWriter(std::filesystem::path destination)
    : destination_(std::move(destination))
    , file_(createTemporary(destination_, temporary_))
{
}

AtomicFileWriter::~AtomicFileWriter()
{
    if (!committed_) {
        ::unlink(temporary_.c_str());
    }
}

void AtomicFileWriter::write(std::string_view bytes)
{
    if (file_.get() < 0) {
        fail("The file is already complete", destination_, EBADF);
    }
    if (!file_.writeAll(bytes.data(), bytes.size())) {
        fail("Cannot write the file", temporary_);
    }
}

void AtomicFileWriter::commit()
{
    if (committed_ || (file_.get() < 0 && !unflushed_)) {
        fail("The file is already complete", destination_, EBADF);
    }
    if (!unflushed_) {
        if (::fchmod(file_.get(), finishedMode(destination_)) != 0) {
            fail("Cannot set the mode of the file", temporary_);
        }
        if (::fsync(file_.get()) != 0) {
            fail("Cannot write the file to the disk", temporary_);
        }
        if (!file_.close()) {
            fail("Cannot write the file", temporary_);
        }
    }
    if (::rename(temporary_.c_str(), destination_.c_str()) != 0) {
        fail("Cannot put the file in place", destination_);
    }
    committed_ = true;
    if (!unflushed_) {
        flushFolder(destination_.parent_path());
    }
}

void AtomicFileWriter::closeUnflushed()
{
    if (file_.get() < 0) {
        fail("The file is already complete", destination_, EBADF);
    }
    if (::fchmod(file_.get(), finishedMode(destination_)) != 0) {
        fail("Cannot set the mode of the file", temporary_);
    }
    if (!file_.close()) {
        fail("Cannot write the file", temporary_);
    }
    unflushed_ = true;
}

void AtomicFileWriter::flushFolder(const std::filesystem::path& folder)
{
    const FileDescriptor file(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (file.get() >= 0) {
        ::fsync(file.get());
    }
}

void AtomicFileWriter::writeFile(const std::filesystem::path& destination, std::string_view bytes)
{
    AtomicFileWriter writer(destination);
    writer.write(bytes);
    writer.commit();
}

void AtomicFileWriter::copyFile(const std::filesystem::path& source, const std::filesystem::path& destination)
{
    const FileDescriptor input(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (input.get() < 0) {
        fail("Cannot open the file", source);
    }
    struct stat status {};
    if (::fstat(input.get(), &status) != 0) {
        fail("Cannot read the attributes of the file", source);
    }
    if (!S_ISREG(status.st_mode)) {
        fail("Not a regular file", source, EINVAL);
    }
    AtomicFileWriter writer(destination);
    std::array<char, 1 << 16> buffer;
    for (;;) {
        const auto count = ::read(input.get(), buffer.data(), buffer.size());
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("Cannot read the file", source);
        }
        if (count == 0) {
            break;
        }
        writer.write(std::string_view(buffer.data(), static_cast<std::size_t>(count)));
    }
    writer.commit();
}

} // namespace platform
