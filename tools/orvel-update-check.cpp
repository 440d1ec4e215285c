// orvel-update-check: tells an administrator whether the pending apt update
// may be installed, and which package sources offer a refused version.

#include <Logger.h>
#include <UpdateValidatorManager.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <memory>

namespace {

// The exit statuses, decided here only.
enum ExitStatus {
    UpdateAllowed = 0,
    UpdateRefused = 1,
    UsageError = 2,
};

const char* const description =
    "Decides whether the pending distribution update through apt may be installed:\n"
    "every offered version must keep the design and major version of the installed\n"
    "system, and every hotfix repository must belong to the installed release or to\n"
    "an offered regular release. APT-ARGs are the apt arguments of the pending\n"
    "operation, passed on unchanged (put them after --).\n"
    "\n"
    "Prints \"update allowed\" or \"update refused\", then each package source that\n"
    "offers a refused version, one per line, sorted.\n"
    "\n"
    "Exit status:\n"
    "  0  update allowed\n"
    "  1  update refused\n"
    "  2  usage error\n"
    "\n"
    "--explain and --log cannot be combined: the checks log to one place at a time.";

const QStringList levelWords{QStringLiteral("debug"), QStringLiteral("info"), QStringLiteral("warning"),
                             QStringLiteral("error")};

int usageError(const QCommandLineParser& parser, const QString& message)
{
    const QString name = QCoreApplication::applicationName();
    QTextStream(stderr) << name << ": " << message << '\n'
                        << parser.helpText().section(QLatin1Char('\n'), 0, 0) << '\n'
                        << "Try '" << name << " --help' for more information.\n";
    return UsageError;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvel-update-check"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVELUPDATECHECKS_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption logOption(QStringLiteral("log"), QStringLiteral("Append the checks' log to <file>."),
                                       QStringLiteral("file"));
    const QCommandLineOption levelOption(QStringLiteral("log-level"),
                                         QStringLiteral("Lowest level written to the log: debug, info (default), "
                                                        "warning or error."),
                                         QStringLiteral("level"), QStringLiteral("info"));
    const QCommandLineOption explainOption(
        QStringLiteral("explain"), QStringLiteral("Write the reasons for the verdict (info level and above) to "
                                                  "standard error."));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"), QStringLiteral("Print {\"allowed\": ..., \"invalid_sources\": [...]} instead."));
    parser.addOptions({logOption, levelOption, explainOption, jsonOption});
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("APT-ARG"), QStringLiteral("apt arguments of the pending operation."),
                                 QStringLiteral("[--] [APT-ARG...]"));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser, parser.errorText());
    if (parser.isSet(helpOption)) {
        QTextStream(stdout) << parser.helpText();
        return UpdateAllowed;
    }
    if (parser.isSet(versionOption)) {
        QTextStream(stdout) << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion()
                            << '\n';
        return UpdateAllowed;
    }
    const QString level = parser.value(levelOption);
    if (!levelWords.contains(level))
        return usageError(parser, QStringLiteral("unknown log level '%1'").arg(level));
    if (parser.isSet(levelOption) && !parser.isSet(logOption))
        return usageError(parser, QStringLiteral("--log-level needs --log"));
    if (parser.isSet(explainOption) && parser.isSet(logOption))
        return usageError(parser, QStringLiteral("--explain and --log cannot be combined"));

    // The logger opens its file for every line and seeks to its end, which
    // a pipe or terminal on standard error does not allow: explanations go
    // to a private file first and are copied to standard error afterwards.
    QTemporaryDir explanationDir;
    const QString explanationPath = explanationDir.filePath(QStringLiteral("explanation.log"));
    std::shared_ptr<Logger> logger;
    if (parser.isSet(logOption)) {
        logger = std::make_shared<Logger>(parser.value(logOption), Logger::Info);
        logger->setLevel(level);
    } else if (parser.isSet(explainOption)) {
        if (!explanationDir.isValid()) {
            QTextStream(stderr) << QCoreApplication::applicationName()
                                << ": cannot create a temporary directory for --explain\n";
            return UpdateRefused;
        }
        logger = std::make_shared<Logger>(explanationPath, Logger::Info);
    }

    // Logging from construction on, so that a debug log names the installed
    // and the offered versions too.
    UpdateValidatorManager manager(logger, parser.positionalArguments());
    const bool allowed = manager.check();
    QStringList sources = manager.getAllInvalidSources();
    std::sort(sources.begin(), sources.end());

    if (parser.isSet(explainOption)) {
        QFile explanation(explanationPath);
        QFile standardError;
        if (explanation.open(QIODevice::ReadOnly) && standardError.open(stderr, QIODevice::WriteOnly))
            standardError.write(explanation.readAll());
    }

    QTextStream out(stdout);
    if (parser.isSet(jsonOption)) {
        const QJsonObject verdict{{QStringLiteral("allowed"), allowed},
                                  {QStringLiteral("invalid_sources"), QJsonArray::fromStringList(sources)}};
        out << QJsonDocument(verdict).toJson(QJsonDocument::Compact) << '\n';
    } else {
        out << (allowed ? "update allowed" : "update refused") << '\n';
        for (const QString& source : qAsConst(sources))
            out << source << '\n';
    }
    return allowed ? UpdateAllowed : UpdateRefused;
}
