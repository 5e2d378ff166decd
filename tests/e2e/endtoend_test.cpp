// The whole system as a user meets it: the real host program loading the real module, posting to the
// real collection endpoint. Each run that has to send waits for the module's 30-second tick (the timer
// starts when the module is loaded, so 37 s after the program starts leaves room for a slow start
// under the sanitizers), so these tests are few.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

namespace
{
const QString bin = QStringLiteral(ZNCIP_BIN_DIR);

struct Hit
{
    QList<QPair<QString, QString>> params;
    QString value(const QString& key) const
    {
        for (const auto& p : params)
            if (p.first == key)
                return p.second;
        return QString();
    }
    QStringList keys() const
    {
        QStringList k;
        for (const auto& p : params)
            k << p.first;
        return k;
    }
    // "category|action|label|value", the part of an event that says what happened.
    QString event() const
    {
        return QStringList{value("ec"), value("ea"), value("el"), value("ev")}.join('|');
    }
};

class EndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_collector.setProgram(bin + "/zncip-collector");
        m_collector.setArguments({"serve", "--listen", "127.0.0.1", "--port", "0", "--db", path("hits.db")});
        m_collector.setProcessChannelMode(QProcess::SeparateChannels);
        m_collector.start();
        ASSERT_TRUE(m_collector.waitForStarted(10000));
        QRegularExpression listening(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)$"));
        for (int i = 0; i < 100 && m_port.isEmpty(); ++i)
        {
            m_collector.waitForReadyRead(100);
            const auto match = listening.match(QString::fromUtf8(m_collector.readLine()).trimmed());
            if (match.hasMatch())
                m_port = match.captured(1);
        }
        ASSERT_FALSE(m_port.isEmpty()) << m_collector.readAllStandardError().toStdString();

        QFile config(path("zncip-host.ini"));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write(
            QStringLiteral("[resources]\ncip_endpoint=127.0.0.1:%1\n"
                           "[profile]\nfolder=%2\n"
                           "[session]\nroot=%3\n"
                           "[display]\ndpi_factor=1.25\n"
                           "[opengl]\ncore_profile=false\nrenderer=Test Renderer\nvendor=ACME\nversion=4.5\n")
                .arg(m_port, path("profile"), path("sessions"))
                .toUtf8());
    }

    void TearDown() override
    {
        m_collector.terminate();
        m_collector.waitForFinished(10000);
    }

    QString path(const QString& name) const { return QDir(m_dir.path()).filePath(name); }

    // Runs the host program headless with these steps; its exit code.
    int runHost(const QString& name, const QString& steps, int timeoutMs = 120000)
    {
        QFile script(path(name + ".script"));
        script.open(QIODevice::WriteOnly);
        script.write(steps.toUtf8());
        script.close();
        QProcess host;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", path("config"));
        env.insert("XDG_DATA_HOME", path("data"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        host.setProcessEnvironment(env);
        host.setProcessChannelMode(QProcess::MergedChannels);
        host.start(bin + "/zncip-host", {"--config", path("zncip-host.ini"), "--script", script.fileName()});
        EXPECT_TRUE(host.waitForFinished(timeoutMs)) << name.toStdString();
        m_output += host.readAll();
        return host.exitStatus() == QProcess::NormalExit ? host.exitCode() : -1;
    }

    QList<Hit> hits()
    {
        QProcess exporter;
        exporter.start(bin + "/zncip-collector", {"export", "--db", path("hits.db")});
        EXPECT_TRUE(exporter.waitForFinished(10000));
        QList<Hit> result;
        for (const QByteArray& line : exporter.readAllStandardOutput().split('\n'))
        {
            if (line.trimmed().isEmpty())
                continue;
            const QJsonObject object = QJsonDocument::fromJson(line).object();
            EXPECT_TRUE(object.value("accepted").toBool()) << line.toStdString();
            Hit hit;
            for (const QJsonValue& pair : object.value("params").toArray())
                hit.params << qMakePair(pair.toArray().at(0).toString(), pair.toArray().at(1).toString());
            result << hit;
        }
        return result;
    }

    static QStringList events(const QList<Hit>& hits)
    {
        QStringList list;
        for (const Hit& h : hits)
            list << h.event();
        return list;
    }

    QTemporaryDir m_dir;
    QProcess m_collector;
    QString m_port;
    QByteArray m_output;
};
} // namespace

TEST_F(EndToEnd, ADeclinedQuestionSendsNothingAtAll)
{
    ASSERT_EQ(runHost("declined", "answer decline\ntype LINE\ntype NOSUCH\nwait-until 37000\nquit\n"), 0)
        << m_output.toStdString();
    EXPECT_TRUE(m_output.contains("join question answered: decline")) << m_output.toStdString();
    EXPECT_TRUE(hits().isEmpty());
}

TEST_F(EndToEnd, ThreeRunsOfOneUserArriveExactlyAndInOrder)
{
    // Run 1: joins after the first drawing exists; only what is recorded after the answer is sent.
    ASSERT_EQ(runHost("run1", "answer join\ntype LINE\ntype hello\ntype SQUIGGLE\nwait-until 37000\n"
                              "type ERASE\nquit\n"),
              0)
        << m_output.toStdString();
    QList<Hit> run1 = hits();
    EXPECT_EQ(events(run1), (QStringList{"Commands|Execute|LINE (ZNDRAW)|1", "Commands|Execute|HELLO ()|1",
                                         "Unknown Commands|Execute|SQUIGGLE|1"}));

    // Every hit carries the same identity, in the protocol's order.
    const QString locale = QLocale::system().name().toLower().replace('_', '-');
    for (const Hit& h : run1)
    {
        EXPECT_EQ(h.keys().mid(0, 10),
                  (QStringList{"v", "tid", "cid", "t", "ul", "qt", "an", "av", "ec", "ea"}));
        EXPECT_EQ(h.value("v"), "1");
        EXPECT_EQ(h.value("tid"), "UA-582047-16");
        EXPECT_EQ(h.value("t"), "event");
        EXPECT_EQ(h.value("ul"), locale);
        EXPECT_EQ(h.value("qt"), "1");
        EXPECT_EQ(h.value("an"), "ZnCAD SP1 x64");
        EXPECT_EQ(h.value("av"), "21.2.1");
        EXPECT_EQ(h.value("cid"), run1.first().value("cid"));
        EXPECT_EQ(h.value("cid").size(), 36);
    }

    // Run 2: machine facts and a session start, then what run 1 stored at its end, run 1 reported as
    // good; then it crashes after the tick, losing what it recorded since.
    EXPECT_NE(runHost("run2", "type PLINE\nwait-until 37000\ntype MOVE\ncrash\n"), 0);
    QList<Hit> run2 = hits().mid(run1.size());
    const QStringList got = events(run2);
    ASSERT_EQ(got.size(), 13) << got.join('\n').toStdString();
    EXPECT_EQ(got.mid(0, 3),
              (QStringList{"System|DPI|125|1",
                           QStringLiteral("System|Thread Count|%1|1").arg(QThread::idealThreadCount()),
                           "System|Screen Count|1|1"}));
    EXPECT_TRUE(got[3].startsWith("System|OS|")) << got[3].toStdString();
    EXPECT_TRUE(got[4].startsWith("System|Memory|")) << got[4].toStdString();
    EXPECT_TRUE(got[5].startsWith("Screen|Resolution|")) << got[5].toStdString();
    // What run 1 stored at its end comes back before the session start; then run 1's report.
    EXPECT_EQ(got.mid(6),
              (QStringList{"OpenGL|Renderer COMPATIBILITY|Test Renderer|1",
                           "OpenGL|Version COMPATIBILITY|ACME:4.5|1", "Commands|Execute|ERASE (ZNMODIFY)|1",
                           "Session|Start||", "Session|Good|Good|1", "Session|Global|Global|1",
                           "Commands|Execute|PLINE (ZNDRAW)|1"}));
    EXPECT_EQ(run2.at(9).value("sc"), "start");
    EXPECT_EQ(run2.at(9).keys().last(), "sc");

    // Run 3: the crashed run is reported once, as bad with its crash report.
    ASSERT_EQ(runHost("run3", "wait-until 37000\nquit\n"), 0) << m_output.toStdString();
    QStringList run3 = events(hits().mid(run1.size() + run2.size()));
    const int report = run3.indexOf("Session|Bad|With_Crash_Report|1");
    ASSERT_GE(report, 0) << run3.join('\n').toStdString();
    EXPECT_EQ(run3.mid(report), (QStringList{"Session|Bad|With_Crash_Report|1", "Session|Bad|Bad|1",
                                             "Session|Global|Global|1"}));
    EXPECT_EQ(run3.filter("Session|Good").size(), 0);
}
