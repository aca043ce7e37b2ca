#include "bus/ScenarioErrorCode.h"

#include <map>

std::string scenarioErrorText(int code)
{
    // Built once on first use, read-only afterwards.
    static const std::map<int, std::string> messages = {
        {1, "Error in <scenariodescription>: Invalid JSON"},
        {2, "Error in <scenariodescription>: No <scenarioid> value"},
        {3, "Error in <scenariodescription>: No <scenarioduration> value"},
        {4, "Error in <scenariodescription>: No <flows> value"},
        {5, "Error in <scenariodescription>: No <flowid> value"},
        {6, "Error in <scenariodescription>: No <flowtype> value"},
        {7, "Error in <scenariodescription>: <flowtype> value unknown"},
        {8, "Error in <scenariodescription>: No <flowcontent> value"},
        {9, "Error in <scenariodescription>: A <tos> value different from 0 is not supported on "
            "Windows"},
        {10, "Error in <scenariodescription>: No <initialtimetowait> value for TCP stream"},
        {11, "Error in <scenariodescription>: No <httpmethod> value for TCP flow"},
        {12, "Error in <scenariodescription>: <httpmethod> value for TCP flow can only be \"get\" "
             "or \"put\""},
        {13, "Error in <scenariodescription>: No <url> value for TCP flow"},
        {14, "Error in <scenariodescription>: No <srcport> value for TCP flow"},
        {15, "Error in <scenariodescription>: No <dstipv4> value for TCP flow"},
        {16, "Error in <scenariodescription>: No <dstipv6> value for TCP flow"},
        {17, "Error in <scenariodescription>: No <dstport> value for TCP flow"},
        {18, "Error in <scenariodescription>: No <tcprequestduration> value for TCP stream"},
        {19, "Error in <scenariodescription>: No <srcipv4> value for Trigger flow"},
        {20, "Error in <scenariodescription>: No <srcipv6> value for Trigger flow"},
        {21, "Error in <scenariodescription>: No <srcport> value for Trigger flow"},
        {22, "Error in <scenariodescription>: No <dstport> value for Trigger flow"},
        {23, "Error in <scenariodescription>: <latency> no type is given"},
        {24, "Error in <scenariodescription>: <latency> type is invalid or not supported"},
        {25, "Error in <scenariodescription>: <latency> no position is given"},
        {26,
         "Error in <scenariodescription>: <latency> position is invalid (should be at least 8)"},
        {27, "Error in <scenariodescription>: <latency> no timoffset is given"},
        {28, "Error in <scenariodescription>: No <initialtimetowait> value for STREAM flow"},
        {29, "Error in <scenariodescription>: No <srcport> value for STREAM flow"},
        {30, "Error in <scenariodescription>: No <dstipv4> value for STREAM flow"},
        {31, "Error in <scenariodescription>: No <dstipv6> value for STREAM flow"},
        {32, "Error in <scenariodescription>: No <dstport> value for STREAM flow"},
        {33, "Error in <scenariodescription>: No <interframegap> value for STREAM flow"},
        {34, "Error in <scenariodescription>: No <numberofframes> value for STREAM flow"},
        {35, "Error in <scenariodescription>: No <contentlist> value for STREAM flow"},
        {36, "Error in <scenariodescription>: <contentlist> is not an array for STREAM flow"},
        {37, "Error in <scenariodescription>: <contentlist> is an empty array for STREAM flow"},
        {38, "Error in <scenariodescription>: <timetag> is not anarray for STREAM flow"},
        {39, "Error in <scenariodescription>: <timetag> is an empty array for STREAM flow"},
        {40, "Error in <scenariodescription>: <timetag> has a different length than <contentlist>"},
        {41, "Error in <scenariodescription>: not all items in <timetag> have both a <position> "
             "and a <timeoffset>"},
        {42, "Error in <scenariodescription>: Monitor misses <type> attribute"},
        {43, "Error in <scenariodescription>: Monitor <type> attribute has an unknown type"},
        {44, "Error in <scenariodescription>: Monitor misses <id> attribute"},
        {45, "Error in <scenariodescription>: Network monitor misses configuration"},
        {46, "Error in <scenariostarttime>: <scenariodescription> is not yet set"},
        {47, "Error in <scenariostarttime>: the <scenariostarttime> is in the past"},
        {48, "Error in <abortdetectioninterval>: <scenariodescription> is not yet set"},
        {49, "Error in <debuglevel>: Invalid value"},
        {50,
         "Error in <scenariodescription>: <interframegap> must be greater than 0 for STREAM flow"},
        {51,
         "Error in <scenariodescription>: <timetag> position is outside its frame for STREAM flow"},
        {52, "Error in <scenariodescription>: The description is not a JSON object"},
        {53, "Error in <scenariodescription>: An item of <flows> is not an object"},
        {54, "Error in <scenariodescription>: <contentlist> has an item that is not a string for "
             "STREAM flow"},
        {55, "Error in <scenariodescription>: <latency> is not an object"},
        {56, "Error in <scenariodescription>: An item of <monitors> is not an object"},
        {57, "Error in <scenariodescription>: <tos> value is not an integer"},
        {58, "Error in <scenariodescription>: <ratelimit> value is not an integer for TCP flow"},
        {59, "Error in <scenariodescription>: <sizemin> or <sizemax> value is not an integer for "
             "Trigger flow"},
        {60, "Error in <scenariodescription>: <resultinterval> value is not an integer"},
        {61,
         "Error in <scenariodescription>: <scenarioduration> is negative or longer than 7 days"},
        {62, "Error in <scenariodescription>: <url> contains spaces or control characters for TCP "
             "flow"},
        {63,
         "Error in <scenariodescription>: <contentlist> has an item that is empty or longer than a "
         "UDP datagram can carry (65507 bytes over IPv4, 65527 over IPv6) for STREAM flow"},
        {64, "Error in <scenariodescription>: <dstport> value for STREAM flow cannot be 0"},
        {65, "Error in <scenariodescription>: more flows than the allowed number"},
        {66, "Error in <scenariodescription>: <scenarioduration> is longer than allowed"},
        {67, "Error in <scenariodescription>: a destination is outside the allowed networks"},
        {68, "Error in <scenariodescription>: a local UDP port is outside the allowed range"},
        {69, "Error in <scenariodescription>: a STREAM flow's rate is above the allowed rate"},
        {70,
         "Error in <scenariodescription>: the STREAM flows together are above the allowed rate"},
        {71, "Error in <scenariodescription>: <ratelimit> for TCP flow is above the allowed rate"},
        {72, "Error in <scenariodescription>: a TCP flow without <ratelimit> is not allowed"},
    };
    if (code == SCENARIO_OK)
        return {};
    const auto it = messages.find(code);
    return it == messages.end() ? "Unknown error" : it->second;
}
