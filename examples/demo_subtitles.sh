#!/usr/bin/env bash
# Runs the subtitle demo: demo_subtitles.sh <repo-root> <build-dir> [args ignored]
# Reads examples/sample_subtitles.txt and writes the records back into the build folder.
set -euo pipefail
root=$(cd "$1" && pwd)
build=$2
case $build in /*) ;; *) build=$root/$build ;; esac
echo "== subtitle demo"
"$build/examples/subtitle_demo" "$root/examples/sample_subtitles.txt" "$build/examples/subtitles_written.txt"
cmp "$root/examples/sample_subtitles.txt" "$build/examples/subtitles_written.txt"
echo "the written file is byte for byte the sample file"
