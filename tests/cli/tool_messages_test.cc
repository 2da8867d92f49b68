// SPDX-License-Identifier: MIT
// What the tool says when it fails, as a newcomer meets it: each row makes a
// folder as a user might find it, runs one command, and checks the exit code
// and the words. The words come from the library's own account of the
// failure, so a tolerated failure that came last can no longer mislead them.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/utf8.h"
#include "tests/cli/tool_runner.h"
#include "tests/support/temp_dir.h"

namespace tarvelin::testing {
namespace {

// Three pieces of 1 MiB and a little, with their manifest.
const char kSplitThree[] = "head -c 2500000 /dev/urandom > disk.img && $T split -q -s 1 disk.img";
// The same, carried to the folder stick; orig keeps the original's bytes.
#define TO_STICK                                                                      \
  "mkdir stick && head -c 2500000 /dev/urandom > disk.img && cp disk.img orig && " \
  "$T split -q -s 1 disk.img --to stick"
const char kToStick[] = TO_STICK;

struct MessageCase {
  const char* label;
  const char* setup;    // shell commands run in a scratch folder; $T is the tool
  const char* command;  // the tool's arguments, for the shell
  const char* held;     // a file that this process holds, unshared, meanwhile
  int exit_code;
  const char* says;     // a part of what it prints (stderr, then stdout)
};

void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.label; }

const MessageCase kCases[] = {
    {"FolderGivenToSplit", "mkdir disk.img", "split disk.img", nullptr, 1,
     "split disk.img: cannot open it: it is a folder, not a file (RC_FILE_OPEN"},
    {"PipeGivenToSplit", "mkfifo disk.img", "split disk.img", nullptr, 1,
     "cannot open it: it is a device or a pipe, not a file"},
    {"DeviceGivenToSplit", "", "split /dev/zero", nullptr, 1,
     "cannot open it: it is a device or a pipe, not a file"},
    {"MissingFile", "", "split disk.img", nullptr, 1,
     "split disk.img: no such file (RC_SOURCE_NOT_FOUND"},
    {"SecondMergeAtOnce", kSplitThree, "merge disk.img", "disk.img", 1,
     "another program is using it (a second split or merge, perhaps)"},
    {"SplitWhileAnotherHoldsIt", "head -c 1000 /dev/urandom > disk.img", "split disk.img",
     "disk.img", 1, "cannot open it: another program is using it"},
    {"ManifestGivenToMerge", kSplitThree, "merge disk.DAT", nullptr, 2,
     "merge disk.DAT: disk.DAT is the manifest of a split; give the name of the file to "
     "rebuild"},
    {"PieceGivenToMerge", kSplitThree, "merge disk.0", nullptr, 2,
     "disk.0 is piece 0 of the split recorded in disk.DAT; give the name"},
    {"PieceGivenToVerify", kSplitThree, "verify disk.2", nullptr, 2,
     "disk.2 is piece 2 of the split recorded in disk.DAT"},
    {"ManifestIsAFolder", "mkdir disk.DAT", "merge disk.img", nullptr, 1,
     "cannot open the manifest disk.DAT: it is a folder, not a file (RC_FILE_OPEN"},
    {"RecordOfAPieceThatIsNotNeeded",
     "head -c 2000000 /dev/urandom > disk.img && $T split -q -s 1 disk.img && "
     "printf 'MD5_VALUE2=00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF\\r\\n' >> disk.DAT",
     "verify disk.img", nullptr, 0, "a merge would succeed"},
    {"UnneededRecordIsExplained",
     "head -c 2000000 /dev/urandom > disk.img && $T split -q -s 1 disk.img && "
     "printf 'MD5_VALUE2=00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF\\r\\n' >> disk.DAT",
     "verify disk.img", nullptr, 0, "the records from there on are not needed"},
    {"RecordedPieceMissing",
     "head -c 2500000 /dev/urandom > disk.img && $T split -q -s 1 disk.img && rm disk.2",
     "verify disk.img", nullptr, 1,
     "a merge would fail: piece disk.2 is missing, so the pieces before it do not make up the "
     "source (RC_DIGEST_MISMATCH"},
    {"DamagedPieceInVerify",
     "head -c 2500000 /dev/urandom > disk.img && $T split -q -s 1 disk.img && "
     "printf X | dd of=disk.1 bs=1 seek=100 conv=notrunc 2>/dev/null",
     "verify disk.img", nullptr, 1,
     "verify disk.img: a merge would fail: piece disk.1 does not match its recorded fingerprint "
     "(RC_DIGEST_MISMATCH, 0xE0F00013)"},
    {"UnrecordedPieceWarnedOfOnFailure",
     "head -c 2500000 /dev/urandom > disk.img && $T split -q -s 1 disk.img && cp disk.0 disk.3 "
     "&& printf X | dd of=disk.1 bs=1 seek=100 conv=notrunc 2>/dev/null",
     "merge disk.img", nullptr, 1, "left disk.3 in place: the manifest does not record it"},
    {"HalfMergedFileAtThePath",
     "head -c 2500000 /dev/urandom > disk.img && $T split -q -s 1 disk.img && "
     "cat disk.0 > disk.img",
     "merge disk.img", nullptr, 0,
     "disk.img: rebuilt from 3 pieces, the first 1 already joined in it by an earlier merge"},
    {"UnrelatedFileAtThePath",
     "head -c 2500000 /dev/urandom > disk.img && $T split -q -s 1 disk.img && "
     "head -c 1000 /dev/urandom > disk.img",
     "merge disk.img", nullptr, 1,
     "it already exists and does not begin with the recorded pieces joined in order"},
    {"FinishedMergeAtThePath",
     "head -c 2500000 /dev/urandom > disk.img && cp disk.img whole && "
     "$T split -q -s 1 disk.img && mv whole disk.img",
     "merge disk.img", nullptr, 0,
     "already exists and matches the recorded fingerprint of the source; the manifest disk.DAT "
     "and any pieces left beside it were deleted"},
    {"TidyLeavesAPieceWithOtherBytesAndSaysSo",
     "head -c 2500000 /dev/urandom > disk.img && cp disk.img whole && "
     "$T split -q -s 1 disk.img && mv whole disk.img && "
     "printf X | dd of=disk.1 bs=1 seek=100 conv=notrunc 2>/dev/null",
     "merge disk.img && test -f disk.1", nullptr, 0,
     "left disk.1 in place: its bytes are not the ones the manifest records"},
    {"HalfMergedFileInVerify",
     "head -c 2500000 /dev/urandom > disk.img && $T split -q -s 1 disk.img && "
     "cat disk.0 > disk.img && head -c 1000 disk.1 >> disk.img && rm disk.0",
     "verify disk.img", nullptr, 0,
     "disk.img (existing file): PARTIAL (holds disk.0 and the first 1000 bytes of disk.1; a "
     "merge would cut those off and go on from disk.1)"},
    {"AllZeroRecordOfAPeer",
     "head -c 2500000 /dev/urandom > disk.img && $T split -q -s 1 disk.img && "
     "sed -i 's/^MD5_VALUE1=.*/MD5_VALUE1=00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\r/' "
     "disk.DAT",
     "merge disk.img", nullptr, 1,
     "records the all-zero fingerprint for piece disk.1, which a splitter writes when it could "
     "not read the piece"},
    {"LinkAtTheMergesPath",
     "head -c 2500000 /dev/urandom > disk.img && $T split -q -s 1 disk.img && "
     "echo theirs > elsewhere && ln -s elsewhere disk.img",
     "merge disk.img", nullptr, 1,
     "merge disk.img: it is in the way: it is a symbolic link, so a merge does not write into "
     "it; it is left alone (RC_FILE_OPEN"},
    {"UsersFileBesideAFinishedSetIsLeftAlone",
     "head -c 2500000 /dev/urandom > disk.img && cp disk.img keep && $T split -q -s 1 disk.img "
     "&& mv keep disk.img && echo notes > disk.3",
     "split -s 1 disk.img && cat disk.3", nullptr, 0, "notes"},
    {"PlantedManifestIsInTheWay",
     "head -c 1000 /dev/urandom > disk.img && printf '[SrcImageMD5]\r\nMD5_VALUE=x\r\n' > "
     "disk.DAT",
     "split disk.img", nullptr, 1,
     "the manifest disk.DAT is in the way: it is not output of a split of this file"},
    {"SourceThatIsALink", "echo bytes > real && ln -s real disk.img", "split disk.img", nullptr,
     1, "cannot open it: it is a symbolic link, which is not followed (RC_FILE_OPEN"},
    {"NoManifest", "", "merge disk.img", nullptr, 1,
     "merge disk.img: no manifest disk.DAT beside it (RC_MANIFEST_NOT_FOUND"},
    // 200 + 1 + 56 characters: the file's name fits, its manifest's does not.
    // A path of any length that the system takes is taken; a name that the
    // file system refuses is told as the system tells it.
    {"NameTooLongForItsManifest", "touch $(printf 'x%.0s' $(seq 252)).i",
     "split $(printf 'x%.0s' $(seq 252)).i", nullptr, 1, "the name is too long"},
    // A folder of pieces: split --to, merge --from, verify --from, cat.
    {"SplitToAFolderNamesThePiecesThereAndProvesTheMedium",
     "mkdir stick && head -c 2500000 /dev/urandom > disk.img",
     "split -s 1 disk.img --to stick && test ! -e disk.img && test ! -e disk.0", nullptr, 0,
     "disk.img: cut into 3 pieces of at most 1 MiB (stick/disk.0 to stick/disk.2), recorded in "
     "stick/disk.DAT; every piece and the manifest read back from the medium and proved; the "
     "source was deleted"},
    {"SplitToAFolderKeepsTheSourceWhenAsked",
     "mkdir stick && head -c 2500000 /dev/urandom > disk.img && cp disk.img orig",
     "split -s 1 disk.img --to stick/ --keep --no-read-back && cmp disk.img orig", nullptr, 0,
     "recorded in stick/disk.DAT; the medium was not read back (--no-read-back); the source was "
     "kept"},
    {"MergeFromAFolderRebuildsTheOriginal", kToStick,
     "merge disk.img --from stick && cmp disk.img orig && test ! -e stick/disk.0 && "
     "test ! -e stick/disk.DAT",
     nullptr, 0,
     "disk.img: rebuilt from 3 pieces, each and the whole proved against stick/disk.DAT\n"},
    {"MergeWithKeepKeepsPiecesAndManifest", kToStick,
     "merge disk.img --from stick --keep && cmp disk.img orig && test -f stick/disk.2 && "
     "test -f stick/disk.DAT",
     nullptr, 0, "proved against stick/disk.DAT; the pieces and the manifest were kept"},
    {"VerifyFromAFolder", kToStick, "verify disk.img --from stick", nullptr, 0,
     "stick/disk.2: OK\ndisk.img (pieces joined): OK\ndisk.img: a merge would succeed"},
    // The source kept beside a damaged stick: a merge would keep the source,
    // but the stick is what is checked.
    {"VerifyFromAFolderFailsOnADamagedPieceWhateverIsAtThePath",
     "mkdir stick && head -c 2500000 /dev/urandom > disk.img && "
     "$T split -q -s 1 disk.img --to stick --keep && "
     "printf X | dd of=stick/disk.1 bs=1 seek=100 conv=notrunc 2>/dev/null",
     "verify disk.img --from stick", nullptr, 1,
     "verify disk.img: the pieces in stick do not make up the original"},
    {"CatFromAFolderWritesTheOriginal", kToStick,
     "cat disk.img --from stick > out && cmp out orig && test -f stick/disk.0 && echo same",
     nullptr, 0, "same"},
    {"CatStopsAtADamagedPieceAndNamesIt",
     TO_STICK " && printf X | dd of=stick/disk.1 bs=1 seek=100 conv=notrunc 2>/dev/null",
     "cat disk.img --from stick > out", nullptr, 1,
     "cat disk.img: piece stick/disk.1 does not match its recorded fingerprint; its bytes have "
     "gone out already, so what was written is not the original (RC_DIGEST_MISMATCH"},
    {"CatWritesNothingWhenAPieceIsMissing", TO_STICK " && rm stick/disk.2",
     "cat disk.img --from stick > out; code=$?; test ! -s out && exit $code", nullptr, 1,
     "cat disk.img: piece stick/disk.2 is missing; nothing was written (RC_FILE_OPEN"},
    {"PiecesFolderThatDoesNotExist", "head -c 1000 /dev/urandom > disk.img",
     "split disk.img --to nowhere; code=$?; test -f disk.img && exit $code", nullptr, 1,
     "split disk.img: the pieces' folder nowhere does not exist (RC_INVALID_PATH"},
};

class ToolMessages : public ::testing::TestWithParam<MessageCase> {};

TEST_P(ToolMessages, SayWhatWentWrongInWords) {
  const MessageCase& c = GetParam();
  TempDir dir;
  const std::string folder = ShellQuoted(WideToUtf8(dir.path()));
  const std::string tool = "T=" + ShellQuoted(ToolPath()) + "; cd " + folder + " && ";
  if (*c.setup != '\0') {
    const ToolRun setup = RunShell(tool + c.setup);
    ASSERT_EQ(0, setup.exit_code) << setup.err;
  }
  Platform& platform = DefaultPlatform();
  FileHandle held = nullptr;
  if (c.held != nullptr) {
    held = platform.CreateFile(dir.Path(Utf8ToWide(c.held)).c_str(), kAccessRead | kAccessWrite,
                               kShareNone, Disposition::kOpenAlways, Attribute::kNormal);
    ASSERT_NE(InvalidHandle(), held);
  }
  const ToolRun run = RunShell(tool + "$T " + c.command);
  if (held != nullptr) platform.CloseHandle(held);
  EXPECT_EQ(c.exit_code, run.exit_code) << run.err << run.out;
  EXPECT_NE(std::string::npos, (run.err + run.out).find(c.says)) << run.err << run.out;
}

INSTANTIATE_TEST_SUITE_P(Table, ToolMessages, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<MessageCase>& info) {
                           return std::string(info.param.label);
                         });

}  // namespace
}  // namespace tarvelin::testing
