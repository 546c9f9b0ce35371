#include "velmark/lib/TranslationMatch.h"

#include "velmark/lib/Failure.h"
#include "formats/common/Printable.h"

#include <map>

namespace velmark::cli {
namespace {

// Contexts shown in a warning before "and N more".
constexpr size_t kShown = 5;

std::string nameOf(const PoEntry& e) {
    std::string line = e.line ? "line " + std::to_string(e.line) : "";
    if (!e.context) return line + (line.empty() ? "" : " ") + "(no msgctxt)";
    return velmark::quoted(*e.context) + (line.empty() ? "" : " (" + line + ")");
}

std::string listOf(const std::vector<const PoEntry*>& entries) {
    std::string out;
    for (size_t i = 0; i < entries.size() && i < kShown; ++i) out += (i ? ", " : "") + nameOf(*entries[i]);
    if (entries.size() > kShown) out += " and " + std::to_string(entries.size() - kShown) + " more";
    return out;
}

std::string count(size_t n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

}  // namespace

MatchedTranslations matchTranslations(const std::vector<PoEntry>& entries, const std::vector<CatalogText>& places,
                                      const std::string& poPath, const std::string& exePath) {
    std::map<std::string, const CatalogText*> byContext;
    for (const CatalogText& place : places) byContext[place.context] = &place;

    MatchedTranslations result;
    std::vector<const PoEntry*> stale, unknown;
    size_t refused = 0;
    // By the context that stands for the bytes (the first of the places sharing them).
    std::map<std::string, const PoEntry*> chosen;
    for (const PoEntry& entry : entries) {
        auto found = entry.context ? byContext.find(*entry.context) : byContext.end();
        if (found == byContext.end()) {
            unknown.push_back(&entry);
            continue;
        }
        const CatalogText& place = *found->second;
        if (entry.source != place.text) {
            stale.push_back(&entry);
            continue;
        }
        const std::string at = poPath + (entry.line ? ":" + std::to_string(entry.line) : "") + ": ";
        if (entry.translation.size() > place.maxLength)
            throw Failure(at + "the translation of " + velmark::quoted(place.context) + " has " +
                          std::to_string(entry.translation.size()) + " characters; its place holds at most " +
                          std::to_string(place.maxLength));
        if (std::optional<std::string> problem = printfProblem(place.text, entry.translation)) {
            result.warnings.push_back(at + "warning: " + velmark::quoted(place.context) + " left untranslated: " + *problem);
            ++refused;
            continue;
        }
        const std::string& owner = place.sharedWith.empty() ? place.context : place.sharedWith;
        auto [other, fresh] = chosen.insert({owner, &entry});
        if (!fresh && other->second->translation != entry.translation)
            throw Failure(at + velmark::quoted(place.context) + " and " + nameOf(*other->second) +
                          " are one template in " + exePath + ", but are translated differently");
    }
    for (const CatalogText& place : places) {
        auto it = chosen.find(place.sharedWith.empty() ? place.context : place.sharedWith);
        if (it != chosen.end()) result.use[place.context] = it->second->translation;
    }
    if (!stale.empty())
        result.warnings.push_back(poPath + ": warning: " + count(stale.size(), "entry", "entries") +
                                  " not used, stale (the msgid is no longer the text in " + exePath +
                                  "): " + listOf(stale));
    if (!unknown.empty())
        result.warnings.push_back(poPath + ": warning: " + count(unknown.size(), "entry", "entries") +
                                  " not used, naming no place in " + exePath + ": " + listOf(unknown));
    if (result.use.empty())
        throw Failure(poPath + ": translates nothing of " + exePath + " (" +
                          count(entries.size(), "translated entry", "translated entries") + ": " +
                          std::to_string(stale.size()) + " stale, " + std::to_string(unknown.size()) + " unknown, " +
                          std::to_string(refused) + " with other printf directives)",
                      FailureKind::CheckFailed, result.warnings);
    return result;
}

}  // namespace velmark::cli
