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

// The words on the command line, taken one by one.
class Words {
 public:
  explicit Words(const std::vector<std::string>& args) : args_(args) {}
  bool done() const { return next_ == args_.size(); }
  const std::string& Take() { return args_[next_++]; }

 private:
  const std::vector<std::string>& args_;
  std::size_t next_ = 0;
};

// What the options set, beyond the invocation itself.
struct Flags {
  bool help = false;
  bool version = false;
};

bool TakeSize(const std::string& value, Invocation* in, std::string* error) {
  std::string why;
  if (!ParseSize(value, &in->piece_mib, &why)) {
    *error = "invalid SIZE: " + why + "\n" + kSizeForms;
    return false;
  }
  in->size_given = true;
  return true;
}

// A long option, "--name" or "--name=value"; a SIZE may also be the next word.
bool TakeLongOption(const std::string& arg, Words* words, Invocation* in, Flags* flags,
                    std::string* error) {
  const std::size_t equals = arg.find('=');
  const std::string name = arg.substr(0, equals);
  const bool has_value = equals != std::string::npos;
  if (name == "--size") {
    if (has_value) return TakeSize(arg.substr(equals + 1), in, error);
    if (words->done()) {
      *error = "--size needs a SIZE";
      return false;
    }
    return TakeSize(words->Take(), in, error);
  }
  bool* flag = name == "--help"             ? &flags->help
               : name == "--version"        ? &flags->version
               : name == "--quiet"          ? &in->quiet
               : name == "--no-space-check" ? &in->no_space_check
                                            : nullptr;
  if (flag == nullptr) {
    *error = "unknown option '" + name + "'";
    return false;
  }
  if (has_value) {
    *error = "option '" + name + "' takes no value";
    return false;
  }
  *flag = true;
  return true;
}

// Short options, alone or bundled as getopt takes them: "-q -s 5", "-qs5",
// "-qs 5". The value of -s is the rest of its word, or else the next word.
bool TakeShortOptions(const std::string& arg, Words* words, Invocation* in, Flags* flags,
                      std::string* error) {
  for (std::size_t i = 1; i < arg.size(); ++i) {
    const char letter = arg[i];
    if (letter == 'q') {
      in->quiet = true;
    } else if (letter == 'h') {
      flags->help = true;
    } else if (letter == 's') {
      if (i + 1 < arg.size()) return TakeSize(arg.substr(i + 1), in, error);
      if (words->done()) {
        *error = "-s needs a SIZE";
        return false;
      }
      return TakeSize(words->Take(), in, error);
    } else {
      *error = "unknown option '-" + std::string(1, letter) + "'";
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParseArguments(const std::vector<std::string>& args, Invocation* out, std::string* error) {
  Invocation in;
  Flags flags;
  bool options_ended = false, command_seen = false;
  Words words(args);
  while (!words.done()) {
    const std::string& arg = words.Take();
    // "-" alone is a name: standard input, for fingerprint.
    const bool is_option = !options_ended && arg.size() > 1 && arg[0] == '-';
    if (is_option && arg == "--") {
      options_ended = true;
    } else if (is_option && arg[1] == '-') {
      if (!TakeLongOption(arg, &words, &in, &flags, error)) return false;
    } else if (is_option) {
      if (!TakeShortOptions(arg, &words, &in, &flags, error)) return false;
    } else if (!command_seen) {
      command_seen = true;
      in.command_name = arg;
      in.command = CommandNamed(arg);
    } else {
      in.files.push_back(arg);
    }
  }
  // Help wins over everything else on the line, operands included, so that
  // "tarvelin split --help" helps. A version is asked for alone: a word
  // beside it is more likely a slip than a wish, and a script that checks
  // the version should hear of it (md5sum lets it pass).
  if (flags.version && !flags.help && (command_seen || !in.files.empty())) {
    *error = "--version takes no command or file";
    return false;
  }
  if (flags.help || flags.version) {
    in.command = flags.help ? Command::kHelp : Command::kVersion;
    *out = in;
    return true;
  }
  if (!CheckCommand(in, error)) return false;
  *out = in;
  return true;
}

}  // namespace tarvelin::cli
