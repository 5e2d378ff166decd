#pragma once

#include <QDialog>

// Base of the host's dialogs. Each dialog names itself with an identifier that the host uses to find
// its help topic and remembered placement.
class CZnDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CZnDialog(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    // 0: the dialog has no identifier of its own.
    virtual int GetDialogId() const;
};
