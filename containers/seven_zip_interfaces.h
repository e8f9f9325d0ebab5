#pragma once

// The part of 7-Zip's COM-style plug-in interface that Kestrel uses, as 7-Zip
// documents it: the interface identifiers, each interface's methods in their
// vtable order, the property identifiers and the entry points of 7z.so.
// Debian's p7zip-full ships the library without headers, so they are
// declared here, once. 7-Zip's Unix build gives IUnknown no virtual
// destructor, so none is declared (a protected one, which adds nothing to
// the vtable): an object is let go only through Release(), and the objects
// Kestrel hands to the library are never deleted by it.

#include <cstdint>

namespace kestrel::sevenzip {

using HRESULT = std::int32_t; // 7-Zip's LONG is 32 bits on every system
using PROPID = std::uint32_t;
using VARTYPE = std::uint16_t;
using BSTR = wchar_t*;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);

struct GUID {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3)
        return false;
    for (int i = 0; i < 8; ++i) {
        if (a.data4[i] != b.data4[i])
            return false;
    }
    return true;
}

// Every 7-Zip interface is {23170F69-40C1-278A-0000-00gg00ii0000}: group gg,
// interface ii.
constexpr GUID InterfaceId(std::uint8_t group, std::uint8_t id) {
    return {0x23170F69, 0x40C1, 0x278A, {0, 0, 0, group, 0, id, 0, 0}};
}

inline constexpr GUID kIidUnknown = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID kIidSequentialInStream = InterfaceId(3, 0x01);
inline constexpr GUID kIidSequentialOutStream = InterfaceId(3, 0x02);
inline constexpr GUID kIidInStream = InterfaceId(3, 0x03);
inline constexpr GUID kIidProgress = InterfaceId(0, 0x05);
inline constexpr GUID kIidArchiveOpenCallback = InterfaceId(6, 0x10);
inline constexpr GUID kIidArchiveExtractCallback = InterfaceId(6, 0x20);
inline constexpr GUID kIidInArchiveGetStream = InterfaceId(6, 0x40);
inline constexpr GUID kIidInArchive = InterfaceId(6, 0x60);

// PROPVARIANT as 7-Zip lays it out: the type, three reserved words, then an
// eight-byte union.
struct PROPVARIANT {
    VARTYPE vt;
    std::uint16_t reserved1;
    std::uint16_t reserved2;
    std::uint16_t reserved3;
    union {
        std::int16_t boolVal; // VARIANT_BOOL: -1 true, 0 false
        std::uint32_t ulVal;
        std::uint64_t uhVal;
        std::uint64_t filetime; // 100 ns since 1601, low dword first
        BSTR bstrVal;
    };
};

enum : VARTYPE {
    VT_EMPTY = 0,
    VT_BSTR = 8,
    VT_BOOL = 11,
    VT_UI4 = 19,
    VT_UI8 = 21,
    VT_FILETIME = 64,
};

// Item properties.
enum : PROPID {
    kpidPath = 3,
    kpidIsDir = 6,
    kpidSize = 7,
    kpidMTime = 12,
    kpidEncrypted = 15,
    kpidErrorFlags = 71, // of the archive: what was wrong with it when opened
};

// The archive's error flags.
enum : std::uint32_t {
    kErrorHeaders = 1 << 1,
    kErrorUnexpectedEnd = 1 << 5,
};

// Handler properties of GetHandlerProperty2.
enum : PROPID {
    kHandlerName = 0,
    kHandlerClassId = 1,
};

// IArchiveExtractCallback's modes and results.
enum : std::int32_t {
    kAskExtract = 0,
    kAskTest = 1,
    kAskSkip = 2,
};
enum : std::int32_t {
    kResultOk = 0,
    kResultUnsupportedMethod = 1,
    kResultDataError = 2,
    kResultCrcError = 3,
    kResultUnavailable = 4,
    kResultUnexpectedEnd = 5,
    kResultDataAfterEnd = 6,
    kResultIsNotArchive = 7,
    kResultHeadersError = 8,
    kResultWrongPassword = 9,
};

enum : std::uint32_t { kSeekSet = 0, kSeekCurrent = 1, kSeekEnd = 2 };

struct IUnknown {
    virtual HRESULT QueryInterface(const GUID& iid, void** object) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

struct ISequentialInStream : IUnknown {
    virtual HRESULT Read(void* data, std::uint32_t size, std::uint32_t* processed) = 0;

protected:
    ~ISequentialInStream() = default;
};

struct IInStream : ISequentialInStream {
    virtual HRESULT Seek(std::int64_t offset, std::uint32_t origin, std::uint64_t* position) = 0;

protected:
    ~IInStream() = default;
};

struct ISequentialOutStream : IUnknown {
    virtual HRESULT Write(const void* data, std::uint32_t size, std::uint32_t* processed) = 0;

protected:
    ~ISequentialOutStream() = default;
};

struct IProgress : IUnknown {
    virtual HRESULT SetTotal(std::uint64_t total) = 0;
    virtual HRESULT SetCompleted(const std::uint64_t* completed) = 0;

protected:
    ~IProgress() = default;
};

struct IArchiveOpenCallback : IUnknown {
    virtual HRESULT SetTotal(const std::uint64_t* files, const std::uint64_t* bytes) = 0;
    virtual HRESULT SetCompleted(const std::uint64_t* files, const std::uint64_t* bytes) = 0;

protected:
    ~IArchiveOpenCallback() = default;
};

struct IArchiveExtractCallback : IProgress {
    virtual HRESULT GetStream(std::uint32_t index, ISequentialOutStream** stream,
                              std::int32_t askMode) = 0;
    virtual HRESULT PrepareOperation(std::int32_t askMode) = 0;
    virtual HRESULT SetOperationResult(std::int32_t result) = 0;

protected:
    ~IArchiveExtractCallback() = default;
};

struct IInArchiveGetStream : IUnknown {
    virtual HRESULT GetStream(std::uint32_t index, ISequentialInStream** stream) = 0;

protected:
    ~IInArchiveGetStream() = default;
};

struct IInArchive : IUnknown {
    virtual HRESULT Open(IInStream* stream, const std::uint64_t* maxCheckStartPosition,
                         IArchiveOpenCallback* callback) = 0;
    virtual HRESULT Close() = 0;
    virtual HRESULT GetNumberOfItems(std::uint32_t* count) = 0;
    virtual HRESULT GetProperty(std::uint32_t index, PROPID property, PROPVARIANT* value) = 0;
    virtual HRESULT Extract(const std::uint32_t* indices, std::uint32_t count,
                            std::int32_t testMode, IArchiveExtractCallback* callback) = 0;
    virtual HRESULT GetArchiveProperty(PROPID property, PROPVARIANT* value) = 0;
    virtual HRESULT GetNumberOfProperties(std::uint32_t* count) = 0;
    virtual HRESULT GetPropertyInfo(std::uint32_t index, BSTR* name, PROPID* property,
                                    VARTYPE* type) = 0;
    virtual HRESULT GetNumberOfArchiveProperties(std::uint32_t* count) = 0;
    virtual HRESULT GetArchivePropertyInfo(std::uint32_t index, BSTR* name, PROPID* property,
                                           VARTYPE* type) = 0;

protected:
    ~IInArchive() = default;
};

// The entry points of 7z.so.
using CreateObjectFunction = HRESULT (*)(const GUID* classId, const GUID* iid, void** object);
using GetNumberOfFormatsFunction = HRESULT (*)(std::uint32_t* count);
using GetHandlerProperty2Function = HRESULT (*)(std::uint32_t format, PROPID property,
                                                PROPVARIANT* value);
using VariantClearFunction = HRESULT (*)(PROPVARIANT* value);

} // namespace kestrel::sevenzip
