#pragma once

// The real endpoint and the real hub tool as child processes on loopback, for the policy and
// TLS tests: QProcess itself is the process wrapper; these only start them and read lines.
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <string>
#include <vector>

namespace safetytest {

// The endpoint at home in `home` (its own device id and log), with `arguments`.
inline void startEndpoint(QProcess& process, const QString& home, const QStringList& arguments)
{
    QDir().mkpath(home);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("HOME", home);
    environment.insert("XDG_DATA_HOME", home);
    environment.insert("XDG_CONFIG_HOME", home);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(home);
    process.start(ROAMNODE_BINARY, arguments);
}

// Lines of standard output of `process` (and of standard error, when merged) until one starts
// with `prefix` or `timeoutMs` passes; all lines read so far are appended to `lines`.
inline bool waitForLine(QProcess& process, const std::string& prefix, int timeoutMs,
                        std::vector<std::string>& lines)
{
    QElapsedTimer timer;
    timer.start();
    std::string buffer;
    while (timer.elapsed() < timeoutMs) {
        process.waitForReadyRead(100);
        buffer += process.readAll().toStdString();
        for (auto end = buffer.find('\n'); end != std::string::npos; end = buffer.find('\n')) {
            lines.push_back(buffer.substr(0, end));
            buffer.erase(0, end + 1);
            if (lines.back().rfind(prefix, 0) == 0)
                return true;
        }
        if (process.state() == QProcess::NotRunning && process.bytesAvailable() == 0)
            return false;
    }
    return false;
}

// The port from the hub's first line, "listening on 127.0.0.1:PORT"; 0 when it does not come.
inline int hubPort(QProcess& hub)
{
    std::vector<std::string> lines;
    if (!waitForLine(hub, "listening on 127.0.0.1:", 10000, lines))
        return 0;
    return std::stoi(lines.back().substr(lines.back().rfind(':') + 1));
}

// Ends a child however the test left it: asked first, killed if it does not listen.
inline void endProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

} // namespace safetytest
