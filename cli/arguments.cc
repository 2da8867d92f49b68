// SPDX-License-Identifier: MIT
#include "cli/arguments.h"

namespace tarvelin::cli {
namespace {

Command CommandNamed(const std::string& name) {
  if (name == "split") return Command::kSplit;
  if (name == "merge") return Command::kMerge;
  if (name == "verify") return Command::kVerify;
  if (name == "cat") return Command::kCat;
  if (name == "fingerprint") return Command::kFingerprint;
  return Command::kNone;
}

const char kCommands[] = " (split, merge, verify, cat or fingerprint)";

// An option given to a command that does not take it, and the reason.
bool Refuse(const std::string& reason, std::string* error) {
  *error = reason;
  return false;
}

// Checks the options that only some commands take.
bool CheckOptions(const Invocation& in, std::string* error) {
  const std::string& name = in.command_name;
  const Command c = in.command;
  if (in.size_given && c != Command::kSplit) {
    return Refuse(name + ": --size applies to split only", error);
  }
  if (in.no_space_check && c != Command::kSplit && c != Command::kMerge) {
    return Refuse(name + ": --no-space-check applies to split and merge only", error);
  }
  if (in.to_given && c != Command::kSplit) {
    return Refuse(name + ": --to applies to split only (merge, verify and cat take --from)",
                  error);
  }
  if (in.from_given && c != Command::kMerge && c != Command::kVerify && c != Command::kCat) {
    return Refuse(name + ": --from applies to merge, verify and cat only (split takes --to)",
                  error);
  }
  if (in.keep && c != Command::kSplit && c != Command::kMerge) {
    return Refuse(name + ": --keep applies to split and merge only (the others delete nothing)",
                  error);
  }
  // Beside FILE a split reads nothing back, so the option would change
  // nothing; a user who gives it means something that does not happen.
  if (in.no_read_back && (c != Command::kSplit || !in.to_given)) {
    return Refuse(name + ": --no-read-back applies to split --to DIR only (a split beside FILE "
                         "reads nothing back)",
                  error);
  }
  if (in.force && c != Command::kCat) return Refuse(name + ": --force applies to cat only", error);
  return true;
}

// Checks what the command was given against what it takes.
bool CheckCommand(const Invocation& in, std::string* error) {
  const std::string& name = in.command_name;
  if (in.command == Command::kNone) {
    *error = name.empty() ? std::string("no command given") + kCommands
                          : "'" + name + "' is not a command" + kCommands;
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
  return CheckOptions(in, error);
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

// The pieces' folder of --to or --from; the last one given counts.
bool TakeFolder(const std::string& option, const std::string& value, Invocation* in,
                std::string* error) {
  if (value.empty()) {
    *error = option + " needs a DIR, not an empty word";
    return false;
  }
  in->piece_folder = value;
  (option == "--to" ? in->to_given : in->from_given) = true;
  return true;
}

// A long option, "--name" or "--name=value"; the value of one that takes a
// value (a SIZE, a DIR) may also be the next word.
bool TakeLongOption(const std::string& arg, Words* words, Invocation* in, Flags* flags,
                    std::string* error) {
  const std::size_t equals = arg.find('=');
  const std::string name = arg.substr(0, equals);
  const bool has_value = equals != std::string::npos;
  const bool takes_folder = name == "--to" || name == "--from";
  if (name == "--size" || takes_folder) {
    if (!has_value && words->done()) {
      *error = name + (takes_folder ? " needs a DIR" : " needs a SIZE");
      return false;
    }
    const std::string value = has_value ? arg.substr(equals + 1) : words->Take();
    return takes_folder ? TakeFolder(name, value, in, error) : TakeSize(value, in, error);
  }
  bool* flag = name == "--help"             ? &flags->help
               : name == "--version"        ? &flags->version
               : name == "--quiet"          ? &in->quiet
               : name == "--no-space-check" ? &in->no_space_check
               : name == "--keep"           ? &in->keep
               : name == "--no-read-back"   ? &in->no_read_back
               : name == "--force"          ? &in->force
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
    } else if (letter == 'f') {
      in->force = true;
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
