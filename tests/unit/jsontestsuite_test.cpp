// Conformance of the configuration reader with the JSON parsing test suite: every file of the suite
// stands as the value of an unknown key inside an otherwise valid document, so it is skipped and
// must be valid JSON throughout. y_ files must be accepted, n_ files refused; i_ files (where RFC
// 8259 leaves the choice to the parser) must not crash, and inside the document they are judged by
// form alone: a number's size and a \u escape's pairing do not count there.
//
// Each file is also read alone, as a whole top-level text, by RapidJSON with the reader's flags.
// That guards the embedding itself: a refused file could turn valid once wrapped (say an unclosed
// object that the wrapper's closing brace completes); a file that is refused alone but accepted
// inside the document would show up as a mismatch here.
#include <gtest/gtest.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/config/config.hpp"
#include "test_support.hpp"

namespace brevlo {
namespace {

namespace fs = std::filesystem;

fs::path suite_dir() { return testing::build_machine_path(BREVLO_JSONTESTSUITE_DIR); }

struct SuiteFile {
  std::string name;
  std::string bytes;
};

// The files whose names start with prefix, in name order.
std::vector<SuiteFile> suite_files(const std::string& prefix) {
  std::vector<SuiteFile> files;
  for (const auto& entry : fs::directory_iterator(suite_dir())) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(prefix) || !name.ends_with(".json")) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files.push_back({name, {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}});
  }
  std::sort(files.begin(), files.end(),
            [](const SuiteFile& a, const SuiteFile& b) { return a.name < b.name; });
  return files;
}

// The file as the value of an unknown key, with both known keys present.
std::string embedded(const std::string& value) {
  return R"({"mainBinaryName":"a","productName":"b","x":)" + value + "}";
}

bool accepted_embedded(const std::string& value) {
  const std::string text = embedded(value);
  return parse_game_config(std::span<const char>(text.data(), text.size())).has_value();
}

// The file alone through RapidJSON with the configuration reader's flags, read to its very end
// (the reader stops at a NUL byte as at the end of its input): kParseErrorNone when accepted.
rapidjson::ParseErrorCode judged_alone(const std::string& bytes) {
  constexpr unsigned kFlags = rapidjson::kParseIterativeFlag |
                              rapidjson::kParseNumbersAsStringsFlag |
                              rapidjson::kParseValidateEncodingFlag;
  rapidjson::MemoryStream stream(bytes.data(), bytes.size());
  rapidjson::BaseReaderHandler<> handler;
  rapidjson::Reader reader;
  const rapidjson::ParseResult result = reader.Parse<kFlags>(stream, handler);
  if (result.IsError()) return result.Code();
  return stream.Tell() == bytes.size() ? rapidjson::kParseErrorNone
                                       : rapidjson::kParseErrorDocumentRootNotSingular;
}

bool accepted_alone(const std::string& bytes) {
  return judged_alone(bytes) == rapidjson::kParseErrorNone;
}

class JsonTestSuite : public ::testing::Test {
 protected:
  void SetUp() override {
    std::error_code ec;
    // scripts/jsontestsuite.sh puts the suite there; without it nothing here would be checked.
    if (!fs::is_directory(suite_dir(), ec)) {
      FAIL() << "the JSON parsing test suite is missing: no folder " BREVLO_JSONTESTSUITE_DIR
                " (bash scripts/jsontestsuite.sh build/jsontestsuite)";
    }
  }
};

TEST_F(JsonTestSuite, EveryYFileIsAccepted) {
  const auto files = suite_files("y_");
  ASSERT_FALSE(files.empty());
  for (const SuiteFile& file : files) {
    EXPECT_TRUE(accepted_alone(file.bytes)) << file.name;
    const std::string text = embedded(file.bytes);
    const auto config = parse_game_config(std::span<const char>(text.data(), text.size()));
    EXPECT_TRUE(config.has_value()) << file.name << ": " << debug_form(config.error());
  }
}

TEST_F(JsonTestSuite, EveryNFileIsRefused) {
  const auto files = suite_files("n_");
  ASSERT_FALSE(files.empty());
  for (const SuiteFile& file : files) {
    EXPECT_FALSE(accepted_alone(file.bytes)) << file.name;
    EXPECT_FALSE(accepted_embedded(file.bytes)) << file.name;
  }
}

// Alone, RapidJSON refuses a number too large for a double and an unpaired leading surrogate; in
// a skipped value neither is a fault.
TEST_F(JsonTestSuite, EveryIFileIsJudgedByFormInsideTheDocument) {
  const auto files = suite_files("i_");
  ASSERT_FALSE(files.empty());
  for (const SuiteFile& file : files) {
    const rapidjson::ParseErrorCode alone = judged_alone(file.bytes);
    const bool of_valid_form = alone == rapidjson::kParseErrorNone ||
                               alone == rapidjson::kParseErrorNumberTooBig ||
                               alone == rapidjson::kParseErrorStringUnicodeSurrogateInvalid;
    EXPECT_EQ(accepted_embedded(file.bytes), of_valid_form) << file.name;
  }
}

}  // namespace
}  // namespace brevlo
