#include "store/history_chain.h"

#include <openssl/evp.h>

#include <QByteArray>

#include <charconv>

namespace korvela {

struct ChainDigest::Context
{
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> sha{EVP_MD_CTX_new(), EVP_MD_CTX_free};
};

ChainDigest::ChainDigest()
    : m_context(std::make_unique<Context>())
{
    EVP_DigestInit_ex(m_context->sha.get(), EVP_sha256(), nullptr);
}

ChainDigest::~ChainDigest() = default;

void ChainDigest::addNull()
{
    EVP_DigestUpdate(m_context->sha.get(), "-", 1);
}

void ChainDigest::addText(std::string_view utf8)
{
    char length[24];
    const auto end = std::to_chars(length, length + sizeof length - 1, utf8.size()).ptr;
    *end = ':';
    EVP_DigestUpdate(m_context->sha.get(), length, std::size_t(end + 1 - length));
    EVP_DigestUpdate(m_context->sha.get(), utf8.data(), utf8.size());
}

void ChainDigest::addInteger(std::int64_t n)
{
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, n).ptr;
    addText({text, std::size_t(end - text)});
}

void ChainDigest::add(const Value& value)
{
    if (isNull(value))
        addNull();
    else if (const auto* n = std::get_if<std::int64_t>(&value))
        addInteger(*n);
    else
        addText(valueToText(value).toUtf8().toStdString());
}

QString ChainDigest::hex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_context->sha.get(), digest, &length);
    EVP_DigestInit_ex(m_context->sha.get(), EVP_sha256(), nullptr);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex());
}

QString chainDigest(const QString& previous, const std::vector<Value>& columns)
{
    ChainDigest digest;
    if (previous.isNull())
        digest.addNull();
    else
        digest.addText(previous.toUtf8().toStdString());
    for (const Value& column : columns)
        digest.add(column);
    return digest.hex();
}

} // namespace korvela
