// The endpoint goes away and comes back while the module has hits to send: refused twice (two ticks
// lost), then an answer that takes 10 seconds, then a 500. The module keeps its queue through all of
// it: every hit arrives once, in order, and the host's window never stops answering.
#include "e2efixture.h"
#include "faultproxy.h"

using Outage = EndToEndFixture;

TEST_F(Outage, HitsWaitThroughRefusalsSlowAnswersAndErrorsThenArriveOnceInOrder)
{
    using F = FaultProxy::Fault;
    FaultProxy proxy(m_port.toUShort(), {F::Reset, F::Reset, F::Slow, F::Error500});
    m_port = QString::number(proxy.port()); // the module's endpoint is the proxy from here on

    ASSERT_EQ(runHost("run1", "answer join\ntype LINE\ntype CIRCLE\ntype ARC\n"
                              "tick\ntick\ntick\ntick\ntick\nquit\n"),
              0)
        << m_output.toStdString();

    // What the module tried, in order, and what the proxy made of each try.
    QStringList tried, passed;
    for (const QString& line : proxy.log())
    {
        const QString body = line.section(' ', 1);
        if (!tried.contains(body))
            tried << body;
        if (line.startsWith("pass ") || line.startsWith("slow "))
            passed << body;
    }
    const QStringList faults = proxy.log().replaceInStrings(QRegularExpression(" .*"), QString());
    ASSERT_GE(faults.size(), 6) << faults.join(' ').toStdString();
    EXPECT_EQ(faults.mid(0, 5), (QStringList{"reset", "reset", "slow", "500", "pass"}));
    EXPECT_EQ(passed, tried) << "each hit got through exactly once, in the order first tried";

    const QStringList arrived = events(hits());
    EXPECT_EQ(arrived.size(), tried.size());
    const QStringList commands = arrived.filter(QRegularExpression("^Commands\\|"));
    EXPECT_EQ(commands, (QStringList{"Commands|Execute|LINE (ZNDRAW)|1", "Commands|Execute|CIRCLE (ZNDRAW)|1",
                                     "Commands|Execute|ARC (ZNDRAW)|1"}));
    QStringList distinct = arrived;
    EXPECT_EQ(distinct.removeDuplicates(), 0) << arrived.join("; ").toStdString();

    // The 10-second answer was waited for off the GUI thread.
    const QRegularExpression pause("longest pause of the GUI thread while the script ran: (\\d+) ms");
    const auto match = pause.match(QString::fromUtf8(m_output));
    ASSERT_TRUE(match.hasMatch()) << m_output.toStdString();
    EXPECT_LT(match.captured(1).toInt(), 1000) << "the slow answer blocked the window";
}
