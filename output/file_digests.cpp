// The digests of the scanned files, with OpenSSL's libcrypto.

#include "file_digests.h"

#include <openssl/evp.h>

namespace kestrel {

namespace {

const EVP_MD* DigestType(const std::string& name) {
    if (name == "sha256")
        return EVP_sha256();
    if (name == "sha1")
        return EVP_sha1();
    if (name == "md5")
        return EVP_md5();
    return nullptr;
}

std::string Hex(const unsigned char* bytes, unsigned length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned i = 0; i < length; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0xF];
    }
    return text;
}

} // namespace

struct FileDigests::Contexts {
    std::vector<EVP_MD_CTX*> contexts;
    ~Contexts() {
        for (EVP_MD_CTX* context : contexts)
            EVP_MD_CTX_free(context);
    }
};

FileDigests::FileDigests(std::vector<std::string> names)
    : m_names(std::move(names)), m_contexts(std::make_unique<Contexts>()) {
    for (std::size_t i = 0; i < m_names.size(); ++i)
        m_contexts->contexts.push_back(EVP_MD_CTX_new());
}

FileDigests::~FileDigests() = default;

void FileDigests::StartFile() {
    m_bytesSeen = 0;
    for (std::size_t i = 0; i < m_names.size(); ++i)
        EVP_DigestInit_ex(m_contexts->contexts[i], DigestType(m_names[i]), nullptr);
}

void FileDigests::AddBytes(std::span<const std::uint8_t> bytes) {
    m_bytesSeen += static_cast<std::int64_t>(bytes.size());
    for (EVP_MD_CTX* context : m_contexts->contexts)
        EVP_DigestUpdate(context, bytes.data(), bytes.size());
}

std::optional<std::vector<std::string>> FileDigests::Finish(std::int64_t size) {
    std::vector<std::string> digests;
    for (EVP_MD_CTX* context : m_contexts->contexts) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned length = 0;
        EVP_DigestFinal_ex(context, digest, &length);
        digests.push_back(Hex(digest, length));
    }
    if (m_bytesSeen != size)
        return std::nullopt;
    return digests;
}

} // namespace kestrel
