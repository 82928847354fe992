#include "platform/Sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace vorlik::platform {

struct Sha256::Context {
    EVP_MD_CTX *digest = nullptr;
    ~Context() { EVP_MD_CTX_free(digest); }
};

Sha256::Sha256() : m_context(std::make_unique<Context>())
{
    m_context->digest = EVP_MD_CTX_new();
    if (!m_context->digest || EVP_DigestInit_ex(m_context->digest, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 is not available from libcrypto");
}

Sha256::~Sha256() = default;

void Sha256::add(QByteArrayView bytes)
{
    if (!bytes.isEmpty())
        EVP_DigestUpdate(m_context->digest, bytes.data(), size_t(bytes.size()));
}

QString Sha256::hexDigest()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_context->digest, digest, &length);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
}

QString Sha256::hexDigest(QByteArrayView bytes)
{
    Sha256 hash;
    hash.add(bytes);
    return hash.hexDigest();
}

} // namespace vorlik::platform
