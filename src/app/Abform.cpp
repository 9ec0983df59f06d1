#include "app/Abform.h"

#include "app/DialogFrame.h"
#include "settings/FormLabels.h"
#include "settings/Langset.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace varnel {

TAbSaveForm* AbSaveForm = nullptr;

namespace {

// The toolkit's own text for a Cancel button, as a button box shows it.
QString StandardCancelText()
{
    QDialogButtonBox box(QDialogButtonBox::Cancel);
    return box.button(QDialogButtonBox::Cancel)->text();
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, QRect place,
                        int result)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromUtf8(name));
    button->setGeometry(place);
    button->setAutoDefault(false);
    auto* dialog = static_cast<QDialog*>(parent);
    QObject::connect(button, &QPushButton::clicked, dialog,
                     [dialog, result] { dialog->done(result); });
    return button;
}

} // namespace

TAbSaveForm::TAbSaveForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("AbSaveForm"));
    SetUpFixedDialog(*this, 396, 118, QStringLiteral("保存AB点之间的区域"));

    Label1 = new QLabel(QStringLiteral("再次指定AB点之间的区域"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(95, 16, 162, 13);
    Label2 = new QLabel(QStringLiteral("您确定保存指定的区域吗？"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(95, 48, 178, 13);

    BitBtn1 = MakeButton(this, "BitBtn1", QStringLiteral("保存AB点区域"), QRect(22, 80, 107, 25),
                         kSaveAB);
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    BitBtn1->setDefault(true);
    BitBtn2 = MakeButton(this, "BitBtn2", QStringLiteral("保存全部区域"), QRect(150, 80, 107, 25),
                         kSaveAll);
    BitBtn3 = MakeButton(this, "BitBtn3", StandardCancelText(), QRect(278, 80, 89, 25), kCancel);
    BitBtn3->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));

    ApplyFormLabels(*this, TLangSet::AbSaveFormLabels(), TLangSet());
}

void TAbSaveForm::reject()
{
    done(kCancel);
}

void TAbSaveForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CentreOnScreen(*this);
}

} // namespace varnel
