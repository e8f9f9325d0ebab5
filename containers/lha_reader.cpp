// LHA members in the methods libarchive refuses (-lh1- to -lh3-, LArc's
// -lzs- and -lz5-, PMarc's) through liblhasa, over the same scan source: each
// is decoded whole into a MemberStore, every block charged, never past the
// length its header gives, and its CRC-16 checked.

#include <lhasa.h>
#include <map>
#include <memory>
#include <vector>

#include "arc_decoders.h"
#include "container_readers.h"
#include "member_store.h"

namespace kestrel {

namespace {

constexpr std::size_t kBlockSize = 64 * 1024;

// The archive as liblhasa reads it: forward reads and skips.
struct LhaInput {
    ScanSource& source;
    std::int64_t position = 0;

    static int Read(void* handle, void* into, std::size_t count) {
        auto& self = *static_cast<LhaInput*>(handle);
        const std::int64_t got = self.source.ReadAt(self.position, static_cast<std::uint8_t*>(into),
                                                    static_cast<std::int64_t>(count));
        if (got < 0)
            return -1;
        self.position += got;
        return static_cast<int>(got);
    }
    static int Skip(void* handle, std::size_t count) {
        static_cast<LhaInput*>(handle)->position += static_cast<std::int64_t>(count);
        return 1;
    }
    static void Close(void*) {}
};

LHAInputStreamType kInputType = {LhaInput::Read, LhaInput::Skip, LhaInput::Close};

struct StreamFree {
    void operator()(LHAInputStream* stream) const { lha_input_stream_free(stream); }
};
struct ReaderFree {
    void operator()(LHAReader* reader) const { lha_reader_free(reader); }
};

// The member's path, lower-cased: liblhasa lower-cases the upper-case names
// of MS-DOS archives, which libarchive gives as they are.
std::string LowerPath(std::string path) {
    for (char& c : path) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return path;
}

std::string PathOf(const LHAFileHeader& header) {
    return LowerPath(std::string(header.path != nullptr ? header.path : "") +
                     (header.filename != nullptr ? header.filename : ""));
}

// Decodes the member liblhasa is at and visits it as far as it goes; false
// when reading must stop.
bool ReadMember(LHAReader* reader, const LHAFileHeader& header, const std::string& path,
                MemberVisitor& visitor) {
    MemberStore store(&visitor.TemporaryFiles());
    std::vector<std::uint8_t> block(kBlockSize);
    const auto length = static_cast<std::int64_t>(header.length);
    std::uint32_t crc = 0;
    std::string failure;
    while (store.Size() < length && failure.empty()) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::int64_t>(kBlockSize, length - store.Size()));
        const std::size_t got = lha_reader_read(reader, block.data(), want);
        if (got == 0) {
            failure = "shorter than its header says, or damaged";
            break;
        }
        const auto count = static_cast<std::int64_t>(got);
        if (visitor.Stopping() || !visitor.Charge(count))
            break;
        crc = Crc16(crc, block.data(), count);
        if (!store.Append(block.data(), count))
            failure = store.Error();
    }
    if (failure.empty() && store.Size() == length && crc != header.crc)
        failure = "CRC does not match";
    StoredMember member(store);
    const bool goOn = visitor.Visit(path, header.timestamp, member);
    if (!failure.empty() && !visitor.Stopping())
        visitor.Problem(path + ": " + failure);
    return goOn && !visitor.Stopping();
}

} // namespace

void ReadLhaMembers(ScanSource& archive, const std::vector<std::string>& paths,
                    MemberVisitor& visitor) {
    LhaInput input{archive};
    const std::unique_ptr<LHAInputStream, StreamFree> stream(
        lha_input_stream_new(&kInputType, &input));
    const std::unique_ptr<LHAReader, ReaderFree> reader(stream ? lha_reader_new(stream.get())
                                                               : nullptr);
    std::map<std::string, std::string> wanted; // the paths as libarchive gives them, by LowerPath
    for (const std::string& path : paths)
        wanted.emplace(LowerPath(path), path);
    while (reader && !wanted.empty() && !visitor.Stopping()) {
        const LHAFileHeader* header = lha_reader_next_file(reader.get());
        if (header == nullptr)
            break;
        const auto path = wanted.find(PathOf(*header));
        if (path == wanted.end())
            continue;
        const std::string name = path->second;
        wanted.erase(path);
        if (!ReadMember(reader.get(), *header, name, visitor))
            return;
    }
    if (visitor.Stopping())
        return;
    for (const auto& [lower, path] : wanted)
        visitor.Problem(path + ": its method is read neither by libarchive nor by liblhasa");
}

} // namespace kestrel
