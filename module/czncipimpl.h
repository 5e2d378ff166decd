#pragma once

#include "czncip.h"
#include "czndocumentmanagerreactor.h"
#include "czneditorreactor.h"
#include "odrxobject.h"

#include <QMap>
#include <QObject>

#include <cstdint>
#include <vector>

// The one object through which the host and the recorders reach the telemetry: it keeps the recorder
// list and starts or stops it with participation, owns the active service, keeps per-key stopwatches,
// and schedules the join question once the main window and its first document exist.
class CZnCIPImpl : public QObject,
                   public CZnCIP,
                   public OdStaticRxObject<CZnEditorReactor>,
                   public OdStaticRxObject<CZnDocumentManagerReactor>
{
    Q_OBJECT

public:
    CZnCIPImpl();
    ~CZnCIPImpl() override;
    CZnCIPImpl(const CZnCIPImpl&) = delete;
    CZnCIPImpl& operator=(const CZnCIPImpl&) = delete;

    // CZnCIP
    bool IsEnabled() override;
    void SetEnabled(bool on) override;
    CZnString& GetClientId() override;
    TimerEntry& GetTimer(quint64 key) override;
    void AddRecorder(CZnCIPRecorder* recorder) override;
    void RemoveRecorder(CZnCIPRecorder* recorder) override;
    void SetService(CZnCIPService* service) override;
    CZnCIPService* GetService() override;
    void StartSession() override;
    void StopSession(int reason, const char* crashFolder) override;
    void EndSession() override;

    // Participation settings (section "cip" of the host settings).
    std::uint32_t GetCIPControl();
    std::uint32_t GetCIPConfirm();
    void SetCIPConfirm(std::uint32_t value);
    CZnString GetCIPBuilds();
    void SetCIPBuilds(const CZnString& builds);
    // Starts every recorder when not yet running and the participation state is not 0.
    void StartRecordersIfEnabled();
    // Stops every recorder in list order and clears the running flag.
    void StopRecorders();

    // CZnEditorReactor
    void mainFrameCreated(QWidget* mainFrame) override;
    // CZnDocumentManagerReactor
    void DocumentCreated(CZnDocument* document) override;

    bool IsRunning() const { return m_running; }
    const std::vector<CZnCIPRecorder*>& Recorders() const { return m_recorders; }

public slots:
    // Puts the join question to the user when it is due, and stores the answer.
    void AskForJoiningCIP();

private:
    std::uint32_t m_cipControl = 0xFFFFFFFFu;
    std::uint32_t m_cipConfirm = 0xFFFFFFFFu;
    std::vector<CZnCIPRecorder*> m_recorders;
    QMap<quint64, TimerEntry> m_timers;
    bool m_running = false;
    bool m_askPending = false;
    CZnCIPService* m_service = nullptr;
    CZnString m_clientId;
};
