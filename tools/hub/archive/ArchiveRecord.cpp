#include "ArchiveRecord.h"

#include "bus/TimePoint.h"

#include <QDateTime>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>

namespace hubarchive {
namespace {

std::string text(const Json::Value& object, const char* key)
{
    const Json::Value& v = object.isObject() ? object[key] : Json::Value::nullSingleton();
    return v.isString() ? v.asString() : std::string();
}

std::optional<std::int64_t> integer(const Json::Value& object, const char* key)
{
    const Json::Value& v = object.isObject() ? object[key] : Json::Value::nullSingleton();
    if (v.isInt64())
        return v.asInt64();
    if (v.isUInt64())
        return static_cast<std::int64_t>(v.asUInt64());
    return std::nullopt;
}

std::optional<double> number(const Json::Value& object, const char* key)
{
    const Json::Value& v = object.isObject() ? object[key] : Json::Value::nullSingleton();
    return v.isNumeric() ? std::optional<double>(v.asDouble()) : std::nullopt;
}

std::optional<std::uint64_t> count(const Json::Value& object, const char* key)
{
    const auto v = integer(object, key);
    return v && *v >= 0 ? std::optional<std::uint64_t>(static_cast<std::uint64_t>(*v))
                        : std::nullopt;
}

const Json::Value& array(const Json::Value& object, const char* key)
{
    static const Json::Value empty(Json::arrayValue);
    return object.isObject() && object[key].isArray() ? object[key] : empty;
}

EndpointRow endpointRow(const Json::Value& e)
{
    EndpointRow row;
    row.deviceId = text(e, "deviceid");
    const Json::Value& info = e["info"];
    row.name = text(info, "device-givenname");
    row.os = text(info, "device-os") + (text(info, "device-os-version").empty() ? "" : " ") +
             text(info, "device-os-version");
    row.version = text(info, "app-version");
    for (const Json::Value& address : array(e, "addresses"))
        if (address.isString())
            row.addresses += (row.addresses.empty() ? "" : " ") + address.asString();
    row.clockOffsetNs = integer(e["clock"], "offsetns");
    row.clockErrorNs = integer(e["clock"], "errorns");
    row.status = text(e, "status");
    row.error = text(e, "error");
    return row;
}

FlowRow flowRow(const Json::Value& f, const std::string& deviceId, int scenarioId)
{
    FlowRow row;
    row.deviceId = deviceId;
    row.scenarioId = scenarioId;
    row.flowId = integer(f, "id").value_or(0);
    row.kind = text(f, "type");
    row.status = text(f, "status");
    row.error = text(f, "errormsg");
    row.srcPort = static_cast<int>(integer(f, "srcport").value_or(-1));
    row.dstPort = static_cast<int>(integer(f, "dstport").value_or(-1));
    row.bytes = count(f, "bytes").value_or(0);
    const std::uint64_t packets = count(f, "packets").value_or(0);
    row.plannedFrames = count(f, "plannedframes");
    row.lostFrames = integer(f, "lostpackets");
    // A stream counts what it sent, a trigger what it received; a paired trigger knows both.
    if (row.kind.rfind("stream", 0) == 0) {
        row.sentFrames = packets;
    } else if (row.kind.rfind("trigger", 0) == 0) {
        row.receivedFrames = packets;
        if (row.lostFrames)
            row.sentFrames =
                packets + static_cast<std::uint64_t>(std::max<std::int64_t>(0, *row.lostFrames));
    }
    if (const auto percent = number(f, "losspercent"))
        row.lossRatio = *percent / 100.0;
    row.meanMbps = number(f, "meanmbps");
    row.latencyAvgNs = number(f, "latencyavgns");
    row.latencyMaxNs = number(f, "latencymaxns");
    row.latencySdNs = number(f, "latencysdns");
    for (const Json::Value& s : array(f, "seconds")) {
        SecondRow second;
        second.secondNs = integer(s, "second").value_or(0);
        second.packets = count(s, "packets").value_or(0);
        second.bytes = count(s, "bytes").value_or(0);
        second.latencyCount = count(s, "latencycount").value_or(0);
        second.latencyMinNs = number(s, "latencyminns");
        second.latencyAvgNs = number(s, "latencyavgns");
        second.latencyMaxNs = number(s, "latencymaxns");
        second.latencySdNs = number(s, "latencysdns");
        row.seconds.push_back(second);
    }
    return row;
}

} // namespace

RunRecord recordFromResults(const Json::Value& results)
{
    RunRecord run;
    run.test = text(results, "test");
    run.hubHost = text(results, "hubhost");
    run.startNs = integer(results, "runstart").value_or(0);
    run.scenarioId = static_cast<int>(integer(results["scenario"], "scenarioid").value_or(0));
    // The summary names endpoints by their label; the archive by their device id.
    std::map<std::string, std::string> idByLabel;
    for (const Json::Value& e : array(results, "endpoints")) {
        run.endpoints.push_back(endpointRow(e));
        idByLabel[text(e, "label")] = run.endpoints.back().deviceId;
        if (run.scenarioId == 0)
            run.scenarioId = static_cast<int>(integer(e["scenario"], "scenarioid").value_or(0));
    }
    for (const Json::Value& s : array(results, "summary")) {
        const auto id = idByLabel.find(text(s, "endpoint"));
        const std::string deviceId = id == idByLabel.end() ? text(s, "endpoint") : id->second;
        const int scenarioId = static_cast<int>(integer(s, "scenarioid").value_or(0));
        for (const Json::Value& f : array(s, "flows"))
            run.flows.push_back(flowRow(f, deviceId, scenarioId));
        for (const Json::Value& m : array(s, "monitors"))
            for (const Json::Value& p : array(m, "points")) {
                MonitorRow row;
                row.deviceId = deviceId;
                row.timeNs = integer(p, "time").value_or(0);
                row.interfaceName = text(p, "interface");
                row.ssid = text(p, "ssid");
                row.bssid = text(p, "bssid");
                row.rssi = integer(p, "rssi");
                row.rate = integer(p, "txrate");
                row.channel = integer(p, "channel");
                run.monitors.push_back(row);
            }
    }
    return run;
}

std::string RunRecord::key() const
{
    return hubHost + "|" + std::to_string(startNs) + "|" + test + "|" + std::to_string(scenarioId) +
           "|" + (endpoints.empty() ? "" : endpoints[0].deviceId);
}

std::string isoTime(std::int64_t ns, bool fraction)
{
    using roamnode::kNanosecondsPerSecond;
    // The second it lies in, also before 1970.
    const std::int64_t second = ns >= 0
                                    ? ns / kNanosecondsPerSecond
                                    : (ns - (kNanosecondsPerSecond - 1)) / kNanosecondsPerSecond;
    const std::time_t t = static_cast<std::time_t>(second);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char out[40];
    const std::size_t n = std::strftime(out, sizeof out, "%Y-%m-%dT%H:%M:%S", &utc);
    std::string result(out, n);
    if (fraction) {
        char millis[8];
        std::snprintf(millis, sizeof millis, ".%03d",
                      static_cast<int>(roamnode::nanosecondsToMilliseconds(
                          ns - second * kNanosecondsPerSecond)));
        result += millis;
    }
    return result + "Z";
}

bool parseIsoTime(const std::string& text, std::int64_t& ns)
{
    const QString value = QString::fromStdString(text);
    QDateTime time = QDateTime::fromString(value, Qt::ISODateWithMs);
    if (!time.isValid() && value.size() == 10)
        time = QDateTime(QDate::fromString(value, Qt::ISODate), QTime(0, 0), Qt::UTC);
    if (!time.isValid())
        return false;
    // A time without a zone is taken as UTC, the archive's time.
    if (time.timeSpec() == Qt::LocalTime)
        time.setTimeSpec(Qt::UTC);
    ns = roamnode::millisecondsToNanoseconds(time.toMSecsSinceEpoch());
    return true;
}

} // namespace hubarchive
