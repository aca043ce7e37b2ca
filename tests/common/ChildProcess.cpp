#include "ChildProcess.h"

#include <csignal>
#include <cstdlib>

namespace testsupport {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Environment homeIn(const std::string& folder)
{
    return {{"HOME", folder},
            {"XDG_DATA_HOME", folder + "/data"},
            {"XDG_CONFIG_HOME", folder + "/config"},
            {"QT_QPA_PLATFORM", "offscreen"}};
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const Environment& environment, const std::string& workDir)
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : environment)
        variables.insert(QString::fromStdString(name), QString::fromStdString(value));
    m_process.setProcessEnvironment(variables);
    m_process.setWorkingDirectory(QString::fromStdString(workDir));
    m_process.setStandardInputFile(QProcess::nullDevice());
    QStringList argumentList;
    for (const std::string& argument : arguments)
        argumentList << QString::fromStdString(argument);
    m_process.start(QString::fromStdString(program), argumentList);
    m_started = m_process.waitForStarted(10000);
}

ChildProcess::~ChildProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
}

void ChildProcess::readAvailable()
{
    // What the pipes hold now, without waiting; bounded for a program that writes without end.
    for (int i = 0;
         i < 100 && m_process.state() == QProcess::Running && m_process.waitForReadyRead(0); ++i) {
    }
    m_outText += m_process.readAllStandardOutput().toStdString();
    m_errText += m_process.readAllStandardError().toStdString();
    for (std::size_t end; (end = m_outText.find('\n', m_split)) != std::string::npos;
         m_split = end + 1) {
        std::string line = m_outText.substr(m_split, end - m_split);
        const auto cr = line.find_last_of('\r');
        if (cr != std::string::npos && cr + 1 < line.size())
            line.erase(0, cr + 1);
        m_lines.push_back(line);
    }
}

std::optional<std::string> ChildProcess::waitForLine(const Accept& accept,
                                                     std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        readAvailable();
        while (m_next < m_lines.size()) {
            const std::string& line = m_lines[m_next++];
            if (accept(line))
                return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        // Once the program ended, its last output was read above: no line can come.
        if (left <= 0ms || m_process.state() == QProcess::NotRunning)
            return std::nullopt;
        // Waits for either channel: standard error is read into its buffer meanwhile.
        m_process.waitForReadyRead(static_cast<int>(std::min(left, 50ms).count()));
    }
}

std::optional<std::string> ChildProcess::waitForLine(const std::string& text,
                                                     std::chrono::milliseconds timeout)
{
    return waitForLine(
        [&text](const std::string& line) { return line.find(text) != std::string::npos; }, timeout);
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout)
{
    if (m_process.state() != QProcess::NotRunning)
        m_process.waitForFinished(static_cast<int>(timeout.count()));
    readAvailable();
    if (!m_started || m_process.state() != QProcess::NotRunning)
        return std::nullopt;
    // After a crash QProcess keeps the signal's number as the exit code.
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode()
                                                          : -m_process.exitCode();
}

std::optional<int> ChildProcess::signalAndWait(int signalNumber, std::chrono::milliseconds timeout)
{
    if (m_process.state() != QProcess::NotRunning)
        ::kill(static_cast<pid_t>(m_process.processId()), signalNumber);
    return waitForExit(timeout);
}

const std::string& ChildProcess::outText()
{
    readAvailable();
    return m_outText;
}

const std::string& ChildProcess::errText()
{
    readAvailable();
    return m_errText;
}

std::string ChildProcess::allOutput()
{
    readAvailable();
    return m_outText + "[stderr] " + m_errText;
}

int listeningPort(ChildProcess& tool, std::chrono::milliseconds timeout)
{
    const auto line = tool.waitForLine("listening on ", timeout);
    return line ? std::atoi(line->c_str() + line->find_last_of(": ") + 1) : 0;
}

} // namespace testsupport
