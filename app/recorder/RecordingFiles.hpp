#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace parlino {

// Names that are taken get a number: "name_2.m4a", "name_3.m4a", ... up to this one.
constexpr int maxNameNumber = 99;

// 0 when the file cannot be read.
std::uint64_t fileSize(const std::filesystem::path& file);
// A regular file with something in it.
bool holdsAudio(const std::filesystem::path& file);
// "name.m4a" as "name_<number>.m4a", the stem shortened by whole characters when the name would
// not fit a file system's limit.
std::string numberedName(const std::string& name, int number);

} // namespace parlino
