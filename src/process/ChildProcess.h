#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

/**
 * Runs one child process to its end, or for at most a given time.
 *
 * The child leads a process group of its own. When the call ends (the child
 * finished, did not finish in time, or died from a signal), whatever is left
 * of that group is killed and every process of it is reaped, so that no part
 * of a pipeline outlives the call and no zombie stays behind.
 *
 * This is the only place in the project that starts child processes.
 */
class ChildProcess
{
public:
    static constexpr int DefaultTimeoutMs = 30000;

    struct Result {
        /// Finished within the time limit with a normal exit; the exit code
        /// is not examined.
        bool succeeded = false;
        /// Empty unless the run succeeded.
        QByteArray standardOutput;
        /// Whatever the child wrote to standard error, also after a failure.
        QByteArray standardError;

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
