#include "rtfwords.h"

#include <Qt>

#include <unordered_map>

namespace rtf {

namespace {

const std::unordered_map<std::string_view, WordMeaning> &controlWords()
{
    static const std::unordered_map<std::string_view, WordMeaning> words = [] {
        std::unordered_map<std::string_view, WordMeaning> table {{"par", {Word::Par}},
            {"line", {Word::Line}}, {"tab", {Word::Tab}}, {"emdash", {Word::Symbol, 0x2014}},
            {"endash", {Word::Symbol, 0x2013}}, {"bullet", {Word::Symbol, 0x2022}},
            {"lquote", {Word::Symbol, 0x2018}}, {"rquote", {Word::Symbol, 0x2019}},
            {"ldblquote", {Word::Symbol, 0x201C}}, {"rdblquote", {Word::Symbol, 0x201D}},
            {"b", {Word::Bold}}, {"i", {Word::Italic}}, {"ul", {Word::Underline}},
            {"ulnone", {Word::UnderlineNone}}, {"strike", {Word::StrikeOut}},
            {"plain", {Word::Plain}}, {"fs", {Word::FontSize}}, {"cf", {Word::Colour}},
            {"red", {Word::Red}}, {"green", {Word::Green}}, {"blue", {Word::Blue}},
            {"colortbl", {Word::ColourTable}}, {"pard", {Word::Pard}},
            {"ql", {Word::Align, Qt::AlignLeft}}, {"qc", {Word::Align, Qt::AlignHCenter}},
            {"qr", {Word::Align, Qt::AlignRight}}, {"qj", {Word::Align, Qt::AlignJustify}},
            {"u", {Word::Unicode}}, {"uc", {Word::FallbackLength}}, {"bin", {Word::Binary}}};
        // Destinations whose content is never shown.
        for (const char *name :
            {"fonttbl", "stylesheet", "info", "pict", "header", "headerl", "headerr", "headerf",
                "footer", "footerl", "footerr", "footerf", "footnote", "fldinst", "object",
                "objdata", "themedata", "colorschememapping", "latentstyles", "datastore",
                "listtable", "listoverridetable", "rsidtbl", "generator", "filetbl", "revtbl", "pn",
                "xmlnstbl", "bkmkstart", "bkmkend", "annotation", "atnid", "atnauthor", "comment",
                "author", "operator", "title", "subject", "keywords", "doccomm", "company",
                "creatim", "revtim", "printim", "buptim", "nonshppict", "txe", "xe", "tc"})
            table.emplace(name, WordMeaning {Word::Destination});
        return table;
    }();
    return words;
}

} // namespace

WordMeaning findControlWord(std::string_view name)
{
    const auto &words = controlWords();
    const auto found = words.find(name);
    return found == words.end() ? WordMeaning {} : found->second;
}

} // namespace rtf
