#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

// Splits fuzzer input into texts at the byte 0x1F, each read as UTF-8 (invalid bytes become
// replacement characters, as typing could never give them otherwise).
inline std::vector<QString> fuzzTexts(const std::uint8_t* data, std::size_t size, std::size_t count)
{
    std::vector<QString> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= size && out.size() + 1 < count; ++i) {
        if (i == size || data[i] == 0x1F) {
            out.push_back(QString::fromUtf8(reinterpret_cast<const char*>(data + start), qsizetype(i - start)));
            start = i + 1;
        }
    }
    if (out.size() < count)
        out.push_back(start < size ? QString::fromUtf8(reinterpret_cast<const char*>(data + start),
                                                        qsizetype(size - start))
                                   : QString());
    while (out.size() < count)
        out.emplace_back();
    return out;
}

#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            __builtin_trap();                                                                                \
    } while (false)
