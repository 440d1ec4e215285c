// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "AptHook.h"

#include "ExitStatus.h"

#include <QFile>

#include "ChildProcess.h"
#include <QStringList>

#include <Logger.h>
#include <UpdateValidatorManager.h>

#include <cstdio>
#include <memory>
#include <optional>

namespace {

int refuse(const std::string& why)
{
    AptHookRequest::refuse(why);
    return UpdateRefused;
}

QString fromLocal(const std::string& text)
{
    return QFile::decodeName(QByteArray(text.data(), static_cast<int>(text.size())));
}

std::string toLocal(const QString& text)
{
    return QFile::encodeName(text).toStdString();
}

} // namespace

int AptHook::run(int input)
{
    const std::optional<AptHookRequest> request = AptHookRequest::receive(input);
    return request ? judge(*request) : UpdateRefused;
}

int AptHook::judge(const AptHookRequest& request)
{
    if (request.guardHasNothingToDo())
        return UpdateAllowed;

    const std::string logPath = request.value("Orvel::Update-Guard::Log");
    const std::shared_ptr<Logger> logger = logPath.empty() ? nullptr : std::make_shared<Logger>(fromLocal(logPath), Logger::Info);
    if (request.guardIsOff()) {
        std::fputs("orvel-update-check: warning: the update guard is off for this apt run (Orvel::Update-Guard=false): "
                   "nothing was checked\n",
                   stderr);
        if (logger)
            logger->warning(QStringLiteral("Update guard switched off for this apt run (Orvel::Update-Guard=false)"));
        return UpdateAllowed;
    }
    if (!request.scopeIsKnown())
        return refuse(": Orvel::Update-Guard::Scope is \"" + request.scope()
                      + "\"; it must be \"all\" or \"orvel-version\"");

    QStringList arguments;
    // Byte for byte: a value that is not valid text still reaches apt as
    // apt gave it.
    for (const std::string& argument : request.aptArguments())
        arguments << ChildProcess::textFromBytes(QByteArray(argument.data(), static_cast<int>(argument.size())));
    UpdateValidatorManager manager(logger, arguments);
    if (manager.check())
        return UpdateAllowed;

    // Repository text goes to apt's terminal: escaped.
    QString reasons =
        QStringLiteral(" (installed Orvel release: %1):").arg(Logger::escaped(manager.getCurrentOrvelVersion()));
    for (const Refusal& refusal : manager.getRefusals()) {
        reasons += QStringLiteral("\n  %1").arg(Logger::escaped(refusal.message));
        if (!refusal.sourcesKnown)
            reasons += QStringLiteral("\n    sources unknown: apt could not list them");
        for (const QString& source : refusal.sources)
            reasons += QStringLiteral("\n    offered by %1").arg(Logger::escaped(source));
    }
    return refuse(toLocal(reasons));
}
