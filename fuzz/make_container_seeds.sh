#!/bin/sh
# Seeds for fuzz-containers: the sample files packed by Debian's archivers and
# file system tools into every container format they write, each small.
# Usage: make_container_seeds.sh SAMPLES-FOLDER SEEDS-FOLDER
set -e
samples=$(realpath "$1")
mkdir -p "$2"
seeds=$(realpath "$2")
cd "$samples"
cp -r . "$seeds/"
# The large sparse sample stays out of the containers: a seed is at most 1 MiB.
# Names that are not UTF-8 get a warning from the formats that store Unicode.
for format in zip 7zip odc newc bin ustar; do
    bsdtar --format "$format" --exclude ARCHIVE.DAT -cf "$seeds/seed.$format" . 2>/dev/null
done
bsdtar --exclude ARCHIVE.DAT -czf "$seeds/seed.tgz" . 2>/dev/null
bsdtar --exclude ARCHIVE.DAT -cjf "$seeds/seed.tbz" . 2>/dev/null
bsdtar --exclude ARCHIVE.DAT -cJf "$seeds/seed.txz" . 2>/dev/null
xorriso -as mkisofs -quiet -r -J -m ARCHIVE.DAT -o "$seeds/seed.iso" . 2>/dev/null
find . -type f -size -64k | head -8 | xargs gcab -c -z "$seeds/seed-mszip.cab"
find . -type f -size -64k | head -8 | xargs gcab -c "$seeds/seed-stored.cab"
mkfs.fat -C "$seeds/seed-fat12.img" 160 >/dev/null
MTOOLS_SKIP_CHECK=1 mcopy -s -i "$seeds/seed-fat12.img" ./* ::/ 2>/dev/null || true

# Hostile seeds: what costs more than it should or says less than it must.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# A cabinet whose files are listed backwards (libmspack then decompresses the
# folder from its start for each), and one whose files all overlap far in.
for i in 1 2 3 4 5 6 7 8; do
    yes "line $i of a file in a cabinet" | head -c 20000 > "F$i.TXT"
done
gcab -c -z listed.cab F?.TXT
cp listed.cab overlapping.cab
files=$(od -An -tu4 -j16 -N4 listed.cab)
for i in 7 6 5 4 3 2 1 0; do
    dd if=listed.cab bs=1 skip=$((files + i * 23)) count=23 status=none
done > list
dd if=list of=listed.cab bs=1 seek=$((files)) conv=notrunc status=none
cp listed.cab "$seeds/seed-listed-backwards.cab"
for i in 0 1 2 3 4 5 6 7; do
    printf '\1\0\0\0\360\111\2\0' | dd of=overlapping.cab bs=1 seek=$((files + i * 23)) conv=notrunc \
        status=none
done
cp overlapping.cab "$seeds/seed-overlapping.cab"
# SZDD cut short of the length its header says, and SZDD of an unknown method.
printf 'SZDD\210\360\047\063A_\0\020\0\0\377ABCDEFGH' > "$seeds/seed-cut.sz_"
printf 'SZDD\210\360\047\063B_\010\0\0\0\377ABCDEFGH' > "$seeds/seed-method.sz_"
# A compressed stream of unknown length, text that expands a thousandfold.
yes "a line of text in a stream" | head -c 1048576 | gzip -9 > "$seeds/seed-text.gz"
