// SPDX-License-Identifier: MIT
// The command line, parsed: one command, its files and its options. Options
// may stand anywhere after the program's name, before or after the command;
// "--" ends them. Short options bundle as with getopt ("-qs5", "-qs 5"), and
// a SIZE may be attached ("-s5", "--size=5") or the next word ("-s 5",
// "--size 5"). "-" alone is a name (standard input, for fingerprint).
//
//   tarvelin split FILE [--to DIR] [--size SIZE] [--keep] [--no-read-back]
//                       [--no-space-check] [--quiet]
//   tarvelin merge FILE [--from DIR] [--keep] [--no-space-check] [--quiet]
//   tarvelin verify FILE [--from DIR] [--quiet]
//   tarvelin cat FILE [--from DIR] [--force] [--quiet]
//   tarvelin fingerprint FILE... [--quiet]
//   tarvelin --help | --version
#ifndef TARVELIN_CLI_ARGUMENTS_H_
#define TARVELIN_CLI_ARGUMENTS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "cli/size_grammar.h"

namespace tarvelin::cli {

enum class Command { kNone, kSplit, kMerge, kVerify, kCat, kFingerprint, kHelp, kVersion };

struct Invocation {
  Command command = Command::kNone;
  std::string command_name;        // as typed, for messages
  std::vector<std::string> files;  // as typed: UTF-8 bytes
  std::int32_t piece_mib = kDefaultPieceMiB;
  bool size_given = false;
  bool no_space_check = false;
  bool quiet = false;
  // The pieces' folder: where split writes them (--to), where merge, verify
  // and cat read them (--from); empty: beside FILE.
  std::string piece_folder;
  bool to_given = false;
  bool from_given = false;
  bool keep = false;          // split: keep FILE; merge: keep the pieces and the manifest
  bool no_read_back = false;  // split --to: do not read the medium back
  bool force = false;         // cat: write to a terminal too
};

// Parses the arguments after the program's name. On a usage error returns
// false with the reason in *error: one line without the program's name,
// which may be followed by lines of fixed text that explain (the accepted
// forms of a SIZE), each ended by a newline.
bool ParseArguments(const std::vector<std::string>& args, Invocation* out, std::string* error);

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_ARGUMENTS_H_
