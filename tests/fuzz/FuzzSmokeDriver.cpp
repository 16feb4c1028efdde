// Runs a libFuzzer-style target without libFuzzer: every file of a corpus
// directory, then N seeded pseudo-random inputs (mutated corpus files and raw noise).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    long runs = argc > 1 ? std::atol(argv[1]) : 10000;
    std::vector<std::vector<uint8_t>> corpus;
    if (argc > 2 && std::filesystem::is_directory(argv[2])) {
        for (const auto& entry : std::filesystem::directory_iterator(argv[2])) {
            std::ifstream in(entry.path(), std::ios::binary);
            corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    for (const auto& input : corpus) LLVMFuzzerTestOneInput(input.data(), input.size());

    std::mt19937 rng(12345);
    std::vector<uint8_t> buf;
    for (long i = 0; i < runs; ++i) {
        if (!corpus.empty() && (i & 1)) {
            buf = corpus[rng() % corpus.size()];
            int flips = 1 + static_cast<int>(rng() % 8);
            for (int f = 0; f < flips && !buf.empty(); ++f) buf[rng() % buf.size()] = static_cast<uint8_t>(rng());
            if (rng() % 4 == 0) buf.resize(rng() % (buf.size() + 16));
        } else {
            buf.resize(rng() % 2100);
            for (auto& b : buf) b = static_cast<uint8_t>(rng() % 4 == 0 ? rng() % 8 : rng());
        }
        LLVMFuzzerTestOneInput(buf.data(), buf.size());
    }
    std::printf("%zu corpus inputs, %ld random inputs: no fault\n", corpus.size(), runs);
    return 0;
}
