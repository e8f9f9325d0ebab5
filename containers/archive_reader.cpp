// Archives through libarchive: zip (also behind a self-extracting stub), 7z,
// RAR, LHA, ISO 9660, tar, cpio, and single gzip, bzip2 or xz streams. The
// container is read through callbacks over its scan source; a member's bytes
// are decompressed as far as the scanner asks for them and kept in a
// MemberStore, and the rest is decompressed after the scan without being kept,
// so that damage is found and every byte counts against the expansion limit.

#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <array>
#include <cerrno>
#include <clocale>
#include <locale.h>
#include <memory>
#include <string_view>

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

// One member's bytes, decompressed on demand.
class StreamedMember : public ScanSource {
public:
    StreamedMember(archive* a, std::int64_t declaredLength, MemberVisitor& visitor)
        : m_archive(a), m_declaredLength(declaredLength), m_visitor(visitor) {}

    std::int64_t Length() const override {
        return m_declaredLength >= 0 ? m_declaredLength : m_store.Size();
    }

    std::int64_t ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count) override {
        if (offset < 0 || count < 0)
            return -1;
        if (offset >= Length())
            return 0;
        count = std::min(count, Length() - offset);
        while (m_store.Size() < offset + count && Pull(true)) {
        }
        if (offset >= m_store.Size())
            return m_ended && m_failure.empty() && !m_stopped ? 0 : -1;
        return m_store.ReadAt(offset, into, std::min(count, m_store.Size() - offset));
    }

    // Decompresses the whole member and keeps it: for a member whose length
    // the archive does not say (a compressed stream).
    void KeepAll() {
        while (Pull(true)) {
        }
    }

    // Decompresses what the scan left, without keeping it.
    void Drain() {
        while (Pull(false)) {
        }
        if (m_failure.empty() && m_declaredLength >= 0 && m_produced < m_declaredLength)
            m_failure = "shorter than its header says";
    }

    const std::string& Failure() const { return m_failure; }
    bool Fatal() const { return m_fatal; }

private:
    // One block from libarchive; false at the end, on an error or a stop.
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
        // A sparse member leaves holes between its blocks; they read as zeros.
        if (offset < m_produced) {
            m_failure = "damaged data (blocks out of order)";
            return Stop();
        }
        const std::int64_t hole = offset - m_produced;
        const auto count = static_cast<std::int64_t>(size);
        if (m_visitor.Stopping() || !m_visitor.Charge(hole + count)) {
            m_stopped = true;
            return Stop();
        }
        if (keep && (!m_store.AppendZeros(hole) ||
                     !m_store.Append(static_cast<const std::uint8_t*>(block), count))) {
            m_failure = m_store.Error();
            return Stop();
        }
        m_produced += hole + count;
        return true;
    }

    bool Stop() {
        m_ended = true;
        return false;
    }

    archive* m_archive;
    std::int64_t m_declaredLength; // -1 when the archive does not say
    MemberVisitor& m_visitor;
    MemberStore m_store;
    std::int64_t m_produced = 0; // bytes decompressed so far, kept or not
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

} // namespace

bool ReadArchive(ScanSource& container, ContainerKind kind, MemberVisitor& visitor) {
    const Utf8Names utf8Names;
    const ArchivePointer owner(archive_read_new());
    archive* const a = owner.get();
    EnableFormats(a, kind);
    ArchiveInput input(container);
    archive_read_set_read_callback(a, &ArchiveInput::Read);
    archive_read_set_skip_callback(a, &ArchiveInput::Skip);
    archive_read_set_seek_callback(a, &ArchiveInput::Seek);
    archive_read_set_callback_data(a, &input);
    if (archive_read_open1(a) != ARCHIVE_OK) {
        // A program without an archive behind it is just a program.
        if (kind == ContainerKind::kExecutable)
            return false;
        visitor.Problem(ErrorText(a, "not a readable archive"));
        return true;
    }

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
        if (archive_entry_filetype(entry) != AE_IFREG || archive_entry_hardlink(entry) != nullptr)
            continue;
        const std::string path = EntryPath(a, entry, visitor);
        if (path.empty()) {
            visitor.Problem("a member without a readable name");
            continue;
        }
        if (archive_entry_is_data_encrypted(entry)) {
            visitor.Problem("encrypted member " + path);
            continue;
        }
        StreamedMember member(a, archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1,
                              visitor);
        if (!archive_entry_size_is_set(entry))
            member.KeepAll();
        const std::int64_t modified = archive_entry_mtime_is_set(entry) ? archive_entry_mtime(entry)
                                                                        : visitor.ContainerTime();
        // A member damaged part way is still scanned as far as it goes.
        const bool goOn = visitor.Visit(path, modified, member);
        if (goOn)
            member.Drain();
        if (!member.Failure().empty())
            visitor.Problem(path + ": " + member.Failure());
        if (!goOn || member.Fatal() || visitor.Stopping())
            break;
    }
    return true;
}

} // namespace kestrel
