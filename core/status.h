#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace korvela {

// A failure as the user sees it: a numeric code (shown in the message title) and a description.
struct Failure
{
    int code = 0;
    QString description;
};

// Success or a Failure. Logic returns these; only the window turns a failure into a message box.
class [[nodiscard]] Status
{
public:
    Status() = default;
    Status(Failure failure)
        : m_failure(std::move(failure))
    {}

    static Status success() { return {}; }

    bool ok() const { return !m_failure.has_value(); }
    explicit operator bool() const { return ok(); }
    const Failure& failure() const { return *m_failure; }

private:
    std::optional<Failure> m_failure;
};

// A value or a Failure.
template <typename T>
class [[nodiscard]] Result
{
public:
    Result(T value)
        : m_data(std::move(value))
    {}
    Result(Failure failure)
        : m_data(std::move(failure))
    {}

    bool ok() const { return m_data.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return std::get<0>(m_data); }
    T& value() & { return std::get<0>(m_data); }
    T&& value() && { return std::get<0>(std::move(m_data)); }
    const T& operator*() const& { return value(); }
    T& operator*() & { return value(); }
    const T* operator->() const { return &value(); }
    T* operator->() { return &value(); }
    const Failure& failure() const { return std::get<1>(m_data); }
    Status status() const { return ok() ? Status() : Status(failure()); }

private:
    std::variant<T, Failure> m_data;
};

} // namespace korvela
