#include "Auris/Text/Constants.hpp"

namespace auris {

const std::map<std::string, std::string>& Constants::languages()
{
    static const std::map<std::string, std::string> table {
        {"english", "en"}, {"chinese", "zh"}, {"german", "de"}, {"spanish", "es"}, {"russian", "ru"},
        {"korean", "ko"}, {"french", "fr"}, {"japanese", "ja"}, {"portuguese", "pt"}, {"turkish", "tr"},
        {"polish", "pl"}, {"catalan", "ca"}, {"dutch", "nl"}, {"arabic", "ar"}, {"swedish", "sv"},
        {"italian", "it"}, {"indonesian", "id"}, {"hindi", "hi"}, {"finnish", "fi"}, {"vietnamese", "vi"},
        {"hebrew", "he"}, {"ukrainian", "uk"}, {"greek", "el"}, {"malay", "ms"}, {"czech", "cs"},
        {"romanian", "ro"}, {"danish", "da"}, {"hungarian", "hu"}, {"tamil", "ta"}, {"norwegian", "no"},
        {"thai", "th"}, {"urdu", "ur"}, {"croatian", "hr"}, {"bulgarian", "bg"}, {"lithuanian", "lt"},
        {"latin", "la"}, {"maori", "mi"}, {"malayalam", "ml"}, {"welsh", "cy"}, {"slovak", "sk"},
        {"telugu", "te"}, {"persian", "fa"}, {"latvian", "lv"}, {"bengali", "bn"}, {"serbian", "sr"},
        {"azerbaijani", "az"}, {"slovenian", "sl"}, {"kannada", "kn"}, {"estonian", "et"}, {"macedonian", "mk"},
        {"breton", "br"}, {"basque", "eu"}, {"icelandic", "is"}, {"armenian", "hy"}, {"nepali", "ne"},
        {"mongolian", "mn"}, {"bosnian", "bs"}, {"kazakh", "kk"}, {"albanian", "sq"}, {"swahili", "sw"},
        {"galician", "gl"}, {"marathi", "mr"}, {"punjabi", "pa"}, {"sinhala", "si"}, {"khmer", "km"},
        {"shona", "sn"}, {"yoruba", "yo"}, {"somali", "so"}, {"afrikaans", "af"}, {"occitan", "oc"},
        {"georgian", "ka"}, {"belarusian", "be"}, {"tajik", "tg"}, {"sindhi", "sd"}, {"gujarati", "gu"},
        {"amharic", "am"}, {"yiddish", "yi"}, {"lao", "lo"}, {"uzbek", "uz"}, {"faroese", "fo"},
        {"haitian creole", "ht"}, {"pashto", "ps"}, {"turkmen", "tk"}, {"nynorsk", "nn"}, {"maltese", "mt"},
        {"sanskrit", "sa"}, {"luxembourgish", "lb"}, {"myanmar", "my"}, {"tibetan", "bo"}, {"tagalog", "tl"},
        {"malagasy", "mg"}, {"assamese", "as"}, {"tatar", "tt"}, {"hawaiian", "haw"}, {"lingala", "ln"},
        {"hausa", "ha"}, {"bashkir", "ba"}, {"javanese", "jw"}, {"sundanese", "su"}, {"cantonese", "yue"},
        // Alternative names of languages listed above.
        {"burmese", "my"}, {"valencian", "ca"}, {"flemish", "nl"}, {"haitian", "ht"}, {"letzeburgesch", "lb"},
        {"pushto", "ps"}, {"panjabi", "pa"}, {"moldavian", "ro"}, {"moldovan", "ro"}, {"sinhalese", "si"},
        {"castilian", "es"}, {"mandarin", "zh"},
    };
    return table;
}

const std::set<std::string>& Constants::languageCodes()
{
    static const std::set<std::string> codes = [] {
        std::set<std::string> result;
        for (const auto& [name, code] : languages()) {
            result.insert(code);
        }
        return result;
    }();
    return codes;
}

} // namespace auris
