#include "SaveAccessory.h"

#include "output/OutputSettings.h"
#include "ui/ClampingValidator.h"
#include "ui/PopUpByTag.h"
#include "ui/ZTStepper.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

SaveAccessory::SaveAccessory(OutputSettings& settings, QWidget* parent)
    : QWidget(parent), _settings(settings), _initialQuality(settings.jpegQuality())
{
    setObjectName(QStringLiteral("saveAccessoryView"));
    _formatPop = new QComboBox(this);
    _formatPop->setObjectName(QStringLiteral("savePanelFileFormatPop"));
    _formatPop->addItem(QStringLiteral("JPEG"), codeForFileFormat(FileFormat::Jpeg));
    _formatPop->addItem(QStringLiteral("PNG"), codeForFileFormat(FileFormat::Png));
    _formatPop->addItem(QStringLiteral("TIFF"), codeForFileFormat(FileFormat::Tiff));
    _formatPop->addItem(QStringLiteral("WebP"), codeForFileFormat(FileFormat::WebP));
    _formatPop->addItem(QStringLiteral("AVIF"), codeForFileFormat(FileFormat::Avif));

    _qualityTF = new QLineEdit(QString::number(_initialQuality), this);
    _qualityTF->setObjectName(QStringLiteral("savePanelQualityTF"));
    // Emptied or out of range, the field falls back to the quality it was opened with.
    _qualityValidator = new ClampingValidator(
        OutputSettings::MinQuality, OutputSettings::MaxQuality, [this] { return _initialQuality; },
        _qualityTF);
    _qualityTF->setValidator(_qualityValidator);
    _qualityTF->setAlignment(Qt::AlignRight);
    _qualityTF->setMaximumWidth(
        _qualityTF->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 16);
    _qualityStepper = new ZTStepper(this);
    _qualityStepper->setObjectName(QStringLiteral("savePanelQualityStepper"));
    _qualityStepper->setRange(OutputSettings::MinQuality, OutputSettings::MaxQuality);
    _qualityStepper->setIncrement(OutputSettings::QualityIncrement);
    _qualityStepper->setValue(_initialQuality);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 4, 0, 0);
    row->setSpacing(6);
    auto* formatLabel = new QLabel(tr("Format:"), this);
    formatLabel->setBuddy(_formatPop);
    auto* qualityLabel = new QLabel(tr("Quality:"), this);
    qualityLabel->setBuddy(_qualityTF);
    row->addStretch(1);
    row->addWidget(formatLabel);
    row->addWidget(_formatPop);
    row->addSpacing(12);
    row->addWidget(qualityLabel);
    row->addWidget(_qualityTF);
    row->addWidget(_qualityStepper);
    row->addStretch(1);

    // The pop-up is the output format both ways, also while the dialog is up.
    auto showFormat = [this](FileFormat format) {
        QSignalBlocker block(_formatPop);
        PopUpByTag::selectItemWithTag(_formatPop, codeForFileFormat(format));
        const bool lossy = isLossyFormat(format);
        _qualityTF->setEnabled(lossy);
        _qualityStepper->setEnabled(lossy);
    };
    connect(&_settings, &OutputSettings::fileFormatChanged, this, showFormat);
    connect(_formatPop, &QComboBox::currentIndexChanged, this, &SaveAccessory::_selectFormat);
    connect(_qualityStepper, &ZTStepper::valueChanged, this,
            [this](int value) { _qualityTF->setText(QString::number(value)); });
    connect(_qualityTF, &QLineEdit::editingFinished, this, &SaveAccessory::_commitQuality);
    showFormat(_settings.fileFormat());
}

void SaveAccessory::_selectFormat()
{
    _settings.setFileFormat(fileFormatForCode(
        PopUpByTag::selectedTag(_formatPop, codeForFileFormat(FileFormat::Jpeg))));
}

void SaveAccessory::_commitQuality()
{
    const int value = quality();
    _qualityTF->setText(QString::number(value));
    QSignalBlocker block(_qualityStepper);
    _qualityStepper->setValue(value);
}

int SaveAccessory::quality() const
{
    return _qualityValidator->mended(_qualityTF->text());
}
