// Figures of the Google service, each beside a floor measured in the same run:
//  1. record path: SetEvent + Send until the hit is in the queue, against one QUrlQuery encoding of
//     the same items plus one fresh QSettings read (what every hit must cost at least);
//  2. memory per queued hit against the hit's UTF-16 size, over 10,000 hits;
//  3. storing 10,000 hits at a session end and putting them back at the next start, against plain
//     QSettings writing and reading the same keys;
//  4. draining 1,000 queued hits through the host's network facility to a loopback server: the
//     project's collector, and python3's stock http.server (HTTP/1.1), against the facility posting the
//     same bodies back to back without the service.
//
// usage: zncip-services-bench [--collector PATH] [--hits N] [--skip-python]

#include "czncipimpl.h"
#include "czncipservice_ga.h"
#include "cznresources.h"
#include "cznsystemservices.h"
#include "userfolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QNetworkReply>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace
{
double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QString label(int i)
{
    return QStringLiteral("LINE (GROUP%1)").arg(i % 97);
}

void setParticipation()
{
    OdResBufPtr rb = OdResBuf::newRb(OdResBuf::kRtInt32);
    rb->setInt32(1);
    GetZnSystemServices()->GetProfile()->GetSettings()->SetValue(CZnString("cip"), CZnString("CIPCONTROL"),
                                                                 rb);
}

// 1. Microseconds per hit, median of interleaved batches.
void recordPath()
{
    constexpr int batch = 500;
    constexpr int rounds = 15;
    std::vector<double> path, floor;
    const QString tid = QStringLiteral("UA-582047-16");
    const QString an = QStringLiteral("ZnCAD SP1 x64");
    const QString av = QStringLiteral("21.2.1");
    QStringList sink;
    for (int round = 0; round < rounds; ++round)
    {
        {
            CZnCIPService_GA service;
            QElapsedTimer clock;
            clock.start();
            for (int i = 0; i < batch; ++i)
            {
                service.SetEvent(CZnString("Commands"), CZnString("Execute"), label(i), 1);
                service.Send();
            }
            path.push_back(clock.nsecsElapsed() / 1000.0 / batch);
            if (service.Queue().size() != batch)
                std::fprintf(stderr, "record path: %d hits queued instead of %d\n", service.Queue().size(),
                             batch);
        }
        {
            QElapsedTimer clock;
            clock.start();
            for (int i = 0; i < batch; ++i)
            {
                QSettings settings;
                const QString cid = settings.value(QStringLiteral("CIP_ClientId")).toString();
                QUrlQuery q;
                q.addQueryItem(QStringLiteral("v"), QStringLiteral("1"));
                q.addQueryItem(QStringLiteral("tid"), tid);
                q.addQueryItem(QStringLiteral("cid"), cid);
                q.addQueryItem(QStringLiteral("t"), QStringLiteral("event"));
                q.addQueryItem(QStringLiteral("ul"), QStringLiteral("en-us"));
                q.addQueryItem(QStringLiteral("qt"), QStringLiteral("1"));
                q.addQueryItem(QStringLiteral("an"), an);
                q.addQueryItem(QStringLiteral("av"), av);
                q.addQueryItem(QStringLiteral("ec"), QStringLiteral("Commands"));
                q.addQueryItem(QStringLiteral("ea"), QStringLiteral("Execute"));
                q.addQueryItem(QStringLiteral("el"), label(i));
                q.addQueryItem(QStringLiteral("ev"), QString::number(1));
                sink.append(q.query(QUrl::FullyEncoded));
            }
            floor.push_back(clock.nsecsElapsed() / 1000.0 / batch);
            sink.clear();
        }
    }
    const double p = median(path), f = median(floor);
    std::printf("1. record path      %8.2f us/hit   floor (QUrlQuery + fresh QSettings read) %8.2f us   "
                "ratio %.2f (target <= 1.20)\n",
                p, f, p / f);
}

// 2. Bytes of heap per queued hit.
void queueMemory()
{
    constexpr int hits = 10000;
    CZnCIPService_GA service;
    service.SetEvent(CZnString("Commands"), CZnString("Execute"), label(0), 1);
    service.Send(); // first use of the settings and the encoder's own caches
    const size_t before = mallinfo2().uordblks;
    for (int i = 1; i <= hits; ++i)
    {
        service.SetEvent(CZnString("Commands"), CZnString("Execute"), label(i), 1);
        service.Send();
    }
    const size_t after = mallinfo2().uordblks;
    qint64 utf16 = 0;
    for (int i = 1; i <= hits; ++i)
        utf16 += service.Queue().at(i).size() * 2;
    const double perHit = double(after - before) / hits;
    const double size = double(utf16) / hits;
    std::printf("2. queued hit       %8.1f bytes     floor (the hit's UTF-16 size)             %8.1f bytes  "
                "ratio %.2f (target <= 2.00)\n",
                perHit, size, perHit / size);
}

// 3. Milliseconds for storing and restoring 10,000 hits.
void persistRestore()
{
    constexpr int hits = 10000;
    std::vector<double> module, stores, restores, floor;
    for (int round = 0; round < 5; ++round)
    {
        QSettings().clear();
        QStringList bodies;
        double ms = 0;
        {
            CZnCIPService_GA ending;
            for (int i = 0; i < hits; ++i)
            {
                ending.SetEvent(CZnString("Commands"), CZnString("Execute"), label(i), 1);
                ending.Send();
            }
            bodies = ending.Queue();
            QElapsedTimer clock;
            clock.start();
            ending.EndSession();
            stores.push_back(clock.nsecsElapsed() / 1e6);
            ms += stores.back();
        }
        {
            CZnCIPService_GA starting;
            QElapsedTimer clock;
            clock.start();
            starting.StartSession();
            restores.push_back(clock.nsecsElapsed() / 1e6);
            ms += restores.back();
            if (starting.Queue().size() != hits + 1)
                std::fprintf(stderr, "persist/restore: %d hits back instead of %d\n",
                             starting.Queue().size() - 1, hits);
        }
        module.push_back(ms);

        QSettings().clear();
        QElapsedTimer clock;
        clock.start();
        {
            QSettings settings;
            for (int i = 0; i < hits; ++i)
                settings.setValue(QStringLiteral("CIP/query%1").arg(i + 1), bodies[i]);
            settings.setValue(QStringLiteral("CIP/count"), hits);
        }
        {
            QSettings settings;
            QStringList back;
            const int count = settings.value(QStringLiteral("CIP/count")).toInt();
            for (int i = 1; i <= count; ++i)
            {
                back.append(settings.value(QStringLiteral("CIP/query%1").arg(i)).toString());
                settings.remove(QStringLiteral("CIP/query%1").arg(i));
            }
            settings.setValue(QStringLiteral("CIP/count"), 0);
        }
        floor.push_back(clock.nsecsElapsed() / 1e6);
    }
    QSettings().clear();
    std::printf("3. persist+restore  %8.1f ms        floor (QSettings, same keys, one per step) %7.1f ms     "
                "(target <= 100 ms for 10,000 hits; store %.1f ms, restore %.1f ms)\n",
                median(module), median(floor), median(stores), median(restores));
}

// A loopback server run as a child process that prints "listening on ADDR:PORT" first.
class Server
{
public:
    bool start(const QString& program, const QStringList& arguments)
    {
        m_process.setProgram(program);
        m_process.setArguments(arguments);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return false;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000)
        {
            if (!m_process.canReadLine() && !m_process.waitForReadyRead(500))
                continue;
            const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
            const int at = line.indexOf(QStringLiteral("listening on "));
            if (at >= 0)
            {
                m_endpoint = line.mid(at + 13);
                return true;
            }
        }
        return false;
    }
    ~Server()
    {
        if (m_process.state() != QProcess::NotRunning)
        {
            m_process.terminate();
            if (!m_process.waitForFinished(3000))
                m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    QString endpoint() const { return m_endpoint; }

private:
    QProcess m_process;
    QString m_endpoint;
};

// Hits per second for the service draining its queue of n hits to endpoint.
double drain(const QString& endpoint, int n, QStringList* bodies)
{
    GetZnResources()->SetCIPEndpoint(endpoint);
    CZnCIPImpl cip;
    SetZnCIP(&cip);
    auto* service = dynamic_cast<CZnCIPService_GA*>(cip.GetService());
    for (int i = 0; i < n; ++i)
    {
        service->SetEvent(CZnString("Commands"), CZnString("Execute"), label(i), 1);
        service->Send();
    }
    if (bodies)
        *bodies = service->Queue();
    QElapsedTimer clock;
    clock.start();
    service->postMessage();
    while ((!service->Queue().isEmpty() || service->IsBusy()) && clock.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double seconds = clock.nsecsElapsed() / 1e9;
    const int sent = n - service->Queue().size();
    SetZnCIP(nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return sent / seconds;
}

// The same bodies posted back to back through the facility alone, with the same headers.
class RawPoster : public CZnNetworkReply
{
public:
    double run(const QString& endpoint, const QStringList& bodies)
    {
        m_bodies = bodies;
        m_request.setUrl(QUrl(QStringLiteral("http://%1/collect").arg(endpoint)));
        m_request.setHeader(QNetworkRequest::ContentTypeHeader,
                            QStringLiteral("application/x-www-form-urlencoded"));
        QElapsedTimer clock;
        clock.start();
        postNext();
        while (m_next <= m_bodies.size() && clock.elapsed() < 600000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return m_bodies.size() / (clock.nsecsElapsed() / 1e9);
    }
    void ReplyFinished(QNetworkReply* reply) override
    {
        reply->deleteLater();
        postNext();
    }
    void ReplyUploadProgress(qint64, qint64) override {}

private:
    void postNext()
    {
        if (m_next >= m_bodies.size())
        {
            m_next = m_bodies.size() + 1;
            return;
        }
        CZnNetworkRequest record;
        record.receiver = this;
        record.body = m_bodies.at(m_next++).toUtf8();
        m_request.setRawHeader("Connection", m_next < m_bodies.size() ? "keep-alive" : "close");
        m_request.setHeader(QNetworkRequest::ContentLengthHeader, record.body.size());
        record.request = m_request;
        record.releaseReply = false;
        GetZnSystemServices()->GetNetworkManager()->PostRequest(record);
    }

    QStringList m_bodies;
    QNetworkRequest m_request;
    int m_next = 0;
};

const char* pythonServer()
{
    return "import http.server\n"
           "class H(http.server.BaseHTTPRequestHandler):\n"
           "    protocol_version = 'HTTP/1.1'\n"
           "    def do_POST(self):\n"
           "        self.rfile.read(int(self.headers.get('Content-Length', 0)))\n"
           "        self.send_response(204)\n"
           "        self.end_headers()\n"
           "    def log_message(self, *args):\n"
           "        pass\n"
           "s = http.server.HTTPServer(('127.0.0.1', 0), H)\n"
           "print('listening on 127.0.0.1:%d' % s.server_port, flush=True)\n"
           "s.serve_forever()\n";
}

void drainRates(const QString& collector, const QString& dir, int hits, bool python)
{
    // The collector commits every hit before it answers; with a full disk sync per commit, a client
    // that waits for each answer is paced by the disk, so the run is repeated with the lighter sync.
    const QStringList modes[] = {{}, {"--sync", "normal"}};
    int run = 0;
    for (const QStringList& mode : modes)
    {
        Server server;
        QStringList arguments = {"serve",
                                 "--listen",
                                 "127.0.0.1",
                                 "--port",
                                 "0",
                                 "--db",
                                 QDir(dir).filePath(QStringLiteral("bench-collector-%1.db").arg(run++))};
        arguments << mode;
        const QString name =
            mode.isEmpty() ? QStringLiteral("collector") : QStringLiteral("collector ") + mode.join(' ');
        if (!server.start(collector, arguments))
        {
            std::printf("4. drain            skipped: %s did not start\n", qPrintable(collector));
            return;
        }
        QStringList bodies;
        const double module = drain(server.endpoint(), hits, &bodies);
        RawPoster raw;
        const double floor = raw.run(server.endpoint(), bodies);
        std::printf("4. drain to %-22s %8.0f hits/s   floor (facility posting the same bodies) %8.0f hits/s "
                    "(%d hits; target >= 2000 hits/s)\n",
                    qPrintable(name), module, floor, hits);
    }
    if (!python)
        return;
    Server server;
    if (!server.start(QStringLiteral("python3"), {"-c", pythonServer()}))
    {
        std::printf("4. drain, python    skipped: python3 did not start\n");
        return;
    }
    const double module = drain(server.endpoint(), hits, nullptr);
    std::printf("4. drain to python3 http.server   %8.1f hits/s   (stock http.server, HTTP/1.1: no quick "
                "ACK, so Nagle and "
                "delayed ACK pace each hit)\n",
                module);
}
} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    redirectUserFolders(home.path().toLocal8Bit());
    QCoreApplication::setOrganizationName(QStringLiteral("Zinc Design Systems"));
    QCoreApplication::setApplicationName(QStringLiteral("ZnCAD"));
    QCoreApplication app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.filePath("config"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.filePath("config"));

    QString collector = QDir(QCoreApplication::applicationDirPath()).filePath("zncip-collector");
    int hits = 1000;
    bool python = true;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i)
    {
        if (args[i] == "--collector" && i + 1 < args.size())
            collector = args[++i];
        else if (args[i] == "--hits" && i + 1 < args.size())
            hits = std::max(1, args[++i].toInt());
        else if (args[i] == "--skip-python")
            python = false;
    }

    GetZnSystemServices()->SetProfile(QStringLiteral("Bench"), home.filePath("profile"));
    setParticipation();
    // The identifier exists from the start, as it does after a user's first run.
    CZnCIPService_GA().GetClientId();

    recordPath();
    queueMemory();
    persistRestore();
    drainRates(collector, home.path(), hits, python);
    return 0;
}
