#!/usr/bin/env bash
# Fails, naming the files, when a C++ file differs from what clang-format
# makes of it with the project's .clang-format.
#   scripts/check-format.sh          every C++ file the repository tracks
#   scripts/check-format.sh REV      only those changed since REV
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
if (($# > 0)); then
  mapfile -t files < <(git diff --name-only --diff-filter=d "$1" -- '*.cpp' '*.h')
else
  mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
fi
((${#files[@]} == 0)) && exit 0
unformatted=()
for f in "${files[@]}"; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || unformatted+=("$f")
done
if ((${#unformatted[@]} > 0)); then
  echo "Not formatted as .clang-format says (run clang-format -i on them):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi
