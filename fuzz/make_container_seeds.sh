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
