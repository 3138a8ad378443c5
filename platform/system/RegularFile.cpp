#include "platform/system/RegularFile.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace platform {

namespace {

[[noreturn]] void fail(const char* what, const std::filesystem::path& path, int error)
{
    throw std::filesystem::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

} // namespace

RegularFile::RegularFile(FileDescriptor file, std::size_t size)
    : file_(std::move(file))
    , size_(size)
{
}

RegularFile RegularFile::open(const std::filesystem::path& path)
{
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
        fail("Cannot open the file", path, errno);
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        fail("Cannot read the attributes of the file", path, errno);
    }
    if (!S_ISREG(status.st_mode)) {
        fail("Not a regular file", path, EINVAL);
    }
    // Reads of a regular file never wait anyway; the flag goes so that nothing sees EAGAIN.
    const int flags = ::fcntl(file.get(), F_GETFL);
    if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        fail("Cannot open the file", path, errno);
    }
    return RegularFile(std::move(file), static_cast<std::size_t>(status.st_size));
}

std::string RegularFile::read(const std::filesystem::path& path, std::size_t maximumSize)
{
    const RegularFile file = open(path);
    if (file.size() > maximumSize) {
        fail("The file is larger than allowed", path, EFBIG);
    }
    std::string contents(file.size(), '\0');
    std::size_t filled = 0;
    // The size was read before; a file that grows meanwhile is read to its size then, and one that
    // shrinks ends early.
    while (filled < contents.size()) {
        const auto count = ::read(file.descriptor().get(), contents.data() + filled, contents.size() - filled);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            fail("Cannot read the file", path, errno);
        }
        if (count == 0) {
            break;
        }
        filled += static_cast<std::size_t>(count);
    }
    contents.resize(filled);
    return contents;
}

std::string RegularFile::reason(const std::filesystem::filesystem_error& error)
{
    if (error.code() == std::errc::invalid_argument) {
        return "not a regular file";
    }
    if (error.code() == std::errc::file_too_large) {
        return "larger than allowed";
    }
    return error.code().message();
}

} // namespace platform
