#include "ResultArchive.h"

#include "bus/TimePoint.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <QVariant>

#include <atomic>
#include <vector>

namespace hubarchive {
namespace {

// Times are ns since the epoch, UTC, in BIGINT columns (Grafana: to_timestamp(x / 1e9)); the
// run's start is also kept as ISO 8601 text for people reading the tables.
// "{id}" is the driver's auto-numbered key.
const std::vector<std::vector<const char*>> kMigrations = {
    // 1: the first schema.
    {
        "CREATE TABLE runs ("
        " id {id},"
        " run_key TEXT NOT NULL UNIQUE,"
        " test TEXT NOT NULL,"
        " scenario_id INTEGER NOT NULL,"
        " started_at BIGINT NOT NULL,"
        " started_utc TEXT NOT NULL,"
        " hub_host TEXT NOT NULL,"
        " archived_at BIGINT NOT NULL)",
        "CREATE INDEX runs_started_at ON runs (started_at)",
        "CREATE TABLE endpoints ("
        " run_id BIGINT NOT NULL REFERENCES runs (id) ON DELETE CASCADE,"
        " device_id TEXT NOT NULL,"
        " name TEXT NOT NULL,"
        " os TEXT NOT NULL,"
        " version TEXT NOT NULL,"
        " addresses TEXT NOT NULL,"
        " clock_offset_ns BIGINT,"
        " clock_error_ns BIGINT,"
        " status TEXT NOT NULL,"
        " error TEXT NOT NULL,"
        " PRIMARY KEY (run_id, device_id))",
        "CREATE TABLE flows ("
        " id {id},"
        " run_id BIGINT NOT NULL REFERENCES runs (id) ON DELETE CASCADE,"
        " device_id TEXT NOT NULL,"
        " scenario_id INTEGER NOT NULL,"
        " flow_id BIGINT NOT NULL,"
        " kind TEXT NOT NULL,"
        " src_port INTEGER,"
        " dst_port INTEGER,"
        " status TEXT NOT NULL,"
        " errormsg TEXT NOT NULL,"
        " planned_frames BIGINT,"
        " sent_frames BIGINT,"
        " received_frames BIGINT,"
        " lost_frames BIGINT,"
        " loss_ratio DOUBLE PRECISION,"
        " bytes BIGINT NOT NULL,"
        " mean_mbps DOUBLE PRECISION,"
        " latency_avg_ns DOUBLE PRECISION,"
        " latency_max_ns DOUBLE PRECISION,"
        " latency_sd_ns DOUBLE PRECISION)",
        "CREATE INDEX flows_run_id ON flows (run_id)",
        "CREATE TABLE flow_seconds ("
        " flow_row BIGINT NOT NULL REFERENCES flows (id) ON DELETE CASCADE,"
        " second_at BIGINT NOT NULL,"
        " packets BIGINT NOT NULL,"
        " bytes BIGINT NOT NULL,"
        " latency_count BIGINT NOT NULL,"
        " latency_min_ns DOUBLE PRECISION,"
        " latency_avg_ns DOUBLE PRECISION,"
        " latency_max_ns DOUBLE PRECISION,"
        " latency_sd_ns DOUBLE PRECISION)",
        "CREATE INDEX flow_seconds_flow_row ON flow_seconds (flow_row)",
        "CREATE INDEX flow_seconds_second_at ON flow_seconds (second_at)",
        "CREATE TABLE monitor_samples ("
        " run_id BIGINT NOT NULL REFERENCES runs (id) ON DELETE CASCADE,"
        " device_id TEXT NOT NULL,"
        " sampled_at BIGINT NOT NULL,"
        " interface TEXT NOT NULL,"
        " ssid TEXT NOT NULL,"
        " bssid TEXT NOT NULL,"
        " rssi_dbm INTEGER,"
        " rate_bps BIGINT,"
        " channel INTEGER)",
        "CREATE INDEX monitor_samples_run_id ON monitor_samples (run_id)",
    },
};

std::atomic<unsigned> g_connections{0};

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

QVariant value(const std::optional<std::int64_t>& v)
{
    return v ? QVariant(static_cast<qlonglong>(*v)) : QVariant(QVariant::LongLong);
}

QVariant value(const std::optional<std::uint64_t>& v)
{
    return v ? QVariant(static_cast<qlonglong>(*v)) : QVariant(QVariant::LongLong);
}

QVariant value(const std::optional<double>& v)
{
    return v ? QVariant(*v) : QVariant(QVariant::Double);
}

std::optional<double> optionalDouble(const QVariant& v)
{
    return v.isNull() ? std::nullopt : std::optional<double>(v.toDouble());
}

std::string why(const QSqlError& error)
{
    std::string text = error.text().toStdString();
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text.empty() ? "unknown database error" : text;
}

// Runs `sql` with `values` bound in order; the error says which statement failed.
bool run(QSqlQuery& query, const QString& sql, const std::vector<QVariant>& values,
         std::string& error)
{
    // PostgreSQL prepares only queries and data changes, not schema statements.
    if (values.empty()) {
        if (query.exec(sql))
            return true;
        error = why(query.lastError());
        return false;
    }
    if (!query.prepare(sql)) {
        error = why(query.lastError());
        return false;
    }
    for (const QVariant& v : values)
        query.addBindValue(v);
    if (!query.exec()) {
        error = why(query.lastError());
        return false;
    }
    return true;
}

} // namespace

ResultArchive::ResultArchive(std::string location)
    : m_location(std::move(location)),
      m_connection("roamnode-archive-" + std::to_string(++g_connections))
{
    m_postgres =
        m_location.rfind("postgresql://", 0) == 0 || m_location.rfind("postgres://", 0) == 0;
}

ResultArchive::~ResultArchive()
{
    {
        QSqlDatabase db = QSqlDatabase::database(q(m_connection), false);
        if (db.isValid())
            db.close();
    }
    if (QSqlDatabase::contains(q(m_connection)))
        QSqlDatabase::removeDatabase(q(m_connection));
}

std::string ResultArchive::displayName() const
{
    if (!m_postgres)
        return m_location;
    return QUrl(q(m_location)).toString(QUrl::RemovePassword).toStdString();
}

bool ResultArchive::open(std::string& error)
{
    m_open = false;
    if (!QSqlDatabase::contains(q(m_connection))) {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(m_postgres ? "QPSQL" : "QSQLITE", q(m_connection));
        if (!db.isValid()) {
            error = std::string("the Qt SQL driver ") + (m_postgres ? "QPSQL" : "QSQLITE") +
                    " is not installed (Debian: " +
                    (m_postgres ? "libqt5sql5-psql" : "libqt5sql5-sqlite") + ")";
            return false;
        }
        if (m_postgres) {
            const QUrl url(q(m_location));
            db.setHostName(url.host());
            if (url.port() > 0)
                db.setPort(url.port());
            db.setUserName(url.userName());
            db.setPassword(url.password());
            db.setDatabaseName(url.path().mid(1));
            // A server that does not answer must not hold the hub for long.
            QString options = "connect_timeout=5";
            for (const auto& item : QUrlQuery(url).queryItems(QUrl::FullyDecoded))
                options += ";" + item.first + "=" + item.second;
            db.setConnectOptions(options);
        } else {
            db.setDatabaseName(q(m_location));
            // An export may read while the hub writes.
            db.setConnectOptions("QSQLITE_BUSY_TIMEOUT=10000");
        }
    }
    QSqlDatabase db = QSqlDatabase::database(q(m_connection), false);
    db.close();
    if (!db.open()) {
        error = displayName() + ": " + why(db.lastError());
        return false;
    }
    if (!m_postgres) {
        QSqlQuery pragma(db);
        pragma.exec("PRAGMA foreign_keys = ON");
        pragma.exec("PRAGMA journal_mode = WAL");
    }
    if (!migrate(error)) {
        error = displayName() + ": " + error;
        db.close();
        return false;
    }
    m_open = true;
    return true;
}

bool ResultArchive::migrate(std::string& error)
{
    QSqlDatabase db = QSqlDatabase::database(q(m_connection), false);
    QSqlQuery query(db);
    if (!db.tables().contains("schema_version") &&
        !run(query,
             "CREATE TABLE schema_version (version INTEGER NOT NULL, applied_at BIGINT NOT NULL)",
             {}, error))
        return false;
    if (!run(query, "SELECT MAX(version) FROM schema_version", {}, error))
        return false;
    const int current = query.next() ? query.value(0).toInt() : 0;
    query.finish();
    if (current > kSchemaVersion) {
        error = "schema version " + std::to_string(current) + " is newer than this hub's (" +
                std::to_string(kSchemaVersion) + ")";
        return false;
    }
    const QString id = m_postgres ? "BIGSERIAL PRIMARY KEY" : "INTEGER PRIMARY KEY AUTOINCREMENT";
    for (int version = current + 1; version <= kSchemaVersion; ++version) {
        // Each version whole or not at all (PostgreSQL and SQLite both roll back DDL).
        if (!db.transaction()) {
            error = why(db.lastError());
            return false;
        }
        bool ok = true;
        for (const char* statement : kMigrations[static_cast<std::size_t>(version - 1)])
            ok = ok && run(query, QString(statement).replace("{id}", id), {}, error);
        ok = ok && run(query, "INSERT INTO schema_version (version, applied_at) VALUES (?, ?)",
                       {version, static_cast<qlonglong>(roamnode::nowNanoseconds())}, error);
        query.finish();
        if (!ok || !db.commit()) {
            if (ok)
                error = why(db.lastError());
            db.rollback();
            error = "migration to schema version " + std::to_string(version) + ": " + error;
            return false;
        }
    }
    return true;
}

bool ResultArchive::write(const RunRecord& r, std::string& error)
{
    if (!m_open && !open(error))
        return false;
    QSqlDatabase db = QSqlDatabase::database(q(m_connection), false);
    if (!db.transaction()) {
        error = displayName() + ": " + why(db.lastError());
        m_open = false;
        return false;
    }
    QSqlQuery query(db);
    auto fail = [&](const std::string& step) {
        error = displayName() + ": " + step + ": " + error;
        db.rollback();
        // The connection may be gone (a server restart): the next write connects again.
        m_open = false;
        return false;
    };
    if (!run(query, "SELECT id FROM runs WHERE run_key = ?", {q(r.key())}, error))
        return fail("runs");
    if (query.next()) {
        db.rollback();
        return true;
    }
    if (!run(query,
             "INSERT INTO runs (run_key, test, scenario_id, started_at, started_utc, hub_host, "
             "archived_at) VALUES (?, ?, ?, ?, ?, ?, ?) RETURNING id",
             {q(r.key()), q(r.test), r.scenarioId, static_cast<qlonglong>(r.startNs),
              q(isoTime(r.startNs, true)), q(r.hubHost),
              static_cast<qlonglong>(roamnode::nowNanoseconds())},
             error) ||
        !query.next())
        return fail("runs");
    const QVariant runId = query.value(0);
    for (const EndpointRow& e : r.endpoints)
        if (!run(query,
                 "INSERT INTO endpoints (run_id, device_id, name, os, version, addresses, "
                 "clock_offset_ns, clock_error_ns, status, error) "
                 "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                 {runId, q(e.deviceId), q(e.name), q(e.os), q(e.version), q(e.addresses),
                  value(e.clockOffsetNs), value(e.clockErrorNs), q(e.status), q(e.error)},
                 error))
            return fail("endpoints");
    QSqlQuery seconds(db);
    if (!seconds.prepare("INSERT INTO flow_seconds (flow_row, second_at, packets, bytes, "
                         "latency_count, latency_min_ns, latency_avg_ns, latency_max_ns, "
                         "latency_sd_ns) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)")) {
        error = why(seconds.lastError());
        return fail("flow_seconds");
    }
    for (const FlowRow& f : r.flows) {
        if (!run(query,
                 "INSERT INTO flows (run_id, device_id, scenario_id, flow_id, kind, src_port, "
                 "dst_port, status, errormsg, planned_frames, sent_frames, received_frames, "
                 "lost_frames, loss_ratio, bytes, mean_mbps, latency_avg_ns, latency_max_ns, "
                 "latency_sd_ns) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                 "?) RETURNING id",
                 {runId, q(f.deviceId), f.scenarioId, static_cast<qlonglong>(f.flowId), q(f.kind),
                  f.srcPort < 0 ? QVariant(QVariant::Int) : QVariant(f.srcPort),
                  f.dstPort < 0 ? QVariant(QVariant::Int) : QVariant(f.dstPort), q(f.status),
                  q(f.error), value(f.plannedFrames), value(f.sentFrames), value(f.receivedFrames),
                  value(f.lostFrames), value(f.lossRatio), static_cast<qlonglong>(f.bytes),
                  value(f.meanMbps), value(f.latencyAvgNs), value(f.latencyMaxNs),
                  value(f.latencySdNs)},
                 error) ||
            !query.next())
            return fail("flows");
        const QVariant flowRow = query.value(0);
        for (const SecondRow& s : f.seconds) {
            for (const QVariant& v :
                 {flowRow, QVariant(static_cast<qlonglong>(s.secondNs)),
                  QVariant(static_cast<qlonglong>(s.packets)),
                  QVariant(static_cast<qlonglong>(s.bytes)),
                  QVariant(static_cast<qlonglong>(s.latencyCount)), value(s.latencyMinNs),
                  value(s.latencyAvgNs), value(s.latencyMaxNs), value(s.latencySdNs)})
                seconds.addBindValue(v);
            if (!seconds.exec()) {
                error = why(seconds.lastError());
                return fail("flow_seconds");
            }
        }
    }
    for (const MonitorRow& m : r.monitors)
        if (!run(query,
                 "INSERT INTO monitor_samples (run_id, device_id, sampled_at, interface, ssid, "
                 "bssid, rssi_dbm, rate_bps, channel) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
                 {runId, q(m.deviceId), static_cast<qlonglong>(m.timeNs), q(m.interfaceName),
                  q(m.ssid), q(m.bssid), value(m.rssi), value(m.rate), value(m.channel)},
                 error))
            return fail("monitor_samples");
    // SQLite refuses to commit while a statement (a RETURNING one) is still open.
    query.finish();
    seconds.finish();
    if (!db.commit()) {
        error = why(db.lastError());
        return fail("commit");
    }
    return true;
}

bool ResultArchive::forEachSecond(const Filter& filter,
                                  const std::function<bool(const SecondRecord&)>& row,
                                  std::string& error)
{
    if (!m_open && !open(error))
        return false;
    QString sql =
        "SELECT r.id, r.started_at, r.test, r.hub_host, f.device_id, "
        "COALESCE(e.name, ''), f.kind, f.scenario_id, f.flow_id, s.second_at, s.packets, "
        "s.bytes, s.latency_count, s.latency_min_ns, s.latency_avg_ns, s.latency_max_ns, "
        "s.latency_sd_ns "
        "FROM flow_seconds s JOIN flows f ON f.id = s.flow_row JOIN runs r ON r.id = f.run_id "
        "LEFT JOIN endpoints e ON e.run_id = r.id AND e.device_id = f.device_id "
        "WHERE s.second_at >= ? AND s.second_at < ?";
    std::vector<QVariant> values = {static_cast<qlonglong>(filter.fromNs),
                                    static_cast<qlonglong>(filter.toNs)};
    if (!filter.endpoint.empty()) {
        sql += " AND (f.device_id = ? OR e.name = ?)";
        values.push_back(q(filter.endpoint));
        values.push_back(q(filter.endpoint));
    }
    if (filter.scenarioId) {
        sql += " AND f.scenario_id = ?";
        values.push_back(*filter.scenarioId);
    }
    sql += " ORDER BY r.started_at, r.id, f.device_id, f.flow_id, s.second_at";
    QSqlQuery query(QSqlDatabase::database(q(m_connection), false));
    query.setForwardOnly(true);
    if (!run(query, sql, values, error)) {
        error = displayName() + ": " + error;
        return false;
    }
    SecondRecord record;
    while (query.next()) {
        record.runId = query.value(0).toLongLong();
        record.runStartNs = query.value(1).toLongLong();
        record.test = query.value(2).toString().toStdString();
        record.hubHost = query.value(3).toString().toStdString();
        record.deviceId = query.value(4).toString().toStdString();
        record.endpointName = query.value(5).toString().toStdString();
        record.kind = query.value(6).toString().toStdString();
        record.scenarioId = query.value(7).toInt();
        record.flowId = query.value(8).toLongLong();
        record.second.secondNs = query.value(9).toLongLong();
        record.second.packets = static_cast<std::uint64_t>(query.value(10).toLongLong());
        record.second.bytes = static_cast<std::uint64_t>(query.value(11).toLongLong());
        record.second.latencyCount = static_cast<std::uint64_t>(query.value(12).toLongLong());
        record.second.latencyMinNs = optionalDouble(query.value(13));
        record.second.latencyAvgNs = optionalDouble(query.value(14));
        record.second.latencyMaxNs = optionalDouble(query.value(15));
        record.second.latencySdNs = optionalDouble(query.value(16));
        if (!row(record)) {
            error = "stopped while writing";
            return false;
        }
    }
    if (query.lastError().isValid()) {
        error = displayName() + ": " + why(query.lastError());
        return false;
    }
    return true;
}

} // namespace hubarchive
