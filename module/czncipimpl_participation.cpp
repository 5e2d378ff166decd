// Participation: the user's decision, kept in the host settings section "cip", cached here.
#include "czncipimpl.h"

#include "cznciprecorder.h"
#include "czndlgcip.h"
#include "cznsystemservices.h"
#include "cznvorinqtgate.h"

#include <QPointer>

namespace
{
constexpr std::uint32_t notRead = 0xFFFFFFFFu;
constexpr int kindInteger = 1;
constexpr int kindText = 4;

const CZnString& sectionCip()
{
    static const CZnString text(u"cip");
    return text;
}
const CZnString& keyControl()
{
    static const CZnString text(u"CIPCONTROL");
    return text;
}
const CZnString& keyConfirm()
{
    static const CZnString text(u"CIPCONFIRM");
    return text;
}
const CZnString& keyBuilds()
{
    static const CZnString text(u"CIPBUILDS");
    return text;
}
const CZnString& buildSeparator()
{
    static const CZnString text(u";");
    return text;
}

CZnSettings* currentSettings()
{
    CZnProfile* profile = GetZnSystemServices()->GetProfile();
    return profile ? profile->GetSettings() : nullptr;
}

// Reads an integer key once; later calls answer from the cache. Without a profile: 0, not cached.
// A value stored with another type (CIPCONTROL kept as text, say) reads as 0, the zero of a mistyped
// read: such a user counts as not participating, and the next answer rewrites the key as a number.
std::uint32_t cachedRead(std::uint32_t& cache, const CZnString& key, std::uint32_t absent)
{
    if (cache != notRead)
        return cache;
    CZnSettings* settings = currentSettings();
    if (!settings)
        return 0;
    if (!settings->HasValue(sectionCip(), key))
        return cache = absent;
    OdResBufPtr value = settings->GetValue(sectionCip(), key, kindInteger);
    cache = value ? static_cast<std::uint32_t>(value->getInt32()) : absent;
    return cache;
}

void writeInteger(CZnSettings* settings, const CZnString& key, std::uint32_t value)
{
    OdResBufPtr rb = OdResBuf::newRb(OdResBuf::kRtInt32);
    rb->setInt32(static_cast<std::int32_t>(value));
    settings->SetValue(sectionCip(), key, rb);
}
} // namespace

std::uint32_t CZnCIPImpl::GetCIPControl()
{
    return cachedRead(m_cipControl, keyControl(), 0);
}

std::uint32_t CZnCIPImpl::GetCIPConfirm()
{
    return cachedRead(m_cipConfirm, keyConfirm(), 1);
}

void CZnCIPImpl::SetCIPConfirm(std::uint32_t value)
{
    CZnSettings* settings = currentSettings();
    if (!settings)
        return;
    m_cipConfirm = value;
    writeInteger(settings, keyConfirm(), value);
}

// A list stored as a number reads as empty: every version is then new.
CZnString CZnCIPImpl::GetCIPBuilds()
{
    CZnSettings* settings = currentSettings();
    if (!settings || !settings->HasValue(sectionCip(), keyBuilds()))
        return CZnString();
    OdResBufPtr value = settings->GetValue(sectionCip(), keyBuilds(), kindText);
    return value ? CZnString(value->getString()) : CZnString();
}

void CZnCIPImpl::SetCIPBuilds(const CZnString& builds)
{
    CZnSettings* settings = currentSettings();
    if (!settings)
        return;
    OdResBufPtr rb = OdResBuf::newRb(OdResBuf::kRtString);
    rb->setString(builds.toOdString());
    settings->SetValue(sectionCip(), keyBuilds(), rb);
}

bool CZnCIPImpl::IsEnabled()
{
    return GetCIPControl() == 1;
}

void CZnCIPImpl::SetEnabled(bool on)
{
    CZnSettings* settings = currentSettings();
    if (!settings)
        return;
    m_cipControl = on ? 1 : 0;
    writeInteger(settings, keyControl(), m_cipControl);
    if (m_cipControl == 0)
        StopRecorders();
    else
        StartRecordersIfEnabled();
}

void CZnCIPImpl::StartRecordersIfEnabled()
{
    if (m_running || GetCIPControl() == 0)
        return;
    for (CZnCIPRecorder* recorder : m_recorders)
        recorder->Start();
    m_running = true;
}

void CZnCIPImpl::AskForJoiningCIP()
{
    // Scripted and automated runs: no question, and nothing read or written either.
    if (GetZnVORINQTGate()->IsDialogSuppressed())
        return;
    CZnSystemServices* system = GetZnSystemServices();
    const CZnString version = system->GetVersionString();
    CZnString builds = GetCIPBuilds();
    // A substring search: a version contained in an earlier entry counts as known.
    const bool newBuild = builds.find(version) == -1;
    // Non-participants are asked again for each new version; everyone while the question flag is set.
    const bool due = GetCIPControl() != 1 && newBuild;
    if (!due && GetCIPConfirm() == 0)
        return;
    // Not now: nothing is written, so the question stays due for a later run.
    if (!system->CanAskUser())
        return;

    // Recorded as put before the dialog opens, whatever the user then answers.
    SetCIPConfirm(0);
    builds += buildSeparator() + version;
    SetCIPBuilds(builds);

    // Held through a guard: host events keep arriving during exec(), and one of them may destroy the
    // main window and with it this child dialog.
    QPointer<CZnDlgCIP> dialog = new CZnDlgCIP(system->GetMainWindow());
    dialog->adjustSize();
    const int result = dialog->exec();
    const bool joined = dialog && result == QDialog::Accepted && dialog->ui.radioButton->isChecked();
    delete dialog.data();

    SetEnabled(joined);
}
