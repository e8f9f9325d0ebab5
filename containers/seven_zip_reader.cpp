// Archives and disk images through 7-Zip's library: zips in the methods
// libarchive does not read (shrink, reduce, implode, deflate64), ARJ
// archives, NSIS installers, MSI databases (OLE compound files, whose
// streams hold the cabinets) and qcow2 and VDI disk images. The library
// reads the container through an input stream over its scan source and
// writes each member into a MemberStore through an output stream that counts
// every byte against the expansion limit and stops when the scan must; a
// member is scanned as soon as it is complete. A disk image is not
// extracted: its disk is read through the library's own seekable stream, as
// a raw disk image is read from a file, its partitions and files the
// image's members.

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "container_kind.h"
#include "container_readers.h"
#include "member_store.h"
#include "seven_zip_library.h"

namespace kestrel {

using namespace sevenzip;

namespace {

// Seconds since 1970 of a FILETIME, or the container's time when the
// property is missing.
std::int64_t UnixTime(const PROPVARIANT& value, std::int64_t fallback) {
    constexpr std::uint64_t kTicksPerSecond = 10'000'000;
    constexpr std::uint64_t kEpochDifference = 11'644'473'600; // 1601 to 1970 in seconds
    if (value.vt != VT_FILETIME || value.filetime == 0)
        return fallback;
    return static_cast<std::int64_t>(value.filetime / kTicksPerSecond) -
           static_cast<std::int64_t>(kEpochDifference);
}

std::string ResultText(std::int32_t result) {
    switch (result) {
    case kResultUnsupportedMethod:
        return "compression method not supported";
    case kResultCrcError:
        return "CRC check failed";
    case kResultUnexpectedEnd:
        return "damaged data (cut short)";
    case kResultDataAfterEnd:
        return "damaged data (bytes after its end)";
    case kResultWrongPassword:
        return "encrypted";
    case kResultUnavailable:
        return "its data is not in this file";
    default:
        return "damaged data";
    }
}

const char* FormatName(SevenZipFormat format) {
    switch (format) {
    case SevenZipFormat::kZip:
        return "zip";
    case SevenZipFormat::kArj:
        return "ARJ archive";
    case SevenZipFormat::kNsis:
        return "NSIS installer";
    case SevenZipFormat::kCompound:
        return "MSI database";
    case SevenZipFormat::kQcow:
        return "qcow2 image";
    case SevenZipFormat::kVdi:
        return "VDI image";
    }
    return "container";
}

// A handler let go when done.
struct HandlerRelease {
    void operator()(IInArchive* handler) const {
        handler->Close();
        handler->Release();
    }
};
using Handler = std::unique_ptr<IInArchive, HandlerRelease>;

// One property of one item, freed by the library when done.
class Property {
public:
    Property(const SevenZipLibrary& library, IInArchive& handler, std::uint32_t index, PROPID id)
        : m_library(library) {
        if (handler.GetProperty(index, id, &m_value) != S_OK)
            m_library.Clear(m_value);
    }
    ~Property() { m_library.Clear(m_value); }
    Property(const Property&) = delete;
    Property& operator=(const Property&) = delete;
    const PROPVARIANT& Value() const { return m_value; }
    bool True() const { return m_value.vt == VT_BOOL && m_value.boolVal != 0; }
    std::int64_t Size() const {
        if (m_value.vt == VT_UI8)
            return static_cast<std::int64_t>(std::min<std::uint64_t>(m_value.uhVal, INT64_MAX));
        return m_value.vt == VT_UI4 ? m_value.ulVal : -1;
    }
    std::string Text() const {
        return m_value.vt == VT_BSTR ? WideToUtf8(m_value.bstrVal) : std::string();
    }

private:
    const SevenZipLibrary& m_library;
    PROPVARIANT m_value{};
};

// The stop test while the library opens the container.
class OpenCallback final : public IArchiveOpenCallback {
public:
    explicit OpenCallback(MemberVisitor& visitor) : m_visitor(visitor) {}
    HRESULT QueryInterface(const GUID& iid, void** object) override {
        *object = iid == kIidUnknown || iid == kIidArchiveOpenCallback ? this : nullptr;
        return *object != nullptr ? S_OK : E_NOINTERFACE;
    }
    std::uint32_t AddRef() override { return 1; }
    std::uint32_t Release() override { return 1; }
    HRESULT SetTotal(const std::uint64_t*, const std::uint64_t*) override { return S_OK; }
    HRESULT SetCompleted(const std::uint64_t*, const std::uint64_t*) override {
        return m_visitor.Stopping() ? E_ABORT : S_OK;
    }

private:
    MemberVisitor& m_visitor;
};

// One item the library extracts.
struct Item {
    std::uint32_t index;
    std::string path;
    std::int64_t modified;
};

// Takes each member the library extracts into a store, counts its bytes and
// has it scanned once it is complete.
class ExtractCallback final : public IArchiveExtractCallback, public ISequentialOutStream {
public:
    ExtractCallback(const std::vector<Item>& items, MemberVisitor& visitor)
        : m_items(items), m_visitor(visitor) {}

    HRESULT QueryInterface(const GUID& iid, void** object) override {
        if (iid == kIidUnknown || iid == kIidProgress || iid == kIidArchiveExtractCallback)
            *object = static_cast<IArchiveExtractCallback*>(this);
        else if (iid == kIidSequentialOutStream)
            *object = static_cast<ISequentialOutStream*>(this);
        else
            *object = nullptr;
        return *object != nullptr ? S_OK : E_NOINTERFACE;
    }
    std::uint32_t AddRef() override { return 1; }
    std::uint32_t Release() override { return 1; }
    HRESULT SetTotal(std::uint64_t) override { return S_OK; }
    HRESULT SetCompleted(const std::uint64_t*) override { return Go(); }

    HRESULT GetStream(std::uint32_t index, ISequentialOutStream** stream,
                      std::int32_t askMode) override {
        *stream = nullptr;
        if (askMode != kAskExtract)
            return Go();
        const auto item = std::lower_bound(
            m_items.begin(), m_items.end(), index,
            [](const Item& each, std::uint32_t wanted) { return each.index < wanted; });
        if (item == m_items.end() || item->index != index)
            return Go();
        m_current = &*item;
        m_store.emplace(&m_visitor.TemporaryFiles());
        m_keepFailure.clear();
        *stream = static_cast<ISequentialOutStream*>(this);
        return Go();
    }
    HRESULT PrepareOperation(std::int32_t) override { return Go(); }

    // The member is complete (or the library gave up on it): it is said
    // when damaged and scanned as far as it came.
    HRESULT SetOperationResult(std::int32_t result) override {
        if (m_current == nullptr || !m_store)
            return Go();
        const Item& item = *m_current;
        m_current = nullptr;
        if (m_stopped)
            return E_ABORT;
        if (result != kResultOk)
            m_visitor.Problem(item.path + ": " + ResultText(result));
        else if (!m_keepFailure.empty())
            m_visitor.Problem(item.path + ": " + m_keepFailure);
        bool goOn = true;
        if (result == kResultOk || m_store->Size() > 0) {
            StoredMember member(*m_store);
            goOn = m_visitor.Visit(item.path, item.modified, member);
        }
        m_store.reset();
        if (!goOn || m_visitor.Stopping()) {
            m_stopped = true;
            return E_ABORT;
        }
        return S_OK;
    }

    HRESULT Write(const void* data, std::uint32_t size, std::uint32_t* processed) override {
        if (processed != nullptr)
            *processed = 0;
        if (!m_store || m_visitor.Stopping() || !m_visitor.Charge(size)) {
            m_stopped = true;
            return E_ABORT;
        }
        // A block that cannot be kept leaves the member short; the rest is
        // still decompressed, to find damage and count it.
        if (m_keepFailure.empty() && !m_store->Append(static_cast<const std::uint8_t*>(data), size))
            m_keepFailure = m_store->Error();
        if (processed != nullptr)
            *processed = size;
        return S_OK;
    }

    bool Stopped() const { return m_stopped; }

private:
    HRESULT Go() {
        if (m_visitor.Stopping())
            m_stopped = true;
        return m_stopped ? E_ABORT : S_OK;
    }

    const std::vector<Item>& m_items;
    MemberVisitor& m_visitor;
    const Item* m_current = nullptr;
    std::optional<MemberStore> m_store;
    std::string m_keepFailure;
    bool m_stopped = false;
};

// The disk inside a disk image, read through the library's seekable stream.
// The disk image reader counts what it reads out of it.
class LibraryStreamSource : public ScanSource {
public:
    LibraryStreamSource(IInStream& stream, std::int64_t length, MemberVisitor& visitor)
        : m_stream(stream), m_length(length), m_visitor(visitor) {}
    std::int64_t Length() const override { return m_length; }
    std::int64_t ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count) override {
        if (offset < 0 || count < 0 || m_visitor.Stopping())
            return -1;
        if (offset >= m_length)
            return 0;
        count = std::min(count, m_length - offset);
        if (m_stream.Seek(offset, kSeekSet, nullptr) != S_OK)
            return Failed();
        std::int64_t done = 0;
        while (done < count) {
            const auto piece =
                static_cast<std::uint32_t>(std::min<std::int64_t>(count - done, 1 << 20));
            std::uint32_t got = 0;
            if (m_stream.Read(into + done, piece, &got) != S_OK)
                return Failed();
            if (got == 0)
                break;
            done += got;
        }
        return done;
    }
    bool ReadFailed() const { return m_failed; }

private:
    std::int64_t Failed() {
        m_failed = true;
        return -1;
    }

    IInStream& m_stream;
    std::int64_t m_length;
    MemberVisitor& m_visitor;
    bool m_failed = false;
};

template <typename Interface>
struct ComRelease {
    void operator()(Interface* object) const { object->Release(); }
};

// A disk image holds one item, its disk.
void ReadDisk(const SevenZipLibrary& library, IInArchive& handler, SevenZipFormat format,
              MemberVisitor& visitor) {
    IInArchiveGetStream* getStream = nullptr;
    if (handler.QueryInterface(kIidInArchiveGetStream, reinterpret_cast<void**>(&getStream)) !=
            S_OK ||
        getStream == nullptr)
        return visitor.Problem(std::string(FormatName(format)) + ": its disk cannot be read");
    std::unique_ptr<IInArchiveGetStream, ComRelease<IInArchiveGetStream>> getter(getStream);
    ISequentialInStream* sequential = nullptr;
    IInStream* stream = nullptr;
    if (getter->GetStream(0, &sequential) != S_OK || sequential == nullptr)
        return visitor.Problem(std::string(FormatName(format)) + ": its disk cannot be read");
    const HRESULT seekable =
        sequential->QueryInterface(kIidInStream, reinterpret_cast<void**>(&stream));
    sequential->Release();
    if (seekable != S_OK || stream == nullptr)
        return visitor.Problem(std::string(FormatName(format)) + ": its disk cannot be read");
    std::unique_ptr<IInStream, ComRelease<IInStream>> disk(stream);
    const Property size(library, handler, 0, kpidSize);
    if (size.Size() < 0)
        return visitor.Problem(std::string(FormatName(format)) + ": its disk size is not known");
    LibraryStreamSource source(*disk, size.Size(), visitor);
    ReadDiskImage(source, ContainerKind::kDiskImage, visitor);
    if (source.ReadFailed())
        visitor.Problem(std::string(FormatName(format)) +
                        ": damaged image (its disk cannot be read)");
}

// The members to extract, in the archive's order: regular files with a
// name, the encrypted ones said and left out.
std::vector<Item> ListItems(const SevenZipLibrary& library, IInArchive& handler,
                            MemberVisitor& visitor) {
    std::vector<Item> items;
    std::uint32_t count = 0;
    if (handler.GetNumberOfItems(&count) != S_OK)
        return items;
    for (std::uint32_t i = 0; i < count && !visitor.Stopping(); ++i) {
        if (Property(library, handler, i, kpidIsDir).True())
            continue;
        const std::string path = Property(library, handler, i, kpidPath).Text();
        if (path.empty()) {
            visitor.Problem("a member without a readable name");
            continue;
        }
        if (Property(library, handler, i, kpidEncrypted).True()) {
            visitor.Problem("encrypted member " + path);
            continue;
        }
        const Property time(library, handler, i, kpidMTime);
        items.push_back({i, path, UnixTime(time.Value(), visitor.ContainerTime())});
    }
    return items;
}

// What the library found wrong while opening the archive, which it opens as
// far as it can: a damaged header loses the members after it.
void SayOpenErrors(const SevenZipLibrary& library, IInArchive& handler, MemberVisitor& visitor) {
    PROPVARIANT flags{};
    if (handler.GetArchiveProperty(kpidErrorFlags, &flags) == S_OK && flags.vt == VT_UI4 &&
        flags.ulVal != 0) {
        if ((flags.ulVal & kErrorUnexpectedEnd) != 0)
            visitor.Problem("damaged archive (cut short)");
        else if ((flags.ulVal & kErrorHeaders) != 0)
            visitor.Problem("damaged archive (a header does not check out)");
        else
            visitor.Problem("damaged archive");
    }
    library.Clear(flags);
}

} // namespace

bool SevenZipAvailable() {
    return SevenZipLibrary::Get().Available();
}

bool SevenZipWasNeeded() {
    return SevenZipLibrary::Get().Needed();
}

std::string SevenZipMissingNote() {
    const SevenZipLibrary& library = SevenZipLibrary::Get();
    return "7-Zip's library " + library.Path() + " " + library.Error() +
           ": ARJ archives, NSIS installers, MSI databases, qcow2 and VDI images are read as "
           "plain files, zips in PKZIP 1 methods and deflate64 by libarchive";
}

bool ReadWithSevenZip(ScanSource& container, SevenZipFormat format, MemberVisitor& visitor) {
    SevenZipLibrary& library = SevenZipLibrary::Get();
    if (!library.Available()) {
        library.MarkNeeded();
        return false;
    }
    // 7-Zip is told where the archive starts, rather than left to search
    // the program for it.
    std::optional<SourceWindow> window;
    if (format == SevenZipFormat::kArj || format == SevenZipFormat::kNsis) {
        const std::int64_t start = FindArchiveBehindProgram(container).start;
        if (start > 0)
            window.emplace(container, start);
    }
    // The handler lets go of the stream and the callback only when it is
    // closed: they are made first, so that they outlive it.
    SourceInStream input(window ? *window : container);
    OpenCallback opening(visitor);
    Handler handler(library.NewHandler(format));
    if (!handler) {
        visitor.Problem(std::string(FormatName(format)) + ": 7-Zip's library has no handler");
        return true;
    }
    // A zip behind a self-extractor's stub is found from its end records,
    // which 7-Zip looks for only when it may search the whole file.
    const std::uint64_t searchLength = 0;
    const HRESULT opened =
        handler->Open(&input, format == SevenZipFormat::kZip ? nullptr : &searchLength, &opening);
    if (opened != S_OK) {
        if (!visitor.Stopping())
            visitor.Problem(input.ReadFailed()
                                ? std::string("the bytes cannot be read")
                                : std::string("not a readable ") + FormatName(format));
        return true;
    }
    SayOpenErrors(library, *handler, visitor);
    if (format == SevenZipFormat::kQcow || format == SevenZipFormat::kVdi) {
        ReadDisk(library, *handler, format, visitor);
        return true;
    }
    const std::vector<Item> items = ListItems(library, *handler, visitor);
    if (items.empty() || visitor.Stopping())
        return true;
    std::vector<std::uint32_t> indices;
    for (const Item& item : items)
        indices.push_back(item.index);
    ExtractCallback extracting(items, visitor);
    const HRESULT done = handler->Extract(
        indices.data(), static_cast<std::uint32_t>(indices.size()), 0, &extracting);
    handler.reset(); // closed while the callback still stands
    if (done != S_OK && !extracting.Stopped() && !visitor.Stopping())
        visitor.Problem(input.ReadFailed() ? "the bytes cannot be read" : "damaged archive");
    return true;
}

} // namespace kestrel
