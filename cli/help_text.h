// SPDX-License-Identifier: MIT
// The texts of --help and --version.
#ifndef TARVELIN_CLI_HELP_TEXT_H_
#define TARVELIN_CLI_HELP_TEXT_H_

namespace tarvelin::cli {

extern const char kHelpText[];
extern const char kVersionText[];
// The last line of every usage error.
extern const char kTryHelp[];

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_HELP_TEXT_H_
