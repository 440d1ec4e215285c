// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "UpdateValidatorManagerWrapperAptArgs.h"

#include "ChildProcess.h"

namespace {

// A byte that was not valid text (kept as U+DC80 + the byte) becomes the
// same lone surrogate in Python, as os.fsdecode() gives it.
pybind11::str toPython(const QString& text)
{
    const QByteArray utf8 = ChildProcess::bytesFromText(text, true);
    PyObject* decoded = PyUnicode_DecodeUTF8(utf8.constData(), utf8.size(), "surrogateescape");
    if (!decoded)
        throw pybind11::error_already_set();
    return pybind11::reinterpret_steal<pybind11::str>(decoded);
}

pybind11::list toPython(const QStringList& texts)
{
    pybind11::list list;
    for (const QString& text : texts)
        list.append(toPython(text));
    return list;
}

pybind11::bool_ toPython(bool value)
{
    return pybind11::bool_(value);
}

} // namespace

UpdateValidatorManagerWrapperAptArgs::UpdateValidatorManagerWrapperAptArgs(const std::vector<std::string>& aptArgs)
    : m_manager(std::shared_ptr<Logger>(), aptArgs)
{ }

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
    return toPython(m_manager.getAllInvalidSources());
}

pybind11::list UpdateValidatorManagerWrapperAptArgs::getRefusalsList()
{
    pybind11::list refusals;
    for (const Refusal& refusal : m_manager.getRefusals()) {
        pybind11::dict entry;
        refusal.forEachField([&entry](const char* key, const auto& value) { entry[key] = toPython(value); });
        refusals.append(entry);
    }
    return refusals;
}
