// The host program with a configuration it cannot use: it says so and runs on the defaults.
#include "cznhostconfiguration.h"
#include "cznresources.h"
#include "cznsystemservices.h"
#include "cznutils.h"
#include "hostfixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace
{
class HostProgram : public HostFixture
{
protected:
    // Runs zncip-host headless with the configuration and a script that quits at once.
    int run(const QString& config, QString* errors)
    {
        QFile script(path("quit.script"));
        script.open(QIODevice::WriteOnly);
        script.write("type LINE\nquit\n");
        script.close();
        QProcess host;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", path("config"));
        env.insert("XDG_DATA_HOME", path("data"));
        host.setProcessEnvironment(env);
        host.start(QStringLiteral(ZNCIP_BIN_DIR "/zncip-host"),
                   {"--config", config, "--script", script.fileName()});
        EXPECT_TRUE(host.waitForFinished(60000));
        *errors = QString::fromLocal8Bit(host.readAllStandardError());
        return host.exitStatus() == QProcess::NormalExit ? host.exitCode() : -1;
    }
};
} // namespace

TEST_F(HostProgram, RunsOnTheDefaultsWhenItsConfigurationIsMissingUnreadableOrMalformed)
{
    QString errors;
    EXPECT_EQ(run(path("missing.ini"), &errors), 0);
    EXPECT_TRUE(errors.contains(QStringLiteral("missing.ini not found; using the defaults")))
        << errors.toStdString();

    QDir().mkpath(path("folder.ini")); // a folder where the file should be: it cannot be read
    EXPECT_EQ(run(path("folder.ini"), &errors), 0);
    EXPECT_TRUE(errors.contains(QStringLiteral("folder.ini cannot be read; using the defaults")))
        << errors.toStdString();

    QFile bad(path("bad.ini"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("[display]\ndpi_factor=large\n[host]\ngui_enabled=perhaps\n\x01\x02 not ini at all\n");
    bad.close();
    EXPECT_EQ(run(bad.fileName(), &errors), 0);
    EXPECT_TRUE(errors.contains(QStringLiteral("malformed host/gui_enabled, display/dpi_factor")))
        << errors.toStdString();
}

TEST_F(HostProgram, AMalformedValueKeepsItsDefaultAndTheRestApplies)
{
    QFile file(path("host.ini"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[display]\ndpi_factor=large\n[resources]\ncompany=Acme Works\n[version]\nnumbers=1,2\n");
    file.close();
    QString message;
    EXPECT_FALSE(CZnHostConfiguration::Load(file.fileName(), &message));
    EXPECT_TRUE(message.contains(QStringLiteral("display/dpi_factor"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("version/numbers"))) << message.toStdString();
    EXPECT_EQ(CZnUtils::dpiFactor(), 1.0);
    EXPECT_EQ(GetZnResources()->GetCompanyName().toQString(), QStringLiteral("Acme Works"));
    int n[4] = {};
    EXPECT_TRUE(GetZnSystemServices()->GetVersionNumbers(n[0], n[1], n[2], n[3]));
    EXPECT_EQ(n[3], 1520);

    EXPECT_FALSE(CZnHostConfiguration::Load(path("absent.ini"), &message));
    EXPECT_EQ(GetZnResources()->GetCompanyName().toQString(), QStringLiteral("Zinc Design Systems"));
    ASSERT_NE(GetZnSystemServices()->GetProfile(), nullptr); // the host still has its default profile
}
