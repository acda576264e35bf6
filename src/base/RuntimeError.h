#pragma once

#include <QString>

#include <cstdint>
#include <exception>
#include <string>

// Error numbers the program raises itself. Outside components that fail report a negative
// number (a failure status), the way their callers have always logged them.
namespace ErrorNumber {
inline constexpr std::int32_t InvalidArgument = 5;
inline constexpr std::int32_t Overflow = 6;
inline constexpr std::int32_t OutOfMemory = 7;
inline constexpr std::int32_t SubscriptOutOfRange = 9;
inline constexpr std::int32_t TypeMismatch = 13;
inline constexpr std::int32_t InternalError = 51;
inline constexpr std::int32_t FileNotFound = 53;
inline constexpr std::int32_t PathNotFound = 76;
inline constexpr std::int32_t PermissionDenied = 70;
inline constexpr std::int32_t DeviceIoError = 57;
inline constexpr std::int32_t CannotCreateComponent = 429;
inline constexpr std::int32_t ObjectRequired = 424;
inline constexpr std::int32_t Interrupted = 18;               // user interrupt
inline constexpr std::int32_t ComponentFailure = -2147467259; // 0x80004005, unspecified failure
} // namespace ErrorNumber

// A run-time error: number, description and source, as every error trap records them.
class RuntimeError : public std::exception
{
public:
    RuntimeError(std::int32_t number, QString description, QString source = QString());

    std::int32_t number() const noexcept { return m_number; }
    const QString& description() const noexcept { return m_description; }
    const QString& source() const noexcept { return m_source; }
    const char* what() const noexcept override { return m_what.c_str(); }

    // The run-time error for the exception being handled: a RuntimeError as it is, anything
    // else translated (out of memory, or an internal error carrying its message).
    static RuntimeError fromCurrentException();

private:
    std::int32_t m_number;
    QString m_description;
    QString m_source;
    std::string m_what;
};

[[noreturn]] void raiseError(std::int32_t number, const QString& description,
                             const QString& source = QString());
