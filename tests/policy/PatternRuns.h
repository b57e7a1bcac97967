// The key-run pattern itself, run by PCRE2 (which has look-behind): the reference the run scanner
// is held to, by the differential test and the fuzz target.
#pragma once
#define PCRE2_CODE_UNIT_WIDTH 8
#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"

#include <memory>
#include <optional>
#include <pcre2.h>
#include <string>
#include <string_view>
#include <vector>

namespace cpi {

class PatternRuns {
public:
    PatternRuns() : utf_(compile(PCRE2_UTF)), bytes_(compile(0)) {}
    ~PatternRuns() {
        pcre2_code_free(utf_);
        pcre2_code_free(bytes_);
    }
    PatternRuns(const PatternRuns&) = delete;
    PatternRuns& operator=(const PatternRuns&) = delete;

    bool compiled() const { return utf_ != nullptr && bytes_ != nullptr; }

    // Every non-overlapping match, left to right: on characters when the text is UTF-8, on bytes
    // otherwise. Match offsets are code units (bytes) either way. Absent when PCRE2 fails.
    std::optional<std::vector<std::string>> operator()(std::string_view text) const {
        std::vector<std::string> runs;
        if (collect(utf_, text, runs) == Outcome::done) {
            return runs;
        }
        runs.clear();
        if (collect(bytes_, text, runs) == Outcome::done) {
            return runs;
        }
        return std::nullopt;
    }

private:
    enum class Outcome { done, notUtf8, failed };

    static pcre2_code* compile(uint32_t options) {
        int error = 0;
        PCRE2_SIZE offset = 0;
        const std::string_view pattern = ChromePrivateInputPolicy::keyRunPattern;
        pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                         options, &error, &offset, nullptr);
        if (code != nullptr) {
            pcre2_jit_compile(code, PCRE2_JIT_COMPLETE); // only for speed; falls back when unavailable
        }
        return code;
    }

    static Outcome collect(pcre2_code* code, std::string_view text, std::vector<std::string>& runs) {
        const std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> match(
            pcre2_match_data_create_from_pattern(code, nullptr), &pcre2_match_data_free);
        const auto* subject = reinterpret_cast<PCRE2_SPTR>(text.data());
        for (PCRE2_SIZE start = 0;;) {
            const int rc = pcre2_match(code, subject, text.size(), start, start == 0 ? 0 : PCRE2_NO_UTF_CHECK,
                                       match.get(), nullptr);
            if (rc == PCRE2_ERROR_NOMATCH) {
                return Outcome::done;
            }
            if (rc <= PCRE2_ERROR_UTF8_ERR1 && rc >= PCRE2_ERROR_UTF8_ERR21) {
                return Outcome::notUtf8;
            }
            if (rc < 0) {
                return Outcome::failed;
            }
            const PCRE2_SIZE* range = pcre2_get_ovector_pointer(match.get());
            runs.emplace_back(text.substr(range[0], range[1] - range[0]));
            start = range[1];
        }
    }

    pcre2_code* utf_;
    pcre2_code* bytes_;
};

} // namespace cpi
