#!/bin/sh
# Builds mkani, runs it on a copy of demo/frames in a scratch folder, and shows the script it
# wrote, with tabs as ^I and each CR LF line end as ^M$. The work tree gets only build-demo/.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$top" -B "$top/build-demo" -DBUILD_TESTING=OFF >/dev/null
cmake --build "$top/build-demo" --target mkani >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$top"/demo/frames/* "$scratch"/
echo "frames: $(cd "$scratch" && ls | tr '\n' ' ')"
status=0
(cd "$scratch" && "$top/build-demo/mkani") || status=$?
echo "mkani exited with status $status; main.ani holds:"
cat -A "$scratch/main.ani"
