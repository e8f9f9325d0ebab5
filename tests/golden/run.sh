#!/bin/sh
# The golden-output test: kestrel-scan -r over the sample tree (samples/*.json)
# in each layout, compared with the expected output kept beside this script,
# where the sample root is written @SAMPLES@ (and, in JSON, a file's inode and
# ctime, which no two runs share, @INODE@ and @CTIME@). With --update the expected files
# are written instead; read their diff before committing it.
#
#   run.sh KESTREL_SCAN MAKE_SAMPLES [--update] [VARIANT...]
#
# A VARIANT is the name of an expected file, VARIANT.txt: full, or the
# kestrel-scan option of its name (brief, hide-version, json...). Without
# one, every expected file beside this script.
set -eu
scan=$1
make_samples=$2
shift 2
update=no
if [ "${1-}" = --update ]; then
    update=yes
    shift
fi
golden=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-golden.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$make_samples" "$work/samples"
if [ $# = 0 ]; then
    set -- $(cd "$golden" && ls *.txt | sed 's/\.txt$//')
fi

status=0
for variant in "$@"; do
    case $variant in
    full) option= ;;
    *) option=--$variant ;;
    esac
    if ! TZ=UTC "$scan" -r $option "$work/samples" >"$work/out"; then
        echo "kestrel-scan -r $option failed" >&2
        status=1
    fi
    sed -e "s|$work/samples|@SAMPLES@|g" \
        -e 's/"disk_file":{"inode":[0-9]*,\("size":[0-9]*,"mtime_ns":[0-9]*,\)"ctime_ns":[0-9]*}/"disk_file":{"inode":@INODE@,\1"ctime_ns":@CTIME@}/' \
        "$work/out" >"$work/$variant.txt"
    if [ $update = yes ]; then
        cp "$work/$variant.txt" "$golden/$variant.txt"
    elif ! diff -u "$golden/$variant.txt" "$work/$variant.txt"; then
        echo "The output of kestrel-scan -r $option differs from tests/golden/$variant.txt" \
            "(- expected, + this build). If the change is meant, run make golden and" \
            "review the diff." >&2
        status=1
    fi
done
exit $status
