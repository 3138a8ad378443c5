#include "tools/make-model/SafetensorsFile.hpp"

#include "platform/ml/Float16.hpp"

#include <nlohmann/json.hpp>

#include <bit>
#include <cstring>
#include <limits>

namespace ml {

namespace {

std::size_t elementSizeOf(const std::string& dtype)
{
    if (dtype == "F64" || dtype == "I64" || dtype == "U64") return 8;
    if (dtype == "F32" || dtype == "I32" || dtype == "U32") return 4;
    if (dtype == "F16" || dtype == "BF16" || dtype == "I16" || dtype == "U16") return 2;
    if (dtype == "I8" || dtype == "U8" || dtype == "BOOL" || dtype == "F8_E4M3" || dtype == "F8_E5M2") return 1;
    return 0;
}

} // namespace

SafetensorsFile::SafetensorsFile(const std::filesystem::path& file)
    : path_(file)
{
    auto fail = [&](const std::string& what) -> void { throw SafetensorsError(file.string() + ": " + what); };
    stream_.open(file, std::ios::binary);
    if (!stream_) {
        fail("cannot be opened");
    }
    std::error_code error;
    const std::uint64_t fileSize = std::filesystem::file_size(file, error);
    if (error || fileSize < 8) {
        fail("is too short for a safetensors header");
    }
    unsigned char lengthBytes[8];
    stream_.read(reinterpret_cast<char*>(lengthBytes), 8);
    std::uint64_t headerSize = 0;
    for (int i = 7; i >= 0; --i) {
        headerSize = (headerSize << 8) | lengthBytes[i];
    }
    if (headerSize > maximumHeaderSize || headerSize > fileSize - 8) {
        fail("has a header length past the end of the file");
    }
    std::string header(static_cast<std::size_t>(headerSize), '\0');
    stream_.read(header.data(), static_cast<std::streamsize>(headerSize));
    if (!stream_) {
        fail("cannot read its header");
    }
    dataStart_ = 8 + headerSize;
    const std::uint64_t dataSize = fileSize - dataStart_;

    nlohmann::json root;
    try {
        root = nlohmann::json::parse(header);
    } catch (const nlohmann::json::exception&) {
        fail("has a header that is not valid JSON");
    }
    if (!root.is_object()) {
        fail("has a header that is not a JSON object");
    }
    for (const auto& [name, item] : root.items()) {
        if (name == "__metadata__") {
            continue;
        }
        const std::string what = "tensor \"" + name + "\"";
        if (!item.is_object() || !item.contains("dtype") || !item["dtype"].is_string() || !item.contains("shape")
            || !item["shape"].is_array() || !item.contains("data_offsets") || !item["data_offsets"].is_array()
            || item["data_offsets"].size() != 2 || !item["data_offsets"][0].is_number_unsigned()
            || !item["data_offsets"][1].is_number_unsigned()) {
            fail(what + " has a malformed header entry");
        }
        Entry entry;
        entry.dtype = item["dtype"].get<std::string>();
        const std::size_t size = elementSizeOf(entry.dtype);
        if (size == 0) {
            fail(what + " has the unknown element type \"" + entry.dtype + "\"");
        }
        std::uint64_t count = 1;
        for (const auto& dimension : item["shape"]) {
            if (!dimension.is_number_unsigned()) {
                fail(what + " has an invalid shape");
            }
            const auto value = dimension.get<std::uint64_t>();
            if (value != 0 && count > dataSize / value) {
                fail(what + " is larger than the file");
            }
            count *= value;
            entry.shape.push_back(static_cast<std::int64_t>(std::min<std::uint64_t>(value, std::numeric_limits<std::int64_t>::max())));
        }
        entry.begin = item["data_offsets"][0].get<std::uint64_t>();
        entry.end = item["data_offsets"][1].get<std::uint64_t>();
        if (entry.end < entry.begin || entry.end > dataSize) {
            fail(what + " lies past the end of the file (truncated?)");
        }
        if (entry.end - entry.begin != count * size) {
            fail(what + " has a byte range that does not match its shape");
        }
        entries_.emplace(name, std::move(entry));
    }
}

const SafetensorsFile::Entry& SafetensorsFile::entry(const std::string& name) const
{
    auto it = entries_.find(name);
    if (it == entries_.end()) {
        throw SafetensorsError(path_.string() + ": tensor \"" + name + "\" is missing");
    }
    return it->second;
}

std::vector<float> SafetensorsFile::floats(const std::string& name) const
{
    const Entry& found = entry(name);
    const std::size_t size = elementSizeOf(found.dtype);
    if (found.dtype != "F32" && found.dtype != "F16" && found.dtype != "BF16") {
        throw SafetensorsError(path_.string() + ": tensor \"" + name + "\" is " + found.dtype + ", not F32, F16 or BF16");
    }
    const std::uint64_t bytes = found.end - found.begin;
    std::vector<unsigned char> raw(static_cast<std::size_t>(bytes));
    stream_.clear();
    stream_.seekg(static_cast<std::streamoff>(dataStart_ + found.begin));
    stream_.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(bytes));
    if (!stream_) {
        throw SafetensorsError(path_.string() + ": tensor \"" + name + "\" cannot be read");
    }
    const std::size_t count = static_cast<std::size_t>(bytes / size);
    std::vector<float> values(count);
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* p = raw.data() + i * size;
        if (found.dtype == "F32") {
            const std::uint32_t bits = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8
                | static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
            values[i] = std::bit_cast<float>(bits);
        } else {
            const std::uint16_t bits = static_cast<std::uint16_t>(p[0] | p[1] << 8);
            values[i] = found.dtype == "F16" ? Float16::toFloat(bits)
                                             : std::bit_cast<float>(static_cast<std::uint32_t>(bits) << 16);
        }
    }
    return values;
}

} // namespace ml
