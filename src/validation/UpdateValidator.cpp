// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "UpdateValidator.h"

#include "AptAnswers.h"
#include "AptQueries.h"
#include "ChildProcess.h"
#include "MadisonLine.h"

#include <OrvelUpdateState/SystemVersion.h>

#include <QRegularExpression>

#include <algorithm>

namespace {

// @p query with the apt arguments it hands to apt, failing when any stage
// of a pipeline fails.
QString withArguments(QStringList const& aptArgs, QString const& query)
{
    return AptQueries::argumentsArray(aptArgs) + QStringLiteral("set -o pipefail; ") + query;
}

} // namespace

struct UpdateValidator::Private {
    explicit Private(std::shared_ptr<AptAnswers> shared)
        : answers(shared ? std::move(shared) : std::make_shared<AptAnswers>())
    { }

    /// setRequestedVersions(): the versions in request order, each once,
    /// and the sources named for them.
    QStringList requestedVersions;
    QMultiHash<QString, QString> requestedSources;
    QVector<Refusal> refusals;
    bool versionQueryFailed = false;
    /// Why the apt arguments were refused before any query; empty if not.
    QString argumentProblem;
    Refusal::Part argumentProblemPart;
    std::shared_ptr<AptAnswers> answers;
    /// The generation of answers that this validator last checked against.
    int checkedGeneration = -1;
    /// aptErrorOf() the latest failed runShellCommand().
    QString lastQueryError;
};

UpdateValidator::UpdateValidator(std::shared_ptr<Logger> logger, QStringList const& aptArgs)
    : UpdateValidator(std::move(logger), aptArgs, std::make_shared<AptAnswers>())
{ }

UpdateValidator::UpdateValidator(std::shared_ptr<Logger> logger, QStringList const& aptArgs,
                                 std::shared_ptr<AptAnswers> answers)
    : m_logger(std::move(logger))
    , m_currentOrvelVersion(OrvelUpdateState::SystemVersion::getCurrentSystemVersion())
    , m_aptArgs(aptArgs)
    , d(std::make_unique<Private>(std::move(answers)))
{ }

UpdateValidator::~UpdateValidator() = default;

bool UpdateValidator::versionQueryFailed() const
{
    return d->versionQueryFailed;
}

void UpdateValidator::setVersionQueryFailed(bool failed)
{
    d->versionQueryFailed = failed;
}

AptAnswers& UpdateValidator::answers() const
{
    return *d->answers;
}

void UpdateValidator::addRefusal(Refusal const& refusal)
{
    d->refusals.append(refusal);
}

void UpdateValidator::setCurrentOrvelVersion(QString const& version)
{
    m_currentOrvelVersion = version;
    if (m_logger)
        m_logger->debug(QStringLiteral("void UpdateValidator::setCurrentOrvelVersion(const QString&)"),
                        QStringLiteral("current orvel version = ") + m_currentOrvelVersion);
}

void UpdateValidator::setAvailableVersions(QStringList const& versions)
{
    m_availableVersions = versions;
    d->versionQueryFailed = false;
    if (m_logger)
        m_logger->debug(QStringLiteral("void UpdateValidator::setAvailableVersions(const QStringList&)"),
                        QStringLiteral("available orvel version = ") + m_availableVersions.join(QLatin1Char(' ')));
}

void UpdateValidator::setLogger(std::shared_ptr<Logger> logger)
{
    m_logger = std::move(logger);
}

void UpdateValidator::setRequestedVersions(QVector<QPair<QString, QString>> const& versionsWithSources)
{
    d->requestedVersions.clear();
    d->requestedSources.clear();
    for (const auto& entry : versionsWithSources) {
        if (!d->requestedVersions.contains(entry.first))
            d->requestedVersions << entry.first;
        if (!d->requestedSources.contains(entry.first, entry.second))
            d->requestedSources.insert(entry.first, entry.second);
    }
    if (m_logger)
        m_logger->debug(
            QStringLiteral("void UpdateValidator::setRequestedVersions(const QVector<QPair<QString, QString>>&)"),
            QStringLiteral("requested orvel version = ") + d->requestedVersions.join(QLatin1Char(' ')));
}

QString UpdateValidator::orvelVersionOf(QString const& packageVersion)
{
    const int marker = packageVersion.lastIndexOf(QLatin1String("+v"));
    return marker >= 0 ? packageVersion.mid(marker + 2) : packageVersion;
}

QStringList UpdateValidator::versionsToJudge() const
{
    QStringList versions = m_availableVersions;
    for (const QString& version : d->requestedVersions)
        if (!m_availableVersions.contains(version))
            versions << version;
    return versions;
}

QSet<QString> UpdateValidator::getInvalidSources() const
{
    return m_invalidSources;
}

QVector<Refusal> UpdateValidator::getRefusals() const
{
    return d->refusals;
}

QString UpdateValidator::getCurrentOrvelVersion() const
{
    return m_currentOrvelVersion;
}

void UpdateValidator::clearRefusals()
{
    m_invalidSources.clear();
    d->refusals.clear();
}

Refusal UpdateValidator::refusal(QString const& check, QString const& rule, QString const& version,
                                 QVector<Refusal::Part> parts) const
{
    if (m_currentOrvelVersion.isEmpty())
        parts << installedUnknownReason();
    Refusal refusal{
        check, rule, version, m_currentOrvelVersion, {}, Refusal::joined(parts, [](const QString& f) { return f; })};
    refusal.parts = parts;
    return refusal;
}

void UpdateValidator::refuse(QString const& check, QString const& rule, QString const& version,
                             std::optional<QMultiHash<QString, QString>> const& versionsWithSources,
                             QVector<Refusal::Part> const& parts)
{
    QList<QString> offeredBy = versionsWithSources ? versionsWithSources->values(version) : QList<QString>();
    // A version that no source apt lists offers is named by where its
    // request takes it from.
    if (offeredBy.isEmpty())
        offeredBy = d->requestedSources.values(version);
    QSet<QString> packageFiles(offeredBy.cbegin(), offeredBy.cend());
    QSet<QString> sources;
    for (const QString& packageFile : qAsConst(packageFiles))
        sources.insert(MadisonLine::urlOf(packageFile));
    m_invalidSources.unite(sources);
    for (const Refusal& refusal : qAsConst(d->refusals))
        if (refusal.version == version)
            return;
    const auto sorted = [](const QSet<QString>& set) {
        QStringList list(set.cbegin(), set.cend());
        std::sort(list.begin(), list.end());
        return list;
    };
    Refusal refused = refusal(check, rule, version, parts);
    refused.sources = sorted(sources);
    refused.packageFiles = sorted(packageFiles);
    refused.sourcesKnown = versionsWithSources.has_value();
    d->refusals.append(refused);
}

namespace {

bool isNumber(const QString& text)
{
    return !text.isEmpty()
        && std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isDigit() && c.unicode() < 0x80; });
}

// Component by component; numbers as numbers (without limit on their
// length), anything else as text; a version before its own extensions.
bool versionBefore(const QString& first, const QString& second)
{
    const QStringList a = first.split(QLatin1Char('.'));
    const QStringList b = second.split(QLatin1Char('.'));
    for (int i = 0; i < a.size() && i < b.size(); ++i) {
        if (a.at(i) == b.at(i))
            continue;
        if (isNumber(a.at(i)) && isNumber(b.at(i))) {
            const auto significant = [](const QString& number) {
                int zeros = 0;
                while (zeros + 1 < number.size() && number.at(zeros) == QLatin1Char('0'))
                    ++zeros;
                return number.mid(zeros);
            };
            const QString x = significant(a.at(i));
            const QString y = significant(b.at(i));
            if (x.size() != y.size())
                return x.size() < y.size();
            if (x != y)
                return x < y;
        }
        return a.at(i) < b.at(i);
    }
    return a.size() < b.size();
}

} // namespace

void UpdateValidator::sortRefusals()
{
    std::stable_sort(d->refusals.begin(), d->refusals.end(),
                     [](const Refusal& a, const Refusal& b) { return versionBefore(a.version, b.version); });
}

QString UpdateValidator::installedForMessage() const
{
    return m_currentOrvelVersion.isEmpty() ? QStringLiteral("(unknown)") : m_currentOrvelVersion;
}

Refusal::Part UpdateValidator::installedUnknownReason()
{
    // The file that the system-version library is set to read: where an
    // admin looks first.
    return Refusal::sentence("the system-version library read no installed release from %1 (missing, empty or "
                             "unreadable)",
                             {OrvelUpdateState::SystemVersion::m_pathToOrvelVersion});
}

QMultiHash<QString, QString> UpdateValidator::getVersionsWithSources() const
{
    return fetchVersionsWithSources().value_or(QMultiHash<QString, QString>());
}

std::optional<QMultiHash<QString, QString>> UpdateValidator::fetchVersionsWithSources() const
{
    const std::optional<QStringList> lines = queryVersionsWithSources();
    if (!lines)
        return std::nullopt;
    return parseVersionsWithSources(*lines);
}

void UpdateValidator::beginCheck()
{
    if (d->checkedGeneration == d->answers->generation())
        d->answers->renew();
    d->checkedGeneration = d->answers->generation();
}

QString UpdateValidator::releasesCommand() const
{
    return withArguments(m_aptArgs, AptQueries::releases());
}

std::optional<QStringList> UpdateValidator::askApt(QString const& query, QString const& failureMessage, int timeoutMs)
{
    // apt-get indextargets takes a word that is no option as a filter and
    // lists no package file at all: the query would answer another
    // question. apt is not asked, and the refusal names the word itself,
    // not as something apt said.
    const QString word = AptQueries::strayWord(m_aptArgs);
    if (word.isEmpty())
        return runShellCommand(withArguments(m_aptArgs, query), failureMessage, timeoutMs);
    d->lastQueryError.clear();
    logQueryFailure(failureMessage,
                    QStringLiteral("\"%1\" is not one of apt's configuration options: apt would take "
                                   "it as a package name or a filter")
                        .arg(word));
    return std::nullopt;
}

std::optional<std::pair<QString, QString>> UpdateValidator::versionAndSource(QStringView line)
{
    // The version ends at the first "|": a package version holds none. The
    // source is apt's name of a package file ("URL dist arch Packages"),
    // whose URL holds no space but may hold a "|".
    const qsizetype bar = line.indexOf(QLatin1Char('|'));
    if (bar < 0)
        return std::nullopt;
    return std::make_pair(line.left(bar).trimmed().toString(), line.mid(bar + 1).trimmed().toString());
}

std::optional<QStringList> UpdateValidator::releases(QString const& failureMessage)
{
    if (!d->answers->releases) {
        d->answers->releases = askApt(AptQueries::releases(), failureMessage);
        if (!*d->answers->releases)
            d->answers->releasesError = d->lastQueryError;
    }
    return *d->answers->releases;
}

std::optional<QStringList> UpdateValidator::packages(QString const& failureMessage, int timeoutMs)
{
    if (!d->answers->packages) {
        const std::optional<QStringList> lines = askApt(AptQueries::packageVersions(), failureMessage, timeoutMs);
        if (!lines) {
            d->answers->packages = std::optional<QStringList>();
            d->answers->packagesError = d->lastQueryError;
            return std::nullopt;
        }
        // The releases come from the same run: the checks of one verdict
        // ask apt for the package files once.
        const int end = lines->indexOf(QString());
        // No release at all reads as one empty line, as from a query of
        // its own.
        if (!d->answers->releases)
            d->answers->releases = end > 0 ? lines->mid(0, end) : QStringList{QString()};
        d->answers->packages = lines->mid(end + 1);
    }
    return *d->answers->packages;
}

std::optional<QMultiHash<QString, QString>> UpdateValidator::verdictVersionsWithSources()
{
    const QString failure = QStringLiteral("Unable to get versions with sources");
    // The versions first: their query answers the releases too.
    const std::optional<QStringList> packageLines = packages(failure);
    const std::optional<QStringList> releaseLines = packageLines ? releases(failure) : std::nullopt;
    if (!releaseLines)
        return std::nullopt;
    // The pairs of versionsWithSourcesCommand(): each release with the
    // package file that announces it, then each package version cut after
    // "+v" with its package file; each pair once.
    QMultiHash<QString, QString> versionsWithSources;
    const auto add = [this, &versionsWithSources](const QString& version, const QString& description) {
        const QString packageFile = MadisonLine::packageFileOf(description);
        if (versionsWithSources.contains(version, packageFile))
            return;
        versionsWithSources.insert(version, packageFile);
        if (m_logger)
            m_logger->debug(
                QStringLiteral(
                    "QMultiHash<QString, QString> UpdateValidator::parseVersionsWithSources(const QStringList&) const"),
                QStringLiteral("Found: version=%1, source=%2").arg(version, MadisonLine::urlOf(packageFile)));
    };
    for (const QString& line : *releaseLines) {
        // "FILE<tab>RELEASE": apt's name of a package file holds no tab.
        const int tab = line.indexOf(QLatin1Char('\t'));
        if (tab > 0)
            add(line.mid(tab + 1), line.left(tab));
    }
    for (const QString& line : *packageLines)
        if (const auto pair = versionAndSource(line))
            add(orvelVersionOf(pair->first), pair->second);
    return versionsWithSources;
}

QString UpdateValidator::versionsWithSourcesCommand(QStringList const& aptArgs)
{
    // Release versions with the URL of the source that announces them, and
    // the package versions (text after their last "+v") with their sources.
    // Any stage that fails, or output of another shape, fails the whole
    // command.
    return withArguments(aptArgs, QStringLiteral("{ ") + AptQueries::packageVersions())
        + QStringLiteral(
               R"(; } | gawk -F'\t' 'versions {sub(/^[^|]*[+]v/, ""); print; next} $0 == "" {versions = 1; next} )"
               R"({print $2 " | " $1}' | sort -u)");
}

std::optional<QMultiHash<QString, QString>> UpdateValidator::sourcesOfPackages(QStringList const& packages) const
{
    const QString failure = QStringLiteral("Unable to get the sources of the packages");
    // The names come on standard input, one per line, and xargs hands them
    // to as many madison runs as the kernel's argument limit needs: a run of
    // any size is judged.
    QByteArray names;
    for (const QString& package : packages)
        names += ChildProcess::bytesFromText(package) + '\n';
    const std::optional<QStringList> lines = runShellCommand(
        AptQueries::argumentsArray(m_aptArgs)
            + QStringLiteral(
                R"(export -f apt-cache; xargs -r -d '\n' bash -c 'apt-cache madison "$@"' bash "${apt_args[@]}")"),
        failure, ChildProcess::DefaultTimeoutMs, names);
    if (!lines)
        return std::nullopt;
    QMultiHash<QString, QString> sources;
    for (const QString& text : *lines) {
        if (text.isEmpty())
            continue;
        const std::optional<MadisonLine> line = MadisonLine::parse(text);
        if (!line) {
            logQueryFailure(failure,
                            QStringLiteral("apt-cache madison printed a line that is not package | version | source"));
            return std::nullopt;
        }
        sources.insert(line->package + QLatin1Char(' ') + line->version, line->packageFile);
    }
    return sources;
}

QString UpdateValidator::helpOrVersionOption(QStringList const& aptArgs)
{
    static const QRegularExpression option(QStringLiteral("^(--help|--version|-[A-Za-z]*[hv][A-Za-z]*)$"));
    for (const QString& argument : aptArgs)
        if (option.match(argument).hasMatch())
            return argument;
    return QString();
}

Refusal::Part UpdateValidator::helpOrVersionProblem(QString const& option)
{
    return Refusal::sentence("the apt argument \"%1\" asks apt for its help or version, not for the offered "
                             "versions: give apt's configuration options (-o, -c, -t, ...)",
                             {option});
}

bool UpdateValidator::refuseArgumentsUpFront()
{
    const QString option = helpOrVersionOption(m_aptArgs);
    if (option.isEmpty())
        return false;
    d->argumentProblemPart = helpOrVersionProblem(option);
    d->argumentProblem = Refusal::substituted(d->argumentProblemPart.format, d->argumentProblemPart.arguments);
    d->versionQueryFailed = true;
    if (m_logger)
        m_logger->error(d->argumentProblem);
    return true;
}

QStringList UpdateValidator::getRawVersionsWithSources() const
{
    return queryVersionsWithSources().value_or(QStringList());
}

std::optional<QStringList> UpdateValidator::queryVersionsWithSources() const
{
    return runShellCommand(versionsWithSourcesCommand(m_aptArgs),
                           QStringLiteral("Unable to get versions with sources"));
}

QMultiHash<QString, QString> UpdateValidator::parseVersionsWithSources(QStringList const& lines) const
{
    QMultiHash<QString, QString> versionsWithSources;
    versionsWithSources.reserve(lines.size());
    for (const QString& line : lines) {
        const auto pair = versionAndSource(line);
        if (!pair)
            continue;
        const QString& version = pair->first;
        const QString source = MadisonLine::urlOf(pair->second);
        versionsWithSources.insert(version, source);
        if (m_logger)
            m_logger->debug(
                QStringLiteral(
                    "QMultiHash<QString, QString> UpdateValidator::parseVersionsWithSources(const QStringList&) const"),
                // One substitution pass, so that a "%1" inside a version
                // cannot pull the source into the version's place.
                QStringLiteral("Found: version=%1, source=%2").arg(version, source));
    }
    return versionsWithSources;
}

std::optional<QStringList> UpdateValidator::runShellCommand(QString const& commandLine, QString const& failureMessage,
                                                            int timeoutMs, QByteArray const& input) const
{
    // Printed only once the whole command has succeeded; no repository can
    // place it after the command's own output.
    static const QString answerEnd = QStringLiteral("-- end of the answer --\n");
    ChildProcess::Result result;
    if (timeoutMs > 0)
        result = ChildProcess::runShell(QStringLiteral("{ %1\n} && printf %s '%2'").arg(commandLine, answerEnd),
                                        timeoutMs, input);
    // A query's steps share one period: when it runs out, that period is
    // what the query took.
    if (timeoutMs <= 0 || result.timedOutAfterMs > 0)
        result.timedOutAfterMs = ChildProcess::DefaultTimeoutMs;
    // Bytes that are not valid text (a URL's, a Release field's) stay
    // themselves, for the escapes that show them as \xHH.
    QString output = result.exitedCleanly() ? ChildProcess::textFromBytes(result.standardOutput) : QString();
    if (!output.endsWith(answerEnd)) {
        const QString why = result.exitedCleanly() && result.standardError.isEmpty()
            ? QStringLiteral("the query ended without giving its whole answer")
            : result.failureText().isEmpty() ? QStringLiteral("the query failed without saying why")
                                             : result.failureText();
        d->lastQueryError = aptErrorOf(why);
        logQueryFailure(failureMessage, why);
        return std::nullopt;
    }
    output.chop(answerEnd.size());
    return output.split(QLatin1Char('\n'));
}

void UpdateValidator::logQueryFailure(QString const& message, QString const& why) const
{
    if (m_logger) {
        m_logger->error(message);
        // apt's lines one by one: a log line is one line.
        for (const QString& line : why.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            m_logger->error(line);
    }
}

QString UpdateValidator::aptErrorOf(QString const& why)
{
    const QStringList lines = why.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines)
        if (line.startsWith(QLatin1String("E: ")))
            return line;
    return lines.value(0);
}

bool UpdateValidator::refuseUnknownVersions(QString const& check, QString const& logMessage,
                                            Refusal::Part const& explanation, QString const& aptError)
{
    clearRefusals();
    QVector<Refusal::Part> parts;
    if (!d->argumentProblem.isEmpty()) {
        parts << d->argumentProblemPart;
    } else {
        parts << explanation;
        if (!aptError.isEmpty())
            parts << Refusal::sentence("apt said: %1", {aptError});
        const QString word = AptQueries::strayWord(m_aptArgs);
        if (!word.isEmpty())
            parts << Refusal::sentence("\"%1\" is an apt command word or a package name, not one of apt's "
                                       "configuration options (-o, -c, -t, ...)",
                                       {word});
    }
    Refusal unknown = refusal(check, QStringLiteral("versions-unknown"), QString(), parts);
    unknown.aptError = d->argumentProblem.isEmpty() ? aptError : QString();
    d->refusals.append(unknown);
    if (m_logger) {
        if (!d->argumentProblem.isEmpty())
            m_logger->error(d->argumentProblem);
        m_logger->error(logMessage);
    }
    return false;
}

void UpdateValidator::logConstruction(QString const& functionName, QString const& availableLabel) const
{
    if (!m_logger)
        return;
    m_logger->debug(functionName);
    m_logger->debug(functionName, QStringLiteral("current orvel version = ") + m_currentOrvelVersion);
    m_logger->debug(functionName, availableLabel + m_availableVersions.join(QLatin1Char(' ')));
}
