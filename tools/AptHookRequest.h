#pragma once

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

/**
 * What apt sends to a DPkg::Pre-Install-Pkgs hook of protocol version 2 or 3
 * on its standard input: "VERSION n", apt's configuration as percent-encoded
 * "key=value" lines (list items as "key::=value"), a blank line, then one
 * line per package action: name, old version, "<", ">" or "=", new version
 * (each version followed by its architecture and multi-arch type in version
 * 3), and the action: a .deb to unpack, "**CONFIGURE**" or "**REMOVE**".
 */
class AptHookRequest
{
public:
    struct Action {
        QString package;
        QString oldVersion;
        QString newVersion;
        /// The .deb file to unpack, "**CONFIGURE**" or "**REMOVE**".
        QString action;

        /// True when the action unpacks a package: installs or upgrades it.
        bool unpacks() const;
    };

    /**
     * Reads a whole request. Anything else (another protocol version, a
     * request cut short, a line of the wrong shape) gives no request and a
     * sentence in @p error saying what is wrong.
     */
    static std::optional<AptHookRequest> parse(const QByteArray& input, QString* error);

    int version() const { return m_version; }
    /// The last value of @p key in apt's configuration, or @p fallback.
    QString value(const QString& key, const QString& fallback = QString()) const;
    /// Whether @p key holds one of apt's words for false ("false", "no",
    /// "off", "disable", "without", "0"); absent or any other text is true.
    bool isFalse(const QString& key) const;
    const QVector<Action>& actions() const { return m_actions; }

    /// True when some action unpacks @p package, or any package when
    /// @p package is empty.
    bool unpacks(const QString& package = QString()) const;

    /**
     * The "-o key=value" arguments that make apt-cache see the sources of
     * this apt run: the Dir tree and the architectures, as apt had them
     * (options of its command line included).
     */
    QStringList aptArguments() const;

private:
    int m_version = 0;
    QVector<QPair<QString, QString>> m_configuration;
    QVector<Action> m_actions;
};
