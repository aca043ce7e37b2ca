#pragma once

#include "bus/PXEventBus.h"
#include "bus/PXEventHandler.h"

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// Everything published on the ids it subscribes to, in order, each payload as text: numbers in
// decimal (a float as the shortest text that reads back the same), a status as its code, a state
// as its number, "true"/"false", nothing for an event without payload. `answer`, when given,
// runs for each event after it is recorded (to answer a request as its owner would). Lives on
// the thread that publishes.
class BusRecorder : public PXEventHandler
{
public:
    struct Entry
    {
        int id;
        std::string text;
    };
    using Answer = std::function<void(int id)>;

    BusRecorder(PXEventBus& bus, std::initializer_list<int> ids, Answer answer = {})
        : m_bus(bus), m_answer(std::move(answer))
    {
        for (int id : ids)
            m_bus.subscribe(id, this);
    }
    ~BusRecorder() override { m_bus.unsubscribe(this); }
    BusRecorder(const BusRecorder&) = delete;
    BusRecorder& operator=(const BusRecorder&) = delete;

    std::vector<int> ids() const
    {
        std::vector<int> out;
        for (const Entry& e : entries)
            out.push_back(e.id);
        return out;
    }
    int count(int id) const
    {
        return static_cast<int>(std::count_if(entries.begin(), entries.end(),
                                              [id](const Entry& e) { return e.id == id; }));
    }
    // The payload of the last event `id`; nothing when there was none.
    std::optional<std::string> last(int id) const
    {
        for (auto it = entries.rbegin(); it != entries.rend(); ++it)
            if (it->id == id)
                return it->text;
        return std::nullopt;
    }
    // The same, or "(none)", for comparing in one line.
    std::string lastText(int id) const { return last(id).value_or("(none)"); }

    using PXEventHandler::handleEvent;
    void handleEvent(int id, PXEmptyEventContents) override { add(id, ""); }
    void handleEvent(int id, int value) override { add(id, std::to_string(value)); }
    void handleEvent(int id, unsigned long value) override { add(id, std::to_string(value)); }
    void handleEvent(int id, float value) override
    {
        char text[32];
        std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
        add(id, text);
    }
    void handleEvent(int id, std::string value) override { add(id, std::move(value)); }
    void handleEvent(int id, bool value) override { add(id, value ? "true" : "false"); }
    void handleEvent(int id, AppState value) override { add(id, std::to_string(value)); }
    void handleEvent(int id, PXStatus value) override
    {
        add(id, std::to_string(statusCode(value)));
    }

    std::vector<Entry> entries;

private:
    void add(int id, std::string text)
    {
        entries.push_back({id, std::move(text)});
        if (m_answer)
            m_answer(id);
    }

    PXEventBus& m_bus;
    Answer m_answer;
};

} // namespace testsupport
