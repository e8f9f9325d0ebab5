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
for format in zip 7zip odc newc bin ustar; do
    bsdtar --format "$format" -cf "$seeds/seed.$format" .
done
bsdtar -czf "$seeds/seed.tgz" .
bsdtar -cjf "$seeds/seed.tbz" .
bsdtar -cJf "$seeds/seed.txz" .
xorriso -as mkisofs -quiet -r -J -o "$seeds/seed.iso" . 2>/dev/null
find . -type f -size -64k | head -8 | xargs gcab -c -z "$seeds/seed-mszip.cab"
find . -type f -size -64k | head -8 | xargs gcab -c "$seeds/seed-stored.cab"
mkfs.fat -C "$seeds/seed-fat12.img" 160 >/dev/null
MTOOLS_SKIP_CHECK=1 mcopy -s -i "$seeds/seed-fat12.img" ./* ::/ 2>/dev/null || true
