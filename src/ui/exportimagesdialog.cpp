#include "ui/exportimagesdialog.h"

#include "ui/baseframe.h"
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <QValidator>

#include <algorithm>

namespace {

// Refusing the whole edit keeps the previous text: the line edit emits no change for it.
class NameOverrideValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString &input, int &position) const override
    {
        Q_UNUSED(position)
        return ExportImagesDialog::hasRefusedCharacter(input) ? Invalid : Acceptable;
    }
};

} // namespace

ExportImagesDialog::ExportImagesDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Export Images"));

    m_cropping = new QCheckBox(tr("Export cropping"), this);
    m_cropping->setChecked(true);
    m_cropping->setToolTip(tr("Without it the images are exported unmodified."));
    m_nameOverride = new QLineEdit(this);
    m_nameOverride->setPlaceholderText(tr("Name override (optional)"));
    m_nameOverride->setValidator(new NameOverrideValidator(m_nameOverride));

    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(tr("Export"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(BaseFrame::frameDialog(this));
    layout->addWidget(m_cropping);
    layout->addWidget(m_nameOverride);
    layout->addWidget(new QLabel(tr("%0 is replaced by the export number."), this));
    layout->addWidget(new QLabel(tr("%1 is replaced by the image's own name."), this));
    layout->addWidget(buttons);
}

bool ExportImagesDialog::exportCropping() const
{
    return m_cropping->isChecked();
}

QString ExportImagesDialog::nameOverride() const
{
    return m_nameOverride->text();
}

bool ExportImagesDialog::hasRefusedCharacter(const QString &text)
{
    static const QString refused = QStringLiteral("<>:\"/\\|?*");
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return refused.contains(c); });
}
