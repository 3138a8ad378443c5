#include "app/recorder/RecorderFolders.hpp"

#include "platform/system/Folders.hpp"

namespace parlino {

RecorderFolders RecorderFolders::standard()
{
    const auto caches = platform::Folders::caches() / "parlino";
    return {platform::Folders::documents() / "Parlino", caches, caches / "tmp"};
}

} // namespace parlino
