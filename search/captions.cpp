#include "captions.h"

#include "text.h"

namespace kestrel {

std::string FileCountCaption(std::int64_t count, const std::string& path) {
    const std::string padded = "    " + std::to_string(count);
    return padded.substr(padded.size() - 4) + " files in " + path;
}

std::string ShortenCaption(const std::string& text, std::size_t maxLength) {
    const std::size_t length = Utf8Length(text);
    if (length <= maxLength || maxLength < 30)
        return text;
    // Byte offset of character `index` of the UTF-8 text.
    const auto offsetOf = [&](std::size_t index) {
        std::size_t characters = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
                if (characters == index)
                    return i;
                ++characters;
            }
        }
        return text.size();
    };
    return text.substr(0, offsetOf(24)) + "......" +
           text.substr(offsetOf(length - (maxLength - 30)));
}

} // namespace kestrel
