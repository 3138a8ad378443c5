#include "FuzzSupport.hpp"

#include <fstream>

namespace fuzzsupport {

void writeFile(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::abort();
    }
}

std::string joinTwo(std::string_view first, std::string_view second)
{
    if (first.size() > 0xffff) {
        std::abort();
    }
    std::string joined;
    joined.push_back(static_cast<char>(first.size() & 0xff));
    joined.push_back(static_cast<char>(first.size() >> 8));
    joined.append(first);
    joined.append(second);
    return joined;
}

} // namespace fuzzsupport
