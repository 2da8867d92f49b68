#!/bin/bash
# SPDX-License-Identifier: MIT
# The tool is the library's first user: it reaches the library through the
# public header alone. Prints every include of its sources that names a file
# of the project outside cli/ and tarvelin/; exits non-zero when there is one.
#
# usage: check_tool_includes.sh SOURCE_FOLDER
set -u -o pipefail
top=${1:?the source folder}
found=$(grep -Hn '^#include "' "$top"/cli/*.cc "$top"/cli/*.h | grep -v '#include "\(cli\|tarvelin\)/')
if [[ -n $found ]]; then
  echo "FAIL: the tool includes more than the public header:"
  echo "$found"
  exit 1
fi
echo "OK: the tool includes only cli/ and tarvelin/"
