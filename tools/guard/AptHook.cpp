// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "AptHook.h"

#include "ArchiveControl.h"
#include "RefusalText.h"
#include "GuardMessages.h"
#include "ExitStatus.h"
#include "SourceFiles.h"
#include "TranslatedText.h"

#include "ChildProcess.h"
#include "MadisonLine.h"

#include <Logger.h>
#include <UpdateValidatorManager.h>

#include <QFile>
#include <QStringList>

#include <algorithm>
#include <memory>
#include <optional>

namespace {

int refuse(const std::string& why)
{
    GuardMessages::refuse(why);
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

QString fromBytes(const std::string& bytes)
{
    return ChildProcess::textFromBytes(QByteArray(bytes.data(), static_cast<int>(bytes.size())));
}

QString said(const Refusal::Part& part, bool forPeople)
{
    return Refusal::substituted(forPeople ? translatedFormat(part.format) : part.format, part.arguments);
}

// Lets a run through unchecked, saying so wherever a person may look.
int passUnchecked(const QString& why, const std::shared_ptr<Logger>& logger)
{
    GuardMessages::passUnchecked(toLocal(Logger::escaped(why)));
    if (logger)
        logger->warning(QStringLiteral("Update guard switched off for this apt run (%1)").arg(why));
    return UpdateAllowed;
}

// The package that @p action unpacks as madison names it: "name" for the
// native architecture and for "all" (no architecture of apt's own), else
// "name:architecture".
QString madisonName(const AptHookRequest& request, const AptHookRequest::Action& action)
{
    const bool native = action.newArchitecture.empty() || action.newArchitecture == "all"
        || action.newArchitecture == request.value("APT::Architecture");
    return fromBytes(native ? action.package : action.package + ':' + action.newArchitecture);
}

// A package of the run that takes orvel-version over without saying which
// release it brings.
struct Takeover {
    QString package; // as madison names it
    QString version;
    QString file; // the archive apt hands to dpkg
};

// Stops a run that installs @p takeovers, naming each with the sources that
// offer it, or its file.
int refuseTakeovers(const QVector<Takeover>& takeovers, const UpdateValidatorManager& manager)
{
    QStringList packages;
    for (const Takeover& takeover : takeovers)
        packages << takeover.package;
    // Only to name them: the run stops whatever apt says.
    const std::optional<QMultiHash<QString, QString>> offered = manager.sourcesOfPackages(packages);
    QString reasons = QStringLiteral(":");
    std::vector<std::string> logLines;
    for (const Takeover& takeover : takeovers) {
        const QString packageVersion = takeover.package + QLatin1Char(' ') + takeover.version;
        QStringList sources = offered ? offered->values(packageVersion) : QStringList();
        std::sort(sources.begin(), sources.end());
        sources.erase(std::unique(sources.begin(), sources.end()), sources.end());
        if (sources.isEmpty())
            sources << takeover.file;
        const QStringList arguments{Logger::escaped(packageVersion),
                                    Logger::escaped(sources.join(QStringLiteral(", ")))};
        const char* const format = N_("%1 from %2 replaces orvel-version without saying which Orvel release it "
                                      "brings (no Provides: orvel-version (= VERSION))");
        reasons += QStringLiteral("\n  ") + substituted(format, arguments);
        logLines.push_back(toLocal(QStringLiteral("update refused: %1 (guard, takeover-without-version), offered by %2")
                                       .arg(arguments.at(0), arguments.at(1))));
    }
    GuardMessages::refuse(toLocal(reasons), logLines,
                          Translation::text("To keep the gate: have the package's owner state the release it brings, "
                                            "or do not install it,\n  then run apt again."));
    return UpdateRefused;
}

// The sources that offer refused versions, as apt's sources list names
// them ("URL dist"), sorted, each once.
QStringList refusedPackageFiles(const UpdateValidatorManager& manager)
{
    QStringList files;
    for (const Refusal& refusal : manager.getRefusals())
        for (const QString& file : refusal.packageFiles)
            if (!files.contains(file))
                files << file;
    std::sort(files.begin(), files.end());
    return files;
}

// Under Scope "sources": whether a refused verdict stops this run. No
// value when the run takes nothing from a source (URL, suite and
// component) that offers a refused version; else the sentences to add to
// the reasons (none when the refusal itself is about what this run
// installs, or a check could not be made).
std::optional<QVector<Refusal::Part>> whyThisRunStops(const AptHookRequest& request,
                                                      const UpdateValidatorManager& manager,
                                                      const QVector<QPair<QString, QString>>& requested)
{
    const QStringList refusedSources = refusedPackageFiles(manager);
    for (const Refusal& refusal : manager.getRefusals()) {
        // Unknown versions or sources, or a refused version that no source
        // is named for: nothing tells what this run may take.
        if (refusal.version.isEmpty() || !refusal.sourcesKnown || refusal.sources.isEmpty())
            return QVector<Refusal::Part>();
        for (const auto& entry : requested)
            if (entry.first == refusal.version)
                return QVector<Refusal::Part>();
    }
    QStringList packages;
    QStringList unpacked;
    for (const AptHookRequest::Action& action : request.actions()) {
        if (!action.unpacks())
            continue;
        const QString package = madisonName(request, action);
        packages << package;
        unpacked << package + QLatin1Char(' ') + fromBytes(action.newVersion);
    }
    const std::optional<QMultiHash<QString, QString>> offered = manager.sourcesOfPackages(packages);
    if (!offered)
        return QVector<Refusal::Part>{Refusal::sentence(
            "apt could not say which sources offer the packages of this run, so it may take them from a refused "
            "source")};
    // A version that a refused source offers counts as taken from it,
    // whatever other source offers it too.
    QVector<Refusal::Part> parts;
    for (const QString& packageVersion : qAsConst(unpacked)) {
        QStringList from;
        for (const QString& source : offered->values(packageVersion))
            if (refusedSources.contains(source) && !from.contains(source))
                from << source;
        std::sort(from.begin(), from.end());
        for (const QString& source : qAsConst(from))
            parts << Refusal::sentence("this run takes %1 from %2, which offers refused versions",
                                       {packageVersion, source});
    }
    if (parts.isEmpty())
        return std::nullopt;
    return parts;
}

// " (configured in FILE, line N)" for @p source, where apt's sources files
// name it; empty where they do not.
QString whereConfigured(const SourceFiles& files, const QString& source)
{
    QStringList places;
    // The file that configures the URL (suite and component aside).
    for (const auto& place : files.configuring(toLocal(MadisonLine::urlOf(source))))
        places << substituted("%1, line %2", {Logger::escaped(fromLocal(place.first)), QString::number(place.second)});
    if (places.isEmpty())
        return QString();
    return substituted(" (configured in %1)", {places.join(QStringLiteral("; "))});
}

// The refusals as the guard shows them, each line after a line end: no
// titles, the sources indented below the message with where they are
// configured. @p configured, when given, learns whether any refused source
// is configured somewhere (a local file is not).
QString guardText(const QVector<Refusal>& refusals, const SourceFiles& files, bool* configured = nullptr)
{
    RefusalText::Style style;
    style.title = false;
    style.detailIndent = QStringLiteral("    ");
    style.afterSource = [&files, configured](const QString& source) {
        const QString where = whereConfigured(files, source);
        if (configured && !where.isEmpty())
            *configured = true;
        return where;
    };
    QString text;
    for (const Refusal& refusal : refusals)
        text += QLatin1Char('\n') + RefusalText::lines(refusal, style).join(QLatin1Char('\n'));
    return text;
}

// Lets a run that takes nothing from the refused sources go on, saying
// which they are.
int passBesideRefusedSources(const UpdateValidatorManager& manager, const SourceFiles& files,
                             const std::shared_ptr<Logger>& logger)
{
    const QStringList sources = refusedPackageFiles(manager);
    QStringList escaped;
    for (const QString& source : qAsConst(sources))
        escaped << Logger::escaped(source);
    const std::string line = GuardMessages::passBesideRefusedSources(toLocal(escaped.join(QStringLiteral(", "))),
                                                                     toLocal(guardText(manager.getRefusals(), files)));
    if (logger)
        logger->warning(fromLocal(line));
    return UpdateAllowed;
}

} // namespace

int AptHook::run()
{
    std::string error;
    const int input = AptHookRequest::inputDescriptor(&error);
    if (input < 0)
        return refuse(": " + error);
    const std::optional<AptHookRequest> request = AptHookRequest::receive(input, &error);
    return request ? judge(*request) : refuse(": " + error);
}

int AptHook::judge(const AptHookRequest& request)
{
    if (request.guardHasNothingToDo())
        return UpdateAllowed;

    const std::string logPath = request.value("Orvel::Update-Guard::Log");
    const std::shared_ptr<Logger> logger =
        logPath.empty() ? nullptr : std::make_shared<Logger>(fromLocal(logPath), Logger::Info);
    if (request.guardIsOff())
        return passUnchecked(QStringLiteral("Orvel::Update-Guard=false"), logger);
    const std::string missingSwitch = request.missingSwitchFile();
    if (!missingSwitch.empty())
        return passUnchecked(
            QStringLiteral("%1 is missing: the package orvel-update-guard was removed").arg(fromLocal(missingSwitch)),
            logger);
    if (!request.scopeIsKnown()) {
        GuardMessages::refuseConfiguration(toLocal(
            substituted("Orvel::Update-Guard::Scope is \"%1\"; it must be \"sources\", \"all\" or \"orvel-version\"",
                        {Logger::escaped(fromLocal(request.scope()))})));
        return UpdateRefused;
    }

    // What dpkg is about to unpack, read from the archives themselves: an
    // index can name one version for a file that holds another, and a
    // package of any name can take over orvel-version through Provides.
    QVector<QPair<QString, QString>> requested;
    QVector<Takeover> takeovers;
    for (const AptHookRequest::Action& action : request.actions()) {
        if (!action.unpacks())
            continue;
        const QString file = fromBytes(action.action);
        std::string error;
        const std::optional<ArchiveControl> control = ArchiveControl::read(action.action, &error);
        if (!control)
            return refuse(toLocal(
                Logger::escaped(QStringLiteral(": the archive %1 cannot be read: %2").arg(file, fromBytes(error)))));
        const bool sameArchitecture = action.newArchitecture.empty() || action.newArchitecture == control->architecture;
        if (control->package != action.package || control->version != action.newVersion || !sameArchitecture)
            return refuse(toLocal(Logger::escaped(
                QStringLiteral(": the archive %1 holds %2 %3 (%4), not the %5 %6 that apt's index names for it")
                    .arg(file, fromBytes(control->package), fromBytes(control->version),
                         fromBytes(control->architecture), fromBytes(action.package), fromBytes(action.newVersion)))));
        for (const std::string& version : control->versionsOf("orvel-version"))
            requested.append({UpdateValidator::orvelVersionOf(fromBytes(version)), file});
        if (control->takesOverWithoutVersion("orvel-version"))
            takeovers.append({madisonName(request, action), fromBytes(action.newVersion), file});
    }

    QStringList arguments;
    // Byte for byte: a value that is not valid text still reaches apt as
    // apt gave it.
    for (const std::string& argument : request.aptArguments())
        arguments << fromBytes(argument);
    if (takeovers.isEmpty() && request.scope() == "orvel-version" && requested.isEmpty())
        return UpdateAllowed;

    UpdateValidatorManager manager(logger, arguments);
    // In every scope: no check can judge a release that nobody names.
    if (!takeovers.isEmpty())
        return refuseTakeovers(takeovers, manager);
    // What apt is about to install is judged with what the sources offer: a
    // local .deb file is offered by no source.
    manager.setRequestedVersions(requested);
    const bool allowed = manager.check();
    if (logger)
        for (const Refusal& refusal : manager.getRefusals())
            logger->info(RefusalText::line(refusal));
    if (allowed)
        return UpdateAllowed;
    const SourceFiles files(request.configuration());
    std::optional<QVector<Refusal::Part>> stops = QVector<Refusal::Part>();
    if (request.scope() == "sources") {
        stops = whyThisRunStops(request, manager, requested);
        if (!stops)
            return passBesideRefusedSources(manager, files, logger);
    }

    // Repository text goes to apt's terminal: escaped.
    QString reasons =
        substituted(" (installed Orvel release: %1):", {Logger::escaped(manager.getCurrentOrvelVersion())});
    std::vector<std::string> logLines;
    bool sourcesNamed = false;
    reasons += guardText(manager.getRefusals(), files, &sourcesNamed);
    for (const Refusal& refusal : manager.getRefusals())
        logLines.push_back(toLocal(Logger::escaped(RefusalText::line(refusal))));
    for (const Refusal::Part& part : qAsConst(*stops)) {
        reasons += QStringLiteral("\n  ") + Logger::escaped(said(part, true));
        logLines.push_back(toLocal(Logger::escaped(QStringLiteral("update refused: ") + said(part, false))));
    }
    const std::string remedy = sourcesNamed
        ? Translation::text("To keep the gate: disable the sources named above where they are configured, or have "
                            "their owners correct them,\n  then run apt again.")
        : std::string();
    GuardMessages::refuse(toLocal(reasons), logLines, remedy);
    return UpdateRefused;
}
