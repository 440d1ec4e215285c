// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

/**
 * Runs one child process to its end, or for at most a given time.
 *
 * The child leads a process group of its own. When the call ends, however
 * it ends (the child finished, did not finish in time, died from a signal,
 * wrote too much, or an exception left the call), whatever is left of that
 * group is asked to end with SIGTERM, killed after a short grace, and every
 * process of it is reaped, so that no part of a pipeline outlives the call
 * and no zombie stays behind.
 *
 * A supervisor process that no one else can wait for starts the child and
 * keeps its status, so every caller gets the same answers whatever it does
 * with SIGCHLD or other children, on every kernel from Linux 4.15 on; if the
 * caller dies, the supervisor ends the group (ProcessLaunch).
 *
 * Children get an environment of this class's making, not the caller's:
 * PATH, APT_CONFIG and TMPDIR as the caller has them, and LC_ALL=C (apt's
 * own, untranslated texts, and bytes taken as bytes). Nothing else the
 * caller holds (a locale, bash's start-up file and options, TMOUT,
 * GAWK_PERSIST_FILE, ...) reaches them.
 *
 * This is the only place in the project that starts child processes.
 */
class ChildProcess
{
public:
    static constexpr int DefaultTimeoutMs = 30000;
    /// What is kept of each output stream; a child that writes more is ended
    /// and the run fails. Far above what apt prints for thousands of sources.
    static constexpr int OutputLimitBytes = 64 * 1024 * 1024;

    struct Result {
        /// Finished within the time limit with a normal exit, without writing
        /// more than OutputLimitBytes to either stream.
        bool succeeded = false;
        /// The exit code when the child exited normally, otherwise -1.
        int exitCode = -1;
        /// Empty unless the run succeeded.
        QByteArray standardOutput;
        /// Whatever the child wrote to standard error (up to the limit), also
        /// after a failure.
        QByteArray standardError;
        /// The time limit when the child did not finish within it, else 0.
        int timedOutAfterMs = 0;

        /// Succeeded and exited with code 0.
        bool exitedCleanly() const { return succeeded && exitCode == 0; }

        /// The outputs decoded with the local 8-bit codec over their full
        /// length: a NUL byte does not end the text (it would hide every
        /// line after it).
        QString standardOutputText() const { return decoded(standardOutput); }
        QString standardErrorText() const { return decoded(standardError); }
        /// What a log says of a failed run: its standard error, after the
        /// time limit when the run did not finish within it.
        QString failureText() const
        {
            if (timedOutAfterMs == 0)
                return standardErrorText();
            const QString timedOut = QStringLiteral("timed out after %1 ms").arg(timedOutAfterMs);
            return standardError.isEmpty() ? timedOut : timedOut + QStringLiteral(": ") + standardErrorText();
        }

    private:
        static QString decoded(const QByteArray& bytes)
        {
            return QString::fromLocal8Bit(bytes.constData(), bytes.size());
        }
    };

    /**
     * Runs @p program (looked up on PATH unless it contains a slash) with
     * @p arguments, in the environment described above and this process's
     * working directory, with every signal at its default. Its standard
     * input reads @p input, of any size, and then ends.
     *
     * Arguments are encoded with bytesFromText().
     * An argument or program text holding a NUL character cannot be handed
     * to a program without being cut short; such a run is not started and
     * counts as failed.
     */
    static Result run(const QString& program, const QStringList& arguments, int timeoutMs = DefaultTimeoutMs,
                      const QByteArray& input = QByteArray());

    /**
     * @p bytes as text that run() hands on as exactly these bytes again:
     * decoded as UTF-8 (@p utf8) or with the local 8-bit codec, and where
     * that would change them, each byte that is not part of valid text kept
     * as U+DC00 + the byte (U+DC80 to U+DCFF), as Python's surrogateescape
     * does. So an argument such as a Latin-1 file name reaches apt unchanged.
     */
    static QString textFromBytes(const QByteArray& bytes, bool utf8 = false);
    /// What run() hands on for @p text: the local 8-bit encoding (UTF-8
    /// with @p utf8), with U+DC80 to U+DCFF as the bytes they stand for.
    static QByteArray bytesFromText(const QString& text, bool utf8 = false);

    /// Runs "/usr/bin/bash -c @p commandLine" (with @p input, as run()).
    static Result runShell(const QString& commandLine, int timeoutMs = DefaultTimeoutMs,
                           const QByteArray& input = QByteArray());

    /**
     * For a program's main(), before it starts children: on SIGINT, SIGTERM
     * or SIGHUP (each unless ignored from the start, as nohup leaves
     * SIGHUP), every child that run() has running is ended with its group
     * as a run's end does, and the program exits with 128 + the signal.
     * Nothing else is signalled: not the caller's group, nor a child that
     * the program inherited across exec. @p beforeExit, when given, runs
     * after the children have ended, in the signal handler: it may make
     * async-signal-safe calls only.
     */
    static void endChildrenOnInterrupt(void (*beforeExit)() = nullptr);
};
