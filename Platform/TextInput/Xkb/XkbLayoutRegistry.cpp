#include "Platform/TextInput/Xkb/XkbLayoutRegistry.h"

#include <xkbcommon/xkbregistry.h>

#include <algorithm>
#include <array>
#include <memory>
#include <utility>

namespace tesvano::platform {

namespace {

// ISO 639-2 (terminological and bibliographic) and ISO 639-3 codes that have an ISO 639-1
// code, sorted by the three-letter code. BCP 47 takes the shortest code of a language.
constexpr std::array<std::pair<std::string_view, std::string_view>, 205> kTwoLetterCodes{{
    {"aar", "aa"}, {"abk", "ab"}, {"afr", "af"}, {"aka", "ak"}, {"alb", "sq"}, {"amh", "am"},
    {"ara", "ar"}, {"arg", "an"}, {"arm", "hy"}, {"asm", "as"}, {"ava", "av"}, {"ave", "ae"},
    {"aym", "ay"}, {"aze", "az"}, {"bak", "ba"}, {"bam", "bm"}, {"baq", "eu"}, {"bel", "be"},
    {"ben", "bn"}, {"bih", "bh"}, {"bis", "bi"}, {"bod", "bo"}, {"bos", "bs"}, {"bre", "br"},
    {"bul", "bg"}, {"bur", "my"}, {"cat", "ca"}, {"ces", "cs"}, {"cha", "ch"}, {"che", "ce"},
    {"chi", "zh"}, {"chu", "cu"}, {"chv", "cv"}, {"cor", "kw"}, {"cos", "co"}, {"cre", "cr"},
    {"cym", "cy"}, {"cze", "cs"}, {"dan", "da"}, {"deu", "de"}, {"div", "dv"}, {"dut", "nl"},
    {"dzo", "dz"}, {"ell", "el"}, {"eng", "en"}, {"epo", "eo"}, {"est", "et"}, {"eus", "eu"},
    {"ewe", "ee"}, {"fao", "fo"}, {"fas", "fa"}, {"fij", "fj"}, {"fin", "fi"}, {"fra", "fr"},
    {"fre", "fr"}, {"fry", "fy"}, {"ful", "ff"}, {"geo", "ka"}, {"ger", "de"}, {"gla", "gd"},
    {"gle", "ga"}, {"glg", "gl"}, {"glv", "gv"}, {"gre", "el"}, {"grn", "gn"}, {"guj", "gu"},
    {"hat", "ht"}, {"hau", "ha"}, {"hbs", "sh"}, {"heb", "he"}, {"her", "hz"}, {"hin", "hi"},
    {"hmo", "ho"}, {"hrv", "hr"}, {"hun", "hu"}, {"hye", "hy"}, {"ibo", "ig"}, {"ice", "is"},
    {"ido", "io"}, {"iii", "ii"}, {"iku", "iu"}, {"ile", "ie"}, {"ina", "ia"}, {"ind", "id"},
    {"ipk", "ik"}, {"isl", "is"}, {"ita", "it"}, {"jav", "jv"}, {"jpn", "ja"}, {"kal", "kl"},
    {"kan", "kn"}, {"kas", "ks"}, {"kat", "ka"}, {"kau", "kr"}, {"kaz", "kk"}, {"khm", "km"},
    {"kik", "ki"}, {"kin", "rw"}, {"kir", "ky"}, {"kom", "kv"}, {"kon", "kg"}, {"kor", "ko"},
    {"kua", "kj"}, {"kur", "ku"}, {"lao", "lo"}, {"lat", "la"}, {"lav", "lv"}, {"lim", "li"},
    {"lin", "ln"}, {"lit", "lt"}, {"ltz", "lb"}, {"lub", "lu"}, {"lug", "lg"}, {"mac", "mk"},
    {"mah", "mh"}, {"mal", "ml"}, {"mao", "mi"}, {"mar", "mr"}, {"may", "ms"}, {"mkd", "mk"},
    {"mlg", "mg"}, {"mlt", "mt"}, {"mon", "mn"}, {"mri", "mi"}, {"msa", "ms"}, {"mya", "my"},
    {"nau", "na"}, {"nav", "nv"}, {"nbl", "nr"}, {"nde", "nd"}, {"ndo", "ng"}, {"nep", "ne"},
    {"nld", "nl"}, {"nno", "nn"}, {"nob", "nb"}, {"nor", "no"}, {"nya", "ny"}, {"oci", "oc"},
    {"oji", "oj"}, {"ori", "or"}, {"orm", "om"}, {"oss", "os"}, {"pan", "pa"}, {"per", "fa"},
    {"pli", "pi"}, {"pol", "pl"}, {"por", "pt"}, {"pus", "ps"}, {"que", "qu"}, {"roh", "rm"},
    {"ron", "ro"}, {"rum", "ro"}, {"run", "rn"}, {"rus", "ru"}, {"sag", "sg"}, {"san", "sa"},
    {"sin", "si"}, {"slk", "sk"}, {"slo", "sk"}, {"slv", "sl"}, {"sme", "se"}, {"smo", "sm"},
    {"sna", "sn"}, {"snd", "sd"}, {"som", "so"}, {"sot", "st"}, {"spa", "es"}, {"sqi", "sq"},
    {"srd", "sc"}, {"srp", "sr"}, {"ssw", "ss"}, {"sun", "su"}, {"swa", "sw"}, {"swe", "sv"},
    {"tah", "ty"}, {"tam", "ta"}, {"tat", "tt"}, {"tel", "te"}, {"tgk", "tg"}, {"tgl", "tl"},
    {"tha", "th"}, {"tib", "bo"}, {"tir", "ti"}, {"ton", "to"}, {"tsn", "tn"}, {"tso", "ts"},
    {"tuk", "tk"}, {"tur", "tr"}, {"twi", "tw"}, {"uig", "ug"}, {"ukr", "uk"}, {"urd", "ur"},
    {"uzb", "uz"}, {"ven", "ve"}, {"vie", "vi"}, {"vol", "vo"}, {"wel", "cy"}, {"wln", "wa"},
    {"wol", "wo"}, {"xho", "xh"}, {"yid", "yi"}, {"yor", "yo"}, {"zha", "za"}, {"zho", "zh"},
    {"zul", "zu"},
}};

std::string lowercase(std::string_view text) {
    std::string out(text);
    std::ranges::transform(out, out.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return out;
}

std::string entryKey(std::string_view layout, std::string_view variant) {
    std::string key(layout);
    if (!variant.empty()) {
        key.append("(").append(variant).append(")");
    }
    return key;
}

struct ContextDeleter {
    void operator()(rxkb_context* ctx) const { rxkb_context_unref(ctx); }
};
using Context = std::unique_ptr<rxkb_context, ContextDeleter>;

Context parsedContext(const std::string& rules) {
    // Exotic layouts too: a user who configured one should see its name.
    const auto flags = RXKB_CONTEXT_LOAD_EXOTIC_RULES;
    if (!rules.empty()) {
        Context ctx(rxkb_context_new(flags));
        if (ctx && rxkb_context_parse(ctx.get(), rules.c_str())) {
            return ctx;
        }
    }
    Context ctx(rxkb_context_new(flags));
    if (ctx && rxkb_context_parse_default_ruleset(ctx.get())) {
        return ctx;
    }
    return nullptr;
}

}  // namespace

std::string languageTagForISO639(std::string_view code) {
    const std::string lower = lowercase(code);
    const auto it = std::ranges::lower_bound(kTwoLetterCodes, std::string_view(lower), {},
                                             &std::pair<std::string_view, std::string_view>::first);
    if (it != kTwoLetterCodes.end() && it->first == lower) {
        return std::string(it->second);
    }
    return lower;
}

XkbLayoutRegistry::XkbLayoutRegistry(const std::string& rules) {
    Context ctx = parsedContext(rules);
    if (!ctx) {
        return;
    }
    for (rxkb_layout* l = rxkb_layout_first(ctx.get()); l != nullptr; l = rxkb_layout_next(l)) {
        const char* name = rxkb_layout_get_name(l);
        if (name == nullptr) {
            continue;
        }
        const char* variant = rxkb_layout_get_variant(l);
        const char* description = rxkb_layout_get_description(l);
        Entry entry;
        // Kept in English: they are the msgids of the data's translation domain, translated
        // into the interface language where they are shown (XkbNameTranslations).
        entry.description = description != nullptr && *description != '\0' ? description : name;
        for (rxkb_iso639_code* c = rxkb_layout_get_iso639_first(l); c != nullptr;
             c = rxkb_iso639_code_next(c)) {
            if (const char* code = rxkb_iso639_code_get_code(c); code != nullptr && *code) {
                std::string tag = languageTagForISO639(code);
                if (std::ranges::find(entry.languages, tag) == entry.languages.end()) {
                    entry.languages.push_back(std::move(tag));
                }
            }
        }
        entries_.emplace(entryKey(name, variant != nullptr ? variant : ""), std::move(entry));
    }
    // Variants mostly leave their language list to the layout.
    for (auto& [key, entry] : entries_) {
        const auto open = key.find('(');
        if (open == std::string::npos || !entry.languages.empty()) {
            continue;
        }
        if (const auto base = entries_.find(std::string_view(key).substr(0, open));
            base != entries_.end()) {
            entry.languages = base->second.languages;
        }
    }
}

const XkbLayoutRegistry::Entry* XkbLayoutRegistry::find(std::string_view layout,
                                                        std::string_view variant) const {
    const auto it = entries_.find(entryKey(layout, variant));
    if (it == entries_.end()) {
        return nullptr;
    }
    return &it->second;
}

}  // namespace tesvano::platform
