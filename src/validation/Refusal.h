// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

/**
 * Why a check refused one offered version: the reason behind a false
 * verdict, for callers that must show it to a person.
 *
 * The rule names are part of the interface and do not change:
 * "major-version-changed" and "design-version-changed" (check "linear"),
 * "hotfix-not-allowed" (check "hotfix"), "versions-unknown" (either check)
 * when apt could not say which versions are offered, and
 * "installed-version-unknown" (check "linear") when the installed release
 * could not be read or has fewer than three components. The last two name
 * no version and no source.
 */
struct Refusal {
    /**
     * One sentence of a message: an English @p format whose %1 to %9
     * stand for @p arguments. Formats are fixed texts, so that a program
     * can show the sentence in its user's language (messageIn()).
     */
    struct Part {
        QString format;
        QStringList arguments;
    };

    /// A Part of @p format, a text that the message catalogue of the tool
    /// collects (its translators see the formats as they stand here).
    static Part sentence(const char* format, const QStringList& arguments = {})
    {
        return {QString::fromLatin1(format), arguments};
    }

    /// "linear" or "hotfix".
    QString check;
    QString rule;
    /// The refused version; empty for "versions-unknown" and
    /// "installed-version-unknown".
    QString version;
    /// The installed version it was judged against.
    QString installed;
    /// The sources (repository URLs) that offer the version, sorted, each once.
    QStringList sources;
    /// One line for a person, naming the versions: the sentences of parts,
    /// joined by "; ".
    QString message;
    /// False when apt could not list which sources offer what: sources is
    /// then empty although some source does offer the version.
    bool sourcesKnown = true;
    /// For "versions-unknown": apt's first error line, or what else ended
    /// its query; empty otherwise. Like every text of a refusal it is as
    /// apt and the repositories gave it: renderers for people escape it.
    QString aptError = QString();
    /// The sentences of message.
    QVector<Part> parts = {};
    /// The same sources as apt's sources list names them, "URL dist" (a
    /// suite and component, "file:/srv/debian next/main", or a flat
    /// repository's "./"), sorted, each once: one URL may serve allowed and
    /// refused suites. A local file is its path alone.
    QStringList packageFiles = {};

    /// @p format with %1 to %9 replaced by @p arguments in one pass, so
    /// that an argument holding "%1" stays as it is.
    static QString substituted(const QString& format, const QStringList& arguments)
    {
        QString text;
        for (int i = 0; i < format.size(); ++i) {
            const QChar c = format.at(i);
            if (c == QLatin1Char('%') && i + 1 < format.size() && format.at(i + 1) >= QLatin1Char('1')
                && format.at(i + 1) <= QLatin1Char('9')) {
                text += arguments.value(format.at(++i).unicode() - '1');
            } else {
                text += c;
            }
        }
        return text;
    }
    /// The sentences of @p parts, each format passed through @p translate
    /// (a QString from a QString) first, joined by "; ".
    template <typename Translate> static QString joined(const QVector<Part>& parts, Translate translate)
    {
        QStringList sentences;
        for (const Part& part : parts)
            sentences << substituted(translate(part.format), part.arguments);
        return sentences.join(QStringLiteral("; "));
    }
    /// message in another language: each format through @p translate.
    template <typename Translate> QString messageIn(Translate translate) const
    {
        return parts.isEmpty() ? message : joined(parts, translate);
    }

    /// What a person reads as the refusal's title: the version, or what a
    /// refusal without one is about.
    QString subject() const
    {
        if (!version.isEmpty())
            return version;
        return rule == QLatin1String("installed-version-unknown") ? sentence("installed release unknown").format
                                                                  : sentence("versions unknown").format;
    }

    /**
     * Calls @p visit(key, value) for each field that programs read, in the
     * order and under the keys of every form they read it in (the tool's
     * JSON, the Python module's dicts and its stub): "check", "rule",
     * "version", "installed", "sources", "package_files", "message",
     * "sources_known", "apt_error". A value is a QString, a QStringList or
     * a bool.
     */
    template <typename Visit> void forEachField(Visit&& visit) const
    {
        visit("check", check);
        visit("rule", rule);
        visit("version", version);
        visit("installed", installed);
        visit("sources", sources);
        visit("package_files", packageFiles);
        visit("message", message);
        visit("sources_known", sourcesKnown);
        visit("apt_error", aptError);
    }

    bool operator==(const Refusal& other) const
    {
        return check == other.check && rule == other.rule && version == other.version && installed == other.installed
            && sources == other.sources && packageFiles == other.packageFiles && message == other.message
            && sourcesKnown == other.sourcesKnown && aptError == other.aptError;
    }
    bool operator!=(const Refusal& other) const { return !(*this == other); }
};
