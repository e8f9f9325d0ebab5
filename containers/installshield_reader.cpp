// InstallShield 5 and later sets: a header (data1.hdr) listing the files of
// each file group, and cabinets (data1.cab, data2.cab...) beside it holding
// their bytes. The header is parsed and checked whole first
// (installshield_header.cpp); the cabinets are the files the visitor finds
// beside the header, on disk or in the container that holds the set.
// A cabinet: the common header of 20 bytes, then its volume header (40
// bytes up to version 5, 64 from version 6): data_offset, an unknown field,
// first_file_index, last_file_index, then for the first and the last file
// (which may go on in the next or come from the previous cabinet) their
// offset, expanded and compressed size (32-bit up to version 5, 64-bit
// after). A file's bytes lie at its data_offset; compressed, they are chunks
// of a 16-bit length and raw deflate, each inflated on its own. Obfuscated
// bytes are XORed and rotated with a count of the bytes of the file.

#include <algorithm>
#include <array>
#include <memory>
#include <openssl/evp.h>
#include <vector>
#include <zlib.h>

#include "container_readers.h"
#include "installshield_header.h"
#include "member_store.h"

namespace kestrel {

namespace {

// The header of the largest sets of the time (some thousands of files)
// is a few MiB.
constexpr std::int64_t kMaxHeaderLength = 64 * 1024 * 1024;
// Sets came on floppies: a few dozen cabinets at most.
constexpr std::uint32_t kMaxVolumes = 999;
constexpr std::int64_t kVolumeHeaderLengthV5 = 40;
constexpr std::int64_t kVolumeHeaderLengthV6 = 64;
// InstallShield compresses a file in blocks that inflate to at most 64 KiB
// (libunshield's buffer): a chunk giving more is damaged.
constexpr std::size_t kMaxChunkOutput = 64 * 1024;
constexpr std::int64_t kBlockSize = 64 * 1024;

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

// The name before a set's volume numbers: "data" of "data1.hdr", as far as
// its first dot or digit.
std::string SetPrefix(const std::string& name) {
    const std::size_t end = name.find_first_of(".0123456789");
    return name.substr(0, end);
}

// A file's name in the case of the header's: "DATA1.CAB" beside "DATA1.HDR".
std::string VolumeName(const std::string& headerName, std::uint32_t number,
                       const std::string& extension) {
    const bool upper = !headerName.empty() && headerName.back() >= 'A' && headerName.back() <= 'Z';
    std::string suffix = extension;
    if (upper)
        std::transform(suffix.begin(), suffix.end(), suffix.begin(),
                       [](char c) { return static_cast<char>(c - 'a' + 'A'); });
    return SetPrefix(headerName) + std::to_string(number) + "." + suffix;
}

// One cabinet of the set and its volume header.
struct Volume {
    std::string name;
    std::unique_ptr<ScanSource> source;
    std::uint64_t first_file_index = 0;
    std::uint64_t last_file_index = 0;
    std::uint64_t first_file_offset = 0;
    std::uint64_t first_file_size_expanded = 0;
    std::uint64_t first_file_size_compressed = 0;
    std::uint64_t last_file_offset = 0; // 0: no file goes on in the next cabinet
    std::uint64_t last_file_size_expanded = 0;
    std::uint64_t last_file_size_compressed = 0;
};

std::uint64_t Le(const std::uint8_t* p, int count) {
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

// The cabinets of a set, opened as they are first needed.
class Cabinets {
public:
    Cabinets(MemberVisitor& visitor, int major) : m_visitor(visitor), m_major(major) {}

    // Cabinet `number`; null when it cannot be read, Failure() saying why.
    Volume* Open(std::uint32_t number) {
        if (number == 0 || number > kMaxVolumes) {
            m_failure = "in cabinet " + std::to_string(number) + ", which no set has";
            return nullptr;
        }
        if (m_volumes.size() <= number)
            m_volumes.resize(number + 1);
        if (!m_volumes[number])
            m_volumes[number] = Load(number);
        return m_volumes[number].get();
    }
    int Major() const { return m_major; }
    const std::string& Failure() const { return m_failure; }

private:
    std::unique_ptr<Volume> Load(std::uint32_t number) {
        auto volume = std::make_unique<Volume>();
        volume->name = VolumeName(m_visitor.ContainerName(), number, "cab");
        volume->source = m_visitor.OpenBeside(volume->name);
        if (!volume->source) {
            m_failure = "its cabinet " + volume->name + " is missing";
            return nullptr;
        }
        const bool v5 = m_major <= 5;
        const std::int64_t length =
            kInstallShieldCommonLength + (v5 ? kVolumeHeaderLengthV5 : kVolumeHeaderLengthV6);
        std::array<std::uint8_t, kInstallShieldCommonLength + kVolumeHeaderLengthV6> head{};
        InstallShieldCommon common;
        if (volume->source->ReadAt(0, head.data(), length) != length ||
            !ParseInstallShieldCommon(head, common)) {
            m_failure = volume->name + " is no InstallShield cabinet";
            return nullptr;
        }
        const std::uint8_t* p = head.data() + kInstallShieldCommonLength;
        volume->first_file_index = Le(p + 8, 4);
        volume->last_file_index = Le(p + 12, 4);
        const int width = v5 ? 4 : 8;
        volume->first_file_offset = Le(p + 16, width);
        volume->first_file_size_expanded = Le(p + 16 + width, width);
        volume->first_file_size_compressed = Le(p + 16 + 2 * width, width);
        volume->last_file_offset = Le(p + 16 + 3 * width, width);
        volume->last_file_size_expanded = Le(p + 16 + 4 * width, width);
        volume->last_file_size_compressed = Le(p + 16 + 5 * width, width);
        if (volume->last_file_offset == 0x7FFFFFFF)
            volume->last_file_offset = 0;
        return volume;
    }

    MemberVisitor& m_visitor;
    int m_major;
    std::vector<std::unique_ptr<Volume>> m_volumes;
    std::string m_failure;
};

// The stored bytes of one file as they run on through the cabinets: a
// piece in the cabinet it starts in, and when it is split, pieces in the
// next ones, each inside its cabinet.
class FileData {
public:
    FileData(Cabinets& cabinets, const InstallShieldFile& file)
        : m_cabinets(cabinets), m_file(file),
          m_left((file.flags & kInstallShieldCompressed) != 0 ? file.compressed_size
                                                              : file.expanded_size) {}

    // False when the `count` bytes are not all there; Failure() says why.
    bool Read(std::uint8_t* into, std::int64_t count) {
        while (count > 0) {
            if (m_pieceLeft == 0 && !NextPiece())
                return false;
            const std::int64_t part = std::min<std::int64_t>(count, m_pieceLeft);
            if (m_volume->source->ReadAt(m_at, into, part) != part) {
                m_failure = m_volume->name + " cut short";
                return false;
            }
            Deobfuscate(into, part);
            into += part;
            count -= part;
            m_at += part;
            m_pieceLeft -= part;
        }
        return true;
    }
    const std::string& Failure() const { return m_failure; }

private:
    bool Compressed() const { return (m_file.flags & kInstallShieldCompressed) != 0; }

    bool NextPiece() {
        if (m_left == 0) {
            m_failure = "shorter than its header says";
            return false;
        }
        if (m_volume == nullptr ? !FirstVolume() : !NextVolume())
            return false;
        std::uint64_t offset = m_file.data_offset;
        std::uint64_t length = m_left;
        // A split file's piece in this cabinet is its last file's, or in a
        // cabinet it goes on in, its first file's.
        const bool v5 = m_cabinets.Major() <= 5;
        const std::uint64_t lastSize =
            Compressed() ? m_volume->last_file_size_compressed : m_volume->last_file_size_expanded;
        const bool split = (m_file.flags & kInstallShieldSplit) != 0 ||
                           (v5 && lastSize != m_file.compressed_size) || m_continued;
        if (split && m_file.index == m_volume->last_file_index && m_volume->last_file_offset != 0) {
            offset = m_volume->last_file_offset;
            length = lastSize;
        } else if (m_continued) {
            if (m_file.index != m_volume->first_file_index) {
                m_failure = "not continued in " + m_volume->name;
                return false;
            }
            offset = m_volume->first_file_offset;
            length = Compressed() ? m_volume->first_file_size_compressed
                                  : m_volume->first_file_size_expanded;
        }
        length = std::min(length, m_left);
        const auto size = static_cast<std::uint64_t>(m_volume->source->Length());
        if (length == 0 || offset > size || length > size - offset) {
            m_failure = length == 0 ? "empty in " + m_volume->name
                                    : "its bytes lie past the end of " + m_volume->name;
            return false;
        }
        m_at = static_cast<std::int64_t>(offset);
        m_pieceLeft = static_cast<std::int64_t>(length);
        m_left -= length;
        m_continued = true;
        return true;
    }

    // Up to version 5 the header does not say which cabinet a file is in:
    // the first whose files reach its index.
    bool FirstVolume() {
        m_number = std::max<std::uint32_t>(m_file.volume, 1);
        while ((m_volume = m_cabinets.Open(m_number)) != nullptr) {
            if (m_cabinets.Major() > 5 || m_file.index <= m_volume->last_file_index)
                return true;
            ++m_number;
        }
        m_failure = m_cabinets.Failure();
        return false;
    }

    bool NextVolume() {
        m_volume = m_cabinets.Open(++m_number);
        if (m_volume == nullptr)
            m_failure = "split, and " + m_cabinets.Failure();
        return m_volume != nullptr;
    }

    void Deobfuscate(std::uint8_t* bytes, std::int64_t count) {
        if ((m_file.flags & kInstallShieldObfuscated) == 0)
            return;
        for (std::int64_t i = 0; i < count; ++i, ++m_seed) {
            const auto x = static_cast<std::uint8_t>(bytes[i] ^ 0xD5);
            const auto rotated = static_cast<std::uint8_t>(x >> 2 | x << 6);
            bytes[i] = static_cast<std::uint8_t>(rotated - m_seed % 0x47);
        }
    }

    Cabinets& m_cabinets;
    const InstallShieldFile& m_file;
    std::uint64_t m_left; // stored bytes not yet in a piece
    Volume* m_volume = nullptr;
    std::uint32_t m_number = 0;
    bool m_continued = false;
    std::int64_t m_at = 0;
    std::int64_t m_pieceLeft = 0;
    std::uint32_t m_seed = 0;
    std::string m_failure;
};

// Raw deflate, reset for each chunk.
class Inflater {
public:
    Inflater() { m_ready = inflateInit2(&m_stream, -MAX_WBITS) == Z_OK; }
    ~Inflater() {
        if (m_ready)
            inflateEnd(&m_stream);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    z_stream* Stream() { return m_ready && inflateReset(&m_stream) == Z_OK ? &m_stream : nullptr; }

private:
    z_stream m_stream{};
    bool m_ready = false;
};

// Inflates one chunk into `output`; false when it is damaged, gives
// nothing (each costs a read, and a crafted file of empty chunks would
// take long for nothing) or more than `room` bytes.
bool InflateChunk(Inflater& inflater, std::vector<std::uint8_t>& chunk, std::size_t room,
                  std::vector<std::uint8_t>& output) {
    z_stream* stream = inflater.Stream();
    if (stream == nullptr || chunk.empty())
        return false;
    output.resize(room + 1);
    stream->next_in = chunk.data();
    stream->avail_in = static_cast<uInt>(chunk.size());
    stream->next_out = output.data();
    stream->avail_out = static_cast<uInt>(output.size());
    // A chunk ends with a final block, or (as InstallShield writes them)
    // with an empty stored block and no final one.
    int result = Z_OK;
    while (result == Z_OK && stream->avail_in > 0 && stream->avail_out > 0)
        result = inflate(stream, Z_SYNC_FLUSH);
    const bool whole = result == Z_STREAM_END || (result == Z_OK && stream->avail_in == 0) ||
                       (result == Z_BUF_ERROR && stream->avail_in == 0);
    output.resize(stream->total_out);
    return whole && !output.empty() && output.size() <= room;
}

// The bytes of a file, decoded, into `store`; "" or what went wrong.
std::string Decode(FileData& data, const InstallShieldFile& file, MemberStore& store,
                   MemberVisitor& visitor, EVP_MD_CTX* md5) {
    const auto length = static_cast<std::int64_t>(file.expanded_size);
    const bool compressed = (file.flags & kInstallShieldCompressed) != 0;
    std::vector<std::uint8_t> input;
    std::vector<std::uint8_t> output;
    Inflater inflater;
    while (store.Size() < length) {
        const std::int64_t room = length - store.Size();
        if (compressed) {
            std::array<std::uint8_t, 2> size{};
            if (!data.Read(size.data(), 2))
                return data.Failure();
            input.resize(size[0] | std::size_t{size[1]} << 8);
            if (!data.Read(input.data(), std::ssize(input)))
                return data.Failure();
            if (!InflateChunk(inflater, input, std::min<std::size_t>(kMaxChunkOutput, room),
                              output))
                return "damaged data";
        } else {
            output.resize(static_cast<std::size_t>(std::min(room, kBlockSize)));
            if (!data.Read(output.data(), std::ssize(output)))
                return data.Failure();
        }
        if (visitor.Stopping() || !visitor.Charge(std::ssize(output)))
            return {};
        EVP_DigestUpdate(md5, output.data(), output.size());
        if (!store.Append(output.data(), std::ssize(output)))
            return store.Error();
    }
    return {};
}

// Reads one file and visits it as far as it goes; false when reading must stop.
bool ReadFile(Cabinets& cabinets, const InstallShieldFile& file, MemberVisitor& visitor) {
    MemberStore store(&visitor.TemporaryFiles());
    std::string failure;
    const std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> md5(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!md5 || EVP_DigestInit_ex(md5.get(), EVP_md5(), nullptr) != 1) {
        failure = "no MD5 digest";
    } else {
        FileData data(cabinets, file);
        failure = Decode(data, file, store, visitor, md5.get());
        std::array<std::uint8_t, 16> digest{};
        const bool checked = std::any_of(file.md5.begin(), file.md5.end(),
                                         [](std::uint8_t byte) { return byte != 0; });
        if (failure.empty() && !visitor.Stopping() && checked &&
            (EVP_DigestFinal_ex(md5.get(), digest.data(), nullptr) != 1 || digest != file.md5))
            failure = "MD5 does not match";
    }
    StoredMember member(store);
    const bool goOn = visitor.Visit(file.path, visitor.ContainerTime(), member);
    if (!failure.empty() && !visitor.Stopping())
        visitor.Problem(file.path + ": " + failure);
    return goOn && !visitor.Stopping();
}

// A cabinet of data alone is read through its set's header: said only when
// there is none beside it.
void ReadDataCabinet(MemberVisitor& visitor) {
    const std::string& name = visitor.ContainerName();
    const std::string header = VolumeName(name, 1, "hdr");
    if (visitor.OpenBeside(header))
        return;
    // A set without a header file keeps its descriptor in its first cabinet.
    const std::string first = VolumeName(name, 1, "cab");
    if (Lower(first) != Lower(name) && visitor.OpenBeside(first))
        return;
    visitor.Problem("InstallShield cabinet without its header " + header + "; not read");
}

} // namespace

void ReadInstallShield(ScanSource& container, MemberVisitor& visitor) {
    std::array<std::uint8_t, kInstallShieldCommonLength> head{};
    InstallShieldCommon common;
    if (container.ReadAt(0, head.data(), std::ssize(head)) != std::ssize(head) ||
        !ParseInstallShieldCommon(head, common)) {
        visitor.Problem("the bytes cannot be read");
        return;
    }
    if (!common.HasDescriptor()) {
        ReadDataCabinet(visitor);
        return;
    }
    const std::string& name = visitor.ContainerName();
    // A first cabinet that holds the descriptor too is read through the header.
    if (Lower(name).ends_with(".cab") && visitor.OpenBeside(VolumeName(name, 1, "hdr")))
        return;
    if (container.Length() > kMaxHeaderLength) {
        visitor.Problem("InstallShield header larger than " + SizeText(kMaxHeaderLength) +
                        "; not read");
        return;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(container.Length()));
    if (container.ReadAt(0, bytes.data(), std::ssize(bytes)) != std::ssize(bytes)) {
        visitor.Problem("the bytes cannot be read");
        return;
    }
    InstallShieldSet set;
    if (const std::string fault = ParseInstallShieldHeader(bytes, set); !fault.empty()) {
        visitor.Problem("InstallShield header " + fault + "; not read");
        return;
    }
    Cabinets cabinets(visitor, set.common.major);
    if (!set.files.empty() && cabinets.Open(1) == nullptr) {
        visitor.Problem("InstallShield set not read: " + cabinets.Failure());
        return;
    }
    for (const InstallShieldFile& file : set.files) {
        if (visitor.Stopping())
            return;
        if (!file.fault.empty())
            visitor.Problem(file.path + ": " + file.fault + "; not read");
        else if (!ReadFile(cabinets, file, visitor))
            return;
    }
}

} // namespace kestrel
