// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

// orvel-update-check, the tool proper (started by the launcher in
// launcher.cpp): tells an administrator whether the pending apt
// update may be installed, why not, and which package sources offer a
// refused version; and guards apt as its pre-install hook.

#include "AptHook.h"
#include "ChildProcess.h"
#include "ExitStatus.h"
#include "HelpText.h"
#include "JsonText.h"
#include "MetricsFile.h"
#include "PrometheusText.h"
#include "RefusalText.h"
#include "TranslatedText.h"
#include "VerdictText.h"

#include <Logger.h>
#include <UpdateValidatorManager.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
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

const QStringList levelWords{QStringLiteral("debug"), QStringLiteral("info"), QStringLiteral("warning"),
                             QStringLiteral("error")};

int usageError(const QString& message)
{
    const QString name = QCoreApplication::applicationName();
    QTextStream(stderr) << name << ": " << message << '\n'
                        << HelpText::usageLine() << '\n'
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

int print(const QByteArray& bytes, int status)
{
    if (!writeAll(stdout, bytes))
        return outputError(translated(N_("cannot write to standard output")),
                           QString::fromLocal8Bit(std::strerror(errno)));
    return status;
}

// The metrics that say that no verdict was reached, made before any signal
// handler may need them.
const std::string uncheckedMetrics = PrometheusText::unchecked();

// The metrics file of --metrics-file, for the interrupt handler.
MetricsFile* metricsFile = nullptr;

// Interrupted or timed out: the old verdict must not stand.
void publishUnchecked()
{
    if (metricsFile)
        metricsFile->publishFromSignal(uncheckedMetrics.data(), uncheckedMetrics.size());
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
    // The help is written as a whole (HelpText), not by the parser.
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
        return print(HelpText::full().toLocal8Bit(), UpdateAllowed);
    if (parser.isSet(versionOption))
        return print((QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion()
                      + QLatin1Char('\n'))
                         .toLocal8Bit(),
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
        return usageError(Logger::escaped(Refusal::substituted(translatedFormat(problem.format), problem.arguments)));
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

// The verdict in the form the invocation asks for: UTF-8 for programs
// (JSON and Prometheus' format say so), the locale's own for people.
QByteArray rendered(const Invocation& invocation, bool allowed, const UpdateValidatorManager& manager)
{
    const QVector<Refusal> refusals = manager.getRefusals();
    switch (invocation.output) {
    case Invocation::Prometheus: {
        std::vector<PrometheusText::Refused> refused;
        const auto utf8 = [](const QString& text) { return Logger::escaped(text).toUtf8().toStdString(); };
        for (const Refusal& refusal : refusals)
            refused.push_back({utf8(refusal.check), utf8(refusal.rule), utf8(refusal.version), refusal.sourcesKnown});
        return QByteArray::fromStdString(
            PrometheusText::verdict(allowed, utf8(manager.getCurrentOrvelVersion()), refused));
    }
    case Invocation::Json:
        return JsonText::verdict(allowed, manager.getCurrentOrvelVersion(), manager.getAllInvalidSources(), refusals)
            .toUtf8();
    case Invocation::Plain:
    case Invocation::Why:
        break;
    }
    return VerdictText::plain(allowed, manager.getAllInvalidSources(), refusals, invocation.output == Invocation::Why)
        .toLocal8Bit();
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
            logger->info(RefusalText::line(refusal));

    if (explanation >= 0) {
        QFile reasons;
        const bool copied = reasons.open(explanation, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)
            && writeAll(stderr, reasons.readAll());
        if (!copied)
            return OutputError; // standard error itself failed: nowhere to say so
    }

    const QByteArray verdict = rendered(invocation, allowed, manager);
    const int status = allowed ? UpdateAllowed : UpdateRefused;
    if (metricsOutput) {
        std::string error;
        if (!metricsOutput->publish(verdict.toStdString(), &error))
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
