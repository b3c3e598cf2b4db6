#include "ui/exportscenedialog.h"

#include "export/imageexporter.h"
#include "ui/baseframe.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

ExportSceneDialog::ExportSceneDialog(const QSize &sceneSize, QWidget *parent)
    : QDialog(parent)
    // A side of 0 would make the ratio infinite.
    , m_presetSize(qBound(1, sceneSize.width(), ImageExporter::MaximumSceneSide),
          qBound(1, sceneSize.height(), ImageExporter::MaximumSceneSide))
{
    setWindowTitle(tr("Export Scene"));

    m_width = new QSpinBox(this);
    m_height = new QSpinBox(this);
    for (QSpinBox *box : { m_width, m_height }) {
        box->setRange(1, ImageExporter::MaximumSceneSide);
        box->setSuffix(tr(" px"));
    }
    m_width->setValue(m_presetSize.width());
    m_height->setValue(m_presetSize.height());
    m_keepAspect = new QCheckBox(tr("Maintain Aspect Ratio"), this);
    m_keepAspect->setChecked(true);
    m_background = new QCheckBox(tr("Include canvas background"), this);
    m_background->setChecked(true);
    m_borders = new QCheckBox(tr("Include image borders"), this);
    m_borders->setChecked(true);

    m_quality = new QSlider(Qt::Horizontal, this);
    m_quality->setRange(0, 100);
    m_quality->setValue(50);
    auto *qualityValue = new QLabel(QString::number(m_quality->value()), this);
    connect(m_quality, &QSlider::valueChanged, qualityValue,
        [qualityValue](int value) { qualityValue->setNum(value); });
    auto *qualityRow = new QHBoxLayout;
    qualityRow->addWidget(m_quality);
    qualityRow->addWidget(qualityValue);

    auto *form = new QFormLayout;
    form->addRow(tr("Width:"), m_width);
    form->addRow(tr("Height:"), m_height);
    form->addRow(QString(), m_keepAspect);
    form->addRow(QString(), m_background);
    form->addRow(QString(), m_borders);
    form->addRow(tr("Quality:"), qualityRow);

    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(tr("Export"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(BaseFrame::frameDialog(this));
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(
        m_width, qOverload<int>(&QSpinBox::valueChanged), this, &ExportSceneDialog::widthChanged);
    connect(
        m_height, qOverload<int>(&QSpinBox::valueChanged), this, &ExportSceneDialog::heightChanged);
}

void ExportSceneDialog::widthChanged(int width)
{
    if (!m_keepAspect->isChecked())
        return;
    const float ratio = float(m_presetSize.height()) / float(m_presetSize.width());
    const QSignalBlocker blocker(m_height);
    m_height->setValue(int(float(width) * ratio));
}

void ExportSceneDialog::heightChanged(int height)
{
    if (!m_keepAspect->isChecked())
        return;
    const float ratio = float(m_presetSize.width()) / float(m_presetSize.height());
    const QSignalBlocker blocker(m_width);
    m_width->setValue(int(float(height) * ratio));
}

int ExportSceneDialog::exportWidth() const
{
    return m_width->value();
}

int ExportSceneDialog::exportHeight() const
{
    return m_height->value();
}

bool ExportSceneDialog::includeBackground() const
{
    return m_background->isChecked();
}

bool ExportSceneDialog::includeBorders() const
{
    return m_borders->isChecked();
}

int ExportSceneDialog::quality() const
{
    return m_quality->value();
}
