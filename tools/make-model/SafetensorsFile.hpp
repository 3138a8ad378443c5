#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace ml {

class SafetensorsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A ".safetensors" checkpoint: an 8-byte little-endian header length, a JSON header naming each
// tensor's element type, shape and byte range, then the raw little-endian data. The header is
// checked on opening; tensor data is read on demand.
class SafetensorsFile {
public:
    struct Entry {
        std::string dtype; // as the header writes it
        std::vector<std::int64_t> shape;
        std::uint64_t begin = 0; // byte range within the data section
        std::uint64_t end = 0;
    };

    static constexpr std::uint64_t maximumHeaderSize = 100u << 20;

    explicit SafetensorsFile(const std::filesystem::path& file);

    const std::map<std::string, Entry>& entries() const { return entries_; }
    bool contains(const std::string& name) const { return entries_.contains(name); }
    const Entry& entry(const std::string& name) const;

    // The tensor's values as floats (F32, F16 and BF16 tensors); SafetensorsError otherwise.
    std::vector<float> floats(const std::string& name) const;

private:
    std::filesystem::path path_;
    std::uint64_t dataStart_ = 0;
    std::map<std::string, Entry> entries_;
    mutable std::ifstream stream_;
};

} // namespace ml
