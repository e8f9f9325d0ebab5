// UPX for DOS, COM, SYS and EXE: the loader holds UPX's header ("UPX!", the
// layout's version, the format, the method, checksums and lengths), and the
// compressed data follows the header. The data decompresses with libucl's
// NRV decoders (or LZMA, through liblzma, in EXE files) to the program: a
// COM or SYS image with its CALL and JMP targets made absolute (UPX's "call
// trick"), or an EXE load module followed by its relocations in UPX's own
// coding. UPX for DOS keeps no version of its own in the file.

#include <array>
#include <lzma.h>
#include <string_view>
#include <ucl/ucl.h>

#include "packer.h"

namespace kestrel {

namespace {

constexpr std::string_view kMagic = "UPX!";
constexpr std::uint8_t kFormatCom = 1;
constexpr std::uint8_t kFormatSys = 2;
constexpr std::uint8_t kFormatExe = 3;
// Layouts from 10 on close the header with a checksum of its bytes after
// the magic; 8 and 9 (UPX 0.7x) have none and no filter byte.
constexpr int kOldestLayout = 8;
constexpr int kChecksumFrom = 10;
constexpr int kNewestLayout = 14;
constexpr unsigned kChecksumModulus = 251;
// Where UPX looks for its header: the COM loader's first 128 bytes, the
// first 4 KiB of the EXE's load module.
constexpr std::int64_t kComHeaderWindow = 128;
constexpr std::int64_t kExeHeaderWindow = 4096;

// UPX's method numbers: NRV2B, NRV2D, NRV2E with the bit buffer read a
// 32-bit word, a byte or a 16-bit word at a time; LZMA.
constexpr int kMethodLzma = 14;
using UclDecoder = int (*)(const ucl_bytep, ucl_uint, ucl_bytep, ucl_uintp, ucl_voidp);
constexpr std::array<UclDecoder, 9> kUclDecoders = {
    ucl_nrv2b_decompress_safe_le32, ucl_nrv2b_decompress_safe_8, ucl_nrv2b_decompress_safe_le16,
    ucl_nrv2d_decompress_safe_le32, ucl_nrv2d_decompress_safe_8, ucl_nrv2d_decompress_safe_le16,
    ucl_nrv2e_decompress_safe_le32, ucl_nrv2e_decompress_safe_8, ucl_nrv2e_decompress_safe_le16};
constexpr int kFirstUclMethod = 2;

// The COM and SYS filters (UPX's ids 1 to 6): the 16-bit target after each
// E8 (CALL), E9 (JMP) or either was made absolute from the image's load (at
// 0100 for a COM, 0 for a driver), and in 4 to 6 written high byte first.
constexpr int kLastComFilter = 6;
constexpr std::int64_t kComOrigin = 0x100;
// A driver's header starts with the link to the next, FFFF:FFFF in the file.
constexpr std::string_view kDeviceLink = "\xFF\xFF\xFF\xFF";

// The EXE loader's flag byte, the file's last; before it, the words it says
// are there (the original MAXALLOC, MINALLOC, SP and SS, read back from the
// end), and before those the original CS:IP when the loader jumps there.
constexpr std::uint8_t kNoRelocations = 1;
constexpr std::uint8_t kUseJump = 2;
constexpr std::uint8_t kHasSs = 4;
constexpr std::uint8_t kHasSp = 8;
constexpr std::uint8_t kHasMinAlloc = 16;
constexpr std::uint8_t kHasMaxAlloc = 32;
// The relocation coding stays within what UPX's loader handles; FAR CALLs
// (9A) whose segment is no higher than the table says are found by search.
constexpr std::int64_t kMaxRelocationCoding = 0x8000 - 0x2000;
constexpr std::uint8_t kFarCall = 0x9A;
constexpr std::int64_t kSegmentSpan = 0x10000;

struct UpxHeader {
    int version = 0;
    int format = 0;
    int method = 0;
    std::uint32_t uAdler = 0, cAdler = 0;
    std::int64_t uLen = 0, cLen = 0;
    int filter = 0;
    std::int64_t dataStart = 0; // the compressed data's place in the bytes searched
};

std::uint32_t Le(const std::vector<std::uint8_t>& b, std::int64_t at, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | b[static_cast<std::size_t>(at + i)];
    return value;
}

// The header for `format` within `window` bytes of `loader`; the problem or "".
std::string FindHeader(const std::vector<std::uint8_t>& loader, std::int64_t window, int format,
                       UpxHeader& h) {
    const std::vector<std::uint8_t> start(loader.begin(),
                                          loader.begin() + std::min(window, std::ssize(loader)));
    const auto magic = FindText(start, start.begin(), kMagic);
    if (magic == start.end())
        return "UPX's header is missing";
    const std::int64_t at = magic - start.begin();
    const bool exe = format == kFormatExe;
    const std::int64_t lengthsAt = at + 16;
    if (at + 8 > std::ssize(loader))
        return "UPX's header is cut short";
    h.version = loader[at + 4];
    h.format = loader[at + 5];
    h.method = loader[at + 6];
    const int level = loader[at + 7];
    if (h.format != format)
        return "UPX's header is for another format";
    if (h.version < kOldestLayout || h.version > kNewestLayout)
        return "UPX's header layout " + std::to_string(h.version) + " is not unpacked";
    const bool checked = h.version >= kChecksumFrom;
    const std::int64_t size = (exe ? 25 : 20) + (checked ? 2 : 0);
    if (at + size > std::ssize(loader))
        return "UPX's header is cut short";
    if (checked) {
        unsigned sum = 0;
        for (std::int64_t i = at + 4; i < at + size - 1; ++i)
            sum += loader[static_cast<std::size_t>(i)];
        if (sum % kChecksumModulus != loader[static_cast<std::size_t>(at + size - 1)])
            return "UPX's header fails its checksum";
    }
    const int width = exe ? 3 : 2;
    h.uAdler = Le(loader, at + 8, 4);
    h.cAdler = Le(loader, at + 12, 4);
    h.uLen = Le(loader, lengthsAt, width);
    h.cLen = Le(loader, lengthsAt + width, width);
    const std::int64_t filterAt = lengthsAt + (exe ? 3 : 2) * width;
    h.filter = checked ? loader[static_cast<std::size_t>(filterAt)]
                       : (!exe && (level & 0x80) != 0 ? kLastComFilter : 0);
    h.dataStart = at + size;
    if (h.uLen < 2 || h.cLen < 2)
        return "UPX's header gives no data";
    return "";
}

std::string DecompressLzma(const std::vector<std::uint8_t>& packed,
                           std::vector<std::uint8_t>& out) {
    // UPX's two bytes of LZMA properties: lc + lp and pb, then lp and lc.
    if (packed.size() < 3)
        return "the packed data ends early";
    lzma_options_lzma options{};
    options.pb = packed[0] & 7;
    options.lp = packed[1] >> 4;
    options.lc = packed[1] & 15;
    if (options.pb > LZMA_PB_MAX || options.lc + options.lp > LZMA_LCLP_MAX ||
        packed[0] >> 3 != options.lc + options.lp)
        return "the LZMA properties are damaged";
    options.dict_size =
        std::max<std::uint32_t>(static_cast<std::uint32_t>(out.size()), LZMA_DICT_SIZE_MIN);
    const std::array<lzma_filter, 2> filters = {
        {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}}};
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_raw_decoder(&stream, filters.data()) != LZMA_OK)
        return "the LZMA decoder could not start";
    stream.next_in = packed.data() + 2;
    stream.avail_in = packed.size() - 2;
    stream.next_out = out.data();
    stream.avail_out = out.size();
    lzma_ret result = LZMA_OK;
    while (result == LZMA_OK && stream.avail_out > 0 && stream.avail_in > 0)
        result = lzma_code(&stream, LZMA_RUN);
    const bool full = stream.avail_out == 0;
    lzma_end(&stream);
    if (result != LZMA_OK && result != LZMA_STREAM_END)
        return "the packed data is damaged";
    return full ? "" : "the packed data ends early";
}

// The unpacked data as the header describes it, checked against both its
// checksums; the problem or "".
std::string Decompress(const std::vector<std::uint8_t>& packed, const UpxHeader& h,
                       std::vector<std::uint8_t>& out) {
    if (ucl_adler32(1, packed.data(), static_cast<ucl_uint>(packed.size())) != h.cAdler)
        return "the packed data fails its checksum";
    out.assign(static_cast<std::size_t>(h.uLen), 0);
    if (h.method == kMethodLzma) {
        if (std::string problem = DecompressLzma(packed, out); !problem.empty())
            return problem;
    } else {
        const int decoder = h.method - kFirstUclMethod;
        if (decoder < 0 || decoder >= std::ssize(kUclDecoders))
            return "UPX's method " + std::to_string(h.method) + " is not unpacked";
        ucl_uint length = static_cast<ucl_uint>(out.size());
        const int result = kUclDecoders[static_cast<std::size_t>(decoder)](
            packed.data(), packed.size(), out.data(), &length, nullptr);
        if (result == UCL_E_OUTPUT_OVERRUN)
            return "the unpacked data grows past the length in UPX's header";
        if (result != UCL_E_OK)
            return "the packed data is damaged";
        if (length != out.size())
            return "the unpacked data is shorter than UPX's header says";
    }
    if (ucl_adler32(1, out.data(), static_cast<ucl_uint>(out.size())) != h.uAdler)
        return "the unpacked data fails its checksum";
    return "";
}

// The compressed data after the header, which must leave room for the
// loader's code after it.
std::optional<std::vector<std::uint8_t>> PackedData(const std::vector<std::uint8_t>& bytes,
                                                    const UpxHeader& h, std::int64_t end) {
    if (h.dataStart + h.cLen >= end)
        return std::nullopt;
    return std::vector<std::uint8_t>(bytes.begin() + h.dataStart,
                                     bytes.begin() + h.dataStart + h.cLen);
}

void UndoCallTrick(std::vector<std::uint8_t>& image, int filter, std::int64_t origin) {
    const bool calls = filter % 3 != 2;
    const bool jumps = filter % 3 != 1;
    const bool highFirst = filter > 3;
    for (std::int64_t at = 0; at + 3 < std::ssize(image); ++at) {
        const std::uint8_t code = image[static_cast<std::size_t>(at)];
        if (!((calls && code == 0xE8) || (jumps && code == 0xE9)))
            continue;
        auto* target = image.data() + at + 1;
        const unsigned stored =
            highFirst ? (target[0] << 8 | target[1]) : (target[0] | target[1] << 8);
        const unsigned relative = stored - static_cast<unsigned>(at + 1 + origin);
        target[0] = static_cast<std::uint8_t>(relative);
        target[1] = static_cast<std::uint8_t>(relative >> 8);
        at += 2;
    }
}

// UPX's relocation coding, at the end of the unpacked data: a count of the
// 1 codes, the highest segment of a searched FAR CALL, then for each run an
// offset and a segment step, and codes: 0 (the next FAR CALL), 1 (254 on
// without a relocation; past the segment's end, a new run), or a step.
std::string ReadRelocations(const std::vector<std::uint8_t>& out, std::int64_t imageLength,
                            std::vector<std::uint32_t>& relocations) {
    const std::int64_t end = std::ssize(out) - 2;
    std::int64_t p = imageLength;
    if (p + 4 > end)
        return "the relocations are cut short";
    std::int64_t ones = WordAt(out, p);
    const std::uint16_t highest = WordAt(out, p + 2);
    p += 4;
    std::uint32_t segment = 0;
    while (ones > 0) {
        if (p + 4 > end)
            return "the relocations are cut short";
        std::int64_t offset = WordAt(out, p);
        segment = (segment + WordAt(out, p + 2)) & 0xFFFF;
        p += 4;
        for (bool relocate = true; ones > 0 && offset < kSegmentSpan; ++p) {
            if (relocate)
                relocations.push_back(segment << 16 | static_cast<std::uint32_t>(offset));
            if (p >= end)
                return "the relocations are cut short";
            const std::uint8_t code = out[static_cast<std::size_t>(p)];
            relocate = code != 1;
            if (code == 0) {
                const std::int64_t base = std::int64_t{segment} * kParagraph;
                std::int64_t at = base + offset;
                while (at + 5 <= imageLength && at - base < kSegmentSpan &&
                       !(out[static_cast<std::size_t>(at)] == kFarCall &&
                         WordAt(out, at + 3) <= highest))
                    ++at;
                if (at + 5 > imageLength || at - base >= kSegmentSpan)
                    return "a relocated far call is missing";
                offset = at - base + 3;
            } else if (code == 1) {
                offset += 254;
                if (offset < kSegmentSpan)
                    --ones;
            } else {
                offset += code;
            }
        }
    }
    return "";
}

// A COM program or a device driver (SYS), whose image is all of the file.
Unpacked UnpackCom(ScanSource& program) {
    const auto file = ReadExactly(program, 0, program.Length());
    if (!file)
        return {{}, "the packed program is cut short"};
    if (std::ssize(*file) > kMaxComProgram)
        return {{}, "the program is longer than a COM program"};
    const bool driver = FindText(*file, file->begin(), kDeviceLink) == file->begin();
    UpxHeader h;
    if (std::string problem =
            FindHeader(*file, kComHeaderWindow, driver ? kFormatSys : kFormatCom, h);
        !problem.empty())
        return {{}, problem};
    if (h.uLen > kMaxComProgram)
        return {{}, "the unpacked program is longer than a COM program"};
    if (h.filter > kLastComFilter)
        return {{}, "UPX's filter " + std::to_string(h.filter) + " is not undone"};
    const auto packed = PackedData(*file, h, std::ssize(*file));
    if (!packed)
        return {{}, "the packed data runs past the end of the program"};
    Unpacked result;
    if (std::string problem = Decompress(*packed, h, result.program); !problem.empty())
        return {{}, problem};
    if (h.filter != 0)
        UndoCallTrick(result.program, h.filter, driver ? 0 : kComOrigin);
    return result;
}

Unpacked UnpackExe(ScanSource& program, const MzHeader& mz) {
    const auto header = ReadExactly(program, 0, 32);
    const auto image = ReadExactly(program, mz.imageStart, mz.imageLength);
    if (!header || !image)
        return {{}, "the packed program is cut short"};
    UpxHeader h;
    if (std::string problem = FindHeader(*image, kExeHeaderWindow, kFormatExe, h); !problem.empty())
        return {{}, problem};
    if (h.uLen > kMaxUnpackedProgram)
        return {{}, "the unpacked program grows past what DOS can hold"};
    if (h.filter != 0)
        return {{}, "UPX's filter " + std::to_string(h.filter) + " is not undone"};
    const auto packed = PackedData(*image, h, mz.imageLength);
    if (!packed)
        return {{}, "the packed data runs past the end of the program"};
    std::vector<std::uint8_t> out;
    if (std::string problem = Decompress(*packed, h, out); !problem.empty())
        return {{}, problem};

    // The flag byte and the words before it, after the loader's code.
    std::int64_t tail = mz.imageLength - 1;
    const std::uint8_t flags = (*image)[static_cast<std::size_t>(tail)];
    MzHeader original = mz;
    LoadedProgram loaded;
    loaded.sp = WordAt(*header, 16);
    loaded.ss = WordAt(*header, 14);
    const auto take = [&](std::uint8_t flag, auto& field) {
        if ((flags & flag) != 0) {
            tail -= 2;
            field = WordAt(*image, tail);
        }
    };
    take(kHasMaxAlloc, original.maxAlloc);
    take(kHasMinAlloc, original.minAlloc);
    take(kHasSp, loaded.sp);
    take(kHasSs, loaded.ss);
    if (tail < h.dataStart + h.cLen + 4)
        return {{}, "the loader's data is damaged"};
    const std::uint32_t entry =
        (flags & kUseJump) != 0 ? Le(*image, tail - 4, 4) : Le(*header, 28, 4);
    loaded.ip = static_cast<std::uint16_t>(entry);
    loaded.cs = static_cast<std::uint16_t>(entry >> 16);

    std::int64_t imageLength = std::ssize(out);
    if ((flags & kNoRelocations) == 0) {
        const std::int64_t coding = WordAt(out, imageLength - 2);
        if (coding < 6 || coding > std::min(kMaxRelocationCoding, imageLength))
            return {{}, "the relocations are damaged"};
        imageLength -= coding;
        if (std::string problem = ReadRelocations(out, imageLength, loaded.relocations);
            !problem.empty())
            return {{}, problem};
    }
    out.resize(static_cast<std::size_t>(imageLength));
    loaded.image = std::move(out);
    // The memory the program asked for is what it had before it was packed.
    original.imageLength = imageLength;
    return BuildMzProgram(loaded, original);
}

} // namespace

Unpacked UnpackUpx(ScanSource& program) {
    if (const std::optional<MzHeader> mz = ReadMzHeader(program))
        return UnpackExe(program, *mz);
    return UnpackCom(program);
}

} // namespace kestrel
