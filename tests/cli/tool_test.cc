// SPDX-License-Identifier: MIT
// The tool as a user meets it: the built binary in real processes, with its
// exit codes, its output and its messages.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/utf8.h"
#include "tests/cli/tool_runner.h"
#include "tests/support/temp_dir.h"

namespace tarvelin::testing {
namespace {

constexpr std::uint64_t M = 1048576;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

class Tool : public ::testing::Test {
 protected:
  // A path in the scratch folder, as the UTF-8 argument a user types.
  std::string Path(const std::string& name) const {
    return WideToUtf8(dir_.path()) + "/" + name;
  }
  std::wstring Wide(const std::string& name) const { return Utf8ToWide(Path(name)); }
  // Writes `size` pattern bytes to `name` and returns them.
  std::string MakeFile(const std::string& name, std::uint64_t size, std::uint32_t seed = 1) {
    std::string bytes = PatternBytes(size, seed);
    WriteFileBytes(Wide(name), bytes);
    return bytes;
  }
  bool Exists(const std::string& name) const { return FileExists(Wide(name)); }
  // Damages one byte in the middle of `name`.
  void Damage(const std::string& name) {
    std::string bytes = ReadFileBytes(Wide(name));
    bytes[bytes.size() / 2] ^= 0x20;
    WriteFileBytes(Wide(name), bytes);
  }

  TempDir dir_;
};

TEST_F(Tool, SplitVerifyMergeRestoresTheFile) {
  const std::string original = MakeFile("disk.img", 5 * M + 3);
  const std::string disk = Path("disk.img");

  const ToolRun split = RunTool({"split", disk, "--size", "2M"});
  ASSERT_EQ(0, split.exit_code) << split.err;
  EXPECT_EQ("", split.err);
  EXPECT_TRUE(Contains(split.out, "cut into 3 pieces of at most 2 MiB")) << split.out;
  EXPECT_FALSE(Exists("disk.img"));
  EXPECT_TRUE(Exists("disk.0") && Exists("disk.1") && Exists("disk.2") && Exists("disk.DAT"));
  EXPECT_FALSE(Exists("disk.3"));

  const ToolRun verify = RunTool({"verify", disk});
  ASSERT_EQ(0, verify.exit_code) << verify.err;
  EXPECT_EQ(Path("disk.0") + ": OK\n" + Path("disk.1") + ": OK\n" + Path("disk.2") + ": OK\n" +
                disk + " (pieces joined): OK\n" + disk + ": a merge would succeed\n",
            verify.out);
  EXPECT_EQ("", verify.err);

  const ToolRun merge = RunTool({"merge", disk});
  ASSERT_EQ(0, merge.exit_code) << merge.err;
  EXPECT_TRUE(Contains(merge.out, "rebuilt from 3 pieces")) << merge.out;
  EXPECT_EQ(original, ReadFileBytes(Wide("disk.img")));
  EXPECT_FALSE(Exists("disk.0") || Exists("disk.DAT"));
}

TEST_F(Tool, QuietPrintsNothingOnSuccess) {
  MakeFile("disk.img", M + 1);
  for (const char* command : {"split", "merge"}) {
    const ToolRun run = RunTool({command, "-q", Path("disk.img"), });
    EXPECT_EQ(0, run.exit_code) << command << run.err;
    EXPECT_EQ("", run.out + run.err) << command;
  }
}

TEST_F(Tool, NamesOutsideAsciiWork) {
  const std::string original = MakeFile("dïsk ✓.img", 2 * M + 9);
  const std::string disk = Path("dïsk ✓.img");
  ASSERT_EQ(0, RunTool({"split", disk, "-s", "1"}).exit_code);
  EXPECT_TRUE(Exists("dïsk ✓.2") && Exists("dïsk ✓.DAT"));
  const ToolRun verify = RunTool({"verify", disk});
  EXPECT_EQ(0, verify.exit_code) << verify.err;
  EXPECT_TRUE(Contains(verify.out, Path("dïsk ✓.1") + ": OK")) << verify.out;
  ASSERT_EQ(0, RunTool({"merge", disk}).exit_code);
  EXPECT_EQ(original, ReadFileBytes(Wide("dïsk ✓.img")));

  const ToolRun missing = RunTool({"split", Path("nöthing.img")});
  EXPECT_EQ(1, missing.exit_code);
  EXPECT_TRUE(Contains(missing.err, Path("nöthing.img"))) << missing.err;
}

// Names are bytes: one that is not UTF-8 and holds a newline goes through
// every command, and every line that carries it (errors and progress too)
// is escaped as md5sum escapes names, with a backslash in front.
TEST_F(Tool, NamesOfAnyBytesWorkAndArePrintedEscaped) {
  const std::string stem = "bad\xFF\nline";
  const std::string original = MakeFile(stem + ".img", M + 9);
  const std::string disk = Path(stem + ".img");
  const std::string printed = Path("bad\xFF\\nline");  // the stem as printed
  const ToolRun split = RunTool({"split", disk, "-s", "1"});
  ASSERT_EQ(0, split.exit_code) << split.err;
  EXPECT_EQ("\\" + printed + ".img: cut into 2 pieces of at most 1 MiB (" + printed + ".0 to " +
                printed + ".1), recorded in " + printed + ".DAT\n",
            split.out);
  const ToolRun verify = RunTool({"verify", disk});
  EXPECT_EQ(0, verify.exit_code) << verify.err;
  EXPECT_EQ("\\" + printed + ".0: OK\n\\" + printed + ".1: OK\n\\" + printed +
                ".img (pieces joined): OK\n\\" + printed + ".img: a merge would succeed\n",
            verify.out);
  ASSERT_EQ(0, RunTool({"merge", disk, "-q"}).exit_code);
  EXPECT_EQ(original, ReadFileBytes(Wide(stem + ".img")));
  const ToolRun fingerprint = RunTool({"fingerprint", disk});
  EXPECT_EQ("\\" + WideToUtf8(FingerprintOf(original)) + "  " + printed + ".img\n",
            fingerprint.out);

  const ToolRun absent = RunTool({"split", Path("x\x1B[2J.img")});
  EXPECT_EQ("\\tarvelin: split " + Path("x\\x1B[2J.img") +
                ": no such file (RC_SOURCE_NOT_FOUND, 0xE0F00008)\n",
            absent.err);
  if (std::system("command -v script >/dev/null 2>&1") == 0) {
    const ToolRun terminal = RunToolOnTerminal({"fingerprint", disk});
    EXPECT_TRUE(Contains(terminal.out, "\r\\fingerprinting " + printed + ".img")) << terminal.out;
  }
}

// verify with one thing wrong: its lines, its exit code, and the one-line
// message that names the piece.
struct VerifyCase {
  const char* label;
  void (*arrange)(Tool& test);
  int exit_code;
  std::vector<std::string> lines;  // expected lines of stdout, names relative
  const char* message;             // part of stderr, "" for none
};
void PrintTo(const VerifyCase& c, std::ostream* os) { *os << c.label; }

class ToolVerify : public Tool, public ::testing::WithParamInterface<VerifyCase> {
 public:
  void DamagePiece(const std::string& name) { Damage(name); }
  void RemovePiece(const std::string& name) { std::filesystem::remove(FsPath(Wide(name))); }
  void AddFile(const std::string& name) { MakeFile(name, 1000, 7); }
};

TEST_P(ToolVerify, ReportsEveryPieceAndTheVerdict) {
  const VerifyCase& c = GetParam();
  MakeFile("disk.img", 3 * M + 5);
  ASSERT_EQ(0, RunTool({"split", Path("disk.img"), "-s", "1", "-q"}).exit_code);
  c.arrange(*this);
  const ToolRun run = RunTool({"verify", Path("disk.img")});
  EXPECT_EQ(c.exit_code, run.exit_code) << run.out << run.err;
  for (const std::string& line : c.lines) {
    EXPECT_TRUE(Contains(run.out, Path(line))) << line << " in:\n" << run.out;
  }
  if (c.message[0] != '\0') {
    EXPECT_EQ(0u, run.err.find("tarvelin: verify " + Path("disk.img") + ": a merge would fail: "))
        << run.err;
    EXPECT_TRUE(Contains(run.err, c.message)) << run.err;
    EXPECT_EQ(1u, CountOf(run.err, "\n")) << "one line: " << run.err;
  } else {
    EXPECT_EQ("", run.err);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ToolVerify,
    ::testing::Values(
        VerifyCase{"DamagedPiece", [](Tool& t) { static_cast<ToolVerify&>(t).DamagePiece("disk.2"); },
                   1,
                   {"disk.0: OK", "disk.1: OK", "disk.2: FAILED", "disk.3: OK",
                    "disk.img (pieces joined): FAILED"},
                   "does not match its recorded fingerprint (RC_DIGEST_MISMATCH, 0xE0F00013)"},
        VerifyCase{"MissingPiece", [](Tool& t) { static_cast<ToolVerify&>(t).RemovePiece("disk.1"); },
                   1,
                   {"disk.0: OK", "disk.1: MISSING", "disk.2: OK",
                    "disk.img (pieces joined): INCOMPLETE"},
                   "is missing, so the pieces before it do not make up the source "
                   "(RC_DIGEST_MISMATCH, 0xE0F00013)"},
        VerifyCase{"UnrecordedPiece", [](Tool& t) { static_cast<ToolVerify&>(t).AddFile("disk.4"); },
                   0,
                   {"disk.3: OK", "disk.4: NOT RECORDED (a merge leaves it in place)",
                    "disk.img: a merge would succeed"},
                   ""},
        VerifyCase{"NoManifest", [](Tool& t) { static_cast<ToolVerify&>(t).RemovePiece("disk.DAT"); },
                   1, {"disk.0: NOT RECORDED (a merge leaves it in place)"},
                   "beside it (RC_MANIFEST_NOT_FOUND, 0xE0F00015)"}),
    [](const ::testing::TestParamInfo<VerifyCase>& info) { return std::string(info.param.label); });

TEST_F(Tool, VerifyMessagesNameTheDecidingFile) {
  MakeFile("disk.img", 3 * M + 5);
  ASSERT_EQ(0, RunTool({"split", Path("disk.img"), "-s", "1", "-q"}).exit_code);
  Damage("disk.2");
  ToolRun run = RunTool({"verify", Path("disk.img")});
  EXPECT_EQ("tarvelin: verify " + Path("disk.img") + ": a merge would fail: piece " +
                Path("disk.2") +
                " does not match its recorded fingerprint (RC_DIGEST_MISMATCH, 0xE0F00013)\n",
            run.err);

  std::filesystem::remove(FsPath(Wide("disk.1")));
  run = RunTool({"verify", Path("disk.img")});
  EXPECT_TRUE(Contains(run.err, "piece " + Path("disk.1") + " is missing")) << run.err;

  std::filesystem::remove(FsPath(Wide("disk.DAT")));
  run = RunTool({"verify", Path("disk.img")});
  EXPECT_TRUE(Contains(run.err, "no manifest " + Path("disk.DAT") +
                                    " beside it (RC_MANIFEST_NOT_FOUND, 0xE0F00015)"))
      << run.err;
}

TEST_F(Tool, MergeStopsAtADamagedPieceAndSaysWhich) {
  MakeFile("disk.img", 3 * M + 5);
  ASSERT_EQ(0, RunTool({"split", Path("disk.img"), "-s", "1", "-q"}).exit_code);
  Damage("disk.2");
  const ToolRun run = RunTool({"merge", Path("disk.img")});
  EXPECT_EQ(1, run.exit_code);
  EXPECT_EQ("tarvelin: merge " + Path("disk.img") + ": piece " + Path("disk.2") +
                " does not match its recorded fingerprint (RC_DIGEST_MISMATCH, 0xE0F00013)\n",
            run.err);
  EXPECT_TRUE(Exists("disk.2") && Exists("disk.3") && Exists("disk.DAT"));

  // The half-rebuilt file stays; merging again goes on after the pieces
  // joined in it and stops at the same piece.
  const ToolRun again = RunTool({"merge", Path("disk.img")});
  EXPECT_EQ(1, again.exit_code);
  EXPECT_EQ(run.err, again.err);
}

TEST_F(Tool, MergeNamesTheMissingPiece) {
  MakeFile("disk.img", 3 * M + 5);
  ASSERT_EQ(0, RunTool({"split", Path("disk.img"), "-s", "1", "-q"}).exit_code);
  std::filesystem::remove(FsPath(Wide("disk.2")));
  const ToolRun run = RunTool({"merge", Path("disk.img")});
  EXPECT_EQ(1, run.exit_code);
  EXPECT_TRUE(Contains(run.err, "merge " + Path("disk.img") + ": piece " + Path("disk.2") +
                                    " is missing"))
      << run.err;
  EXPECT_TRUE(Contains(run.err, "(RC_DIGEST_MISMATCH, 0xE0F00013)")) << run.err;
}

TEST_F(Tool, MergeWarnsOfUnrecordedPiecesThatItLeaves) {
  const std::string original = MakeFile("disk.img", 2 * M);
  ASSERT_EQ(0, RunTool({"split", Path("disk.img"), "-s", "1", "-q"}).exit_code);
  MakeFile("disk.2", 10, 3);
  const ToolRun run = RunTool({"merge", Path("disk.img")});
  EXPECT_EQ(0, run.exit_code) << run.err;
  EXPECT_EQ(original, ReadFileBytes(Wide("disk.img")));
  EXPECT_TRUE(Contains(run.err, "warning: merge " + Path("disk.img") + ": left " +
                                    Path("disk.2") + " in place"))
      << run.err;
}

// Failures of each operation: the message names the file, says what went
// wrong and gives the code's name and value.
TEST_F(Tool, FailureMessagesNameTheFileAndTheCode) {
  struct Row {
    std::vector<std::string> args;
    std::string message;
  };
  MakeFile("blocked.img", 2 * M + 1);
  std::filesystem::create_directory(FsPath(Wide("blocked.1")));  // a folder where piece 1 goes
  // Any path that the system takes is taken; a name that the file system
  // refuses (its manifest's name passes 255 bytes) is told as it tells it.
  const std::string long_name = Path(std::string(252, 'n') + ".i");
  MakeFile(std::string(252, 'n') + ".i", 10);
  const std::vector<Row> rows = {
      {{"split", Path("absent.img")},
       "tarvelin: split " + Path("absent.img") + ": no such file (RC_SOURCE_NOT_FOUND, 0xE0F00008)"},
      {{"merge", Path("absent.img")},
       "tarvelin: merge " + Path("absent.img") + ": no manifest " + Path("absent.DAT") +
           " beside it (RC_MANIFEST_NOT_FOUND, 0xE0F00015)"},
      {{"split", Path("blocked.img"), "-s", "1"},
       "tarvelin: split " + Path("blocked.img") + ": piece " + Path("blocked.1") +
           " is in the way: "},
      {{"split", long_name},
       "tarvelin: split " + long_name + ": cannot open the manifest " +
           Path(std::string(252, 'n') + ".DAT") + ": the name is too long"},
      {{"fingerprint", Path("absent.img")},
       "tarvelin: fingerprint " + Path("absent.img") + ": cannot open it: "},
  };
  for (const Row& row : rows) {
    const ToolRun run = RunTool(row.args);
    EXPECT_EQ(1, run.exit_code) << row.args[0];
    EXPECT_EQ(0u, run.err.find(row.message)) << run.err;
    EXPECT_EQ(1u, CountOf(run.err, "\n")) << "one line: " << run.err;
    EXPECT_TRUE(Contains(run.err, "(RC_")) << run.err;
    EXPECT_EQ("", run.out) << "nothing is printed as if it had worked";
  }
  EXPECT_TRUE(Exists("blocked.img")) << "a failed split keeps its source";
}

TEST_F(Tool, FingerprintPrintsTextAndNameLikeMd5sum) {
  const std::string a = MakeFile("a.bin", 1000, 1);
  const std::string b = MakeFile("b.bin", 0, 2);
  const ToolRun run = RunTool({"fingerprint", Path("a.bin"), Path("absent"), Path("b.bin")});
  EXPECT_EQ(1, run.exit_code) << "one file could not be read";
  EXPECT_EQ(WideToUtf8(FingerprintOf(a)) + "  " + Path("a.bin") + "\n" +
                WideToUtf8(FingerprintOf(b)) + "  " + Path("b.bin") + "\n",
            run.out);
  EXPECT_TRUE(Contains(run.err, Path("absent"))) << run.err;
}

// "-" is standard input, as with md5sum; once read, it is empty.
TEST_F(Tool, FingerprintOfMinusReadsStandardInput) {
  const std::string bytes = MakeFile("in.bin", 3 * M + 7);
  const std::string in = ShellQuoted(Path("in.bin"));
  const ToolRun run =
      RunShell(ShellQuoted(ToolPath()) + " fingerprint - " + in + " - <" + in);
  EXPECT_EQ(0, run.exit_code) << run.err;
  EXPECT_EQ(WideToUtf8(FingerprintOf(bytes)) + "  -\n" + WideToUtf8(FingerprintOf(bytes)) + "  " +
                Path("in.bin") + "\n" + WideToUtf8(FingerprintOf("")) + "  -\n",
            run.out);
}

// Output that is lost is a failure: every command that prints, with stdout
// on a full device, says so in one line and exits 1 (its work done or not).
TEST_F(Tool, OutputLostToAFullDeviceIsAFailure) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  MakeFile("disk.img", M + 1);
  const std::string disk = ShellQuoted(Path("disk.img"));
  const struct {
    std::string args;
    int exit_code;
  } rows[] = {
      {"split -s 1 " + disk, 1}, {"verify " + disk, 1},  {"merge " + disk, 1},
      {"fingerprint " + disk, 1}, {"--help", 1},          {"--version", 1},
      {"split -q " + disk, 0},  // printed nothing, so lost nothing
  };
  for (const auto& row : rows) {
    const ToolRun run = RunShell(ShellQuoted(ToolPath()) + " " + row.args + " >/dev/full");
    EXPECT_EQ(row.exit_code, run.exit_code) << row.args << ": " << run.err;
    EXPECT_EQ(row.exit_code == 0 ? "" : "tarvelin: write error: no space left on device\n",
              run.err)
        << row.args;
  }
  EXPECT_TRUE(Exists("disk.0") && !Exists("disk.img")) << "the last split was done";
}

// cat: a reader that goes away stops it with one line and exit 1, as a lost
// stdout does elsewhere; a terminal gets no bytes unless forced.
TEST_F(Tool, CatToAClosedPipeOrATerminal) {
  MakeFile("disk.img", 3 * M + 5);
  ASSERT_EQ(0, RunTool({"split", Path("disk.img"), "-s", "1", "-q"}).exit_code);
  const ToolRun piped = RunShell("{ " + ShellQuoted(ToolPath()) + " cat " +
                                 ShellQuoted(Path("disk.img")) +
                                 "; echo \"exit $?\" >&2; } | head -c 10 >/dev/null");
  EXPECT_EQ(0u, piped.err.find("tarvelin: cat " + Path("disk.img") +
                               ": writing to standard output failed after "))
      << piped.err;
  EXPECT_TRUE(Contains(piped.err, "broken pipe (RC_FILE_WRITE, 0xE0F00014)\nexit 1\n"))
      << piped.err;
  EXPECT_EQ(2u, CountOf(piped.err, "\n")) << "one line, then the exit code: " << piped.err;
  EXPECT_TRUE(Exists("disk.0") && Exists("disk.DAT")) << "cat deletes nothing";

  if (std::system("command -v script >/dev/null 2>&1") != 0) return;  // no terminal to try
  const ToolRun terminal = RunToolOnTerminal({"cat", Path("disk.img")});
  EXPECT_EQ(2, terminal.exit_code);
  EXPECT_TRUE(Contains(terminal.out, "standard output is a terminal")) << terminal.out;
  EXPECT_TRUE(Contains(terminal.out, "-f")) << terminal.out;
  EXPECT_LT(terminal.out.size(), 400u) << "no bytes of the original";
}

TEST_F(Tool, UsageErrorsExitWithTwoAndPointToHelp) {
  const std::vector<std::vector<std::string>> rows = {
      {},
      {"frobnicate", "x"},
      {"split"},
      {"split", "a", "b"},
      {"split", "x", "--size", "1000MB"},
      {"split", "x", "--size", "0"},
      {"split", "x", "--size", "12Q"},
      {"split", "x", "--size"},
      {"merge", "x", "--size", "4G"},
      {"verify", "x", "--no-space-check"},
      {"fingerprint"},
      {"split", "x", "--bogus"},
  };
  for (const auto& args : rows) {
    const ToolRun run = RunTool(args);
    std::string shown;
    for (const std::string& arg : args) shown += arg + " ";
    EXPECT_EQ(2, run.exit_code) << shown;
    EXPECT_EQ(0u, run.err.find("tarvelin: ")) << shown << run.err;
    EXPECT_TRUE(Contains(run.err, "\nTry 'tarvelin --help' for more information.\n"))
        << shown << run.err;
    EXPECT_EQ("", run.out) << shown;
  }
  const ToolRun size = RunTool({"split", "x", "--size", "1000MB"});
  EXPECT_TRUE(Contains(size.err, "KB, MB, GB or TB (powers of 1000)")) << "names the forms";
  EXPECT_EQ(0u, size.err.find("tarvelin: invalid SIZE: '1000MB' is 1000000000 bytes, not a whole "
                              "number of MiB\nSIZE is "))
      << "a short first line, then the forms: " << size.err;
}

TEST_F(Tool, HelpAndVersionGoToStandardOutput) {
  for (const char* option : {"--help", "-h"}) {
    const ToolRun run = RunTool({option});
    EXPECT_EQ(0, run.exit_code);
    EXPECT_EQ(0u, run.out.find("Usage: tarvelin COMMAND FILE")) << run.out;
    for (const char* word : {"split", "merge", "verify", "cat", "fingerprint", "--size",
                             "--quiet", "--no-space-check", "--to", "--from", "--keep",
                             "--no-read-back", "--force", "Exit status"}) {
      EXPECT_TRUE(Contains(run.out, word)) << word;
    }
    EXPECT_EQ("", run.err);
  }
  const ToolRun version = RunTool({"--version"});
  EXPECT_EQ(0, version.exit_code);
  EXPECT_EQ(0u, version.out.find("tarvelin ")) << version.out;
  EXPECT_EQ("", version.err);
}

TEST_F(Tool, WarnsWhenPiecesWouldNotFitOnFat32) {
  MakeFile("big.img", 1000);
  const ToolRun large = RunTool({"split", Path("big.img"), "--size", "4G", "-q"});
  EXPECT_EQ(0, large.exit_code);
  EXPECT_TRUE(Contains(large.err, "warning: pieces of 4096 MiB cannot be stored on a FAT32"))
      << large.err;
  ASSERT_EQ(0, RunTool({"merge", Path("big.img"), "-q"}).exit_code);
  for (const char* size : {"4095", "4095M"}) {
    const ToolRun fits = RunTool({"split", Path("big.img"), "--size", size, "-q"});
    EXPECT_EQ("", fits.err) << size;
    ASSERT_EQ(0, RunTool({"merge", Path("big.img"), "-q"}).exit_code);
  }
  const ToolRun by_default = RunTool({"split", Path("big.img")});
  EXPECT_EQ("", by_default.err);
  EXPECT_TRUE(Contains(by_default.out, "at most 4095 MiB")) << by_default.out;
}

// Progress appears on a terminal, and not in a pipe or with --quiet.
TEST_F(Tool, ProgressOnlyOnATerminal) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "script(1) is not installed; progress on a terminal is not checked";
  }
  MakeFile("disk.img", 6 * M);
  const ToolRun terminal = RunToolOnTerminal({"split", Path("disk.img"), "-s", "1"});
  ASSERT_EQ(0, terminal.exit_code) << terminal.out;
  EXPECT_TRUE(Contains(terminal.out, "\rfingerprinting the source")) << terminal.out;
  EXPECT_TRUE(Contains(terminal.out, "% ")) << terminal.out;
  EXPECT_TRUE(Contains(terminal.out, " of 18.0 MiB")) << "three passes over 6 MiB: " << terminal.out;

  const ToolRun piped = RunTool({"merge", Path("disk.img")});
  ASSERT_EQ(0, piped.exit_code) << piped.err;
  EXPECT_EQ("", piped.err);
  EXPECT_FALSE(Contains(piped.out, "\r"));

  const ToolRun quiet = RunToolOnTerminal({"split", Path("disk.img"), "-s", "1", "--quiet"});
  ASSERT_EQ(0, quiet.exit_code) << quiet.out;
  EXPECT_EQ("", quiet.out);

  const ToolRun verify = RunToolOnTerminal({"verify", Path("disk.img")});
  EXPECT_EQ(0, verify.exit_code) << verify.out;
  EXPECT_TRUE(Contains(verify.out, "\rverifying piece ")) << verify.out;
  // At the start of a line: after the progress line's end, or after the
  // line was blanked when a redraw came between two pieces.
  const std::string report = Path("disk.5") + ": OK";
  EXPECT_TRUE(Contains(verify.out, "\n" + report) || Contains(verify.out, "\r" + report))
      << "the report follows the line";

  // To a medium of its own, the split reads it back at the end: four passes.
  ASSERT_EQ(0, RunTool({"merge", Path("disk.img"), "-q"}).exit_code);
  std::filesystem::create_directory(FsPath(Wide("stick")));
  const ToolRun medium =
      RunToolOnTerminal({"split", Path("disk.img"), "-s", "1", "--to", Path("stick"), "--keep"});
  ASSERT_EQ(0, medium.exit_code) << medium.out;
  // The display draws what the moment shows: a piece, or the manifest last.
  EXPECT_TRUE(Contains(medium.out, "reading back ")) << medium.out;
  EXPECT_TRUE(Contains(medium.out, " of 24.0 MiB")) << medium.out;
}

// A small file system of our own, mounted for the test (it needs root).
class SmallFileSystem : public Tool {
 protected:
  void SetUp() override {
    mount_point_ = WideToUtf8(dir_.Path(L"small"));
    std::filesystem::create_directory(mount_point_);
    if (mount("tmpfs", mount_point_.c_str(), "tmpfs", 0, "size=8m") != 0) {
      GTEST_SKIP() << "cannot mount an 8 MiB tmpfs here (needs root): the space check is "
                      "not tested";
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) umount(mount_point_.c_str());
  }
  std::string Small(const std::string& name) const { return mount_point_ + "/" + name; }
  std::wstring SmallWide(const std::string& name) const { return Utf8ToWide(Small(name)); }

  std::string mount_point_;
  bool mounted_ = false;
};

TEST_F(SmallFileSystem, SplitIsRefusedUpFrontWithTheNumbers) {
  const std::string original = PatternBytes(5 * M, 3);
  WriteFileBytes(SmallWide("disk.img"), original);
  const ToolRun run = RunTool({"split", Small("disk.img"), "-s", "1"});
  EXPECT_EQ(1, run.exit_code);
  EXPECT_EQ(0u, run.err.find("tarvelin: split " + Small("disk.img") +
                             ": not enough free space: the pieces need 5242880 bytes (5.00 MiB) "
                             "and the file system has "))
      << run.err;
  EXPECT_TRUE(Contains(run.err, "--no-space-check")) << run.err;
  EXPECT_FALSE(FileExists(SmallWide("disk.0")) || FileExists(SmallWide("disk.DAT")))
      << "nothing was written";
  EXPECT_EQ(original, ReadFileBytes(SmallWide("disk.img")));

  // Told to go ahead, the split runs out of room and keeps the source.
  const ToolRun forced = RunTool({"split", Small("disk.img"), "-s", "1", "--no-space-check"});
  EXPECT_EQ(1, forced.exit_code);
  EXPECT_TRUE(Contains(forced.err, "no space left on the device (RC_FILE_WRITE, 0xE0F00014)"))
      << forced.err;
  EXPECT_TRUE(Contains(forced.err, "piece " + Small("disk."))) << forced.err;
  EXPECT_EQ(original, ReadFileBytes(SmallWide("disk.img")));
}

TEST_F(SmallFileSystem, MergeNeedsRoomForItsLargestPiece) {
  // 6 MiB in pieces of 4 and 2 MiB: 2 MiB stay free, less than the 4 MiB piece.
  const std::string original = MakeFile("disk.img", 6 * M, 4);
  ASSERT_EQ(0, RunTool({"split", Path("disk.img"), "-s", "4", "-q"}).exit_code);
  for (const char* name : {"disk.0", "disk.1", "disk.DAT"}) {
    std::filesystem::copy_file(FsPath(Wide(name)), Small(name));
  }
  const ToolRun run = RunTool({"merge", Small("disk.img")});
  EXPECT_EQ(1, run.exit_code);
  EXPECT_TRUE(Contains(run.err, "merge " + Small("disk.img") +
                                    ": not enough free space: its largest piece needs 4194304 "
                                    "bytes (4.00 MiB)"))
      << run.err;
  EXPECT_FALSE(FileExists(SmallWide("disk.img")));

  const ToolRun forced = RunTool({"merge", Small("disk.img"), "--no-space-check"});
  EXPECT_EQ(1, forced.exit_code);
  EXPECT_EQ("tarvelin: merge " + Small("disk.img") +
                ": writing it failed: no space left on the device (RC_FILE_WRITE, 0xE0F00014)\n",
            forced.err);
  EXPECT_TRUE(FileExists(SmallWide("disk.0")) && FileExists(SmallWide("disk.DAT")))
      << "the piece being joined and the manifest stay";
}

}  // namespace
}  // namespace tarvelin::testing
