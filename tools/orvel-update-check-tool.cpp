// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

// orvel-update-check, the tool proper (started by the launcher in
// launcher.cpp): tells an administrator whether the pending apt
// update may be installed, why not, and which package sources offer a
// refused version; and guards apt as its pre-install hook.

#include "AptHook.h"
#include "ChildProcess.h"
#include "ExitStatus.h"
#include "MetricsFile.h"
#include "RefusalText.h"
#include "TranslatedText.h"

#include <Logger.h>
#include <UpdateValidatorManager.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextCodec>
#include <QTextStream>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <variant>

#include <fcntl.h>
#include <langinfo.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// --help, block by block: each block is one text for the translators.
const char* const helpBlocks[] = {
    N_("Usage: orvel-update-check [OPTION...] [--] [APT-ARG...]\n"
       "       orvel-update-check --apt-hook\n"),
    N_("Decides whether the pending distribution update through apt may be installed:\n"
       "every offered version must keep the design and major version of the installed\n"
       "system, and every hotfix repository must belong to the installed release or to\n"
       "an offered regular release. APT-ARGs are apt's configuration options for the\n"
       "pending operation (-o, -c, -t, ...), passed on byte for byte: put them after\n"
       "--. apt's command words, package names and its help or version options are not\n"
       "apt arguments.\n"),
    N_("Prints \"update allowed\" or \"update refused\", then each package source that\n"
       "offers a refused version, one per line, sorted. --why adds, after a blank line,\n"
       "one block per refused version: the version with its check and rule, a\n"
       "sentence, and the sources that offer it. --json always carries the refusals.\n"),
    N_("With --apt-hook it is apt's guard: apt runs it before dpkg (see\n"
       "/etc/apt/apt.conf.d/20orvel-update-guard) and stops when it refuses. It reads\n"
       "apt's hook request (protocol version 3 or 2) from standard input, or from the\n"
       "descriptor in APT_HOOK_INFO_FD; when the run installs or upgrades a package it\n"
       "reads each archive apt hands to dpkg (refusing one that is not what apt's index\n"
       "says), then checks the sources of that apt run and the versions of orvel-version\n"
       "that the archives install or provide, local .deb files included. It says\n"
       "nothing unless it refuses or warns, and sends each refusal to the system log\n"
       "too (journalctl -t orvel-update-check).\n"),
    N_("apt options: Orvel::Update-Guard=false lets one run through (on the command\n"
       "line: -o Orvel::Update-Guard=false; for front ends without one, such as\n"
       "unattended-upgrade and PackageKit, a line Orvel::Update-Guard \"false\"; in a\n"
       "file under /etc/apt/apt.conf.d/, removed afterwards); Orvel::Update-Guard::Scope\n"
       "says which runs a refused verdict stops: \"sources\" (default) those that install\n"
       "a refused version, take a package at a version that a refused source offers, or\n"
       "follow checks that could not be made, letting the others go on with a warning\n"
       "that names the refused sources (so one refused repository does not hold back\n"
       "security updates); \"all\" every install or upgrade; \"orvel-version\" only runs\n"
       "whose archives install or provide orvel-version. Orvel::Update-Guard::Log names\n"
       "a log file. dpkg -i, and programs that call dpkg directly, bypass apt and so\n"
       "the guard.\n"),
    N_("Options:\n"
       "  --log FILE           append the checks' log to FILE (exit 3 when it cannot be\n"
       "                       written)\n"
       "  --log-level LEVEL    lowest level written to the log: debug, info (default),\n"
       "                       warning or error\n"
       "  --explain            write the reasons for the verdict (info level and above)\n"
       "                       to standard error\n"
       "  --why                after the verdict, say why: each refused version, the rule\n"
       "                       it breaks and the sources that offer it\n"
       "  --json               print {\"allowed\": ..., \"installed\": ...,\n"
       "                       \"invalid_sources\": [...], \"refusals\": [...]} instead\n"
       "  --prometheus         print the verdict as metrics in Prometheus' text format\n"
       "                       instead\n"
       "  --metrics-file FILE  write those metrics to FILE instead, replacing it at once\n"
       "                       (for the node exporter's textfile collector);\n"
       "                       interrupted, the file says orvel_update_allowed 0 and\n"
       "                       orvel_update_check_success 0\n"
       "  --apt-hook           run as apt's pre-install hook: read apt's request from\n"
       "                       standard input (or APT_HOOK_INFO_FD)\n"
       "  -h, --help           print this help\n"
       "  -v, --version        print the version\n"),
    N_("--why, --json, --prometheus and --metrics-file each choose the output: give one\n"
       "of them at most. --explain and --log cannot be combined: the checks log to one\n"
       "place at a time.\n"),
    N_("Exit status:\n"
       "  0      update allowed\n"
       "  1      update refused (with --apt-hook: also a request from apt that cannot be\n"
       "         read)\n"
       "  2      usage error\n"
       "  3      output error: the verdict, the explanation or the log could not be\n"
       "         written (with --metrics-file: also a directory that is not root's\n"
       "         alone, left as it was)\n"
       "  4      the tool is broken: its main program could not be started\n"
       "  128+N  ended by signal N (SIGINT, SIGTERM, SIGHUP), after ending the apt\n"
       "         queries it had started\n"),
};

QString helpText()
{
    QStringList blocks;
    for (const char* block : helpBlocks)
        blocks << translated(block);
    return blocks.join(QLatin1Char('\n'));
}

const QStringList levelWords{QStringLiteral("debug"), QStringLiteral("info"), QStringLiteral("warning"),
                             QStringLiteral("error")};

int usageError(const QString& message)
{
    const QString name = QCoreApplication::applicationName();
    QTextStream(stderr) << name << ": " << message << '\n'
                        << translated(helpBlocks[0]).section(QLatin1Char('\n'), 0, 0) << '\n'
                        << substituted(N_("Try '%1 --help' for more information."), {name}) << '\n';
    return UsageError;
}

// @p what says what could not be done ("cannot write the log %1").
int outputError(const QString& what, const QString& reason)
{
    QTextStream(stderr) << QCoreApplication::applicationName() << ": " << what << ": " << reason << '\n';
    return OutputError;
}

// Writes all of @p bytes to @p stream; false when any of it was lost (a full
// disk, a closed pipe).
bool writeAll(FILE* stream, const QByteArray& bytes)
{
    return std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream)
        == static_cast<size_t>(bytes.size())
        && std::fflush(stream) == 0;
}

int print(const QString& text, int status)
{
    if (!writeAll(stdout, text.toLocal8Bit()))
        return outputError(translated(N_("cannot write to standard output")),
                           QString::fromLocal8Bit(std::strerror(errno)));
    return status;
}

// The refusals as blocks for a person to read, after a blank line each.
QString why(const QVector<Refusal>& refusals)
{
    QString text;
    for (const Refusal& refusal : refusals)
        text += QLatin1Char('\n') + RefusalText::lines(refusal, {}).join(QLatin1Char('\n')) + QLatin1Char('\n');
    return text;
}

// A label value of Prometheus' text format: backslash, double quote and
// line feed escaped.
QString labelValue(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('"'), QLatin1String("\\\""))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

const char* const allowedHeader = MetricsFile::AllowedHeader;
const char* const checkSuccessHeader = MetricsFile::CheckSuccessHeader;

// The metrics that say that no verdict was reached, made before any signal
// handler may need them.
const std::string uncheckedMetrics = MetricsFile::uncheckedText();

// The metrics file of --metrics-file, for the interrupt handler.
MetricsFile* metricsFile = nullptr;

// Interrupted or timed out: the old verdict must not stand.
void publishUnchecked()
{
    if (metricsFile)
        metricsFile->publishFromSignal(uncheckedMetrics.data(), uncheckedMetrics.size());
}

// The verdict as metrics in Prometheus' text format, for the node
// exporter's textfile collector: no time stamps (the collector adds none
// either), a HELP and a TYPE line for each metric.
QString prometheus(bool allowed, const QString& installed, const QVector<Refusal>& refusals)
{
    const bool answered = std::none_of(refusals.cbegin(), refusals.cend(), [](const Refusal& refusal) {
        return refusal.rule == QLatin1String("versions-unknown") || !refusal.sourcesKnown;
    });
    QString text = QString::fromLatin1(allowedHeader) + QStringLiteral("orvel_update_allowed %1\n").arg(allowed ? 1 : 0)
        + QString::fromLatin1(checkSuccessHeader)
        + QStringLiteral("orvel_update_check_success %1\n").arg(answered ? 1 : 0)
        + QStringLiteral("# HELP orvel_update_refusals A version that a check refuses, with the rule it breaks.\n"
                         "# TYPE orvel_update_refusals gauge\n");
    for (const Refusal& refusal : refusals)
        text += QStringLiteral("orvel_update_refusals{check=%1,rule=%2,version=%3} 1\n")
                    .arg(labelValue(refusal.check), labelValue(refusal.rule), labelValue(refusal.version));
    text += QStringLiteral("# HELP orvel_update_installed_info The installed Orvel release.\n"
                           "# TYPE orvel_update_installed_info gauge\n"
                           "orvel_update_installed_info{version=%1} 1\n")
                .arg(labelValue(installed));
    return text;
}

// What the command line asks for, once it has been read and checked.
struct Invocation {
    enum Output { Plain, Why, Json, Prometheus };
    Output output = Plain;
    QString logPath;
    QString logLevel;
    bool explain = false;
    QString metricsPath;
    QStringList aptArguments;
};

// Reads the command line: an Invocation, or the exit status of what was
// done instead (help, version, the apt hook, a usage error).
std::variant<Invocation, int> parseCommandLine(int argc, char** argv)
{
    // The help is written as a whole (helpBlocks), not by the parser.
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption logOption(QStringLiteral("log"), QString(), QStringLiteral("file"));
    const QCommandLineOption levelOption(QStringLiteral("log-level"), QString(), QStringLiteral("level"),
                                         QStringLiteral("info"));
    const QCommandLineOption explainOption(QStringLiteral("explain"));
    const QCommandLineOption whyOption(QStringLiteral("why"));
    const QCommandLineOption jsonOption(QStringLiteral("json"));
    const QCommandLineOption prometheusOption(QStringLiteral("prometheus"));
    const QCommandLineOption metricsFileOption(QStringLiteral("metrics-file"), QString(), QStringLiteral("file"));
    const QCommandLineOption aptHookOption(QStringLiteral("apt-hook"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions({logOption, levelOption, explainOption, whyOption, jsonOption, prometheusOption,
                       metricsFileOption, aptHookOption, helpOption, versionOption});

    if (!parser.parse(QCoreApplication::arguments())) {
        const QStringList unknown = parser.unknownOptionNames();
        if (unknown.isEmpty())
            return usageError(parser.errorText());
        const QString option =
            (unknown.first().size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + unknown.first();
        // Most often an apt option given before "--".
        return usageError(substituted(N_("unknown option '%1'; apt's options go after '--', as in: "
                                         "orvel-update-check --why -- -o Key=Value"),
                                      {option}));
    }
    if (parser.isSet(helpOption))
        return print(helpText(), UpdateAllowed);
    if (parser.isSet(versionOption))
        return print(QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion()
                         + QLatin1Char('\n'),
                     UpdateAllowed);
    if (parser.isSet(aptHookOption)) {
        for (const QCommandLineOption& other :
             {logOption, levelOption, explainOption, whyOption, jsonOption, prometheusOption, metricsFileOption})
            if (parser.isSet(other))
                return usageError(translated(N_("--apt-hook takes no other option")));
        if (!parser.positionalArguments().isEmpty())
            return usageError(translated(N_("--apt-hook takes no apt arguments: apt sends them")));
        return AptHook::run();
    }

    Invocation invocation;
    invocation.logLevel = parser.value(levelOption);
    if (!levelWords.contains(invocation.logLevel))
        return usageError(substituted(N_("unknown log level '%1'"), {invocation.logLevel}));
    if (parser.isSet(levelOption) && !parser.isSet(logOption))
        return usageError(translated(N_("--log-level needs --log")));
    if (parser.isSet(logOption) && parser.value(logOption).isEmpty())
        return usageError(translated(N_("--log needs a file name")));
    QStringList outputs;
    for (const QCommandLineOption& output : {whyOption, jsonOption, prometheusOption, metricsFileOption})
        if (parser.isSet(output))
            outputs << QStringLiteral("--") + output.names().first();
    if (outputs.size() > 1)
        return usageError(
            substituted(N_("%1 and %2 cannot be combined: each chooses the output"), {outputs.at(0), outputs.at(1)}));
    if (parser.isSet(metricsFileOption) && parser.value(metricsFileOption).isEmpty())
        return usageError(translated(N_("--metrics-file needs a file name")));
    if (parser.isSet(explainOption) && parser.isSet(logOption))
        return usageError(translated(N_("--explain and --log cannot be combined")));
    invocation.output = parser.isSet(prometheusOption) || parser.isSet(metricsFileOption) ? Invocation::Prometheus
        : parser.isSet(jsonOption)                                                        ? Invocation::Json
        : parser.isSet(whyOption)                                                         ? Invocation::Why
                                                                                          : Invocation::Plain;
    invocation.logPath = parser.value(logOption);
    invocation.explain = parser.isSet(explainOption);
    invocation.metricsPath = parser.value(metricsFileOption);

    // The apt arguments as the bytes they were given, not as the locale
    // decoded them: they are the tail of the command line.
    const int aptArgumentCount = parser.positionalArguments().size();
    for (int i = argc - aptArgumentCount; i < argc; ++i)
        invocation.aptArguments << ChildProcess::textFromBytes(QByteArray(argv[i]));
    const QString helpOrVersion = UpdateValidator::helpOrVersionOption(invocation.aptArguments);
    if (!helpOrVersion.isEmpty()) {
        const Refusal::Part problem = UpdateValidator::helpOrVersionProblem(helpOrVersion);
        return usageError(Refusal::substituted(translatedFormat(problem.format), problem.arguments));
    }
    return invocation;
}

// Why the log at @p path cannot be written, or an empty string.
QString logProblem(const QString& path)
{
    // Never waits: a FIFO without a reader is no log (ENXIO).
    const int log = ::open(QFile::encodeName(path).constData(),
                           O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
    if (log < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    struct statfs where = {};
    // The kernel's own files open for writing and then take no line.
    const bool kernels =
        ::fstatfs(log, &where) == 0 && (where.f_type == PROC_SUPER_MAGIC || where.f_type == SYSFS_MAGIC);
    ::close(log);
    return kernels ? translated(N_("a file of the kernel's, which keeps no log")) : QString();
}

// The verdict in the form the invocation asks for.
QString rendered(const Invocation& invocation, bool allowed, const UpdateValidatorManager& manager)
{
    QStringList sources = manager.getAllInvalidSources();
    std::sort(sources.begin(), sources.end());
    const QVector<Refusal> refusals = manager.getRefusals();
    if (invocation.output == Invocation::Prometheus)
        return prometheus(allowed, manager.getCurrentOrvelVersion(), refusals);
    if (invocation.output == Invocation::Json) {
        QJsonArray refusalObjects;
        for (const Refusal& refusal : refusals)
            refusalObjects.append(
                QJsonObject{{QStringLiteral("check"), refusal.check},
                            {QStringLiteral("rule"), refusal.rule},
                            {QStringLiteral("version"), refusal.version},
                            {QStringLiteral("installed"), refusal.installed},
                            {QStringLiteral("sources"), QJsonArray::fromStringList(refusal.sources)},
                            {QStringLiteral("package_files"), QJsonArray::fromStringList(refusal.packageFiles)},
                            {QStringLiteral("message"), refusal.message},
                            {QStringLiteral("sources_known"), refusal.sourcesKnown},
                            {QStringLiteral("apt_error"), refusal.aptError}});
        const QJsonObject object{{QStringLiteral("allowed"), allowed},
                                 {QStringLiteral("installed"), manager.getCurrentOrvelVersion()},
                                 {QStringLiteral("invalid_sources"), QJsonArray::fromStringList(sources)},
                                 {QStringLiteral("refusals"), refusalObjects}};
        return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
    }
    QString verdict = QLatin1String(allowed ? "update allowed\n" : "update refused\n");
    for (const QString& source : qAsConst(sources))
        verdict += Logger::escaped(source) + QLatin1Char('\n');
    if (invocation.output == Invocation::Why)
        verdict += why(refusals);
    return verdict;
}

// Runs the checks the invocation asks for and writes their verdict.
int run(const Invocation& invocation)
{
    // A log that cannot be written loses the record of the verdict: said
    // before anything is checked.
    if (!invocation.logPath.isEmpty()) {
        const QString problem = logProblem(invocation.logPath);
        if (!problem.isEmpty())
            return outputError(substituted(N_("cannot write the log %1"), {Logger::escaped(invocation.logPath)}),
                               problem);
    }

    // Explanations are logged into an anonymous in-memory file and copied to
    // standard error afterwards: nothing is left on disk, and no temporary
    // directory is needed.
    int explanation = -1;
    std::shared_ptr<Logger> logger;
    if (!invocation.logPath.isEmpty()) {
        logger = std::make_shared<Logger>(invocation.logPath, Logger::Info);
        logger->setLevel(invocation.logLevel);
    } else if (invocation.explain) {
        explanation = ::memfd_create("orvel-update-check-explanation", MFD_CLOEXEC);
        if (explanation < 0)
            return outputError(translated(N_("cannot keep the explanation")),
                               QString::fromLocal8Bit(std::strerror(errno)));
        const QString path = QStringLiteral("/proc/self/fd/%1").arg(explanation);
        // The logger reaches the file through /proc: without it, the
        // reasons would be lost in silence.
        if (::access(QFile::encodeName(path).constData(), W_OK) != 0)
            return outputError(translated(N_("cannot keep the explanation")),
                               QString::fromLocal8Bit(std::strerror(errno)));
        logger = std::make_shared<Logger>(path, Logger::Info);
    }

    // Opened before the checks, so that an interrupt can replace it too.
    std::unique_ptr<MetricsFile> metricsOutput;
    if (!invocation.metricsPath.isEmpty()) {
        std::string error;
        metricsOutput = MetricsFile::open(QFile::encodeName(invocation.metricsPath).toStdString(), &error);
        if (!metricsOutput)
            return outputError(translated(N_("cannot write the metrics")), QString::fromLocal8Bit(error.c_str()));
        metricsFile = metricsOutput.get();
        ChildProcess::endChildrenOnInterrupt(publishUnchecked);
    }

    // Logging from construction on, so that a debug log names the installed
    // and the offered versions too.
    const quint64 lostBefore = Logger::lostLines();
    UpdateValidatorManager manager(logger, invocation.aptArguments);
    const bool allowed = manager.check();
    // Every refused version with its rule and sources, at info level.
    if (logger)
        for (const Refusal& refusal : manager.getRefusals())
            logger->info(AptHook::refusalLine(refusal));

    if (explanation >= 0) {
        QFile reasons;
        const bool copied = reasons.open(explanation, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)
            && writeAll(stderr, reasons.readAll());
        if (!copied)
            return OutputError; // standard error itself failed: nowhere to say so
    }

    const QString verdict = rendered(invocation, allowed, manager);
    const int status = allowed ? UpdateAllowed : UpdateRefused;
    if (metricsOutput) {
        std::string error;
        if (!metricsOutput->publish(verdict.toUtf8().toStdString(), &error))
            return outputError(translated(N_("cannot write the metrics")), QString::fromLocal8Bit(error.c_str()));
        // The unit's journal says what the metrics only count: why the
        // checks could not be made, apt's error line among it.
        for (const Refusal& refusal : manager.getRefusals())
            if (refusal.rule == QLatin1String("versions-unknown") || !refusal.sourcesKnown)
                QTextStream(stderr) << QCoreApplication::applicationName() << ": "
                                    << substituted(N_("the checks could not be made: %1"),
                                                   {Logger::escaped(refusal.sourcesKnown
                                                                        ? refusal.messageIn(translatedFormat)
                                                                        : translated(N_("sources unknown: apt could "
                                                                                        "not list them")))})
                                    << '\n';
    } else if (print(verdict, status) != status) {
        return OutputError;
    }
    // A log that lost a line (full, over a size limit) is no record: said
    // after the verdict, which stands, as when it could not be opened.
    if (!invocation.logPath.isEmpty() && Logger::lostLines() != lostBefore)
        return outputError(substituted(N_("cannot write the log %1"), {Logger::escaped(invocation.logPath)}),
                           translated(N_("lines of the checks' log were lost (a full file system, or a file size "
                                         "limit)")));
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    // Interrupted (Ctrl-C, a closed terminal, a service stop, apt
    // interrupted while the hook runs), the tool leaves no apt-cache running.
    ChildProcess::endChildrenOnInterrupt();
    // A reader that goes away (orvel-update-check | true) makes writes fail:
    // an output error (exit 3), not a death by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    // Over a file size limit, a write fails (EFBIG) like any other, and is
    // said as such: no death by SIGXFSZ, no temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvel-update-check"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVELUPDATECHECKS_VERSION));
    Translation::init(ORVEL_LOCALE_FROM_PROGRAM);
    // Qt takes an 8-bit locale's character set (KOI8-R, ISO-8859-1) for
    // UTF-8: people read their messages, and programs their bytes, in the
    // locale's own. UTF-8 and plain ASCII stay as Qt has them.
    const QByteArray codeset = nl_langinfo(CODESET);
    if (codeset != "UTF-8" && codeset != "ANSI_X3.4-1968")
        if (QTextCodec* codec = QTextCodec::codecForName(codeset))
            QTextCodec::setCodecForLocale(codec);

    const std::variant<Invocation, int> invocation = parseCommandLine(argc, argv);
    if (const int* status = std::get_if<int>(&invocation))
        return *status;
    return run(std::get<Invocation>(invocation));
}
