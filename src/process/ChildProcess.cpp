// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "ChildProcess.h"

#include "Descriptor.h"
#include "ProcessGroup.h"
#include "ProcessLaunch.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTextCodec>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <iterator>
#include <vector>

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

extern char** environ;

namespace {

bool holdsNul(const QString& text)
{
    return text.contains(QChar(0));
}

// Reads what is there now; closes the descriptor at the end of the stream.
// Returns false when the stream has written more than the limit.
bool readAvailable(Descriptor& fd, QByteArray& into, bool untilEmpty)
{
    char buffer[65536];
    while (fd.isOpen()) {
        const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count > 0) {
            if (into.size() + count > ChildProcess::OutputLimitBytes)
                return false;
            into.append(buffer, static_cast<int>(count));
            if (!untilEmpty)
                return true;
        } else if (count == 0) {
            fd.reset();
        } else if (errno == EINTR) {
            continue;
        } else {
            if (errno != EAGAIN)
                fd.reset();
            return true;
        }
    }
    return true;
}

bool isEscapedByte(const QString& text, int at)
{
    const ushort code = text.at(at).unicode();
    return code >= 0xdc80 && code <= 0xdcff && (at == 0 || !text.at(at - 1).isHighSurrogate());
}

// The length of the valid UTF-8 sequence at @p at, or 0.
int utf8SequenceAt(const QByteArray& bytes, int at)
{
    const auto byte = [&](int i) { return static_cast<unsigned char>(bytes.at(i)); };
    const unsigned char lead = byte(at);
    const int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xe ? 3 : (lead >> 3) == 0x1e ? 4 : 0;
    if (length == 0 || at + length > bytes.size())
        return 0;
    for (int i = 1; i < length; ++i)
        if ((byte(at + i) & 0xc0) != 0x80)
            return 0;
    // Overlong forms and encoded surrogates: the decoder replaces them.
    const QString decoded = QString::fromUtf8(bytes.constData() + at, length);
    return decoded.contains(QChar::ReplacementCharacter) ? 0 : length;
}

// What a child inherits: an allowlist, so that nothing of the caller's that
// bash, gawk, sed, sort or apt would read (TMOUT, GAWK_PERSIST_FILE, bash's
// start-up file and options, a locale, ...) changes what a query answers.
// PATH finds the programs, APT_CONFIG is the admin's apt, TMPDIR where apt
// may put temporary files; the locale is set, not inherited.
std::vector<QByteArray> childEnvironment()
{
    static const QByteArray kept[] = {"PATH=", "APT_CONFIG=", "TMPDIR="};
    std::vector<QByteArray> entries;
    for (char** entry = environ; entry && *entry; ++entry) {
        const QByteArray text(*entry);
        if (std::any_of(std::begin(kept), std::end(kept),
                        [&text](const QByteArray& name) { return text.startsWith(name); }))
            entries.push_back(text);
    }
    // C: apt's own texts (the queries read them), and any byte a single
    // character to gawk, sed and sort, whatever the caller's locale.
    entries.push_back(QByteArrayLiteral("LC_ALL=C"));
    return entries;
}

// A descriptor that reads @p bytes from their start; -1 when it cannot be
// made. Memory, not a pipe: no size limit, and nothing to write while the
// child runs.
int inputHolding(const QByteArray& bytes)
{
    Descriptor fd(::memfd_create("orvel-child-input", MFD_CLOEXEC));
    if (!fd.isOpen())
        return -1;
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t count = ::write(fd.get(), bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (count > 0)
            done += count;
        else if (count < 0 && errno != EINTR)
            return -1;
    }
    if (::lseek(fd.get(), 0, SEEK_SET) != 0)
        return -1;
    // Never on 0, 1 or 2: the child moves its input there.
    if (fd.get() <= STDERR_FILENO)
        fd.reset(::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
    return fd.release();
}

std::vector<char*> pointersTo(std::vector<QByteArray>& words)
{
    std::vector<char*> pointers;
    pointers.reserve(words.size() + 1);
    for (QByteArray& word : words)
        pointers.push_back(word.data());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

QString ChildProcess::textFromBytes(const QByteArray& bytes, bool utf8)
{
    QString text = utf8 ? QString::fromUtf8(bytes) : QString::fromLocal8Bit(bytes);
    if (bytesFromText(text) == bytes)
        return text;
    const bool utf8Bytes = utf8 || QTextCodec::codecForLocale()->mibEnum() == 106;
    text.clear();
    for (int at = 0; at < bytes.size();) {
        const unsigned char byte = static_cast<unsigned char>(bytes.at(at));
        const int length = byte < 0x80 ? 1 : utf8Bytes ? utf8SequenceAt(bytes, at) : 0;
        if (length > 0) {
            text += QString::fromUtf8(bytes.constData() + at, length);
            at += length;
        } else {
            text += QChar(0xdc00 + byte);
            ++at;
        }
    }
    return text;
}

QByteArray ChildProcess::bytesFromText(const QString& text, bool utf8)
{
    QByteArray bytes;
    int run = 0;
    for (int at = 0; at <= text.size(); ++at) {
        if (at < text.size() && !isEscapedByte(text, at))
            continue;
        const QString valid = text.mid(run, at - run);
        bytes += utf8 ? valid.toUtf8() : valid.toLocal8Bit();
        if (at < text.size())
            bytes += static_cast<char>(text.at(at).unicode() - 0xdc00);
        run = at + 1;
    }
    return bytes;
}

ChildProcess::Result ChildProcess::run(const QString& program, const QStringList& arguments, int timeoutMs,
                                       const QByteArray& input)
{
    Result result;
    if (holdsNul(program) || std::any_of(arguments.cbegin(), arguments.cend(), holdsNul))
        return result;
    const QString path = program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return result;

    // Read by the program's process until it execs: kept for the whole run.
    std::vector<QByteArray> words;
    words.reserve(static_cast<size_t>(arguments.size()) + 1);
    words.push_back(QFile::encodeName(path));
    for (const QString& argument : arguments)
        words.push_back(bytesFromText(argument));
    const std::vector<char*> argv = pointersTo(words);
    std::vector<QByteArray> environment = childEnvironment();
    const std::vector<char*> environmentPointers = pointersTo(environment);

    // Without input, a pipe whose end the child finds at once.
    Pipe empty;
    Descriptor inputFd(input.isEmpty() ? -1 : inputHolding(input));
    Pipe output;
    Pipe error;
    if ((input.isEmpty() ? !empty.open() : !inputFd.isOpen()) || !output.open() || !error.open())
        return result;
    const QDeadlineTimer deadline(timeoutMs);
    ProcessLaunch launch(argv.front(), argv.data(), environmentPointers.data(),
                         input.isEmpty() ? empty.read.get() : inputFd.get(), output.write.get(), error.write.get());
    if (!launch.started())
        return result;
    // The supervisor has copies of its own.
    inputFd.reset();
    empty.read.reset();
    empty.write.reset();
    output.write.reset();
    error.write.reset();

    bool exited = false;
    bool withinLimit = true;
    while (!exited && withinLimit) {
        const int remaining = static_cast<int>(std::min<qint64>(deadline.remainingTime(), 1 << 30));
        if (remaining == 0) {
            result.timedOutAfterMs = timeoutMs;
            break;
        }
        pollfd watched[3] = {
            {output.read.get(), POLLIN, 0}, {error.read.get(), POLLIN, 0}, {launch.exitNotifier(), POLLIN, 0}};
        const int ready = ::poll(watched, 3, remaining);
        if (ready < 0 && errno != EINTR)
            break;
        if (watched[0].revents)
            withinLimit = readAvailable(output.read, result.standardOutput, false);
        if (watched[1].revents && withinLimit)
            withinLimit = readAvailable(error.read, result.standardError, false);
        if (watched[2].revents && withinLimit)
            exited = launch.reap();
    }

    // What the child wrote before it ended is still in the pipes.
    for (Descriptor* fd : {&output.read, &error.read})
        if (fd->isOpen())
            ::fcntl(fd->get(), F_SETFL, ::fcntl(fd->get(), F_GETFL) | O_NONBLOCK);
    withinLimit = withinLimit && readAvailable(error.read, result.standardError, true);
    const int exitCode = exited ? launch.programExitCode() : -1;
    if (exitCode >= 0 && withinLimit && readAvailable(output.read, result.standardOutput, true)) {
        result.succeeded = true;
        result.exitCode = exitCode;
        return result;
    }
    result.standardOutput.clear();
    return result;
}

ChildProcess::Result ChildProcess::runShell(const QString& commandLine, int timeoutMs, const QByteArray& input)
{
    return run(QStringLiteral("/usr/bin/bash"), {QStringLiteral("-c"), commandLine}, timeoutMs, input);
}

namespace {

std::atomic<bool> interrupted{false};
std::atomic<void (*)()> interruptedExit{nullptr};

void endChildrenAndExit(int signal)
{
    // A second signal, perhaps on another thread, waits for the first.
    if (interrupted.exchange(true))
        for (;;)
            ::pause();
    ProcessGroup::endStarted();
    if (void (*beforeExit)() = interruptedExit.load())
        beforeExit();
    ::_exit(128 + signal);
}

} // namespace

void ChildProcess::endChildrenOnInterrupt(void (*beforeExit)())
{
    interruptedExit.store(beforeExit);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action = {};
        // One ignored from the start stays so (nohup).
        if (::sigaction(signal, nullptr, &action) != 0 || action.sa_handler == SIG_IGN)
            continue;
        action = {};
        action.sa_handler = endChildrenAndExit;
        sigfillset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
}
