// Runs the real binary the way people type it.
#include "ArgumentFilter.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>

namespace {

struct ProcessRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

// With a work folder, the run is at home there: device id store and log stay inside it.
ProcessRun runRoamnode(const QStringList& arguments, const QString& workDir = QString())
{
    QProcess process;
    if (!workDir.isEmpty()) {
        process.setWorkingDirectory(workDir);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", workDir);
        environment.insert("XDG_DATA_HOME", workDir + "/data");
        environment.insert("XDG_CONFIG_HOME", workDir + "/config");
        process.setProcessEnvironment(environment);
    }
    process.start(ROAMNODE_BINARY, arguments);
    ProcessRun run;
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

TEST(CommandLine, VersionPrintsVersionAndExitsZero)
{
    const ProcessRun run = runRoamnode({"--version"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.contains("2.12.3.0")) << run.out.toStdString();
}

TEST(CommandLine, HelpListsTheRallyhubArgument)
{
    const ProcessRun run = runRoamnode({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.contains("The IP address or resolving domain name of the rallyhub"));
    EXPECT_TRUE(run.out.contains("Connect the Roamnode to the Pellix Rallyhub and it will serve "
                                 "as a traffic generator and monitor"));
}

// The first call creates the identifier, later calls print the same one; nothing else is started.
TEST(CommandLine, DeviceIdIsCreatedOnceAndPrintedAlone)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const ProcessRun first = runRoamnode({"--device-id"}, home.path());
    const ProcessRun second = runRoamnode({"--device-id"}, home.path());
    EXPECT_EQ(first.exitCode, 0) << first.err.toStdString();
    EXPECT_EQ(second.exitCode, 0) << second.err.toStdString();
    const QRegularExpression uuid(
        "^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}\\n$");
    EXPECT_TRUE(uuid.match(first.out).hasMatch()) << first.out.toStdString();
    EXPECT_EQ(second.out, first.out);
    EXPECT_FALSE(QFile::exists(home.filePath("pxlog.txt")));
}

TEST(CommandLine, TwoAddressesPrintHelpAndExit255)
{
    const ProcessRun run = runRoamnode({"a", "b"});
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_TRUE(run.out.contains("rallyhub"));
}

TEST(CommandLine, UnknownOptionExitsOne)
{
    const ProcessRun run = runRoamnode({"--bogus"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("bogus"));
}

TEST(CommandLine, OnlyEndOfOptionsMarkerPrintsHelp)
{
    const ProcessRun run = runRoamnode({"--"});
    EXPECT_EQ(run.exitCode, 255);
}

TEST(CommandLine, FilterDropsPsnArgumentsOnly)
{
    char name[] = "roamnode", psn[] = "-psn_0_12345", shortArg[] = "-ps", hub[] = "10.0.0.5";
    char* argv[] = {name, psn, shortArg, hub};
    const auto filtered = roamnode::filterArguments(4, argv);
    ASSERT_EQ(filtered.size(), 3u);
    EXPECT_EQ(filtered[0], name);
    EXPECT_EQ(filtered[1], shortArg);
    EXPECT_EQ(filtered[2], hub);
}

TEST(CommandLine, HeadlessRunSaysOnceWhyTheHubIsUnreachableAndStopsCleanlyOnSignals)
{
    const struct
    {
        int signalNumber;
        QString hub;
        QString said;
    } cases[] = {
        // A port nobody listens on, and a name that resolves to nothing.
        {SIGINT, "127.0.0.1:9", "cannot reach 127.0.0.1:9: Connection refused\n"},
        {SIGTERM, "nonexistent.invalid", "cannot reach nonexistent.invalid:9100: name not resolved\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hub.toStdString());
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        QProcess process;
        process.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", dir.path());
        env.insert("XDG_DATA_HOME", dir.path() + "/data");
        process.setProcessEnvironment(env);
        // Entries loaded at the start must be written back by the stop.
        {
            QFile log(dir.path() + "/pxlog.txt");
            ASSERT_TRUE(log.open(QIODevice::WriteOnly));
            log.write("2;1700000000000;kept across the stop;");
        }
        process.start(ROAMNODE_BINARY, {c.hub});
        ASSERT_TRUE(process.waitForStarted(5000));
        // Three missed heartbeats (each blinks the bullet) before stderr is read.
        QByteArray out;
        for (int i = 0; i < 150 && out.count("\u2022") < 3; ++i) {
            process.waitForReadyRead(100);
            out += process.readAllStandardOutput();
        }
        EXPECT_TRUE(out.contains("   Status: Contacting   || Rx:   0.00 Mbps | Tx:   0.00 Mbps"))
            << out.toStdString();
        EXPECT_GE(out.count("\u2022"), 3) << out.toStdString();
        EXPECT_EQ(QString::fromUtf8(process.readAllStandardError()), c.said);
        ::kill(static_cast<pid_t>(process.processId()), c.signalNumber);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
        QFile log(dir.path() + "/pxlog.txt");
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        const QByteArray entries = log.readAll();
        EXPECT_TRUE(entries.startsWith("2;1700000000000;kept across the stop;"));
        EXPECT_EQ(entries.count("Heartbeat was not able to connect to the RVP"), 1) << entries.toStdString();
    }
}
