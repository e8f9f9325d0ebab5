// Loading 7-Zip's library and checking that it behaves as its interface says.

#include "seven_zip_library.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string_view>
#include <zlib.h>

#include "source_window.h"

namespace kestrel {

using namespace sevenzip;

namespace {

// The handlers' names as the library gives them, by SevenZipFormat.
constexpr std::array<std::string_view, 6> kHandlerNames = {"zip",      "arj",  "nsis",
                                                           "compound", "qcow", "vdi"};

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

constexpr std::string_view kTestName = "KESTREL.TXT";
constexpr std::string_view kTestText = "7-Zip's library reads this zip";

void PutLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A zip of one stored file: its local header and data, the central
// directory entry and the end record.
std::vector<std::uint8_t> TestZip() {
    const auto* text = reinterpret_cast<const Bytef*>(kTestText.data());
    const auto crc =
        static_cast<std::uint32_t>(crc32(0, text, static_cast<uInt>(kTestText.size())));
    const auto size = static_cast<std::uint32_t>(kTestText.size());
    const auto nameLength = static_cast<std::uint32_t>(kTestName.size());
    std::vector<std::uint8_t> zip;
    const auto common = [&] {
        PutLe(zip, 10, 2); // version needed
        PutLe(zip, 0, 2);  // flags
        PutLe(zip, 0, 2);  // method: stored
        PutLe(zip, 0, 4);  // DOS time and date
        PutLe(zip, crc, 4);
        PutLe(zip, size, 4);
        PutLe(zip, size, 4);
        PutLe(zip, nameLength, 2);
        PutLe(zip, 0, 2); // extra length
    };
    PutLe(zip, 0x04034B50, 4);
    common();
    zip.insert(zip.end(), kTestName.begin(), kTestName.end());
    zip.insert(zip.end(), kTestText.begin(), kTestText.end());
    const auto directory = static_cast<std::uint32_t>(zip.size());
    PutLe(zip, 0x02014B50, 4);
    PutLe(zip, 10, 2); // version made by
    common();
    PutLe(zip, 0, 2); // comment length
    PutLe(zip, 0, 2); // disk
    PutLe(zip, 0, 2); // internal attributes
    PutLe(zip, 0, 4); // external attributes
    PutLe(zip, 0, 4); // offset of the local header
    zip.insert(zip.end(), kTestName.begin(), kTestName.end());
    const auto directorySize = static_cast<std::uint32_t>(zip.size()) - directory;
    PutLe(zip, 0x06054B50, 4);
    PutLe(zip, 0, 4);
    PutLe(zip, 1, 2);
    PutLe(zip, 1, 2);
    PutLe(zip, directorySize, 4);
    PutLe(zip, directory, 4);
    PutLe(zip, 0, 2);
    return zip;
}

// Keeps what the self-test extracts.
class CollectingCallback final : public IArchiveExtractCallback, public ISequentialOutStream {
public:
    HRESULT QueryInterface(const GUID& iid, void** object) override {
        if (iid == kIidUnknown || iid == kIidProgress || iid == kIidArchiveExtractCallback) {
            *object = static_cast<IArchiveExtractCallback*>(this);
            return S_OK;
        }
        if (iid == kIidSequentialOutStream) {
            *object = static_cast<ISequentialOutStream*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    std::uint32_t AddRef() override { return 1; }
    std::uint32_t Release() override { return 1; }
    HRESULT SetTotal(std::uint64_t) override { return S_OK; }
    HRESULT SetCompleted(const std::uint64_t*) override { return S_OK; }
    HRESULT GetStream(std::uint32_t, ISequentialOutStream** stream, std::int32_t mode) override {
        *stream = mode == kAskExtract ? static_cast<ISequentialOutStream*>(this) : nullptr;
        return S_OK;
    }
    HRESULT PrepareOperation(std::int32_t) override { return S_OK; }
    HRESULT SetOperationResult(std::int32_t result) override {
        result_ = result;
        return S_OK;
    }
    HRESULT Write(const void* data, std::uint32_t size, std::uint32_t* processed) override {
        const auto* bytes = static_cast<const char*>(data);
        if (text.size() + size > 4096)
            return E_FAIL;
        text.append(bytes, size);
        if (processed != nullptr)
            *processed = size;
        return S_OK;
    }

    std::string text;
    std::int32_t result_ = -1;
};

} // namespace

std::string WideToUtf8(const wchar_t* text) {
    std::string out;
    if (text == nullptr)
        return out;
    for (; *text != 0; ++text) {
        auto c = static_cast<std::uint32_t>(*text);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

HRESULT SourceInStream::QueryInterface(const GUID& iid, void** object) {
    if (iid == kIidUnknown || iid == kIidSequentialInStream || iid == kIidInStream) {
        *object = static_cast<IInStream*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT SourceInStream::Read(void* data, std::uint32_t size, std::uint32_t* processed) {
    if (processed != nullptr)
        *processed = 0;
    const std::int64_t got = m_source.ReadAt(m_position, static_cast<std::uint8_t*>(data), size);
    if (got < 0) {
        m_readFailed = true;
        return E_FAIL;
    }
    m_position += got;
    if (processed != nullptr)
        *processed = static_cast<std::uint32_t>(got);
    return S_OK;
}

HRESULT SourceInStream::Seek(std::int64_t offset, std::uint32_t origin, std::uint64_t* position) {
    std::int64_t base = 0;
    if (origin == kSeekCurrent)
        base = m_position;
    else if (origin == kSeekEnd)
        base = m_source.Length();
    else if (origin != kSeekSet)
        return E_INVALIDARG;
    // A position before the start is refused; one past the end reads nothing.
    if (offset < -base || (offset > 0 && offset > INT64_MAX - base))
        return static_cast<HRESULT>(0x80070083); // HRESULT_WIN32_ERROR_NEGATIVE_SEEK
    m_position = base + offset;
    if (position != nullptr)
        *position = static_cast<std::uint64_t>(m_position);
    return S_OK;
}

SevenZipLibrary& SevenZipLibrary::Get() {
    static SevenZipLibrary library([] {
        const char* path = std::getenv("KESTREL_7Z_LIBRARY");
        return std::string(path != nullptr && path[0] != '\0' ? path : kSevenZipLibraryPath);
    }());
    return library;
}

SevenZipLibrary::SevenZipLibrary(const std::string& path) : m_path(path) {
    if (Load() && FindHandlers())
        SelfTest();
}

SevenZipLibrary::~SevenZipLibrary() {
    // The library stays loaded: objects of it may still be let go at exit.
}

bool SevenZipLibrary::Load() {
    m_handle = ::dlmopen(LM_ID_NEWLM, m_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        const char* why = ::dlerror();
        m_error = "cannot be loaded: " + std::string(why != nullptr ? why : "unknown error");
        return false;
    }
    m_createObject = reinterpret_cast<CreateObjectFunction>(::dlsym(m_handle, "CreateObject"));
    m_variantClear = reinterpret_cast<VariantClearFunction>(::dlsym(m_handle, "VariantClear"));
    if (m_createObject == nullptr || m_variantClear == nullptr ||
        ::dlsym(m_handle, "GetNumberOfFormats") == nullptr ||
        ::dlsym(m_handle, "GetHandlerProperty2") == nullptr) {
        m_error = "is not 7-Zip's library (its entry points are missing)";
        return false;
    }
    return true;
}

bool SevenZipLibrary::FindHandlers() {
    const auto count =
        reinterpret_cast<GetNumberOfFormatsFunction>(::dlsym(m_handle, "GetNumberOfFormats"));
    const auto property =
        reinterpret_cast<GetHandlerProperty2Function>(::dlsym(m_handle, "GetHandlerProperty2"));
    std::uint32_t formats = 0;
    if (count(&formats) != S_OK) {
        m_error = "does not list its formats";
        return false;
    }
    m_handlers.assign(kHandlerNames.size(), GUID{});
    std::vector<bool> found(kHandlerNames.size(), false);
    for (std::uint32_t i = 0; i < formats; ++i) {
        PROPVARIANT name{};
        PROPVARIANT classId{};
        if (property(i, kHandlerName, &name) == S_OK && name.vt == VT_BSTR &&
            property(i, kHandlerClassId, &classId) == S_OK && classId.vt == VT_BSTR &&
            classId.bstrVal != nullptr) {
            const std::string text = WideToUtf8(name.bstrVal);
            for (std::size_t f = 0; f < kHandlerNames.size(); ++f) {
                if (SameLetters(text, kHandlerNames[f])) {
                    std::memcpy(&m_handlers[f], classId.bstrVal, sizeof(GUID));
                    found[f] = true;
                }
            }
        }
        m_variantClear(&name);
        m_variantClear(&classId);
    }
    for (std::size_t f = 0; f < kHandlerNames.size(); ++f) {
        if (!found[f]) {
            m_error = "has no handler for " + std::string(kHandlerNames[f]);
            return false;
        }
    }
    return true;
}

IInArchive* SevenZipLibrary::NewHandler(SevenZipFormat format) const {
    if (m_createObject == nullptr || m_handlers.empty())
        return nullptr;
    void* object = nullptr;
    const GUID& classId = m_handlers[static_cast<std::size_t>(format)];
    if (m_createObject(&classId, &kIidInArchive, &object) != S_OK)
        return nullptr;
    return static_cast<IInArchive*>(object);
}

void SevenZipLibrary::Clear(PROPVARIANT& value) const {
    if (m_variantClear != nullptr)
        m_variantClear(&value);
}

// Opens a stored zip made here, reads its one name and extracts its bytes:
// a library whose interface differs from what Kestrel declares fails here,
// not on a user's file.
bool SevenZipLibrary::SelfTest() {
    m_error = "failed its self-test";
    const std::vector<std::uint8_t> zipBytes = TestZip();
    BytesSource zip(zipBytes);
    SourceInStream input(zip);
    IInArchive* handler = NewHandler(SevenZipFormat::kZip);
    if (handler == nullptr)
        return false;
    const std::uint64_t maxStart = 0;
    const std::uint32_t kFirst = 0;
    std::uint32_t items = 0;
    PROPVARIANT path{};
    CollectingCallback extracted;
    const bool passed = handler->Open(&input, &maxStart, nullptr) == S_OK &&
                        handler->GetNumberOfItems(&items) == S_OK && items == 1 &&
                        handler->GetProperty(0, kpidPath, &path) == S_OK && path.vt == VT_BSTR &&
                        WideToUtf8(path.bstrVal) == kTestName &&
                        handler->Extract(&kFirst, 1, 0, &extracted) == S_OK &&
                        extracted.result_ == kResultOk && extracted.text == kTestText;
    Clear(path);
    handler->Close();
    handler->Release();
    if (passed)
        m_error.clear();
    return passed;
}

} // namespace kestrel
