// brevlo-pack's command line: the option table, the usage and help made from it, and the
// record the parser fills.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "pack/options.hpp"

namespace brevlo::pack {

// A row as a failing expectation shows it.
void PrintTo(const PackOption& option, std::ostream* out) { *out << option.name; }

namespace {

// The four required options with values, in the table's order.
std::vector<std::string> required_arguments() {
  std::vector<std::string> args;
  for (const PackOption& option : pack_options()) {
    if (!is_required(option)) continue;
    args.emplace_back(option.name);
    args.emplace_back("value" + std::string(option.name));
  }
  return args;
}

bool is_flag(const PackOption& option) { return option.argument.empty(); }

// A value the option takes: a version for --version, any text for the others.
std::string sample_value(const PackOption& option) {
  return std::holds_alternative<std::optional<Version> PackToolOptions::*>(option.field)
             ? "1.2.3"
             : "value" + std::string(option.name);
}

// Whether the record holds the option as given.
bool holds(const PackToolOptions& options, const PackOption& option, const std::string& value) {
  if (const auto* field = std::get_if<std::string PackToolOptions::*>(&option.field)) {
    return options.*(*field) == value;
  }
  if (const auto* field = std::get_if<std::optional<std::string> PackToolOptions::*>(&option.field)) {
    return options.*(*field) == value;
  }
  if (const auto* field = std::get_if<std::optional<Version> PackToolOptions::*>(&option.field)) {
    return options.*(*field) && (options.*(*field))->text == value;
  }
  return options.*std::get<bool PackToolOptions::*>(option.field);
}

class PackOptionRow : public ::testing::TestWithParam<PackOption> {};

TEST_P(PackOptionRow, FlagsAndOnlyFlagsTakeNoArgument) {
  EXPECT_EQ(is_flag(GetParam()),
            std::holds_alternative<bool PackToolOptions::*>(GetParam().field));
}

TEST_P(PackOptionRow, TheUsageLineListsIt) {
  const PackOption& option = GetParam();
  std::string shown(option.name);
  if (!is_flag(option)) shown += " " + std::string(option.argument);
  if (!is_required(option)) shown = "[" + shown + "]";
  EXPECT_NE(usage_text().find(" " + shown), std::string::npos) << usage_text();
}

// Every option appears in the help: on a line of its own help when it has some, else in the
// usage line the help begins with.
TEST_P(PackOptionRow, TheHelpNamesIt) {
  const PackOption& option = GetParam();
  const std::string help = help_text();
  if (option.help.empty()) {
    EXPECT_NE(help.substr(0, help.find("\n\n")).find(option.name), std::string::npos);
    return;
  }
  EXPECT_NE(help.find("\n" + std::string(option.name)), std::string::npos);
  const std::string first_line(option.help.substr(0, option.help.find('\n')));
  EXPECT_NE(help.find(first_line), std::string::npos);
}

TEST_P(PackOptionRow, TheParserStoresItInItsField) {
  const PackOption& option = GetParam();
  std::vector<std::string> args = required_arguments();
  const std::string value = sample_value(option);
  if (!is_required(option)) {
    args.emplace_back(option.name);
    if (!is_flag(option)) args.push_back(value);
  }
  const auto command = parse_command_line(args);
  ASSERT_TRUE(command.has_value()) << command.error().text;
  const auto* options = std::get_if<PackToolOptions>(&*command);
  ASSERT_NE(options, nullptr);
  EXPECT_TRUE(holds(*options, option, is_required(option) ? "value" + std::string(option.name)
                                                          : value));
}

TEST_P(PackOptionRow, GivenTwiceIsAUsageError) {
  const PackOption& option = GetParam();
  std::vector<std::string> args = required_arguments();
  for (int i = 0; i < 2; ++i) {
    args.emplace_back(option.name);
    if (!is_flag(option)) args.push_back(sample_value(option));
  }
  const auto command = parse_command_line(args);
  ASSERT_FALSE(command.has_value());
  EXPECT_EQ(command.error(),
            (PackError{PackErrorKind::Usage, std::string(option.name) + " given twice"}));
}

INSTANTIATE_TEST_SUITE_P(EveryOption, PackOptionRow, ::testing::ValuesIn(pack_options()),
                         [](const auto& info) {
                           std::string name;
                           for (const char c : info.param.name) {
                             if (c != '-') name += c;
                           }
                           return name;
                         });

// Every option --help documents (a line that starts with "--") is one the parser accepts.
TEST(PackHelp, EveryDocumentedOptionIsAccepted) {
  std::istringstream help(help_text());
  int documented = 0;
  for (std::string line; std::getline(help, line);) {
    if (!line.starts_with("--")) continue;
    ++documented;
    const std::string name = line.substr(0, line.find(' '));
    std::vector<std::string> args = required_arguments();
    args.push_back(name);
    const auto command = parse_command_line(args);
    if (command || command.error().text != name + " needs a value") {
      EXPECT_TRUE(command.has_value()) << name << ": " << command.error().text;
      continue;
    }
    args.push_back("1.0");  // a value every option takes
    EXPECT_TRUE(parse_command_line(args).has_value()) << name;
  }
  EXPECT_GT(documented, 0);
}

TEST(PackHelp, StartsWithTheUsageLine) {
  EXPECT_TRUE(help_text().starts_with(usage_text() + "\n\n"));
  EXPECT_TRUE(help_text().ends_with("for pictures of the dialog and the splash.\n"));
}

struct ParseCase {
  const char* name;
  std::vector<std::string> args;
  PackError want;
};

class PackCommandLineMistake : public ::testing::TestWithParam<ParseCase> {};

TEST_P(PackCommandLineMistake, IsNamed) {
  const auto command = parse_command_line(GetParam().args);
  ASSERT_FALSE(command.has_value());
  EXPECT_EQ(command.error(), GetParam().want);
}

const ParseCase kMistakes[] = {
    {"Empty", {}, {PackErrorKind::NoCommand, ""}},
    {"HelpWithMore", {"--help", "--json"}, {PackErrorKind::Usage, "unknown argument --help"}},
    {"UnknownBeforeMissing", {"--bogus"}, {PackErrorKind::Usage, "unknown argument --bogus"}},
    {"MissingInTableOrder", {"--out", "o"}, {PackErrorKind::Usage, "missing --stub"}},
    {"VersionAfterUsage",
     {"--version", "1.x", "--stub", "s", "--config", "c", "--installer", "i", "--out", "o"},
     {PackErrorKind::Version,
      "--version 1.x is not 1 to 4 numbers from 0 to 65535 separated by dots"}},
    {"InspectWithoutLauncher", {"inspect", "--json"},
     {PackErrorKind::Usage, "inspect needs a launcher"}},
    {"InspectJsonTwice", {"inspect", "--json", "--json", "a"},
     {PackErrorKind::Usage, "inspect takes [--json] and one launcher, not --json"}},
    {"InspectTwoLaunchers", {"inspect", "a", "b"},
     {PackErrorKind::Usage, "inspect takes [--json] and one launcher, not b"}},
};

INSTANTIATE_TEST_SUITE_P(Rows, PackCommandLineMistake, ::testing::ValuesIn(kMistakes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PackCommandLine, InspectReadsJsonAndTheLauncher) {
  const std::vector<std::string> args{"inspect", "--json", "L.exe"};
  const auto command = parse_command_line(args);
  ASSERT_TRUE(command.has_value());
  const auto* inspect = std::get_if<InspectOptions>(&*command);
  ASSERT_NE(inspect, nullptr);
  EXPECT_TRUE(inspect->json);
  EXPECT_EQ(inspect->launcher, "L.exe");
}

}  // namespace
}  // namespace brevlo::pack
