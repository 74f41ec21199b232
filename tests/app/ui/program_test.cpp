// The program as a process: started in a directory of its own, closed by
// SIGTERM like "Выход", its files checked with tovik-config.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <system_error>
#include <utility>

#include "base/Version.h"

namespace {

// Whether the process catches every signal that would end it (terminate,
// interrupt, hang-up, quit, broken pipe): from then on each closes the main
// window and so saves, instead of ending the program at once.
bool CatchesEndingSignals(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (!line.startsWith("SigCgt:")) continue;
        bool ok = false;
        const qulonglong mask = line.mid(7).trimmed().toULongLong(&ok, 16);
        qulonglong ending = 0;
        for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE}) ending |= 1ull << (signal - 1);
        return ok && (mask & ending) == ending;
    }
    return false;
}

const QString kBin = QStringLiteral(TOVIK_BINARY_DIR "/bin/");

QString RunConfigTool(const QStringList& args, int* exitCode = nullptr) {
    QProcess p;
    p.start(kBin + "tovik-config", args);
    p.waitForFinished(120000);
    if (exitCode) *exitCode = p.exitCode();
    return QString::fromUtf8(p.readAllStandardOutput());
}

struct ProgramTest : ::testing::Test {
    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.filePath(name); }
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // The program keeps its configuration beside itself.
        ASSERT_TRUE(QFile::copy(kBin + "tovik", Path("tovik")));
        QFile::setPermissions(Path("tovik"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QProcessEnvironment Env() const {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TOVIK_MESSAGE_LOG", Path("messages.log"));
        return env;
    }
    QString Messages() const {
        QFile f(Path("messages.log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
};

TEST_F(ProgramTest, TakesOverTheCopyRunsAndSavesBothFilesOnSigterm) {
    int rc = -1;
    RunConfigTool({"init", Path("application.cfg")}, &rc);
    ASSERT_EQ(rc, 0);
    // The copy left at the previous exit holds more than the file itself.
    RunConfigTool({"init", Path("newer.cfg")}, &rc);
    RunConfigTool({"add-account", Path("newer.cfg"), "reader", "pw", "2"}, &rc);
    RunConfigTool({"add-port", Path("newer.cfg"), "ttyNONE4", "--bus"}, &rc);
    RunConfigTool(
        {"add-device", Path("newer.cfg"), "3", "--port", "ttyNONE4", "--bus", "7", "--name", "Насосная"},
        &rc);
    ASSERT_EQ(rc, 0);
    ASSERT_TRUE(QFile::rename(Path("newer.cfg"), Path("app.cfg")));

    QProcess app;
    app.setProcessEnvironment(Env());
    app.start(Path("tovik"), {});
    ASSERT_TRUE(app.waitForStarted(60000));
    // While it runs there is no "app.cfg": it has been taken over.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !QFile::exists(Path("app.cfg")); }, 60000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return CatchesEndingSignals(app.processId()); }, 60000));
    app.terminate();  // SIGTERM: closes the main window, which saves
    ASSERT_TRUE(app.waitForFinished(120000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_TRUE(Messages().isEmpty()) << Messages().toStdString();

    for (const QString& name : {QStringLiteral("application.cfg"), QStringLiteral("app.cfg")}) {
        const QString shown = RunConfigTool({"show", Path(name)}, &rc);
        EXPECT_EQ(rc, 0) << name.toStdString();
        EXPECT_TRUE(shown.contains("\"name\": \"reader\"")) << shown.toStdString();
        EXPECT_TRUE(shown.contains("\"name\": \"ttyNONE4\"")) << shown.toStdString();
        EXPECT_TRUE(shown.contains("\"name\": \"Насосная\"")) << shown.toStdString();
        EXPECT_TRUE(shown.contains("\"bus_address\": 7")) << shown.toStdString();
    }
}

// Beside the program, or where "--config" says: the message names the file.
TEST_F(ProgramTest, MissingConfigurationIsReportedAndTheProgramEnds) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("elsewhere"));
    const QStringList runs[] = {{}, {"--config", Path("elsewhere/application.cfg")}};
    for (const QStringList& args : runs) {
        QFile::remove(Path("messages.log"));
        QProcess app;
        app.setProcessEnvironment(Env());
        app.start(Path("tovik"), args);
        ASSERT_TRUE(app.waitForFinished(120000));
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(app.exitCode(), 1);
        // The message, the file and the system's reason below it.
        const QString file = args.isEmpty() ? Path("application.cfg") : args[1];
        EXPECT_EQ(Messages().trimmed().toStdString(), "Невозможно открыть файл конфигурации.\n" +
                                                          file.toStdString() + "\n" +
                                                          std::generic_category().message(ENOENT));
        EXPECT_FALSE(QFile::exists(file));
    }
    EXPECT_FALSE(QFile::exists(Path("app.cfg")));
}

// --help and --version are answered before any window exists: without a
// display, the platform that needs one asked for.
TEST(ProgramOptions, HelpAndVersionNeedNoDisplay) {
    auto env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "xcb");
    for (const auto& [option, start] :
         {std::pair{"--version", QStringLiteral("tovik %1\n").arg(tovik::kTovikVersion)},
          std::pair{"--help", QStringLiteral("Usage: tovik ")}}) {
        QProcess app;
        app.setProcessEnvironment(env);
        app.start(kBin + "tovik", {option});
        ASSERT_TRUE(app.waitForFinished(60000)) << option;
        EXPECT_EQ(app.exitCode(), 0) << option;
        const QString out = QString::fromUtf8(app.readAllStandardOutput());
        EXPECT_TRUE(out.startsWith(start)) << option << ": " << out.toStdString();
    }
}

}  // namespace
