// Archives through libarchive: zip (also behind a self-extracting stub), 7z,
// RAR, LHA, ISO 9660, tar, cpio, and single gzip, bzip2 or xz streams. The
// container is read through callbacks over its scan source; a member's bytes
// are decompressed as far as the scanner asks for them and kept in a
// MemberStore only as far as the scanner may go back into them, and the rest
// is decompressed after the scan without being kept, so that damage is found
// and every byte counts against the expansion limit.

#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <array>
#include <cerrno>
#include <clocale>
#include <functional>
#include <locale.h>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>
#include <zlib.h>

#include "container_kind.h"
#include "container_readers.h"
#include "member_store.h"
#include "text.h"

namespace kestrel {

namespace {

// One read of the container hands libarchive this many bytes.
constexpr std::int64_t kInputBlockSize = 64 * 1024;

struct ArchiveFree {
    void operator()(archive* a) const { archive_read_free(a); }
};
using ArchivePointer = std::unique_ptr<archive, ArchiveFree>;

std::string ErrorText(archive* a, std::string_view fallback) {
    const char* text = archive_error_string(a);
    return text != nullptr && text[0] != '\0' ? std::string(text) : std::string(fallback);
}

// The container as libarchive reads it: forward reads, skips and seeks over
// the scan source.
class ArchiveInput {
public:
    explicit ArchiveInput(ScanSource& source) : m_source(source) {}

    static la_ssize_t Read(archive* a, void* data, const void** buffer) {
        auto& self = *static_cast<ArchiveInput*>(data);
        const std::int64_t got =
            self.m_source.ReadAt(self.m_position, self.m_block.data(), kInputBlockSize);
        if (got < 0) {
            archive_set_error(a, EIO, "the bytes cannot be read");
            return ARCHIVE_FATAL;
        }
        self.m_position += got;
        *buffer = self.m_block.data();
        return static_cast<la_ssize_t>(got);
    }

    static la_int64_t Skip(archive*, void* data, la_int64_t request) {
        auto& self = *static_cast<ArchiveInput*>(data);
        const std::int64_t left =
            std::max<std::int64_t>(self.m_source.Length() - self.m_position, 0);
        const std::int64_t skipped = std::clamp<std::int64_t>(request, 0, left);
        self.m_position += skipped;
        return skipped;
    }

    static la_int64_t Seek(archive*, void* data, la_int64_t offset, int whence) {
        auto& self = *static_cast<ArchiveInput*>(data);
        const std::int64_t length = self.m_source.Length();
        std::int64_t base = 0;
        if (whence == SEEK_CUR)
            base = self.m_position;
        else if (whence == SEEK_END)
            base = length;
        if ((offset < 0 && -offset > base) || (offset > 0 && offset > length - base))
            return ARCHIVE_FATAL;
        self.m_position = base + offset;
        return self.m_position;
    }

private:
    ScanSource& m_source;
    std::int64_t m_position = 0;
    std::array<std::uint8_t, kInputBlockSize> m_block{};
};

// A member of no bytes: a file with several names whose data the archive
// never gave.
class EmptySource : public ScanSource {
public:
    std::int64_t Length() const override { return 0; }
    std::int64_t ReadAt(std::int64_t, std::uint8_t*, std::int64_t) override { return 0; }
};

// The head of a member as a scan source, for detection before the rest is
// read: a member at least as long as the head is at least as long as this.
class HeadSource : public ScanSource {
public:
    explicit HeadSource(const MemberStore& store) : m_store(store) {}
    std::int64_t Length() const override { return std::min(m_store.Size(), kMemberHeadLength); }
    std::int64_t ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count) override {
        if (offset >= Length())
            return 0;
        return m_store.ReadAt(offset, into, std::min(count, Length() - offset));
    }

private:
    const MemberStore& m_store;
};

// The archive read over the container, and what it reads with.
struct OpenArchive {
    std::unique_ptr<ArchiveInput> input;
    ArchivePointer archive;
};

OpenArchive OpenOver(ScanSource& container, ContainerKind kind);

// One member's bytes, decompressed as the scanner asks for them. The head is
// always kept. A program or a container, which readers seek back and forth
// in, is kept whole; anything else only as a window behind the last read, so
// that it costs no disk however long it is. A member whose length the
// archive does not say (a compressed stream) is decompressed once to learn
// it and, should the scanner read past the head, once more: every byte
// counted each time.
class StreamedMember : public ScanSource {
public:
    // `again` reopens the archive at this member for a second reading, where
    // that is possible (a compressed stream, whose one member comes first).
    StreamedMember(archive* a, std::int64_t declaredLength, MemberVisitor& visitor,
                   std::function<OpenArchive()> again)
        : m_archive(a), m_length(declaredLength), m_visitor(visitor),
          m_store(&visitor.TemporaryFiles()), m_again(std::move(again)) {
        m_store.KeepWindow();
    }

    std::int64_t Length() const override { return std::max<std::int64_t>(m_length, 0); }

    std::int64_t ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count) override {
        if (offset < 0 || count < 0)
            return -1;
        KeepHead();
        if (offset >= Length())
            return 0;
        count = std::min(count, Length() - offset);
        if (m_windowed && offset + count > m_store.Size() && m_ended && m_again && !m_readAgain)
            ReadAgain();
        while (m_store.Size() < offset + count && !m_keepFailed && Pull(true))
            m_store.Release(offset - kMemberBackReach);
        if (offset >= m_store.Size())
            return m_ended && m_failure.empty() && !m_stopped ? 0 : -1;
        const std::int64_t got =
            m_store.ReadAt(offset, into, std::min(count, m_store.Size() - offset));
        if (got < 0 && m_failure.empty())
            m_failure = "read back past what was kept";
        return got;
    }

    // For a member read under several names (hard links): each reading
    // starts again at its first byte, so all of it is kept.
    void KeepWhole() { m_keepWhole = true; }

    // For a member whose length the archive does not say: decompresses it
    // all, keeping what must be kept, and takes the length it has.
    void LearnLength() {
        KeepHead();
        while (Pull(!m_windowed) && !m_keepFailed) {
        }
        while (Pull(false)) {
        }
        m_length = m_produced;
    }

    // Decompresses what the scan left, without keeping it. A second reading
    // has nothing more to find.
    void Drain() {
        if (m_readAgain)
            return;
        while (Pull(false)) {
        }
        if (m_failure.empty() && !m_stopped && m_length >= 0 && m_produced < m_length)
            m_failure = "shorter than its header says";
    }

    const std::string& Failure() const { return m_failure; }
    bool Fatal() const { return m_fatal; }

private:
    // Reads the head (in memory, whatever else the thread holds), then
    // decides how much of the member is kept. A member of unknown length
    // without a second reading is kept whole.
    void KeepHead() {
        if (m_headRead)
            return;
        m_headRead = true;
        while (m_store.Size() < kMemberHeadLength && Pull(true)) {
        }
        std::array<std::uint8_t, 512> first{};
        const std::int64_t got = m_store.ReadAt(0, first.data(), std::ssize(first));
        HeadSource head(m_store);
        const bool whole = m_keepWhole || (m_length < 0 && !m_again) ||
                           ScannerSeeksIn(first.data(), got) ||
                           DetectContainer(head) != ContainerKind::kNone;
        m_windowed = !whole;
        if (whole)
            m_store.KeepWhole();
        else
            m_store.KeepHead(kMemberHeadLength);
    }

    // Opens the archive again and reads the member from its start; the head
    // is kept from the first time.
    void ReadAgain() {
        m_readAgain = true;
        m_reopened = m_again();
        if (!m_reopened.archive) {
            m_failure = "cannot be read a second time";
            return;
        }
        m_archive = m_reopened.archive.get();
        m_store.RewindWindow();
        m_produced = 0;
        m_ended = false;
        m_stopped = false;
    }

    // One block from libarchive; false at the end, on an error or a stop.
    // Kept or not, every byte counts; a block that cannot be kept leaves the
    // member short of it, and the rest is still decompressed.
    bool Pull(bool keep) {
        if (m_ended)
            return false;
        const void* block = nullptr;
        std::size_t size = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(m_archive, &block, &size, &offset);
        if (status == ARCHIVE_EOF)
            return Stop();
        if (status < ARCHIVE_WARN) {
            m_failure = ErrorText(m_archive, "damaged data");
            m_fatal = status == ARCHIVE_FATAL;
            return Stop();
        }
        // A warning (a CRC or size that does not match) comes with a block
        // that is still good to read.
        if (status == ARCHIVE_WARN && m_failure.empty())
            m_failure = ErrorText(m_archive, "damaged data");
        // A sparse member leaves holes between its blocks; they read as zeros.
        if (offset < m_produced) {
            m_failure = "damaged data (blocks out of order)";
            return Stop();
        }
        std::int64_t hole = offset - m_produced;
        auto count = static_cast<std::int64_t>(size);
        // Bytes past the size the header says are a bomb or damage: the
        // member is what its header says, and the rest is not decompressed.
        const bool tooLong = m_length >= 0 && hole + count > m_length - m_produced;
        if (tooLong) {
            m_failure = "longer than its header says (" + std::to_string(m_length) +
                        " bytes); the rest is skipped";
            hole = std::min(hole, m_length - m_produced);
            count = m_length - m_produced - hole;
        }
        if (m_visitor.Stopping() || !m_visitor.Charge(hole + count)) {
            m_stopped = true;
            return Stop();
        }
        m_produced += hole + count;
        if (keep && !m_keepFailed && !Keep(static_cast<const std::uint8_t*>(block), count)) {
            m_keepFailed = true;
            if (m_failure.empty())
                m_failure = m_store.Error();
        }
        return tooLong ? Stop() : true;
    }

    // Appends the part of the block just pulled that the store does not
    // hold yet: on a second reading, the head is passed over.
    bool Keep(const std::uint8_t* block, std::int64_t count) {
        const std::int64_t blockStart = m_produced - count;
        const std::int64_t zeros = std::max<std::int64_t>(blockStart - m_store.Size(), 0);
        if (!m_store.AppendZeros(zeros))
            return false;
        const std::int64_t skip = std::clamp<std::int64_t>(m_store.Size() - blockStart, 0, count);
        return m_store.Append(block + skip, count - skip);
    }

    bool Stop() {
        m_ended = true;
        return false;
    }

    archive* m_archive;
    std::int64_t m_length; // -1 until known when the archive does not say
    MemberVisitor& m_visitor;
    MemberStore m_store;
    std::function<OpenArchive()> m_again;
    OpenArchive m_reopened;
    std::int64_t m_produced = 0; // bytes decompressed so far, kept or not
    bool m_headRead = false;
    bool m_keepWhole = false;
    bool m_windowed = false;
    bool m_readAgain = false;
    bool m_keepFailed = false;
    bool m_ended = false;
    bool m_fatal = false;
    bool m_stopped = false; // by the stop flag or a limit
    std::string m_failure;
};

// A compressed stream holds one member, named after the stream without its
// suffix: "DRIVERS.TAR.GZ" holds "DRIVERS.TAR", "SRC.TGZ" holds "SRC.TAR".
std::string StreamMemberName(const std::string& streamName) {
    struct Suffix {
        std::string_view compressed;
        std::string_view plain;
    };
    static constexpr std::array<Suffix, 9> kSuffixes = {{{".gz", ""},
                                                         {".bz2", ""},
                                                         {".bz", ""},
                                                         {".xz", ""},
                                                         {".tgz", ".tar"},
                                                         {".taz", ".tar"},
                                                         {".tbz", ".tar"},
                                                         {".tbz2", ".tar"},
                                                         {".txz", ".tar"}}};
    for (const Suffix& suffix : kSuffixes) {
        const std::size_t length = suffix.compressed.size();
        if (streamName.size() <= length)
            continue;
        const std::string_view tail(streamName.data() + streamName.size() - length, length);
        if (std::equal(tail.begin(), tail.end(), suffix.compressed.begin(),
                       [](char a, char b) { return AsciiLowerChar(a) == b; })) {
            std::string plain(suffix.plain);
            if (!plain.empty() && tail[1] >= 'A' && tail[1] <= 'Z')
                plain = AsciiUpper(plain);
            return streamName.substr(0, streamName.size() - length) + plain;
        }
    }
    return streamName;
}

void EnableFormats(archive* a, ContainerKind kind) {
    switch (kind) {
    case ContainerKind::kCompressedStream:
        archive_read_support_filter_gzip(a);
        archive_read_support_filter_bzip2(a);
        archive_read_support_filter_xz(a);
        archive_read_support_format_tar(a);
        archive_read_support_format_cpio(a);
        archive_read_support_format_iso9660(a);
        // Whatever else the stream holds is its one member. Only a stream
        // gets the raw format: for anything else it would take every file.
        archive_read_support_format_raw(a);
        break;
    case ContainerKind::kExecutable:
        // Self-extracting programs: the readers find the archive behind the
        // stub themselves (the zip from its directory at the end of the file).
        archive_read_support_format_zip_seekable(a);
        archive_read_support_format_rar(a);
        archive_read_support_format_rar5(a);
        archive_read_support_format_7zip(a);
        archive_read_support_format_lha(a);
        break;
    default:
        // A zip is read from its central directory; a truncated one that has
        // lost it is still read from the local headers.
        archive_read_support_format_zip_seekable(a);
        archive_read_support_format_zip_streamable(a);
        archive_read_support_format_7zip(a);
        archive_read_support_format_rar(a);
        archive_read_support_format_rar5(a);
        archive_read_support_format_lha(a);
        archive_read_support_format_iso9660(a);
        archive_read_support_format_tar(a);
        archive_read_support_format_cpio(a);
        break;
    }
}

std::string EntryPath(archive* a, archive_entry* entry, const MemberVisitor& visitor) {
    if (archive_format(a) == ARCHIVE_FORMAT_RAW)
        return StreamMemberName(visitor.ContainerName());
    // The name as UTF-8 where the archive says its encoding, else its bytes.
    if (const char* utf8 = archive_entry_pathname_utf8(entry))
        return utf8;
    const char* bytes = archive_entry_pathname(entry);
    return bytes != nullptr ? bytes : "";
}

// libarchive turns the names of 7z, Joliet and Unicode zip entries into the
// character set of the locale in use: they become UTF-8, as the names on
// disk are, whatever locale the process runs in. Only this thread's locale
// is changed, and only while the archive is read.
class Utf8Names {
public:
    Utf8Names() : m_locale(::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{})) {
        if (m_locale != locale_t{})
            m_previous = ::uselocale(m_locale);
    }
    ~Utf8Names() {
        if (m_locale != locale_t{}) {
            ::uselocale(m_previous);
            ::freelocale(m_locale);
        }
    }
    Utf8Names(const Utf8Names&) = delete;
    Utf8Names& operator=(const Utf8Names&) = delete;

private:
    locale_t m_locale;
    locale_t m_previous{};
};

// The names of one file beside the one its data is scanned under (hard links).
struct OtherName {
    std::string path;
    std::int64_t modified;
};
using OtherNames = std::map<std::string, std::vector<OtherName>>; // by the name with the data

// A crafted archive could name a file any number of times; past this many
// other names (the member limit's own number) they are said and skipped.
constexpr std::size_t kMaxOtherNames = 1'000'000;

// libarchive's seekable zip reader reads one member per local header, so
// central directory entries that point at one header are lost without a
// word, and entries whose data overlaps are read again and again. The
// central directory is walked here, within the file and the format's own
// counts, to say so.
class ZipDirectoryCheck {
public:
    explicit ZipDirectoryCheck(ScanSource& source) : m_source(source) {}

    void Run(MemberVisitor& visitor) {
        if (!FindDirectory())
            return;
        std::vector<Entry> entries = ReadEntries();
        std::stable_sort(entries.begin(), entries.end(),
                         [](const Entry& a, const Entry& b) { return a.offset < b.offset; });
        std::int64_t skipped = 0;       // entries after the first at one local header
        std::int64_t sharedHeaders = 0; // local headers more than one entry points at
        std::int64_t overlapping = 0;
        for (std::size_t i = 1; i < entries.size(); ++i) {
            if (entries[i].offset == entries[i - 1].offset) {
                sharedHeaders += i == 1 || entries[i - 2].offset != entries[i].offset ? 1 : 0;
                ++skipped;
            } else if (entries[i].offset < entries[i - 1].end) {
                ++overlapping;
            }
        }
        if (skipped > 0)
            visitor.Problem(Count(skipped + sharedHeaders, "central directory entries") +
                            " share " + Count(sharedHeaders, "local headers") + "; " +
                            std::to_string(skipped) + " of them skipped");
        if (overlapping > 0)
            visitor.Problem("the data of " + Count(overlapping, "central directory entries") +
                            " overlaps another entry's");
        // Each entry skipped, by its name; one header gives one member.
        for (std::size_t i = 1; i < entries.size() && !visitor.Stopping(); ++i) {
            if (entries[i].offset == entries[i - 1].offset)
                visitor.Problem(NameAt(entries[i].record) + ": skipped: its local header is " +
                                "another entry's");
        }
    }

private:
    // The fixed parts of the end record, the zip64 locator and end record,
    // and a central directory entry.
    static constexpr std::int64_t kEndRecordLength = 22;
    static constexpr std::int64_t kEndSearchLength = 65535 + kEndRecordLength;
    static constexpr std::int64_t kZip64LocatorLength = 20;
    static constexpr std::int64_t kZip64EndRecordLength = 56;
    static constexpr std::int64_t kEntryLength = 46;
    static constexpr std::int64_t kLocalHeaderLength = 30;
    static constexpr std::uint32_t kNotInField = 0xFFFFFFFF; // the value is in the zip64 field
    static constexpr std::uint64_t kMaxEntries = 1'000'000;  // the member limit's own number

    struct Entry {
        std::uint64_t offset; // of the local header
        std::uint64_t end;    // the least end of its data: header, name and compressed size
        std::int64_t record;  // where the entry is in the file
    };

    // "1 local header", "2 local headers"; "entries" becomes "entry".
    static std::string Count(std::int64_t count, std::string plural) {
        if (count == 1)
            plural = plural.ends_with("ies") ? plural.substr(0, plural.size() - 3) + "y"
                                             : plural.substr(0, plural.size() - 1);
        return std::to_string(count) + " " + plural;
    }

    static std::uint64_t Le(const std::uint8_t* p, int bytes) {
        std::uint64_t value = 0;
        for (int i = bytes - 1; i >= 0; --i)
            value = value << 8 | p[i];
        return value;
    }

    // Reads through a block of the directory: a million entries cost a few
    // reads, not a million.
    bool ReadExactly(std::int64_t offset, std::uint8_t* into, std::int64_t count) {
        if (offset < 0 || count < 0)
            return false;
        const auto inBlock = [&] {
            return offset >= m_blockStart && count <= m_blockLength - (offset - m_blockStart);
        };
        if (!inBlock() && count <= kInputBlockSize) {
            m_blockLength =
                std::max<std::int64_t>(m_source.ReadAt(offset, m_block.data(), kInputBlockSize), 0);
            m_blockStart = offset;
        }
        if (inBlock()) {
            std::copy_n(m_block.data() + (offset - m_blockStart), count, into);
            return true;
        }
        return m_source.ReadAt(offset, into, count) == count;
    }

    // The end record nearest the end, then the central directory's place and
    // count. The directory is taken to end where the end records begin, as
    // libarchive takes it, so a self-extractor's stub does not matter.
    bool FindDirectory() {
        const std::int64_t length = m_source.Length();
        const std::int64_t tailStart = std::max<std::int64_t>(length - kEndSearchLength, 0);
        std::vector<std::uint8_t> tail(static_cast<std::size_t>(length - tailStart));
        if (!ReadExactly(tailStart, tail.data(), std::ssize(tail)))
            return false;
        for (std::int64_t at = std::ssize(tail) - kEndRecordLength; at >= 0; --at) {
            const std::uint8_t* p = tail.data() + at;
            if (Le(p, 4) != 0x06054B50)
                continue;
            m_directoryEnd = tailStart + at;
            m_count = Le(p + 10, 2);
            m_size = Le(p + 12, 4);
            std::uint8_t zip64[kZip64EndRecordLength];
            const std::int64_t zip64At =
                m_directoryEnd - kZip64LocatorLength - kZip64EndRecordLength;
            if (ReadExactly(zip64At, zip64, kZip64EndRecordLength) && Le(zip64, 4) == 0x06064B50) {
                m_directoryEnd = zip64At;
                m_count = Le(zip64 + 32, 8);
                m_size = Le(zip64 + 40, 8);
            }
            return m_size <= static_cast<std::uint64_t>(m_directoryEnd);
        }
        return false;
    }

    // The entries in the directory's order, as far as they are sound; a
    // damaged directory is libarchive's to say.
    std::vector<Entry> ReadEntries() {
        std::vector<Entry> entries;
        std::int64_t at = m_directoryEnd - static_cast<std::int64_t>(m_size);
        const std::uint64_t count = std::min<std::uint64_t>(m_count, kMaxEntries);
        std::vector<std::uint8_t> record(kEntryLength + 65535);
        for (std::uint64_t i = 0; i < count; ++i) {
            if (at + kEntryLength > m_directoryEnd ||
                !ReadExactly(at, record.data(), kEntryLength) || Le(record.data(), 4) != 0x02014B50)
                break;
            const std::uint64_t nameLength = Le(record.data() + 28, 2);
            const std::int64_t extraLength = static_cast<std::int64_t>(Le(record.data() + 30, 2));
            const std::int64_t next = at + kEntryLength + static_cast<std::int64_t>(nameLength) +
                                      extraLength +
                                      static_cast<std::int64_t>(Le(record.data() + 32, 2));
            std::uint64_t compressed = Le(record.data() + 20, 4);
            std::uint64_t offset = Le(record.data() + 42, 4);
            std::uint8_t* extra = record.data() + kEntryLength;
            if ((compressed == kNotInField || offset == kNotInField) &&
                ReadExactly(at + kEntryLength + static_cast<std::int64_t>(nameLength), extra,
                            extraLength))
                ReadZip64Field(record.data(), extra, extraLength, compressed, offset);
            entries.push_back({offset, offset + kLocalHeaderLength + nameLength + compressed, at});
            at = next;
        }
        return entries;
    }

    // The zip64 extended information field (0x0001): the sizes and offset
    // that did not fit, in that order.
    static void ReadZip64Field(const std::uint8_t* record, const std::uint8_t* extra,
                               std::int64_t length, std::uint64_t& compressed,
                               std::uint64_t& offset) {
        for (std::int64_t at = 0; at + 4 <= length;) {
            const std::int64_t size = static_cast<std::int64_t>(Le(extra + at + 2, 2));
            if (Le(extra + at, 2) == 1) {
                std::int64_t value = at + 4;
                const auto take = [&](std::uint64_t& field) {
                    if (value + 8 <= at + 4 + size && value + 8 <= length) {
                        field = Le(extra + value, 8);
                        value += 8;
                    }
                };
                std::uint64_t uncompressed = 0;
                if (Le(record + 24, 4) == kNotInField)
                    take(uncompressed);
                if (compressed == kNotInField)
                    take(compressed);
                if (offset == kNotInField)
                    take(offset);
                return;
            }
            at += 4 + size;
        }
    }

    std::string NameAt(std::int64_t record) {
        std::uint8_t fixed[kEntryLength];
        if (!ReadExactly(record, fixed, kEntryLength))
            return "?";
        std::string name(Le(fixed + 28, 2), '\0');
        if (!ReadExactly(record + kEntryLength, reinterpret_cast<std::uint8_t*>(name.data()),
                         std::ssize(name)))
            return "?";
        return name;
    }

    ScanSource& m_source;
    std::array<std::uint8_t, kInputBlockSize> m_block{};
    std::int64_t m_blockStart = 0;
    std::int64_t m_blockLength = 0;
    std::int64_t m_directoryEnd = 0;
    std::uint64_t m_count = 0;
    std::uint64_t m_size = 0;
};

// The archive read over the container, and what it reads with.
OpenArchive OpenOver(ScanSource& container, ContainerKind kind) {
    OpenArchive opened{std::make_unique<ArchiveInput>(container),
                       ArchivePointer(archive_read_new())};
    archive* const a = opened.archive.get();
    EnableFormats(a, kind);
    archive_read_set_read_callback(a, &ArchiveInput::Read);
    archive_read_set_skip_callback(a, &ArchiveInput::Skip);
    archive_read_set_seek_callback(a, &ArchiveInput::Seek);
    archive_read_set_callback_data(a, opened.input.get());
    return opened;
}

// The one member of a compressed stream, from its start.
OpenArchive OpenStreamAgain(ScanSource& container, ContainerKind kind) {
    OpenArchive opened = OpenOver(container, kind);
    archive_entry* entry = nullptr;
    if (archive_read_open1(opened.archive.get()) != ARCHIVE_OK ||
        archive_read_next_header(opened.archive.get(), &entry) < ARCHIVE_WARN ||
        archive_format(opened.archive.get()) != ARCHIVE_FORMAT_RAW)
        opened.archive.reset();
    return opened;
}

// The name a hard link points at, in the form EntryPath gives names.
const char* LinkTarget(archive_entry* entry) {
    const char* utf8 = archive_entry_hardlink_utf8(entry);
    return utf8 != nullptr ? utf8 : archive_entry_hardlink(entry);
}

bool HasData(archive_entry* entry) {
    // A hard link of tar or ISO 9660 holds no data of its own, whatever its size says.
    if (archive_entry_hardlink(entry) != nullptr && !archive_entry_size_is_set(entry))
        return false;
    return !archive_entry_size_is_set(entry) || archive_entry_size(entry) > 0;
}

std::int64_t EntryTime(archive_entry* entry, const MemberVisitor& visitor) {
    return archive_entry_mtime_is_set(entry) ? archive_entry_mtime(entry) : visitor.ContainerTime();
}

// Decompresses what the scans left, and says what went wrong; false when the
// archive cannot go on.
bool FinishMember(StreamedMember& member, bool goOn, const std::string& path,
                  MemberVisitor& visitor) {
    if (goOn)
        member.Drain();
    if (!member.Failure().empty())
        visitor.Problem(path + ": " + member.Failure());
    return goOn && !member.Fatal() && !visitor.Stopping();
}

// The first reading: every member under the name its data comes with. A
// hard link's other names are gathered: those met after the data (tar, ISO
// 9660) into `others`, for a second reading; those met before it (cpio's
// newc puts the data on the last name) are reported from the same bytes as
// soon as the data comes.
bool ReadMembers(ScanSource& source, ContainerKind kind, MemberVisitor& visitor, OtherNames& others,
                 OpenArchive& reading) {
    archive* const a = reading.archive.get();
    if (archive_read_open1(a) != ARCHIVE_OK) {
        // A program without an archive behind it is just a program.
        if (kind == ContainerKind::kExecutable)
            return false;
        visitor.Problem(ErrorText(a, "not a readable archive"));
        return true;
    }
    OtherNames waiting; // names without data yet, by the first of them
    std::size_t otherCount = 0;
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(a, &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status < ARCHIVE_WARN) {
            visitor.Problem(ErrorText(a, "damaged archive"));
            break;
        }
        if (visitor.Stopping())
            break;
        const std::string path = EntryPath(a, entry, visitor);
        if (status == ARCHIVE_WARN)
            visitor.Problem((path.empty() ? "" : path + ": ") + ErrorText(a, "damaged header"));
        // tar gives a hard link no file type of its own: its target's is meant.
        const char* const link = LinkTarget(entry);
        if (archive_entry_filetype(entry) != AE_IFREG && link == nullptr)
            continue;
        if (path.empty()) {
            visitor.Problem("a member without a readable name");
            continue;
        }
        const std::int64_t modified = EntryTime(entry, visitor);
        const bool hasData = HasData(entry);
        const bool firstOfNames = link == nullptr && archive_entry_nlink(entry) > 1;
        if (!hasData && (link != nullptr || firstOfNames)) {
            if (++otherCount > kMaxOtherNames) {
                visitor.Problem(path + ": more than " + std::to_string(kMaxOtherNames) +
                                " names of hard links; not reported");
                continue;
            }
            const std::string first = link != nullptr ? link : path;
            const auto wait = waiting.find(first);
            if (wait != waiting.end() || firstOfNames)
                waiting[first].push_back({path, modified});
            else
                others[first].push_back({path, modified});
            continue;
        }
        if (archive_entry_is_data_encrypted(entry)) {
            visitor.Problem("encrypted member " + path);
            continue;
        }
        std::function<OpenArchive()> again;
        if (archive_format(a) == ARCHIVE_FORMAT_RAW)
            again = [&] { return OpenStreamAgain(source, kind); };
        StreamedMember member(a, archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1,
                              visitor, again);
        const auto wait = link != nullptr ? waiting.find(link) : waiting.end();
        if (wait != waiting.end())
            member.KeepWhole();
        if (!archive_entry_size_is_set(entry))
            member.LearnLength();
        // A member damaged part way is still scanned as far as it goes.
        bool goOn = visitor.Visit(path, modified, member);
        if (wait != waiting.end()) {
            for (const OtherName& name : wait->second)
                goOn = goOn && visitor.Visit(name.path, name.modified, member);
            waiting.erase(wait);
        }
        if (!FinishMember(member, goOn, path, visitor))
            return true;
    }
    // Names whose data never came: as far as the archive says, an empty file.
    for (const auto& [first, names] : waiting) {
        for (const OtherName& name : names) {
            EmptySource empty;
            if (visitor.Stopping() || !visitor.Visit(name.path, name.modified, empty))
                return true;
        }
    }
    return true;
}

// The second reading, for hard links whose other names came after the data:
// each such member is decompressed once more and reported under those names.
void ReadOtherNames(ScanSource& source, ContainerKind kind, MemberVisitor& visitor,
                    OtherNames& others) {
    const OpenArchive reading = OpenOver(source, kind);
    archive* const a = reading.archive.get();
    if (archive_read_open1(a) != ARCHIVE_OK)
        return;
    for (archive_entry* entry = nullptr; !others.empty() && !visitor.Stopping() &&
                                         archive_read_next_header(a, &entry) >= ARCHIVE_WARN;) {
        const auto names = others.find(EntryPath(a, entry, visitor));
        if (names == others.end() || !HasData(entry))
            continue;
        // A link to a folder, a device or a symbolic link is no member either.
        if (archive_entry_filetype(entry) != AE_IFREG) {
            others.erase(names);
            continue;
        }
        if (archive_entry_is_data_encrypted(entry))
            continue;
        StreamedMember member(a, archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1,
                              visitor, {});
        if (names->second.size() > 1)
            member.KeepWhole();
        if (!archive_entry_size_is_set(entry))
            member.LearnLength();
        bool goOn = true;
        for (const OtherName& name : names->second)
            goOn = goOn && visitor.Visit(name.path, name.modified, member);
        // Its failures were said in the first reading.
        if (goOn)
            member.Drain();
        others.erase(names);
        if (!goOn || member.Fatal())
            return;
    }
    if (visitor.Stopping())
        return;
    for (const auto& [first, names] : others) {
        for (const OtherName& name : names)
            visitor.Problem(name.path + ": a hard link to " + first +
                            ", whose data cannot be read; not reported");
    }
}

// libarchive reads a gzip member's CRC-32 and length at its end without
// checking them: zlib reads the stream once more, throwing the bytes away, to
// say a damaged one. Members one after another are each checked, as
// libarchive reads them; what follows the last is not gzip's.
class GzipCheck {
public:
    explicit GzipCheck(ScanSource& source) : m_source(source) {
        m_ready = inflateInit2(&m_stream, 16 + MAX_WBITS) == Z_OK;
    }
    ~GzipCheck() {
        if (m_ready)
            inflateEnd(&m_stream);
    }
    GzipCheck(const GzipCheck&) = delete;
    GzipCheck& operator=(const GzipCheck&) = delete;

    // The damage zlib finds ("incorrect data check"), or "" for none; a
    // stream cut short or unreadable is libarchive's to say.
    // The bytes libarchive decompressed were counted already; the rest (after
    // a tar's end, say) count against the expansion limit now.
    std::string Run(MemberVisitor& visitor, std::int64_t counted) {
        std::int64_t produced = 0;
        while (m_ready && !visitor.Stopping()) {
            if (m_stream.avail_in == 0 && !Fill())
                return "";
            m_stream.next_out = m_output.data();
            m_stream.avail_out = static_cast<uInt>(m_output.size());
            const int status = inflate(&m_stream, Z_NO_FLUSH);
            const auto made = static_cast<std::int64_t>(m_output.size() - m_stream.avail_out);
            const std::int64_t uncounted = std::min(made, produced + made - counted);
            produced += made;
            if (uncounted > 0 && !visitor.Charge(uncounted))
                return "";
            if (status == Z_STREAM_END) {
                if (!NextMemberFollows())
                    return "";
                inflateReset(&m_stream);
            } else if (status != Z_OK && status != Z_BUF_ERROR) {
                return m_stream.msg != nullptr ? m_stream.msg : "damaged data";
            }
        }
        return "";
    }

private:
    bool Fill() {
        const std::int64_t got = m_source.ReadAt(m_position, m_input.data(), kInputBlockSize);
        if (got <= 0)
            return false;
        m_position += got;
        m_stream.next_in = m_input.data();
        m_stream.avail_in = static_cast<uInt>(got);
        return true;
    }

    bool NextMemberFollows() {
        if (m_stream.avail_in < 2) {
            // The magic may lie across two reads: read again from where it starts.
            m_position -= m_stream.avail_in;
            if (!Fill())
                return false;
        }
        return m_stream.avail_in >= 2 && m_stream.next_in[0] == 0x1F && m_stream.next_in[1] == 0x8B;
    }

    ScanSource& m_source;
    z_stream m_stream{};
    bool m_ready = false;
    std::int64_t m_position = 0;
    std::array<std::uint8_t, kInputBlockSize> m_input{};
    std::array<std::uint8_t, kInputBlockSize> m_output{};
};

bool StartsAs(ScanSource& source, std::uint8_t first, std::uint8_t second) {
    std::array<std::uint8_t, 2> magic{};
    return source.ReadAt(0, magic.data(), 2) == 2 && magic[0] == first && magic[1] == second;
}

bool StartsAsZip(ScanSource& source) {
    return StartsAs(source, 'P', 'K');
}

} // namespace

bool ReadArchive(ScanSource& container, ContainerKind kind, MemberVisitor& visitor) {
    const Utf8Names utf8Names;
    ScanSource* source = &container;
    std::optional<SourceWindow> window;
    bool zip = kind == ContainerKind::kArchive && StartsAsZip(container);
    if (kind == ContainerKind::kExecutable) {
        const ArchiveBehindProgram behind = FindArchiveBehindProgram(container);
        if (!behind.Found())
            return false;
        // A RAR, 7z or LHA archive is read from where it starts: libarchive
        // would otherwise take the first magic text in the program's code.
        if (behind.start >= 0) {
            window.emplace(container, behind.start);
            source = &*window;
            kind = ContainerKind::kArchive;
        }
        zip = behind.start < 0;
    }
    // A zip in methods libarchive refuses is read whole through 7-Zip, when
    // its library is there; libarchive would say each such member.
    if (zip && ZipHasOldMethods(*source) &&
        ReadWithSevenZip(*source, SevenZipFormat::kZip, visitor))
        return true;
    OtherNames others;
    OpenArchive reading = OpenOver(*source, kind);
    if (!ReadMembers(*source, kind, visitor, others, reading))
        return false;
    if (zip)
        std::make_unique<ZipDirectoryCheck>(*source)->Run(visitor);
    if (kind == ContainerKind::kCompressedStream && StartsAs(*source, 0x1F, 0x8B)) {
        const std::string damage = std::make_unique<GzipCheck>(*source)->Run(
            visitor, archive_filter_bytes(reading.archive.get(), 0));
        if (!damage.empty())
            visitor.Problem("damaged gzip stream: " + damage);
    }
    if (!others.empty() && !visitor.Stopping())
        ReadOtherNames(*source, kind, visitor, others);
    return true;
}

} // namespace kestrel
