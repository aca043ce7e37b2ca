#pragma once

// The valid description the scenario tests start from, changed by short edits, and the run built
// from it. Owned by the test's thread.
#include "JsonParse.h"
#include "device/InterfaceSource.h"
#include "scenario/PXScenarioResult.h"
#include "scenario/PXScenarioRun.h"
#include "scenario/ScenarioDescription.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace descriptiontest {

// An HTTP flow (0), a stream (1), a trigger (2) and a monitor, every one valid.
inline Json::Value baseDescription()
{
    return *testsupport::parsed(R"({"scenarioid": 7, "duration": 2000000000, "flows": [
      {"id": 3, "flowtype": "tcpv4", "flow": {"requestmethod": "get", "initialtimetowait": 0,
       "url": "file", "srcport": 0, "dstport": 80, "duration": 1000000000,
       "dstipv4": "127.0.0.1", "dstipv6": "::1"}},
      {"id": 1, "flowtype": "streamv4", "flow": {"initialtimetowait": 0, "srcport": 5000,
       "dstport": 6000, "dstipv4": "127.0.0.1", "dstipv6": "::1", "interframegap": 10000000,
       "numberofframes": 10, "contentlist": ["00112233445566778899aabbccddeeff"],
       "timetags": [{"position": 8, "timeoffset": 0}]}},
      {"id": 2, "flowtype": "triggerv4", "flow": {"srcport": 5000, "dstport": 6000,
       "srcipv4": "127.0.0.1", "srcipv6": "::1",
       "latency": {"type": "average", "position": 8, "timeoffset": 0}}}],
     "monitors": [{"monitortype": "wifi", "id": 9, "monitor": {"resultinterval": 500000000}}]})");
}

// The node at a dotted path: member names and array indexes, after one of the short names
// tcp, stream, trigger (the flows' "flow" objects), f0 to f2 (the flows) and mon (the monitor).
inline Json::Value& at(Json::Value& root, std::string path)
{
    static const std::map<std::string, std::string> shortNames = {
        {"tcp", "flows.0.flow"}, {"stream", "flows.1.flow"}, {"trigger", "flows.2.flow"},
        {"f0", "flows.0"},       {"f1", "flows.1"},          {"f2", "flows.2"},
        {"mon", "monitors.0"}};
    const auto known = shortNames.find(path.substr(0, path.find('.')));
    if (known != shortNames.end())
        path.replace(0, known->first.size(), known->second);
    std::istringstream steps(path);
    Json::Value* node = &root;
    for (std::string step; std::getline(steps, step, '.');)
        node = std::isdigit(static_cast<unsigned char>(step[0]))
                   ? &(*node)[Json::ArrayIndex(std::stoul(step))]
                   : &(*node)[step];
    return *node;
}

// The base description changed by `edits`, separated by ';': "PATH=JSON" sets, "PATH-" removes.
inline Json::Value edited(const std::string& edits, Json::Value root = baseDescription())
{
    std::istringstream list(edits);
    for (std::string edit; std::getline(list, edit, ';');) {
        edit.erase(0, edit.find_first_not_of(' '));
        const auto equals = edit.find('=');
        if (equals == std::string::npos) { // "PATH-"
            const std::string path = edit.substr(0, edit.size() - 1);
            const auto dot = path.rfind('.');
            Json::Value& parent = dot == std::string::npos ? root : at(root, path.substr(0, dot));
            parent.removeMember(path.substr(dot + 1));
            continue;
        }
        const auto value = testsupport::parsed(edit.substr(equals + 1));
        EXPECT_TRUE(value) << edit;
        at(root, edit.substr(0, equals)) = value.value_or(Json::Value());
    }
    return root;
}

inline int parse(const Json::Value& root, PXScenarioPlan& scenario)
{
    return parseScenarioDescription(root.toStyledString(), scenario);
}

// The run built from the base description changed by `edits`.
inline std::shared_ptr<PXScenarioRun> runOf(const std::string& edits)
{
    PXScenarioPlan scenario;
    EXPECT_EQ(parse(edited(edits), scenario), 0) << edits;
    return buildScenarioRun(scenario, std::make_shared<PXScenarioResult>(scenario.id),
                            hostInterfaceSource(), nullptr);
}

} // namespace descriptiontest
