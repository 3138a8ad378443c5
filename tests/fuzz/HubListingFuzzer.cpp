// A repository listing as the hub answers it, and the globs matched against its names.

#include "FuzzSupport.hpp"
#include "Hub/HubApi.hpp"

#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        const auto names = hub::HubApi::filenamesInListing(std::string_view(reinterpret_cast<const char*>(data), size));
        for (const char* glob : {"*.json", "openai_whisper-tiny/*", "*/weights/*.bin", "[a-z]?*", "**"}) {
            hub::matching(names, glob);
        }
    } catch (const std::exception&) {
    }
    return 0;
}
