// SPDX-License-Identifier: MIT
#include "cli/arguments.h"

namespace tarvelin::cli {
namespace {

Command CommandNamed(const std::string& name) {
  if (name == "split") return Command::kSplit;
  if (name == "merge") return Command::kMerge;
  if (name == "verify") return Command::kVerify;
  if (name == "fingerprint") return Command::kFingerprint;
  return Command::kNone;
}

// Checks what the command was given against what it takes.
bool CheckCommand(const Invocation& in, std::string* error) {
  const std::string& name = in.command_name;
  if (in.command == Command::kNone) {
    *error = name.empty() ? "no command given (split, merge, verify or fingerprint)"
                          : "'" + name + "' is not a command (split, merge, verify or fingerprint)";
    return false;
  }
  if (in.files.empty()) {
    *error = name + ": no FILE given";
    return false;
  }
  if (in.command != Command::kFingerprint && in.files.size() > 1) {
    *error = name + ": takes one FILE, given " + std::to_string(in.files.size());
    return false;
  }
  if (in.size_given && in.command != Command::kSplit) {
    *error = name + ": --size applies to split only";
    return false;
  }
  if (in.no_space_check && in.command != Command::kSplit && in.command != Command::kMerge) {
    *error = name + ": --no-space-check applies to split and merge only";
    return false;
  }
  return true;
}

}  // namespace

bool ParseArguments(const std::vector<std::string>& args, Invocation* out, std::string* error) {
  Invocation in;
  bool help = false, version = false, options_ended = false, command_seen = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool is_option = !options_ended && arg.size() > 1 && arg[0] == '-';
    if (!is_option) {
      if (arg == "--") {
        options_ended = true;
      } else if (!command_seen) {
        command_seen = true;
        in.command_name = arg;
        in.command = CommandNamed(arg);
      } else {
        in.files.push_back(arg);
      }
      continue;
    }
    if (arg == "--") {
      options_ended = true;
    } else if (arg == "-h" || arg == "--help") {
      help = true;
    } else if (arg == "--version") {
      version = true;
    } else if (arg == "-q" || arg == "--quiet") {
      in.quiet = true;
    } else if (arg == "--no-space-check") {
      in.no_space_check = true;
    } else if (arg == "-s" || arg == "--size" || arg.rfind("--size=", 0) == 0) {
      std::string value;
      if (arg.rfind("--size=", 0) == 0) {
        value = arg.substr(7);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        *error = arg + " needs a SIZE";
        return false;
      }
      std::string why;
      if (!ParseSize(value, &in.piece_mib, &why)) {
        *error = "invalid SIZE: " + why + "; SIZE is " + kSizeForms;
        return false;
      }
      in.size_given = true;
    } else {
      *error = "unknown option '" + arg + "'";
      return false;
    }
  }
  // Help and version win over everything else on the line, as in most tools.
  if (help || version) {
    in.command = help ? Command::kHelp : Command::kVersion;
    *out = in;
    return true;
  }
  if (!CheckCommand(in, error)) return false;
  *out = in;
  return true;
}

}  // namespace tarvelin::cli
