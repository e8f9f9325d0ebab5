// EXEPACK: the load module is packed from its end, run-length commands read
// backwards; the loader's data (at CS:0000) keeps the program's registers and
// its relocation table follows the loader's code and message.

#include <algorithm>
#include <cstring>
#include <string_view>

#include "packer.h"

namespace kestrel {

namespace {

// The loader's data: real IP, real CS, a scratch word, the length of the
// loader (data, code, message and relocations), real SP, real SS, the
// unpacked length in paragraphs and, in the longer form, the paragraphs
// between the packed data and the loader.
constexpr std::int64_t kExepackSizeAt = 6;
constexpr std::int64_t kDestLengthAt = 12;
constexpr std::int64_t kSkipLengthAt = 14;
constexpr std::int64_t kLongDataSize = 18;
constexpr std::string_view kMessage = "Packed file is corrupt";
// The packed data may end in up to 16 bytes of 0xFF padding.
constexpr int kMaxPadding = 16;
constexpr std::uint8_t kFill = 0xB0;
constexpr std::uint8_t kCopy = 0xB2;

// Unpacks in place, from the end down, as the loader does; the problem or "".
std::string Decode(std::vector<std::uint8_t>& buffer, std::int64_t source) {
    std::int64_t destination = std::ssize(buffer);
    for (int i = 0;
         i < kMaxPadding && source > 0 && buffer[static_cast<std::size_t>(source - 1)] == 0xFF; ++i)
        --source;
    const auto at = [&buffer](std::int64_t i) { return buffer[static_cast<std::size_t>(i)]; };
    for (;;) {
        if (source < 3)
            return "the packed data ends early";
        const std::uint8_t command = at(source - 1);
        const std::int64_t length = at(source - 3) | at(source - 2) << 8;
        source -= 3;
        if (length > destination)
            return "the unpacked data runs past the start of the program";
        if ((command & 0xFE) == kFill) {
            if (source < 1)
                return "the packed data ends early";
            const std::uint8_t value = at(--source);
            destination -= length;
            std::fill_n(buffer.begin() + destination, length, value);
        } else if ((command & 0xFE) == kCopy) {
            if (length > source)
                return "the packed data ends early";
            source -= length;
            destination -= length;
            std::memmove(buffer.data() + destination, buffer.data() + source,
                         static_cast<std::size_t>(length));
        } else {
            return "the packed data holds an unknown command";
        }
        if ((command & 1) != 0)
            return "";
    }
}

} // namespace

Unpacked UnpackExepack(ScanSource& program, const MzHeader& header) {
    const std::int64_t loaderStart = header.imageStart + header.cs * kParagraph;
    const auto data = ReadExactly(program, loaderStart, header.ip);
    if (!data)
        return {{}, "the packed program is cut short"};
    const auto loader = ReadExactly(program, loaderStart, WordAt(*data, kExepackSizeAt));
    if (!loader)
        return {{}, "the loader is cut short"};
    const auto message = FindText(*loader, loader->begin(), kMessage);
    if (message == loader->end())
        return {{}, "the loader is damaged"};
    const std::vector<std::uint8_t> table(message + std::ssize(kMessage), loader->end());

    const std::int64_t skip = header.ip >= kLongDataSize ? WordAt(*data, kSkipLengthAt) : 1;
    const std::int64_t packedLength =
        (header.cs - std::max<std::int64_t>(skip, 1) + 1) * kParagraph;
    const std::int64_t unpackedLength = WordAt(*data, kDestLengthAt) * kParagraph;
    if (packedLength < 0 || unpackedLength < packedLength)
        return {{}, "the loader's lengths do not fit together"};
    const auto packed = ReadExactly(program, header.imageStart, packedLength);
    if (!packed)
        return {{}, "the packed program is cut short"};

    LoadedProgram loaded;
    loaded.image.assign(static_cast<std::size_t>(unpackedLength), 0);
    std::copy(packed->begin(), packed->end(), loaded.image.begin());
    if (std::string problem = Decode(loaded.image, packedLength); !problem.empty())
        return {{}, problem};
    if (!ReadSegmentRelocations(table, loaded.relocations))
        return {{}, "the loader's relocation table is damaged"};
    loaded.ip = WordAt(*data, 0);
    loaded.cs = WordAt(*data, 2);
    loaded.sp = WordAt(*data, 8);
    loaded.ss = WordAt(*data, 10);
    return BuildMzProgram(loaded, header);
}

} // namespace kestrel
