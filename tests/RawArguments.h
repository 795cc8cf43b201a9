#pragma once

// Programs started with arguments that are bytes, as a shell passes a file name that is no
// UTF-8: QProcess would encode its strings, so the child executes the program itself.

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>

#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

inline void startWithArguments(QProcess& process, const QString& program,
                               const QList<QByteArray>& arguments)
{
    // Made before the fork: the child only executes.
    auto strings = std::make_shared<QList<QByteArray>>(arguments);
    strings->prepend(program.toLocal8Bit());
    auto argv = std::make_shared<std::vector<char*>>();
    for (QByteArray& s : *strings)
        argv->push_back(s.data());
    argv->push_back(nullptr);
    // The environment set on the process, which QProcess would hand to its own exec.
    auto variables = std::make_shared<QList<QByteArray>>();
    for (const QString& variable : process.processEnvironment().toStringList())
        variables->append(variable.toLocal8Bit());
    auto envp = std::make_shared<std::vector<char*>>();
    for (QByteArray& s : *variables)
        envp->push_back(s.data());
    envp->push_back(nullptr);
    const bool ownEnvironment = !variables->isEmpty();
    process.setChildProcessModifier([strings, argv, variables, envp, ownEnvironment] {
        ::execve(argv->front(), argv->data(), ownEnvironment ? envp->data() : environ);
        ::_exit(127);
    });
    process.start(program, {});
}

// Writes data to the file of that name, the name's bytes as they are.
inline bool writeNamed(const QByteArray& name, const QByteArray& data)
{
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, data.constData(), size_t(data.size())) == data.size();
    return ::close(fd) == 0 && written;
}
