// Replays the kept fuzz corpora: every input that ever mattered still runs clean.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "targets/targets.h"

namespace keldrin::fuzz {
namespace {

namespace fs = std::filesystem;

std::vector<std::vector<std::uint8_t>> corpus(const char* name) {
    std::vector<std::vector<std::uint8_t>> inputs;
    fs::path dir = fs::path(KELDRIN_SOURCE_DIR) / "fuzz" / "corpus" / name;
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        inputs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return inputs;
}

TEST(FuzzCorpus, ByteStreamInputsRunClean) {
    auto inputs = corpus("stream");
    ASSERT_FALSE(inputs.empty());
    for (const auto& input : inputs) streamOne(input.data(), input.size());
}

TEST(FuzzCorpus, TextToNumberInputsRunClean) {
    auto inputs = corpus("textnum");
    ASSERT_FALSE(inputs.empty());
    for (const auto& input : inputs) textToNumberOne(input.data(), input.size());
}

}  // namespace
}  // namespace keldrin::fuzz
