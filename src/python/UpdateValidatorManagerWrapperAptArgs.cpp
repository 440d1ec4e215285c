#include "UpdateValidatorManagerWrapperAptArgs.h"

UpdateValidatorManagerWrapperAptArgs::UpdateValidatorManagerWrapperAptArgs(const std::vector<std::string>& aptArgs)
    : m_manager(std::shared_ptr<Logger>(), aptArgs)
{
}

bool UpdateValidatorManagerWrapperAptArgs::validate()
{
    return m_manager.check();
}

void UpdateValidatorManagerWrapperAptArgs::initLogger(const std::string& path, int level)
{
    m_logger = std::make_shared<Logger>(QString::fromUtf8(path.data(), static_cast<int>(path.size())),
                                        static_cast<Logger::Level>(level));
    m_manager.setLogger(m_logger);
}

pybind11::list UpdateValidatorManagerWrapperAptArgs::getInvalidSourcesList()
{
    pybind11::list sources;
    for (const QString& source : m_manager.getAllInvalidSources()) {
        const QByteArray utf8 = source.toUtf8();
        sources.append(pybind11::str(utf8.constData(), static_cast<size_t>(utf8.size())));
    }
    return sources;
}
