// Looking inside a zip of many program files against what libarchive alone
// takes to decompress it: the cost of scanning the members, of testing each
// for being a container and of keeping the bytes the scanner reads.
//
// The zip is made once per run from generated program files: a DOS header,
// then bytes of which three in four are among sixteen common opcode bytes and
// the fourth any (about as compressible as code), with a version line and a
// copyright notice among them.

#include <archive.h>
#include <archive_entry.h>
#include <array>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "look_inside.h"
#include "quill_scan.h"
#include "sample_builder.h"
#include "temp_tree.h"

namespace {

constexpr int kMembers = 600;
constexpr std::size_t kMemberSize = 160 * 1024;

class DiscardingSink : public kestrel::ReportSink {
public:
    void AddLine(const std::string& line) override { benchmark::DoNotOptimize(line.data()); }
};

kestrel::fixtures::Bytes ProgramFile(int index) {
    kestrel::fixtures::ByteWriter image(kMemberSize);
    kestrel::fixtures::PutMzHeader(image, 0x1C, 0);
    static constexpr std::array<std::uint8_t, 16> kCommon = {0x00, 0xFF, 0x8B, 0x89, 0x48, 0xE8,
                                                             0x0F, 0x85, 0x74, 0x75, 0x83, 0xC3,
                                                             0x24, 0x44, 0x4C, 0x01};
    std::uint32_t state = 2463534242u + static_cast<std::uint32_t>(index);
    for (std::size_t i = 64; i < kMemberSize; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const bool common = (state & 3) != 0;
        image.PutU8(i,
                    common ? kCommon[(state >> 8) & 15] : static_cast<std::uint8_t>(state >> 24));
    }
    image.PutText(kMemberSize / 2, "Setup Utility version 2." + std::to_string(index % 90));
    image.PutText(kMemberSize - 200, "(C) Copyright 1994 Example Software");
    return image.Data();
}

// The zip, made once.
const std::string& ZipPath() {
    static const kestrel::fixtures::TempTree tree;
    static const std::string path = [] {
        const std::string made = tree.RootWithSeparator() + "PROGRAMS.ZIP";
        archive* writer = archive_write_new();
        archive_write_set_format_zip(writer);
        archive_write_open_filename(writer, made.c_str());
        archive_entry* entry = archive_entry_new();
        for (int i = 0; i < kMembers; ++i) {
            const auto bytes = ProgramFile(i);
            archive_entry_clear(entry);
            archive_entry_set_pathname(
                entry,
                ("DISK" + std::to_string(i / 100) + "/PROG" + std::to_string(i) + ".EXE").c_str());
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, 0644);
            archive_entry_set_size(entry, static_cast<la_int64_t>(bytes.size()));
            archive_write_header(writer, entry);
            archive_write_data(writer, bytes.data(), bytes.size());
        }
        archive_entry_free(entry);
        archive_write_free(writer);
        return made;
    }();
    return path;
}

void BM_DecompressZipWithLibarchive(benchmark::State& state) {
    const std::string& path = ZipPath();
    std::int64_t bytes = 0;
    for (auto _ : state) {
        archive* reader = archive_read_new();
        archive_read_support_format_zip_seekable(reader);
        archive_read_open_filename(reader, path.c_str(), 64 * 1024);
        archive_entry* entry = nullptr;
        while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
            const void* block = nullptr;
            std::size_t size = 0;
            la_int64_t offset = 0;
            while (archive_read_data_block(reader, &block, &size, &offset) == ARCHIVE_OK)
                bytes += static_cast<std::int64_t>(size);
        }
        archive_read_free(reader);
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_DecompressZipWithLibarchive)->Unit(benchmark::kMillisecond);

void BM_LookInsideZip(benchmark::State& state) {
    const std::string& path = ZipPath();
    DiscardingSink sink;
    kestrel::QuillScan scanner(sink);
    std::int64_t members = 0;
    kestrel::ContainerHooks hooks;
    hooks.member = [&](const std::string&, bool) { ++members; };
    kestrel::ContainerExplorer explorer(scanner, hooks);
    for (auto _ : state) {
        const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        explorer.LookInsideFile(descriptor, path);
        ::close(descriptor);
    }
    state.SetBytesProcessed(members * static_cast<std::int64_t>(kMemberSize));
    state.SetLabel("bytes = member bytes");
}
BENCHMARK(BM_LookInsideZip)->Unit(benchmark::kMillisecond);

} // namespace
