#include "AptHookRequest.h"

#include <QFile>

namespace {

QString decoded(const QByteArray& text)
{
    return QFile::decodeName(QByteArray::fromPercentEncoding(text));
}

bool isSourceSetting(const QString& key)
{
    return key == QLatin1String("Dir") || key.startsWith(QLatin1String("Dir::"))
        || key == QLatin1String("APT::Architecture") || key == QLatin1String("APT::Architectures")
        || key == QLatin1String("APT::Architectures::");
}

} // namespace

bool AptHookRequest::Action::unpacks() const
{
    return action != QLatin1String("**CONFIGURE**") && action != QLatin1String("**REMOVE**");
}

std::optional<AptHookRequest> AptHookRequest::parse(const QByteArray& input, QString* error)
{
    const auto failure = [error](const QString& why) -> std::optional<AptHookRequest> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (!input.startsWith("VERSION "))
        return failure(QStringLiteral("apt did not say which hook protocol it speaks (version 1 sends bare file "
                                      "names); set DPkg::Tools::Options::<this command>::Version \"3\""));
    if (!input.endsWith('\n'))
        return failure(QStringLiteral("the request from apt ends in the middle of a line"));

    // The last piece after the final newline is empty.
    const QList<QByteArray> lines = input.left(input.size() - 1).split('\n');
    AptHookRequest request;
    const QByteArray version = lines.first().mid(8);
    if (version == "2" || version == "3")
        request.m_version = version.toInt();
    else
        return failure(QStringLiteral("apt speaks hook protocol version %1; only versions 2 and 3 are understood")
                           .arg(QString::fromLatin1(version.left(20))));

    int line = 1;
    for (; line < lines.size() && !lines.at(line).isEmpty(); ++line) {
        const int equals = lines.at(line).indexOf('=');
        if (equals <= 0)
            return failure(QStringLiteral("line %1 of the request from apt is no configuration line").arg(line + 1));
        request.m_configuration.append({decoded(lines.at(line).left(equals)), decoded(lines.at(line).mid(equals + 1))});
    }
    if (line == lines.size())
        return failure(QStringLiteral("the request from apt ends before its configuration does"));

    // name, old version, [arch, multi-arch,] comparison, new version, [arch,
    // multi-arch,] action; the action (a file name) is the rest of the line.
    const int fields = request.m_version == 3 ? 9 : 5;
    const int comparison = request.m_version == 3 ? 4 : 2;
    for (++line; line < lines.size(); ++line) {
        const QByteArray& text = lines.at(line);
        QList<QByteArray> words;
        int start = 0;
        for (int space = text.indexOf(' '); space >= 0 && words.size() < fields - 1; space = text.indexOf(' ', start)) {
            words << text.mid(start, space - start);
            start = space + 1;
        }
        const QByteArray action = text.mid(start);
        const bool shaped = words.size() == fields - 1 && !action.isEmpty()
            && (words.at(comparison) == "<" || words.at(comparison) == ">" || words.at(comparison) == "=");
        if (!shaped)
            return failure(QStringLiteral("line %1 of the request from apt is no package action").arg(line + 1));
        request.m_actions.append({QFile::decodeName(words.at(0)), QFile::decodeName(words.at(1)),
                                  QFile::decodeName(words.at(comparison + 1)), QFile::decodeName(action)});
    }
    if (request.m_actions.isEmpty())
        return failure(QStringLiteral("the request from apt lists no package action"));
    return request;
}

QString AptHookRequest::value(const QString& key, const QString& fallback) const
{
    for (auto entry = m_configuration.crbegin(); entry != m_configuration.crend(); ++entry)
        if (entry->first == key)
            return entry->second;
    return fallback;
}

bool AptHookRequest::isFalse(const QString& key) const
{
    static const QStringList falseWords{QStringLiteral("false"), QStringLiteral("no"), QStringLiteral("off"),
                                        QStringLiteral("disable"), QStringLiteral("without"), QStringLiteral("0")};
    return falseWords.contains(value(key).toLower());
}

bool AptHookRequest::unpacks(const QString& package) const
{
    for (const Action& action : m_actions)
        if (action.unpacks() && (package.isEmpty() || action.package == package))
            return true;
    return false;
}

QStringList AptHookRequest::aptArguments() const
{
    QStringList arguments;
    for (const auto& setting : m_configuration)
        if (isSourceSetting(setting.first))
            arguments << QStringLiteral("-o") << setting.first + QLatin1Char('=') + setting.second;
    return arguments;
}
