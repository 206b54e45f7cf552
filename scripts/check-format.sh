#!/usr/bin/env bash
# Fails when a C++ file differs from what the repository's clang-format file asks for.
set -euo pipefail
cd "$(dirname "$0")/.."
# Without git, or outside a repository, nothing would be checked: that is a failure, not a pass.
command -v git >/dev/null || { echo "check-format: git is not installed" >&2; exit 1; }
files=$(git ls-files '*.cpp' '*.h') || { echo "check-format: not a git repository" >&2; exit 1; }
[ -n "$files" ] || { echo "check-format: no C++ files found" >&2; exit 1; }
# shellcheck disable=SC2086
clang-format --dry-run --Werror $files
