// The endpoint fails while the module has hits to send, then recovers by itself. Refused twice (two ticks
// lost), then an answer that takes 10 seconds, then a 500; or a database that is full until room is made.
// The module keeps its queue through all of it: every hit arrives once, in order, and the host's window
// never stops answering.
#include "e2efixture.h"
#include "faultproxy.h"

#include <unistd.h>

class Outage : public EndToEndFixture
{
protected:
    // What the proxy saw: each hit the module tried, in the order of its first try, was answered 2xx once and
    // is stored once, in that order; and the three commands typed are among them.
    void expectEachHitStoredOnceInOrder(FaultProxy& proxy)
    {
        const QList<Hit> stored = hits();
        QStringList tried, answered;
        for (const QString& line : proxy.log())
        {
            const QString body = line.section(' ', 2);
            if (!tried.contains(body))
                tried << body;
            if (line.section(' ', 1, 1).startsWith('2'))
                answered << body;
        }
        EXPECT_EQ(answered, tried) << "each hit answered 2xx once, in the order first tried";
        QStringList storedBodies;
        for (const Hit& h : stored)
            storedBodies << h.body;
        EXPECT_EQ(storedBodies, tried);
        const QStringList commands = events(stored).filter(QRegularExpression("^Commands\\|"));
        EXPECT_EQ(commands, (QStringList{"Commands|Execute|LINE (ZNDRAW)|1", "Commands|Execute|CIRCLE (ZNDRAW)|1",
                                         "Commands|Execute|ARC (ZNDRAW)|1"}));
    }
};

TEST_F(Outage, HitsWaitThroughRefusalsSlowAnswersAndErrorsThenArriveOnceInOrder)
{
    using F = FaultProxy::Fault;
    FaultProxy proxy(m_port.toUShort(), {F::Reset, F::Reset, F::Slow, F::Error500});
    m_port = QString::number(proxy.port()); // the module's endpoint is the proxy from here on

    ASSERT_EQ(runHost("run1", "answer join\ntype LINE\ntype CIRCLE\ntype ARC\n"
                              "tick\ntick\ntick\ntick\ntick\nquit\n"),
              0)
        << m_output.toStdString();

    const QStringList faults = proxy.log().replaceInStrings(QRegularExpression("^(\\S+ \\S+) .*"), "\\1");
    ASSERT_GE(faults.size(), 6) << faults.join(", ").toStdString();
    EXPECT_EQ(faults.mid(0, 5), (QStringList{"reset 0", "reset 0", "slow 200", "500 500", "pass 200"}));
    expectEachHitStoredOnceInOrder(proxy);

    // The 10-second answer was waited for off the GUI thread.
    const QRegularExpression pause("longest pause of the GUI thread while the script ran: (\\d+) ms");
    const auto match = pause.match(QString::fromUtf8(m_output));
    ASSERT_TRUE(match.hasMatch()) << m_output.toStdString();
    RecordProperty("longest_gui_pause_ms", match.captured(1).toInt());
    EXPECT_LT(match.captured(1).toInt(), 1000) << "the slow answer blocked the window";
}

class FullStore : public Outage
{
protected:
    FullStore() { m_collectorOptions = QStringList{"--max-db-mib", "1", "--sync", "normal"}; }

    // Posts hits of another client on one connection until the collector answers 503, with smaller hits
    // each time, until not even a small one fits: the database is full. The hits sent, or -1.
    int fill()
    {
        int fd = -1, sent = 0;
        std::string pending;
        for (const size_t padding : {400, 100, 0})
            for (int status = 0; status != 503; ++sent)
            {
                const std::string body = "v=1&tid=UA-1-1&cid=filler&t=event&ec=Filler&ea=Fill&el=" +
                                         std::to_string(sent) + std::string(padding, 'x');
                const std::string answer = FaultProxy::exchange(
                    m_port.toUShort(),
                    "POST /collect HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body,
                    pending, &fd);
                status = answer.size() > 12 ? std::atoi(answer.c_str() + 9) : 0;
                if ((status != 200 && status != 503) || sent > 100000)
                    return close(fd), -1;
            }
        close(fd);
        return sent;
    }
};

TEST_F(FullStore, HitsWaitWhileTheDatabaseIsFullAndArriveOnceRoomIsMade)
{
    ASSERT_GT(fill(), 100) << "the database filled up";
    FaultProxy proxy(m_port.toUShort(), {});
    // After two refused ticks the operator makes room, and the collector takes hits again by itself.
    proxy.beforeRequest(2,
                        [this]
                        {
                            QProcess forget;
                            forget.start(bin() + "/zncip-collector", {"forget", "--cid", "filler", "--db", path("hits.db")});
                            forget.waitForFinished(20000);
                        });
    m_port = QString::number(proxy.port());

    ASSERT_EQ(runHost("run1", "answer join\ntype LINE\ntype CIRCLE\ntype ARC\ntick\ntick\ntick\ntick\nquit\n"), 0)
        << m_output.toStdString();
    const QStringList answers = proxy.log().replaceInStrings(QRegularExpression("^(\\S+ \\S+) .*"), "\\1");
    ASSERT_GE(answers.size(), 4) << answers.join(", ").toStdString();
    EXPECT_EQ(answers.mid(0, 4), (QStringList{"pass 503", "pass 503", "pass 200", "pass 200"}));
    expectEachHitStoredOnceInOrder(proxy);
}
