#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;

// Tools > Options (also the OPTIONS command): the host's settings pages in a tree. The page
// System Options > General > Customer Involvement Program is where a user joins or leaves the
// program after the join question: its Participate check box shows the participation value of the
// current profile (section "cip", key CIPCONTROL); OK hands a changed choice to the published CIP
// object, which stores it and stops or starts recording at once (with no CIP object the page stores it).
class ZnHostOptionsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ZnHostOptionsDialog(QWidget* parent);

    // Selects or clears Participate as a click would; nothing changes before OK.
    void setParticipate(bool on);

    // The participation value the module reads at start-up: true only for 1, as the module counts it.
    static bool storedParticipation();

public slots:
    // OK: stores and applies a changed choice, then closes.
    void accept() override;

private slots:
    void onPageSelected(QTreeWidgetItem* item);
    void onPrivacyPolicy();

private:
    QWidget* createParticipationPage();

    QTreeWidget* m_tree;
    QStackedWidget* m_pages;
    QCheckBox* m_participate = nullptr;
    QLabel* m_note = nullptr;
    QTreeWidgetItem* m_participationItem = nullptr;
    bool m_stored = false;
};
