#include "Auris/Utilities/CompressionRatio.hpp"

#include "Auris/Utilities/Logging.hpp"

#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <zlib.h>

namespace auris {

namespace {

// Size of the raw DEFLATE stream (no zlib header or checksum) at the default level.
std::size_t deflatedSize(const unsigned char* data, std::size_t size)
{
    z_stream stream {};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflate initialisation failed");
    }
    std::vector<unsigned char> output(deflateBound(&stream, size) + 16);
    stream.next_in = const_cast<unsigned char*>(data);
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = output.data();
    stream.avail_out = static_cast<uInt>(output.size());
    const int status = deflate(&stream, Z_FINISH);
    const std::size_t produced = stream.total_out;
    deflateEnd(&stream);
    if (status != Z_STREAM_END) {
        throw std::runtime_error("deflate did not finish (status " + std::to_string(status) + ")");
    }
    return produced;
}

float ratio(const unsigned char* data, std::size_t size)
{
    try {
        const std::size_t compressed = deflatedSize(data, size);
        if (compressed == 0) {
            return std::numeric_limits<float>::infinity();
        }
        return static_cast<float>(size) / static_cast<float>(compressed);
    } catch (const std::exception& error) {
        Logging::debug(std::string("Compression error: ") + error.what());
        return std::numeric_limits<float>::infinity();
    }
}

} // namespace

float compressionRatio(const std::vector<int>& tokens)
{
    std::vector<unsigned char> bytes(tokens.size() * sizeof(std::int32_t));
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const auto value = static_cast<std::int32_t>(tokens[i]);
        std::memcpy(bytes.data() + i * sizeof value, &value, sizeof value);
    }
    return ratio(bytes.data(), bytes.size());
}

float compressionRatio(const std::string& text)
{
    if (text.empty()) {
        return std::numeric_limits<float>::infinity();
    }
    return ratio(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

} // namespace auris
