// Step 1 (the main module's mark) and step 2 (module prefixes).
#include <string>
#include <unordered_map>

#include "postparse/post_parse.h"
#include "support/diagnostics.h"

namespace qrv {

namespace {

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter_or_digit(char c) { return is_letter(c) || is_digit(c); }
bool is_lower_vowel(char c) { return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u'; }

// How many prefixes of earlier modules each base matches. A prefix matches
// a base when it is the base, zero or more digits and one "_"; so a prefix
// "a12_" counts for the bases "a12", "a1" and "a".
class prefix_counts {
public:
    int matches(const std::string& base) const {
        auto it = counts_.find(base);
        return it == counts_.end() ? 0 : it->second;
    }

    void add(std::string_view prefix) {
        if (prefix.empty() || prefix.back() != '_') return;
        std::string_view stem = prefix.substr(0, prefix.size() - 1);
        std::size_t digits_from = stem.size();
        while (digits_from > 0 && is_digit(stem[digits_from - 1])) --digits_from;
        for (std::size_t end = digits_from; end <= stem.size(); ++end) {
            ++counts_[std::string(stem.substr(0, end))];
        }
    }

private:
    std::unordered_map<std::string, int> counts_;
};

}  // namespace

void mark_main_module(element* first) {
    for (element* e = first; e != nullptr; e = e->next()) e->in_main_module = true;
}

bool prefix_from_module_name(const module_record& module, std::string& base) {
    base.clear();
    std::string_view s = module.name.view();
    if (s.empty()) return false;
    std::size_t i = 0;
    if (s[0] == '+') {
        base += '_';
        i = 1;
    }
    if (i < s.size()) base += s[i++];
    for (; i < s.size(); ++i) {
        char c = s[i];
        if (c == '.' && i + 1 < s.size() && is_letter(s[i + 1])) {
            base += s[i + 1];
        } else if (is_digit(c)) {
            base += c;
        }
    }
    return true;
}

bool prefix_from_first_element(const module_record& module, std::string& base) {
    base.clear();
    if (module.elements == nullptr) return false;
    std::string_view s = module.elements->c_name().view();
    if (s.empty()) return true;
    base += s[0];
    int written = 1;
    bool after_other = false;  // the previous character was no letter or digit
    for (std::size_t i = 1; i < s.size() && written < 4; ++i) {
        char c = s[i];
        if (is_letter_or_digit(c) && !(is_lower_vowel(c) && !after_other)) {
            base += c;
            ++written;
        }
        after_other = !is_letter_or_digit(c);
    }
    return true;
}

void derive_prefixes(run_context& run, diagnostics& diag) {
    prefix_counts earlier;
    std::string base;
    for (module_record* m = run.modules; m != nullptr; m = m->next) {
        if (!m->has_prefix) {
            if (prefix_from_module_name(*m, base) || prefix_from_first_element(*m, base)) {
                int count = 1 + earlier.matches(base);
                if (count > 1) base += std::to_string(count);
                base += '_';
                m->prefix = make_text(run, base);
                m->has_prefix = true;
            } else {
                report(diag, SEV_ERROR,
                       "Error: Unable to derive prefix for module contained in: %s\n",
                       m->path.c_str());
            }
        }
        if (m->has_prefix) earlier.add(m->prefix.view());
    }
}

}  // namespace qrv
