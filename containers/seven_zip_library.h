#pragma once

// 7-Zip's library (7z.so of Debian's p7zip-full), loaded at run time. It is
// checked once, at first use, by opening a small zip made in memory: a
// library that is missing, unreadable or does not behave as its interface
// says is not used, and the formats only it reads are then read as plain
// files.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "scan_source.h"
#include "seven_zip_interfaces.h"

namespace kestrel {

// Where Debian puts the library; KESTREL_7Z_LIBRARY names another file.
inline constexpr const char* kSevenZipLibraryPath = "/usr/lib/p7zip/7z.so";

// The formats read through the library, by the name its handler has.
enum class SevenZipFormat { kZip, kArj, kNsis, kCompound, kQcow, kVdi };

class SevenZipLibrary {
public:
    // The library of this process, loaded and checked at the first call.
    static SevenZipLibrary& Get();

    // Loads and checks the library at `path` (the process's own one comes
    // from Get()).
    explicit SevenZipLibrary(const std::string& path);
    ~SevenZipLibrary();
    SevenZipLibrary(const SevenZipLibrary&) = delete;
    SevenZipLibrary& operator=(const SevenZipLibrary&) = delete;

    bool Available() const { return m_error.empty(); }
    // Why the library is not available: "cannot be loaded: ...", "...".
    const std::string& Error() const { return m_error; }
    const std::string& Path() const { return m_path; }

    // A new handler for the format, to be let go with Release(); null when
    // the library is not available.
    sevenzip::IInArchive* NewHandler(SevenZipFormat format) const;
    // Frees what the library put in a property (a string).
    void Clear(sevenzip::PROPVARIANT& value) const;

    // A container that only the library reads was met while it is missing.
    void MarkNeeded() { m_needed = true; }
    bool Needed() const { return m_needed; }

private:
    bool Load();
    bool FindHandlers();
    bool SelfTest();

    std::string m_path;
    std::string m_error;
    void* m_handle = nullptr;
    sevenzip::CreateObjectFunction m_createObject = nullptr;
    sevenzip::VariantClearFunction m_variantClear = nullptr;
    std::vector<sevenzip::GUID> m_handlers; // by SevenZipFormat
    std::atomic<bool> m_needed{false};
};

// A scan source as 7-Zip's seekable input stream. Reads stop with E_ABORT
// once `stopping` (when given) says so.
class SourceInStream final : public sevenzip::IInStream {
public:
    explicit SourceInStream(ScanSource& source) : m_source(source) {}

    sevenzip::HRESULT QueryInterface(const sevenzip::GUID& iid, void** object) override;
    std::uint32_t AddRef() override { return ++m_references; }
    std::uint32_t Release() override { return --m_references; }
    sevenzip::HRESULT Read(void* data, std::uint32_t size, std::uint32_t* processed) override;
    sevenzip::HRESULT Seek(std::int64_t offset, std::uint32_t origin,
                           std::uint64_t* position) override;

    // Whether a read of the source failed (a read error, not the end).
    bool ReadFailed() const { return m_readFailed; }

private:
    ScanSource& m_source;
    std::int64_t m_position = 0;
    std::uint32_t m_references = 0;
    bool m_readFailed = false;
};

// A string of the library's wide characters as UTF-8.
std::string WideToUtf8(const wchar_t* text);

} // namespace kestrel
