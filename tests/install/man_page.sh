#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The manual page tells what the tool does: every command and option that
# `tarvelin --help` and the README's option table name appears in it, its
# title carries the version that --version prints, and groff formats it
# without a warning.
#
# usage: man_page.sh TOOL MAN_PAGE README
set -euo pipefail
tool=$1
page=$2
readme=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The page's text as a reader sees it, with roff's escaped hyphens plain.
text=$(sed 's/\\-/-/g' "$page")
help=$("$tool" --help)

commands=$(sed -n '/^Commands:/,/^$/p' <<<"$help" | awk '/^  [a-z]/ { print $1 }')
options=$( (grep -oE '(^|[ ,])--?[a-z][a-z-]*' <<<"$help" | tr -d ' ,'
            sed -n '/^### Options/,/^### /p' "$readme" | grep -oE '`--?[a-z][a-z-]*' | tr -d '`') |
          sort -u)
[[ -n $commands && -n $options ]] || fail "found no commands or options in --help"
for word in $commands; do
  grep -qE "^\.BI? $word( |$)" <<<"$text" || fail "the command $word has no entry"
done
for option in $options; do
  grep -qF -- "$option" <<<"$text" || fail "the option $option is not described"
done
echo "commands: $(echo $commands); options: $(echo $options)"

version=$("$tool" --version)
grep -qF "\"Tarvelin ${version#tarvelin }\"" "$page" || fail "the title does not name $version"

warnings=$(groff -man -ww -z -Tutf8 "$page" 2>&1 || true)
[[ -z $warnings ]] || fail "groff: $warnings"

((failures == 0)) || exit 1
echo "OK: the manual page matches the tool"
