// SPDX-License-Identifier: MIT
#include "cli/help_text.h"

namespace tarvelin::cli {

const char kHelpText[] =
    "Usage: tarvelin COMMAND FILE [OPTION]...\n"
    "Cut a large file into numbered pieces with MD5 fingerprints, and join them back.\n"
    "\n"
    "Commands:\n"
    "  split FILE         cut FILE into BASE.0, BASE.1, ... and the manifest BASE.DAT\n"
    "                     (BASE is FILE without its extension), then delete FILE\n"
    "  merge FILE         rebuild FILE from its pieces, proving each piece and then the\n"
    "                     whole against the manifest; pieces and manifest go as it proceeds;\n"
    "                     run again, it goes on from where an earlier merge stopped\n"
    "  verify FILE        change nothing: check every piece and the joined whole, list\n"
    "                     unrecorded pieces, and say whether a merge would succeed\n"
    "  cat FILE           write the original's bytes to stdout from its pieces, proving\n"
    "                     each piece as it goes and the whole at the end; deletes nothing\n"
    "  fingerprint FILE...  print each file's fingerprint and name, one per line;\n"
    "                     FILE - is standard input (./- names a file called -)\n"
    "\n"
    "Options:\n"
    "      --to=DIR       split: write the pieces and the manifest into DIR (a stick,\n"
    "                     say), named after FILE, and read them back from it past the\n"
    "                     cache to prove the medium before FILE goes\n"
    "      --from=DIR     merge, verify, cat: the pieces and the manifest are in DIR\n"
    "      --keep         split: keep FILE; merge: keep the pieces and the manifest\n"
    "      --no-read-back  split --to: do not read the medium back\n"
    "  -f, --force        cat: write to stdout even when it is a terminal\n"
    "  -s, --size=SIZE    split: the largest piece; default 4095 (MiB), the largest that\n"
    "                     FAT32 holds. A plain number counts MiB; K, M, G, T (also KiB,\n"
    "                     MiB, GiB, TiB) are powers of 1024 and KB, MB, GB, TB powers of\n"
    "                     1000: 3900M, 4G, 1048576KB. It must come to a whole number of\n"
    "                     MiB, at least 1.\n"
    "      --no-space-check  split, merge: go ahead even when the free space looks short\n"
    "                     (a split needs room for a copy of FILE where the pieces go, a\n"
    "                     merge for its largest piece, or for all of FILE when the pieces\n"
    "                     stay)\n"
    "  -q, --quiet        no progress line and no summary\n"
    "  -h, --help         show this help and exit\n"
    "      --version      show the version and exit\n"
    "Short options bundle (-qs 4G); SIZE and DIR may be attached (-s4G, --size=4G,\n"
    "--to=DIR) or follow as the next word. -- ends the options.\n"
    "\n"
    "Progress is shown on stderr when it is a terminal. File names are bytes (UTF-8\n"
    "in a UTF-8 locale) and are printed as given, except that a line in which a name\n"
    "holds a backslash or a control character starts with a backslash, and those are\n"
    "written \\\\, \\n, \\r or \\xHH (md5sum's convention, extended to all controls).\n"
    "\n"
    "Exit status: 0 success (for verify: a merge would succeed); 1 the operation or\n"
    "the verification failed, or the output could not be written; 2 the command line\n"
    "was wrong, or cat was to write to a terminal without -f.\n";

const char kVersionText[] = "tarvelin " TARVELIN_VERSION "\n";

const char kTryHelp[] = "Try 'tarvelin --help' for more information.";

}  // namespace tarvelin::cli
