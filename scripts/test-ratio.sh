#!/usr/bin/env bash
# Prints the size of the tests against the product code: non-blank lines that are not // comments, of the
# C++ files git tracks; tests/ against everything but tests/ and bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
count() { xargs -r cat | grep -cvE '^\s*(//.*)?$' || true; }
tests=$(git ls-files -- tests | grep -E '\.(cpp|h)$' | count)
product=$(git ls-files | grep -E '\.(cpp|h)$' | grep -vE '^(tests|bench)/' | count)
awk -v t="$tests" -v p="$product" 'BEGIN { printf "tests %d lines, product %d lines: %.2f\n", t, p, t / p }'
