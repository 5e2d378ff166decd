#include "czncipservice_ga.h"

#include "czncipeventtexts.h"
#include "czncip.h"
#include "cznregistry.h"
#include "cznresources.h"
#include "cznsystemservices.h"

#include <QCoreApplication>
#include <QLocale>
#include <QNetworkReply>
#include <QSettings>
#include <QUrl>
#include <QUuid>

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

namespace
{
constexpr int sendIntervalMs = 30000;

// The Qt version the product was released with, not the one it happens to run on.
const QString& releasedQtVersion()
{
    static const QString text = QStringLiteral("5.12.3");
    return text;
}
const QString& userAgentPattern()
{
    static const QString text = QStringLiteral("%1/%2 (%3; %4) Ostrevan/1.0 (Qt/%5)");
    return text;
}
const QString& installationKeyPattern()
{
    static const QString text = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\%1\\%2");
    return text;
}

const QString& defaultTrackingId()
{
    static const QString text = QStringLiteral("UA-582047-16");
    return text;
}
// Settings keys are built on the heap, not as QStringLiteral: QSettings keeps keys in a process-wide
// cache that outlives this library, and a literal's data would vanish with it when the host unloads us.
const QString& clientIdKey()
{
    static const QString text = QString::fromLatin1("CIP_ClientId");
    return text;
}
const QString& countKey()
{
    static const QString text = QString::fromLatin1("CIP/count");
    return text;
}
const QString& storedGroup()
{
    static const QString text = QString::fromLatin1("CIP");
    return text;
}
const QString& countName()
{
    static const QString text = QStringLiteral("count");
    return text;
}
const QString& storedPrefix()
{
    static const QString text = QStringLiteral("query");
    return text;
}
QString storedKey(int n)
{
    return QString::fromLatin1("CIP/query%1").arg(n);
}

// Hit parameter names and fixed values.
struct Texts
{
    const QString v = QStringLiteral("v");
    const QString one = QStringLiteral("1");
    const QString tid = QStringLiteral("tid");
    const QString cid = QStringLiteral("cid");
    const QString t = QStringLiteral("t");
    const QString ul = QStringLiteral("ul");
    const QString qt = QStringLiteral("qt");
    const QString an = QStringLiteral("an");
    const QString av = QStringLiteral("av");
    const QString ec = QStringLiteral("ec");
    const QString ea = QStringLiteral("ea");
    const QString el = QStringLiteral("el");
    const QString ev = QStringLiteral("ev");
    const QString cd = QStringLiteral("cd");
    const QString sc = QStringLiteral("sc");
    const QString event = QString::fromLatin1(ZnCIPEventTexts::eventHit);
    const QString screenview = QStringLiteral("screenview");
    const QString session = QString::fromLatin1(ZnCIPEventTexts::session);
    const QString start = QString::fromLatin1(ZnCIPEventTexts::start);
    const QString end = QString::fromLatin1(ZnCIPEventTexts::end);
    const QString startValue = QStringLiteral("start");
    const QString endValue = QStringLiteral("end");
};
const Texts& texts()
{
    static const Texts t;
    return t;
}

// Request texts are heap copies too, like the settings keys: the host's network facility keeps copies of the
// request in replies and connections that may be released only after the host has unloaded us.
const QByteArray& connectionHeader()
{
    static const QByteArray text("Connection");
    return text;
}
const QByteArray& keepAlive()
{
    static const QByteArray text("keep-alive");
    return text;
}
const QByteArray& closeConnection()
{
    static const QByteArray text("close");
    return text;
}

bool isSuccess(int status)
{
    return status >= 200 && status <= 299;
}
} // namespace

CZnCIPService_GA::CZnCIPService_GA()
{
    m_trackingId = GetZnResources()->GetTrackingId();
    if (m_trackingId.isEmpty())
        m_trackingId = defaultTrackingId();

    // A released build names its service pack; a build without one is a pre-release.
    QString edition;
    int major = 0, servicePack = 0, minor = 0, build = 0;
    if (GetZnSystemServices()->GetVersionNumbers(major, servicePack, minor, build))
    {
        if (servicePack != 0 || build >= 1000)
            edition = QStringLiteral(" SP%1").arg(servicePack);
        else
            edition = QStringLiteral(" PR");
    }
    m_applicationName = QCoreApplication::applicationName() + edition + QStringLiteral(" x64");
    m_applicationVersion = GetZnSystemServices()->GetVersionString();
    m_userLanguage = QLocale::system().name().toLower().replace(QLatin1Char('_'), QLatin1Char('-'));

    // A copy run from somewhere other than where the installer put it (a developer's build, an
    // unpacked archive) never reports.
    CZnResources* resources = GetZnResources();
    const CZnRegistry installation(installationKeyPattern().arg(resources->GetCompanyName().toQString(),
                                                                resources->GetProductName().toQString()) +
                                   QStringLiteral(" x64"));
    const QVariant location = installation.Value(QStringLiteral("Location"));
    if (location.isValid())
        m_outsideInstallation = IsOutside(location.toString(), QCoreApplication::applicationDirPath());

    m_request.setUrl(QUrl(QStringLiteral("http://%1/collect").arg(resources->GetCIPEndpoint().toQString()),
                          QUrl::TolerantMode));
    m_request.setHeader(QNetworkRequest::ContentTypeHeader,
                        QString::fromLatin1("application/x-www-form-urlencoded"));
    m_request.setHeader(QNetworkRequest::UserAgentHeader, userAgentPattern()
                                                              .arg(m_applicationName.toQString())
                                                              .arg(m_applicationVersion.toQString())
                                                              .arg(QStringLiteral("WIN"))
                                                              .arg(QLocale::system().name())
                                                              .arg(releasedQtVersion()));

    connect(this, SIGNAL(postNextMessage()), this, SLOT(postMessage()));
    m_sendTimer.start(sendIntervalMs);
    connect(&m_sendTimer, SIGNAL(timeout()), this, SLOT(postMessage()));
}

CZnCIPService_GA::~CZnCIPService_GA()
{
    disconnect(this, SIGNAL(postNextMessage()), this, SLOT(postMessage()));
    disconnect(&m_sendTimer, SIGNAL(timeout()), this, SLOT(postMessage()));
    m_sendTimer.stop();
    if (QNetworkReply* reply = m_pendingReply.data())
    {
        m_pendingReply = nullptr;
        // Aborting finishes the reply at once, and the host reports that as a failed send: harmless
        // here, it only touches the timer and the busy flag, both about to go.
        reply->abort();
        while (reply->isRunning())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        reply->deleteLater();
    }
    // The queue dies with the service: only EndSession keeps hits for a later run.
}

void CZnCIPService_GA::SetEvent(const CZnString& category, const CZnString& action, const CZnString& label,
                                int value)
{
    m_record.SetEvent(category, action, label, value);
}

void CZnCIPService_GA::SetScreenValue(const CZnString& screen, const CZnString&, int index,
                                      const CZnString& value)
{
    m_record.SetScreenValue(screen, index, value.toQString());
}

void CZnCIPService_GA::SetScreenValue(const CZnString& screen, const CZnString&, int index, int value)
{
    m_record.SetScreenValue(screen, index, value);
}

void CZnCIPService_GA::SetScreenValue(const CZnString& screen, const CZnString&, int index, double value)
{
    m_record.SetScreenValue(screen, index, value);
}

void CZnCIPService_GA::Send()
{
    CZnCIPServiceHelper::Send(
        m_record, [this](const CZnCIPServiceRecord& record) { queueEvent(record); },
        [this](const CZnCIPServiceRecord& record) { queueScreenView(record); });
}

void CZnCIPService_GA::StartSession()
{
    restore();
    queueSessionEvent(texts().start, texts().startValue);
}

void CZnCIPService_GA::EndSession()
{
    persist();
    queueSessionEvent(texts().end, texts().endValue);
}

CZnString CZnCIPService_GA::GetClientId()
{
    // Read anew each time: another process of the same user may have created the identifier.
    QSettings settings;
    const QVariant stored = settings.value(clientIdKey());
    QString id;
    if (stored.isValid())
    {
        id = stored.toString();
    }
    else
    {
        id = QUuid::createUuid().toString();
        id = id.mid(1, id.size() - 2);
        settings.setValue(clientIdKey(), id);
    }
    m_clientId = id;
    return m_clientId;
}

const QString& CZnCIPService_GA::ParameterName(int index)
{
    static const QString names[] = {
        QStringLiteral("cd5"), QStringLiteral("cd1"),  QStringLiteral("cd2"),  QStringLiteral("cd3"),
        QStringLiteral("cd4"), QStringLiteral("cd6"),  QStringLiteral("cd7"),  QStringLiteral("cd8"),
        QStringLiteral("cd9"), QStringLiteral("cd10"), QStringLiteral("cm2"),  QStringLiteral("cd11"),
        QStringLiteral("cm4"), QStringLiteral("cm3"),  QStringLiteral("cd12"), QStringLiteral("cm1"),
        QStringLiteral("cm5"), QStringLiteral("cm6"),  QStringLiteral("cm7"),  QStringLiteral("cm8"),
        QStringLiteral("cm9"), QStringLiteral("cm10"), QStringLiteral("cm11"), QStringLiteral("cm12"),
    };
    static const QString none;
    constexpr int count = static_cast<int>(sizeof(names) / sizeof(names[0]));
    return index >= 0 && index < count ? names[index] : none;
}

bool CZnCIPService_GA::IsOutside(const QString& location, const QString& applicationDir)
{
    QString installed = location;
    installed.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QString running = applicationDir;
    running.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return !running.startsWith(installed, Qt::CaseInsensitive);
}

QUrlQuery CZnCIPService_GA::head(const QString& hitType)
{
    const Texts& k = texts();
    QUrlQuery hit;
    hit.addQueryItem(k.v, k.one);
    hit.addQueryItem(k.tid, m_trackingId.toQString());
    hit.addQueryItem(k.cid, GetClientId().toQString());
    hit.addQueryItem(k.t, hitType);
    hit.addQueryItem(k.ul, m_userLanguage.toQString());
    hit.addQueryItem(k.qt, k.one);
    return hit;
}

void CZnCIPService_GA::queueEvent(const CZnCIPServiceRecord& record)
{
    const Texts& k = texts();
    QUrlQuery hit = head(k.event);
    hit.addQueryItem(k.an, m_applicationName.toQString());
    hit.addQueryItem(k.av, m_applicationVersion.toQString());
    hit.addQueryItem(k.ec, record.category.toQString());
    hit.addQueryItem(k.ea, record.action.toQString());
    if (!record.label.isEmpty())
        hit.addQueryItem(k.el, record.label.toQString());
    hit.addQueryItem(k.ev, QString::number(record.value));
    enqueue(hit);
}

void CZnCIPService_GA::queueScreenView(const CZnCIPServiceRecord& record)
{
    const Texts& k = texts();
    QUrlQuery hit = head(k.screenview);
    hit.addQueryItem(k.cd, record.category.toQString());
    hit.addQueryItem(k.an, m_applicationName.toQString());
    hit.addQueryItem(k.av, m_applicationVersion.toQString());
    for (auto it = record.values.cbegin(); it != record.values.cend(); ++it)
        hit.addQueryItem(ParameterName(it.key()), it.value().toString());
    enqueue(hit);
}

void CZnCIPService_GA::queueSessionEvent(const QString& action, const QString& sc)
{
    const Texts& k = texts();
    QUrlQuery hit = head(k.event);
    hit.addQueryItem(k.an, m_applicationName.toQString());
    hit.addQueryItem(k.av, m_applicationVersion.toQString());
    hit.addQueryItem(k.ec, k.session);
    hit.addQueryItem(k.ea, action);
    hit.addQueryItem(k.sc, sc);
    enqueue(hit);
}

void CZnCIPService_GA::enqueue(const QUrlQuery& hit)
{
    QString body = hit.query(QUrl::FullyEncoded);
    // Hits can wait in the queue for a long time, so they keep no spare capacity.
    body.squeeze();
    m_queue.append(body);
}

void CZnCIPService_GA::postMessage()
{
    CZnCIP* cip = GetZnCIP();
    if (!cip || !cip->IsEnabled())
    {
        m_queue.clear();
        return;
    }
    if (m_queue.isEmpty())
    {
        m_sendTimer.start();
        m_busy = false;
        return;
    }
    if (m_outsideInstallation)
    {
        m_queue.clear();
        return;
    }

    m_sendTimer.stop();
    m_busy = true;
    // Asking the server to keep the connection open only pays while more hits wait.
    m_request.setRawHeader(connectionHeader(), m_queue.size() > 1 ? keepAlive() : closeConnection());
    CZnNetworkRequest record;
    record.receiver = this;
    record.body = m_queue.first().toUtf8();
    m_request.setHeader(QNetworkRequest::ContentLengthHeader, record.body.size());
    record.request = m_request;
    record.maxRedirects = 0;
    record.synchronous = false;
    record.releaseReply = true;
    m_headInFlight = true;
    m_pendingReply = GetZnSystemServices()->GetNetworkManager()->PostRequest(record);
}

void CZnCIPService_GA::ReplyFinished(QNetworkReply* reply)
{
    if (!reply)
        return;
    // No status at all (refused, timed out, aborted) reads as 0: a failure like any other.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (isSuccess(status))
    {
        if (m_headInFlight && !m_queue.isEmpty())
            m_queue.removeFirst();
        m_headInFlight = false;
        m_pendingReply = nullptr;
        emit postNextMessage();
        reply->deleteLater();
        return;
    }
    // The head stays and goes again at the next tick; later hits wait behind it.
    m_headInFlight = false;
    m_pendingReply = nullptr;
    m_sendTimer.start();
    m_busy = false;
}

void CZnCIPService_GA::ReplyUploadProgress(qint64, qint64) {}

void CZnCIPService_GA::persist()
{
    QStringList hits;
    hits.swap(m_queue);
    // The hit in flight is neither kept nor stored: if its send fails now, it is lost.
    if (m_busy && !hits.isEmpty())
        hits.removeFirst();
    m_headInFlight = false;

    // One settings object for the whole batch: each one re-reads and rewrites the file.
    QSettings settings;
    bool numeric = false;
    const int stored = settings.value(countKey()).toInt(&numeric);
    // New hits follow those stored earlier. A negative count would put them under keys that are never
    // read back, so it counts as none. So does a count too close to the largest int for these hits to
    // follow it: no session stores that many, only a damaged file holds one, and numbering past it
    // would overflow.
    const bool usable = numeric && stored >= 0 && stored <= std::numeric_limits<int>::max() - hits.size();
    const int last = usable ? stored : 0;
    for (int i = 0; i < hits.size(); ++i)
        settings.setValue(storedKey(last + 1 + i), hits.at(i));
    settings.setValue(countKey(), last + hits.size());
}

void CZnCIPService_GA::restore()
{
    QSettings settings;
    bool numeric = false;
    const int count = settings.value(countKey()).toInt(&numeric);
    if (!numeric)
        return;

    // Walk the keys that exist rather than 1..count: a damaged count (huge, or larger than what was
    // stored) then costs nothing, and an index without a stored hit contributes nothing.
    settings.beginGroup(storedGroup());
    const QStringList keys = settings.childKeys();
    std::vector<std::pair<int, QString>> found;
    for (const QString& key : keys)
    {
        if (!key.startsWith(storedPrefix()))
            continue;
        bool ok = false;
        const QStringRef digits = key.midRef(storedPrefix().size());
        const int n = digits.toInt(&ok);
        if (ok && n >= 1 && n <= count && digits == QString::number(n))
            found.emplace_back(n, key);
    }
    std::sort(found.begin(), found.end());
    for (const auto& entry : found)
        m_queue.append(settings.value(entry.second).toString());
    // Taking the whole group at once is much cheaper than thousands of single removals, when nothing
    // else lives there.
    const int others = keys.size() - static_cast<int>(found.size()) - (keys.contains(countName()) ? 1 : 0);
    if (others == 0 && settings.childGroups().isEmpty())
    {
        settings.remove(QString());
    }
    else
    {
        for (const auto& entry : found)
            settings.remove(entry.second);
    }
    settings.endGroup();
    settings.setValue(countKey(), 0);
}
