#include "ui/exportscenedialog.h"

#include "export/imageexporter.h"
#include "ui/baseframe.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

// A side of 0 would make the ratio infinite.
QSize exportable(const QSize &size)
{
    return QSize(qBound(1, size.width(), ImageExporter::MaximumSceneSide),
        qBound(1, size.height(), ImageExporter::MaximumSceneSide));
}

} // namespace

ExportSceneDialog::ExportSceneDialog(const QSize &sceneSize, QWidget *parent)
    : QDialog(parent)
    , m_sceneSize(exportable(sceneSize))
    , m_presetSize(m_sceneSize)
{
    setWindowTitle(tr("Export Scene"));

    m_region = new QComboBox(this);
    m_region->addItem(tr("Whole board"), int(Region::Board));
    m_region->addItem(tr("Selection"), int(Region::Selection));
    m_region->addItem(tr("Rectangle dragged on the board"), int(Region::Rectangle));
    // Offered once there is a selection.
    m_region->setItemData(1, 0, Qt::UserRole - 1);

    m_bySize = new QRadioButton(tr("Exact size"), this);
    m_bySize->setChecked(true);
    m_byScale = new QRadioButton(tr("Scale"), this);
    auto *sizing = new QButtonGroup(this);
    sizing->addButton(m_bySize);
    sizing->addButton(m_byScale);
    m_scale = new QSpinBox(this);
    m_scale->setRange(ImageExporter::SmallestScale, ImageExporter::LargestScale);
    m_scale->setValue(100);
    m_scale->setSuffix(tr(" %"));
    m_scale->setEnabled(false);

    m_format = new QComboBox(this);
    m_format->addItem(tr("PNG"), QStringLiteral("png"));
    m_format->addItem(tr("JPEG"), QStringLiteral("jpg"));
    m_format->addItem(tr("WebP"), QStringLiteral("webp"));

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

    auto *scaleRow = new QHBoxLayout;
    scaleRow->addWidget(m_byScale);
    scaleRow->addWidget(m_scale);
    auto *form = new QFormLayout;
    form->addRow(tr("Export:"), m_region);
    form->addRow(QString(), scaleRow);
    form->addRow(QString(), m_bySize);
    form->addRow(tr("Width:"), m_width);
    form->addRow(tr("Height:"), m_height);
    form->addRow(QString(), m_keepAspect);
    form->addRow(QString(), m_background);
    form->addRow(QString(), m_borders);
    form->addRow(tr("Format:"), m_format);
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
    connect(m_byScale, &QRadioButton::toggled, this, [this](bool byScale) {
        m_scale->setEnabled(byScale);
        for (QWidget *exact : std::initializer_list<QWidget *> { m_width, m_height, m_keepAspect })
            exact->setEnabled(!byScale);
    });
    connect(m_region, qOverload<int>(&QComboBox::currentIndexChanged), this,
        &ExportSceneDialog::regionChanged);
}

void ExportSceneDialog::setSelectionSize(const QSize &size)
{
    m_selectionSize = size.isEmpty() ? QSize() : exportable(size);
    // An item's flag, as the combo box's model reads it: selectable and enabled, or neither.
    const QVariant flags = m_selectionSize.isEmpty()
        ? QVariant(0)
        : QVariant(int(Qt::ItemIsSelectable | Qt::ItemIsEnabled));
    m_region->setItemData(1, flags, Qt::UserRole - 1);
}

void ExportSceneDialog::setFormat(const QString &suffix)
{
    const QString format
        = suffix.toLower() == QLatin1String("jpeg") ? QStringLiteral("jpg") : suffix.toLower();
    const int index = m_format->findData(format);
    if (index >= 0)
        m_format->setCurrentIndex(index);
}

void ExportSceneDialog::regionChanged()
{
    // A rectangle yet to be dragged has no size to give exactly.
    const Region chosen = region();
    m_bySize->setEnabled(chosen != Region::Rectangle);
    if (chosen == Region::Rectangle)
        m_byScale->setChecked(true);
    m_presetSize = chosen == Region::Selection ? m_selectionSize : m_sceneSize;
    const QSignalBlocker width(m_width);
    const QSignalBlocker height(m_height);
    m_width->setValue(m_presetSize.width());
    m_height->setValue(m_presetSize.height());
}

ExportSceneDialog::Region ExportSceneDialog::region() const
{
    return Region(m_region->currentData().toInt());
}

int ExportSceneDialog::scale() const
{
    return m_byScale->isChecked() ? m_scale->value() : -1;
}

QString ExportSceneDialog::format() const
{
    return m_format->currentData().toString();
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
