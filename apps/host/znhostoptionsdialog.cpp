#include "znhostoptionsdialog.h"

#include "czncip.h"
#include "cznresources.h"
#include "cznsystemservices.h"
#include "cznutils.h"
#include "odresbuf.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace
{
const CZnString& section()
{
    static const CZnString text("cip");
    return text;
}

const CZnString& controlKey()
{
    static const CZnString text("CIPCONTROL");
    return text;
}

QLabel* wrapped(const QString& text)
{
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    return label;
}
} // namespace

ZnHostOptionsDialog::ZnHostOptionsDialog(QWidget* parent)
    : QDialog(parent), m_tree(new QTreeWidget), m_pages(new QStackedWidget)
{
    setObjectName(QStringLiteral("ZnHostOptionsDialog"));
    setWindowTitle(tr("Options"));
    resize(760, 440);

    m_tree->setObjectName(QStringLiteral("optionsTree"));
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    auto* system = new QTreeWidgetItem(m_tree, {tr("System Options")});
    auto* general = new QTreeWidgetItem(system, {tr("General")});
    m_participationItem = new QTreeWidgetItem(general, {tr("Customer Involvement Program")});

    // The group nodes only lead to their pages.
    m_pages->addWidget(wrapped(tr("Select a page in the tree.")));
    m_pages->addWidget(createParticipationPage());
    m_participationItem->setData(0, Qt::UserRole, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->setObjectName(QStringLiteral("buttonBox"));
    connect(buttons, SIGNAL(accepted()), this, SLOT(accept()));
    connect(buttons, SIGNAL(rejected()), this, SLOT(reject()));

    auto* panes = new QHBoxLayout;
    panes->addWidget(m_tree);
    panes->addWidget(m_pages, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(panes, 1);
    layout->addWidget(buttons);

    connect(m_tree, SIGNAL(currentItemChanged(QTreeWidgetItem*, QTreeWidgetItem*)), this,
            SLOT(onPageSelected(QTreeWidgetItem*)));
    // Opened where the join dialog sends the user.
    m_tree->expandAll();
    m_tree->setCurrentItem(m_participationItem);
    // The tree is as wide as its longest page name, so every name reads whole.
    int widest = 0;
    int depth = 0;
    for (QTreeWidgetItem* item = system; item; item = item->childCount() ? item->child(0) : nullptr, ++depth)
        widest = qMax(widest, m_tree->indentation() * (depth + 1) +
                                  m_tree->fontMetrics().horizontalAdvance(item->text(0)));
    m_tree->setFixedWidth(widest + 2 * m_tree->frameWidth() + 24);
}

QWidget* ZnHostOptionsDialog::createParticipationPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("pageCustomerInvolvementProgram"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(12, 0, 8, 0);

    auto* title = new QLabel(tr("Customer Involvement Program"));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);
    layout->addWidget(wrapped(
        tr("The Customer Involvement Program (CIP) lets %1 gather anonymous data on how customers use "
           "the product: the commands used, facts about the computer and how sessions ended. No "
           "personal information is collected.")
            .arg(GetZnResources()->GetCompanyName().toQString())));

    m_participate = new QCheckBox(tr("Participate"));
    m_participate->setObjectName(QStringLiteral("chkParticipate"));
    layout->addSpacing(8);
    layout->addWidget(m_participate);

    m_note = wrapped(QString());
    m_note->setObjectName(QStringLiteral("lblEffect"));
    layout->addSpacing(8);
    layout->addWidget(m_note);

    auto* link = new QLabel(
        QStringLiteral("<a href=\"policy\" style=\"color:%1;\">%2</a>")
            .arg(CZnUtils::IsDarkStyleDialogUsed() ? QStringLiteral("#ffffff") : QStringLiteral("#0000ff"),
                 tr("Read the Customer Involvement Program privacy policy...").toHtmlEscaped()));
    link->setObjectName(QStringLiteral("lblPrivacyPolicy"));
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    connect(link, SIGNAL(linkActivated(const QString&)), this, SLOT(onPrivacyPolicy()));
    layout->addStretch(1);
    layout->addWidget(link);

    m_stored = storedParticipation();
    m_participate->setChecked(m_stored);
    if (!GetZnSystemServices()->GetProfile())
    {
        m_participate->setEnabled(false);
        m_note->setText(
            tr("There is no settings profile at the moment, so participation cannot be changed."));
    }
    else
        m_note->setText(
            tr("Clearing Participate stops recording at once, and what is still waiting to be sent "
               "is discarded. Selecting it again starts recording at once; joining again takes "
               "full effect at the next start of the program."));
    return page;
}

bool ZnHostOptionsDialog::storedParticipation()
{
    CZnProfile* profile = GetZnSystemServices()->GetProfile();
    if (!profile || !profile->GetSettings()->HasValue(section(), controlKey()))
        return false;
    const OdResBufPtr value = profile->GetSettings()->GetValue(section(), controlKey(), 1);
    return value && value->getInt32() == 1;
}

void ZnHostOptionsDialog::setParticipate(bool on)
{
    if (m_participate->isEnabled())
        m_participate->setChecked(on);
}

void ZnHostOptionsDialog::accept()
{
    const bool on = m_participate->isChecked();
    CZnProfile* profile = GetZnSystemServices()->GetProfile();
    if (profile && on != m_stored)
    {
        // The running module keeps its own copy of the value: its enable operation stores the choice
        // and starts or stops recording now. Without a module the page stores it for the next start.
        if (CZnCIP* cip = GetZnCIP())
        {
            cip->SetEnabled(on);
        }
        else
        {
            OdResBufPtr value = OdResBuf::newRb(OdResBuf::kRtInt32);
            value->setInt32(on ? 1 : 0);
            profile->GetSettings()->SetValue(section(), controlKey(), value);
        }
        m_stored = on;
    }
    QDialog::accept();
}

void ZnHostOptionsDialog::onPageSelected(QTreeWidgetItem* item)
{
    m_pages->setCurrentIndex(item ? item->data(0, Qt::UserRole).toInt() : 0);
}

void ZnHostOptionsDialog::onPrivacyPolicy()
{
    QDesktopServices::openUrl(QUrl(GetZnResources()->GetPrivacyPolicyUrl().toQString(), QUrl::TolerantMode));
}
