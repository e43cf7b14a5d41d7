#!/usr/bin/env bash
# Lists the C++ files under src/, tools/ and tests/ that clang-format (version 14, the tree's
# .clang-format) would change. Exits 1 when there is any, 2 when clang-format 14 is missing.
# Give files as arguments to check only those.
set -euo pipefail
cd "$(dirname "$0")/.."

formatter=""
for candidate in clang-format-14 clang-format; do
  if command -v "$candidate" >/dev/null && "$candidate" --version | grep -q 'version 14\.'; then
    formatter=$candidate
    break
  fi
done
if [[ -z "$formatter" ]]; then
  echo "check-format: clang-format 14 is not installed" >&2
  exit 2
fi

if [[ $# -gt 0 ]]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files 'src/*.cpp' 'src/*.h' 'tools/*.cpp' 'tools/*.h' 'tests/*.cpp' 'tests/*.h')
fi

# One run over every file is quick; only when it finds a stray file are the files named one by one.
if "$formatter" --style="file:$PWD/.clang-format" --dry-run -Werror "${files[@]}" >/dev/null 2>&1; then
  exit 0
fi
unformatted=0
for file in "${files[@]}"; do
  if ! "$formatter" --style="file:$PWD/.clang-format" --dry-run -Werror "$file" >/dev/null 2>&1; then
    echo "$file"
    unformatted=$((unformatted + 1))
  fi
done
if [[ $unformatted -gt 0 ]]; then
  echo "check-format: $unformatted of ${#files[@]} files are not formatted (clang-format -i <file> formats one)" >&2
  exit 1
fi
