#!/bin/sh
# The README's recipe for scanning on several machines, run on this one with
# two local job slots of GNU parallel (-S 2/:): the paths listed once, shards
# of them each read by kestrel-scan from standard input, the JSON Lines joined.
# The joined records are those of one run, sorted; run again with --reuse of
# the joined ones, the shards write the very same bytes.
#
#   parallel_recipe.sh KESTREL_SCAN MAKE_SAMPLES
set -eu
scan=$1
make_samples=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-parallel.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$make_samples" "$work/tree"
export TZ=UTC LC_ALL=C
shards() {
    find "$work/tree" -xtype f -print0 |
        parallel --pipe --recend '\0' -N 4 --keep-order -S 2/: "$scan" -f - -0 -z --json "$@"
}
shards >"$work/joined.jsonl"
"$scan" -r -z --json "$work/tree" | sort >"$work/one.jsonl"
sort "$work/joined.jsonl" | cmp - "$work/one.jsonl"
shards --reuse "$work/joined.jsonl" | cmp - "$work/joined.jsonl"
