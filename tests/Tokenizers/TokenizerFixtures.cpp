#include "TokenizerFixtures.hpp"

#include "tools/make-model/WhisperTokenizerFiles.hpp"

namespace fixtures {

using nlohmann::json;

namespace {

bool printable(int byte)
{
    return (byte >= 0x21 && byte <= 0x7E) || (byte >= 0xA1 && byte <= 0xAC) || (byte >= 0xAE && byte <= 0xFF);
}

ml::WhisperTokenizerFiles whisperFiles(const std::string& tokenizerClass, WhisperLayout layout = {})
{
    ml::WhisperTokenizerFiles files;
    files.vocabularySize = layout.vocabularySize();
    files.merges = whisperMerges();
    files.fillVocabulary = false;
    if (!layout.allLanguages) {
        files.listedLanguages = 8;
    }
    files.tokenizerClass = tokenizerClass;
    return files;
}

} // namespace

int baseId(unsigned char byte)
{
    int id = 0;
    for (int other = 0; other < 256; ++other) {
        if (printable(other) == printable(byte) && other < byte) {
            ++id;
        }
    }
    return printable(byte) ? id : 188 + id;
}

const std::vector<std::string>& whisperMerges()
{
    // "Ġ" is the blank's character, "Ã ©" the two characters of é's UTF-8 bytes.
    static const std::vector<std::string> merges {
        "Ġ t",     // 256 Ġt
        "h e",     // 257 he
        "Ġt he",   // 258 Ġthe
        "l l",     // 259 ll
        "e ll",    // 260 ell
        "H ell",   // 261 Hell
        "Hell o",  // 262 Hello
        "Ġ w",     // 263 Ġw
        "o r",     // 264 or
        "Ġw or",   // 265 Ġwor
        "Ġwor l",  // 266 Ġworl
        "Ġworl d", // 267 Ġworld
        "Ã ©",     // 268 é
        "c a",     // 269 ca
        "ca f",    // 270 caf
        "caf Ã©",  // 271 café
        "Ġ caf",   // 272 Ġcaf
        "Ġcaf Ã©", // 273 Ġcafé
        "Ġ Ġ",     // 274 ĠĠ
        "i s",     // 275 is
        "Ġ is",    // 276 Ġis
    };
    return merges;
}

json bpeData(const json& vocab, const json& merges)
{
    return json {{"version", "1.0"}, {"model", {{"type", "BPE"}, {"vocab", vocab}, {"merges", merges}}}};
}

WhisperLayout WhisperLayout::compact()
{
    return {256 + static_cast<int>(whisperMerges().size()), true};
}

json whisperTokenizerData(WhisperLayout layout)
{
    return whisperFiles("WhisperTokenizer", layout).tokenizerData();
}

json whisperTokenizerConfig(const std::string& tokenizerClass)
{
    return whisperFiles(tokenizerClass).tokenizerConfig();
}

void writeWhisperTokenizerFolder(const std::filesystem::path& folder, WhisperLayout layout)
{
    whisperFiles("WhisperTokenizerFast", layout).write(folder);
}

} // namespace fixtures
