#pragma once

#include <filesystem>

namespace parlino {

// The folders the recorder writes to; each is made when first needed.
struct RecorderFolders {
    // Recordings: the app's Documents folder.
    std::filesystem::path documents;
    // The download base of models and tokenizers.
    std::filesystem::path modelStore;
    // Scratch files such as preprocessed audio; never the Documents folder.
    std::filesystem::path temporary;

    // $XDG_DOCUMENTS_DIR/Parlino, $XDG_CACHE_HOME/parlino and $XDG_CACHE_HOME/parlino/tmp.
    static RecorderFolders standard();
};

} // namespace parlino
