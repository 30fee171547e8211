#pragma once

#include <QString>
#include <cstddef>
#include <vector>

namespace korvela {

// Rows of a fixed number of texts in one buffer: a list of a few hundred thousand reports keeps
// its texts in a few bytes each instead of a QString (and an allocation) per cell.
class CompactTexts
{
public:
    explicit CompactTexts(int columns)
        : m_columns(std::size_t(columns))
    {
    }

    int columns() const { return int(m_columns); }
    int rows() const { return int(m_ends.size() / m_columns); }

    // Appends one cell; a row is complete after `columns()` of them.
    void append(const QString& text)
    {
        m_chars.insert(m_chars.end(), text.utf16(), text.utf16() + text.size());
        m_ends.push_back(m_chars.size());
    }

    QString cell(int row, int column) const
    {
        const std::size_t i = std::size_t(row) * m_columns + std::size_t(column);
        const std::size_t begin = i == 0 ? 0 : m_ends[i - 1];
        return QString(reinterpret_cast<const QChar*>(m_chars.data() + begin), qsizetype(m_ends[i] - begin));
    }

    void reserve(int rows, int charsPerRow)
    {
        m_chars.reserve(std::size_t(rows) * std::size_t(charsPerRow));
        m_ends.reserve(std::size_t(rows) * m_columns);
    }

    void shrinkToFit()
    {
        m_chars.shrink_to_fit();
        m_ends.shrink_to_fit();
    }

private:
    std::size_t m_columns;
    std::vector<char16_t> m_chars;
    std::vector<std::size_t> m_ends;
};

} // namespace korvela
