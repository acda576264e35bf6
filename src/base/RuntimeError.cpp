#include "base/RuntimeError.h"

#include <new>

RuntimeError::RuntimeError(std::int32_t number, QString description, QString source)
    : m_number(number), m_description(std::move(description)), m_source(std::move(source)),
      m_what(QString(QString::number(number) + QStringLiteral(": ") + m_description).toStdString())
{}

RuntimeError RuntimeError::fromCurrentException()
{
    try {
        throw;
    } catch (const RuntimeError& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return RuntimeError(ErrorNumber::OutOfMemory, QStringLiteral("Out of memory"),
                            QStringLiteral("TS6Satchel"));
    } catch (const std::exception& e) {
        return RuntimeError(ErrorNumber::InternalError, QString::fromLocal8Bit(e.what()),
                            QStringLiteral("TS6Satchel"));
    } catch (...) {
        return RuntimeError(ErrorNumber::InternalError, QStringLiteral("Unknown error"),
                            QStringLiteral("TS6Satchel"));
    }
}

void raiseError(std::int32_t number, const QString& description, const QString& source)
{
    throw RuntimeError(number, description, source);
}
