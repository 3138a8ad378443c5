#pragma once

#include "platform/system/FileDescriptor.hpp"

#include <cstddef>
#include <filesystem>
#include <string>

namespace platform {

// Opens a file for reading only when it is a regular file. The open never waits (a FIFO or a
// device in the file's place would block a plain open until a writer comes), and the check is made
// on the open descriptor, so nothing can be swapped in between the check and the reads.
//
// Failures throw std::filesystem::filesystem_error with the system's reason; what is not a
// regular file gives EINVAL.
class RegularFile {
public:
    static RegularFile open(const std::filesystem::path& path);

    const FileDescriptor& descriptor() const { return file_; }
    std::size_t size() const { return size_; }

    // The whole file, which may hold at most `maximumSize` bytes (EFBIG beyond, before anything
    // is read).
    static std::string read(const std::filesystem::path& path, std::size_t maximumSize);

    // The reason of a failure of open or read, in words: "not a regular file", "larger than
    // allowed", else the system's text ("No such file or directory").
    static std::string reason(const std::filesystem::filesystem_error& error);

private:
    RegularFile(FileDescriptor file, std::size_t size);

    FileDescriptor file_;
    std::size_t size_;
};

} // namespace platform
