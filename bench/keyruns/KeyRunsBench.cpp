// keyRuns against PCRE2 with its JIT running the key-run pattern, on the same texts:
//   page/1MiB       one MiB of page-like text with a few keys,
//   stretch/1MiB    one MiB made of a single stretch of key characters,
//   page/64KiB...4MiB  the page text at four sizes, to show how the cost grows.
// Both sides return the runs as strings.
#define PCRE2_CODE_UNIT_WIDTH 8
#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"

#include <benchmark/benchmark.h>
#include <memory>
#include <pcre2.h>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using cpi::ChromePrivateInputPolicy;

constexpr std::size_t kib = 1024;
constexpr std::size_t mib = 1024 * kib;
constexpr std::string_view keyCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";

std::string keyStretch(std::size_t length, std::mt19937& random) {
    std::uniform_int_distribution<std::size_t> pick(0, keyCharacters.size() - 1);
    std::string out(length, ' ');
    for (char& c : out) {
        c = keyCharacters[pick(random)];
    }
    return out;
}

// Text as a settings or dashboard page shows it: words, numbers, links, paths, query strings,
// some non-ASCII words, line breaks, and one key line in about every 128 KiB.
std::string pageText(std::size_t size) {
    static const std::vector<std::string> words{
        "the",
        "API",
        "keys",
        "project",
        "settings",
        "of",
        "and",
        "Create",
        "new",
        "secret",
        "usage",
        "billing",
        "limits",
        "members",
        "Organization",
        "default",
        "to",
        "Revoke",
        "last",
        "used",
        "never",
        "created",
        "by",
        "permissions",
        "read-only",
        "write",
        "caf\u00E9",
        "Gr\u00FC\u00DFe",
        "\u65E5\u672C\u8A9E",
        "2024-05-17",
        "12:30",
        "42",
        "v1.2.3",
        "user_id",
        "e-mail",
        "a",
        "is",
        "in",
        "for",
        "docs",
        "Learn",
        "more",
        "(beta)",
    };
    static const std::vector<std::string> links{
        "https://platform.example.com/settings/organization/api-keys?tab=project&sort=created",
        "/v1/chat/completions",
        "docs.example.com/guides/authentication.",
        "user@example.com",
        "token=3f9a1c0d7e",
        "#section-2",
        "Bearer",
        "README.md",
    };
    std::mt19937 random(20240517);
    std::uniform_int_distribution<std::size_t> pickWord(0, words.size() - 1);
    std::uniform_int_distribution<std::size_t> pickLink(0, links.size() - 1);
    std::uniform_int_distribution<int> roll(0, 99);
    std::string text;
    text.reserve(size + 256);
    std::size_t nextKey = 4 * kib;
    while (text.size() < size) {
        if (text.size() >= nextKey) {
            text += "\nYour new key: sk-proj-" + keyStretch(48, random) + "\nCopy it now.\n";
            nextKey += 128 * kib;
        }
        const int r = roll(random);
        text += r < 6 ? links[pickLink(random)] : words[pickWord(random)];
        text += r < 80 ? " " : (r < 90 ? ", " : (r < 96 ? ".\n" : ": "));
    }
    // Cut back to a character boundary, then pad with spaces to the exact size.
    std::size_t cut = size;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    text.resize(cut);
    text.append(size - cut, ' ');
    return text;
}

class Pcre2Jit {
public:
    Pcre2Jit() {
        int error = 0;
        PCRE2_SIZE offset = 0;
        const std::string_view pattern = ChromePrivateInputPolicy::keyRunPattern;
        code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), PCRE2_UTF, &error,
                              &offset, nullptr);
        if (code_ == nullptr || pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE) != 0) {
            throw std::runtime_error("PCRE2 JIT unavailable");
        }
        match_ = pcre2_match_data_create_from_pattern(code_, nullptr);
    }
    ~Pcre2Jit() {
        pcre2_match_data_free(match_);
        pcre2_code_free(code_);
    }
    Pcre2Jit(const Pcre2Jit&) = delete;
    Pcre2Jit& operator=(const Pcre2Jit&) = delete;

    std::vector<std::string> runs(std::string_view text) const {
        std::vector<std::string> found;
        const auto* subject = reinterpret_cast<PCRE2_SPTR>(text.data());
        PCRE2_SIZE start = 0;
        while (pcre2_match(code_, subject, text.size(), start, PCRE2_NO_UTF_CHECK, match_, nullptr) > 0) {
            const PCRE2_SIZE* range = pcre2_get_ovector_pointer(match_);
            found.emplace_back(text.substr(range[0], range[1] - range[0]));
            start = range[1];
        }
        return found;
    }

private:
    pcre2_code* code_ = nullptr;
    pcre2_match_data* match_ = nullptr;
};

void runScanner(benchmark::State& state, const std::string& text) {
    std::size_t runs = 0;
    for (auto _ : state) {
        std::vector<std::string> found = ChromePrivateInputPolicy::keyRuns(text);
        runs = found.size();
        benchmark::DoNotOptimize(found.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["runs"] = static_cast<double>(runs);
}

void runPcre2(benchmark::State& state, const std::string& text) {
    static const Pcre2Jit engine;
    std::size_t runs = 0;
    for (auto _ : state) {
        std::vector<std::string> found = engine.runs(text);
        runs = found.size();
        benchmark::DoNotOptimize(found.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["runs"] = static_cast<double>(runs);
}

std::string sizeName(std::size_t size) {
    return size >= mib ? std::to_string(size / mib) + "MiB" : std::to_string(size / kib) + "KiB";
}

void registerPair(const std::string& name, const std::string& text) {
    benchmark::RegisterBenchmark(("keyRuns/" + name).c_str(), runScanner, text);
    benchmark::RegisterBenchmark(("pcre2Jit/" + name).c_str(), runPcre2, text);
}

} // namespace

int main(int argc, char** argv) {
    std::mt19937 random(4096);
    registerPair("page/1MiB", pageText(mib));
    registerPair("stretch/1MiB", keyStretch(mib, random));
    for (const std::size_t size : {64 * kib, 256 * kib, mib, 4 * mib}) {
        registerPair("growth/" + sizeName(size), pageText(size));
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
