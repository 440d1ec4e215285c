#include "AptHook.h"

#include "AptHookRequest.h"
#include "ExitStatus.h"

#include <QFileInfo>

#include <Logger.h>
#include <UpdateValidatorManager.h>

#include <cerrno>
#include <memory>
#include <optional>

#include <unistd.h>

namespace {

const QString guardKey = QStringLiteral("Orvel::Update-Guard");
const QString scopeKey = QStringLiteral("Orvel::Update-Guard::Scope");
const QString logKey = QStringLiteral("Orvel::Update-Guard::Log");
const QString enabledByKey = QStringLiteral("Orvel::Update-Guard::Enabled-By");
const QString prefix = QStringLiteral("orvel-update-check: ");

int refuse(QTextStream& errors, const QString& why)
{
    errors << prefix << "the update is refused" << why << '\n'
           << "  To install it anyway, this once, add -o " << guardKey << "=false to the apt command line.\n";
    errors.flush();
    return UpdateRefused;
}

} // namespace

int AptHook::run(int input, QTextStream& errors)
{
    QByteArray request;
    char buffer[65536];
    while (true) {
        const ssize_t count = ::read(input, buffer, sizeof buffer);
        if (count > 0 && request.size() + count <= RequestLimitBytes)
            request.append(buffer, static_cast<int>(count));
        else if (count == 0)
            return judge(request, errors);
        else if (count > 0 || errno != EINTR)
            return refuse(errors, QStringLiteral(": the request from apt could not be read whole"));
    }
}

int AptHook::judge(const QByteArray& input, QTextStream& errors)
{
    QString error;
    const std::optional<AptHookRequest> request = AptHookRequest::parse(input, &error);
    if (!request)
        return refuse(errors, QStringLiteral(": ") + error);

    // The guard's package was removed and left only its configuration.
    const QString enabledBy = request->value(enabledByKey);
    if (!enabledBy.isEmpty() && !QFileInfo::exists(enabledBy))
        return UpdateAllowed;

    const QString logPath = request->value(logKey);
    const std::shared_ptr<Logger> logger = logPath.isEmpty() ? nullptr : std::make_shared<Logger>(logPath, Logger::Info);
    if (request->isFalse(guardKey)) {
        errors << prefix << "warning: the update guard is off for this apt run (" << guardKey
               << "=false): nothing was checked\n";
        if (logger)
            logger->warning(QStringLiteral("Update guard switched off for this apt run (%1=false)").arg(guardKey));
        return UpdateAllowed;
    }

    const QString scope = request->value(scopeKey, QStringLiteral("all"));
    if (scope != QLatin1String("all") && scope != QLatin1String("orvel-version"))
        return refuse(errors, QStringLiteral(": %1 is \"%2\"; it must be \"all\" or \"orvel-version\"").arg(scopeKey, scope));
    // Any package may come from a refused source, so by default every
    // install or upgrade is guarded.
    if (!request->unpacks(scope == QLatin1String("all") ? QString() : QStringLiteral("orvel-version")))
        return UpdateAllowed;

    UpdateValidatorManager manager(logger, request->aptArguments());
    if (manager.check())
        return UpdateAllowed;

    QString reasons = QStringLiteral(" (installed Orvel release: %1):").arg(manager.getCurrentOrvelVersion());
    for (const Refusal& refusal : manager.getRefusals()) {
        reasons += QStringLiteral("\n  %1").arg(refusal.message);
        for (const QString& source : refusal.sources)
            reasons += QStringLiteral("\n    offered by %1").arg(source);
    }
    return refuse(errors, reasons);
}
