#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Every source file says at its top that it is under the MIT licence, with an
# SPDX identifier in its own comment syntax (after a "#!" line).
#
#   tools/spdx.sh          adds the identifier where it is missing
#   tools/spdx.sh --check  lists the files without it; exits 1 if any
#
# Sources: C and C++, CMake, shell, and the templates and export lists that
# builds read; not data (fuzz corpora, dictionaries) or Markdown.
set -euo pipefail
cd "$(dirname "$0")/.."
check=false
[[ ${1:-} == --check ]] && check=true
identifier='SPDX-License-Identifier: MIT'

# The comment that carries the identifier in FILE's language.
comment_for() {
  case $1 in
    *.c | *.h | *.cc | *.rc.in) echo "// $identifier" ;;
    *.map) echo "/* $identifier */" ;;
    *.def.in | *.def) echo "; $identifier" ;;
    *.1) echo ".\\\" $identifier" ;;
    *) echo "# $identifier" ;;
  esac
}

sources() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files --cached --others --exclude-standard
  else
    find . -path ./.git -prune -o -path './build*' -prune -o -type f -print | sed 's|^\./||'
  fi | grep -E '(\.(c|h|cc|sh|cmake|map|in|1)|CMakeLists\.txt|^\.ci/run)$' | grep -v '^fuzz/corpus/'
}

missing=0
while IFS= read -r file; do
  [[ -f $file ]] || continue
  head -n 3 "$file" | grep -qF "$identifier" && continue
  if $check; then
    echo "no SPDX identifier: $file"
    missing=$((missing + 1))
    continue
  fi
  line=$(comment_for "$file")
  if head -n 1 "$file" | grep -q '^#!'; then
    sed -i "1a $(printf '%s' "$line" | sed 's/\\/\\\\/g')" "$file"
  else
    sed -i "1i $(printf '%s' "$line" | sed 's/\\/\\\\/g')" "$file"
  fi
  echo "added: $file"
done < <(sources)
if $check && ((missing > 0)); then
  echo "$missing file(s) without an SPDX identifier; tools/spdx.sh adds them"
  exit 1
fi
exit 0
