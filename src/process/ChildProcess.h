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
 * The child is waited for through a pidfd. In a caller whose children the
 * kernel reaps by itself (SIGCHLD ignored, or SA_NOCLDWAIT, as many daemons
 * have it), the child is started by a supervisor process that has no exit
 * signal and so stays ours to wait for: the caller gets the same answers.
 * Needs Linux 5.4 or later; on an older kernel nothing can be started and
 * every run fails.
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

        /// Succeeded and exited with code 0.
        bool exitedCleanly() const { return succeeded && exitCode == 0; }

        /// The outputs decoded with the local 8-bit codec over their full
        /// length: a NUL byte does not end the text (it would hide every
        /// line after it).
        QString standardOutputText() const { return decoded(standardOutput); }
        QString standardErrorText() const { return decoded(standardError); }

    private:
        static QString decoded(const QByteArray& bytes)
        {
            return QString::fromLocal8Bit(bytes.constData(), bytes.size());
        }
    };

    /**
     * Runs @p program (looked up on PATH unless it contains a slash) with
     * @p arguments, in this process's environment and working directory,
     * with an input that ends at once and every signal at its default.
     *
     * An argument or program text holding a NUL character cannot be handed
     * to a program without being cut short; such a run is not started and
     * counts as failed.
     */
    static Result run(const QString& program, const QStringList& arguments,
                      int timeoutMs = DefaultTimeoutMs);

    /// Runs "/usr/bin/bash -c @p commandLine".
    static Result runShell(const QString& commandLine, int timeoutMs = DefaultTimeoutMs);
};
