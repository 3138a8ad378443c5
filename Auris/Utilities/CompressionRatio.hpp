#pragma once

#include <string>
#include <vector>

namespace auris {

// Raw size over DEFLATE-compressed size: high values mean repetitive output.
float compressionRatio(const std::vector<int>& tokens);
float compressionRatio(const std::string& text);

} // namespace auris
