#!/usr/bin/env bash
# The suite must pass wherever root clones the repository, /root (mode 700 on
# Debian) included: clones the repository into a folder of mode 700 and runs
# the lab script's own test from there.
#   private_clone_test.sh <source folder>
set -euo pipefail

source_dir="${1:?source folder}"
# Skips, or fails under make check, as every lab test does where no lab can
# be built.
"$source_dir/tests/lab/lab.sh" --check || exit $?

private="$(mktemp -d)"
trap 'rm -rf "$private"' EXIT
chmod 700 "$private"
if git -C "$source_dir" rev-parse --git-dir >/dev/null 2>&1; then
    git clone --quiet --no-hardlinks "$source_dir" "$private/clone"
    # What is not committed yet belongs to the run too.
    cp "$source_dir/tests/lab/lab.sh" "$source_dir/tests/lab/lab_script_test.sh" \
        "$private/clone/tests/lab/"
else
    mkdir -p "$private/clone/tests"
    cp -a "$source_dir/tests/lab" "$private/clone/tests/"
fi
"$private/clone/tests/lab/lab_script_test.sh" "$private/clone/tests/lab/lab.sh"
