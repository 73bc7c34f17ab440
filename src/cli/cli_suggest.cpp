#include "cli/cli_suggest.h"

#include <algorithm>
#include <utility>

#include "util/text.h"

namespace cli {

namespace {

std::u32string decode(std::string_view text) {
    std::u32string chars;
    for (std::size_t pos = 0; pos < text.size();) {
        auto c = util::decode_utf8(text, pos);
        chars.push_back(c.value);
        pos += c.length;
    }
    return chars;
}

}  // namespace

double jaro_similarity(std::string_view a_text, std::string_view b_text) {
    const std::u32string a = decode(a_text);
    const std::u32string b = decode(b_text);
    if (a.empty() && b.empty()) return 1.0;
    if (a.empty() || b.empty()) return 0.0;

    // Characters match when equal and no further apart than this.
    std::size_t window = std::max(a.size(), b.size()) / 2;
    window = window > 0 ? window - 1 : 0;

    std::vector<bool> a_matched(a.size()), b_matched(b.size());
    std::size_t matches = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        std::size_t lo = i > window ? i - window : 0;
        std::size_t hi = std::min(b.size(), i + window + 1);
        for (std::size_t j = lo; j < hi; ++j) {
            if (!b_matched[j] && a[i] == b[j]) {
                a_matched[i] = b_matched[j] = true;
                ++matches;
                break;
            }
        }
    }
    if (matches == 0) return 0.0;

    std::size_t out_of_order = 0;
    for (std::size_t i = 0, j = 0; i < a.size(); ++i) {
        if (!a_matched[i]) continue;
        while (!b_matched[j]) ++j;
        if (a[i] != b[j]) ++out_of_order;
        ++j;
    }
    const double m = static_cast<double>(matches);
    const double transpositions = static_cast<double>(out_of_order / 2);
    return (m / static_cast<double>(a.size()) + m / static_cast<double>(b.size()) +
            (m - transpositions) / m) /
           3.0;
}

std::vector<std::string> similar_names(std::string_view typed, const std::vector<std::string>& candidates) {
    std::vector<std::pair<double, std::string>> scored;
    for (const auto& candidate : candidates) {
        double score = jaro_similarity(typed, candidate);
        if (score > 0.7) scored.emplace_back(score, candidate);
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    std::vector<std::string> names;
    for (auto& [score, name] : scored) names.push_back(std::move(name));
    return names;
}

}  // namespace cli
