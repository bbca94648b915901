#!/usr/bin/env bash
# Fails when a source includes a header of a layer above its own. The layers, bottom up, are the folders
# below; a folder may include its own headers and those of the folders before it in the list.
set -euo pipefail
cd "$(dirname "$0")/.."
layers=(base mailbox planning output gui app)
status=0
for index in "${!layers[@]}"; do
    layer=${layers[$index]}
    allowed=("${layers[@]:0:$((index + 1))}")
    pattern=$(IFS='|'; echo "${allowed[*]}")
    while IFS= read -r line; do
        echo "upward include: $line"
        status=1
    done < <(grep -rnE '^#include "[a-z]+/' "$layer" --include='*.cpp' --include='*.h' |
             grep -vE "#include \"($pattern)/" || true)
done
exit $status
