// The brevlo-pack command as a publisher runs it: exit status and both streams exactly, the output
// whole or absent.
#include "pack_test_support.hpp"

namespace brevlo::pack {
namespace pack_test {
namespace {


TEST_F(PackTool, WritesTheLauncherSilentlyAndLeavesNothingElse) {
  EXPECT_EQ(run(command()), ToolOutcome{});
  EXPECT_EQ(read_file(dir_ / "Ostrevan.exe"), packed_bytes(inputs_));
  EXPECT_EQ(folder_listing(dir_),
            (std::vector<std::string>{"Ostrevan.exe", "game.json", "setup.exe", "stub.exe"}));
}

TEST_F(PackTool, ReplacesAnExistingOutputAndTakesItsOwnOutputAsStub) {
  write_file(dir_ / "Ostrevan.exe", bytes_of("old launcher"));
  auto args = command();
  args.insert(args.end(), {"--product-name", "奥斯特万", "--version", "1.2"});
  ASSERT_EQ(run(args), ToolOutcome{});
  const ByteVec first = read_file(dir_ / "Ostrevan.exe");
  args[1] = path("Ostrevan.exe");
  ASSERT_EQ(run(args), ToolOutcome{});
  EXPECT_EQ(read_file(dir_ / "Ostrevan.exe"), first);
  Inputs in = inputs_;
  in.branding.product_name = "奥斯特万";
  in.branding.version = Version{"1.2", {1, 2, 0, 0}};
  EXPECT_EQ(first, packed_bytes(in));
}

TEST_F(PackTool, RefusalLeavesTheOutputAsItWas) {
  write_file(dir_ / "game.json", bytes_of("{}"));
  write_file(dir_ / "Ostrevan.exe", bytes_of("old launcher"));
  EXPECT_EQ(run(command()),
            refused(1, "无法解析 game.json: Error(\"missing field `mainBinaryName`\", line: 1, "
                       "column: 2)"));
  EXPECT_EQ(read_file(dir_ / "Ostrevan.exe"), bytes_of("old launcher"));
  EXPECT_EQ(folder_listing(dir_),
            (std::vector<std::string>{"Ostrevan.exe", "game.json", "setup.exe", "stub.exe"}));
}

TEST_F(PackTool, EachRefusalLineNamesTheFile) {
  write_file(dir_ / "notes.txt", bytes_of("not an executable, 32 bytes long"));
  write_file(dir_ / "game.ico", from_hex("000002000100"));
  auto args = command();
  args[5] = path("notes.txt");
  EXPECT_EQ(run(args), refused(1, "brevlo-pack: " + path("notes.txt") +
                                      " is not a Windows executable: only 32 bytes"));
  args = command();
  args[1] = path("setup.exe");
  EXPECT_EQ(run(args), refused(1, "brevlo-pack: " + path("setup.exe") +
                                      " is not a brevlo stub: machine 0xE4DD, not x64 (0x8664)"));
  args = command();
  args.insert(args.end(), {"--icon", path("game.ico")});
  EXPECT_EQ(run(args), refused(1, "brevlo-pack: " + path("game.ico") +
                                      " is not a valid .ico: its header's type is 2, not 1 (icon)"));
  args = command();
  args.insert(args.end(), {"--version", "1.2.3.4.5"});
  EXPECT_EQ(run(args), refused(1, "brevlo-pack: --version 1.2.3.4.5 is not 1 to 4 numbers from 0 "
                                  "to 65535 separated by dots"));
  // An installer over 2 GiB, told from its size: the file is sparse past its headers.
  write_file(dir_ / "big.exe", inputs_.installer);
  fs::resize_file(dir_ / "big.exe", (std::uint64_t{1} << 31) + 1);
  args = command();
  args[5] = path("big.exe");
  EXPECT_EQ(run(args), refused(1, "brevlo-pack: " + path("big.exe") +
                                      " is too large: 2147483649 bytes, more than the 2147483648 "
                                      "(2 GiB) an installer may have"));
  write_file(dir_ / "splash.png", kPngGrey);
  args = command();
  args.insert(args.end(), {"--splash", path("splash.png")});
  EXPECT_EQ(run(args), refused(1, "brevlo-pack: " + path("splash.png") +
                                      " is not a usable splash image: its colour type is 0; a "
                                      "splash is truecolour, with or without alpha, or palette"));
  EXPECT_FALSE(fs::exists(dir_ / "Ostrevan.exe"));
}

TEST_F(PackTool, UnreadableInputsAndUnwritableOutputExitWith2) {
  auto args = command();
  args[3] = path("missing.json");
  EXPECT_EQ(run(args), refused(2, "brevlo-pack: cannot read " + path("missing.json") + ": " +
                                      missing_reason(false)));
  args = command("no such folder/Ostrevan.exe");
  EXPECT_EQ(run(args), refused(2, "brevlo-pack: cannot write " + path("no such folder/Ostrevan.exe") +
                                      ": " + missing_reason(true)));
  EXPECT_EQ(folder_listing(dir_), (std::vector<std::string>{"game.json", "setup.exe", "stub.exe"}));
}

// Options before the command line's required ones; "SPLASH" stands for the splash image's path.
struct RecordedRow {
  const char* name;
  std::vector<std::string> flags;
  bool failure_dialog, support_log, branded_name, splash;
};

const RecordedRow kRecordedRows[] = {
    {"None", {}, false, false, false, false},
    {"FailureDialog", {"--failure-dialog"}, true, false, false, false},
    {"SupportLog", {"--support-log"}, false, true, false, false},
    {"BothFlags", {"--support-log", "--failure-dialog"}, true, true, false, false},
    {"CjkProductName", {"--product-name", "奥斯特雷文"}, false, false, true, false},
    {"DialogAndProductName", {"--failure-dialog", "--product-name", "Ostrevan"}, true, false, true,
     false},
    {"FileDescriptionOnly", {"--file-description", "Ostrevan"}, false, false, false, false},
    {"Splash", {"--splash", "SPLASH"}, false, false, false, true},
    {"SplashAndDialog", {"--splash", "SPLASH", "--failure-dialog"}, true, false, false, true},
};

class PackToolRecorded : public PackTool, public ::testing::WithParamInterface<RecordedRow> {};

TEST_P(PackToolRecorded, OptionsAreRecordedInTheirSection) {
  const RecordedRow& row = GetParam();
  write_file(dir_ / "splash.png", kPngRgba);
  std::vector<std::string> args;
  for (const std::string& flag : row.flags) {
    args.push_back(flag == "SPLASH" ? path("splash.png") : flag);
  }
  const auto rest = command();
  args.insert(args.end(), rest.begin(), rest.end());
  ASSERT_EQ(run(args), ToolOutcome{});
  const ByteVec out = read_file(dir_ / "Ostrevan.exe");
  const auto table = section_table(out);
  const auto section = std::ranges::find_if(
      table, [](const SectionHeader& h) { return section_name(h) == ".brvopt"; });
  ASSERT_NE(section, table.end());
  const auto options = decode_pack_options(
      std::span(out).subspan(section->PointerToRawData, section->VirtualSize));
  ASSERT_TRUE(options.has_value());
  EXPECT_EQ(std::tuple(options->failure_dialog, options->support_log, options->branded_name,
                       options->splash),
            std::tuple(row.failure_dialog, row.support_log, row.branded_name, row.splash));
}

INSTANTIATE_TEST_SUITE_P(Rows, PackToolRecorded, ::testing::ValuesIn(kRecordedRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PackTool, AFlagGivenTwiceIsAUsageError) {
  auto args = command();
  args.push_back("--support-log");
  args.push_back("--support-log");
  EXPECT_EQ(run(args), refused(2, "brevlo-pack: --support-log given twice; brevlo-pack --help "
                                  "shows the usage"));
}


TEST_F(PackTool, InspectExitStatuses) {
  ASSERT_EQ(run(command()), ToolOutcome{});
  const auto facts = inspect_launcher(read_file(dir_ / "Ostrevan.exe"));
  ASSERT_TRUE(facts.has_value()) << facts.error();
  EXPECT_EQ(run({"inspect", path("Ostrevan.exe")}), (ToolOutcome{0, facts_text(*facts), ""}));
  EXPECT_EQ(run({"inspect", "--json", path("Ostrevan.exe")}),
            (ToolOutcome{0, facts_json(*facts), ""}));
  EXPECT_EQ(run({"inspect", path("stub.exe")}),
            refused(1, "brevlo-pack: " + path("stub.exe") +
                           ": not a packed launcher: it lacks a .brvcfg, .brvimg or .brvopt "
                           "section (a bare stub?)"));
  EXPECT_EQ(run({"inspect", path("missing.exe")}),
            refused(2, "brevlo-pack: cannot read " + path("missing.exe") + ": " + missing_reason(false)));
  EXPECT_EQ(run({"inspect"}).status, 2);
  EXPECT_EQ(run({"inspect", "--json", "--json", path("Ostrevan.exe")}).status, 2);
}


// The usage line as a publisher reads it.
const std::string kUsageLine =
    "usage: brevlo-pack --stub STUB.exe --config game.json --installer SETUP.exe --out OUT.exe "
    "[--icon ICON.ico] [--product-name TEXT] [--file-description TEXT] [--version A[.B[.C[.D]]]] "
    "[--failure-dialog] [--support-log] [--splash IMAGE.png]\n"
    "       brevlo-pack inspect [--json] LAUNCHER.exe";

struct MistakeCase {
  const char* name;
  std::size_t kept;                // how many arguments of the full command line stay (kAll: all)
  std::vector<std::string> added;  // after them
  ToolOutcome outcome;
};

constexpr std::size_t kAll = 8;
const std::string kSeeHelp = "; brevlo-pack --help shows the usage\n";

class PackToolMistake : public PackTool, public ::testing::WithParamInterface<MistakeCase> {};

TEST_P(PackToolMistake, IsReportedAndWritesNothing) {
  const MistakeCase& c = GetParam();
  std::vector<std::string> args = command();
  ASSERT_EQ(args.size(), kAll);
  args.resize(c.kept);
  args.insert(args.end(), c.added.begin(), c.added.end());
  const ToolOutcome want = c.outcome.status == 0 ? ToolOutcome{0, help_text(), ""} : c.outcome;
  EXPECT_EQ(run(args), want);
  EXPECT_FALSE(fs::exists(dir_ / "Ostrevan.exe"));
}

const MistakeCase kMistakes[] = {
    {"NoArguments", 0, {}, {2, "", kUsageLine + "\n"}},
    {"Help", 0, {"--help"}, {0, "", ""}},  // the help on standard output
    {"UnknownArgument", kAll, {"--verbose"},
     {2, "", "brevlo-pack: unknown argument --verbose" + kSeeHelp}},
    {"OptionWithoutItsValue", kAll, {"--icon"},
     {2, "", "brevlo-pack: --icon needs a value" + kSeeHelp}},
    {"OptionGivenTwice", kAll, {"--stub", "again.exe"},
     {2, "", "brevlo-pack: --stub given twice" + kSeeHelp}},
    {"MissingOut", 6, {}, {2, "", "brevlo-pack: missing --out" + kSeeHelp}},
};

INSTANTIATE_TEST_SUITE_P(Rows, PackToolMistake, ::testing::ValuesIn(kMistakes),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pack_test
}  // namespace brevlo::pack
