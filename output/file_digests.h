#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "byte_observer.h"

namespace kestrel {

// The digests of each scanned file, computed with OpenSSL's libcrypto while
// the scanner reads it. The names are those of --hash: sha256, sha1, md5.
class FileDigests : public ByteObserver {
public:
    // `names` are known algorithms, each given once.
    explicit FileDigests(std::vector<std::string> names);
    ~FileDigests() override;
    FileDigests(const FileDigests&) = delete;
    FileDigests& operator=(const FileDigests&) = delete;

    void StartFile() override;
    void AddBytes(std::span<const std::uint8_t> bytes) override;

    const std::vector<std::string>& Names() const { return m_names; }
    // The digests of the file just scanned, in lower-case hexadecimal, in
    // the order of the names; nothing when fewer than `size` bytes were seen.
    std::optional<std::vector<std::string>> Finish(std::int64_t size);

private:
    struct Contexts;
    std::vector<std::string> m_names;
    std::unique_ptr<Contexts> m_contexts;
    std::int64_t m_bytesSeen = 0;
};

} // namespace kestrel
