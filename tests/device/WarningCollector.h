#pragma once

#include <QString>
#include <QtGlobal>

#include <mutex>
#include <string>
#include <vector>

// Collects the qWarning() texts of any thread while it lives.
class WarningCollector
{
public:
    WarningCollector()
    {
        std::lock_guard<std::mutex> lock(mutex());
        collected().clear();
        m_previous = qInstallMessageHandler(collect);
    }
    ~WarningCollector() { qInstallMessageHandler(m_previous); }

    std::vector<std::string> texts() const
    {
        std::lock_guard<std::mutex> lock(mutex());
        return collected();
    }

private:
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    static std::vector<std::string>& collected()
    {
        static std::vector<std::string> texts;
        return texts;
    }
    static void collect(QtMsgType type, const QMessageLogContext&, const QString& message)
    {
        if (type != QtWarningMsg)
            return;
        std::lock_guard<std::mutex> lock(mutex());
        collected().push_back(message.toStdString());
    }

    QtMessageHandler m_previous;
};
