// The endpoint fails while the module has hits to send, then recovers by itself. Refused twice (two ticks
// lost), then an answer that takes 10 seconds, then a 500; or a database that is full until room is made.
// The module keeps its queue through all of it: every hit arrives once, in order, and the host's window
// never stops answering.
#include "e2efixture.h"
#include "faultproxy.h"

#include <QRegularExpression>

using Fault = FaultProxy::Fault;

struct OutagePlan
{
    const char* name;
    std::vector<Fault> faults; // what the proxy does to each request
    bool full;                 // the database starts full, and room is made before the third request
    QStringList answers;       // the first requests: "FAULT STATUS"
};

class Outage : public EndToEndFixture, public ::testing::WithParamInterface<OutagePlan>
{
protected:
    Outage()
    {
        if (GetParam().full)
            m_collectorOptions = {"--max-db-mib", "1", "--sync", "normal"};
    }

    // Posts hits of another client on one connection until the collector answers 503, with smaller hits
    // each time, until not even a small one fits: the database is full. The hits sent, or -1. They lack
    // "v", so they are stored as rejected: each adds only its row at the end of the hits, which then holds
    // no room for any hit, while accepted ones would fill the rollup keys' index only where they sort.
    int fill()
    {
        zncip::collector::test::HttpConnection c(m_port.toUShort());
        int sent = 0;
        for (const size_t padding : {400, 100, 0})
            for (int status = 0; status != 503; ++sent)
            {
                const std::string body =
                    "tid=UA-1-1&cid=filler&t=event&ec=Filler&ea=Fill&el=" + std::to_string(sent) +
                    std::string(padding, 'x');
                c.sendRaw(
                    "POST /collect HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                    body); // with no more headers than needed, so that nothing the module sends fits after
                status = c.read().status;
                if ((status != 200 && status != 503) || sent > 100000)
                    return -1;
            }
        return sent;
    }
};

TEST_P(Outage, HitsWaitAndArriveOnceInOrderWhileTheWindowAnswers)
{
    if (GetParam().full)
    {
        ASSERT_GT(fill(), 100) << "the database filled up";
    }
    FaultProxy proxy(m_port.toUShort(), GetParam().faults);
    if (GetParam().full) // after two refused ticks the operator makes room; the collector takes hits again
        proxy.beforeRequest(2,
                            [this]
                            {
                                zncip::collector::test::Program(
                                    {"forget", "--cid", "filler", "--db", path("hits.db").toStdString()})
                                    .wait();
                            });
    m_port = QString::number(proxy.port()); // the module's endpoint is the proxy from here on

    ASSERT_EQ(runHost("run1",
                      "answer join\ntype LINE\ntype CIRCLE\ntype ARC\ntick\ntick\ntick\ntick\ntick\nquit\n"),
              0)
        << m_output.toStdString();
    const QStringList log = proxy.log();
    const QStringList answers =
        QStringList(log).replaceInStrings(QRegularExpression("^(\\S+ \\S+) .*"), "\\1");
    ASSERT_GE(answers.size(), GetParam().answers.size()) << answers.join(", ").toStdString();
    EXPECT_EQ(answers.mid(0, GetParam().answers.size()), GetParam().answers);

    // Each hit the module tried, in the order of its first try, was answered 2xx once and is stored once,
    // in that order; and the three commands typed are among them.
    QStringList tried, answered, storedBodies;
    for (const QString& line : log)
    {
        const QString body = line.section(' ', 2);
        if (!tried.contains(body))
            tried << body;
        if (line.section(' ', 1, 1).startsWith('2'))
            answered << body;
    }
    EXPECT_EQ(answered, tried) << "each hit answered 2xx once, in the order first tried";
    const QList<Hit> stored = hits();
    for (const Hit& h : stored)
        storedBodies << h.body;
    EXPECT_EQ(storedBodies, tried);
    EXPECT_EQ(events(stored).filter(QRegularExpression("^Commands\\|")),
              (QStringList{"Commands|Execute|LINE (ZNDRAW)|1", "Commands|Execute|CIRCLE (ZNDRAW)|1",
                           "Commands|Execute|ARC (ZNDRAW)|1"}));

    // A slow answer is waited for off the GUI thread.
    const QRegularExpression pause("longest pause of the GUI thread while the script ran: (\\d+) ms");
    const auto match = pause.match(QString::fromUtf8(m_output));
    ASSERT_TRUE(match.hasMatch()) << m_output.toStdString();
    RecordProperty("longest_gui_pause_ms", match.captured(1).toInt());
    EXPECT_LT(match.captured(1).toInt(), 1000) << "an answer blocked the window";
}

INSTANTIATE_TEST_SUITE_P(
    Plans, Outage,
    ::testing::Values(OutagePlan{"RefusalsSlowAnswerAndError",
                                 {Fault::Reset, Fault::Reset, Fault::Slow, Fault::Error500},
                                 false,
                                 {"reset 0", "reset 0", "slow 200", "500 500", "pass 200"}},
                      OutagePlan{"DatabaseFullUntilRoomIsMade",
                                 {},
                                 true,
                                 {"pass 503", "pass 503", "pass 200", "pass 200"}}),
    [](const ::testing::TestParamInfo<OutagePlan>& info) { return std::string(info.param.name); });
