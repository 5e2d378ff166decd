#pragma once

#include "czncipservice.h"
#include "czncipservicehelper.h"

#include <QObject>

// Turns each accepted record into a Measurement Protocol hit.
class CZnCIPService_GA : public QObject, public CZnCIPService, public CZnCIPServiceHelper
{
    Q_OBJECT

public:
    CZnCIPService_GA();
    ~CZnCIPService_GA() override;

    void SetEvent(const CZnString& category, const CZnString& action, const CZnString& label, int value) override;
    void SetScreenValue(const CZnString& screen, const CZnString& valueName, int index,
                        const CZnString& value) override;
    void SetScreenValue(const CZnString& screen, const CZnString& valueName, int index, int value) override;
    void SetScreenValue(const CZnString& screen, const CZnString& valueName, int index, double value) override;
    void Send() override;
    void StartSession() override;
    void EndSession() override;
    CZnString GetClientId() override;

private:
    CZnCIPServiceRecord m_record;
};
