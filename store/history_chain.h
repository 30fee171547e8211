#pragma once

#include "core/database.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace korvela {

// The hash that chains the rows of the report history and of the access log: the lower-case hex
// SHA-256 of the previous row's hash followed by the row's own columns, each written as "-" when
// null and otherwise as the number of its UTF-8 bytes, ":" and the text (integers in decimal).
// The length in front of every column keeps "ab"+"c" apart from "a"+"bc". The server's function
// korvela_digest writes the same bytes, so either store's rows are checked by this one code.
class ChainDigest
{
public:
    ChainDigest();
    ~ChainDigest();
    ChainDigest(const ChainDigest&) = delete;
    ChainDigest& operator=(const ChainDigest&) = delete;

    void addNull();
    void addText(std::string_view utf8);
    void addInteger(std::int64_t n);
    void add(const Value& value);
    // The hash of what was added; the digest then starts again, empty.
    QString hex();

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

// The hash of a row: `previous` is the previous row's hash (a null QString for the first row).
QString chainDigest(const QString& previous, const std::vector<Value>& columns);

} // namespace korvela
