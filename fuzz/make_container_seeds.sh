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

# Hostile containers: damage libarchive only warns about, a zip bomb's size,
# hard links, central directory entries sharing a header, an archiver's own
# program. $1 file, $2 offset: four bytes DE 00 00 00 written there.
poke() { printf '\336\0\0\0' | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
directory() { od -An -tu4 -j$(($(stat -c%s "$1") - 6)) -N4 "$1"; }
small=$(find . -type f -size -64k | head -2)
bsdtar --format zip -cf "$seeds/hostile-crc.zip" $small
poke "$seeds/hostile-crc.zip" $(($(directory "$seeds/hostile-crc.zip") + 16))
bsdtar --format zip -cf "$seeds/hostile-longer.zip" $small
poke "$seeds/hostile-longer.zip" 22
poke "$seeds/hostile-longer.zip" $(($(directory "$seeds/hostile-longer.zip") + 24))
bsdtar --format zip --options zip:compression=store -cf "$seeds/hostile-shared.zip" $small
cd_at=$(directory "$seeds/hostile-shared.zip")
second=$((cd_at + 46 + $(od -An -tu2 -j$((cd_at + 28)) -N2 "$seeds/hostile-shared.zip") + \
    $(od -An -tu2 -j$((cd_at + 30)) -N2 "$seeds/hostile-shared.zip") + \
    $(od -An -tu2 -j$((cd_at + 32)) -N2 "$seeds/hostile-shared.zip")))
printf '\0\0\0\0' | dd of="$seeds/hostile-shared.zip" bs=1 seek=$((second + 42)) conv=notrunc \
    status=none
find . -type f -size -64k | head -1 | xargs cat | gzip -c > "$seeds/hostile-crc.gz"
poke "$seeds/hostile-crc.gz" $(($(stat -c%s "$seeds/hostile-crc.gz") - 8))
links=$(mktemp -d)
find . -type f -size -64k | head -1 | xargs -I{} cp {} "$links/FIRST"
ln "$links/FIRST" "$links/SECOND"
for format in newc ustar; do
    bsdtar --format "$format" -cf "$seeds/hostile-links.$format" -C "$links" FIRST SECOND
done
rm -r "$links"
# A DOS program of 1168 bytes whose code holds "-lh5-", with "-lh5-" after it too.
{ printf 'MZ\220\0\3\0\0\0\4\0'; head -c 90 /dev/zero; printf 'xx-lh5-'; head -c 1069 /dev/zero
  printf '\26\0-lh5-'; head -c 40 /dev/zero; } > "$seeds/hostile-archiver.exe"
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
