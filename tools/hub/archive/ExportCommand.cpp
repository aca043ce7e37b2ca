#include "ExportCommand.h"

#include "DecimalOption.h"
#include "ResultArchive.h"
#include "bus/JsonText.h"

#include <cstdio>
#include <fstream>
#include <iostream>

namespace hubarchive {
namespace {

const char* exportUsage()
{
    return "usage: roamnode-hub export [--archive FILE.db|URL] [--format csv|ndjson]\n"
           "                           [--from TIME] [--to TIME] [--endpoint ID|NAME]\n"
           "                           [--scenario N] [--out FILE]\n"
           "\n"
           "Writes one record per flow and second from the archive, in CSV (with a header) or\n"
           "newline-delimited JSON, oldest run first. Times are UTC, as 2026-12-07T10:00:00Z\n"
           "(or a date alone); --to is exclusive.\n"
           "\n"
           "  --archive FILE.db|URL   the archive (default ./roamnode-results/results.db)\n"
           "  --format csv|ndjson     default csv\n"
           "  --out FILE              default: standard output\n";
}

// The record's fields, in CSV column order.
const char* const kColumns[] = {
    "schema_version", "run_id",         "run_start_utc",  "test",          "hub_host",
    "device_id",      "endpoint_name",  "scenario_id",    "flow_id",       "flow_kind",
    "second_utc",     "second_unix_ns", "packets",        "bytes",         "latency_count",
    "latency_min_ns", "latency_avg_ns", "latency_max_ns", "latency_sd_ns",
};

// One field of a record: its text, and whether it is a string (quoted in JSON) or absent.
struct Field
{
    std::string text;
    bool string = false;
    bool null = false;
};

Field text(const std::string& value)
{
    return {value, true, false};
}

template <typename Integer> Field integer(Integer value)
{
    Field field;
    roamnode::appendNumber(field.text, value);
    return field;
}

Field decimal(const std::optional<double>& value)
{
    if (!value)
        return {"", false, true};
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.12g", *value);
    return {digits, false, false};
}

std::vector<Field> fields(const ResultArchive::SecondRecord& r)
{
    return {integer(ResultArchive::kSchemaVersion),
            integer(r.runId),
            text(isoTime(r.runStartNs, true)),
            text(r.test),
            text(r.hubHost),
            text(r.deviceId),
            text(r.endpointName),
            integer(r.scenarioId),
            integer(r.flowId),
            text(r.kind),
            text(isoTime(r.second.secondNs)),
            integer(r.second.secondNs),
            integer(r.second.packets),
            integer(r.second.bytes),
            integer(r.second.latencyCount),
            decimal(r.second.latencyMinNs),
            decimal(r.second.latencyAvgNs),
            decimal(r.second.latencyMaxNs),
            decimal(r.second.latencySdNs)};
}

// RFC 4180: a field with a comma, quote or line break is quoted, its quotes doubled.
void appendCsv(std::string& line, const Field& field)
{
    if (field.text.find_first_of(",\"\r\n") == std::string::npos) {
        line += field.text;
        return;
    }
    line += '"';
    for (const char c : field.text)
        line += c == '"' ? std::string("\"\"") : std::string(1, c);
    line += '"';
}

void appendJson(std::string& line, const Field& field)
{
    line += field.null ? "null" : field.string ? roamnode::jsonString(field.text) : field.text;
}

} // namespace

int exportCommand(int argc, char** argv)
{
    std::string location = "roamnode-results/results.db", format = "csv", outPath;
    ResultArchive::Filter filter;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(exportUsage(), stdout);
            return 0;
        }
        const std::string value = i + 1 < argc ? argv[i + 1] : std::string();
        bool ok = i + 1 < argc;
        ++i;
        std::uint64_t number = 0;
        if (argument == "--archive")
            location = value;
        else if (argument == "--format")
            format = value, ok = ok && (value == "csv" || value == "ndjson");
        else if (argument == "--out")
            outPath = value;
        else if (argument == "--from")
            ok = ok && parseIsoTime(value, filter.fromNs);
        else if (argument == "--to")
            ok = ok && parseIsoTime(value, filter.toNs);
        else if (argument == "--endpoint")
            filter.endpoint = value;
        else if (argument == "--scenario")
            ok = ok && roamnode::tools::parseDecimal(value, 2147483647, number),
            filter.scenarioId = static_cast<int>(number);
        else
            ok = false;
        if (!ok) {
            std::fprintf(stderr, "roamnode-hub export: invalid or incomplete option: %s %s\n%s",
                         argument.c_str(), value.c_str(), exportUsage());
            return 2;
        }
    }
    std::ofstream file;
    if (!outPath.empty()) {
        file.open(outPath, std::ios::binary | std::ios::trunc);
        if (!file) {
            std::fprintf(stderr, "roamnode-hub export: cannot write %s\n", outPath.c_str());
            return 1;
        }
    }
    std::ostream& out = outPath.empty() ? std::cout : file;
    const bool csv = format == "csv";
    if (csv) {
        std::string header;
        for (const char* column : kColumns)
            header += (header.empty() ? "" : ",") + std::string(column);
        out << header << "\n";
    }
    std::string error;
    std::uint64_t rows = 0;
    ResultArchive archive(location);
    const bool ok = archive.forEachSecond(
        filter,
        [&](const ResultArchive::SecondRecord& record) {
            const std::vector<Field> values = fields(record);
            std::string line = csv ? "" : "{";
            for (std::size_t i = 0; i < values.size(); ++i) {
                if (i > 0)
                    line += ',';
                if (csv) {
                    appendCsv(line, values[i]);
                } else {
                    line += '"' + std::string(kColumns[i]) + "\":";
                    appendJson(line, values[i]);
                }
            }
            line += csv ? "\n" : "}\n";
            out << line;
            ++rows;
            return static_cast<bool>(out);
        },
        error);
    out.flush();
    if (!ok || !out) {
        std::fprintf(stderr, "roamnode-hub export: %s\n",
                     ok ? "cannot write the output" : error.c_str());
        return 1;
    }
    std::fprintf(stderr, "roamnode-hub export: %llu record(s)\n",
                 static_cast<unsigned long long>(rows));
    return 0;
}

} // namespace hubarchive
