// Replays the kept fuzz corpora through the fuzz targets themselves, their checks
// included: every input that ever mattered still runs clean.
#include <gtest/gtest.h>

#include <algorithm>
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

TEST(FuzzCorpus, TableFileInputsRunClean) {
    auto inputs = corpus("table_file");
    ASSERT_FALSE(inputs.empty());
    // One at least is large enough to be taken over rather than copied when read.
    EXPECT_TRUE(std::any_of(inputs.begin(), inputs.end(), [](const auto& i) { return i.size() >= 64 * 1024; }));
    for (const auto& input : inputs) tableFileOne(input.data(), input.size());
}

TEST(FuzzCorpus, CsvExportInputsRunClean) {
    auto inputs = corpus("csv_export");
    ASSERT_FALSE(inputs.empty());
    for (const auto& input : inputs) csvExportOne(input.data(), input.size());
}

TEST(FuzzCorpus, RowPayloadInputsRunClean) {
    auto inputs = corpus("row_payload");
    ASSERT_FALSE(inputs.empty());
    for (const auto& input : inputs) rowPayloadOne(input.data(), input.size());
}

TEST(FuzzCorpus, JournalInputsRunClean) {
    auto inputs = corpus("journal");
    ASSERT_FALSE(inputs.empty());
    for (const auto& input : inputs) journalOne(input.data(), input.size());
}

}  // namespace
}  // namespace keldrin::fuzz
